#include "trennick/net/nimbranet.h"

#include "trennick/net/testing/net_test_util.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace trennick;
using namespace nettest;

namespace {

// A Nimbranet listening on a free port with one raw client accepted.
struct AcceptedPair {
    Nimbranet net{0, 0, TRUE};
    int client = -1;
    WORD port = 0;

    bool setUp() {
        if (!net.Open()) return false;
        if (!net.SetListenOn(TRUE, 0)) return false;
        port = net.BoundListenPort();
        if (port == 0) return false;
        client = connectRaw(port);
        if (client < 0) return false;
        return pumpUntil([&] { return net.GetStatus() == NIMINT_CS_CONNECTED; });
    }
    ~AcceptedPair() {
        if (client >= 0) ::close(client);
    }
};

std::vector<BYTE> block(BYTE tag, std::size_t length) {
    std::vector<BYTE> b(length);
    for (std::size_t i = 0; i < length; ++i) b[i] = static_cast<BYTE>(tag + i % 7);
    return b;
}

bool isBlock(const std::vector<unsigned char>& bytes, std::size_t at, BYTE tag, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (bytes[at + i] != static_cast<BYTE>(tag + i % 7)) return false;
    }
    return true;
}

}  // namespace

TEST(Nimbranet, KeepsTheListeningSocketThroughACallUntilSwitchedOff) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    // The listening socket stays bound while the call is up: a second caller
    // is queued (to be taken when this call ends), not refused.
    const int queued = connectRaw(pair.port);
    EXPECT_GE(queued, 0) << "a second caller must find the station listening";
    if (queued >= 0) ::close(queued);
    // Switching listening off closes it and leaves the call alone.
    EXPECT_TRUE(pair.net.SetListenOn(FALSE, pair.port));
    EXPECT_EQ(pair.net.GetStatus(), NIMINT_CS_CONNECTED);
    EXPECT_LT(connectRaw(pair.port), 0) << "switched off: nobody listens";

    const char hello[] = "both ways";
    ASSERT_EQ(pair.net.Write(2, reinterpret_cast<const BYTE*>(hello), sizeof hello), static_cast<LONG>(sizeof hello));
    std::vector<unsigned char> got;
    ASSERT_TRUE(readExactly(pair.client, got, sizeof hello));
    EXPECT_EQ(std::memcmp(got.data(), hello, sizeof hello), 0);

    ASSERT_TRUE(writeAll(pair.client, "back", 4));
    BYTE buffer[16] = {};
    LONG n = 0;
    ASSERT_TRUE(pumpUntil([&] { return (n = pair.net.Read(buffer, sizeof buffer)) > 0; }));
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::memcmp(buffer, "back", 4), 0);
}

TEST(Nimbranet, SwitchingListeningOnTwiceKeepsTheSocket) {
    Nimbranet net(0, 0, TRUE);
    ASSERT_TRUE(net.Open());
    ASSERT_TRUE(net.SetListenOn(TRUE, 0));
    const WORD port = net.BoundListenPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(net.SetListenOn(TRUE, 0));
    EXPECT_EQ(net.BoundListenPort(), port);
    EXPECT_EQ(net.GetStatus(), NIMINT_CS_LISTENING);
}

TEST(Nimbranet, ReadKeepsABlockThatDoesNotFitAtTheHead) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    ASSERT_TRUE(writeAll(pair.client, "0123456789", 10));
    ASSERT_TRUE(pumpUntil([&] { return pair.net.QueueSize(0, nullptr) == 10; }));
    BYTE small[4];
    EXPECT_EQ(pair.net.Read(small, sizeof small), 0);
    DWORD nodes = 0;
    EXPECT_EQ(pair.net.QueueSize(0, &nodes), 10u);
    EXPECT_EQ(nodes, 1u);
    BYTE large[32];
    EXPECT_EQ(pair.net.Read(large, sizeof large), 10);
    EXPECT_EQ(pair.net.QueueSize(0, nullptr), 0u);
}

TEST(Nimbranet, QueueNumbersOutsideOneToFourAreRefused) {
    Nimbranet net(0, 0, TRUE);
    const BYTE b[3] = {1, 2, 3};
    for (int queue : {0, 5, -1}) EXPECT_EQ(net.Write(queue, b, 3), 0) << queue;
    EXPECT_EQ(net.QueueSize(1, nullptr), 0u);
    EXPECT_EQ(net.Write(2, b, 3), 3);
    DWORD nodes = 0;
    EXPECT_EQ(net.QueueSize(1, &nodes), 3u);
    EXPECT_EQ(nodes, 1u);
}

// The peer does not read, so a large block goes out only in part. A block of
// higher priority queued meanwhile must wait until the rest is out, and every
// byte must arrive exactly once.
TEST(Nimbranet, APartlySentBlockIsFinishedBeforeAnyOther) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    constexpr std::size_t kBig = 24u << 20;
    constexpr std::size_t kSmall = 1000;
    const auto big = block(10, kBig);
    ASSERT_EQ(pair.net.Write(2, big.data(), static_cast<DWORD>(kBig)), static_cast<LONG>(kBig));
    // Wait until the socket has taken part of it and would block.
    ASSERT_TRUE(pumpUntil([&] {
        const DWORD left = pair.net.QueueSize(1, nullptr);
        return left > 0 && left < kBig;
    }));
    const auto urgent = block(100, kSmall);
    const auto later = block(200, kSmall);
    ASSERT_EQ(pair.net.Write(1, urgent.data(), kSmall), static_cast<LONG>(kSmall));
    ASSERT_EQ(pair.net.Write(2, later.data(), kSmall), static_cast<LONG>(kSmall));

    std::vector<unsigned char> got;
    ASSERT_TRUE(readExactly(pair.client, got, kBig + 2 * kSmall));
    EXPECT_TRUE(isBlock(got, 0, 10, kBig)) << "the big block was cut into";
    EXPECT_TRUE(isBlock(got, kBig, 100, kSmall));
    EXPECT_TRUE(isBlock(got, kBig + kSmall, 200, kSmall));
    EXPECT_TRUE(pumpUntil([&] { return pair.net.QueueSize(1, nullptr) == 0; }));
}

TEST(Nimbranet, SendsPriorityOneThenFourThreeTwo) {
    // Everything queued before the call is up goes out in one round.
    AcceptedPair pair;
    ASSERT_TRUE(pair.net.Open());
    ASSERT_TRUE(pair.net.SetListenOn(TRUE, 0));
    pair.port = pair.net.BoundListenPort();
    pair.client = connectRaw(pair.port);
    ASSERT_GE(pair.client, 0);
    // Queue while the accept notice is still on its way: the write thread
    // does not run yet.
    const BYTE order[] = {2, 3, 4, 1};
    for (BYTE q : order) ASSERT_EQ(pair.net.Write(q, &q, 1), 1);
    ASSERT_TRUE(pumpUntil([&] { return pair.net.GetStatus() == NIMINT_CS_CONNECTED; }));
    std::vector<unsigned char> got;
    ASSERT_TRUE(readExactly(pair.client, got, 4));
    EXPECT_EQ(got, (std::vector<unsigned char>{1, 4, 3, 2}));
}

TEST(Nimbranet, PeerCloseIsReportedAsNotConnected) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    ::close(pair.client);
    pair.client = -1;
    EXPECT_TRUE(pumpUntil([&] { return pair.net.GetStatus() == NIMINT_CS_NOT_CONNECTED; }));
}

TEST(Nimbranet, ConnectToAClosedPortFails) {
    Nimbranet net(0, 0, TRUE);
    ASSERT_TRUE(net.Open());
    const WORD port = freePort();
    // Refused at once or reported by the notice as a fault.
    if (net.Connect("127.0.0.1", port)) {
        EXPECT_TRUE(pumpUntil([&] { return net.GetStatus() == NIMINT_CS_FAULT; }));
    }
    EXPECT_EQ(net.GetStatus(), NIMINT_CS_NOT_CONNECTED);
}

TEST(Nimbranet, ReceiveQueueStopsGrowingAtItsCap) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    // A writer that never stops; the queue holds at most the cap plus one chunk.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<unsigned char> junk(1 << 16, 0x55);
        while (!stop) {
            if (::send(pair.client, junk.data(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return pair.net.QueueSize(0, nullptr) >= Nimbranet::kReceiveQueueCapBytes; }));
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_LE(pair.net.QueueSize(0, nullptr), Nimbranet::kReceiveQueueCapBytes + Nimbranet::kReadChunkBytes);
    }
    stop = true;
    writer.join();
}

TEST(Nimbranet, AFarewellQueuedJustBeforeAHangUpGoesOut) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        AcceptedPair pair;
        ASSERT_TRUE(pair.setUp());
        const char bye[] = "<Disconnect>";
        ASSERT_EQ(pair.net.Write(2, reinterpret_cast<const BYTE*>(bye), sizeof bye), static_cast<LONG>(sizeof bye));
        pair.net.Disconnect();
        std::vector<unsigned char> got;
        ASSERT_TRUE(readExactly(pair.client, got, sizeof bye));
        EXPECT_EQ(std::memcmp(got.data(), bye, sizeof bye), 0);
        char more;
        EXPECT_EQ(::recv(pair.client, &more, 1, 0), 0);
    }
}

TEST(Nimbranet, AnExchangeThatNeverPausesStillLetsTheLoopRun) {
    AcceptedPair pair;
    ASSERT_TRUE(pair.setUp());
    // The owner answers each read at once and the peer answers each answer,
    // for a second: the socket is never quiet for long, so the owner waits
    // for the peer's bytes instead of sleeping; its timers must still run.
    long answered = 0;
    pair.net.SetReceiveNotice([&] {
        BYTE buffer[Nimbranet::kReadChunkBytes];
        while (pair.net.Read(buffer, sizeof buffer) > 0) {
            ++answered;
            pair.net.Write(2, buffer, 1);
        }
    });
    std::atomic<bool> exchanging{true};
    std::thread peer([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        char byte = 'x';
        while (std::chrono::steady_clock::now() < end && writeAll(pair.client, &byte, 1)) {
            pollfd wait{pair.client, POLLIN, 0};
            if (::poll(&wait, 1, 1000) != 1 || ::recv(pair.client, &byte, 1, 0) != 1) break;
        }
        exchanging = false;
    });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks += exchanging ? 1 : 0; });
    timer.start(10);
    EXPECT_TRUE(pumpUntil([&] { return !exchanging; }));
    peer.join();
    EXPECT_GT(answered, 100) << "the exchange ran";
    EXPECT_GE(ticks, 10) << "a timer of 10 ms fired " << ticks << " times in the second of the exchange";
}
