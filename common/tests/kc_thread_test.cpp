#include "common/kc_thread.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A one-shot gate the test opens to let a body go on.
class Gate {
public:
    void open() { m_promise.set_value(); }
    void pass() { m_future.wait(); }

private:
    std::promise<void> m_promise;
    std::shared_future<void> m_future = m_promise.get_future().share();
};

enum class Body {
    Polite,          // signals, waits on the event until stopped, returns 5
    NeverSignals,    // loops until stopped without signalling
    LateStart,       // passes the gate, then behaves politely
    IgnoresStop,     // signals, then passes the gate before it looks at the stop flag
    DestroysItself,  // signals, calls Destroy on itself, returns 7 when stopped
};

class Worker : public CKcThread {
public:
    Worker(Body body, Gate* gate, std::atomic<bool>* ended) : m_body(body), m_gate(gate), m_ended(ended) {
        SetStartTimeoutMs(50);
        SetStopTimeoutMs(50);
    }
    ~Worker() override { Destroy(); }

    DWORD Run() override {
        if (m_body == Body::LateStart) {
            m_gate->pass();
        }
        if (m_body != Body::NeverSignals) {
            SignalEvent();
        }
        if (m_body == Body::IgnoresStop) {
            m_gate->pass();
            std::this_thread::sleep_for(20ms);  // still running while the owner deletes
        }
        if (m_body == Body::DestroysItself) {
            m_selfDestroy = Destroy();
        }
        while (!m_stop) {
            WaitEvent(m_body == Body::NeverSignals ? 5 : 0xFFFFFFFF);
        }
        ++m_rounds;  // touches the object after the stop: it must still exist
        if (m_ended) {
            *m_ended = true;
        }
        return m_body == Body::DestroysItself ? 7 : 5;
    }

    std::atomic<BOOL> m_selfDestroy{FALSE};

private:
    Body m_body;
    Gate* m_gate;
    std::atomic<bool>* m_ended;
    int m_rounds = 0;
};

}  // namespace

TEST(CKcThread, StartsAndStopsWithTheBodysExitCode) {
    ScopedTraceCapture trace;
    Worker worker(Body::Polite, nullptr, nullptr);
    worker.SetStartTimeoutMs(0xFFFFFFFF);  // a polite body is never waited out
    EXPECT_EQ(worker.Destroy(), TRUE);     // never started: true, exit code 0
    EXPECT_EQ(worker.GetExitCode(), 0u);
    ASSERT_EQ(worker.Create(), TRUE);
    EXPECT_NE(worker.GetThreadId(), 0u);
    EXPECT_EQ(worker.Create(), TRUE);  // already running: no second thread
    EXPECT_EQ(worker.Destroy(), TRUE);
    EXPECT_EQ(worker.GetExitCode(), 5u);
    EXPECT_EQ(worker.GetThreadId(), 0u);
    EXPECT_EQ(worker.Destroy(), TRUE);  // again, on the idle object
    ASSERT_EQ(worker.Create(), TRUE);   // and it can run again
    EXPECT_EQ(worker.Destroy(), TRUE);
    EXPECT_TRUE(trace->contains("CKcThread::CKcThread()\n"));
    EXPECT_TRUE(trace->contains("CKcThread::Create()\n"));
    EXPECT_TRUE(trace->contains("CKcThread::Destroy()\n"));
}

TEST(CKcThread, BodyThatNeverSignalsFailsCreateAndEndsBeforeItsObject) {
    ScopedTraceCapture trace;
    std::atomic<bool> ended{false};
    {
        Worker worker(Body::NeverSignals, nullptr, &ended);
        EXPECT_EQ(worker.Create(), FALSE);
        EXPECT_TRUE(trace->contains("CKcThread::Create() Timeout waiting for start of thread\n"));
        EXPECT_EQ(worker.Destroy(), TRUE);  // no thread held
    }
    EXPECT_TRUE(ended.load());
}

TEST(CKcThread, LateStarterIsToldToStopAndBlocksTheNextCreateUntilItEnds) {
    ScopedTraceCapture trace;
    Gate gate;
    std::atomic<bool> ended{false};
    Worker worker(Body::LateStart, &gate, &ended);
    EXPECT_EQ(worker.Create(), FALSE);
    // The first thread has not even started its body: a new one must not run beside it.
    EXPECT_EQ(worker.Create(), FALSE);
    EXPECT_TRUE(trace->contains("[E] CKcThread::Create() an earlier thread of this object is still running\n"));
    gate.open();
    // The late body sees the stop flag at once; the next Create waits for it and
    // then starts afresh (its gate is open now).
    EXPECT_EQ(worker.Create(), TRUE);
    EXPECT_TRUE(ended.load());
    EXPECT_EQ(worker.Destroy(), TRUE);
}

TEST(CKcThread, StopTimeOutFailsDestroyButTheObjectOutlivesTheThread) {
    ScopedTraceCapture trace;
    Gate gate;
    std::atomic<bool> ended{false};
    auto* worker = new Worker(Body::IgnoresStop, &gate, &ended);
    ASSERT_EQ(worker->Create(), TRUE);
    EXPECT_EQ(worker->Destroy(), FALSE);
    EXPECT_EQ(worker->GetExitCode(), CKcThread::kNotEnded);
    EXPECT_TRUE(trace->contains("[E] CKcThread::Destroy() Timeout waiting for end of thread\n"));
    EXPECT_FALSE(ended.load());
    gate.open();
    delete worker;  // its Destroy waits for the body, which still touches the object
    EXPECT_TRUE(ended.load());
    EXPECT_TRUE(trace->contains("[E] CKcThread::Destroy() waiting for a thread that did not stop\n"));
}

TEST(CKcThread, DestroyFromInsideTheBodyOnlySetsTheStopFlag) {
    ScopedTraceCapture trace;
    Worker worker(Body::DestroysItself, nullptr, nullptr);
    worker.SetStartTimeoutMs(0xFFFFFFFF);
    worker.SetStopTimeoutMs(0xFFFFFFFF);
    ASSERT_EQ(worker.Create(), TRUE);
    EXPECT_EQ(worker.Destroy(), TRUE);
    EXPECT_EQ(worker.m_selfDestroy.load(), TRUE);
    EXPECT_EQ(worker.GetExitCode(), 7u);
    EXPECT_TRUE(trace->contains("CKcThread::Destroy(): Request to destroy myself!\n"));
}
