#include "trennick/station/keep_alive.h"

#include "common/lumo_deb.h"
#include "trennick/station/station_messages.h"
#include "trennick/link/packet_connection.h"

#include <chrono>

namespace trennick {

struct CKeepAliveThread::State {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    bool cancel = false;
    bool ended = false;
    bool inLink = false;  // the worker is inside one of the link's operations
    DWORD checks = 0;
    CPacketConnection* link = nullptr;
    platform::HWND station = 0;
    DWORD periodMs = kKeepAlivePeriodMs;
};

CKeepAliveThread::CKeepAliveThread(CPacketConnection& link, platform::HWND station, DWORD periodMs)
    : m_link(link), m_station(station), m_periodMs(periodMs == 0 ? kKeepAlivePeriodMs : periodMs) {}

CKeepAliveThread::~CKeepAliveThread() { Close(); }

void CKeepAliveThread::Start() {
    if (m_state != nullptr) return;
    auto state = std::make_shared<State>();
    state->link = &m_link;
    state->station = m_station;
    state->periodMs = m_periodMs;
    m_state = state;
    m_thread = std::thread(&CKeepAliveThread::SyncThread, state);
}

void CKeepAliveThread::Cancel() {
    if (m_state == nullptr) return;
    std::lock_guard l(m_state->lock);
    m_state->cancel = true;
    m_state->wake.notify_all();
}

DWORD CKeepAliveThread::ChecksDone() const {
    if (m_state == nullptr) return 0;
    std::lock_guard l(m_state->lock);
    return m_state->checks;
}

bool CKeepAliveThread::Close(DWORD timeoutMs) {
    if (m_state == nullptr) return true;
    bool ended;
    {
        std::unique_lock l(m_state->lock);
        m_state->stop = true;
        m_state->wake.notify_all();
        ended = m_state->wake.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return m_state->ended; });
    }
    if (ended) {
        m_thread.join();
        LUMO_TRACE(3, "CMainFrame::CloseSyncThread() Thread was closed O.K ");
    } else {
        LUMO_TRACE(3, "CMainFrame::CloseSyncThread() Wait timeout on closing thread terminating thread");
        // A thread cannot be killed safely. The worker loses the link so that
        // it starts no further call into it, and the close waits for the call
        // in progress to return: once Close returns, the owner may free the
        // link, which the worker can then never touch.
        {
            std::unique_lock l(m_state->lock);
            m_state->link = nullptr;
            m_state->wake.wait(l, [&] { return !m_state->inLink; });
        }
        m_thread.join();
    }
    m_state.reset();
    return ended;
}

void CKeepAliveThread::SyncThread(std::shared_ptr<State> state) {
    std::unique_lock l(state->lock);
    for (;;) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(state->periodMs);
        const bool woken = state->wake.wait_until(l, deadline, [&] { return state->stop || state->cancel; });
        if (state->stop) break;
        if (woken && state->cancel) {
            state->cancel = false;
            LUMO_TRACE(5, "SyncThread( LPVOID pvParam ) Cancel Event received.....");
            continue;
        }
        // The period ran out: check the line without holding our lock, so
        // Close never waits behind the link (it waits only for this call to
        // leave the link, see Close).
        if (state->link == nullptr) break;
        CPacketConnection& link = *state->link;
        state->inLink = true;
        l.unlock();
        bool checked = false;
        if (link.IsLinkUp() && link.IsTargetConnected()) {
            if (link.CheckSync() == 0) {
                platform::PostMessage(state->station, kMsgSyncLost, 0, 0);
            }
            link.SendLineSync();
            checked = true;
        }
        l.lock();
        state->inLink = false;
        state->wake.notify_all();
        if (checked) ++state->checks;
    }
    state->ended = true;
    state->wake.notify_all();
}

}  // namespace trennick
