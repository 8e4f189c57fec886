#include "trennick/serial/rw_thread.h"

#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace trennick;
using namespace std::chrono_literals;

constexpr DWORD kCap = 64 * 1024;
constexpr DWORD kFloodBytes = 1024 * 1024;
constexpr auto kGuard = 60s;  // only a hang runs into it

BYTE floodByte(DWORD i) { return static_cast<BYTE>((i * 7 + i / 251) & 0xFF); }

// Waits until `done` holds or the guard runs out; says which.
bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A pty whose device side is the port of a CCComm with a small receive cap and
// running read/write threads; a writer thread pushes kFloodBytes into the
// master as fast as the line takes them. Nobody takes from the queue until the
// test does.
class FloodedPort {
public:
    FloodedPort() : rw(comm) {}
    ~FloodedPort() {
        m_stop = true;
        if (m_writer.joinable()) m_writer.join();
        rw.EndRW();
        comm.Close();
        if (m_pty) ::close(m_pty->master);
    }

    // False when the pty or the port could not be set up.
    bool start() {
        m_pty = platform::openPseudoTerminal();
        if (!m_pty) return false;
        const int flags = ::fcntl(m_pty->master, F_GETFL);
        if (flags < 0 || ::fcntl(m_pty->master, F_SETFL, flags | O_NONBLOCK) != 0) return false;
        if (comm.Open(m_pty->device.c_str(), 115200, 8, 0, 0, TRUE) != 0) return false;
        comm.SetMaxReceiveQueueBytes(kCap);
        if (!rw.Start()) return false;
        m_writer = std::thread([this] { flood(); });
        return true;
    }
    DWORD written() const { return m_written.load(); }
    DWORD queued() { return comm.QueueSizes(0, nullptr); }

    CCComm comm;
    CRWThread rw;

private:
    void flood() {
        std::vector<BYTE> data(kFloodBytes);
        for (DWORD i = 0; i < kFloodBytes; ++i) data[i] = floodByte(i);
        DWORD at = 0;
        while (at < kFloodBytes && !m_stop) {
            pollfd p{m_pty->master, POLLOUT, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::write(m_pty->master, data.data() + at, kFloodBytes - at);
            if (n > 0) {
                at += static_cast<DWORD>(n);
                m_written = at;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }

    std::optional<platform::PseudoTerminal> m_pty;
    std::thread m_writer;
    std::atomic<bool> m_stop{false};
    std::atomic<DWORD> m_written{0};
};

// The read thread stops at the cap while the sender waits in flow control; once
// the link takes, every byte arrives in order and the cap still holds.
TEST(SerialReadThread, StopsReadingAtTheReceiveCapAndLosesNothing) {
    FloodedPort port;
    ASSERT_TRUE(port.start());
    ASSERT_TRUE(waitUntil([&] { return port.rw.ReadPaused(); })) << "queued " << port.queued();
    // Nobody has taken, so the queue only grew: what it holds now is the most
    // it ever held, and nothing more is read while it is paused.
    const DWORD held = port.queued();
    EXPECT_GE(held, kCap);
    EXPECT_LE(held, kCap + CRWThread::kReadChunkBytes);
    EXPECT_LT(port.written(), kFloodBytes) << "the sender should wait for the line";

    std::vector<BYTE> got;
    got.reserve(kFloodBytes);
    DWORD most = held;
    BYTE buffer[3000];
    ASSERT_TRUE(waitUntil([&] {
        most = std::max(most, port.queued());
        const DWORD n = port.comm.TakeReceived(buffer, sizeof buffer);
        got.insert(got.end(), buffer, buffer + n);
        return got.size() >= kFloodBytes;
    })) << "received " << got.size() << " of " << kFloodBytes;
    EXPECT_LE(most, kCap + CRWThread::kReadChunkBytes);
    ASSERT_EQ(got.size(), kFloodBytes);
    for (DWORD i = 0; i < kFloodBytes; ++i) {
        if (got[i] != floodByte(i)) {
            ADD_FAILURE() << "byte " << i << " differs";
            break;
        }
    }
}

// A read thread paused on a full queue still sees the end and the threads stop.
TEST(SerialReadThread, EndsWhilePausedOnAFullQueue) {
    FloodedPort port;
    ASSERT_TRUE(port.start());
    ASSERT_TRUE(waitUntil([&] { return port.rw.ReadPaused(); })) << "queued " << port.queued();
    port.rw.EndRW();
    EXPECT_FALSE(port.rw.Running());
    EXPECT_EQ(port.queued(), 0u);  // the read thread cleans its queue on the way out
}

}  // namespace
