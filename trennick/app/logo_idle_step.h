#pragma once
// LogoIdleStep: the decision of the application's idle handler while the
// start-up logo is up or its period runs: keep waiting, sleep once (without a
// logo), run the frame's idle step, or quit because the clock ran backwards.
// Two equal clock readings mean only that no time has passed yet: the step
// keeps waiting instead of taking them for a broken clock.
//
// Thread: the user-interface thread. Pure; no failure.

#include "platform/types.h"

namespace trennick {

inline constexpr DWORD kLogoPeriodMs = 5000;
inline constexpr DWORD kNoSplashPauseMs = 3000;

class LogoIdleStep {
public:
    enum class Action {
        Wait,        // the logo period runs: idle again later
        RunStep,     // close the logo (when shown) and run the frame's idle step
        ClockFault,  // the clock ran backwards: close the logo and quit
    };

    // The logo (or, with no splash, the start-up) begins at `nowMs`.
    void start(DWORD nowMs) { m_startMs = nowMs; }
    DWORD startMs() const { return m_startMs; }

    // One idle call at `nowMs`. `sleepMs` is set to the pause the caller must
    // take before acting (only the first time without a logo).
    Action step(DWORD nowMs, bool noSplash, bool logoShown, DWORD& sleepMs);

private:
    DWORD m_startMs = 0;
    bool m_slept = false;
};

}  // namespace trennick
