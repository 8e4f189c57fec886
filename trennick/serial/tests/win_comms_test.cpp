#include "trennick/serial/win_comms.h"

#include "trennick/link/link_trace.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/tests/pty_cable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace trennick;
using namespace linktest;
using serialtest::PtyCable;

// Records the pieces instead of writing them.
class PieceRecorder : public CRWThread {
public:
    using CRWThread::CRWThread;
    std::vector<DWORD> pieces;

protected:
    bool WriteBlock(const BYTE*, DWORD length) override {
        pieces.push_back(length);
        return true;
    }
};

TEST(SerialLayer, BlocksGoOutInPiecesOfTheConfiguredSize) {
    CCComm comm;
    comm.Tty().CommPacketWriteSize = 512;
    PieceRecorder rw(comm);
    std::vector<BYTE> block(1300, 0x41);
    EXPECT_TRUE(rw.WriteBlockInPackets(block.data(), 1300));
    EXPECT_EQ(rw.pieces, (std::vector<DWORD>{512, 512, 276}));
    rw.pieces.clear();
    EXPECT_TRUE(rw.WriteBlockInPackets(block.data(), 1024));
    EXPECT_EQ(rw.pieces, (std::vector<DWORD>{512, 512}));
}

TEST(SerialLayer, QueueSizesFollowUseDefaultQueues) {
    auto pty = platform::openPseudoTerminal();
    ASSERT_TRUE(pty);
    {
        CCComm comm;
        comm.Tty().UseDefaultQueues = 0;
        ASSERT_EQ(comm.Open(pty->device.c_str(), 38400, 8, 0, 0, TRUE), 0);
        EXPECT_EQ(comm.Port()->inQueueSize(), 8192u);
        EXPECT_EQ(comm.Port()->outQueueSize(), 16384u);
    }
    {
        CCComm comm;  // the default: the driver's queues stay
        ASSERT_EQ(comm.Open(pty->device.c_str(), 38400, 8, 0, 0, TRUE), 0);
        EXPECT_NE(comm.Port()->inQueueSize(), 8192u);
        platform::SerialTimeouts to;
        ASSERT_EQ(comm.Port()->getTimeouts(to), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(to, (platform::SerialTimeouts{1, 0, 0, 0, 0}));
    }
    CCComm missing;
    EXPECT_EQ(missing.Open("/dev/no-such-port", 9600, 8, 0, 0, TRUE), -1);
    ::close(pty->master);
}

TEST(SerialLayer, QueuesKeepPriorityOrderAndSplitReceivedNodes) {
    CCComm comm;
    const BYTE one[] = {1}, two[] = {2, 2}, three[] = {3, 3, 3}, four[] = {4};
    comm.QueueSend(2, two, 2);
    comm.QueueSend(4, four, 1);
    comm.QueueSend(3, three, 3);
    comm.QueueSend(1, one, 1);
    EXPECT_EQ(comm.QueueSend(7, one, 1), 1);  // not queued, length still returned
    DWORD nodes = 0;
    EXPECT_EQ(comm.QueueSizes(1, &nodes), 7u);
    EXPECT_EQ(nodes, 3u);  // queues 1-3
    std::vector<BYTE> node;
    std::vector<BYTE> order;
    while (comm.TakeSend(node)) order.push_back(node[0]);
    EXPECT_EQ(order, (std::vector<BYTE>{1, 3, 4, 2}));

    const BYTE a[] = {'a', 'b', 'c'}, b[] = {'d', 'e'};
    comm.QueueReceived(a, 3);
    comm.QueueReceived(b, 2);
    BYTE out[4] = {};
    EXPECT_EQ(comm.TakeReceived(out, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "abcd");
    EXPECT_EQ(comm.QueueSizes(0, &nodes), 1u);
    EXPECT_EQ(comm.TakeReceived(out, 4), 1u);
    EXPECT_EQ(out[0], 'e');
}

// A serial line that answers no call of its own.
struct AnsweringSerialLine : SerialTransport {
    using SerialTransport::SerialTransport;
    BOOL IsOutgoingCall() override { return FALSE; }
};

// A serial link a test drives the way the main loop does.
class SerialLink : public CWinComms {
public:
    explicit SerialLink(const LinkServices& s) : CWinComms(s, std::make_unique<AnsweringSerialLine>(s)) {}
    // Reads what came and lets the link cut it into buckets; -1 on a lost line.
    LONG poll() {
        std::span<BYTE> buffer = ReceiveBuffer();
        const LONG n = WinReadCom(buffer.data() + m_fill, static_cast<DWORD>(buffer.size() - m_fill));
        if (n < 0) return -1;
        m_fill += static_cast<DWORD>(n);
        if (m_fill > 0 && FilterPollBuff(buffer, m_fill) < 0) return -1;  // a user disconnect seen
        return n;
    }
    void StoreNewFrame(const DecodedBucket&) override {}

private:
    DWORD m_fill = 0;
};

TEST(SerialLayer, LoopBackHandsWritesBackAtItsRate) {
    FakeClock clock;
    FakeWindow window;
    LinkServices s{&window, nullptr, nullptr, clock.fn(), LinkSettings{}, 200000, {}};
    SerialLink link(s);
    link.SetLoopBack(true, 1000);
    std::vector<BYTE> data(3000, 0x55);
    EXPECT_EQ(link.WinWrite(data.data(), 1200, FALSE, 1), 1200);
    EXPECT_EQ(link.WinWrite(data.data(), 1800, FALSE, 1), 1800);
    BYTE buffer[4000];
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 0);  // the window starts now
    clock.ms += 500;
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 500);
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 0);  // nothing more in this window
    clock.ms += 300;
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 300);
    clock.ms += 1001;  // a new window
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 0);
    clock.ms += 1000;
    EXPECT_EQ(link.WinReadCom(buffer, sizeof buffer), 1000);
    EXPECT_EQ(link.GetQueueSize(0), 1200u);
}

// A line that stops taking bytes (the peer reads nothing) makes a piece time
// out: the link is faulted and reports the line lost instead of dropping the
// rest of the block and sending on into a corrupted stream.
TEST(SerialLayer, AWriteTheLineDoesNotTakeFaultsTheLink) {
    auto pty = platform::openPseudoTerminal();  // its master is never read
    ASSERT_TRUE(pty);
    FakeWindow window;
    SerialLink a({&window, nullptr, nullptr, {}, LinkSettings{}, 200000, {}});
    a.Comm().Tty().WriteTotalTimeoutConstant = 200;  // the user's write time-out
    ASSERT_EQ(a.WinSetupComm(pty->device.c_str(), 115200, 8, 0, 0, true), 0);
    std::vector<BYTE> block(64 * 1024, 0x5A);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(a.WinWrite(block.data(), static_cast<DWORD>(block.size()), FALSE, 1),
                  static_cast<LONG>(block.size()));
    }
    LONG result = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (result >= 0 && std::chrono::steady_clock::now() < deadline) {
        result = a.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(a.poll(), -1);              // it stays lost
    EXPECT_EQ(a.GetQueueSize(1), 0u);     // and nothing more waits to go out
    a.WinUnSetupComm();
    ::close(pty->master);
}

// Two serial links on the two ends of a pty cable exchange their hello, chat,
// and see the line go when the cable is cut.
TEST(SerialLayer, TwoLinksOverAPtyCableExchangeHelloAndSeeTheCut) {
    PtyCable cable;
    ASSERT_TRUE(cable.ok());
    if (getenv("SERIAL_DEBUG")) setLinkTraceSink([](unsigned l, const char* t) { fprintf(stderr, "%u %s\n", l, t); });
    FakeClock clock;
    FakeWindow windowA, windowB;
    FakeHost hostA, hostB;
    FakeIdentity idA, idB;
    hostB.seed = 2;
    SerialLink a({&windowA, &hostA, &idA, clock.fn(), LinkSettings{}, 200000, {}});
    SerialLink b({&windowB, &hostB, &idB, clock.fn(), LinkSettings{}, 200000, {}});
    ASSERT_EQ(a.WinSetupComm(cable.endA().c_str(), 115200, 8, 0, 0, true), 0);
    ASSERT_EQ(b.WinSetupComm(cable.endB().c_str(), 115200, 8, 0, 0, true), 0);
    EXPECT_NE(a.SendHello(), 0);
    EXPECT_NE(a.SendSiteInfo(), 0);
    EXPECT_NE(b.SendHello(), 0);
    EXPECT_NE(b.SendSiteInfo(), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(a.IsConnected() && b.IsConnected()) && std::chrono::steady_clock::now() < deadline) {
        a.poll();
        b.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(a.IsConnected());
    ASSERT_TRUE(b.IsConnected());
    EXPECT_EQ(hostA.remoteStationByte, 2);

    cable.cut();
    LONG result = 0;
    const auto cutDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (result >= 0 && std::chrono::steady_clock::now() < cutDeadline) {
        result = a.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(result, -1);
}

}  // namespace
