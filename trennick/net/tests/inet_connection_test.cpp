#include "trennick/net/inet_connection.h"

#include "trennick/net/testing/link_station.h"
#include "trennick/link/bucket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace trennick;
using namespace nettest;

namespace {

struct FakeClock {
    std::shared_ptr<std::atomic<DWORD>> ms = std::make_shared<std::atomic<DWORD>>(1000);
    LinkClock clock() const {
        auto t = ms;
        return [t] { return t->load(); };
    }
    void advance(DWORD by) { *ms += by; }
};

// A listening station with one raw caller accepted (the call is up, no hello yet).
struct ListenerWithRawCaller {
    FakeClock clock;
    WORD port = freePort();
    Station station{true, port, clock.clock()};
    int caller = -1;

    bool setUp() {
        if (!station.open()) return false;
        caller = connectRaw(port);
        if (caller < 0) return false;
        return station.runUntil([&] { return station.callsUp == 1; });
    }
    ~ListenerWithRawCaller() {
        if (caller >= 0) ::close(caller);
    }
};

}  // namespace

struct AddressCase {
    const char* address;
    WORD port;
    const char* host;
};

TEST(InetConnection, AddressPicksThePort) {
    RecordingWindow window;
    InetOptions options;
    options.connectPortText = "4700";
    CInetConnection link(servicesFor(&window), options);
    const AddressCase cases[] = {
        {"10.1.2.3:5000", 5000, "10.1.2.3"},
        {"station.example", 4700, "station.example"},
        {"10.1.2.3:", 4700, "10.1.2.3"},  // keeps the port of the call before
        {"10.9.9.9:6000", 6000, "10.9.9.9"},
        {"10.9.9.9:", 6000, "10.9.9.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(link.ConnectToRemote(c.address, ""), 0);
        EXPECT_EQ(link.GetConnectState(), CS_CONNECTING);
        EXPECT_EQ(link.GetCallPort(), c.port);
        EXPECT_EQ(link.GetCallHost(), c.host);
        EXPECT_TRUE(link.IsOutgoingCall());
    }
}

TEST(InetConnection, AddressWithABadPortPlacesNoCall) {
    RecordingWindow window;
    CInetConnection link(servicesFor(&window));
    for (const char* address : {"host:0", "host:70000", "host:abc"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(link.ConnectToRemote(address, ""), 0);
        EXPECT_EQ(link.GetConnectState(), CS_NOT_CONNECTED);
    }
}

TEST(InetConnection, SettingsAreWrittenBackAndCommandLinePortsWin) {
    RecordingWindow window;
    {
        CInetConnection link(servicesFor(&window));
        EXPECT_EQ(link.GetListenPortSetting(), 4599);
        EXPECT_EQ(link.GetConnectToPortSetting(), 4599);
        EXPECT_TRUE(link.GetUseTcp());
    }
    InetOptions options;
    options.listenPortText = "5100";
    options.connectPortText = "5200";
    CInetConnection link(servicesFor(&window), options);
    EXPECT_EQ(link.GetListenPortSetting(), 5100);
    EXPECT_EQ(link.GetConnectToPortSetting(), 5200);
}

TEST(InetConnection, StopListeningWhenNotListeningChangesNothing) {
    RecordingWindow window;
    CInetConnection link(servicesFor(&window), InetOptions{std::to_string(freePort()), "", nullptr});
    ASSERT_TRUE(link.ConnectToLan());
    EXPECT_EQ(link.StopListening(), 16);
    EXPECT_TRUE(link.IsLinkDown());
    ASSERT_EQ(link.SetListenOn(0), 1);
    EXPECT_TRUE(link.IsListeningFor(2));
    EXPECT_EQ(link.StopListening(), 0);
    EXPECT_TRUE(link.IsLinkDown());
    EXPECT_EQ(link.StopListening(), 16);
}

TEST(InetConnection, ListenPortZeroIsRefused) {
    RecordingWindow window;
    CInetConnection link(servicesFor(&window), InetOptions{"0", "", nullptr});
    ASSERT_TRUE(link.ConnectToLan());
    EXPECT_EQ(link.SetListenOn(0), 0);
    EXPECT_TRUE(link.IsLinkDown());
}

// A caller that connects and says nothing holds the line only until the
// hello should have been done; then the listener drops it and listens again.
TEST(InetConnection, AcceptedCallKnowsTheCallersAddress) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    EXPECT_EQ(t.station.link.GetPeerAddress(), "127.0.0.1");
}

TEST(InetConnection, SilentCallerIsDroppedAndListeningResumes) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    EXPECT_TRUE(t.station.link.IsLinkUp());
    EXPECT_EQ(t.station.window.count(kMsgIncomingAccepted, 2), 1);
    EXPECT_GE(t.station.pass(), 0);
    t.clock.advance(kSessionSetupLimitMs + 1);
    EXPECT_EQ(t.station.pass(), -5);
    EXPECT_EQ(t.station.window.count(kMsgLinkNotice, kStrLinkTimedOut), 1);
    EXPECT_TRUE(t.station.link.IsListeningFor(2));
    // The caller reads our hello, then the end of the stream.
    char bytes[4096];
    ssize_t got = 0;
    for (int i = 0; i < 100 && (got = ::recv(t.caller, bytes, sizeof bytes, 0)) > 0; ++i) {
    }
    EXPECT_EQ(got, 0);
    // And the next caller is taken.
    const int next = connectRaw(t.port);
    ASSERT_GE(next, 0);
    EXPECT_TRUE(t.station.runUntil([&] { return t.station.callsUp == 2; }));
    ::close(next);
}

// Noise costs bounded memory: the read pass parses what arrives and the
// queue never holds more than its cap; the hello limit ends the call.
TEST(InetConnection, GarbageCallerCostsBoundedMemoryAndIsDropped) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> sent{0};
    std::thread noise([&] {
        std::mt19937 random(7);
        std::vector<unsigned char> junk(1 << 15);
        while (!stop) {
            for (auto& b : junk) b = static_cast<unsigned char>(random());
            const ssize_t n = ::send(t.caller, junk.data(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<std::size_t>(n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(t.station.runUntil([&] { return sent > (8u << 20); }));
    for (int i = 0; i < 100; ++i) {
        const LONG r = t.station.pass();
        EXPECT_GE(r, 0);
        EXPECT_LE(t.station.link.GetQueueSize(0), Nimbranet::kReceiveQueueCapBytes + Nimbranet::kReadChunkBytes);
    }
    EXPECT_FALSE(t.station.link.IsConnected());
    t.clock.advance(kSessionSetupLimitMs + 1);
    EXPECT_TRUE(t.station.runUntil([&] { return t.station.drops == 1; }));
    stop = true;
    noise.join();
    EXPECT_TRUE(t.station.link.IsListeningFor(2));
}

TEST(InetConnection, CallerVanishingMidBucketEndsTheCall) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    std::vector<BYTE> bucket(2000);
    const std::string text(1500, 'x');
    const DWORD bytes = buildBucket(bucket, kChatBucket, reinterpret_cast<const BYTE*>(text.data()),
                                    static_cast<DWORD>(text.size()), 0, 0, static_cast<DWORD>(bucket.size()));
    ASSERT_GT(bytes, 1000u);
    ASSERT_TRUE(writeAll(t.caller, bucket.data(), bytes / 2));
    ASSERT_TRUE(t.station.runUntil([&] { return t.station.link.GetQueueSize(0) == 0; }));
    // The half bucket waits in the buffer; passes end at once.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(t.station.link.TimeToRead(), 1);
    ::close(t.caller);
    t.caller = -1;
    EXPECT_TRUE(t.station.runUntil([&] { return t.station.drops == 1; }));
    EXPECT_TRUE(t.station.chat.texts.empty());
    EXPECT_TRUE(t.station.link.IsListeningFor(2));
}

TEST(InetConnection, ReadQueueAboveTheLimitIsFlushed) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    t.station.link.SetMaxReadQueueBytes(1000);
    std::vector<unsigned char> junk(5000, 0x33);
    ASSERT_TRUE(writeAll(t.caller, junk.data(), junk.size()));
    ASSERT_TRUE(pumpUntil([&] { return t.station.link.GetQueueSize(0) >= junk.size(); }));
    EXPECT_EQ(t.station.link.TimeToRead(), 1);
    EXPECT_EQ(t.station.link.GetQueueSize(0), 0u);
    EXPECT_TRUE(t.station.link.IsLinkUp());
}

TEST(InetConnection, RefusedCallEndsDown) {
    RecordingWindow window;
    Station caller(false, freePort());
    ASSERT_TRUE(caller.open());
    const std::string address = "127.0.0.1:" + std::to_string(freePort());
    caller.link.ConnectToRemote(address.c_str(), "");
    ASSERT_TRUE(caller.runUntil([&] { return caller.link.IsLinkDown(); }));
    // Refused at once (the connect notice) or by the stack a moment later (a fault).
    EXPECT_EQ(caller.window.count(kMsgLinkNotice, kStrConnectFailed) + caller.window.count(kMsgLinkNotice, kStrLinkFault), 1);
    EXPECT_EQ(caller.callsUp, 0);
}

// A listener whose backlog is full never answers a further caller: the call
// stays pending until the connect time-out ends it.
TEST(InetConnection, UnansweredCallTimesOut) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    const WORD port = ntohs(a.sin_port);
    // Callers that fill the backlog; they are never accepted.
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }

    Station caller(false, freePort());
    ASSERT_TRUE(caller.open());
    caller.link.SetConnectTimeout(300);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    caller.link.ConnectToRemote(address.c_str(), "");
    caller.pass();
    EXPECT_TRUE(caller.link.IsConnecting());
    ASSERT_TRUE(caller.runUntil([&] { return caller.drops == 1; }));
    EXPECT_EQ(caller.window.count(kMsgLinkNotice, kStrLinkFault), 1);
    EXPECT_TRUE(caller.link.IsLinkDown());
    EXPECT_EQ(caller.callsUp, 0);
    for (int fd : fillers) if (fd >= 0) ::close(fd);
    ::close(server);
}

TEST(InetConnection, WritesGoOutOnlyWhileConnected) {
    RecordingWindow window;
    CInetConnection link(servicesFor(&window));
    const BYTE b[4] = {1, 2, 3, 4};
    EXPECT_EQ(link.ConnectWrite(b, 4, 0, 2), 0);
    EXPECT_EQ(link.GetQueueSize(1), 0u);
    EXPECT_TRUE(link.IsReadyToSend());
    EXPECT_EQ(link.GetMaxChunk(), 1024u);
}

// The caller's last bucket, sent just before it closes, still reaches the
// link although the close is noticed first.
TEST(InetConnection, LastWordsBeforeACloseAreRead) {
    ListenerWithRawCaller t;
    ASSERT_TRUE(t.setUp());
    // The caller's hello, then its last words.
    StationInfoBlock block{};
    block.length = kStationInfoBytes;
    const std::vector<BYTE> hello = buildHelloPayload("<HELLO V1.2>", block, true);
    std::vector<BYTE> bucket(4096);
    DWORD bytes = buildBucket(bucket, kTokenBucket, hello.data(), static_cast<DWORD>(hello.size()), 0, 0,
                              static_cast<DWORD>(bucket.size()));
    ASSERT_GT(bytes, 0u);
    ASSERT_TRUE(writeAll(t.caller, bucket.data(), bytes));
    const std::string text = "last words";
    bytes = buildBucket(bucket, kChatBucket, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()), 0, 0, static_cast<DWORD>(bucket.size()));
    ASSERT_GT(bytes, 0u);
    ASSERT_TRUE(writeAll(t.caller, bucket.data(), bytes));
    // An orderly close (a close with our unread hello in its buffer would
    // reset the call instead).
    ::shutdown(t.caller, SHUT_WR);
    // Only the event loop runs: the close notice arrives before any read pass.
    ASSERT_TRUE(pumpUntil([&] { return t.station.link.Sockets().GetStatus() == NIMINT_CS_NOT_CONNECTED; }));
    EXPECT_EQ(t.station.pass(), -5);
    ASSERT_EQ(t.station.chat.texts.size(), 1u);
    EXPECT_EQ(t.station.chat.texts[0], text);
}

TEST(InetConnection, StatusFollowsTheCall) {
    CCommon::setStringLoader([](UINT id) { return "text " + std::to_string(id); });
    ListenerWithRawCaller t;
    CInetConnection& link = t.station.link;
    LONG seen = -1;
    ASSERT_TRUE(t.station.open());
    EXPECT_TRUE(link.HasStateChanged(&seen));
    EXPECT_EQ(seen, CS_LISTENING);
    EXPECT_FALSE(link.HasStateChanged(&seen));
    EXPECT_EQ(link.GetStatusText(), "text 61303");
    EXPECT_EQ(link.GetStatusCode(), 4);
    EXPECT_TRUE(link.IsTargetListeningFor(0));
    EXPECT_FALSE(link.IsListeningFor(0));

    t.caller = connectRaw(t.port);
    ASSERT_GE(t.caller, 0);
    ASSERT_TRUE(t.station.runUntil([&] { return t.station.callsUp == 1; }));
    EXPECT_TRUE(link.HasStateChanged(&seen));
    EXPECT_EQ(seen, CS_CONNECTED);
    EXPECT_EQ(link.GetStatusText(), "text 61307");
    EXPECT_EQ(link.GetStatusCode(), 1);
    EXPECT_EQ(t.station.window.count(kMsgLinkUp, 0), 1);
    EXPECT_EQ(t.station.window.count(kMsgCommMessage, kCommStatusTextIndex), 2);

    // Listening asked for while a call is up: the owner is told, the call ends.
    EXPECT_EQ(link.SetListenOn(0), 1);
    EXPECT_EQ(t.station.window.count(kMsgLinkNotice, 0), 1);
    EXPECT_TRUE(link.IsListeningFor(2));
}
