#pragma once
// CKeepAliveThread: the station's keep-alive worker. Every period (20 s) it
// asks the link whether the peer's line-sync token arrived in time and sends
// its own; when the peer has gone silent it posts kMsgSyncLost to the station,
// which disconnects on its own thread.
//
// Threads: Start, Cancel and Close on the user-interface thread; the worker
// calls only the link's four sync operations (which lock the link) and posts
// one message. Failure: a worker that does not end within the close time-out
// is traced; it then loses the link, and the close waits only for the link
// call in progress to return (a thread cannot be killed safely), so the link
// may be freed once Close has returned.

#include "platform/message_window.h"
#include "platform/types.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace trennick {

class CPacketConnection;

inline constexpr DWORD kKeepAlivePeriodMs = 20000;
inline constexpr DWORD kKeepAliveCloseTimeoutMs = 30000;

class CKeepAliveThread {
public:
    CKeepAliveThread(CPacketConnection& link, platform::HWND station, DWORD periodMs = kKeepAlivePeriodMs);
    ~CKeepAliveThread();
    CKeepAliveThread(const CKeepAliveThread&) = delete;
    CKeepAliveThread& operator=(const CKeepAliveThread&) = delete;

    // StartSyncThread: nothing when the worker runs already.
    void Start();
    // The cancel event: the worker traces it and waits again.
    void Cancel();
    // CloseSyncThread: stops the worker and waits for it. True when it ended.
    bool Close(DWORD timeoutMs = kKeepAliveCloseTimeoutMs);
    bool IsRunning() const { return m_state != nullptr; }
    // Periods that found the link up and connected (tests).
    DWORD ChecksDone() const;

private:
    struct State;
    static void SyncThread(std::shared_ptr<State> state);

    CPacketConnection& m_link;
    platform::HWND m_station;
    DWORD m_periodMs;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace trennick
