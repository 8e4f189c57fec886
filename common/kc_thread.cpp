#include "common/kc_thread.h"

#include "common/lumo_deb.h"

#include <chrono>
#include <unistd.h>

namespace {

constexpr DWORD kInfinite = 0xFFFFFFFF;

// Waits on `condition` until `done` or the time-out (kInfinite: no limit).
template <typename Done>
bool waitFor(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, DWORD timeoutMs,
             Done done) {
    if (timeoutMs == kInfinite) {
        condition.wait(lock, done);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

}  // namespace

CKcThread::CKcThread() { LUMO_TRACE(5, "CKcThread::CKcThread()"); }

CKcThread::~CKcThread() {
    LUMO_TRACE(5, "CKcThread::~CKcThread()");
    CKcThread::Destroy();
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) {
        // Deleted by its own body: the thread ends when Run returns, and after
        // that touches only its shared state.
        m_thread.detach();
    }
    if (!joinGivenUp(0)) {
        LUMO_TRACE(1, "[E] CKcThread::Destroy() waiting for a thread that did not stop");
        joinGivenUp(kInfinite);
    }
}

void CKcThread::entry(CKcThread* self, std::shared_ptr<RunState> state) {
    self->m_threadId = static_cast<DWORD>(::gettid());
    DWORD exitCode = kNotEnded;
    try {
        exitCode = self->Run();
    } catch (...) {
        LUMO_TRACE(1, "[Exp] CKcThread: exception in the thread body");
    }
    std::lock_guard lock(state->mutex);
    state->exitCode = exitCode;
    state->finished = true;
    state->ended.notify_all();
}

BOOL CKcThread::Create() {
    LUMO_TRACE(5, "CKcThread::Create()");
    if (m_thread.joinable()) {
        return TRUE;  // one thread at a time: it runs already
    }
    // A thread that an earlier Create or Destroy gave up still uses this object.
    if (!joinGivenUp(m_stopTimeoutMs)) {
        LUMO_TRACE(1, "[E] CKcThread::Create() an earlier thread of this object is still running");
        return FALSE;
    }
    m_stop = 0;
    try {
        {
            std::lock_guard lock(m_eventMutex);
            m_eventSignalled = false;
            m_startSignalled = false;
        }
        m_state = std::make_shared<RunState>();
        m_thread = std::thread(&CKcThread::entry, this, m_state);
        if (!waitForStart()) {
            LUMO_TRACE(1, "CKcThread::Create() Timeout waiting for start of thread");
            // Should the body start later, it finds the stop flag and ends at once.
            m_stop = 1;
            SignalEvent();
            giveUp();
        }
    } catch (...) {
        LUMO_TRACE(1, "[Exp] CKcThread::Create() exception");
        if (m_thread.joinable()) {
            m_stop = 1;
            SignalEvent();
            giveUp();
        }
    }
    return m_thread.joinable() ? TRUE : FALSE;
}

BOOL CKcThread::Destroy() {
    // The body may call this before Create has even stored the thread object,
    // so the own-thread test uses the id the thread recorded itself.
    if (m_threadId != 0 && m_threadId == static_cast<DWORD>(::gettid())) {
        LUMO_TRACE(5, "CKcThread::Destroy()");
        LUMO_TRACE(5, "CKcThread::Destroy(): Request to destroy myself!");
        m_stop = 1;
        return TRUE;
    }
    if (!m_thread.joinable()) {
        // A thread given up earlier may still run on this object, and the owner
        // frees the object when Destroy returns: wait for it, however long.
        if (!joinGivenUp(0)) {
            LUMO_TRACE(1, "[E] CKcThread::Destroy() waiting for a thread that did not stop");
            joinGivenUp(kInfinite);
        }
        return m_exitCode != kNotEnded ? TRUE : FALSE;
    }
    LUMO_TRACE(5, "CKcThread::Destroy()");
    try {
        m_stop = 1;
        SignalEvent();
        bool ended = false;
        {
            std::unique_lock lock(m_state->mutex);
            ended = waitFor(m_state->ended, lock, m_stopTimeoutMs, [this] { return m_state->finished; });
            if (ended) {
                m_exitCode = m_state->exitCode;
            }
        }
        if (ended) {
            m_thread.join();  // it has left Run: this is immediate
            m_state.reset();
        } else {
            LUMO_TRACE(1, "[E] CKcThread::Destroy() Timeout waiting for end of thread");
            m_exitCode = kNotEnded;
            giveUp();
        }
    } catch (...) {
        LUMO_TRACE(1, "[Exp] In CKcThread::Destroy()");
        m_exitCode = kNotEnded;
        if (m_thread.joinable()) {
            giveUp();
        }
    }
    m_threadId = 0;
    return m_exitCode != kNotEnded ? TRUE : FALSE;
}

void CKcThread::SignalEvent() {
    std::lock_guard lock(m_eventMutex);
    m_eventSignalled = true;
    m_startSignalled = true;
    m_eventCondition.notify_all();
}

bool CKcThread::waitForStart() {
    // The start is seen through its own flag: a body that signals and then at
    // once waits on the event may take the signal back before Create looks.
    std::unique_lock lock(m_eventMutex);
    return waitFor(m_eventCondition, lock, m_startTimeoutMs, [this] { return m_startSignalled; });
}

bool CKcThread::WaitEvent(DWORD timeoutMs) {
    std::unique_lock lock(m_eventMutex);
    if (!waitFor(m_eventCondition, lock, timeoutMs, [this] { return m_eventSignalled; })) {
        return false;
    }
    m_eventSignalled = false;
    return true;
}

void CKcThread::giveUp() {
    m_givenUp.push_back(GivenUp{std::move(m_thread), std::move(m_state)});
    m_threadId = 0;
}

bool CKcThread::joinGivenUp(DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (auto it = m_givenUp.begin(); it != m_givenUp.end();) {
        bool ended = false;
        {
            std::unique_lock lock(it->state->mutex);
            auto done = [&] { return it->state->finished; };
            if (timeoutMs == kInfinite) {
                it->state->ended.wait(lock, done);
                ended = true;
            } else {
                ended = it->state->ended.wait_until(lock, deadline, done);
            }
        }
        if (!ended) {
            return false;
        }
        it->thread.join();
        it = m_givenUp.erase(it);
    }
    return true;
}
