#include "trennick/serial/rw_thread.h"

#include "trennick/link/link_trace.h"

#include <chrono>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace trennick {

namespace {

struct ErrorText {
    DWORD bit;
    const char* text;
};
const ErrorText kErrorTexts[] = {
    {platform::CE_BREAK, "The hardware detected a break condition"},
    {platform::CE_DNS, "Windows 95/98/Me: A parallel device is not selected"},
    {platform::CE_FRAME, "The hardware detected a framing error"},
    {platform::CE_IOE, "An I/O error occurred during communications with the device"},
    {platform::CE_MODE, "The requested mode is not supported, or the hFile parameter is invalid"},
    {platform::CE_OOP, "A parallel device signaled that it is out of paper"},
    {platform::CE_OVERRUN, "A character-buffer overrun has occurred. The next character is lost"},
    {platform::CE_PTO, "A time-out occurred on a parallel device"},
    {platform::CE_RXOVER, "An input buffer overflow has occurred"},
    {platform::CE_RXPARITY, "The hardware detected a parity error"},
    {platform::CE_TXFULL, "The application tried to transmit a character, but the output buffer was full"},
};

// How long the read thread waits for room in the receive queue before it
// looks at the exit flag again.
constexpr DWORD kRoomWaitStepMs = 50;

}  // namespace

CRWThread::CRWThread(CCComm& comm) : m_comm(comm) {}

CRWThread::~CRWThread() { EndRW(); }

bool CRWThread::Start() {
    if (Running()) return true;
    if (!m_comm.IsOpen()) return false;
    m_exit = false;
    m_lineLost = false;
    m_writeFault = false;
    m_readPaused = false;
    try {
        m_reader = std::thread([this] { readLoop(); });
        m_writer = std::thread([this] { writeLoop(); });
    } catch (...) {
        m_exit = true;
        if (m_reader.joinable()) m_reader.join();
        return false;
    }
    return true;
}

void CRWThread::EndRW() {
    if (!m_reader.joinable() && !m_writer.joinable()) return;
    if (m_comm.IsOpen()) {
        m_comm.Port()->purge(platform::PURGE_TXABORT | platform::PURGE_RXABORT | platform::PURGE_TXCLEAR |
                             platform::PURGE_RXCLEAR);
    }
    m_exit = true;
    {
        std::lock_guard lock(m_wakeMutex);
        m_dataSignalled = true;
    }
    m_wake.notify_all();
    if (m_comm.IsOpen()) m_comm.Port()->cancel();
    // The threads watch the exit flag and the port's cancel, so they end
    // within one wait round; a thread cannot be killed here, only joined.
    if (m_reader.joinable()) m_reader.join();
    if (m_writer.joinable()) m_writer.join();
}

LONG CRWThread::QueueBlock(int priority, const BYTE* data, DWORD length) {
    const LONG n = m_comm.QueueSend(priority, data, length);
    {
        std::lock_guard lock(m_wakeMutex);
        m_dataSignalled = true;
    }
    m_wake.notify_one();
    return n;
}

bool CRWThread::waitForExit(DWORD timeoutMs) {
    std::unique_lock lock(m_wakeMutex);
    return m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_exit.load(); });
}

void CRWThread::readLoop() {
    linkTrace(3, "Read Thread created, ID: %lx", static_cast<unsigned long>(::syscall(SYS_gettid)));
    platform::SerialPort* port = m_comm.Port();
    BYTE buffer[kReadChunkBytes];
    while (!m_exit) {
        if (m_lineLost) {
            waitForExit(1000);
            continue;
        }
        // A full queue: leave the bytes in the driver, whose flow control
        // holds the sender, until the link has taken some. Memory stays
        // bounded however fast the peer sends.
        if (!m_comm.WaitReceiveRoom(0)) {
            if (!m_readPaused.exchange(true)) {
                DWORD nodes = 0;
                const DWORD queued = m_comm.QueueSizes(0, &nodes);
                linkTrace(3, "CRWThread::OnReadThread() rQueue holds %u bytes, reading paused", queued);
            }
            m_comm.WaitReceiveRoom(kRoomWaitStepMs);
            continue;
        }
        if (m_readPaused.exchange(false)) linkTrace(3, "CRWThread::OnReadThread() reading resumed");
        {
            DWORD errors = 0;
            platform::SerialQueueCounts counts;
            std::lock_guard lock(m_comm.StatusLock());
            port->clearErrors(errors, counts);
        }
        if (!port->waitReadable(1000)) {
            if (m_exit) break;
            linkTrace(5, "CRWThread::OnReadThread() Wait TIMMEOUT for reading...");
            ReportCommError();
            ReportModemStatus();
            continue;
        }
        DWORD got = 0;
        const DWORD code = port->readAvailable(buffer, kReadChunkBytes, got);
        if (got > 0) {
            if (got == 1) linkTrace(5, "CRWThread::OnReadThread() 1 Bytes received %0x", buffer[0]);
            m_comm.QueueReceived(buffer, got);
        }
        if (code == ERROR_READ_FAULT) {
            linkTrace(1, "CRWThread::OnReadThread() GetOverlappedResult Failed");
            m_lineLost = true;
        } else if (code != ERROR_SUCCESS && code != platform::ERROR_OPERATION_ABORTED) {
            linkTrace(1, "CRWThread::OnReadThread() Error In ReadFile");
        }
    }
    DWORD nodes = 0;
    m_comm.QueueSizes(0, &nodes);
    linkTrace(3, "CRWThread::OnReadThread() Exiting Thread rQueue count is %u", nodes);
    linkTrace(3, "CRWThread::CleanPacketsFromQue() rQueue count is %u", m_comm.CleanReceived());
}

void CRWThread::writeLoop() {
    linkTrace(3, "Write Thread created, ID: %lx", static_cast<unsigned long>(::syscall(SYS_gettid)));
    std::vector<BYTE> node;
    while (!m_exit) {
        {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(1000), [this] { return m_dataSignalled; });
            m_dataSignalled = false;
        }
        while (!m_exit && m_comm.TakeSend(node)) {
            if (m_writeFault) continue;  // the line is faulted: nothing more goes out
            if (!WriteBlockInPackets(node.data(), static_cast<DWORD>(node.size()))) {
                if (m_exit) break;
                // Part of a block is lost: whatever followed it would reach
                // the peer as a corrupted stream. The line counts as lost and
                // the link reports it on its next read.
                linkTrace(1, "CRWThread::OnWriteThread() a write failed: the line is faulted");
                m_writeFault = true;
                m_lineLost = true;
                m_comm.CleanSend();
                continue;
            }
            if (m_comm.Tty().PurgeWrite != 0 && m_comm.IsOpen()) {
                m_comm.Port()->purge(platform::PURGE_TXCLEAR);
            }
        }
    }
}

bool CRWThread::WriteBlockInPackets(const BYTE* data, DWORD length) {
    const DWORD piece = m_comm.Tty().CommPacketWriteSize == 0 ? 512 : m_comm.Tty().CommPacketWriteSize;
    const DWORD blocks = length / piece;
    if (blocks > 5) linkTrace(5, "CRWThread::WriteBlockInPackets writing %u blocks", blocks);
    DWORD at = 0;
    for (DWORD i = 0; i < blocks; ++i, at += piece) {
        if (!WriteBlock(data + at, piece)) return false;
    }
    if (at < length) return WriteBlock(data + at, length - at);
    return true;
}

bool CRWThread::WriteBlock(const BYTE* data, DWORD length) {
    platform::SerialPort* port = m_comm.Port();
    if (port == nullptr) return false;
    DWORD written = 0;
    const DWORD code = port->write(data, length, written, kWriteWaitMs);
    if (code == ERROR_SUCCESS) {
        linkTrace(5, "CRWThread::WriteBlock write completed Immediately");
        return true;
    }
    if (code == platform::ERROR_OPERATION_ABORTED) {
        linkTrace(3, "CRWThread::WriteBlock  WriteThread signal to exit");
    } else if (code == ERROR_TIMEOUT) {
        linkTrace(1, "CRWThread::WriteBlock  Write Wait time out for writing");
    } else {
        linkTrace(1, "CRWThread::WriteBlock  m_comm->GetOLResult failed");
    }
    if (written != length) {
        linkTrace(1, "CRWThread::WriteBlock Error in write Request to write %u actual written %u", length, written);
    }
    return false;
}

void CRWThread::ReportCommError() {
    platform::SerialPort* port = m_comm.Port();
    if (port == nullptr) return;
    DWORD errors = 0;
    platform::SerialQueueCounts counts;
    {
        std::lock_guard lock(m_comm.StatusLock());
        if (port->clearErrors(errors, counts) != ERROR_SUCCESS) {
            linkTrace(1, "CRWThread::WriteBlock  ClearCommError failed");
            return;
        }
    }
    if (errors == 0) return;
    linkTrace(1, "CRWThread::ReportCommError() Error!!! Errors=%0x", errors);
    if (LinkWindow* w = m_comm.NoticeWindow()) w->postMessage(kMsgCommError, 0, static_cast<LPARAM>(errors));
    for (const auto& e : kErrorTexts) {
        if (errors & e.bit) {
            linkTrace(1, "CRWThread::ReportCommError() %s", e.text);
            linkTrace(3, "CRWThread::PrintCommState %u bytes have been received, but not read", counts.inQueue);
            linkTrace(3, "CRWThread::PrintCommState %u bytes are awaiting transfer", counts.outQueue);
        }
    }
}

void CRWThread::ReportModemStatus() {
    platform::SerialPort* port = m_comm.Port();
    if (port == nullptr) return;
    DWORD status = 0;
    {
        std::lock_guard lock(m_comm.StatusLock());
        if (port->modemStatus(status) != ERROR_SUCCESS) {
            linkTrace(1, "CRWThread::ReportModemStatus ReportModemStatus failed");
            return;
        }
    }
    if (status & platform::MS_CTS_ON) linkTrace(5, "CRWThread::ReportModemStatus The CTS (clear-to-send) signal is on.");
    if (status & platform::MS_DSR_ON) linkTrace(5, "CRWThread::ReportModemStatus The DSR (data-set-ready) signal is on.");
    if (status & platform::MS_RING_ON) linkTrace(5, "CRWThread::ReportModemStatus The ring indicator signal is on.");
    if (status & platform::MS_RLSD_ON)
        linkTrace(5, "CRWThread::ReportModemStatus The RLSD (receive-line-signal-detect) signal is on.");
}

}  // namespace trennick
