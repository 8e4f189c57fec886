#include "zoenc/zoenc.h"

#include "common/lumo_deb.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <deque>
#include <vector>

namespace {

bool isH263Size(int width, int height) {
    return (width == 128 && height == 96) || (width == 176 && height == 144) || (width == 352 && height == 288);
}

}  // namespace

struct CZoVideoEncoder::Coder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scale = nullptr;
    std::int64_t pts = 0;
    std::deque<std::vector<BYTE>> coded;
    ~Coder() {
        if (scale != nullptr) sws_freeContext(scale);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

CZoVideoEncoder::CZoVideoEncoder() = default;
CZoVideoEncoder::~CZoVideoEncoder() = default;

std::span<const platform::com::DispatchMember<CZoVideoEncoder>> CZoVideoEncoder::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<CZoVideoEncoder> table[] = {
        {"Open", 1, &dispatchMethod<&CZoVideoEncoder::Open>},
        {"Close", 2, &dispatchMethod<&CZoVideoEncoder::Close>},
        {"SetAttribute", 3, &dispatchMethod<&CZoVideoEncoder::SetAttribute>},
    };
    return table;
}

HRESULT CZoVideoEncoder::Open() {
    m_open = true;
    m_keyNext = true;
    return m_width != 0 ? startCoder() : S_OK;
}

HRESULT CZoVideoEncoder::Close() {
    m_coder.reset();
    m_open = false;
    return S_OK;
}

HRESULT CZoVideoEncoder::SetAttribute(LONG id, LONG a, LONG b, LONG c) {
    switch (id) {
    case ZOENC_ATTR_FORMAT:
        if (!isH263Size(a, b) || c < 1 || c > 30) return ZOENC_E_FORMAT;
        m_width = a;
        m_height = b;
        m_rate = c;
        m_keyNext = true;
        return m_open ? startCoder() : S_OK;
    case ZOENC_ATTR_KEYFRAME:
        m_keyNext = true;
        return S_OK;
    case ZOENC_ATTR_BITRATE:
        if (a < 10000 || a > 2000000) return E_INVALIDARG;
        m_bitRate = a;
        return m_open && m_width != 0 ? startCoder() : S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT CZoVideoEncoder::startCoder() {
    m_coder.reset();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H263);
    if (codec == nullptr) {
        LUMO_TRACE(1, "CZoVideoEncoder: no H.263 coder in libavcodec");
        return ZOENC_E_CODER;
    }
    auto coder = std::make_unique<Coder>();
    coder->context = avcodec_alloc_context3(codec);
    coder->frame = av_frame_alloc();
    coder->packet = av_packet_alloc();
    if (coder->context == nullptr || coder->frame == nullptr || coder->packet == nullptr) return E_OUTOFMEMORY;
    AVCodecContext* c = coder->context;
    c->width = m_width;
    c->height = m_height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, m_rate};
    c->framerate = AVRational{m_rate, 1};
    c->bit_rate = m_bitRate;
    c->gop_size = 10 * m_rate;  // a key picture every ten seconds, and whenever asked
    c->max_b_frames = 0;
    c->qmin = 2;
    c->qmax = 31;
    c->thread_count = 1;
    if (avcodec_open2(c, codec, nullptr) < 0) {
        LUMO_TRACE(1, "CZoVideoEncoder: the H.263 coder did not open for %dx%d", m_width, m_height);
        return ZOENC_E_CODER;
    }
    coder->frame->format = c->pix_fmt;
    coder->frame->width = m_width;
    coder->frame->height = m_height;
    if (av_frame_get_buffer(coder->frame, 0) < 0) return E_OUTOFMEMORY;
    m_coder = std::move(coder);
    return S_OK;
}

HRESULT CZoVideoEncoder::AddImage(BYTE* image, ULONG size) {
    if (image == nullptr) return E_POINTER;
    if (!m_open || m_coder == nullptr) return ZOENC_E_NOT_OPEN;
    if (size < sizeof(BITMAPINFOHEADER)) return ZOENC_E_IMAGE;
    BITMAPINFOHEADER header;
    std::memcpy(&header, image, sizeof header);
    const bool topDown = header.biHeight < 0;
    const LONG height = topDown ? -header.biHeight : header.biHeight;
    if (header.biSize != sizeof header || header.biWidth != m_width || height != m_height || header.biBitCount != 24 ||
        header.biCompression != 0) {
        return ZOENC_E_IMAGE;
    }
    const std::size_t stride = (std::size_t(m_width) * 3 + 3) & ~std::size_t(3);
    if (size - sizeof header < stride * std::size_t(m_height)) return ZOENC_E_IMAGE;

    Coder& k = *m_coder;
    if (k.scale == nullptr) {
        k.scale = sws_getContext(m_width, m_height, AV_PIX_FMT_BGR24, m_width, m_height, AV_PIX_FMT_YUV420P,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (k.scale == nullptr) return ZOENC_E_CODER;
    }
    if (av_frame_make_writable(k.frame) < 0) return E_OUTOFMEMORY;
    const BYTE* bits = image + sizeof header;
    const std::uint8_t* source[1];
    int sourceStride[1];
    if (topDown) {
        source[0] = bits;
        sourceStride[0] = int(stride);
    } else {
        source[0] = bits + stride * std::size_t(m_height - 1);
        sourceStride[0] = -int(stride);
    }
    sws_scale(k.scale, source, sourceStride, 0, m_height, k.frame->data, k.frame->linesize);
    k.frame->pts = k.pts++;
    k.frame->pict_type = m_keyNext ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_keyNext = false;
    if (avcodec_send_frame(k.context, k.frame) < 0) return ZOENC_E_CODER;
    for (;;) {
        const int r = avcodec_receive_packet(k.context, k.packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) return ZOENC_E_CODER;
        k.coded.emplace_back(k.packet->data, k.packet->data + k.packet->size);
        av_packet_unref(k.packet);
    }
    return S_OK;
}

HRESULT CZoVideoEncoder::GetData(BYTE* buffer, ULONG capacity, ULONG* length) {
    if (buffer == nullptr || length == nullptr) return E_POINTER;
    *length = 0;
    if (m_coder == nullptr || m_coder->coded.empty()) return ZOENC_E_NOT_READY;
    const std::vector<BYTE>& picture = m_coder->coded.front();
    if (capacity < sizeof(BITMAPINFOHEADER) + picture.size()) return ZOENC_E_ROOM;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = m_width;
    header.biHeight = m_height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = kZoEncCompressionH263;
    header.biSizeImage = DWORD(picture.size());
    std::memcpy(buffer, &header, sizeof header);
    std::memcpy(buffer + sizeof header, picture.data(), picture.size());
    *length = ULONG(sizeof header + picture.size());
    m_coder->coded.pop_front();
    return S_OK;
}
