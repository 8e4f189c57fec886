#pragma once
// CRWThread: the read thread and the write thread of one open COM port. The
// read thread moves what the line brings into the port's receive queue; the
// write thread empties the four send queues (priority 1, then 3, 4 and 2) onto
// the line in pieces of CommPacketWriteSize bytes. While the receive queue is
// at its cap the read thread reads nothing: it waits for room in short steps,
// so it still sees the end promptly, and the line's bytes wait in the driver.
//
// Threads: Start and EndRW belong to the owning link's thread; the queues are
// reached through CCComm, whose locks guard them. A line that hangs up is noted
// (LineLost) and the read thread then only waits for its end.
// Failures are traced; nothing throws.

#include "trennick/serial/comm.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace trennick {

class CRWThread {
public:
    // The most the read thread takes from the line at a time.
    static constexpr DWORD kReadChunkBytes = 2048;
    // The longest one piece may wait for the line before the write fails.
    static constexpr DWORD kWriteWaitMs = 10000;

    explicit CRWThread(CCComm& comm);
    virtual ~CRWThread();
    CRWThread(const CRWThread&) = delete;
    CRWThread& operator=(const CRWThread&) = delete;

    // Starts both threads; false when they could not be created.
    bool Start();
    // Purges the port, stops both threads and waits for them.
    void EndRW();
    bool Running() const { return m_reader.joinable(); }

    // Queues a block at priority 1-4 and wakes the write thread; returns the
    // length (also for a priority that queues nothing).
    LONG QueueBlock(int priority, const BYTE* data, DWORD length);
    DWORD TakeReceived(BYTE* buffer, DWORD size) { return m_comm.TakeReceived(buffer, size); }
    DWORD QueueSizes(int which, DWORD* nodes) { return m_comm.QueueSizes(which, nodes); }
    // True once the line hung up under the read thread, or a write failed or
    // timed out (the rest of the stream could only arrive corrupted).
    bool LineLost() const { return m_lineLost.load(); }
    bool WriteFaulted() const { return m_writeFault.load(); }
    // True while the read thread leaves the line alone because the receive
    // queue is at its cap.
    bool ReadPaused() const { return m_readPaused.load(); }

    // Writes a block in pieces of CommPacketWriteSize bytes, the remainder last.
    // Returns false when a piece failed.
    bool WriteBlockInPackets(const BYTE* data, DWORD length);
    void ReportCommError();
    void ReportModemStatus();

protected:
    // Writes one piece to the port; true when all of it went.
    virtual bool WriteBlock(const BYTE* data, DWORD length);

private:
    void readLoop();
    void writeLoop();
    bool waitForExit(DWORD timeoutMs);

    CCComm& m_comm;
    std::thread m_reader;
    std::thread m_writer;
    std::atomic<bool> m_exit{false};
    std::atomic<bool> m_lineLost{false};
    std::atomic<bool> m_writeFault{false};
    std::atomic<bool> m_readPaused{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_dataSignalled = false;
};

}  // namespace trennick
