#pragma once
// Nimbranet: the byte mover under the TCP link. It keeps one receive queue and
// four prioritised send queues over its CINet connection object. While a call
// is up, the owner's thread reads the socket as soon as it is readable (a
// socket notifier) into the receive queue and tells the owner at once; when
// the owner replies at once (an exchange such as a file transfer's blocks and
// answers), the socket is watched briefly for the peer's next bytes instead of
// waiting for the loop to wake again. A write thread empties the send queues
// onto the socket.
//
// Threads: the owner thread (the one that called Open, with a running Qt
// event loop) calls everything except that Read, Write, QueueSize and
// FlushQueues may also come from other threads. The receive queue and the
// read notifier's pointer sit behind the receive lock, the four send queues
// and their count behind the send lock.
// Failures: results (0, -1, status 3) and trace lines; nothing throws.
//
// Sending: a block is written whole or not at all from the queues' point of
// view. When the socket takes only part of it, the rest stays at the head of
// its own queue and is the first thing written next, before any other block of
// any priority, so no block is ever cut into by another. A send that would
// block counts as nothing sent. A block written while nothing waits goes to
// the socket at once from the writer's thread (what it does not take is
// queued); queued small blocks are gathered into one system call.

#include "platform/types.h"
#include "trennick/net/cinet.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QSocketNotifier;

namespace trennick {

// Status values of GetStatus.
inline constexpr int NIMINT_CS_NOT_CONNECTED = 0;
inline constexpr int NIMINT_CS_LISTENING = 1;
inline constexpr int NIMINT_CS_CONNECTED = 2;
inline constexpr int NIMINT_CS_FAULT = 3;
inline constexpr int NIMINT_CS_CLOSE = 4;
inline constexpr int NIMINT_CS_OPEN = 5;

class Nimbranet {
public:
    Nimbranet(WORD listenPort, WORD connectPort, BOOL useTcp);
    ~Nimbranet();
    Nimbranet(const Nimbranet&) = delete;
    Nimbranet& operator=(const Nimbranet&) = delete;

    // Creates the connection object; 1 unless that failed (1 when already open).
    BOOL Open();
    BOOL SetListenOn(BOOL on, WORD port);
    // Starts a call; 0 when connected already or when it cannot be started.
    BOOL Connect(const char* host, WORD port);
    void Disconnect();
    // Takes the head block of the receive queue when it fits `capacity`; its
    // length, or 0 (nothing there, or the block does not fit and stays).
    LONG Read(BYTE* buffer, DWORD capacity);
    // Sends the bytes at once when nothing is queued, else (or for what the
    // socket did not take) copies them to the tail of send queue 1-4; the
    // length, 0 for another queue.
    LONG Write(int queue, const BYTE* data, DWORD length);
    void FlushQueues();
    // which 1: bytes waiting to be sent (*nodes: blocks in queue 2);
    // which 0: bytes received and not yet read (*nodes: blocks).
    DWORD QueueSize(int which, DWORD* nodes);
    int GetStatus();
    // Stops both threads, clears connected and listening, empties the queues.
    void SetNotConnected();
    void Close();

    void EnableRead(BOOL enable) { m_readEnable = enable != 0; }
    BOOL IsReadEnabled() const { return m_readEnable ? TRUE : FALSE; }
    BOOL IsConnected() const { return m_connected ? TRUE : FALSE; }
    BOOL IsListening() const { return m_listening ? TRUE : FALSE; }
    // The port the listening socket is bound to (0 when not listening).
    WORD BoundListenPort() const { return NET_GetListenPort(m_net); }
    std::string CallerAddress() const { return NET_GetPeerAddress(m_net); }
    // How long a connect may stay pending (ms); taken by the next Open.
    void SetConnectTimeout(DWORD timeoutMs);
    // Called on the owner's thread each time bytes join the receive queue, so
    // the owner can read at once instead of at its next pass; it may read and
    // write a reply there and then. Set it before the first call comes up.
    void SetReceiveNotice(std::function<void()> notice) { m_receiveNotice = std::move(notice); }
    // Called on the owner's thread when a call comes up, ends or fails, so
    // the owner looks at the link at once; it must only post a message.
    void SetStateNotice(std::function<void()> notice) { m_stateNotice = std::move(notice); }

    // The socket is not read while this many bytes wait in the receive queue,
    // so a peer can never make the queue grow without end.
    static constexpr DWORD kReceiveQueueCapBytes = 8u << 20;
    static constexpr DWORD kReadChunkBytes = 65536;

private:
    struct Node {
        std::vector<BYTE> bytes;
        DWORD offset = 0;  // bytes of it already sent
    };

    static void netCallback(int event, void* user);
    void onNetEvent(int event);
    void stopThreads();
    // The peer closed the call: stop, but keep what it sent before closing
    // for the next read (its last words: a chat line, "<Disconnect>").
    void endCallKeepingReceived();
    void startThreads();
    // Watches the stream socket on the owner's thread; stopReading ends it.
    void startReading();
    void stopReading();
    // Reads what the socket holds and tells the owner; while the owner
    // replies to what it read, waits briefly for the peer's next bytes.
    void onReadable();
    // One read into the receive queue, the owner told; false when nothing
    // was queued.
    bool readOnce();
    // Whether the owner's thread may wait for a reply: not while it is
    // preempted often (looked at every few milliseconds).
    bool mayAwaitReply();
    void writeThread();
    // One sending round under the send lock; false when the socket would block.
    bool sendRound(std::unique_lock<std::mutex>& lock);

    WORD m_listenPort;
    WORD m_connectPort;
    BOOL m_useTcp;
    CINet* m_net = nullptr;
    int m_opened = NIMINT_CS_CLOSE;
    DWORD m_connectTimeoutMs = kDefaultConnectTimeoutMs;

    std::atomic<bool> m_fault{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_readEnable{true};

    std::mutex m_receiveLock;
    std::condition_variable m_receiveDrained;
    std::deque<Node> m_receiveQueue;
    DWORD m_receiveBytes = 0;

    std::mutex m_sendLock;
    std::condition_variable m_sendReady;
    std::deque<Node> m_sendQueues[4];
    DWORD m_sendBytes = 0;
    int m_partialQueue = -1;  // queue whose head block is partly sent

    std::function<void()> m_receiveNotice;
    std::function<void()> m_stateNotice;
    std::atomic<bool> m_stopThreads{false};
    int m_stopFd = -1;
    std::unique_ptr<QSocketNotifier> m_readNotifier;  // owner thread; pointer under the receive lock
    std::vector<BYTE> m_readBuffer;                   // owner thread
    std::atomic<std::uint64_t> m_writes{0};           // Write calls so far
    // The owner thread's view of its preemption (mayAwaitReply).
    std::chrono::steady_clock::time_point m_nextContentionCheck{};
    long m_involuntarySwitches = 0;
    bool m_awaitReplies = false;
    std::thread m_writeThread;
};

}  // namespace trennick
