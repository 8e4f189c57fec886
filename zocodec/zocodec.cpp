// zocodec over libavcodec's H.263 decoder: each call decodes one whole
// picture and converts it to 24-bit BGR of the configured size, bottom-up.

#include "zocodec/zocodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <new>

namespace {

class ZoCodec final : public IZoCodecApi {
public:
    ZoCodec() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
        m_context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
        if (m_context != nullptr) {
            m_context->thread_count = 1;
            if (avcodec_open2(m_context, codec, nullptr) < 0) {
                avcodec_free_context(&m_context);
            }
        }
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
    }
    ~ZoCodec() {
        sws_freeContext(m_scaler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }

    DWORD Version() override { return kZoCodecApiVersion; }
    void Release() override;

    SHORT Decode(const BYTE* picture, LONG length, BYTE* pixels) override {
        if (m_context == nullptr || picture == nullptr || pixels == nullptr || length <= 0) {
            return 0;
        }
        m_packet->data = const_cast<BYTE*>(picture);
        m_packet->size = int(length);
        if (avcodec_send_packet(m_context, m_packet) < 0) {
            return 0;
        }
        av_frame_unref(m_frame);
        if (avcodec_receive_frame(m_context, m_frame) != 0) {
            return 0;
        }
        m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height, AVPixelFormat(m_frame->format),
                                        m_width, m_height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (m_scaler == nullptr) {
            return 0;
        }
        // Bottom-up rows: start at the last row and step backwards.
        const int stride = ((m_width * 3) + 3) & ~3;
        std::uint8_t* rows[4] = {pixels + std::ptrdiff_t(stride) * (m_height - 1), nullptr, nullptr, nullptr};
        const int strides[4] = {-stride, 0, 0, 0};
        sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_frame->height, rows, strides);
        return 1;
    }

    LONG SetFormat(LONG code) override {
        m_width = code == kZoCodecCif ? 352 : 176;
        m_height = code == kZoCodecCif ? 288 : 144;
        return 1;
    }

private:
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_width = 176;
    int m_height = 144;
};

void ZoCodec::Release() { delete this; }

}  // namespace

ZOCODEC_EXPORT DWORD DLLGetApiVer() { return kZoCodecApiVersion; }

// Each call gives a decoder of its own: every server object binds its own.
ZOCODEC_EXPORT IZoCodecApi* DLLGetApi() { return new (std::nothrow) ZoCodec; }
