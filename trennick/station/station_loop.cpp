#include "trennick/station/station_loop.h"

#include "common/lumo_deb.h"
#include "trennick/station/heartbeat.h"
#include "trennick/station/station_messages.h"

#include <algorithm>

namespace trennick {

StationLoop::StationLoop(platform::HWND window, std::function<DWORD()> now, Steps steps)
    : m_window(window), m_now(std::move(now)), m_steps(std::move(steps)), m_periodMs(kMainTimerPeriodMs) {}

void StationLoop::SetActive(bool on) {
    LUMO_TRACE(3, "StationLoop::SetActive with %d", static_cast<int>(on));
    if (on) {
        m_quietPasses = 0;
        m_periodMs = kMainTimerPeriodMs;
        platform::SetTimer(m_window, kMainTimerId, kMainTimerPeriodMs);
    } else {
        platform::KillTimer(m_window, kMainTimerId);
    }
    m_active = on;
}

void StationLoop::Stop() {
    m_stopped = true;
    platform::KillTimer(m_window, kMainTimerId);
    m_active = false;
}

void StationLoop::OnTimer(platform::UINT_PTR id) {
    if (m_timerOutstanding) {
        LUMO_TRACE(1, "MainTimerProc() TimerOutstanding");
        return;
    }
    // In deep rest no message reached the station since the last pass (one
    // would have woken the loop): the pass runs from the timer itself, without
    // the tick and the fence that two more turns of the event loop cost.
    if (id == kMainTimerId && m_periodMs == kDeepRestTimerPeriodMs && !m_dropQueuedTicks) {
        Run();
        return;
    }
    m_timerOutstanding = true;
    if (id == kMainTimerId && !platform::PostMessage(m_window, kMsgMainTimerTick, kMainTimerId, 0)) {
        m_timerOutstanding = false;
    }
}

void StationLoop::OnTick() {
    // Ticks queued before this one are dropped until the fence comes back: the
    // queue delivers in order, so everything ahead of the fence was queued
    // before this pass began.
    if (m_dropQueuedTicks) return;
    m_dropQueuedTicks = true;
    platform::PostMessage(m_window, kMsgTickFence, 0, 0);
    Run();
    m_timerOutstanding = false;
}

void StationLoop::Run() {
    if (m_stopped) return;
    platform::KillTimer(m_window, kMainTimerId);
    if (m_passRunning) {
        m_steps.refresh();
    } else {
        m_passRunning = true;
        ++m_passes;
        m_steps.pass();
        // A pass with nothing to do counts towards resting.
        const bool quiet = !m_woken && !m_steps.busy();
        m_woken = false;
        m_quietPasses = quiet ? std::min(m_quietPasses + 1, kQuietPassesBeforeDeepRest) : 0;
        m_periodMs = m_quietPasses >= kQuietPassesBeforeDeepRest ? kDeepRestTimerPeriodMs
                     : m_quietPasses >= kQuietPassesBeforeRest   ? kRestTimerPeriodMs
                                                                 : kMainTimerPeriodMs;
        m_passRunning = false;
    }
    if (m_active && !m_stopped) platform::SetTimer(m_window, kMainTimerId, m_periodMs);
    sendIAmAlive();
}

void StationLoop::Wake() {
    m_woken = true;
    m_quietPasses = 0;
    if (m_periodMs == kMainTimerPeriodMs || m_passRunning || !m_active || m_stopped) return;
    m_periodMs = kMainTimerPeriodMs;
    platform::SetTimer(m_window, kMainTimerId, kMainTimerPeriodMs);
}

void StationLoop::RunNow() {
    if (m_stopped) return;
    Wake();
    // A tick like the timer's; ticks already queued are dropped behind its fence.
    platform::PostMessage(m_window, kMsgMainTimerTick, kMainTimerId, 0);
}

bool StationLoop::RunOutsidePass(const std::function<void()>& step) {
    if (m_stopped || m_passRunning) return false;
    m_passRunning = true;
    step();
    m_passRunning = false;
    return true;
}

void StationLoop::sendIAmAlive() {
    const DWORD t = m_now();
    if (m_heartbeatStarted && static_cast<DWORD>(t - m_lastHeartbeatMs) <= kHeartbeatPeriodMs) return;
    // The first pass only starts the clock.
    const bool first = !m_heartbeatStarted;
    m_heartbeatStarted = true;
    m_lastHeartbeatMs = t;
    if (!first) NotifyShell(kHeartbeatAlive, m_window);
}

}  // namespace trennick
