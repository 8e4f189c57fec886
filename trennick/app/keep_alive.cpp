#include "trennick/app/keep_alive.h"

#include "common/lumo_deb.h"
#include "trennick/app/frame_messages.h"
#include "trennick/link/packet_connection.h"

#include <chrono>

namespace trennick {

struct CKeepAliveThread::State {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    bool cancel = false;
    bool ended = false;
    DWORD checks = 0;
    CPacketConnection* link = nullptr;
    platform::HWND frame = 0;
    DWORD periodMs = kKeepAlivePeriodMs;
};

CKeepAliveThread::CKeepAliveThread(CPacketConnection& link, platform::HWND frame, DWORD periodMs)
    : m_link(link), m_frame(frame), m_periodMs(periodMs == 0 ? kKeepAlivePeriodMs : periodMs) {}

CKeepAliveThread::~CKeepAliveThread() { Close(); }

void CKeepAliveThread::Start() {
    if (m_state != nullptr) return;
    auto state = std::make_shared<State>();
    state->link = &m_link;
    state->frame = m_frame;
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
        // FIXME: a worker stuck inside the link cannot be ended safely; it is
        // left to finish on its own and keeps the state it shares alive.
        m_thread.detach();
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
        // Close never waits behind the link.
        l.unlock();
        CPacketConnection& link = *state->link;
        bool checked = false;
        if (link.IsLinkUp() && link.IsTargetConnected()) {
            if (link.CheckSync() == 0) {
                platform::PostMessage(state->frame, kMsgSyncLost, 0, 0);
            }
            link.SendLineSync();
            checked = true;
        }
        l.lock();
        if (checked) ++state->checks;
    }
    state->ended = true;
    state->wake.notify_all();
}

}  // namespace trennick
