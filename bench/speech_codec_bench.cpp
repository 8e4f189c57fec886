// The G.723.1 speech codec library against libavcodec driven directly, on the
// same 30 ms frames of a voiced test signal (a pitch with its harmonics and a
// syllable-rate envelope), 100 frames (3 s of speech) per iteration. Counter
// "x_realtime": seconds of speech coded per second; 1.0 is just real time.

#include "sx5363s/sx5363s.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kFrames = 100;
constexpr double kFrameSeconds = 0.030;

const std::vector<std::int16_t>& voice() {
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> s(kFrames * 240);
        for (std::size_t i = 0; i < s.size(); ++i) {
            const double t = double(i) / 8000;
            const double pitch = 2 * M_PI * (120 + 20 * std::sin(2 * M_PI * 0.7 * t));
            double v = 0;
            for (int h = 1; h <= 8; ++h) v += std::sin(h * pitch * t) / h;
            s[i] = std::int16_t(5000 * v * (0.55 + 0.45 * std::sin(2 * M_PI * 4 * t)));
        }
        return s;
    }();
    return samples;
}

std::vector<BYTE> frames() {
    static const std::vector<BYTE> coded = [] {
        std::vector<BYTE> out(kFrames * 24);
        SX5363_HANDLE h = nullptr;
        SX5363_Open(&h);
        for (int f = 0; f < kFrames; ++f) {
            DWORD produced = 0;
            SX63_SpeechEncode(h, kSx5363Mode, reinterpret_cast<const BYTE*>(&voice()[f * 240]), &out[f * 24], &produced);
        }
        SX5363_Close(&h);
        return out;
    }();
    return coded;
}

void realTime(benchmark::State& state) {
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kFrames * kFrameSeconds, benchmark::Counter::kIsRate);
}

void BM_SpeechEncode_Sx5363(benchmark::State& state) {
    SX5363_HANDLE h = nullptr;
    if (SX5363_Open(&h) != 0) {
        state.SkipWithError("no codec");
        return;
    }
    BYTE frame[24];
    for (auto _ : state) {
        for (int f = 0; f < kFrames; ++f) {
            DWORD produced = 0;
            SX63_SpeechEncode(h, kSx5363Mode, reinterpret_cast<const BYTE*>(&voice()[f * 240]), frame, &produced);
            benchmark::DoNotOptimize(frame);
        }
    }
    SX5363_Close(&h);
    realTime(state);
}
BENCHMARK(BM_SpeechEncode_Sx5363)->Unit(benchmark::kMillisecond);

void BM_SpeechDecode_Sx5363(benchmark::State& state) {
    const std::vector<BYTE> coded = frames();
    SX5363_HANDLE h = nullptr;
    if (SX5363_Open(&h) != 0) {
        state.SkipWithError("no codec");
        return;
    }
    BYTE pcm[kSx5363DecodeBytes];
    for (auto _ : state) {
        for (int f = 0; f < kFrames; ++f) {
            DWORD used = 0;
            SX5363_SpeechDecode(h, kSx5363Mode, &coded[f * 24], pcm, &used);
            benchmark::DoNotOptimize(pcm);
        }
    }
    SX5363_Close(&h);
    realTime(state);
}
BENCHMARK(BM_SpeechDecode_Sx5363)->Unit(benchmark::kMillisecond);

// The baselines: libavcodec's own G.723.1 coder, one reused frame and packet.
AVCodecContext* openAv(bool encoder) {
    const AVCodec* codec = encoder ? avcodec_find_encoder(AV_CODEC_ID_G723_1) : avcodec_find_decoder(AV_CODEC_ID_G723_1);
    AVCodecContext* c = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (c == nullptr) return nullptr;
    c->sample_rate = 8000;
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    c->bit_rate = 6300;
    av_channel_layout_default(&c->ch_layout, 1);
    if (avcodec_open2(c, codec, nullptr) < 0) avcodec_free_context(&c);
    return c;
}

void BM_SpeechEncode_Libavcodec(benchmark::State& state) {
    AVCodecContext* c = openAv(true);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    frame->format = AV_SAMPLE_FMT_S16;
    frame->nb_samples = 240;
    frame->sample_rate = 8000;
    av_channel_layout_default(&frame->ch_layout, 1);
    if (c == nullptr || av_frame_get_buffer(frame, 0) < 0) {
        state.SkipWithError("no libavcodec encoder");
    } else {
        for (auto _ : state) {
            for (int f = 0; f < kFrames; ++f) {
                av_frame_make_writable(frame);
                std::memcpy(frame->data[0], &voice()[f * 240], 480);
                avcodec_send_frame(c, frame);
                avcodec_receive_packet(c, packet);
                av_packet_unref(packet);
            }
        }
        realTime(state);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
}
BENCHMARK(BM_SpeechEncode_Libavcodec)->Unit(benchmark::kMillisecond);

void BM_SpeechDecode_Libavcodec(benchmark::State& state) {
    const std::vector<BYTE> coded = frames();
    AVCodecContext* c = openAv(false);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (c == nullptr || av_new_packet(packet, 24) < 0) {
        state.SkipWithError("no libavcodec decoder");
    } else {
        for (auto _ : state) {
            for (int f = 0; f < kFrames; ++f) {
                std::memcpy(packet->data, &coded[f * 24], 24);
                avcodec_send_packet(c, packet);
                avcodec_receive_frame(c, frame);
                benchmark::DoNotOptimize(frame->data[0]);
            }
        }
        realTime(state);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
}
BENCHMARK(BM_SpeechDecode_Libavcodec)->Unit(benchmark::kMillisecond);

}  // namespace
