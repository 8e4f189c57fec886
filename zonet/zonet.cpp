#include "zonet/zonet.h"

#include "common/lumo_deb.h"
#include "platform/fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using Clock = std::chrono::steady_clock;

constexpr char kMagic[4] = {'Z', 'N', 'E', 'T'};

struct Address {
    in_addr_t host = htonl(INADDR_ANY);
    std::uint16_t port = 0;
};

// "[host:]port" with a dotted IPv4 host; nothing else.
std::optional<Address> parseAddress(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string s(text);
    Address out;
    const auto colon = s.rfind(':');
    std::string port = s;
    if (colon != std::string::npos) {
        const std::string host = s.substr(0, colon);
        port = s.substr(colon + 1);
        if (!host.empty()) {
            in_addr a{};
            if (inet_pton(AF_INET, host.c_str(), &a) != 1) return std::nullopt;
            out.host = a.s_addr;
        }
    }
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const unsigned long n = std::stoul(port);
    if (n > 65535) return std::nullopt;
    out.port = static_cast<std::uint16_t>(n);
    return out;
}

Bytes framed(const BYTE* data, DWORD length) {
    Bytes out(sizeof(ZoNetRecordHeader) + length);
    ZoNetRecordHeader header{};
    std::memcpy(header.magic, kMagic, 4);
    header.length = length;
    std::memcpy(out.data(), &header, sizeof header);
    if (length != 0) std::memcpy(out.data() + sizeof header, data, length);
    return out;
}

}  // namespace

// The serving side. `lock` guards everything below it that both threads use.
struct CZoNetServer::Server {
    struct Viewer {
        platform::Fd fd;
        Bytes out;      // framed records not yet sent
        std::size_t sent = 0;
        Bytes in;       // bytes of records not yet whole
        DWORD missed = 0;
    };

    std::mutex lock;
    bool open = false;
    bool serving = false;
    DWORD fifoBytes = 0;       // 0: no queue
    DWORD queuedBytes = 0;
    std::deque<Bytes> queue;   // framed records for the viewers
    std::deque<Bytes> received;  // payloads from viewers
    DWORD receivedBytes = 0;
    LONG maxBitRate = 0;       // 0: no limit
    int viewers = 0;
    LONG port = 0;

    // The serving thread's own.
    platform::Fd listener;
    platform::Fd wake;
    std::vector<Viewer> clients;
    double creditBytes = 0;
    Clock::time_point lastCredit{};
    std::thread thread;
    bool stop = false;

    void poke() const {
        const std::uint64_t one = 1;
        if (wake.valid()) [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
    }

    void run();
    void acceptViewers();
    bool readFrom(Viewer& v);
    bool writeTo(Viewer& v);
    void release(Clock::time_point now);
};

void CZoNetServer::Server::acceptViewers() {
    for (;;) {
        const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (clients.size() >= std::size_t(kZoNetMaxClients)) {
            LUMO_TRACE(3, "ZOTCPServer: a viewer refused, %d served already", kZoNetMaxClients);
            ::close(fd);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Viewer v;
        v.fd.reset(fd);
        clients.push_back(std::move(v));
        std::lock_guard guard(lock);
        viewers = int(clients.size());
        LUMO_TRACE(3, "ZOTCPServer: a viewer connected, %d now", viewers);
    }
}

// Whole records a viewer sent go to the received queue; false drops the viewer.
bool CZoNetServer::Server::readFrom(Viewer& v) {
    BYTE buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(v.fd.get(), buffer, sizeof buffer, 0);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        v.in.insert(v.in.end(), buffer, buffer + n);
        std::size_t at = 0;
        while (v.in.size() - at >= sizeof(ZoNetRecordHeader)) {
            ZoNetRecordHeader header;
            std::memcpy(&header, v.in.data() + at, sizeof header);
            if (std::memcmp(header.magic, kMagic, 4) != 0 || header.length > kZoNetMaxRecordBytes) {
                LUMO_TRACE(1, "ZOTCPServer: a viewer sent no record (length %lu), dropped",
                           static_cast<unsigned long>(header.length));
                return false;
            }
            if (v.in.size() - at - sizeof header < header.length) break;
            const BYTE* payload = v.in.data() + at + sizeof header;
            std::lock_guard guard(lock);
            if (fifoBytes != 0 && receivedBytes + header.length <= fifoBytes) {
                received.emplace_back(payload, payload + header.length);
                receivedBytes += header.length;
            } else {
                LUMO_TRACE(3, "ZOTCPServer: a received record of %lu bytes does not fit the queue",
                           static_cast<unsigned long>(header.length));
            }
            at += sizeof header + header.length;
        }
        v.in.erase(v.in.begin(), v.in.begin() + std::ptrdiff_t(at));
    }
}

bool CZoNetServer::Server::writeTo(Viewer& v) {
    while (v.sent < v.out.size()) {
        const ssize_t n = ::send(v.fd.get(), v.out.data() + v.sent, v.out.size() - v.sent, MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        v.sent += std::size_t(n);
    }
    v.out.clear();
    v.sent = 0;
    return true;
}

// Hands queued records to every viewer as the bit-rate allows.
void CZoNetServer::Server::release(Clock::time_point now) {
    std::lock_guard guard(lock);
    const double perSecond = maxBitRate > 0 ? double(maxBitRate) / 8.0 : 0.0;
    if (perSecond > 0) {
        const double elapsed = std::chrono::duration<double>(now - lastCredit).count();
        creditBytes = std::min(creditBytes + elapsed * perSecond, perSecond);
    }
    lastCredit = now;
    while (!queue.empty() && (perSecond == 0 || creditBytes >= 0)) {
        Bytes record = std::move(queue.front());
        queue.pop_front();
        queuedBytes -= DWORD(record.size());
        if (perSecond > 0) creditBytes -= double(record.size());
        for (Viewer& v : clients) {
            // A viewer a whole queue behind misses records instead of holding
            // the others up.
            if (v.out.size() - v.sent + record.size() > std::max<std::size_t>(fifoBytes, record.size())) {
                if (v.missed++ % 100 == 0) LUMO_TRACE(3, "ZOTCPServer: a slow viewer misses records");
                continue;
            }
            v.out.insert(v.out.end(), record.begin(), record.end());
        }
    }
}

void CZoNetServer::Server::run() {
    lastCredit = Clock::now();
    for (;;) {
        bool pending = false;
        {
            std::lock_guard guard(lock);
            if (stop) break;
            pending = !queue.empty();
        }
        std::vector<pollfd> fds;
        fds.push_back({wake.get(), POLLIN, 0});
        fds.push_back({listener.get(), POLLIN, 0});
        for (const Viewer& v : clients) {
            fds.push_back({v.fd.get(), short(POLLIN | (v.sent < v.out.size() ? POLLOUT : 0)), 0});
        }
        // Queued records wait for bit-rate credit: look again soon.
        ::poll(fds.data(), fds.size(), pending ? 10 : -1);
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake.get(), &count, sizeof count);
        }
        if (fds[1].revents & POLLIN) acceptViewers();
        release(Clock::now());
        bool changed = false;
        for (std::size_t i = 0; i < clients.size();) {
            const short events = i + 2 < fds.size() ? fds[i + 2].revents : 0;
            bool keep = true;
            if (events & (POLLIN | POLLHUP | POLLERR)) keep = readFrom(clients[i]);
            if (keep) keep = writeTo(clients[i]);
            if (!keep) {
                clients.erase(clients.begin() + std::ptrdiff_t(i));
                fds.erase(fds.begin() + std::ptrdiff_t(i) + 2);
                changed = true;
                continue;
            }
            ++i;
        }
        if (changed) {
            std::lock_guard guard(lock);
            viewers = int(clients.size());
            LUMO_TRACE(3, "ZOTCPServer: a viewer left, %d now", viewers);
        }
    }
    clients.clear();
}

CZoNetServer::CZoNetServer() : m_server(std::make_unique<Server>()) {}

CZoNetServer::~CZoNetServer() { Close(); }

std::span<const platform::com::DispatchMember<CZoNetServer>> CZoNetServer::dispatchMembers() {
    using platform::com::dispatchMethod;
    // Read and Write take buffers by address: they are called through the
    // interface only.
    static const platform::com::DispatchMember<CZoNetServer> table[] = {
        {"Open", 1, &dispatchMethod<&CZoNetServer::Open>},
        {"Close", 2, &dispatchMethod<&CZoNetServer::Close>},
        {"Connect", 3, &dispatchMethod<&CZoNetServer::Connect>},
        {"Disconnect", 4, &dispatchMethod<&CZoNetServer::Disconnect>},
        {"GetLocalPort", 5, &dispatchMethod<&CZoNetServer::GetLocalPort>},
        {"GetFifoUsed", 6, &dispatchMethod<&CZoNetServer::GetFifoUsed>},
        {"GetState", 9, &dispatchMethod<&CZoNetServer::GetState>},
        {"FifoInit", 10, &dispatchMethod<&CZoNetServer::FifoInit>},
        {"GetMaxBitRate", 11, &dispatchMethod<&CZoNetServer::GetMaxBitRate>},
        {"FifoFree", 12, &dispatchMethod<&CZoNetServer::FifoFree>},
        {"CleanBuf", 13, &dispatchMethod<&CZoNetServer::CleanBuf>},
        {"SetMaxBitRate", 14, &dispatchMethod<&CZoNetServer::SetMaxBitRate>},
        {"GetClientCount", 15, &dispatchMethod<&CZoNetServer::GetClientCount>},
    };
    return table;
}

HRESULT CZoNetServer::Open(LONG) {
    std::lock_guard guard(m_server->lock);
    m_server->open = true;
    return S_OK;
}

HRESULT CZoNetServer::Close() {
    Disconnect();
    std::lock_guard guard(m_server->lock);
    m_server->open = false;
    return S_OK;
}

HRESULT CZoNetServer::Connect(LONG, BSTR address) {
    Server& s = *m_server;
    {
        std::lock_guard guard(s.lock);
        if (!s.open) return ZONET_E_NOT_OPEN;
        if (s.serving) return ZONET_E_STATE;
    }
    const std::optional<Address> where = parseAddress(address);
    if (!where) {
        LUMO_TRACE(1, "ZOTCPServer: the address \"%s\" is not [host:]port", address != nullptr ? address : "");
        return ZONET_E_ADDRESS;
    }
    platform::Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    platform::Fd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!listener.valid() || !wake.valid()) return E_FAIL;
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = where->host;
    a.sin_port = htons(where->port);
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener.get(), 8) != 0) {
        LUMO_TRACE(1, "ZOTCPServer: port %u cannot be taken (errno %d)", unsigned(where->port), errno);
        return ZONET_E_LISTEN;
    }
    socklen_t size = sizeof a;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &size);
    {
        std::lock_guard guard(s.lock);
        s.port = ntohs(a.sin_port);
        s.serving = true;
        s.stop = false;
    }
    s.listener = std::move(listener);
    s.wake = std::move(wake);
    s.thread = std::thread([&s] { s.run(); });
    return S_OK;
}

HRESULT CZoNetServer::Disconnect() {
    Server& s = *m_server;
    if (!s.thread.joinable()) return S_FALSE;
    {
        std::lock_guard guard(s.lock);
        s.stop = true;
    }
    s.poke();
    s.thread.join();
    s.listener.reset();
    s.wake.reset();
    std::lock_guard guard(s.lock);
    s.serving = false;
    s.viewers = 0;
    s.port = 0;
    return S_OK;
}

HRESULT CZoNetServer::GetLocalPort(LONG* port) {
    if (port == nullptr) return E_POINTER;
    std::lock_guard guard(m_server->lock);
    *port = m_server->port;
    return S_OK;
}

HRESULT CZoNetServer::GetFifoUsed(LONG* bytes) {
    if (bytes == nullptr) return E_POINTER;
    std::lock_guard guard(m_server->lock);
    *bytes = LONG(m_server->queuedBytes);
    return S_OK;
}

HRESULT CZoNetServer::Read(BYTE* buffer, LONG capacity, LONG* length) {
    if (length == nullptr || (buffer == nullptr && capacity > 0)) return E_POINTER;
    if (capacity < 0) return E_INVALIDARG;
    *length = 0;
    Server& s = *m_server;
    std::lock_guard guard(s.lock);
    if (s.fifoBytes == 0) return ZONET_E_NO_FIFO;
    if (!s.received.empty() && s.received.front().size() > std::size_t(capacity)) {
        *length = LONG(s.received.front().size());
        return ZONET_E_ROOM;
    }
    while (!s.received.empty() && s.received.front().size() <= std::size_t(capacity - *length)) {
        const Bytes& r = s.received.front();
        if (!r.empty()) std::memcpy(buffer + *length, r.data(), r.size());
        *length += LONG(r.size());
        s.receivedBytes -= DWORD(r.size());
        s.received.pop_front();
    }
    return S_OK;
}

HRESULT CZoNetServer::Write(BYTE* data, LONG length, LONG* queued) {
    if (data == nullptr && length > 0) return E_POINTER;
    if (length < 0 || DWORD(length) > kZoNetMaxRecordBytes) return E_INVALIDARG;
    Server& s = *m_server;
    {
        std::lock_guard guard(s.lock);
        if (s.fifoBytes == 0) return ZONET_E_NO_FIFO;
        if (s.viewers == 0) return ZONET_E_NOT_CONNECTED;
        const DWORD bytes = DWORD(sizeof(ZoNetRecordHeader)) + DWORD(length);
        if (s.queuedBytes + bytes > s.fifoBytes) return ZONET_E_FIFO_FULL;
        s.queue.push_back(framed(data, DWORD(length)));
        s.queuedBytes += bytes;
        if (queued != nullptr) *queued = LONG(s.queuedBytes);
    }
    s.poke();
    return S_OK;
}

HRESULT CZoNetServer::GetState(LONG* state) {
    if (state == nullptr) return E_POINTER;
    std::lock_guard guard(m_server->lock);
    const Server& s = *m_server;
    *state = !s.open ? ZONET_STATE_CLOSED : !s.serving ? ZONET_STATE_OPEN : s.viewers == 0 ? ZONET_STATE_LISTENING
                                                                                           : ZONET_STATE_CONNECTED;
    return S_OK;
}

HRESULT CZoNetServer::FifoInit(LONG size) {
    if (size <= LONG(sizeof(ZoNetRecordHeader)) || DWORD(size) > kZoNetMaxFifoBytes) return E_INVALIDARG;
    std::lock_guard guard(m_server->lock);
    m_server->fifoBytes = DWORD(size);
    return S_OK;
}

HRESULT CZoNetServer::GetMaxBitRate(LONG* rate) {
    if (rate == nullptr) return E_POINTER;
    std::lock_guard guard(m_server->lock);
    *rate = m_server->maxBitRate;
    return S_OK;
}

HRESULT CZoNetServer::FifoFree() {
    std::lock_guard guard(m_server->lock);
    m_server->queue.clear();
    m_server->queuedBytes = 0;
    m_server->received.clear();
    m_server->receivedBytes = 0;
    m_server->fifoBytes = 0;
    return S_OK;
}

HRESULT CZoNetServer::CleanBuf(LONG) {
    std::lock_guard guard(m_server->lock);
    m_server->queue.clear();
    m_server->queuedBytes = 0;
    return S_OK;
}

HRESULT CZoNetServer::SetMaxBitRate(LONG rate) {
    if (rate < 0) return E_INVALIDARG;
    std::lock_guard guard(m_server->lock);
    m_server->maxBitRate = rate;
    return S_OK;
}

HRESULT CZoNetServer::GetClientCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    std::lock_guard guard(m_server->lock);
    *count = m_server->viewers;
    return S_OK;
}
