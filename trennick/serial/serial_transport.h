#pragma once
// SerialTransport: the line of a station link over a serial port. It owns the
// port (CCComm) and its read and write threads (CRWThread), writes the link's
// buckets into the send queues, and reads what came; in loop-back mode (the
// dummy modem) it hands its own writes back at a set rate instead. The modem
// line (ModemTransport) builds on it.
//
// Threads: the link's owner thread calls everything here; the worker threads
// only touch the port's queues. A port that cannot be opened leaves the link
// closed (writes return 0); a line that hung up makes the read return -1.

#include "trennick/link/link_transport.h"
#include "trennick/link/packet_connection.h"
#include "trennick/serial/comm.h"
#include "trennick/serial/rw_thread.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace trennick {

inline constexpr UINT kStrPortOpenFailed = 4000;  // "%s" the port name; answer 128 retries

class SerialTransport : public LinkTransport {
public:
    explicit SerialTransport(const LinkServices& services);
    ~SerialTransport() override;

    // ---- transport operations ----
    LONG FlushQueues() override;
    DWORD GetQueueSize(int queue) override;
    LONG SetTransportOption(LONG option, LONG value) override;
    LONG EnableReadQueue(BOOL enable) override;
    LONG ConnectWrite(const BYTE* data, DWORD length, LONG mode, LONG queue) override;

    // ---- the serial services of the modem line ----
    // Opens the port, retrying while the user answers 128 to the message; 0 on
    // success, else the message's answer (or -1 without a presenter).
    LONG WinSetupComm(const char* portName, DWORD baudRate, BYTE byteSize, BYTE parity, BYTE stopBits,
                      bool overlapped);
    // Takes over a port opened elsewhere and starts the threads.
    LONG WinAttach(std::unique_ptr<platform::SerialPort> port, bool overlapped);
    void WinUnSetupComm();
    // Writes a block: byte by byte directly when asked, else queued at the
    // priority. Returns the length taken, 0 while closed.
    LONG WinWrite(const BYTE* data, DWORD length, BOOL byteWise, LONG priority);
    // Reads what came (or the loop-back's share); -1 when the line is lost.
    LONG WinReadCom(BYTE* buffer, DWORD size);
    void WinSetDtrRts(bool dtr, bool rts);
    // The read-queue limit: the port's read thread leaves the line's bytes in
    // the driver (whose flow control holds the sender) while this many wait to
    // be read, instead of the queue being flushed and the bytes lost. 0: the
    // layer's own cap.
    void SetMaxReadQueueBytes(DWORD bytes);
    DWORD MaxReadQueueBytes() const { return m_comm.MaxReceiveQueueBytes(); }
    void WinPurgeAll();
    bool IsPortOpen() const { return m_portOpen; }
    DWORD LastWriteMs() const { return m_lastWriteMs; }
    CCComm& Comm() { return m_comm; }

    // Loop-back: writes come back as reads at `bytesPerSecond`.
    void SetLoopBack(bool on, DWORD bytesPerSecond);
    bool LoopBack() const { return m_loopBack; }
    void ClearLoopBack();

    // ---- what the cable link (CNULLModem) tells its owning line ----
    // The cable link's worker thread queues its news (any thread); the owning
    // link's thread carries them out in order with HandleCableEvents (the
    // modem line does so at the start of each TimeToRead).
    enum class CableEvent { PortOpen, LineDropped, CallArrived };
    void QueueCableEvent(CableEvent event, std::unique_ptr<platform::SerialPort> port = {}, DWORD baudRate = 0);
    void HandleCableEvents();
    // The handshake is done: the open port and its rate start the link.
    virtual LONG StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD baudRate);
    // The cable's DSR went off.
    virtual void OnNullModemLineDropped();
    // A call came in on the cable.
    virtual void OnNullModemCallArrived();
    // Listening starts again: stop using the port.
    virtual void StopCommunication();

protected:
    CCComm m_comm;
    std::unique_ptr<CRWThread> m_rw;
    bool m_portOpen = false;
    bool m_threadsRunning = false;
    DWORD m_lastWriteMs = 0;
    DWORD m_openTimeMs = 0;
    LONG m_openResult = 0;

private:
    LONG readLoopBack(BYTE* buffer, DWORD size);

    struct QueuedCableEvent {
        CableEvent event;
        std::unique_ptr<platform::SerialPort> port;
        DWORD baudRate;
    };
    std::mutex m_cableLock;
    std::deque<QueuedCableEvent> m_cableEvents;

    bool m_loopBack = false;
    std::deque<std::vector<BYTE>> m_loopQueue;
    DWORD m_loopBytes = 0;
    DWORD m_loopRate = 0;
    DWORD m_loopWindowStart = 0;
    bool m_loopWindowStarted = false;
    DWORD m_loopGiven = 0;
};

}  // namespace trennick
