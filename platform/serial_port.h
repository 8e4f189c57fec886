#pragma once
// Serial ports: a COM port over a termios device, with the line settings, the
// read and write time-outs, the DTR/RTS outputs and the modem status lines the
// system's serial code expects of a COM port.
//
// Port names. "COM<n>" (any case, n >= 1) maps to a device by a setting:
//   1. the environment variable VELMOOR_COM<n> (tests point it at a pty);
//   2. the caller's port map (SerialPortMap: the program's own settings);
//   3. else /dev/ttyS<n-1>.
// Any other name (a path) is opened as it is.
//
// Time-outs follow the COM port rules (all in milliseconds):
//   - read: the total limit is multiplier x bytes asked + constant (both 0: none);
//     the interval limit ends a read when that long passes between two bytes
//     after the first; interval 0xFFFFFFFF with multiplier and constant 0 returns
//     at once with what is there; interval and multiplier 0xFFFFFFFF with a
//     constant waits up to the constant for the first byte and returns at once.
//     With no limit at all a read waits until every byte asked came.
//   - write: the total limit is multiplier x bytes + constant (both 0: none).
//
// Pseudo-terminals carry data but have no modem lines. For a pty the layer keeps
// the lines in a small file under the runtime folder ("serial/<device>"), shared
// by every process: DTR and RTS set by the opener are written there, and the
// status lines (CTS, DSR, RING, carrier) read from there, as a test port (or the
// fake modem) configures them. A pty that nobody configured reports CTS, DSR and
// carrier on, as a connected cable does; a pty whose other side is gone reports
// every status line off, so a dropped line is seen.
//
// Exclusive open: a second open of the same device, in any process, fails with
// ERROR_ACCESS_DENIED, as a busy COM port does.
//
// One SerialPort is used by any number of threads at once for reading, writing
// and status queries (the calls do not share buffers); open and close belong to
// the owner thread, and cancel() wakes reads and writes blocked in other threads.
// Failures return a system error code (ERROR_SUCCESS on success); nothing throws.

#include "platform/types.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr DWORD kSerialNoTimeout = 0xFFFFFFFF;  // MAXDWORD in the time-out fields

// Modem status bits (as GetCommModemStatus reports them).
inline constexpr DWORD MS_CTS_ON = 0x0010;
inline constexpr DWORD MS_DSR_ON = 0x0020;
inline constexpr DWORD MS_RING_ON = 0x0040;
inline constexpr DWORD MS_RLSD_ON = 0x0080;

// Purge flags.
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Line error bits (ClearCommError).
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;
inline constexpr DWORD CE_TXFULL = 0x0100;
inline constexpr DWORD CE_PTO = 0x0200;
inline constexpr DWORD CE_IOE = 0x0400;
inline constexpr DWORD CE_DNS = 0x0800;
inline constexpr DWORD CE_OOP = 0x1000;
inline constexpr DWORD CE_MODE = 0x8000;

inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_OPERATION_ABORTED = 995;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;

// DTR and RTS control.
enum class DtrControl : BYTE { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : BYTE { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// The line settings (the DCB fields this system uses).
struct SerialSettings {
    DWORD baudRate = 9600;
    BYTE byteSize = 8;   // 5..8
    BYTE parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    BYTE stopBits = 0;   // 0 one, 1 one and a half, 2 two
    bool parityCheck = false;
    bool ctsOutFlow = false;
    bool dsrOutFlow = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    BYTE xonChar = 17;
    BYTE xoffChar = 19;
    WORD xonLimit = 0;
    WORD xoffLimit = 0;
    DtrControl dtrControl = DtrControl::Enable;
    RtsControl rtsControl = RtsControl::Enable;
    bool operator==(const SerialSettings&) const = default;
};

struct SerialTimeouts {
    DWORD readIntervalMs = 0;
    DWORD readTotalMultiplierMs = 0;
    DWORD readTotalConstantMs = 0;
    DWORD writeTotalMultiplierMs = 0;
    DWORD writeTotalConstantMs = 0;
    bool operator==(const SerialTimeouts&) const = default;
};

// Bytes waiting in each direction (the COMSTAT counts).
struct SerialQueueCounts {
    DWORD inQueue = 0;
    DWORD outQueue = 0;
};

// n of a port name "COM<n>" (n >= 1, any case); 0 for any other name.
unsigned comPortNumber(std::string_view name);

// The device path of each COM port number the caller's settings name; numbers
// it leaves out (or maps to an empty path) take the default device.
using SerialPortMap = std::map<unsigned, std::string>;

// The device a port name stands for (see the file comment).
std::filesystem::path serialDevicePath(std::string_view portName, const SerialPortMap& ports = {});

// The pty side of the line file: the status bits a test port reports (MS_* bits),
// and DTR/RTS as the opener set them. `device` is the device path.
void setTestPortLines(const std::filesystem::path& device, DWORD modemStatus);
struct TestPortOutputs {
    bool dtr = false;
    bool rts = false;
    bool known = false;  // false when no opener has set them yet
};
TestPortOutputs testPortOutputs(const std::filesystem::path& device);
// Forgets the line file of a device.
void clearTestPortLines(const std::filesystem::path& device);

// A pseudo-terminal: the master descriptor and the path of its device side,
// set to raw mode. Closing the master hangs the device side up.
struct PseudoTerminal {
    int master = -1;
    std::filesystem::path device;
};
std::optional<PseudoTerminal> openPseudoTerminal();
// Sets a descriptor of a terminal to raw mode; false when it is no terminal.
bool makeRaw(int fd);

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port for reading and writing, exclusively; a COM name maps
    // through `ports` (see the file comment). ERROR_FILE_NOT_FOUND when there is
    // no such device, ERROR_ACCESS_DENIED when it is in use.
    DWORD open(std::string_view portName, const SerialPortMap& ports = {});
    void close();
    // Hands the open descriptor over to another owner (in this process)
    // without closing it and without touching the lines: DTR stays as it is.
    // The exclusive claim on the device is given up with it. -1 when closed.
    int releaseDescriptor();
    // Takes over a descriptor that releaseDescriptor handed out, for the
    // device at `device`; ERROR_ACCESS_DENIED when another opener has the device.
    DWORD adopt(int fd, const std::filesystem::path& device);
    bool isOpen() const { return m_fd >= 0; }
    bool isPseudoTerminal() const { return m_pty; }
    const std::filesystem::path& device() const { return m_device; }

    DWORD getSettings(SerialSettings& settings) const;
    DWORD setSettings(const SerialSettings& settings);
    DWORD getTimeouts(SerialTimeouts& timeouts) const;
    DWORD setTimeouts(const SerialTimeouts& timeouts);
    // The driver's queue sizes: recorded for the callers that read them back;
    // the kernel's own buffers stay as they are.
    DWORD setQueueSizes(DWORD inBytes, DWORD outBytes);
    DWORD inQueueSize() const { return m_inQueueBytes; }
    DWORD outQueueSize() const { return m_outQueueBytes; }

    // Reads up to `size` bytes under the read time-outs; `got` is what came.
    // A time-out is not an error (ERROR_SUCCESS with fewer bytes); a hung-up
    // line gives ERROR_READ_FAULT once nothing is left; cancel() gives
    // ERROR_OPERATION_ABORTED.
    DWORD read(void* buffer, DWORD size, DWORD& got);
    // Reads what is there now, up to `size`, without waiting (for a reader
    // that has waited with waitReadable). A hung-up line with nothing left
    // gives ERROR_READ_FAULT.
    DWORD readAvailable(void* buffer, DWORD size, DWORD& got);
    // Writes under the write time-outs; `written` is what went. A time-out gives
    // ERROR_TIMEOUT with the part written.
    DWORD write(const void* data, DWORD size, DWORD& written);
    // The same, waiting for the line at most `maxWaitMs` in all even when the
    // write time-outs set no limit.
    DWORD write(const void* data, DWORD size, DWORD& written, DWORD maxWaitMs);
    // Waits until bytes can be read, up to timeoutMs (kSerialNoTimeout: no limit).
    // True when bytes are there or the line hung up.
    bool waitReadable(DWORD timeoutMs);
    // Wakes every read, write and wait blocked on this port; each returns
    // ERROR_OPERATION_ABORTED (or false). The next call works normally.
    void cancel();

    DWORD setDtr(bool on);
    DWORD setRts(bool on);
    DWORD modemStatus(DWORD& status) const;
    // Waits until a status line among `mask` (MS_* bits) changes; true on a
    // change, false on time-out, cancel or error.
    bool waitModemChange(DWORD mask, DWORD timeoutMs);
    DWORD purge(DWORD flags);
    // Clears and returns the line errors and the queue counts.
    DWORD clearErrors(DWORD& errors, SerialQueueCounts& counts);
    DWORD sendBreak(DWORD durationMs);

    int fd() const { return m_fd; }

    // The status lines seen through another descriptor of an open port (a
    // duplicate kept by a watcher while the owner uses the port).
    static DWORD modemStatusOf(int fd, const std::filesystem::path& device, bool pseudoTerminal, DWORD& status);

private:
    DWORD applySettings(const SerialSettings& s);
    void takeOver(int fd, int lockFd, const std::filesystem::path& device, const std::filesystem::path& lockPath);
    DWORD setOutputLine(int line, bool on);
    bool peerGone() const;
    int waitFor(short events, int timeoutMs);

    int m_fd = -1;
    int m_lockFd = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<unsigned> m_cancelGeneration{0};
    bool m_pty = false;
    std::filesystem::path m_device;
    std::filesystem::path m_lockPath;
    mutable std::mutex m_mutex;  // settings, time-outs and the pty line file
    SerialSettings m_settings;
    SerialTimeouts m_timeouts;
    DWORD m_inQueueBytes = 0;
    DWORD m_outQueueBytes = 0;
    int m_errorCounts[5] = {};  // the driver's frame, overrun, parity, break and buffer counts
};

}  // namespace platform
