#pragma once
// CCComm: one COM port with its settings, the receive queue and the four
// prioritised send queues that the read and write threads (CRWThread) fill and
// empty, and the window that hears of line errors (message 22880).
//
// Threads: open, attach, reset and close belong to the owning link's thread;
// the queues have their own locks and are used by the link's thread and the
// two worker threads; the error and status queries share a third lock. The
// receive queue has a cap: the read thread takes nothing from the line while
// that many bytes wait, so the rest stays in the driver, whose flow control
// (a pty's always, a line's when handshaking is set) holds the sender.
// Failures: the open calls return -1 and trace; nothing throws.

#include "platform/serial_port.h"
#include "platform/types.h"
#include "trennick/link/link_host.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace trennick {

inline constexpr UINT kMsgCommError = 22880;  // (0, error bits) to the notice window

// The TTY settings of the serial layer ("Comms\TTYInfo", its "Timeouts" and the
// "Comms" values the layer reads).
struct TTYInfo {
    DWORD PORT = 1;
    DWORD BAUDRATE = 38400;
    DWORD BYTESIZE = 8;
    DWORD PARITY = 0;
    DWORD STOPBITS = 0;
    DWORD DISPLAYERRORS = 0;
    DWORD EVENTFLAGS = 0;
    DWORD FLAGCHAR = 0;
    DWORD DTRCONTROL = 1;
    DWORD RTSCONTROL = 1;
    DWORD XONCHAR = 17;
    DWORD XOFFCHAR = 19;
    DWORD XONLIMIT = 0;
    DWORD XOFFLIMIT = 0;
    DWORD CTSOUTFLOW = 0;
    DWORD DSROUTFLOW = 0;
    DWORD DSRINFLOW = 0;
    DWORD XONXOFFOUTFLOW = 0;
    DWORD XONXOFFINFLOW = 0;
    DWORD TXAFTERXOFFSENT = 0;
    DWORD NOREADING = 0;
    DWORD NOWRITING = 0;
    DWORD NOEVENTS = 0;
    DWORD NOSTATUS = 0;
    // Comms\TTYInfo\Timeouts
    DWORD ReadIntervalTimeout = 1;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    // Comms
    DWORD IsUseCtlPanelSettings = 0;
    DWORD UseDefaultQueues = 1;
    DWORD CommPacketWriteSize = 512;
    DWORD PurgeWrite = 0;
};

// Reads the TTY settings with their defaults, writes every value back and the
// name tables for the settings editor (Comms\TTYInfo\MACROS\<name>).
TTYInfo readTTYInfo();

class CCComm {
public:
    CCComm();
    ~CCComm();
    CCComm(const CCComm&) = delete;
    CCComm& operator=(const CCComm&) = delete;

    static constexpr DWORD kOwnInQueue = 8192;
    static constexpr DWORD kOwnOutQueue = 16384;
    // Bytes the receive queue may hold before the read thread stops reading.
    static constexpr DWORD kDefaultMaxReceiveQueueBytes = 8u * 1024 * 1024;

    // Opens the port and applies the line settings and the time-outs 1, 0, 0, 0, 0;
    // 0 on success, -1 on failure (the port is then closed).
    LONG Open(const char* portName, DWORD baudRate, BYTE byteSize, BYTE parity, BYTE stopBits, BOOL dtrHandling);
    // "COM<n>" at 9600 baud, 8 data bits, no parity, one stop bit.
    LONG OpenByNumber(int number);
    // Takes over a port opened elsewhere (the telephony line or the cable link):
    // its state and time-outs are kept as the port's own.
    LONG Attach(std::unique_ptr<platform::SerialPort> port);
    // Hands the port back without closing it.
    std::unique_ptr<platform::SerialPort> Detach();
    LONG Reset(BOOL dtrHandling);
    void Close();
    BOOL IsOpen() const { return m_port && m_port->isOpen(); }

    BOOL PurgeRead();
    BOOL PurgeWrite();
    BOOL SetDtr(bool on);
    BOOL SetRts(bool on);
    // Builds the line settings from the TTY settings and writes those that differ.
    BOOL UpdateConnection();

    platform::SerialPort* Port() { return m_port.get(); }
    TTYInfo& Tty() { return m_tty; }
    void SetOverlapped(bool on) { m_overlapped = on; }
    bool Overlapped() const { return m_overlapped; }
    void SetNoticeWindow(LinkWindow* window) { m_noticeWindow = window; }
    LinkWindow* NoticeWindow() const { return m_noticeWindow; }

    // ---- the queues ----
    // Copies a block to the tail of send queue `priority` (1-4); other
    // priorities queue nothing. Returns the length either way.
    LONG QueueSend(int priority, const BYTE* data, DWORD length);
    // Takes the next node in the order 1, 3, 4, 2; false when all are empty.
    bool TakeSend(std::vector<BYTE>& node);
    // Queues what the line brought and tells the notice window
    // (kMsgLinkDataReady) unless a notice is still waiting for a take.
    void QueueReceived(const BYTE* data, DWORD length);
    // Whole nodes while they fit, the last one split with its tail kept.
    DWORD TakeReceived(BYTE* buffer, DWORD size);
    // which 1: send bytes, with the node count of queues 1-3; which 0: receive
    // bytes with its node count.
    DWORD QueueSizes(int which, DWORD* nodes);
    DWORD CleanReceived();
    void CleanSend();

    // The receive cap; the read thread reads only while fewer bytes are queued
    // (so 0 stops reading). Any thread.
    void SetMaxReceiveQueueBytes(DWORD bytes);
    DWORD MaxReceiveQueueBytes() const { return m_maxReceiveBytes.load(); }
    // True when the receive queue is below its cap; otherwise waits up to
    // `timeoutMs` for a take that makes room and says whether one did.
    bool WaitReceiveRoom(DWORD timeoutMs);

    std::mutex& StatusLock() { return m_statusLock; }

private:
    std::unique_ptr<platform::SerialPort> m_port;
    bool m_overlapped = true;
    TTYInfo m_tty;
    LinkWindow* m_noticeWindow = nullptr;
    // A data notice is posted and no take has begun since (read thread and
    // the link's thread).
    std::atomic<bool> m_dataNoticePending{false};

    std::mutex m_receiveLock;
    std::deque<std::vector<BYTE>> m_receive;
    DWORD m_receiveBytes = 0;
    std::atomic<DWORD> m_maxReceiveBytes{kDefaultMaxReceiveQueueBytes};
    std::condition_variable m_receiveRoom;  // with m_receiveLock: bytes were taken
    std::mutex m_sendLock;
    std::array<std::deque<std::vector<BYTE>>, 4> m_send;
    DWORD m_sendBytes = 0;
    std::mutex m_statusLock;
};

}  // namespace trennick
