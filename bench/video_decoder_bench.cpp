// The block-transform decoder against libavcodec on the same H.263 streams
// (24 pictures, a key frame every 12), whole stream per iteration. Counters:
// "fps" of this decoder, "libavcodec_fps", and "speed_vs_libavcodec" (this
// decoder's frame rate / libavcodec's; 1.0 = as fast). The decoder paints
// 24-bit BGR as the video window does; libavcodec stops at its planes.

#include "bench/bench_support.h"
#include "kcexpand/kcexpand.h"
#include "kcexpand/testing/ffmpeg_streams.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>

namespace {

using namespace kcexpand::testing;
using Clock = std::chrono::steady_clock;

const std::vector<Bytes>& pictures(const std::string& size) {
    static std::map<std::string, std::vector<Bytes>> cache;
    auto it = cache.find(size);
    if (it == cache.end()) {
        static const std::string folder = bench::temporaryFolder("video-bench");
        it = cache.emplace(size, splitPictures(encodeStream(folder, "h263", size, 4, 24), false)).first;
    }
    return it->second;
}

void decodeH263(benchmark::State& state, const std::string& size, int width, int height) {
    const std::vector<Bytes>& stream = pictures(size);
    if (stream.empty()) {
        state.SkipWithError("the ffmpeg program did not encode the stream");
        return;
    }
    KcExpandContext* ctx = KcExpandOpen();
    BITMAPINFOHEADER format{40, width, height, 1, 24, 0, 0, 0, 0, 0, 0};
    const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
                              {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24}};
    KcExpandSetAttributes(ctx, items, 2);
    Bytes image(std::size_t(width) * std::size_t(height) * 3);
    double ours = 0, theirs = 0;
    std::size_t frames = 0;
    for (auto _ : state) {
        AvDecoder reference(false);
        const auto a = Clock::now();
        for (const Bytes& p : stream) {
            benchmark::DoNotOptimize(KcExpandBuffer(ctx, p.data(), std::uint32_t(p.size()), image.data()));
        }
        const auto b = Clock::now();
        for (const Bytes& p : stream) {
            benchmark::DoNotOptimize(reference.decode(p));
        }
        const auto c = Clock::now();
        ours += std::chrono::duration<double>(b - a).count();
        theirs += std::chrono::duration<double>(c - b).count();
        frames += stream.size();
    }
    KcExpandClose(ctx);
    state.counters["fps"] = ours > 0 ? double(frames) / ours : 0;
    state.counters["libavcodec_fps"] = theirs > 0 ? double(frames) / theirs : 0;
    state.counters["speed_vs_libavcodec"] = ours > 0 ? theirs / ours : 0;
}

void BM_VideoDecodeH263Cif(benchmark::State& state) { decodeH263(state, "cif", 352, 288); }
void BM_VideoDecodeH263Qcif(benchmark::State& state) { decodeH263(state, "qcif", 176, 144); }
BENCHMARK(BM_VideoDecodeH263Cif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VideoDecodeH263Qcif)->Unit(benchmark::kMillisecond);

}  // namespace
