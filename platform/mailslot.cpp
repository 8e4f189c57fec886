#include "platform/mailslot.h"

#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/named_lock.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::filesystem::path mailslotFolder() {
    auto folder = runtimeFolder() / "mailslot";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

// Runs `call` with the socket address of `path`. A path too long for sun_path
// is reached through its folder's descriptor (/proc/self/fd/N/name).
bool withAddress(const std::filesystem::path& path, const std::function<int(const sockaddr_un&)>& call) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string text = path.string();
    int folderFd = -1;
    if (text.size() >= sizeof address.sun_path) {
        folderFd = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) {
            setLastErrorFromErrno(errno);
            return false;
        }
        text = "/proc/self/fd/" + std::to_string(folderFd) + "/" + path.filename().string();
        if (text.size() >= sizeof address.sun_path) {
            ::close(folderFd);
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    int result = call(address);
    int savedErrno = errno;
    if (folderFd >= 0) {
        ::close(folderFd);
    }
    if (result != 0) {
        setLastErrorFromErrno(savedErrno);
        return false;
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Waits for `events` on fd up to timeoutMs (0xFFFFFFFF: no limit), measured on
// the monotonic clock across interruptions. 1 ready, 0 timed out, -1 failed.
int pollFor(int fd, short events, DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == 0xFFFFFFFF;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, waitMs);
        if (ready > 0) {
            return 1;
        }
        if (ready == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace

std::optional<std::string> mailslotLocalName(std::string_view name) {
    std::string text = lowered(name);
    std::string_view rest = text;
    if (rest.substr(0, 2) == "\\\\") {
        // \\<target>\mailslot\<name>: any target means this machine.
        auto slash = rest.find('\\', 2);
        if (slash == std::string_view::npos || slash == 2) {
            return std::nullopt;
        }
        rest = rest.substr(slash + 1);
        constexpr std::string_view kMailslot = "mailslot\\";
        if (rest.substr(0, kMailslot.size()) != kMailslot) {
            return std::nullopt;
        }
        rest = rest.substr(kMailslot.size());
    } else if (rest.find('\\') != std::string_view::npos) {
        return std::nullopt;
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    return std::string(rest);
}

MailslotServer::MailslotServer(std::string_view name, DWORD maxMessageBytes) {
    auto local = mailslotLocalName(name);
    bool remoteForm = name.size() >= 3 && name.substr(0, 2) == "\\\\" && name[2] != '.';
    if (!local || remoteForm) {  // only this machine's own mailslots can be created
        SetLastError(ERROR_INVALID_NAME);
        return;
    }
    m_maxMessageBytes = (maxMessageBytes == 0 || maxMessageBytes > kMailslotMaxMessageBytes)
                            ? kMailslotMaxMessageBytes
                            : maxMessageBytes;
    auto path = mailslotFolder() / lockFileName(*local);
    // The server holds this lock for its life; a socket file left by a server
    // that died is then known to be stale and is replaced.
    auto lockPath = path.string() + ".lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        setLastErrorFromErrno(errno);
        return;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        closeFd(m_lockFd);
        return;
    }
    ::unlink(path.c_str());
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        setLastErrorFromErrno(errno);
        closeFd(m_lockFd);
        return;
    }
    int fd = m_fd;
    if (!withAddress(path, [fd](const sockaddr_un& a) {
            return ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        })) {
        closeFd(m_fd);
        closeFd(m_lockFd);
        return;
    }
    m_socketPath = path.string();
}

MailslotServer::~MailslotServer() {
    if (!m_socketPath.empty()) {
        ::unlink(m_socketPath.c_str());
    }
    closeFd(m_fd);
    closeFd(m_lockFd);
}

MailslotServer::ReadResult MailslotServer::read(std::vector<char>& message, DWORD timeoutMs) {
    message.clear();
    if (m_fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ReadResult::Failed;
    }
    std::vector<char> buffer(m_maxMessageBytes + 1);
    for (;;) {
        int ready = pollFor(m_fd, POLLIN, timeoutMs);
        if (ready == 0) {
            SetLastError(ERROR_TIMEOUT);
            return ReadResult::TimedOut;
        }
        if (ready < 0) {
            setLastErrorFromErrno(errno);
            return ReadResult::Failed;
        }
        ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            setLastErrorFromErrno(errno);
            return ReadResult::Failed;
        }
        if (static_cast<std::size_t>(got) > m_maxMessageBytes) {
            continue;  // larger than this mailslot takes: dropped whole
        }
        message.assign(buffer.data(), buffer.data() + got);
        return ReadResult::Message;
    }
}

MailslotClient::MailslotClient(std::string_view name) {
    auto local = mailslotLocalName(name);
    if (!local) {
        SetLastError(ERROR_INVALID_NAME);
        return;
    }
    auto path = mailslotFolder() / lockFileName(*local);
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        setLastErrorFromErrno(errno);
        return;
    }
    int fd = m_fd;
    if (!withAddress(path, [fd](const sockaddr_un& a) {
            return ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        })) {
        // No socket, or one that nobody reads any more: no such mailslot.
        SetLastError(ERROR_FILE_NOT_FOUND);
        closeFd(m_fd);
    }
}

MailslotClient::~MailslotClient() { closeFd(m_fd); }

MailslotClient::MailslotClient(MailslotClient&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_writeTimeoutMs(other.m_writeTimeoutMs) {}

MailslotClient& MailslotClient::operator=(MailslotClient&& other) noexcept {
    if (this != &other) {
        closeFd(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_writeTimeoutMs = other.m_writeTimeoutMs;
    }
    return *this;
}

bool MailslotClient::write(const void* data, DWORD bytes) {
    if (m_fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (bytes > kMailslotMaxMessageBytes || (data == nullptr && bytes > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    for (;;) {
        ssize_t sent = ::send(m_fd, data, bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(bytes)) {
            return true;
        }
        if (sent >= 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            setLastErrorFromErrno(errno);
            return false;
        }
        int ready = pollFor(m_fd, POLLOUT, m_writeTimeoutMs);
        if (ready == 0) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        if (ready < 0) {
            setLastErrorFromErrno(errno);
            return false;
        }
    }
}

}  // namespace platform
