#pragma once
// StationLoop: the pacing of the station's loop pass. A timer on the
// station's message window runs one pass per 10 ms tick; ticks queued while a
// pass ran are dropped up to the fence it posts; after quiet passes (nothing
// woke the loop and no work is in progress) the timer rests at 200 ms, then at
// 5 s, until news wakes it; the watchdog hears the program is alive every
// 10 s.
//
// Thread: the station's owner thread (the window's). Failure: a tick that
// cannot be posted is skipped; nothing throws.

#include "platform/message_window.h"
#include "platform/types.h"

#include <functional>

namespace trennick {

inline constexpr DWORD kHeartbeatPeriodMs = 10000;

class StationLoop {
public:
    struct Steps {
        std::function<void()> pass;     // one whole pass
        std::function<void()> refresh;  // a pass asked for inside a pass: the status texts only
        std::function<bool()> busy;     // work in progress that the pass drives: no rest
    };
    StationLoop(platform::HWND window, std::function<DWORD()> now, Steps steps);

    // Starts or stops the timer (a start is at the 10 ms period).
    void SetActive(bool on);
    // For good: no pass runs again.
    void Stop();
    // The window's timer, a tick and a fence.
    void OnTimer(platform::UINT_PTR id);
    void OnTick();
    void OnFence() { m_dropQueuedTicks = false; }
    // One pass now (or only the status texts, inside a pass), then the timer again.
    void Run();
    // News: a resting loop goes back to its 10 ms pass at once.
    void Wake();
    // A pass runs as soon as the loop turns, not at its next tick.
    void RunNow();
    // Runs `step` unless a pass runs (a box a pass shows turns the event
    // loop); no pass starts inside it. False when it did not run.
    bool RunOutsidePass(const std::function<void()>& step);

    DWORD Passes() const { return m_passes; }
    UINT PeriodMs() const { return m_periodMs; }
    bool Active() const { return m_active; }

private:
    void sendIAmAlive();

    platform::HWND m_window;
    std::function<DWORD()> m_now;
    Steps m_steps;
    bool m_stopped = false;
    bool m_active = false;
    bool m_timerOutstanding = false;
    bool m_dropQueuedTicks = false;
    bool m_passRunning = false;
    DWORD m_passes = 0;
    // Resting: quiet passes in a row, whether anything woke the loop since
    // the last pass, and the timer's period.
    unsigned m_quietPasses = 0;
    bool m_woken = false;
    UINT m_periodMs;
    DWORD m_lastHeartbeatMs = 0;
    bool m_heartbeatStarted = false;
};

}  // namespace trennick
