// A site's event list as the operator's program loads it: a list file of
// 10,000 and 100,000 events (a 576-byte head, then 86-byte headers), in time
// order as sites write it and in reverse order as a hostile site could.
// Baseline: the plain parse of the same bytes (read the file, copy each header
// into a vector), in the same run. Counter: "per_event", the time per event.
// Files go to a temporary folder removed at exit.

#include "bench/bench_support.h"
#include "tavicore/event_file.h"
#include "trennick/app/remote_event_list.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

enum Order { kTimeOrder = 0, kReversed = 1 };

// The list file of `events` events in that order, made once per shape.
const std::string& listFile(std::int64_t events, std::int64_t order) {
    static std::map<std::pair<std::int64_t, std::int64_t>, std::string> made;
    auto& path = made[{events, order}];
    if (!path.empty()) return path;
    static const std::string folder = bench::temporaryFolder("vlm-event-list-bench");
    path = folder + "/EventsRemote-" + std::to_string(events) + "-" + std::to_string(order) + ".hdr";
    std::ofstream out(path, std::ios::binary);
    const std::string head(kEventDirListRecordSize, '\0');
    out.write(head.data(), std::streamsize(head.size()));
    for (std::int64_t i = 0; i < events; ++i) {
        tagEventHeader h{};
        std::memcpy(h.chMagic, "VHED", 4);
        h.dwEventNumber = DWORD(i);
        const std::uint64_t ticks = 0x01D0000000000000ull + std::uint64_t(order == kReversed ? events - i : i) * 10000000;
        h.ftStartTime = FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
        out.write(reinterpret_cast<const char*>(&h), sizeof h);
    }
    return path;
}

void perEvent(benchmark::State& state) {
    state.counters["per_event"] = benchmark::Counter(double(state.range(0)),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_RemoteEventListLoad(benchmark::State& state) {
    const std::string& path = listFile(state.range(0), state.range(1));
    trennick::RemoteEventList list;
    std::size_t reports = 0;
    const trennick::RemoteEventList::Progress progress = [&](std::size_t, std::size_t) { ++reports; };
    for (auto _ : state) {
        if (list.LoadFile(path, progress) != trennick::RemoteEventList::Load::Loaded ||
            list.Count() != std::size_t(state.range(0))) {
            state.SkipWithError("the list did not load whole");
            return;
        }
        benchmark::DoNotOptimize(list.HandleAt(0));
    }
    perEvent(state);
    state.counters["progress_reports"] = double(reports) / double(state.iterations());
}
BENCHMARK(BM_RemoteEventListLoad)
    ->ArgsProduct({{10000, 100000}, {kTimeOrder, kReversed}})
    ->ArgNames({"events", "reversed"})
    ->Unit(benchmark::kMillisecond);

// Baseline: the same bytes read and copied header by header, nothing more.
void BM_EventListPlainParse(benchmark::State& state) {
    const std::string& path = listFile(state.range(0), state.range(1));
    std::vector<tagEventHeader> headers;
    std::vector<char> bytes;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        bytes.resize(std::size_t(::lseek(fd, 0, SEEK_END)));
        const bool whole = ::pread(fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
        ::close(fd);
        if (!whole) {
            state.SkipWithError("the list could not be read");
            return;
        }
        headers.clear();
        for (std::size_t at = kEventDirListRecordSize; at + sizeof(tagEventHeader) <= bytes.size();
             at += sizeof(tagEventHeader)) {
            tagEventHeader h;
            std::memcpy(&h, bytes.data() + at, sizeof h);
            headers.push_back(h);
        }
        benchmark::DoNotOptimize(headers.data());
    }
    perEvent(state);
}
BENCHMARK(BM_EventListPlainParse)
    ->ArgsProduct({{10000, 100000}, {kTimeOrder, kReversed}})
    ->ArgNames({"events", "reversed"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
