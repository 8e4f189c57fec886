#include "platform/serial_port.h"

#include "platform/folders.h"
#include "platform/serial_speed.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

DWORD codeFromErrno(int e) {
    switch (e) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
        return ERROR_ACCESS_DENIED;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_READ_FAULT;
    }
}

// Unix98 pseudo-terminal device sides have majors 136..143.
bool isPtyDevice(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

std::filesystem::path serialFolder() {
    std::filesystem::path folder = runtimeFolder() / "serial";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

std::string flatName(const std::filesystem::path& device) {
    std::string s = device.lexically_normal().string();
    for (char& c : s) {
        if (c == '/') c = '_';
    }
    return s;
}

std::filesystem::path lineFile(const std::filesystem::path& device) { return serialFolder() / (flatName(device) + ".lines"); }

struct LineRecord {
    bool hasStatus = false;
    DWORD status = 0;
    bool hasOutputs = false;
    bool dtr = false;
    bool rts = false;
};

LineRecord readLineRecord(const std::filesystem::path& device) {
    LineRecord r;
    std::ifstream in(lineFile(device));
    std::string word;
    while (in >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = word.substr(0, eq);
        const unsigned long value = std::strtoul(word.c_str() + eq + 1, nullptr, 10);
        if (key == "status") {
            r.hasStatus = true;
            r.status = static_cast<DWORD>(value) & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        } else if (key == "dtr") {
            r.hasOutputs = true;
            r.dtr = value != 0;
        } else if (key == "rts") {
            r.hasOutputs = true;
            r.rts = value != 0;
        }
    }
    return r;
}

// Replaces the file whole so that a reader in another process never sees half
// of it. A lock file keeps two writers from losing each other's half.
void writeLineRecord(const std::filesystem::path& device, const LineRecord& r) {
    const std::filesystem::path file = lineFile(device);
    const std::string tmp = file.string() + ".tmp" + std::to_string(::getpid()) + "_" +
                            std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (r.hasStatus) out << "status=" << r.status << '\n';
        if (r.hasOutputs) out << "dtr=" << (r.dtr ? 1 : 0) << "\nrts=" << (r.rts ? 1 : 0) << '\n';
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    if (ec) std::filesystem::remove(tmp, ec);
}

// Read-modify-write of a line file under a lock shared by every process.
template <class F>
void updateLineRecord(const std::filesystem::path& device, F&& change) {
    const std::string lockPath = (serialFolder() / (flatName(device) + ".lines.lock")).string();
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd >= 0) ::flock(lockFd, LOCK_EX);
    LineRecord r = readLineRecord(device);
    change(r);
    writeLineRecord(device, r);
    if (lockFd >= 0) {
        ::flock(lockFd, LOCK_UN);
        ::close(lockFd);
    }
}

struct BaudEntry {
    DWORD rate;
    speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// The termios code of a standard rate; false for any other rate (14400,
// 56000, 128000, 256000, ...), which is set as an exact number instead.
bool standardSpeed(DWORD rate, speed_t& speed) {
    for (const auto& b : kBauds) {
        if (b.rate == rate) {
            speed = b.speed;
            return true;
        }
    }
    return false;
}

// Exclusive use among our processes: a lock file per device. The lock's
// descriptor, or -1 when another holder has the device.
int lockDevice(const std::filesystem::path& canonical, std::filesystem::path& lockPath) {
    lockPath = serialFolder() / (flatName(canonical) + ".lock");
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) return -1;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        return -1;
    }
    return lockFd;
}

void unlockDevice(int& lockFd) {
    if (lockFd < 0) return;
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    lockFd = -1;
}

// The rate the device runs at, or `fallback` when it is none of ours.
DWORD baudRateOf(int fd, DWORD fallback) {
    if (const DWORD exact = serial_speed::current(fd); exact != 0) return exact;
    termios t {};
    if (tcgetattr(fd, &t) != 0) return fallback;
    const speed_t sp = cfgetospeed(&t);
    for (const auto& b : kBauds) {
        if (b.speed == sp) return b.rate;
    }
    return fallback;
}

// A pty has no lines to drive: its outputs go to its line file.
void writePtyOutputs(const std::filesystem::path& device, bool dtr, bool rts) {
    updateLineRecord(device, [&](LineRecord& r) {
        r.hasOutputs = true;
        r.dtr = dtr;
        r.rts = rts;
    });
}

// Raw bytes, receiver on, no modem control, a read returns what is there.
void makeRawSettings(termios& t) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

}  // namespace

unsigned comPortNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 7) return 0;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return 0;
    }
    unsigned n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

std::filesystem::path serialDevicePath(std::string_view portName, const SerialPortMap& ports) {
    const unsigned n = comPortNumber(portName);
    if (n == 0) return std::filesystem::path(std::string(portName));
    const std::string var = "VELMOOR_COM" + std::to_string(n);
    if (const char* env = std::getenv(var.c_str()); env && *env) return env;
    if (const auto it = ports.find(n); it != ports.end() && !it->second.empty()) return it->second;
    return "/dev/ttyS" + std::to_string(n - 1);
}

void setTestPortLines(const std::filesystem::path& device, DWORD modemStatus) {
    updateLineRecord(device, [&](LineRecord& r) {
        r.hasStatus = true;
        r.status = modemStatus & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    });
}

TestPortOutputs testPortOutputs(const std::filesystem::path& device) {
    const LineRecord r = readLineRecord(device);
    return TestPortOutputs{r.dtr, r.rts, r.hasOutputs};
}

void clearTestPortLines(const std::filesystem::path& device) {
    std::error_code ec;
    std::filesystem::remove(lineFile(device), ec);
}

bool makeRaw(int fd) {
    termios t {};
    if (tcgetattr(fd, &t) != 0) return false;
    makeRawSettings(t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::optional<PseudoTerminal> openPseudoTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return std::nullopt;
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return std::nullopt;
    }
    makeRaw(master);
    // The device side's settings belong to the pty: make them raw too, so the
    // line discipline neither echoes nor edits what passes.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        makeRaw(slave);
        ::close(slave);
    }
    return PseudoTerminal{master, name};
}

SerialPort::SerialPort() {
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_wake[0] = m_wake[1] = -1;
    }
}

SerialPort::~SerialPort() {
    close();
    for (int& fd : m_wake) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

DWORD SerialPort::open(std::string_view portName, const SerialPortMap& ports) {
    if (m_fd >= 0) return ERROR_ACCESS_DENIED;
    const std::filesystem::path device = serialDevicePath(portName, ports);
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::canonical(device, ec);
    if (ec) return ERROR_FILE_NOT_FOUND;

    std::filesystem::path lockPath;
    int lockFd = lockDevice(canonical, lockPath);
    if (lockFd < 0) return ERROR_ACCESS_DENIED;
    const int fd = ::open(canonical.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const DWORD code = codeFromErrno(errno);
        unlockDevice(lockFd);
        return code;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        unlockDevice(lockFd);
        return ERROR_FILE_NOT_FOUND;
    }
    makeRaw(fd);
    takeOver(fd, lockFd, canonical, lockPath);
    m_inQueueBytes = 4096;
    m_outQueueBytes = 4096;
    if (m_pty) writePtyOutputs(m_device, false, false);
    return ERROR_SUCCESS;
}

void SerialPort::takeOver(int fd, int lockFd, const std::filesystem::path& device,
                          const std::filesystem::path& lockPath) {
    m_fd = fd;
    m_lockFd = lockFd;
    m_pty = isPtyDevice(fd);
    m_device = device;
    m_lockPath = lockPath;
    m_settings = SerialSettings{};
    m_timeouts = SerialTimeouts{};
    // Read back what the device runs at, so getSettings starts from the truth.
    m_settings.baudRate = baudRateOf(fd, m_settings.baudRate);
}

int SerialPort::releaseDescriptor() {
    if (m_fd < 0) return -1;
    const int fd = m_fd;
    m_fd = -1;
    unlockDevice(m_lockFd);
    m_pty = false;
    return fd;
}

DWORD SerialPort::adopt(int fd, const std::filesystem::path& device) {
    if (m_fd >= 0 || fd < 0 || !::isatty(fd)) return ERROR_INVALID_HANDLE;
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
    if (ec) return ERROR_FILE_NOT_FOUND;
    std::filesystem::path lockPath;
    const int lockFd = lockDevice(canonical, lockPath);
    if (lockFd < 0) return ERROR_ACCESS_DENIED;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    takeOver(fd, lockFd, canonical, lockPath);
    return ERROR_SUCCESS;
}

void SerialPort::close() {
    if (m_fd < 0) return;
    if (m_pty) {
        // The opener's outputs go down with the handle, as on a real port.
        writePtyOutputs(m_device, false, false);
    }
    ::close(m_fd);
    m_fd = -1;
    unlockDevice(m_lockFd);
    m_pty = false;
}

DWORD SerialPort::getSettings(SerialSettings& settings) const {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    std::lock_guard lock(m_mutex);
    settings = m_settings;
    return ERROR_SUCCESS;
}

DWORD SerialPort::setSettings(const SerialSettings& settings) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (settings.byteSize < 5 || settings.byteSize > 8 || settings.parity > 4 || settings.stopBits > 2 ||
        settings.baudRate == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_mutex);
    const DWORD code = applySettings(settings);
    if (code == ERROR_SUCCESS) m_settings = settings;
    return code;
}

DWORD SerialPort::applySettings(const SerialSettings& s) {
    termios t {};
    if (tcgetattr(m_fd, &t) != 0) return codeFromErrno(errno);
    const termios before = t;
    makeRawSettings(t);
    speed_t speed = B38400;
    const bool standard = standardSpeed(s.baudRate, speed);
    cfsetspeed(&t, speed);
    t.c_cflag &= ~CSIZE;
    t.c_cflag |= s.byteSize == 5 ? CS5 : s.byteSize == 6 ? CS6 : s.byteSize == 7 ? CS7 : CS8;
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    if (s.ctsOutFlow || s.rtsControl == RtsControl::Handshake) t.c_cflag |= CRTSCTS;
    if (s.parityCheck && s.parity != 0) t.c_iflag |= INPCK;
    if (s.xonXoffOut) t.c_iflag |= IXON;
    if (s.xonXoffIn) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    if (tcsetattr(m_fd, TCSANOW, &t) != 0) return codeFromErrno(errno);
    // Any other rate is set exactly or refused (the line keeps what it had):
    // it never runs silently at a neighbouring rate.
    if (!standard && !serial_speed::setExact(m_fd, s.baudRate)) {
        tcsetattr(m_fd, TCSANOW, &before);
        return ERROR_INVALID_PARAMETER;
    }
    // A pty accepts the settings but has no lines to drive; the outputs go to
    // its line file.
    const bool dtr = s.dtrControl != DtrControl::Disable;
    const bool rts = s.rtsControl != RtsControl::Disable;
    if (m_pty) {
        writePtyOutputs(m_device, dtr, rts);
    } else {
        int bits = TIOCM_DTR;
        ::ioctl(m_fd, dtr ? TIOCMBIS : TIOCMBIC, &bits);
        bits = TIOCM_RTS;
        if (!(t.c_cflag & CRTSCTS)) ::ioctl(m_fd, rts ? TIOCMBIS : TIOCMBIC, &bits);
    }
    return ERROR_SUCCESS;
}

DWORD SerialPort::getTimeouts(SerialTimeouts& timeouts) const {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    std::lock_guard lock(m_mutex);
    timeouts = m_timeouts;
    return ERROR_SUCCESS;
}

DWORD SerialPort::setTimeouts(const SerialTimeouts& timeouts) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
    return ERROR_SUCCESS;
}

DWORD SerialPort::setQueueSizes(DWORD inBytes, DWORD outBytes) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    std::lock_guard lock(m_mutex);
    m_inQueueBytes = inBytes;
    m_outQueueBytes = outBytes;
    return ERROR_SUCCESS;
}

// Polls the port and the wake pipe; returns the port's revents, 0 on time-out,
// -1 when cancelled. A stale wake byte (from a cancel every waiter has seen)
// is drained. Waits are cut in slices of a second so that a cancel whose byte
// another thread drained first is still noticed.
int SerialPort::waitFor(short events, int timeoutMs) {
    const unsigned generation = m_cancelGeneration.load();
    const auto deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (m_cancelGeneration.load() != generation) return -1;
        int slice = 1000;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) slice = 0;
            else slice = static_cast<int>(std::min<long long>(left, 1000));
        }
        pollfd fds[2] = {{m_fd, events, 0}, {m_wake[0], POLLIN, 0}};
        const int n = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, slice);
        if (n < 0) {
            if (errno == EINTR) continue;
            return POLLERR;
        }
        if (m_cancelGeneration.load() != generation) return -1;
        if (n > 0 && (fds[1].revents & POLLIN)) {
            char drain[64];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents) return fds[0].revents;
        if (slice == 0 || (timeoutMs >= 0 && Clock::now() >= deadline)) return 0;
    }
}

void SerialPort::cancel() {
    m_cancelGeneration.fetch_add(1);
    if (m_wake[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &b, 1);
    }
}

bool SerialPort::waitReadable(DWORD timeoutMs) {
    if (m_fd < 0) return false;
    const int r = waitFor(POLLIN, timeoutMs == kSerialNoTimeout ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF)));
    return r > 0;
}

DWORD SerialPort::read(void* buffer, DWORD size, DWORD& got) {
    got = 0;
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (size == 0) return ERROR_SUCCESS;
    if (!buffer) return ERROR_INVALID_PARAMETER;
    SerialTimeouts to;
    {
        std::lock_guard lock(m_mutex);
        to = m_timeouts;
    }
    auto* out = static_cast<BYTE*>(buffer);
    const bool returnAtOnce = to.readIntervalMs == kSerialNoTimeout && to.readTotalMultiplierMs == 0 &&
                              to.readTotalConstantMs == 0;
    const bool firstByteWait = to.readIntervalMs == kSerialNoTimeout && to.readTotalMultiplierMs == kSerialNoTimeout &&
                               to.readTotalConstantMs != 0 && to.readTotalConstantMs != kSerialNoTimeout;
    const auto start = Clock::now();
    std::optional<Clock::time_point> totalDeadline;
    if (firstByteWait) {
        totalDeadline = start + std::chrono::milliseconds(to.readTotalConstantMs);
    } else if (!returnAtOnce && (to.readTotalMultiplierMs != 0 || to.readTotalConstantMs != 0)) {
        const unsigned long long ms =
            static_cast<unsigned long long>(to.readTotalMultiplierMs) * size + to.readTotalConstantMs;
        totalDeadline = start + std::chrono::milliseconds(std::min<unsigned long long>(ms, 0x7FFFFFFFull));
    }
    const bool useInterval = !returnAtOnce && !firstByteWait && to.readIntervalMs != 0 &&
                             to.readIntervalMs != kSerialNoTimeout;
    Clock::time_point lastByte = start;
    for (;;) {
        const ssize_t n = ::read(m_fd, out + got, size - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            lastByte = Clock::now();
            if (got == size || firstByteWait) return ERROR_SUCCESS;
            continue;
        }
        if (n == 0 || (n < 0 && errno == EIO)) {
            // The other side hung up.
            return got > 0 ? ERROR_SUCCESS : ERROR_READ_FAULT;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return got > 0 ? ERROR_SUCCESS : codeFromErrno(errno);
        if (returnAtOnce) return ERROR_SUCCESS;
        // Nothing there: wait for more within the limits (-1: no limit).
        long long waitMs = -1;
        const auto now = Clock::now();
        if (totalDeadline) {
            waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(*totalDeadline - now).count();
        }
        if (useInterval && got > 0) {
            const long long left = static_cast<long long>(to.readIntervalMs) -
                                   std::chrono::duration_cast<std::chrono::milliseconds>(now - lastByte).count();
            waitMs = waitMs < 0 ? std::max(left, 0LL) : std::min(waitMs, left);
        }
        if (waitMs == 0 || (waitMs < 0 && totalDeadline)) return ERROR_SUCCESS;
        const int r = waitFor(POLLIN, waitMs < 0 ? -1 : static_cast<int>(std::min<long long>(waitMs, 0x7FFFFFFF)));
        if (r < 0) return ERROR_OPERATION_ABORTED;
        // Readable or hung up: the next read says which.
    }
}

DWORD SerialPort::readAvailable(void* buffer, DWORD size, DWORD& got) {
    got = 0;
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (size == 0) return ERROR_SUCCESS;
    if (!buffer) return ERROR_INVALID_PARAMETER;
    auto* out = static_cast<BYTE*>(buffer);
    while (got < size) {
        const ssize_t n = ::read(m_fd, out + got, size - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // 0 or EIO: the other side hung up.
        return got > 0 ? ERROR_SUCCESS : ERROR_READ_FAULT;
    }
    return ERROR_SUCCESS;
}

DWORD SerialPort::write(const void* data, DWORD size, DWORD& written) {
    return write(data, size, written, kSerialNoTimeout);
}

DWORD SerialPort::write(const void* data, DWORD size, DWORD& written, DWORD maxWaitMs) {
    written = 0;
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (size == 0) return ERROR_SUCCESS;
    if (!data) return ERROR_INVALID_PARAMETER;
    SerialTimeouts to;
    {
        std::lock_guard lock(m_mutex);
        to = m_timeouts;
    }
    std::optional<Clock::time_point> deadline;
    if (to.writeTotalMultiplierMs != 0 || to.writeTotalConstantMs != 0) {
        const unsigned long long ms =
            static_cast<unsigned long long>(to.writeTotalMultiplierMs) * size + to.writeTotalConstantMs;
        deadline = Clock::now() + std::chrono::milliseconds(std::min<unsigned long long>(ms, 0x7FFFFFFFull));
    }
    if (maxWaitMs != kSerialNoTimeout) {
        const auto cap = Clock::now() + std::chrono::milliseconds(maxWaitMs);
        if (!deadline || cap < *deadline) deadline = cap;
    }
    const auto* in = static_cast<const BYTE*>(data);
    while (written < size) {
        const ssize_t n = ::write(m_fd, in + written, size - written);
        if (n > 0) {
            written += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return errno == EIO ? ERROR_WRITE_FAULT : codeFromErrno(errno);
        int waitMs = -1;
        if (deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) return ERROR_TIMEOUT;
            waitMs = static_cast<int>(left);
        }
        const int r = waitFor(POLLOUT, waitMs);
        if (r < 0) return ERROR_OPERATION_ABORTED;
        if (r == 0) return ERROR_TIMEOUT;
        if (r & (POLLHUP | POLLERR)) return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

bool SerialPort::peerGone() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

DWORD SerialPort::setDtr(bool on) { return setOutputLine(TIOCM_DTR, on); }

DWORD SerialPort::setRts(bool on) { return setOutputLine(TIOCM_RTS, on); }

// Raises or drops one output line (TIOCM_DTR or TIOCM_RTS); on a pty the
// other output keeps what the line file says (down when it says nothing).
DWORD SerialPort::setOutputLine(int line, bool on) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (m_pty) {
        updateLineRecord(m_device, [&](LineRecord& r) {
            if (!r.hasOutputs) r.dtr = r.rts = false;
            r.hasOutputs = true;
            (line == TIOCM_DTR ? r.dtr : r.rts) = on;
        });
        return ERROR_SUCCESS;
    }
    int bits = line;
    return ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? ERROR_SUCCESS : codeFromErrno(errno);
}

DWORD SerialPort::modemStatus(DWORD& status) const {
    status = 0;
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    return modemStatusOf(m_fd, m_device, m_pty, status);
}

DWORD SerialPort::modemStatusOf(int fd, const std::filesystem::path& device, bool pseudoTerminal, DWORD& status) {
    status = 0;
    if (fd < 0) return ERROR_INVALID_HANDLE;
    if (pseudoTerminal) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) return ERROR_SUCCESS;
        const LineRecord r = readLineRecord(device);
        status = r.hasStatus ? r.status : (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
        return ERROR_SUCCESS;
    }
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) return codeFromErrno(errno);
    if (bits & TIOCM_CTS) status |= MS_CTS_ON;
    if (bits & TIOCM_DSR) status |= MS_DSR_ON;
    if (bits & TIOCM_RNG) status |= MS_RING_ON;
    if (bits & TIOCM_CAR) status |= MS_RLSD_ON;
    return ERROR_SUCCESS;
}

bool SerialPort::waitModemChange(DWORD mask, DWORD timeoutMs) {
    if (m_fd < 0) return false;
    DWORD before = 0;
    if (modemStatus(before) != ERROR_SUCCESS) return false;
    if (!m_pty && timeoutMs == kSerialNoTimeout) {
        // A real port tells the change itself; TIOCMIWAIT has no time limit,
        // so it serves only the unbounded wait.
        int bits = 0;
        if (mask & MS_CTS_ON) bits |= TIOCM_CTS;
        if (mask & MS_DSR_ON) bits |= TIOCM_DSR;
        if (mask & MS_RING_ON) bits |= TIOCM_RNG;
        if (mask & MS_RLSD_ON) bits |= TIOCM_CAR;
        return ::ioctl(m_fd, TIOCMIWAIT, bits) == 0;
    }
    // A pty's lines live in a file, and a bounded wait on a real port has no
    // kernel call: look every 20 ms.
    const unsigned generation = m_cancelGeneration.load();
    const auto deadline = timeoutMs == kSerialNoTimeout ? Clock::time_point::max()
                                                        : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DWORD now = 0;
        if (modemStatus(now) != ERROR_SUCCESS) return false;
        if ((now ^ before) & mask) return true;
        if (m_cancelGeneration.load() != generation || Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

DWORD SerialPort::purge(DWORD flags) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    if (flags & (PURGE_RXABORT | PURGE_TXABORT)) cancel();
    const bool rx = flags & (PURGE_RXCLEAR | PURGE_RXABORT);
    const bool tx = flags & (PURGE_TXCLEAR | PURGE_TXABORT);
    int which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    if (!rx && !tx) return ERROR_SUCCESS;
    return tcflush(m_fd, which) == 0 ? ERROR_SUCCESS : codeFromErrno(errno);
}

DWORD SerialPort::clearErrors(DWORD& errors, SerialQueueCounts& counts) {
    errors = 0;
    counts = {};
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) == 0 && n > 0) counts.inQueue = static_cast<DWORD>(n);
    n = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &n) == 0 && n > 0) counts.outQueue = static_cast<DWORD>(n);
    if (!m_pty) {
        // Line errors counted by the driver since the last call.
        serial_icounter_struct now {};
        if (::ioctl(m_fd, TIOCGICOUNT, &now) == 0) {
            const int counts[5] = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
            const DWORD bits[5] = {CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_BREAK, CE_RXOVER};
            std::lock_guard lock(m_mutex);
            for (int i = 0; i < 5; ++i) {
                if (counts[i] != m_errorCounts[i]) errors |= bits[i];
                m_errorCounts[i] = counts[i];
            }
        }
    } else if (peerGone()) {
        errors |= CE_IOE;
    }
    return ERROR_SUCCESS;
}

DWORD SerialPort::sendBreak(DWORD /*durationMs*/) {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    return tcsendbreak(m_fd, 0) == 0 ? ERROR_SUCCESS : codeFromErrno(errno);
}

}  // namespace platform
