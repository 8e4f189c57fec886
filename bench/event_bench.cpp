// Event files. Recording: 16 cameras, one 30 KB frame each per step (one step is
// what 16 cameras at 25 frames a second give every 40 ms), cyclic files of 250
// frames per camera; against the same bytes written by plain pwrite calls to 16
// files in the same pattern. Playback: stepping through a 2,000-frame event
// forward and backward. Counters: frames per second (items_per_second) and
// MB/s (bytes_per_second); "realtime_x" says how many times faster than the
// 400 frames a second the cameras deliver the recording runs.
// Files go to a temporary folder removed at exit.

#include "bench/bench_support.h"
#include "tavicore/event_file.h"
#include "tavicore/frame_rtv.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kCameras = 16;
constexpr std::size_t kFrameBytes = 30 * 1024;
constexpr int kFramesPerCycle = 250;  // 10 s at 25 frames a second
constexpr int kPlaybackFrames = 2000;

const std::string& storage() {
    static const std::string folder = [] {
        std::string made = bench::temporaryFolder("vlm-event-bench");
        evSetEventsStorageRoot(made.c_str());
        return made;
    }();
    return folder;
}

std::vector<BYTE> frameBytes() {
    std::vector<BYTE> bytes(kFrameBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = BYTE(i * 131 + 7);
    }
    return bytes;
}

tagEventHeader cameraKey(int camera, DWORD number) {
    tagEventHeader h{};
    h.dwType = EVENT_TYPE_AUTOMATIC;
    h.wAdapter = WORD(camera / 4);
    h.wCamera = WORD(camera % 4);
    h.dwEventNumber = number;
    return h;
}

void BM_EventRecord16Cameras(benchmark::State& state) {
    storage();
    static DWORD number = 0;
    ++number;
    auto data = frameBytes();
    std::vector<std::unique_ptr<CEventFile>> files;
    for (int c = 0; c < kCameras; ++c) {
        tagEventHeader h = cameraKey(c, number);
        files.push_back(std::make_unique<CEventFile>(1, &h, static_cast<char*>(nullptr), ""));
    }
    std::int64_t step = 0;
    for (auto _ : state) {
        bool wrap = (step + 1) % kFramesPerCycle == 0;
        for (auto& file : files) {
            tagEventSnapshot snap{};
            snap.dwSize = DWORD(data.size());
            if (!file->AddSnapShot(&snap, nullptr, data.data(), wrap ? 1 : 0)) {
                state.SkipWithError("AddSnapShot failed");
                return;
            }
        }
        ++step;
    }
    files.clear();  // closing finds the earliest snapshot and writes the header (untimed)
    const std::int64_t frames = step * kCameras;
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * std::int64_t(kFrameBytes + sizeof(tagEventSnapshot)));
    state.counters["realtime_x"] =
        benchmark::Counter(double(frames) / (kCameras * 25.0), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EventRecord16Cameras)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same bytes, in the same pattern, by plain positional writes.
void BM_PlainWrite16Files(benchmark::State& state) {
    const std::string& folder = storage();
    auto data = frameBytes();
    std::vector<BYTE> record(sizeof(tagEventSnapshot) + data.size());
    std::memcpy(record.data() + sizeof(tagEventSnapshot), data.data(), data.size());
    std::vector<int> fds;
    for (int c = 0; c < kCameras; ++c) {
        std::string path = folder + "/plain_" + std::to_string(c) + ".bin";
        fds.push_back(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fds.back() < 0 || ::pwrite(fds.back(), record.data(), kEventHeaderSize, 0) < 0) {
            state.SkipWithError("open failed");
            return;
        }
    }
    std::int64_t step = 0;
    for (auto _ : state) {
        off_t offset = off_t(kEventHeaderSize + (step % kFramesPerCycle) * record.size());
        for (int fd : fds) {
            if (::pwrite(fd, record.data(), record.size(), offset) != ssize_t(record.size())) {
                state.SkipWithError("pwrite failed");
                return;
            }
        }
        ++step;
    }
    for (int fd : fds) {
        ::close(fd);
    }
    const std::int64_t frames = step * kCameras;
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * std::int64_t(record.size()));
    state.counters["realtime_x"] =
        benchmark::Counter(double(frames) / (kCameras * 25.0), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainWrite16Files)->Unit(benchmark::kMicrosecond)->UseRealTime();

const std::string& playbackEvent() {
    static const std::string path = [] {
        storage();
        tagEventHeader h = cameraKey(0, 900000);
        h.dwType = EVENT_TYPE_MANUAL;
        auto data = frameBytes();
        CEventFile file(1, &h, static_cast<char*>(nullptr), "");
        for (int i = 0; i < kPlaybackFrames; ++i) {
            tagEventSnapshot snap{};
            snap.dwSize = DWORD(data.size());
            file.AddSnapShot(&snap, nullptr, data.data(), 0);
        }
        char name[MAX_PATH] = {};
        file.evGetFileName(name, sizeof name);
        return std::string(name);
    }();
    return path;
}

void BM_StepThrough2000Frames(benchmark::State& state) {
    const bool backward = state.range(0) != 0;
    const std::string& path = playbackEvent();
    std::int64_t frames = 0;
    for (auto _ : state) {
        CFrmRtvZO rtv(path.c_str());
        if (!rtv.rtvOpenEvent() || rtv.rtvGetFirstFrame() == nullptr) {
            state.SkipWithError("open failed");
            return;
        }
        ++frames;
        if (backward) {
            for (int i = 1; i < kPlaybackFrames; ++i) {
                rtv.rtvGetNextFrame();
            }
            for (int i = 1; i < kPlaybackFrames; ++i) {
                benchmark::DoNotOptimize(rtv.rtvGetPrevFrame());
            }
            frames += 2 * (kPlaybackFrames - 1);
        } else {
            for (int i = 1; i < kPlaybackFrames; ++i) {
                benchmark::DoNotOptimize(rtv.rtvGetNextFrame());
            }
            frames += kPlaybackFrames - 1;
        }
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * std::int64_t(kFrameBytes));
}
BENCHMARK(BM_StepThrough2000Frames)->Arg(0)->Arg(1)->ArgNames({"backward"})->Unit(benchmark::kMillisecond);

}  // namespace
