#include "trennick/net/nimbranet.h"

#include "trennick/link/link_trace.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace trennick {

namespace {

constexpr DWORD kMaxBlocksPerSend = kMaxGatheredBlocks;  // what one system call takes
constexpr DWORD kMaxBytesPerSend = 1u << 20;
// Queue number 1-4 to its index in m_sendQueues, and the order of a round:
// priority 1, then 4, then 3, then 2.
constexpr int kRoundOrder[] = {0, 3, 2, 1};

// An exchange in progress (a file block answered, an answer followed by the
// next block) brings the peer's next bytes within tens of microseconds, less
// than it costs to sleep in the event loop and be woken again. After the owner
// wrote in reply to what it read, the socket is watched this long for them.
constexpr auto kAwaitReplyFor = std::chrono::microseconds(100);
// The longest one notifier call keeps the owner's thread, so its loop's other
// work (timers, painting) still runs during a long exchange.
constexpr auto kExchangeSliceFor = std::chrono::milliseconds(2);
// How often the owner's thread looks how often it was preempted. With cores
// to spare it is preempted a few times in such a period at most (the peer
// woken onto its core); when every core is wanted, dozens to hundreds.
constexpr auto kContentionCheckEvery = std::chrono::milliseconds(20);
constexpr long kPreemptionsOfAFreeCore = 8;

}  // namespace

Nimbranet::Nimbranet(WORD listenPort, WORD connectPort, BOOL useTcp)
    : m_listenPort(listenPort), m_connectPort(connectPort), m_useTcp(useTcp) {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Nimbranet::~Nimbranet() {
    Close();
    if (m_stopFd >= 0) ::close(m_stopFd);
}

void Nimbranet::netCallback(int event, void* user) { static_cast<Nimbranet*>(user)->onNetEvent(event); }

BOOL Nimbranet::Open() {
    if (m_opened == NIMINT_CS_OPEN) return TRUE;
    m_fault = false;
    m_connected = false;
    m_listening = false;
    m_readEnable = true;
    m_net = NET_Init(&Nimbranet::netCallback, this);
    if (m_net == nullptr || m_stopFd < 0) {
        m_fault = true;
    } else {
        NET_SetConnectTimeout(m_net, m_connectTimeoutMs);
    }
    m_opened = NIMINT_CS_OPEN;
    SetNotConnected();
    return m_fault ? FALSE : TRUE;
}

void Nimbranet::SetConnectTimeout(DWORD timeoutMs) {
    m_connectTimeoutMs = timeoutMs;
    if (m_net != nullptr) NET_SetConnectTimeout(m_net, timeoutMs);
}

BOOL Nimbranet::SetListenOn(BOOL on, WORD port) {
    linkTrace(5, "ENTER %s", "Nimbranet::SetListenOn");
    BOOL result = FALSE;
    if (m_opened == NIMINT_CS_CLOSE || m_net == nullptr) {
        linkTrace(1, "Nimbranet::SetListenOn Error m_Opened==NIMINT_CS_CLOSE");
    } else if (on && m_listening.load()) {
        result = TRUE;
    } else if (!on && !m_listening.load()) {
        // Not listening for the link, but the socket that took the current
        // call may still be bound: it goes now.
        result = NET_SetListen(m_net, FALSE, port);
    } else {
        // Listening drops any call; its threads stop before its socket goes.
        if (on && m_connected) SetNotConnected();
        if (NET_SetListen(m_net, on, port)) {
            m_listening = on != 0;
            result = TRUE;
        }
    }
    linkTrace(5, "LEAVE %s", "Nimbranet::SetListenOn");
    return result;
}

BOOL Nimbranet::Connect(const char* host, WORD port) {
    if (m_connected || m_net == nullptr) return FALSE;
    FlushQueues();
    if (m_listening) {
        NET_SetListen(m_net, FALSE, m_listenPort);
        m_listening = false;
    }
    return NET_Connect(m_net, host, port);
}

void Nimbranet::Disconnect() {
    SetNotConnected();
    NET_Disconnect(m_net);
}

LONG Nimbranet::Read(BYTE* buffer, DWORD capacity) {
    std::lock_guard lock(m_receiveLock);
    if (m_receiveQueue.empty()) return 0;
    Node& head = m_receiveQueue.front();
    const DWORD length = static_cast<DWORD>(head.bytes.size());
    if (length > capacity) return 0;
    std::memcpy(buffer, head.bytes.data(), length);
    m_receiveQueue.pop_front();
    const bool wasFull = m_receiveBytes >= kReceiveQueueCapBytes;
    m_receiveBytes -= length;
    if (wasFull && m_receiveBytes < kReceiveQueueCapBytes && m_readNotifier) {
        // Room again: the socket is read once more, on the owner's thread
        // (a call from another thread reaches it queued; a notifier gone by
        // then takes its call with it).
        QSocketNotifier* notifier = m_readNotifier.get();
        QMetaObject::invokeMethod(notifier, [notifier] { notifier->setEnabled(true); }, Qt::QueuedConnection);
    }
    m_receiveDrained.notify_all();
    return static_cast<LONG>(length);
}

LONG Nimbranet::Write(int queue, const BYTE* data, DWORD length) {
    if (queue < 1 || queue > 4) return 0;
    m_writes.fetch_add(1, std::memory_order_relaxed);
    DWORD sent = 0;
    {
        std::lock_guard lock(m_sendLock);
        // With nothing queued ahead of it, the block goes to the socket at once
        // from the caller's thread: a small answer then leaves without waiting
        // for the write thread to wake. What the socket does not take (or a
        // failed send) is queued as usual for the write thread.
        if (m_sendBytes == 0 && m_connected && length > 0) {
            const NetBlock block{data, length};
            const LONG direct = NET_SendBlocks(m_net, &block, 1);
            if (direct > 0) sent = static_cast<DWORD>(direct);
            if (sent >= length) return static_cast<LONG>(length);
        }
        Node node;
        node.bytes.assign(data, data + length);
        node.offset = sent;
        m_sendQueues[queue - 1].push_back(std::move(node));
        m_sendBytes += length - sent;
        if (sent > 0) m_partialQueue = queue - 1;
    }
    m_sendReady.notify_all();
    return static_cast<LONG>(length);
}

void Nimbranet::FlushQueues() {
    {
        std::lock_guard lock(m_sendLock);
        for (auto& q : m_sendQueues) q.clear();
        m_sendBytes = 0;
        m_partialQueue = -1;
    }
    {
        std::lock_guard lock(m_receiveLock);
        m_receiveQueue.clear();
        m_receiveBytes = 0;
    }
    m_receiveDrained.notify_all();
}

DWORD Nimbranet::QueueSize(int which, DWORD* nodes) {
    if (which == 1) {
        std::lock_guard lock(m_sendLock);
        if (nodes != nullptr) *nodes = static_cast<DWORD>(m_sendQueues[1].size());
        return m_sendBytes;
    }
    std::lock_guard lock(m_receiveLock);
    if (nodes != nullptr) *nodes = static_cast<DWORD>(m_receiveQueue.size());
    return m_receiveBytes;
}

int Nimbranet::GetStatus() {
    if (m_fault) {
        if (m_net != nullptr) m_fault = false;
        return NIMINT_CS_FAULT;
    }
    if (m_opened == NIMINT_CS_CLOSE) return NIMINT_CS_CLOSE;
    if (m_connected) return NIMINT_CS_CONNECTED;
    return m_listening ? NIMINT_CS_LISTENING : NIMINT_CS_NOT_CONNECTED;
}

void Nimbranet::SetNotConnected() {
    linkTrace(5, "Nimbranet::SetNotConnected()");
    stopThreads();
    m_connected = false;
    m_listening = false;
    FlushQueues();
}

void Nimbranet::endCallKeepingReceived() {
    stopThreads();
    m_connected = false;
    m_listening = false;
    {
        std::lock_guard lock(m_sendLock);
        for (auto& q : m_sendQueues) q.clear();
        m_sendBytes = 0;
        m_partialQueue = -1;
    }
    NET_Disconnect(m_net);
}

void Nimbranet::stopThreads() {
    stopReading();
    m_stopThreads = true;
    if (m_stopFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_stopFd, &one, sizeof one);
    }
    {
        std::lock_guard lock(m_sendLock);
    }
    m_sendReady.notify_all();
    {
        std::lock_guard lock(m_receiveLock);
    }
    m_receiveDrained.notify_all();
    // The write thread watches the stop descriptor in every wait, so it ends
    // promptly; there is no need (and no safe way) to kill it.
    if (m_writeThread.joinable() && m_writeThread.get_id() != std::this_thread::get_id()) m_writeThread.join();
}

void Nimbranet::Close() {
    if (m_opened == NIMINT_CS_CLOSE && m_net == nullptr) return;
    SetNotConnected();
    NET_Close(m_net);
    m_net = nullptr;
    m_opened = NIMINT_CS_CLOSE;
}

void Nimbranet::onNetEvent(int event) {
    switch (event) {
    case kNetListenFailed:
    case kNetConnectFailed:
        Disconnect();
        m_fault = true;
        break;
    case kNetStreamError:
        SetNotConnected();
        Disconnect();
        m_fault = true;
        break;
    case kNetConnected:
        // The listening socket (of a call taken in) stays bound while the call
        // is up: the next caller waits in its queue and is taken as soon as
        // this call ends, instead of being refused meanwhile.
        m_connected = true;
        m_listening = false;
        startThreads();
        break;
    case kNetClosed:
    case 7:
        endCallKeepingReceived();
        break;
    default:
        return;
    }
    if (m_stateNotice) m_stateNotice();
}

void Nimbranet::startThreads() {
    if (!m_readNotifier) startReading();
    if (m_writeThread.joinable()) return;
    m_stopThreads = false;
    std::uint64_t drained = 0;
    [[maybe_unused]] auto n = ::read(m_stopFd, &drained, sizeof drained);
    m_writeThread = std::thread([this] { writeThread(); });
}

void Nimbranet::onReadable() {
    using Clock = std::chrono::steady_clock;
    const auto sliceEnd = Clock::now() + kExchangeSliceFor;
    for (;;) {
        const std::uint64_t writesBefore = m_writes.load(std::memory_order_relaxed);
        if (!readOnce()) return;
        // Nothing written in reply: no exchange waits on the peer.
        if (m_writes.load(std::memory_order_relaxed) == writesBefore || !m_readNotifier || !m_connected) return;
        if (!mayAwaitReply()) return;
        const auto awaitEnd = std::min(Clock::now() + kAwaitReplyFor, sliceEnd);
        bool readable = false;
        while (!readable && Clock::now() < awaitEnd) readable = NET_WaitStream(m_net, false, -1, 0) == 1;
        if (!readable) return;
    }
}

bool Nimbranet::mayAwaitReply() {
    // Waiting for the peer's bytes pays only while there are cores to spare.
    // A thread preempted again and again shares its core with others (the
    // peer among them): waiting would take time from them, so it sleeps in
    // the loop instead until a quieter period.
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextContentionCheck) return m_awaitReplies;
    m_nextContentionCheck = now + kContentionCheckEvery;
    rusage usage{};
    if (::getrusage(RUSAGE_THREAD, &usage) != 0) return m_awaitReplies = false;
    m_awaitReplies = usage.ru_nivcsw - m_involuntarySwitches < kPreemptionsOfAFreeCore;
    m_involuntarySwitches = usage.ru_nivcsw;
    return m_awaitReplies;
}

bool Nimbranet::readOnce() {
    // The owner's thread, woken by the socket: the bytes are queued and the
    // owner told at once, without a thread between the socket and the link.
    {
        std::lock_guard lock(m_receiveLock);
        if (m_receiveBytes >= kReceiveQueueCapBytes) {
            // Leave the rest in the socket: the peer's sending stalls instead
            // of our memory growing. A read that makes room wakes us again.
            if (m_readNotifier) m_readNotifier->setEnabled(false);
            return false;
        }
    }
    const LONG got = NET_CheckRead(m_net, m_readBuffer.data(), static_cast<DWORD>(m_readBuffer.size()));
    if (got == kNetStreamEnded || got < 0) {
        // The close notice is on its way; nothing more to read here.
        if (m_readNotifier) m_readNotifier->setEnabled(false);
        return false;
    }
    if (got == 0) return false;
    if (!m_readEnable) {
        linkTrace(3, "Nimbranet::ReadThread() is enable to add to read Q = FALSE");
        return false;
    }
    Node node;
    node.bytes.assign(m_readBuffer.data(), m_readBuffer.data() + got);
    {
        std::lock_guard lock(m_receiveLock);
        m_receiveQueue.push_back(std::move(node));
        m_receiveBytes += static_cast<DWORD>(got);
    }
    if (m_receiveNotice) m_receiveNotice();
    return true;
}

void Nimbranet::startReading() {
    const int fd = NET_StreamFd(m_net);
    if (fd < 0) return;
    m_readBuffer.resize(kReadChunkBytes);
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    std::lock_guard lock(m_receiveLock);
    m_readNotifier = std::move(notifier);
}

void Nimbranet::stopReading() {
    std::unique_ptr<QSocketNotifier> notifier;
    {
        std::lock_guard lock(m_receiveLock);
        notifier = std::move(m_readNotifier);
    }
    if (notifier) notifier->setEnabled(false);
}

void Nimbranet::writeThread() {
    std::unique_lock lock(m_sendLock);
    while (!m_stopThreads) {
        if (m_sendBytes == 0) {
            // Write and stopThreads notify under the send lock: no wake-up is
            // missed, so an idle link sleeps here without a timer.
            m_sendReady.wait(lock, [this] { return m_stopThreads || m_sendBytes > 0; });
            continue;
        }
        if (!sendRound(lock)) {
            // The socket is full: wait until it takes more (or we are stopped).
            lock.unlock();
            NET_WaitStream(m_net, true, m_stopFd, 100);
            lock.lock();
        }
    }
    linkTrace(3, "Nimbranet::WriteThread() signaled to exit setting bWriteThreadExit = TRUE");
    // What was queued just before the stop (a farewell token) goes out if the
    // socket takes it now; nothing waits for a socket that does not.
    if (m_sendBytes > 0) sendRound(lock);
}

bool Nimbranet::sendRound(std::unique_lock<std::mutex>& lock) {
    struct Pick {
        int queue;
        Node* node;
    };
    std::vector<Pick> picks;
    std::vector<NetBlock> blocks;
    picks.reserve(kMaxBlocksPerSend);
    blocks.reserve(kMaxBlocksPerSend);
    DWORD total = 0;
    auto add = [&](int queue, Node& node) {
        picks.push_back({queue, &node});
        const DWORD left = static_cast<DWORD>(node.bytes.size()) - node.offset;
        blocks.push_back({node.bytes.data() + node.offset, left});
        total += left;
    };
    // A block that went out in part is finished first, whatever its priority.
    const int partial = m_partialQueue;
    if (partial >= 0 && !m_sendQueues[partial].empty()) add(partial, m_sendQueues[partial].front());
    for (int q : kRoundOrder) {
        auto& queue = m_sendQueues[q];
        for (std::size_t i = (q == partial && !picks.empty()) ? 1 : 0; i < queue.size(); ++i) {
            if (blocks.size() >= kMaxBlocksPerSend || total >= kMaxBytesPerSend) break;
            add(q, queue[i]);
        }
    }
    if (blocks.empty()) {
        m_sendBytes = 0;
        return true;
    }
    const LONG sent = NET_SendBlocks(m_net, blocks.data(), static_cast<DWORD>(blocks.size()));
    if (sent < 0) {
        const Pick first = picks.front();
        linkTrace(1, "Nimbranet::WriteNodeToNet() Failed to send data %d bytes",
                  static_cast<int>(first.node->bytes.size() - first.node->offset));
        m_sendBytes -= static_cast<DWORD>(first.node->bytes.size() - first.node->offset);
        m_sendQueues[first.queue].pop_front();
        if (first.queue == m_partialQueue) m_partialQueue = -1;
        m_sendReady.wait_for(lock, std::chrono::milliseconds(10));
        return true;
    }
    DWORD left = static_cast<DWORD>(sent);
    for (const Pick& pick : picks) {
        const DWORD rest = static_cast<DWORD>(pick.node->bytes.size()) - pick.node->offset;
        const DWORD take = std::min(left, rest);
        pick.node->offset += take;
        m_sendBytes -= take;
        left -= take;
        if (take == rest) {
            m_sendQueues[pick.queue].pop_front();
            if (pick.queue == m_partialQueue) m_partialQueue = -1;
            continue;
        }
        if (take > 0) m_partialQueue = pick.queue;
        break;
    }
    return static_cast<DWORD>(sent) == total;
}

}  // namespace trennick
