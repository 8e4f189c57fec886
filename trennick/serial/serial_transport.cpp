#include "trennick/serial/serial_transport.h"

#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cstring>

namespace trennick {

SerialTransport::SerialTransport(const LinkServices& services) {
    m_comm.SetNoticeWindow(services.window);
}

SerialTransport::~SerialTransport() {
    WinUnSetupComm();
}

LONG SerialTransport::FlushQueues() {
    if (m_rw) {
        m_comm.CleanSend();
        m_comm.CleanReceived();
    }
    if (m_comm.IsOpen()) {
        m_comm.Port()->purge(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR);
    }
    ClearLoopBack();
    return 1;
}

DWORD SerialTransport::GetQueueSize(int queue) {
    if (!m_portOpen) return 0;
    if (m_loopBack) return queue == 0 ? m_loopBytes : 0;
    return m_comm.QueueSizes(queue == 0 ? 0 : 1, nullptr);
}

LONG SerialTransport::SetTransportOption(LONG, LONG) { return 0; }
LONG SerialTransport::EnableReadQueue(BOOL) { return 0; }

LONG SerialTransport::ConnectWrite(const BYTE* data, DWORD length, LONG mode, LONG queue) {
    // The link's bucket sender names no queue (0); a block that names none goes
    // in the first queue rather than nowhere.
    if (queue < 1 || queue > 4) queue = 1;
    return WinWrite(data, length, mode != 0 ? TRUE : FALSE, queue);
}

LONG SerialTransport::WinSetupComm(const char* portName, DWORD baudRate, BYTE byteSize, BYTE parity, BYTE stopBits,
                             bool overlapped) {
    WinUnSetupComm();
    m_comm.SetOverlapped(overlapped);
    for (;;) {
        if (m_comm.Open(portName, baudRate, byteSize, parity, stopBits, TRUE) == 0) break;
        const int answer = link().ShowMessage(kStrPortOpenFailed, 0, portName ? portName : "");
        if (answer != 128) {
            m_openResult = answer == 0 ? -1 : answer;
            return m_openResult;
        }
    }
    m_portOpen = true;
    m_rw = std::make_unique<CRWThread>(m_comm);
    m_threadsRunning = m_rw->Start();
    m_openTimeMs = now();
    m_openResult = 0;
    return 0;
}

LONG SerialTransport::WinAttach(std::unique_ptr<platform::SerialPort> port, bool overlapped) {
    WinUnSetupComm();
    m_comm.SetOverlapped(overlapped);
    if (m_comm.Attach(std::move(port)) != 0) return -1;
    m_portOpen = true;
    m_rw = std::make_unique<CRWThread>(m_comm);
    m_threadsRunning = m_rw->Start();
    m_openTimeMs = now();
    return 0;
}

void SerialTransport::WinUnSetupComm() {
    if (m_rw) {
        m_rw->EndRW();
        m_rw.reset();
    }
    m_threadsRunning = false;
    m_comm.CleanSend();
    m_comm.CleanReceived();
    m_comm.Close();
    m_portOpen = false;
}

LONG SerialTransport::WinWrite(const BYTE* data, DWORD length, BOOL byteWise, LONG priority) {
    if (data == nullptr) return 0;
    if (m_loopBack) {
        if (length == 0) return 0;
        m_loopQueue.emplace_back(data, data + length);
        m_loopBytes += length;
        m_lastWriteMs = now();
        return static_cast<LONG>(length);
    }
    if (!m_portOpen) return 0;
    LONG result = 0;
    if (byteWise) {
        for (DWORD i = 0; i < length; ++i) {
            DWORD written = 0;
            if (m_comm.Port()->write(data + i, 1, written) != ERROR_SUCCESS || written != 1) break;
            ++result;
        }
    } else {
        result = m_rw ? m_rw->QueueBlock(priority, data, length) : 0;
    }
    if (length > 0) m_lastWriteMs = now();
    return result;
}

LONG SerialTransport::WinReadCom(BYTE* buffer, DWORD size) {
    if (buffer == nullptr || size == 0) return 0;
    if (m_loopBack) return readLoopBack(buffer, size);
    if (!m_portOpen || !m_rw) return 0;
    // After a failed write the stream is broken both ways: the link ends now.
    if (m_rw->WriteFaulted()) return -1;
    const DWORD got = m_rw->TakeReceived(buffer, size);
    if (got == 0 && m_rw->LineLost()) return -1;
    return static_cast<LONG>(got);
}

LONG SerialTransport::readLoopBack(BYTE* buffer, DWORD size) {
    const DWORD t = now();
    if (!m_loopWindowStarted || t - m_loopWindowStart > 1000) {
        m_loopWindowStarted = true;
        m_loopWindowStart = t;
        m_loopGiven = 0;
    }
    const unsigned long long allowedAll = static_cast<unsigned long long>(t - m_loopWindowStart) * m_loopRate / 1000;
    if (allowedAll <= m_loopGiven) return 0;
    DWORD allowed = static_cast<DWORD>(std::min<unsigned long long>(allowedAll - m_loopGiven, size));
    DWORD taken = 0;
    while (!m_loopQueue.empty() && taken < allowed) {
        auto& node = m_loopQueue.front();
        const DWORD n = std::min<DWORD>(static_cast<DWORD>(node.size()), allowed - taken);
        std::memcpy(buffer + taken, node.data(), n);
        taken += n;
        if (n == node.size()) {
            m_loopQueue.pop_front();
        } else {
            node.erase(node.begin(), node.begin() + n);
        }
    }
    m_loopBytes -= taken;
    m_loopGiven += taken;
    return static_cast<LONG>(taken);
}

void SerialTransport::WinSetDtrRts(bool dtr, bool rts) {
    m_comm.SetDtr(dtr);
    m_comm.SetRts(rts);
}

void SerialTransport::SetMaxReadQueueBytes(DWORD bytes) {
    m_comm.SetMaxReceiveQueueBytes(bytes == 0 ? CCComm::kDefaultMaxReceiveQueueBytes : bytes);
}

void SerialTransport::WinPurgeAll() {
    m_comm.PurgeRead();
    m_comm.PurgeWrite();
    m_comm.CleanSend();
    m_comm.CleanReceived();
}

void SerialTransport::SetLoopBack(bool on, DWORD bytesPerSecond) {
    m_loopBack = on;
    m_loopRate = bytesPerSecond;
    m_loopWindowStarted = false;
    m_loopGiven = 0;
    if (on) m_portOpen = true;
}

void SerialTransport::ClearLoopBack() {
    m_loopQueue.clear();
    m_loopBytes = 0;
}

LONG SerialTransport::StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD /*baudRate*/) {
    return WinAttach(std::move(port), true);
}

void SerialTransport::QueueCableEvent(CableEvent event, std::unique_ptr<platform::SerialPort> port, DWORD baudRate) {
    std::lock_guard lock(m_cableLock);
    m_cableEvents.push_back({event, std::move(port), baudRate});
}

void SerialTransport::HandleCableEvents() {
    for (;;) {
        QueuedCableEvent e;
        {
            std::lock_guard lock(m_cableLock);
            if (m_cableEvents.empty()) return;
            e = std::move(m_cableEvents.front());
            m_cableEvents.pop_front();
        }
        switch (e.event) {
        case CableEvent::PortOpen: StartComm_NULLModem(std::move(e.port), e.baudRate); break;
        case CableEvent::LineDropped: OnNullModemLineDropped(); break;
        case CableEvent::CallArrived: OnNullModemCallArrived(); break;
        }
    }
}

void SerialTransport::OnNullModemLineDropped() {}
void SerialTransport::OnNullModemCallArrived() {}
void SerialTransport::StopCommunication() { WinUnSetupComm(); }

}  // namespace trennick
