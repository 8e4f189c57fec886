#include "trennick/app/logo_idle_step.h"

namespace trennick {

LogoIdleStep::Action LogoIdleStep::step(DWORD nowMs, bool noSplash, bool logoShown, DWORD& sleepMs) {
    sleepMs = 0;
    // The clock wraps at 2^32: a difference read as signed tells forwards from
    // backwards across the wrap.
    const LONG elapsed = static_cast<LONG>(nowMs - m_startMs);
    if (elapsed < 0) {
        m_startMs = nowMs;
        return Action::ClockFault;
    }
    if (elapsed == 0 && logoShown) return Action::Wait;
    if (noSplash && !m_slept) {
        m_slept = true;
        sleepMs = kNoSplashPauseMs;
    }
    if (static_cast<DWORD>(elapsed) < kLogoPeriodMs && logoShown) return Action::Wait;
    return Action::RunStep;
}

}  // namespace trennick
