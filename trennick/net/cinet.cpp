#include "trennick/net/cinet.h"

#include "platform/message_window.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace trennick {

namespace {

// Notices of the hidden window: wParam the socket's generation, lParam the
// event in the low word and an error number in the high word.
constexpr UINT kMsgListenNotice = platform::WM_USER + 1;
constexpr UINT kMsgStreamNotice = platform::WM_USER + 3;
constexpr WORD FD_ACCEPT = 0x08;
constexpr WORD FD_CONNECT = 0x10;
constexpr WORD FD_CLOSE = 0x20;

LPARAM makeSelectReply(WORD event, int error) {
    return static_cast<LPARAM>((static_cast<DWORD>(error & 0xFFFF) << 16) | event);
}

// Closing and listener start are serialised across all connection objects.
std::mutex g_closeLock;
std::mutex g_listenerLock;

class NetWindow;

}  // namespace

struct CINet {
    NetCallback callback = nullptr;
    void* user = nullptr;
    std::unique_ptr<platform::MessageWindow> window;
    std::atomic<int> state{kNetStateIdle};
    int listenFd = -1;
    std::atomic<int> streamFd{-1};
    WORD listenPort = 0;
    WORD boundPort = 0;  // the port listenFd is bound to
    WORD currentPort = 0;
    bool listenWanted = false;
    bool listenActive = false;
    std::string hostName;
    std::string peerAddress;  // dotted address of the station that called in
    DWORD connectTimeoutMs = kDefaultConnectTimeoutMs;

    // Generation of the current listening and stream sockets: notices about an
    // older socket are dropped, since descriptor numbers are reused.
    std::atomic<WPARAM> listenGeneration{0};
    std::atomic<WPARAM> streamGeneration{0};
    std::atomic<bool> closeNoticePosted{false};

    // The watcher thread waits for an incoming call or a pending connect.
    std::thread watcher;
    int wakeFd = -1;

    std::mutex errorLock;
    int lastError = 0;
    std::string lastErrorText;

    void setError(const char* operation, int error) {
        std::lock_guard lock(errorLock);
        lastErrorText = operation;
        lastError = error;
    }

    void onNotice(UINT message, WPARAM generation, LPARAM lParam);
    void report(int event) {
        if (callback != nullptr) callback(event, user);
    }
};

namespace {

class NetWindow : public platform::MessageWindow {
public:
    explicit NetWindow(CINet* net) : m_net(net) {}

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == kMsgListenNotice || msg == kMsgStreamNotice) {
            m_net->onNotice(msg, wParam, lParam);
            return 0;
        }
        return MessageWindow::WindowProc(msg, wParam, lParam);
    }

private:
    CINet* m_net;
};

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A call's stream sends each bucket as it is written: the link waits for an
// answer to most of what it sends, so holding a small write back for the
// peer's acknowledgement (Nagle) would only add a delay.
void sendWithoutDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void stopWatcher(CINet* net) {
    if (net->watcher.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(net->wakeFd, &one, sizeof one);
        net->watcher.join();
    }
    std::uint64_t drained = 0;
    [[maybe_unused]] auto n = ::read(net->wakeFd, &drained, sizeof drained);
}

// Closes both sockets (SocketClose): the watcher first, so that no thread of
// ours waits on a descriptor that is being closed.
void closeSockets(CINet* net) {
    stopWatcher(net);
    std::lock_guard lock(g_closeLock);
    if (net->listenFd >= 0) {
        ::close(net->listenFd);
        net->listenFd = -1;
    }
    const int stream = net->streamFd.exchange(-1);
    if (stream >= 0) {
        ::close(stream);
    }
    net->listenActive = false;
}

// Closes the call's socket only; a listening socket stays bound.
void closeStream(CINet* net) {
    stopWatcher(net);
    std::lock_guard lock(g_closeLock);
    const int stream = net->streamFd.exchange(-1);
    if (stream >= 0) {
        ::close(stream);
    }
    net->listenActive = false;
}

void closeListenSocket(CINet* net) {
    stopWatcher(net);
    std::lock_guard lock(g_closeLock);
    if (net->listenFd >= 0) {
        ::close(net->listenFd);
        net->listenFd = -1;
    }
    net->listenActive = false;
}

// Waits in its own thread for the descriptor to become ready, then posts one
// notice to the hidden window and ends.
void startWatcher(CINet* net, int fd, bool connecting) {
    const platform::HWND hwnd = net->window->hwnd();
    const int wakeFd = net->wakeFd;
    const WPARAM generation = connecting ? net->streamGeneration.load() : net->listenGeneration.load();
    const DWORD timeoutMs = net->connectTimeoutMs;
    net->watcher = std::thread([=] {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, static_cast<short>(connecting ? POLLOUT : POLLIN), 0}};
        for (;;) {
            int waitMs = -1;
            if (connecting) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                waitMs = static_cast<int>(std::max<long long>(0, left.count()));
            }
            const int ready = ::poll(fds, 2, waitMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (fds[0].revents & POLLIN)) return;
            if (ready == 0) {
                platform::PostMessage(hwnd, kMsgStreamNotice, generation, makeSelectReply(FD_CONNECT, ETIMEDOUT));
                return;
            }
            if (connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                platform::PostMessage(hwnd, kMsgStreamNotice, generation, makeSelectReply(FD_CONNECT, error));
            } else {
                platform::PostMessage(hwnd, kMsgListenNotice, generation, makeSelectReply(FD_ACCEPT, 0));
            }
            return;
        }
    });
}

DWORD localAddress(const std::string& hostName) {
    DWORD address = NET_HostToAddress(hostName.c_str());
    if (address != 0) return address;
    // No address for the host name: ask the stack which address it would use.
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp < 0) return 0;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(7);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(udp, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0 &&
        ::getsockname(udp, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        address = local.sin_addr.s_addr;
    }
    ::close(udp);
    return address;
}

BOOL startListener(CINet* net) {
    linkTrace(5, "CINet::StartListener Thread %d", static_cast<int>(::gettid()));
    std::lock_guard lock(g_listenerLock);
    if (!net->listenWanted) return FALSE;
    net->currentPort = net->listenPort;
    net->state = kNetStateListening;
    if (net->listenFd >= 0 && net->boundPort == net->listenPort) {
        // The socket that took the last call is still bound: a caller that
        // came while that call was ending waits in its queue and is taken
        // now, instead of being reset with a closing socket or refused
        // before a new one is bound.
        closeStream(net);
        ++net->listenGeneration;
        startWatcher(net, net->listenFd, false);
        net->listenActive = true;
        return TRUE;
    }
    closeSockets(net);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !setNonBlocking(fd)) {
        net->setError("StartListener", errno);
        if (fd >= 0) ::close(fd);
        net->state = kNetStateIdle;
        net->listenWanted = false;
        net->report(kNetListenFailed);
        return FALSE;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(net->listenPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        net->setError("StartListener", errno);
        linkTrace(1, "CINet::StartListener bind Failed SOCKET_ERROR");
        ::close(fd);
        net->state = kNetStateIdle;
        return FALSE;
    }
    if (::listen(fd, 1) != 0) {
        net->setError("StartListener", errno);
        linkTrace(1, "CINet::StartListener listen Failed SOCKET_ERROR");
        ::close(fd);
        net->state = kNetStateIdle;
        return FALSE;
    }
    net->listenFd = fd;
    net->boundPort = net->listenPort;
    ++net->listenGeneration;
    startWatcher(net, fd, false);
    net->listenActive = true;
    return TRUE;
}

BOOL startConnect(CINet* net, const char* host, WORD port) {
    const std::string hostText = host != nullptr ? host : "";
    DWORD address = hostText.empty() ? localAddress(net->hostName) : NET_HostToAddress(hostText.c_str());
    in_addr shown{};
    shown.s_addr = address;
    char dotted[INET_ADDRSTRLEN] = "0.0.0.0";
    ::inet_ntop(AF_INET, &shown, dotted, sizeof dotted);
    linkTrace(3, "StartConnect: IpAddr = %s Port=%ld", dotted, static_cast<long>(port));
    net->currentPort = port;
    net->state = kNetStateConnecting;
    closeSockets(net);
    if (address == 0) {
        net->setError("StartConnect", EHOSTUNREACH);
        linkTrace(1, "StartConnect() Failed!!! connect() failed");
        return FALSE;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        net->setError("StartConnect", errno);
        linkTrace(1, "StartConnect() Failed!!! sdp->StreamSocket == INVALID_SOCKET");
        return FALSE;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sendWithoutDelay(fd);
    if (!setNonBlocking(fd)) {
        net->setError("StartConnect", errno);
        linkTrace(1, "StartConnect() Failed!!! ioctlsocket Failed!!!");
        ::close(fd);
        return FALSE;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    net->closeNoticePosted = false;
    ++net->streamGeneration;
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target);
    if (rc != 0 && errno != EINPROGRESS) {
        net->setError("StartConnect", errno);
        linkTrace(1, "StartConnect() Failed!!! connect() failed");
        ::close(fd);
        return FALSE;
    }
    net->streamFd = fd;
    if (rc == 0) {
        platform::PostMessage(net->window->hwnd(), kMsgStreamNotice, net->streamGeneration.load(),
                              makeSelectReply(FD_CONNECT, 0));
    } else {
        startWatcher(net, fd, true);
    }
    return TRUE;
}

void postClose(CINet* net, int error) {
    if (net->closeNoticePosted.exchange(true)) return;
    platform::PostMessage(net->window->hwnd(), kMsgStreamNotice, net->streamGeneration.load(),
                          makeSelectReply(FD_CLOSE, error));
}

}  // namespace

void CINet::onNotice(UINT message, WPARAM generation, LPARAM lParam) {
    const WORD event = static_cast<WORD>(lParam & 0xFFFF);
    const int error = static_cast<int>((static_cast<DWORD>(lParam) >> 16) & 0xFFFF);
    if (message == kMsgListenNotice) {
        if (generation != listenGeneration.load() || state != kNetStateListening || streamFd >= 0) return;
        if (event == FD_CLOSE) {
            report(kNetClosed);
            return;
        }
        if (error != 0 || listenFd < 0) {
            setError("WndProc", error);
            state = kNetStateIdle;
            listenWanted = false;
            closeSockets(this);
            report(kNetListenFailed);
            return;
        }
        if (watcher.joinable()) watcher.join();
        sockaddr_in caller{};
        socklen_t callerLength = sizeof caller;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&caller), &callerLength,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) {
                // The caller gave up before we took the call: keep listening.
                startWatcher(this, listenFd, false);
                return;
            }
            setError("accept", errno);
            state = kNetStateIdle;
            listenWanted = false;
            closeSockets(this);
            report(kNetListenFailed);
            return;
        }
        closeNoticePosted = false;
        ++streamGeneration;
        sendWithoutDelay(fd);
        streamFd = fd;
        char dotted[INET_ADDRSTRLEN] = "";
        if (callerLength >= sizeof caller && caller.sin_family == AF_INET &&
            ::inet_ntop(AF_INET, &caller.sin_addr, dotted, sizeof dotted) != nullptr) {
            peerAddress = dotted;
        } else {
            peerAddress.clear();
        }
        linkTrace(3, "WndProc Accept call from remote StreamSocket which is binded to = %ld ",
                  static_cast<long>(fd));
        state = kNetStateConnected;
        report(kNetConnected);
        return;
    }
    if (generation != streamGeneration.load()) return;
    if (error != 0) {
        setError("WndProc", error);
        if (state == kNetStateConnecting) {
            report(kNetConnectFailed);
            startListener(this);
        } else if (state == kNetStateConnected) {
            state = kNetStateIdle;
            report(kNetStreamError);
            startListener(this);
        }
        return;
    }
    if (event == FD_CONNECT && state == kNetStateConnecting) {
        if (watcher.joinable()) watcher.join();
        state = kNetStateConnected;
        report(kNetConnected);
    } else if (event == FD_CLOSE) {
        report(kNetClosed);
    }
}

CINet* NET_Init(NetCallback callback, void* user) {
    auto net = std::make_unique<CINet>();
    net->callback = callback;
    net->user = user;
    net->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (net->wakeFd < 0) {
        net->setError("Winsock init", kNetErrStartup);
        return nullptr;
    }
    char name[64] = {};
    if (::gethostname(name, sizeof name - 1) == 0) net->hostName = name;
    net->window = std::make_unique<NetWindow>(net.get());
    if (!net->window->create()) {
        ::close(net->wakeFd);
        return nullptr;
    }
    return net.release();
}

BOOL NET_SetListen(CINet* net, BOOL on, WORD port) {
    linkTrace(5, "ENTER %s", "CINet::NET_SetListen");
    BOOL result = FALSE;
    if (net == nullptr) {
        result = FALSE;
    } else if (on) {
        NET_Disconnect(net);
        net->listenPort = port;
        net->listenWanted = true;
        net->listenActive = false;
        result = startListener(net);
    } else {
        // Only the listening socket goes: a call accepted or placed meanwhile
        // lives on its own stream socket and stays up.
        net->listenWanted = false;
        closeListenSocket(net);
        if (net->state == kNetStateListening) net->state = kNetStateIdle;
        result = TRUE;
    }
    linkTrace(5, "LEAVE %s", "CINet::NET_SetListen");
    return result;
}

BOOL NET_Connect(CINet* net, const char* host, WORD port) {
    if (net == nullptr) return FALSE;
    if (net->state >= kNetStateListening) {
        closeSockets(net);
        net->state = kNetStateIdle;
    }
    if (startConnect(net, host, port)) return TRUE;
    closeSockets(net);
    if (net->listenWanted) {
        startListener(net);
    } else {
        net->state = kNetStateIdle;
    }
    return FALSE;
}

void NET_Disconnect(CINet* net) {
    if (net == nullptr) return;
    // The call ends; while listening is wanted the listening socket stays
    // bound, so the next caller is queued rather than refused.
    if (net->listenWanted) {
        closeStream(net);
    } else {
        closeSockets(net);
    }
    net->state = kNetStateIdle;
}

LONG NET_SendBlocks(CINet* net, const NetBlock* blocks, DWORD count) {
    if (net == nullptr) return -1;
    const int fd = net->streamFd;
    if (fd < 0 || net->state != kNetStateConnected) {
        net->setError("NET_SendData", kNetErrWrongState);
        return -1;
    }
    // One system call takes at most kMaxGatheredBlocks blocks (the rest is
    // left for the next call, as any part the socket does not take); the list
    // lives on the stack, so a send allocates nothing.
    iovec iov[kMaxGatheredBlocks];
    const DWORD gathered = std::min<DWORD>(count, kMaxGatheredBlocks);
    for (DWORD i = 0; i < gathered; ++i) {
        iov[i].iov_base = const_cast<BYTE*>(blocks[i].data);
        iov[i].iov_len = blocks[i].length;
    }
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = gathered;
    for (;;) {
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return static_cast<LONG>(std::min<ssize_t>(sent, 0x7FFFFFFF));
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) return 0;
        net->setError("NET_SendData", errno);
        linkTrace(1, "CINet::NET_SendData failed network err = %d", errno);
        return -1;
    }
}

LONG NET_SendData(CINet* net, const BYTE* data, DWORD length) {
    const NetBlock block{data, length};
    return NET_SendBlocks(net, &block, 1);
}

LONG NET_CheckRead(CINet* net, BYTE* buffer, DWORD size) {
    if (net == nullptr) return -1;
    const int fd = net->streamFd;
    if (fd < 0 || net->state != kNetStateConnected) {
        net->setError("NET_CheckRead", kNetErrWrongState);
        return -1;
    }
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, size, MSG_DONTWAIT);
        if (got > 0) return static_cast<LONG>(got);
        if (got == 0) {
            postClose(net, 0);
            return kNetStreamEnded;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        net->setError("NET_CheckRead", errno);
        postClose(net, errno);
        return kNetStreamEnded;
    }
}

int NET_StreamFd(CINet* net) { return net != nullptr ? net->streamFd.load() : -1; }

int NET_WaitStream(CINet* net, bool wantWrite, int wakeFd, int timeoutMs) {
    if (net == nullptr) return -1;
    const int fd = net->streamFd;
    if (fd < 0) return -1;
    pollfd fds[2] = {{fd, static_cast<short>(wantWrite ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return 0;
        return 1;
    }
}

void NET_Close(CINet* net) {
    if (net == nullptr) return;
    closeSockets(net);
    net->window->destroy();
    net->window.reset();
    ::close(net->wakeFd);
    delete net;
}

int NET_GetState(const CINet* net) { return net != nullptr ? net->state.load() : kNetStateIdle; }

WORD NET_GetListenPort(const CINet* net) {
    if (net == nullptr || net->listenFd < 0) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(net->listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void NET_SetConnectTimeout(CINet* net, DWORD timeoutMs) {
    if (net != nullptr) net->connectTimeoutMs = timeoutMs;
}

int NET_GetLastError(const CINet* net, std::string* text) {
    if (net == nullptr) return kNetErrNotInitialised;
    auto* mutableNet = const_cast<CINet*>(net);
    std::lock_guard lock(mutableNet->errorLock);
    if (text != nullptr) *text = net->lastErrorText;
    return net->lastError;
}

std::string NET_GetHostName(const CINet* net) { return net != nullptr ? net->hostName : std::string(); }

std::string NET_GetPeerAddress(const CINet* net) { return net != nullptr ? net->peerAddress : std::string(); }

DWORD NET_HostToAddress(const char* host) {
    if (host == nullptr || host[0] == '\0') return 0;
    in_addr dotted{};
    if (::inet_pton(AF_INET, host, &dotted) == 1) return dotted.s_addr;
    if (std::strcmp(host, "255.255.255.255") == 0) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    const DWORD address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return address;
}

}  // namespace trennick
