#pragma once
// CWinComms: the station link over a serial line: a link that owns a
// SerialTransport (or a line built on it, such as the modem's). What is
// particular to the serial port (opening it, writing byte-wise, the loop-back
// of the dummy modem, the read-queue limit) is the transport's; the link hands
// it on.
//
// Threads: the link's owner thread calls everything here.
// Failures: as the transport's operations define them; nothing throws.

#include "trennick/serial/serial_transport.h"

#include <memory>

namespace trennick {

class CWinComms : public CPacketConnection {
public:
    // `transport` may not be null.
    CWinComms(const LinkServices& services, std::unique_ptr<SerialTransport> transport);

    SerialTransport& Serial() { return *m_serial; }

    LONG WinSetupComm(const char* portName, DWORD baudRate, BYTE byteSize, BYTE parity, BYTE stopBits,
                      bool overlapped) {
        return m_serial->WinSetupComm(portName, baudRate, byteSize, parity, stopBits, overlapped);
    }
    void WinUnSetupComm() { m_serial->WinUnSetupComm(); }
    LONG WinWrite(const BYTE* data, DWORD length, BOOL byteWise, LONG priority) {
        return m_serial->WinWrite(data, length, byteWise, priority);
    }
    LONG WinReadCom(BYTE* buffer, DWORD size) { return m_serial->WinReadCom(buffer, size); }
    void SetMaxReadQueueBytes(DWORD bytes) { m_serial->SetMaxReadQueueBytes(bytes); }
    DWORD MaxReadQueueBytes() const { return m_serial->MaxReadQueueBytes(); }
    bool IsPortOpen() const { return m_serial->IsPortOpen(); }
    CCComm& Comm() { return m_serial->Comm(); }
    void SetLoopBack(bool on, DWORD bytesPerSecond) { m_serial->SetLoopBack(on, bytesPerSecond); }
    bool LoopBack() const { return m_serial->LoopBack(); }

private:
    SerialTransport* m_serial;  // the link's own transport
};

}  // namespace trennick
