// sx5363s over libavcodec's G.723.1 encoder and decoder. Each handle owns one
// of each, opened at SX5363_Open; a frame goes in and comes out whole, so the
// codecs are driven one packet (or one 240-sample frame) per call.

#include "sx5363s/sx5363s.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int kSampleRate = 8000;
constexpr int kFrameSamples = 240;

struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

ContextPtr openContext(const AVCodec* codec, bool encoder) {
    if (codec == nullptr) {
        return nullptr;
    }
    ContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    context->sample_rate = kSampleRate;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context->ch_layout, 1);
    if (encoder) {
        context->bit_rate = 6300;
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return context;
}

class SpeechCodec {
public:
    bool open() {
        m_encoder = openContext(avcodec_find_encoder(AV_CODEC_ID_G723_1), true);
        m_decoder = openContext(avcodec_find_decoder(AV_CODEC_ID_G723_1), false);
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        return m_encoder && m_decoder && m_frame && m_packet;
    }

    bool restartEncoder() {
        m_encoder = openContext(avcodec_find_encoder(AV_CODEC_ID_G723_1), true);
        return m_encoder != nullptr;
    }
    bool restartDecoder() {
        m_decoder = openContext(avcodec_find_decoder(AV_CODEC_ID_G723_1), false);
        return m_decoder != nullptr;
    }

    LONG encode(const BYTE* pcm, BYTE* out, DWORD* produced) {
        av_frame_unref(m_frame.get());
        m_frame->format = AV_SAMPLE_FMT_S16;
        m_frame->nb_samples = kFrameSamples;
        m_frame->sample_rate = kSampleRate;
        av_channel_layout_default(&m_frame->ch_layout, 1);
        if (av_frame_get_buffer(m_frame.get(), 0) < 0) {
            return SX5363_CODEC_ERROR;
        }
        std::memcpy(m_frame->data[0], pcm, kSx5363PcmBytes);
        m_frame->pts = m_pts;
        m_pts += kFrameSamples;
        if (avcodec_send_frame(m_encoder.get(), m_frame.get()) < 0) {
            return SX5363_CODEC_ERROR;
        }
        av_packet_unref(m_packet.get());
        if (avcodec_receive_packet(m_encoder.get(), m_packet.get()) < 0 ||
            m_packet->size != int(kSx5363FrameBytes)) {
            return SX5363_CODEC_ERROR;
        }
        std::memcpy(out, m_packet->data, kSx5363FrameBytes);
        *produced = kSx5363FrameBytes;
        return SX5363_OK;
    }

    LONG decode(const BYTE* frame, BYTE* pcm, DWORD* used) {
        const DWORD size = Sx5363FrameSize(frame[0]);
        if (size == 0) {
            return SX5363_BAD_FRAME;
        }
        av_packet_unref(m_packet.get());
        if (av_new_packet(m_packet.get(), int(size)) < 0) {
            return SX5363_CODEC_ERROR;
        }
        std::memcpy(m_packet->data, frame, size);
        if (avcodec_send_packet(m_decoder.get(), m_packet.get()) < 0) {
            return SX5363_CODEC_ERROR;
        }
        av_frame_unref(m_frame.get());
        // One channel: planar and interleaved samples lie alike.
        if (avcodec_receive_frame(m_decoder.get(), m_frame.get()) < 0 || m_frame->nb_samples != kFrameSamples ||
            (m_frame->format != AV_SAMPLE_FMT_S16 && m_frame->format != AV_SAMPLE_FMT_S16P)) {
            return SX5363_CODEC_ERROR;
        }
        std::memcpy(pcm, m_frame->data[0], kSx5363PcmBytes);
        *used = size;
        return SX5363_OK;
    }

private:
    ContextPtr m_encoder;
    ContextPtr m_decoder;
    FramePtr m_frame;
    PacketPtr m_packet;
    int64_t m_pts = 0;
};

SpeechCodec* codecOf(SX5363_HANDLE handle) { return static_cast<SpeechCodec*>(handle); }

}  // namespace

SX5363S_EXPORT LONG SX5363_Open(SX5363_HANDLE* handle) {
    if (handle == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    *handle = nullptr;
    auto codec = std::unique_ptr<SpeechCodec>(new (std::nothrow) SpeechCodec);
    if (!codec || !codec->open()) {
        return SX5363_NO_CODEC;
    }
    *handle = codec.release();
    return SX5363_OK;
}

SX5363S_EXPORT LONG SX5363_Close(SX5363_HANDLE* handle) {
    if (handle == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    delete codecOf(*handle);
    *handle = nullptr;
    return SX5363_OK;
}

SX5363S_EXPORT LONG SX5363_InitEncod(SX5363_HANDLE handle) {
    if (handle == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    return codecOf(handle)->restartEncoder() ? SX5363_OK : SX5363_NO_CODEC;
}

SX5363S_EXPORT LONG SX5363_InitDecod(SX5363_HANDLE handle) {
    if (handle == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    return codecOf(handle)->restartDecoder() ? SX5363_OK : SX5363_NO_CODEC;
}

SX5363S_EXPORT LONG SX53_SpeechEncode(SX5363_HANDLE, LONG, const BYTE*, BYTE*, DWORD* produced) {
    if (produced != nullptr) {
        *produced = 0;
    }
    return SX5363_NOT_SUPPORTED;
}

SX5363S_EXPORT LONG SX63_SpeechEncode(SX5363_HANDLE handle, LONG, const BYTE* pcm, BYTE* frame, DWORD* produced) {
    if (produced != nullptr) {
        *produced = 0;
    }
    if (handle == nullptr || pcm == nullptr || frame == nullptr || produced == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    return codecOf(handle)->encode(pcm, frame, produced);
}

SX5363S_EXPORT LONG SX5363_SpeechDecode(SX5363_HANDLE handle, LONG, const BYTE* frame, BYTE* pcm, DWORD* used) {
    if (used != nullptr) {
        *used = 0;
    }
    if (handle == nullptr || frame == nullptr || pcm == nullptr || used == nullptr) {
        return SX5363_BAD_ARGUMENT;
    }
    return codecOf(handle)->decode(frame, pcm, used);
}
