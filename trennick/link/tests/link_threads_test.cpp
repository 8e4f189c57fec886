// Two links whose bytes travel through channels read by a reader thread each,
// as the TCP and serial transports do, while the application thread sends.

#include "trennick/link/testing/link_fakes.h"
#include "trennick/link/testing/sink_transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using namespace linktest;

class Channel {
public:
    void put(const BYTE* data, DWORD length) {
        std::lock_guard lock(m_lock);
        m_bytes.insert(m_bytes.end(), data, data + length);
        m_ready.notify_one();
    }
    // Waits up to 20 ms for bytes; empty when closed or none came.
    std::vector<BYTE> take() {
        std::unique_lock lock(m_lock);
        m_ready.wait_for(lock, std::chrono::milliseconds(20), [&] { return !m_bytes.empty() || m_closed; });
        std::vector<BYTE> out;
        out.swap(m_bytes);
        return out;
    }
    void close() {
        std::lock_guard lock(m_lock);
        m_closed = true;
        m_ready.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<BYTE> m_bytes;
    bool m_closed = false;
};

class ThreadedLink : public CPacketConnection {
public:
    ThreadedLink(const LinkServices& s, bool outgoing, Channel& out)
        : CPacketConnection(s, makeSinkTransport(outgoing, [&out](const BYTE* data, DWORD length) {
                                out.put(data, length);
                            })) {}
};

struct Chat : LinkChatWindow {
    void chatText(std::string_view) override { ++texts; }
    void UpdateTitle(std::string_view) override {}
    std::atomic<int> texts{0};
};

// The reader: appends what arrives behind the partial bucket left over and
// lets the link cut it, until told to stop.
void readLoop(ThreadedLink& link, Channel& in, std::atomic<bool>& stop) {
    std::span<BYTE> buffer = link.ReceiveBuffer();
    DWORD length = 0;
    while (!stop) {
        const std::vector<BYTE> bytes = in.take();
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, buffer.size() - length);
            std::copy(bytes.begin() + at, bytes.begin() + at + n, buffer.begin() + length);
            length += static_cast<DWORD>(n);
            at += n;
            if (link.FilterPollBuff(buffer, length) < 0) {
                length = 0;
            }
        }
    }
}

TEST(LinkThreads, ReaderThreadsAndTheSenderShareEachLink) {
    Channel toA, toB;
    std::atomic<DWORD> clockMs{500000};
    LinkClock clock = [&] { return clockMs.load(); };
    FakeIdentity identityA, identityB;
    ThreadedLink a({nullptr, nullptr, &identityA, clock, LinkSettings{}, 100000, {}}, true, toB);
    ThreadedLink b({nullptr, nullptr, &identityB, clock, LinkSettings{}, 100000, {}}, false, toA);
    Chat chatB;
    b.SetChatWindow(&chatB);

    std::atomic<bool> stop{false};
    std::thread readerA(readLoop, std::ref(a), std::ref(toA), std::ref(stop));
    std::thread readerB(readLoop, std::ref(b), std::ref(toB), std::ref(stop));

    EXPECT_NE(a.SendHello(), 0);
    EXPECT_NE(a.SendSiteInfo(), 0);
    EXPECT_NE(b.SendHello(), 0);
    EXPECT_NE(b.SendSiteInfo(), 0);
    constexpr int kChats = 300;
    for (int i = 0; i < kChats; ++i) {
        EXPECT_NE(a.SendChatString("message " + std::to_string(i)), 0);
        (void)b.SendLineSync();  // due once a period only: most calls send nothing
        EXPECT_EQ(a.CheckTimeOuts(), 1);
        clockMs += 100;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((chatB.texts < kChats || !a.IsConnected() || !b.IsConnected()) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    toA.close();
    toB.close();
    readerA.join();
    readerB.join();

    EXPECT_TRUE(a.IsConnected());
    EXPECT_TRUE(b.IsConnected());
    EXPECT_EQ(chatB.texts, kChats);
}

}  // namespace
