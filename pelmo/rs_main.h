#pragma once
// CRSMain: the engine of the serial-port server. It drives one port for its
// client through two byte FIFOs and two worker threads, so that the client
// never waits on the line: the reader moves what the line brings into the
// read FIFO, the writer puts the write FIFO on the line.
//
// Threads: the client's thread calls the public members; the reader and the
// writer share the FIFOs (each behind its own lock) and the port (behind the
// port lock). Failures are returned as the server's HRESULT 0x80040001 or the
// port layer's negative code; nothing throws.

#include "common/kc_thread.h"
#include "pelmo/zo_serial.h"
#include "platform/serial_port.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace pelmo {

// A byte FIFO of fixed capacity; every access under its own lock.
class ByteFifo {
public:
    explicit ByteFifo(std::size_t capacity) : m_capacity(capacity) {}
    // All or nothing: false (and nothing added) when the bytes do not fit.
    bool add(const BYTE* data, std::size_t size);
    // As many as fit; returns how many were added.
    std::size_t addSome(const BYTE* data, std::size_t size);
    std::size_t take(BYTE* data, std::size_t size);
    std::size_t size() const;
    void clear();
    std::size_t capacity() const { return m_capacity; }

private:
    mutable std::mutex m_lock;
    std::deque<BYTE> m_bytes;
    std::size_t m_capacity;
};

// The port's line settings from the settings file (section [Settings] of
// "pelmo.ini", or [Serial] of "SERIAL.INI" when none is named).
struct PortFileSettings {
    int fOutxCtsFlow = 0, fOutxDsrFlow = 0, fInX = 0, fOutX = 0;
    int XonChar = 17, XoffChar = 19, XonLim = 100, XoffLim = 100;
    int fBinary = 1, fParity = 1, fDtrControl = 0, fRtsControl = 1, fAbortOnError = 1;
    LONG InIntTimeout = -1, InTotMul = 0, InTotConst = 0, OutTotMul = 10, OutTotConst = 0;
};
PortFileSettings readPortFileSettings(const char* file, const char* section);

class CRSMain {
public:
    static constexpr std::size_t kFifoBytes = 100000;
    static constexpr std::size_t kChunk = 512;
    static constexpr DWORD kDrainLimitMs = 3000;

    CRSMain();
    ~CRSMain();

    HRESULT SetConfig(const ZoSerialConfig* config);
    HRESULT GetConfig(ZoSerialConfig* config);
    HRESULT Connect();
    HRESULT Disconnect();
    HRESULT SendData(const BYTE* data, ULONG size, ULONG* sent);
    HRESULT ReadData(BYTE* data, ULONG size, ULONG* read);
    HRESULT GetFIFOSize(ULONG fifo, ULONG* size);
    HRESULT GetFIFOSizeLeft(ULONG fifo, ULONG* size);
    HRESULT GetMaxFIFOSize(ULONG fifo, ULONG* size);
    // 1 once the reader had to drop bytes because the read FIFO was full; it
    // stays until the FIFO is cleaned. The write FIFO never drops (a send that
    // does not fit is refused whole).
    HRESULT IsOverflow(ULONG fifo, LONG* overflow);
    // The last error met: a system error code of the port, or
    // ERROR_INSUFFICIENT_BUFFER for bytes that found no room; 0 when none.
    HRESULT GetLatestError(ULONG* error);
    HRESULT Clean(ULONG fifo);
    HRESULT IsConnected(LONG* connected);
    HRESULT StopReading();
    HRESULT ContinueReading();
    HRESULT IsDSROn(LONG* on);

    // The poll period of the workers: 50 ms until the port is opened, then
    // from the baud rate.
    DWORD PollMs() const { return m_pollMs.load(); }
    static DWORD pollPeriodFor(DWORD baud);

    // The worker bodies (one round each).
    bool readRound();
    void writeRound();

private:
    // Opens and sets up the port; 0 or the port layer's code (-5 queues, -2
    // state, -3 line, -4 time-outs, -1 open).
    int openPort();
    void setError(DWORD code) { m_lastError = code; }

    class Worker;
    std::recursive_mutex m_state;  // the engine's own critical section
    std::mutex m_portLock;
    BYTE m_port = 1;
    BYTE m_dataBits = 8;
    BYTE m_parity = 'N';
    BYTE m_stopBits = 1;
    DWORD m_baud = 115200;
    std::unique_ptr<platform::SerialPort> m_serial;
    std::atomic<bool> m_open{false};
    ByteFifo m_readFifo{kFifoBytes};
    ByteFifo m_writeFifo{kFifoBytes};
    std::atomic<DWORD> m_pollMs{50};
    std::atomic<bool> m_readOverflow{false};
    std::atomic<DWORD> m_lastError{0};
    std::unique_ptr<Worker> m_reader;
    std::unique_ptr<Worker> m_writer;
};

}  // namespace pelmo
