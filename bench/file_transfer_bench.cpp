// The processor cost per byte of the file transfer protocol, not a line's
// throughput: two station links joined in memory on one thread, with no line,
// no threads and no waiting between them (the whole protocol: announcement,
// escaped blocks with their checks, one confirmation per block, the
// whole-file check, writing under a temporary name), and for scale in the same
// run a plain copy of the same file. Reported as bytes_per_second of file
// data; the throughput between two programs is BM_TransferBetweenPrograms.

#include "bench/bench_support.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/testing/sink_transport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace trennick;

namespace {

constexpr std::size_t kFileBytes = 16u * 1024 * 1024;

// A link whose transport appends to a byte queue.
class MemoryLink : public CPacketConnection {
public:
    explicit MemoryLink(bool outgoing)
        : CPacketConnection(LinkServices{nullptr, nullptr, nullptr, {}, LinkSettings{}, 200000, {}},
                            makeKeepingTransport(outgoing)),
          wire(static_cast<SinkTransport&>(Transport()).written) {}
    std::vector<BYTE>& wire;
};

void deliver(MemoryLink& from, MemoryLink& to, std::vector<BYTE>& pending) {
    if (from.wire.empty()) return;
    std::span<BYTE> buffer = to.ReceiveBuffer();
    std::copy(pending.begin(), pending.end(), buffer.begin());
    std::copy(from.wire.begin(), from.wire.end(), buffer.begin() + static_cast<std::ptrdiff_t>(pending.size()));
    DWORD length = static_cast<DWORD>(pending.size() + from.wire.size());
    from.wire.clear();
    if (to.FilterPollBuff(buffer, length) < 0) {
        std::fprintf(stderr, "file_transfer_bench: the link saw a disconnect\n");
    }
    pending.assign(buffer.begin(), buffer.begin() + length);
}

std::string sampleFile(const std::string& folder) {
    const std::string path = folder + "/sample.bin";
    std::vector<char> bytes(kFileBytes);
    unsigned x = 0x2468ACE1u;
    for (char& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

void BM_FileTransferOverMemoryLink(benchmark::State& state) {
    const std::string folder = bench::temporaryFolder("velmoor-transfer");
    const std::string source = sampleFile(folder);
    const std::string incoming = folder + "/in";
    std::filesystem::create_directories(incoming);
    MemoryLink a(true), b(false);
    std::vector<BYTE> pendingA, pendingB;
    if (a.SendHello() == 0 || b.SendHello() == 0) {
        state.SkipWithError("a hello was not written");
        return;
    }
    for (int i = 0; i < 4; ++i) {
        deliver(a, b, pendingB);
        deliver(b, a, pendingA);
    }
    b.SetReceiveFolders(incoming.c_str(), incoming.c_str());
    for (auto _ : state) {
        (void)a.SetSendStatus(-1, 0, nullptr);  // making the side ready is never refused
        if (a.SetSendStatus(1, 0, source.c_str()) != 1) {
            state.SkipWithError("the send was refused");
            break;
        }
        while (a.GetFileSendStatus() != SEND_COMPLETE && a.GetFileSendStatus() != SEND_FAILED &&
               a.GetFileSendStatus() != SEND_REFUSED) {
            a.ProcessSending();
            while (!a.wire.empty() || !b.wire.empty()) {
                deliver(a, b, pendingB);
                deliver(b, a, pendingA);
            }
        }
        if (a.GetFileSendStatus() != SEND_COMPLETE) {
            state.SkipWithError("the transfer failed");
            break;
        }
        if (b.SetReceiveStatus(1, nullptr) != 1) {  // the receiver ready for the next file
            state.SkipWithError("the receiver could not be made ready");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(BM_FileTransferOverMemoryLink)->Unit(benchmark::kMillisecond);

void BM_FileTransferPlainCopy(benchmark::State& state) {
    const std::string folder = bench::temporaryFolder("velmoor-copy");
    const std::string source = sampleFile(folder);
    const std::string target = folder + "/copy.bin";
    for (auto _ : state) {
        std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(BM_FileTransferPlainCopy)->Unit(benchmark::kMillisecond);

}  // namespace
