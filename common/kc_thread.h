#pragma once
// CKcThread: the base of the system's worker threads. A subclass supplies the
// body Run; Create starts the thread and waits for Run to report that it runs
// (SignalEvent); Destroy asks it to stop and waits for its end, each wait
// bounded by a time-out (3000 ms to start, 30000 ms to stop, settable).
//
// What Run must do: call SignalEvent first, then loop until m_stop is set,
// pausing with WaitEvent(timeout) so that Destroy wakes it at once, and return
// its exit code.
//
// A thread never outlives its object. One that misses the start time-out is told
// to stop (stop flag set, event signalled); one that misses the stop time-out
// makes Destroy fail with exit code 0x80000080. The object keeps both threads:
// the next Create waits for them up to the stop time-out (and fails while they
// still run), and the next Destroy, like the destructor, waits for them without
// limit, since the owner frees the object when Destroy returns. So a body that
// ignores the stop flag makes its owner's delete hang rather than run on freed
// memory. The base destructor runs after a subclass's destructor: a subclass
// whose Run uses its own members calls Destroy in its own destructor.
//
// Create, Destroy and the destructor are called by the owner's thread (Destroy
// also from the thread itself, which only sets the stop flag); m_stop and the
// event may be used from both threads. Nothing throws out of these calls.

#include "platform/types.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CKcThread {
public:
    static constexpr DWORD kNotEnded = 0x80000080;  // exit code of a thread that did not end by itself

    CKcThread();
    virtual ~CKcThread();
    CKcThread(const CKcThread&) = delete;
    CKcThread& operator=(const CKcThread&) = delete;

    // The thread body; its result is the thread's exit code.
    virtual DWORD Run() = 0;
    // Starts the thread; true when it runs (also when it was running already).
    virtual BOOL Create();
    // Stops the thread; true when it ended with an exit code other than 0x80000080.
    virtual BOOL Destroy();

    // Wakes the body (and tells Create that the body has started).
    void SignalEvent();

    DWORD GetExitCode() const { return m_exitCode; }
    DWORD GetThreadId() const { return m_threadId; }
    // For tests and callers that cannot wait the default times.
    void SetStartTimeoutMs(DWORD timeoutMs) { m_startTimeoutMs = timeoutMs; }
    void SetStopTimeoutMs(DWORD timeoutMs) { m_stopTimeoutMs = timeoutMs; }

protected:
    // Waits up to timeoutMs (0xFFFFFFFF: no limit) for the event; true when it
    // was signalled (the signal is then consumed).
    bool WaitEvent(DWORD timeoutMs);

    std::atomic<DWORD> m_stop{0};  // 1 when the thread is asked to stop

private:
    // What the thread shares with its object; kept alive by both, so the thread
    // can report its end even when the object is deleted by Run itself.
    struct RunState {
        std::mutex mutex;
        std::condition_variable ended;
        bool finished = false;
        DWORD exitCode = kNotEnded;
    };
    static void entry(CKcThread* self, std::shared_ptr<RunState> state);
    // Waits up to timeoutMs for the given-up threads; true when none is left.
    bool joinGivenUp(DWORD timeoutMs);
    void giveUp();
    bool waitForStart();

    std::thread m_thread;  // joinable while a thread is held
    std::atomic<DWORD> m_threadId{0};
    DWORD m_startTimeoutMs = 3000;
    DWORD m_stopTimeoutMs = 30000;
    DWORD m_exitCode = 0;

    // The auto-reset event.
    std::mutex m_eventMutex;
    std::condition_variable m_eventCondition;
    bool m_eventSignalled = false;
    bool m_startSignalled = false;  // set by any signal since Create started the thread

    std::shared_ptr<RunState> m_state;
    struct GivenUp {
        std::thread thread;
        std::shared_ptr<RunState> state;
    };
    std::vector<GivenUp> m_givenUp;  // threads that missed a time-out and still may run
};
