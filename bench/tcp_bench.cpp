// The TCP link's throughput: video-sized buckets from one link to another over
// loopback (queues, write and read threads, gathering writes, bucket parsing),
// against a plain TCP socket pair on loopback moving the same bytes with one
// send per bucket.

#include "bench/bench_support.h"
#include "trennick/link/bucket.h"
#include "trennick/net/inet_connection.h"
#include "trennick/net/testing/net_test_util.h"

#include <QCoreApplication>
#include <cstdio>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace trennick;

constexpr DWORD kFrameBytes = 15000;  // the largest video payload the link sends
constexpr int kFramesPerIteration = 256;

void prepareProcess() {
    static const bool done = [] {
        bench::temporaryHome();
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "velmoor_bench";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
        return true;
    }();
    (void)done;
}

LinkServices quietServices() {
    LinkServices services;
    services.settings = LinkSettings{};
    return services;
}

// A link that counts the video buckets it receives.
class CountingLink : public CInetConnection {
public:
    using CInetConnection::CInetConnection;
    std::uint64_t frames = 0;

protected:
    void StoreNewFrame(const DecodedBucket&) override { ++frames; }
};

void pass(CountingLink& link) {
    if (link.TimeToRead() == -3 && link.SendHello() == 0) {
        std::fprintf(stderr, "tcp_bench: the hello was not written\n");
    }
}

void BM_LinkToLinkVideoBuckets(benchmark::State& state) {
    prepareProcess();
    using nettest::freePort;
    const WORD port = freePort();
    CountingLink listener(quietServices(), InetOptions{std::to_string(port), "", nullptr});
    CountingLink caller(quietServices(), InetOptions{std::to_string(freePort()), "", nullptr});
    listener.SetMaxReadQueueBytes(64u << 20);
    if (!listener.ConnectToLan() || !caller.ConnectToLan() || listener.SetListenOn(0) != 1) {
        state.SkipWithError("cannot open the links");
        return;
    }
    const std::string address = "127.0.0.1:" + std::to_string(port);
    caller.ConnectToRemote(address.c_str(), "");
    const bool connected = nettest::pumpUntil(
        [&] {
            pass(listener);
            pass(caller);
            return listener.IsConnected() && caller.IsConnected();
        },
        std::chrono::seconds(10));
    if (!connected) {
        state.SkipWithError("the links did not connect");
        return;
    }
    // The two stations are two machines: the caller's sender runs on a thread
    // of its own (a link's senders may run on any thread), the listener's read
    // pass on this one.
    // The sender stays one iteration ahead, so the pipe never runs dry
    // between iterations.
    std::atomic<std::uint64_t> budget{kFramesPerIteration};
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        std::vector<BYTE> frame(kFrameBytes);
        for (DWORD i = 0; i < kFrameBytes; ++i) frame[i] = static_cast<BYTE>(i * 31);
        std::uint64_t sent = 0;
        while (!stop) {
            if (sent < budget && caller.GetQueueSize(1) < (4u << 20)) {
                if (caller.SendBucket(kVideoBucket, frame.data(), kFrameBytes) == 0) {
                    std::fprintf(stderr, "tcp_bench: a frame was not written\n");
                    break;
                }
                ++sent;
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (auto _ : state) {
        const std::uint64_t target = listener.frames + kFramesPerIteration;
        budget += kFramesPerIteration;
        while (listener.frames < target) listener.TimeToRead();
    }
    stop = true;
    sender.join();
    state.SetBytesProcessed(state.iterations() * kFramesPerIteration * kFrameBytes);
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
    caller.SetNotConnected(TRUE);
}
BENCHMARK(BM_LinkToLinkVideoBuckets)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RawSocketPairSameBytes(benchmark::State& state) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(server, 1);
    socklen_t len = sizeof a;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    const int writer = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(writer, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        state.SkipWithError("cannot connect");
        return;
    }
    const int reader = ::accept(server, nullptr, nullptr);
    ::close(server);

    // The same bytes as the link puts on the wire for one bucket.
    std::vector<BYTE> payload(kFrameBytes, 0x5A);
    std::vector<BYTE> bucket(kFrameBytes + 64);
    const DWORD wireBytes = buildBucket(bucket, kVideoBucket, payload.data(), kFrameBytes, 8, 0,
                                        static_cast<DWORD>(bucket.size()));
    std::atomic<std::uint64_t> received{0};
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        std::vector<BYTE> buffer(65536);
        while (!stop) {
            const ssize_t n = ::recv(reader, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            received += static_cast<std::uint64_t>(n);
        }
    });
    std::uint64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFramesPerIteration; ++i) nettest::writeAll(writer, bucket.data(), wireBytes);
        expected += static_cast<std::uint64_t>(kFramesPerIteration) * wireBytes;
        while (received < expected) std::this_thread::yield();
    }
    state.SetBytesProcessed(state.iterations() * kFramesPerIteration * kFrameBytes);
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
    stop = true;
    ::shutdown(writer, SHUT_RDWR);
    ::close(writer);
    drain.join();
    ::close(reader);
}
BENCHMARK(BM_RawSocketPairSameBytes)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
