#include "platform/local_bus.h"

#include "platform/folders.h"
#include "platform/message_window_detail.h"

#include <QString>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <string>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace platform {
namespace detail {
namespace {

static_assert(std::endian::native == std::endian::little,
              "bus records are written in the machine's order, which must be little-endian");

namespace fs = std::filesystem;

constexpr std::uint32_t kRequestMagic = 0x53554256;  // "VBUS"
constexpr std::uint32_t kReplyMagic = 0x52554256;    // "VBUR"
constexpr std::uint32_t kAdvertMagic = 0x57554256;   // "VBUW"
constexpr std::uint16_t kBusVersion = 1;

enum : std::uint16_t { kKindSend = 1, kKindPost = 2 };
enum : std::uint32_t { kFlagFd = 1, kFlagCopyData = 2, kKnownFlags = kFlagFd | kFlagCopyData };
enum : std::uint32_t { kStatusHandled = 0, kStatusNotHandled = 1 };

constexpr HWND kFirstHandle = 0x00010010;
constexpr HWND kLastSharedHandle = 0x7FFFFFFF;
constexpr HWND kMaxHandle = 0xFFFFFFFF;
constexpr UINT kPostTimeoutMs = 5000;
constexpr UINT kProbeTimeoutMs = 1000;
constexpr std::size_t kMaxMessageTableBytes = 4u << 20;

#pragma pack(push, 1)
// One request per connection: this header, then dataBytes of WM_COPYDATA data.
// A passed descriptor travels with the header's bytes.
struct BusRequest {
    std::uint32_t magic;
    std::uint16_t version;
    std::uint16_t kind;
    std::uint32_t target;
    std::uint32_t msg;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint64_t dwData;
    std::uint32_t dataBytes;
    std::uint32_t flags;
};
static_assert(sizeof(BusRequest) == 48);

// The answer to a send.
struct BusReply {
    std::uint32_t magic;
    std::uint32_t status;
    std::int64_t result;
};
static_assert(sizeof(BusReply) == 16);

// The advertisement file of a published window: this header, the class name,
// the title (UTF-8, no terminators).
struct BusAdvert {
    std::uint32_t magic;
    std::uint16_t version;
    std::uint16_t reserved;
    std::uint32_t pid;
    std::uint32_t hwnd;
    std::uint16_t classBytes;
    std::uint16_t titleBytes;
};
static_assert(sizeof(BusAdvert) == 20);
#pragma pack(pop)

fs::path busFolder() {
    fs::path folder = runtimeFolder() / "bus";
    std::error_code ignored;
    if (fs::create_directories(folder, ignored)) {
        // Only this user may reach the windows' sockets.
        ::chmod(folder.c_str(), 0700);
    }
    return folder;
}

std::string handleName(HWND hwnd) {
    char name[16];
    std::snprintf(name, sizeof name, "%08lx", static_cast<unsigned long>(hwnd));
    return name;
}

fs::path socketPath(const fs::path& folder, HWND hwnd) { return folder / handleName(hwnd); }
fs::path advertPath(const fs::path& folder, HWND hwnd) { return folder / (handleName(hwnd) + ".w"); }

// Runs a bind() or connect() on a socket address for path. A path too long for
// sun_path is reached through the folder's descriptor under /proc/self/fd.
template <typename Call>
int withAddress(const fs::path& path, Call&& call) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string text = path.string();
    Fd folder;
    if (text.size() >= sizeof address.sun_path) {
        folder = Fd(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid()) {
            return -1;
        }
        text = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
        if (text.size() >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return -1;
        }
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return call(reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(sizeof address));
}

bool validHandle(HWND hwnd) { return hwnd != 0 && hwnd != HWND_BROADCAST && hwnd <= kMaxHandle; }

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

bool sameText(std::string_view a, const char* b) {
    if (b == nullptr) {
        return true;
    }
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// ---- advertisements ----

struct Advert {
    DWORD pid = 0;
    HWND hwnd = 0;
    std::string className;
    std::string title;
};

bool writeAdvert(const fs::path& folder, HWND hwnd, std::string_view className, std::string_view title) {
    BusAdvert header{kAdvertMagic, kBusVersion, 0, static_cast<std::uint32_t>(::getpid()),
                     static_cast<std::uint32_t>(hwnd), static_cast<std::uint16_t>(className.size()),
                     static_cast<std::uint16_t>(title.size())};
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(className);
    bytes.append(title);
    fs::path target = advertPath(folder, hwnd);
    fs::path temporary = target;
    temporary += ".tmp";
    Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.valid()) {
        return false;
    }
    if (::write(file.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        ::unlink(temporary.c_str());
        return false;
    }
    file.reset();
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Reads an advertisement; it may have been written by any process, so every
// count is checked against the bytes really there.
std::optional<Advert> readAdvert(const fs::path& path) {
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.valid()) {
        return std::nullopt;
    }
    constexpr std::size_t kMaxBytes = sizeof(BusAdvert) + kMaxClassNameBytes + kMaxWindowTitleBytes;
    char buffer[kMaxBytes + 1];
    std::size_t got = 0;
    while (got < sizeof buffer) {
        ssize_t n = ::read(file.get(), buffer + got, sizeof buffer - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got < sizeof(BusAdvert) || got > kMaxBytes) {
        return std::nullopt;
    }
    BusAdvert header;
    std::memcpy(&header, buffer, sizeof header);
    if (header.magic != kAdvertMagic || header.version != kBusVersion || header.classBytes > kMaxClassNameBytes ||
        header.titleBytes > kMaxWindowTitleBytes ||
        sizeof header + header.classBytes + header.titleBytes != got || !validHandle(header.hwnd)) {
        return std::nullopt;
    }
    Advert advert;
    advert.pid = header.pid;
    advert.hwnd = header.hwnd;
    advert.className.assign(buffer + sizeof header, header.classBytes);
    advert.title.assign(buffer + sizeof header + header.classBytes, header.titleBytes);
    return advert;
}

// Every advertisement in the bus folder, newest handle first.
std::vector<Advert> listAdverts(const fs::path& folder) {
    std::vector<Advert> adverts;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return adverts;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.size() != 10 || !name.ends_with(".w")) {
            continue;
        }
        if (auto advert = readAdvert(folder / std::string(name))) {
            if (handleName(advert->hwnd) + ".w" == name) {
                adverts.push_back(std::move(*advert));
            }
        }
    }
    ::closedir(dir);
    std::sort(adverts.begin(), adverts.end(), [](const Advert& a, const Advert& b) { return a.hwnd > b.hwnd; });
    return adverts;
}

// ---- client side ----

enum class Reach { Connected, Gone, Busy };

// Connects to a published window's socket (non-blocking). Gone: nobody listens
// there (no socket, or its process died).
Reach connectWindow(const fs::path& folder, HWND hwnd, const Deadline& deadline, Fd& out) {
    fs::path path = socketPath(folder, hwnd);
    // A full backlog is retried a little, but never without limit.
    Deadline retryUntil = Clock::now() + std::chrono::milliseconds(kProbeTimeoutMs * 5);
    if (deadline && *deadline < *retryUntil) {
        retryUntil = deadline;
    }
    for (;;) {
        Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket.valid()) {
            return Reach::Busy;
        }
        int rc = withAddress(path, [&](const sockaddr* address, socklen_t length) {
            return ::connect(socket.get(), address, length);
        });
        if (rc == 0) {
            out = std::move(socket);
            return Reach::Connected;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            if (pollTimeout(retryUntil) == 0) {
                return Reach::Busy;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        return (errno == ECONNREFUSED || errno == ENOENT || errno == ENOTSOCK) ? Reach::Gone : Reach::Busy;
    }
}

bool waitWritable(int fd, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, POLLOUT, 0};
        int ready = ::poll(&entry, 1, pollTimeout(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && (entry.revents & POLLOUT) != 0;
    }
}

// Writes the request header and data; the descriptor goes with the first bytes.
bool writeRequest(int socket, const BusRequest& header, const void* data, std::size_t dataBytes, int passFd,
                  const Deadline& deadline) {
    std::size_t total = sizeof header + dataBytes;
    std::size_t sent = 0;
    bool fdSent = passFd < 0;
    while (sent < total) {
        iovec parts[2];
        int count = 0;
        if (sent < sizeof header) {
            parts[count++] = {const_cast<char*>(reinterpret_cast<const char*>(&header)) + sent, sizeof header - sent};
            if (dataBytes > 0) {
                parts[count++] = {const_cast<void*>(data), dataBytes};
            }
        } else {
            parts[count++] = {static_cast<char*>(const_cast<void*>(data)) + (sent - sizeof header), total - sent};
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<std::size_t>(count);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (!fdSent) {
            std::memset(control, 0, sizeof control);
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
        }
        ssize_t n = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN && waitWritable(socket, deadline)) {
                continue;
            }
            return false;
        }
        fdSent = true;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Fills a request for msg; false when its WM_COPYDATA record is unusable.
bool buildRequest(HWND hwnd, std::uint16_t kind, UINT msg, WPARAM wParam, LPARAM lParam, int fd,
                  BusRequest& header, const void*& data) {
    header = BusRequest{kRequestMagic, kBusVersion, kind, static_cast<std::uint32_t>(hwnd), msg,
                        static_cast<std::uint64_t>(wParam), static_cast<std::int64_t>(lParam), 0, 0, 0};
    data = nullptr;
    if (fd >= 0) {
        header.flags = kFlagFd;
        header.lParam = 0;
        return true;
    }
    if (msg == WM_COPYDATA) {
        header.flags = kFlagCopyData;
        header.lParam = 0;
        if (lParam != 0) {
            const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (record->cbData > kMaxCopyDataBytes || (record->cbData > 0 && record->lpData == nullptr)) {
                return false;
            }
            header.dwData = record->dwData;
            header.dataBytes = record->cbData;
            data = record->lpData;
        }
    }
    return true;
}

// ---- the receiving side: one thread per process serves every published window ----

// Accepts connections to the published windows' sockets, reads one request from
// each, hands it to the window's owner thread and writes the answer back. The
// state below the mutex is the bus thread's own; the mutex guards the queues
// that other threads fill (listener changes, answers). Lives to the end of the
// process.
class BusServer {
public:
    static BusServer& instance() {
        static auto* server = new BusServer;
        return *server;
    }

    void addListener(HWND hwnd, Fd listener) { change(hwnd, std::move(listener)); }
    void removeListener(HWND hwnd) { change(hwnd, Fd()); }

private:
    enum class State { Header, Data, Waiting };

    struct Connection {
        Fd socket;
        HWND target = 0;
        State state = State::Header;
        Clock::time_point deadline;
        BusRequest header{};
        std::size_t got = 0;
        std::vector<char> data;
        Fd passed;
    };

    struct Answer {
        std::uint64_t connection;
        bool handled;
        LRESULT result;
    };

    BusServer() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        std::thread([this] { run(); }).detach();
    }

    void change(HWND hwnd, Fd listener) {
        {
            std::lock_guard lock(m_mutex);
            m_changes.emplace_back(hwnd, std::move(listener));
        }
        signal();
    }

    void answer(std::uint64_t connection, bool handled, LRESULT result) {
        {
            std::lock_guard lock(m_mutex);
            m_answers.push_back({connection, handled, result});
        }
        signal();
    }

    void signal() {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wake.get(), &one, sizeof one);
    }

    void run() {
        std::vector<pollfd> fds;
        std::vector<std::pair<bool, std::uint64_t>> owners;  // listener? , key
        for (;;) {
            fds.clear();
            owners.clear();
            fds.push_back({m_wake.get(), POLLIN, 0});
            owners.emplace_back(false, 0);
            for (auto& [hwnd, listener] : m_listeners) {
                fds.push_back({listener.get(), POLLIN, 0});
                owners.emplace_back(true, hwnd);
            }
            Deadline nearest;
            for (auto& [id, connection] : m_connections) {
                if (connection.state == State::Waiting) {
                    continue;
                }
                fds.push_back({connection.socket.get(), POLLIN, 0});
                owners.emplace_back(false, id);
                if (!nearest || connection.deadline < *nearest) {
                    nearest = connection.deadline;
                }
            }
            int ready = ::poll(fds.data(), fds.size(), pollTimeout(nearest));
            if (ready < 0 && errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (fds[0].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto n = ::read(m_wake.get(), &count, sizeof count);
            }
            applyChanges();
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                if (owners[i].first) {
                    acceptFrom(static_cast<HWND>(owners[i].second), fds[i].fd);
                } else {
                    auto found = m_connections.find(owners[i].second);
                    if (found != m_connections.end() && !readFrom(found->first, found->second)) {
                        m_connections.erase(found);
                    }
                }
            }
            // A peer that does not finish its request in time is cut off.
            auto now = Clock::now();
            std::erase_if(m_connections, [now](const auto& item) {
                return item.second.state != State::Waiting && item.second.deadline <= now;
            });
        }
    }

    void applyChanges() {
        std::vector<std::pair<HWND, Fd>> changes;
        std::vector<Answer> answers;
        {
            std::lock_guard lock(m_mutex);
            changes.swap(m_changes);
            answers.swap(m_answers);
        }
        for (auto& [hwnd, listener] : changes) {
            if (listener.valid()) {
                m_listeners[hwnd] = std::move(listener);
            } else {
                m_listeners.erase(hwnd);
            }
        }
        for (const Answer& a : answers) {
            auto found = m_connections.find(a.connection);
            if (found == m_connections.end()) {
                continue;
            }
            BusReply reply{kReplyMagic, a.handled ? kStatusHandled : kStatusNotHandled,
                           static_cast<std::int64_t>(a.result)};
            // The sender is waiting for these 16 bytes on an empty socket; if they do
            // not fit at once the sender is gone or broken, and it gets nothing.
            [[maybe_unused]] auto n = ::send(found->second.socket.get(), &reply, sizeof reply,
                                             MSG_NOSIGNAL | MSG_DONTWAIT);
            m_connections.erase(found);
        }
    }

    void acceptFrom(HWND hwnd, int listener) {
        for (;;) {
            Fd socket(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!socket.valid()) {
                return;
            }
            if (m_connections.size() >= kMaxBusConnections) {
                continue;  // closed at once: the sender fails instead of waiting
            }
            Connection connection;
            connection.socket = std::move(socket);
            connection.target = hwnd;
            connection.deadline = Clock::now() + std::chrono::milliseconds(kBusReceiveTimeoutMs);
            m_connections.emplace(m_nextConnection++, std::move(connection));
        }
    }

    bool validHeader(const Connection& c) const {
        const BusRequest& h = c.header;
        bool copyData = (h.flags & kFlagCopyData) != 0;
        bool passesFd = (h.flags & kFlagFd) != 0;
        return h.magic == kRequestMagic && h.version == kBusVersion &&
               (h.kind == kKindSend || h.kind == kKindPost) && h.target == c.target &&
               (h.flags & ~kKnownFlags) == 0 && !(copyData && passesFd) && copyData == (h.msg == WM_COPYDATA) &&
               h.dataBytes <= kMaxCopyDataBytes && (copyData || h.dataBytes == 0);
    }

    // Reads what has arrived; false when the connection is to be closed.
    bool readFrom(std::uint64_t id, Connection& c) {
        for (;;) {
            char* buffer = nullptr;
            std::size_t want = 0;
            if (c.state == State::Header) {
                buffer = reinterpret_cast<char*>(&c.header) + c.got;
                want = sizeof c.header - c.got;
            } else if (c.state == State::Data) {
                buffer = c.data.data() + c.got;
                want = c.data.size() - c.got;
            } else {
                return true;
            }
            iovec part{buffer, want};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            ssize_t n = ::recvmsg(c.socket.get(), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno == EAGAIN;
            }
            // Take every descriptor that came, so none leaks; only one, with the
            // header, is allowed.
            bool unexpected = (message.msg_flags & MSG_CTRUNC) != 0;
            for (cmsghdr* cm = CMSG_FIRSTHDR(&message); cm != nullptr; cm = CMSG_NXTHDR(&message, cm)) {
                if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) {
                    continue;
                }
                std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int fd = -1;
                    std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof fd);
                    Fd received(fd);
                    if (c.state == State::Header && !c.passed.valid()) {
                        c.passed = std::move(received);
                    } else {
                        unexpected = true;
                    }
                }
            }
            if (unexpected || n == 0) {
                return false;
            }
            c.got += static_cast<std::size_t>(n);
            if (c.state == State::Header && c.got == sizeof c.header) {
                if (!validHeader(c)) {
                    return false;
                }
                c.data.resize(c.header.dataBytes);
                c.got = 0;
                c.state = State::Data;
            }
            if (c.state == State::Data && c.got == c.data.size()) {
                return dispatch(id, c);
            }
        }
    }

    // A whole request has arrived. False when the connection is done with.
    bool dispatch(std::uint64_t id, Connection& c) {
        const BusRequest& h = c.header;
        if (((h.flags & kFlagFd) != 0) != c.passed.valid()) {
            return false;
        }
        bool copyData = (h.flags & kFlagCopyData) != 0;
        HWND target = c.target;
        if (h.kind == kKindPost) {
            postOwned(target, h.msg, static_cast<WPARAM>(h.wParam), static_cast<LPARAM>(h.lParam), copyData,
                      static_cast<ULONG_PTR>(h.dwData), std::move(c.data), std::move(c.passed));
            return false;
        }
        auto message = std::make_shared<SentMessage>();
        message->hwnd = target;
        message->msg = h.msg;
        message->wParam = static_cast<WPARAM>(h.wParam);
        message->lParam = static_cast<LPARAM>(h.lParam);
        message->copyData = copyData;
        message->cds.dwData = static_cast<ULONG_PTR>(h.dwData);
        message->data = std::move(c.data);
        message->fd = std::move(c.passed);
        message->onDone = [this, id](bool handled, LRESULT result) { answer(id, handled, result); };
        c.state = State::Waiting;
        deliverSent(std::move(message));
        return true;
    }

    std::mutex m_mutex;
    std::vector<std::pair<HWND, Fd>> m_changes;
    std::vector<Answer> m_answers;
    Fd m_wake;

    // The bus thread's own.
    std::map<HWND, Fd> m_listeners;
    std::map<std::uint64_t, Connection> m_connections;
    std::uint64_t m_nextConnection = 1;
};

// ---- windows of this process on the bus ----

struct PublishedWindow {
    std::string className;
    std::string title;
    std::uint64_t order = 0;
    fs::path folder;
};

struct PublishedTable {
    std::mutex mutex;
    std::map<HWND, PublishedWindow> windows;
    std::uint64_t nextOrder = 1;
};

PublishedTable& published() {
    static auto* table = new PublishedTable;
    return *table;
}

void removeFiles(const fs::path& folder, HWND hwnd) {
    ::unlink(advertPath(folder, hwnd).c_str());
    ::unlink(socketPath(folder, hwnd).c_str());
}

// The first published window of this process that matches.
HWND findLocal(const char* className, const char* title) {
    auto& table = published();
    std::lock_guard lock(table.mutex);
    HWND best = 0;
    std::uint64_t bestOrder = 0;
    for (auto& [hwnd, window] : table.windows) {
        if (sameText(window.className, className) && sameText(window.title, title) &&
            (best == 0 || window.order < bestOrder)) {
            best = hwnd;
            bestOrder = window.order;
        }
    }
    return best;
}

}  // namespace

HWND allocateWindowHandle() {
    // Handles come from one counter shared by the processes of the runtime folder,
    // so a handle names one window everywhere and is not given out twice.
    fs::path counter = busFolder() / "handles";
    Fd file(::open(counter.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (file.valid() && ::flock(file.get(), LOCK_EX) == 0) {
        std::uint32_t next = 0;
        ssize_t n = ::pread(file.get(), &next, sizeof next, 0);
        if (n != sizeof next || next < kFirstHandle || next > kLastSharedHandle) {
            next = kFirstHandle;
        }
        std::uint32_t following = next + 1 > kLastSharedHandle ? kFirstHandle : next + 1;
        if (::pwrite(file.get(), &following, sizeof following, 0) == sizeof following) {
            return next;  // closing the file releases the lock
        }
    }
    // Without a usable bus folder the window cannot be published anyway: take a
    // random handle above the shared range that this process does not use.
    static std::mutex mutex;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    for (;;) {
        HWND candidate = static_cast<HWND>(random() | 0x80000000u);
        if (candidate != kMaxHandle && !isLocalWindow(candidate)) {
            return candidate;
        }
    }
}

bool remoteIsWindow(HWND hwnd) {
    if (!validHandle(hwnd)) {
        return false;
    }
    Fd socket;
    Reach reach = connectWindow(busFolder(), hwnd, deadlineAfter(kProbeTimeoutMs), socket);
    return reach != Reach::Gone;
}

bool remotePost(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd) {
    if (!validHandle(hwnd)) {
        return false;
    }
    BusRequest header;
    const void* data = nullptr;
    if (!buildRequest(hwnd, kKindPost, msg, wParam, lParam, fd, header, data)) {
        return false;
    }
    Deadline deadline = deadlineAfter(kPostTimeoutMs);
    Fd socket;
    if (connectWindow(busFolder(), hwnd, deadline, socket) != Reach::Connected) {
        return false;
    }
    return writeRequest(socket.get(), header, data, header.dataBytes, fd, deadline);
}

bool remoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd, UINT flags, const Deadline& deadline,
                LRESULT& result) {
    if (!validHandle(hwnd)) {
        return false;
    }
    BusRequest header;
    const void* data = nullptr;
    if (!buildRequest(hwnd, kKindSend, msg, wParam, lParam, fd, header, data)) {
        return false;
    }
    Fd socket;
    if (connectWindow(busFolder(), hwnd, deadline, socket) != Reach::Connected ||
        !writeRequest(socket.get(), header, data, header.dataBytes, fd, deadline)) {
        return false;
    }
    BusReply reply{};
    std::size_t got = 0;
    while (got < sizeof reply) {
        if (!waitReadable(socket.get(), deadline, (flags & SMTO_BLOCK) == 0)) {
            return false;  // timed out: closing the socket tells the receiver
        }
        ssize_t n = ::recv(socket.get(), reinterpret_cast<char*>(&reply) + got, sizeof reply - got, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;  // the receiver went away (or refused the request)
        }
        got += static_cast<std::size_t>(n);
    }
    if (reply.magic != kReplyMagic || reply.status != kStatusHandled) {
        return false;
    }
    result = static_cast<LRESULT>(reply.result);
    return true;
}

std::vector<HWND> broadcastTargets() {
    std::vector<HWND> targets;
    {
        auto& table = published();
        std::lock_guard lock(table.mutex);
        for (auto& [hwnd, window] : table.windows) {
            targets.push_back(hwnd);
        }
    }
    auto self = static_cast<DWORD>(::getpid());
    for (auto& advert : listAdverts(busFolder())) {
        if (advert.pid != self) {
            targets.push_back(advert.hwnd);
        }
    }
    return targets;
}

void unpublishOnDestroy(HWND hwnd) { unpublishWindow(hwnd); }

}  // namespace detail

using namespace detail;

namespace {

// Look-ups that found nothing, each remembered with the bus folder's change
// time. Every publication and removal renames or unlinks a file there, which
// changes that time, so while it stands the same look-up finds nothing again
// without reading every advertisement (the heartbeat looks for a watchdog that
// is usually not there). Only a change time older than the file system's
// coarse clock can tick is remembered: a window published in the same tick as
// a look-up is never missed.
class MissedLookups {
public:
    static MissedLookups& instance() {
        static MissedLookups lookups;
        return lookups;
    }

    // The folder's state now; false when it cannot be read (nothing is remembered then).
    static bool folderState(const fs::path& folder, struct stat& state) { return ::stat(folder.c_str(), &state) == 0; }

    bool stillMissing(const std::string& key, const struct stat& folder) {
        std::lock_guard lock(m_mutex);
        auto found = m_missed.find(key);
        return found != m_missed.end() && sameState(found->second, folder);
    }

    void remember(const std::string& key, const struct stat& folder) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (folder.st_mtim.tv_sec + kSettledSeconds > now.tv_sec) {
            return;
        }
        std::lock_guard lock(m_mutex);
        if (m_missed.size() >= kMaxRemembered) {
            m_missed.clear();
        }
        m_missed[key] = folder;
    }

private:
    static constexpr time_t kSettledSeconds = 2;
    static constexpr std::size_t kMaxRemembered = 64;

    static bool sameState(const struct stat& a, const struct stat& b) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
               a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, struct stat> m_missed;
};

// The key of a look-up: a missing name differs from an empty one.
std::string lookupKey(const char* className, const char* title) {
    std::string key = className != nullptr ? "c" + std::string(className) : "-";
    key += '\0';
    key += title != nullptr ? "t" + std::string(title) : "-";
    return key;
}

}  // namespace

bool publishWindow(HWND hwnd, std::string_view className, std::string_view title) {
    if (className.size() > kMaxClassNameBytes || title.size() > kMaxWindowTitleBytes || !validHandle(hwnd)) {
        return false;
    }
    auto& table = published();
    std::lock_guard lock(table.mutex);
    if (!isLocalWindow(hwnd)) {
        return false;
    }
    auto existing = table.windows.find(hwnd);
    if (existing != table.windows.end()) {
        if (!writeAdvert(existing->second.folder, hwnd, className, title)) {
            return false;
        }
        existing->second.className = className;
        existing->second.title = title;
        return true;
    }
    fs::path folder = busFolder();
    fs::path path = socketPath(folder, hwnd);
    Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.valid()) {
        return false;
    }
    ::unlink(path.c_str());
    int rc = withAddress(path, [&](const sockaddr* address, socklen_t length) {
        return ::bind(listener.get(), address, length);
    });
    if (rc != 0 || ::chmod(path.c_str(), 0600) != 0 || ::listen(listener.get(), 128) != 0) {
        ::unlink(path.c_str());
        return false;
    }
    // The advertisement comes last: whoever reads it can already connect.
    if (!writeAdvert(folder, hwnd, className, title)) {
        ::unlink(path.c_str());
        return false;
    }
    BusServer::instance().addListener(hwnd, std::move(listener));
    table.windows[hwnd] = PublishedWindow{std::string(className), std::string(title), table.nextOrder++, folder};
    return true;
}

void unpublishWindow(HWND hwnd) {
    auto& table = published();
    std::lock_guard lock(table.mutex);
    auto found = table.windows.find(hwnd);
    if (found == table.windows.end()) {
        return;
    }
    removeFiles(found->second.folder, hwnd);
    table.windows.erase(found);
    BusServer::instance().removeListener(hwnd);
}

HWND FindWindow(const char* className, const char* title) {
    if (HWND local = findLocal(className, title)) {
        return local;
    }
    fs::path folder = busFolder();
    // The folder's state is read before its advertisements, so a change made
    // while they are read is seen by the next look-up.
    const std::string key = lookupKey(className, title);
    struct stat before {};
    const bool stated = MissedLookups::folderState(folder, before);
    if (stated && MissedLookups::instance().stillMissing(key, before)) {
        return 0;
    }
    auto self = static_cast<DWORD>(::getpid());
    for (const Advert& advert : listAdverts(folder)) {
        if (advert.pid == self || !sameText(advert.className, className) || !sameText(advert.title, title)) {
            continue;
        }
        Fd socket;
        Reach reach = connectWindow(folder, advert.hwnd, deadlineAfter(kProbeTimeoutMs), socket);
        if (reach == Reach::Gone) {
            removeFiles(folder, advert.hwnd);  // its process died without cleaning up
            continue;
        }
        return advert.hwnd;
    }
    if (stated) {
        MissedLookups::instance().remember(key, before);
    }
    return 0;
}

DWORD windowProcessId(HWND hwnd) {
    if (!validHandle(hwnd)) {
        return 0;
    }
    if (isLocalWindow(hwnd)) {
        return static_cast<DWORD>(::getpid());
    }
    fs::path folder = busFolder();
    auto advert = readAdvert(advertPath(folder, hwnd));
    if (!advert || advert->hwnd != hwnd) {
        return 0;
    }
    Fd socket;
    if (connectWindow(folder, hwnd, deadlineAfter(kProbeTimeoutMs), socket) == Reach::Gone) {
        return 0;
    }
    return advert->pid;
}

namespace {

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kRegisteredMessageCount = 0x4000;

UINT hashedMessage(const std::string& lower) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : lower) {
        hash = (hash ^ c) * 16777619u;
    }
    return kFirstRegisteredMessage + hash % kRegisteredMessageCount;
}

// Looks the name up in the shared table under the bus folder, adding it when
// new: its number is the first free one from its hash on. 0 when the table
// cannot be used.
UINT sharedMessage(const fs::path& folder, const std::string& lower) {
    fs::path path = folder / "messages";
    Fd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!file.valid() || ::flock(file.get(), LOCK_EX) != 0) {
        return 0;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || info.st_size < 0 ||
        static_cast<std::size_t>(info.st_size) > kMaxMessageTableBytes) {
        return 0;
    }
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::pread(file.get(), text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return 0;
        }
        got += static_cast<std::size_t>(n);
    }
    // Lines "XXXX name"; anything else (a line cut short by a crash) is skipped.
    std::unordered_set<UINT> taken;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            break;  // no line end: an unfinished line
        }
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.size() < 6 || line[4] != ' ') {
            continue;
        }
        char digits[5] = {line[0], line[1], line[2], line[3], 0};
        char* stop = nullptr;
        unsigned long id = std::strtoul(digits, &stop, 16);
        if (stop != digits + 4 || id < kFirstRegisteredMessage ||
            id >= kFirstRegisteredMessage + kRegisteredMessageCount) {
            continue;
        }
        if (line.substr(5) == lower) {
            return static_cast<UINT>(id);
        }
        taken.insert(static_cast<UINT>(id));
    }
    UINT id = hashedMessage(lower);
    for (UINT tries = 0; tries < kRegisteredMessageCount && taken.count(id) != 0; ++tries) {
        id = id + 1 == kFirstRegisteredMessage + kRegisteredMessageCount ? kFirstRegisteredMessage : id + 1;
    }
    if (taken.count(id) != 0) {
        return 0;
    }
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%04X ", id);
    // A table whose last line was cut short gets a line end first.
    std::string line = (!text.empty() && text.back() != '\n' ? "\n" : "") + std::string(prefix) + lower + "\n";
    if (::pwrite(file.get(), line.data(), line.size(), info.st_size) != static_cast<ssize_t>(line.size())) {
        return 0;
    }
    return id;
}

}  // namespace

UINT RegisterWindowMessage(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    std::string_view text(name);
    if (text.empty() || text.size() > 255 || text.find('\n') != std::string_view::npos ||
        text.find('\r') != std::string_view::npos) {
        return 0;
    }
    std::string lower = lowerAscii(text);
    fs::path folder = busFolder();
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, UINT> known;
    std::lock_guard lock(mutex);
    auto key = std::make_pair(folder.string(), lower);
    if (auto found = known.find(key); found != known.end()) {
        return found->second;
    }
    UINT id = sharedMessage(folder, lower);
    if (id == 0) {
        return hashedMessage(lower);  // not remembered: the table may work next time
    }
    known[key] = id;
    return id;
}

}  // namespace platform
