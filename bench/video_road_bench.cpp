// The road of received video from the link's bytes to a decoded picture, for
// the stand-in site's block-transform stream (320 x 240, a key frame every 12),
// decoded by the pipeline's block-transform decoder. Each pass of the
// program's loop reads a batch of video buckets. Two roads in one run, on the
// same frames:
//   "queued" (the road before the pipeline): each bucket is copied into a
//   frame record and queued under a lock as the link reads it; once the read
//   is done, the loop pass drains the queue through the key-frame wait and
//   decodes;
//   "arrival" (the video pipeline): the link's bytes are copied once into the
//   frame, which goes through the pipeline (the view's admission, the
//   key-frame wait, the decoder, "picture ready") as it is read.
// Counters: "<road>_latency_us", the mean time from a bucket's arrival to its
// decoded picture, and "<road>_fps", decoded frames per second.

#include "tools/site/block_encoder.h"
#include "tools/site/test_pattern.h"
#include "trennick/video/pipeline/block_stream_decoder.h"
#include "trennick/video/pipeline/key_frame_gate.h"
#include "trennick/video/pipeline/video_pipeline.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace trennick;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<BYTE>;

constexpr int kFrames = 48;
constexpr int kKeyEvery = 12;

const std::vector<Bytes>& blockStream() {
    static const std::vector<Bytes> frames = [] {
        site::BlockEncoder encoder;
        std::vector<Bytes> out;
        for (int n = 0; n < kFrames; ++n) {
            const auto picture = site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), unsigned(n), 0));
            out.push_back(encoder.encode(picture, n % kKeyEvery == 0, 15353));
            // A key frame carries 0x1F in byte 6, which the key-frame wait
            // turns back into the stream's 0x1E (30 rows of blocks).
            if (n % kKeyEvery == 0) out.back()[6] = 0x1F;
        }
        return out;
    }();
    return frames;
}

// The decoding end both roads share: the key-frame wait, the decoder and the picture.
class PictureEnd {
public:
    PictureEnd() : m_picture(sizeof(BITMAPINFOHEADER) + std::size_t(352) * 288 * 3) {
        BITMAPINFOHEADER header{40, site::kBlockStreamWidth, site::kBlockStreamHeight, 1, 24, 0, 0, 0, 0, 0, 0};
        std::memcpy(m_picture.data(), &header, sizeof header);
        m_decoder.open();
        m_decoder.describeOutput(m_picture.data(), false);
    }
    bool decode(VideoFrame& frame) {
        if (!m_gate.admit(frame, 1)) return false;
        return m_decoder.decodeFrame(frame.data.data(), DWORD(frame.data.size()),
                                     m_picture.data() + sizeof(BITMAPINFOHEADER), {});
    }

private:
    Bytes m_picture;
    KeyFrameGate m_gate;
    BlockStreamDecoder m_decoder;
};

struct Figures {
    double latencySum = 0;
    double seconds = 0;
    std::size_t pictures = 0;
};

// The bucket as the link's receiver holds it before it hands it on.
Bytes linkCopy(const Bytes& bucket) { return bucket; }

void queuedRoad(int batch, Figures& figures) {
    PictureEnd end;
    std::mutex lock;
    std::deque<std::pair<std::unique_ptr<VideoFrame>, Clock::time_point>> queue;
    const auto& stream = blockStream();
    const auto start = Clock::now();
    for (std::size_t first = 0; first < stream.size(); first += std::size_t(batch)) {
        for (std::size_t i = first; i < std::min(stream.size(), first + std::size_t(batch)); ++i) {
            const auto arrived = Clock::now();
            const Bytes held = linkCopy(stream[i]);
            auto frame = std::make_unique<VideoFrame>();
            frame->data.assign(held.begin(), held.end());
            std::lock_guard guard(lock);
            queue.emplace_back(std::move(frame), arrived);
        }
        for (;;) {
            std::pair<std::unique_ptr<VideoFrame>, Clock::time_point> next;
            {
                std::lock_guard guard(lock);
                if (queue.empty()) break;
                next = std::move(queue.front());
                queue.pop_front();
            }
            if (end.decode(*next.first)) {
                figures.latencySum += std::chrono::duration<double>(Clock::now() - next.second).count();
                ++figures.pictures;
            }
        }
    }
    figures.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

// The pipeline's view and decoder: admits every frame, decodes into the
// picture, and notes when each picture was ready.
class ArrivalView : public VideoPictureView, public VideoFrameDecoder {
public:
    ArrivalView() : m_picture(sizeof(BITMAPINFOHEADER) + std::size_t(352) * 288 * 3) {
        BITMAPINFOHEADER header{40, site::kBlockStreamWidth, site::kBlockStreamHeight, 1, 24, 0, 0, 0, 0, 0, 0};
        std::memcpy(m_picture.data(), &header, sizeof header);
        m_decoder.open();
        m_decoder.describeOutput(m_picture.data(), false);
    }
    bool admitFrame(DWORD) override { return true; }
    void pictureReady(DWORD, DWORD) override { ready = Clock::now(); }
    DWORD nowMs() override { return 0; }
    bool decodeFrame(const VideoFrame& frame) override {
        return m_decoder.decodeFrame(frame.data.data(), DWORD(frame.data.size()),
                                     m_picture.data() + sizeof(BITMAPINFOHEADER), {});
    }
    Clock::time_point ready;

private:
    Bytes m_picture;
    BlockStreamDecoder m_decoder;
};

void arrivalRoad(Figures& figures) {
    ArrivalView view;
    VideoPipeline pipeline;
    pipeline.setView(&view);
    pipeline.setDecoder(&view);
    const auto& stream = blockStream();
    const auto start = Clock::now();
    for (const Bytes& bucket : stream) {
        const auto arrived = Clock::now();
        const Bytes held = linkCopy(bucket);
        view.ready = arrived;
        pipeline.push(0x0004, held.data(), DWORD(held.size()), false);
        if (view.ready != arrived) {
            figures.latencySum += std::chrono::duration<double>(view.ready - arrived).count();
            ++figures.pictures;
        }
    }
    figures.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_VideoRoad_BlockStream(benchmark::State& state) {
    const int batch = int(state.range(0));
    Figures queued, arrival;
    for (auto _ : state) {
        queuedRoad(batch, queued);
        arrivalRoad(arrival);
    }
    auto put = [&](const char* name, const Figures& f) {
        const double pictures = double(std::max<std::size_t>(f.pictures, 1));
        state.counters[std::string(name) + "_latency_us"] = f.latencySum / pictures * 1e6;
        state.counters[std::string(name) + "_fps"] = f.seconds > 0 ? double(f.pictures) / f.seconds : 0;
    };
    put("queued", queued);
    put("arrival", arrival);
    state.counters["buckets_per_pass"] = batch;
}

}  // namespace

BENCHMARK(BM_VideoRoad_BlockStream)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(5);
