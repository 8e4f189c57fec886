// The video encoder component, created through the registry as its clients
// create it: the pictures it codes are decoded by libavcodec and match what
// went in; key pictures come when asked; bad sizes, images and buffers are
// refused with their codes.

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "zoenc/zoenc_lib.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using platform::com::ComPtr;

// A packed bitmap of w x h: a grey ramp left to right with a bright square at x.
Bytes picture(int w, int h, int squareX, bool topDown = false) {
    const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
    Bytes out(40 + stride * std::size_t(h), 0);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = w;
    header.biHeight = topDown ? -h : h;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::memcpy(out.data(), &header, 40);
    for (int y = 0; y < h; ++y) {
        const int row = topDown ? y : h - 1 - y;  // y counts from the top of the picture
        for (int x = 0; x < w; ++x) {
            const bool square = x >= squareX && x < squareX + 32 && y >= 40 && y < 72;
            const BYTE v = square ? 235 : BYTE(16 + x * 200 / w);
            BYTE* p = out.data() + 40 + stride * std::size_t(row) + std::size_t(x) * 3;
            p[0] = p[1] = p[2] = v;
        }
    }
    return out;
}

// Decodes H.263 pictures with libavcodec.
class Decoder {
public:
    Decoder() {
        m_context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H263));
        avcodec_open2(m_context, avcodec_find_decoder(AV_CODEC_ID_H263), nullptr);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~Decoder() {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    // The luma value at (x, y) of the decoded picture, or -1 when none came.
    bool decode(const BYTE* data, std::size_t size) {
        av_new_packet(m_packet, int(size));
        std::memcpy(m_packet->data, data, size);
        if (avcodec_send_packet(m_context, m_packet) < 0) return false;
        av_packet_unref(m_packet);
        return avcodec_receive_frame(m_context, m_frame) == 0;
    }
    int luma(int x, int y) const { return m_frame->data[0][y * m_frame->linesize[0] + x]; }
    int width() const { return m_frame->width; }

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};

// The intra bit of an H.263 picture header: byte 4, bit 0x02 clear.
bool intraPicture(const BYTE* p, std::size_t n) {
    return n >= 5 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80 && (p[4] & 0x02) == 0;
}

class Encoder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(CoCreateInstance(CLSID_ZoVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZoEncoder, enc.putVoid()),
                  S_OK);
    }
    void TearDown() override {
        enc.reset();
        CoUninitialize();
    }
    // Codes one picture; the coded bytes behind the header, empty when none came.
    Bytes code(const Bytes& image) {
        EXPECT_EQ(enc->AddImage(const_cast<BYTE*>(image.data()), ULONG(image.size())), S_OK);
        Bytes out(kZoEncOutputBytes);
        ULONG length = 0;
        if (enc->GetData(out.data(), ULONG(out.size()), &length) != S_OK) return {};
        BITMAPINFOHEADER header;
        std::memcpy(&header, out.data(), 40);
        EXPECT_EQ(header.biCompression, kZoEncCompressionH263);
        EXPECT_EQ(header.biSizeImage + 40, length);
        return Bytes(out.begin() + 40, out.begin() + length);
    }
    ComPtr<IZoEncoder> enc;
};

TEST_F(Encoder, CodesPicturesThatDecodeToWhatWentIn) {
    for (bool topDown : {false, true}) {
        ASSERT_EQ(enc->Open(), S_OK);
        ASSERT_EQ(enc->SetAttribute(ZOENC_ATTR_FORMAT, 176, 144, 10), S_OK);
        Decoder decoder;
        int decoded = 0;
        for (int n = 0; n < 12; ++n) {
            const Bytes coded = code(picture(176, 144, 8 + n * 8, topDown));
            ASSERT_FALSE(coded.empty()) << n;
            EXPECT_EQ(intraPicture(coded.data(), coded.size()), n == 0) << n;
            if (!decoder.decode(coded.data(), coded.size())) continue;
            ++decoded;
            EXPECT_EQ(decoder.width(), 176);
            // Inside the square, and the ramp's dark left edge (from the top).
            EXPECT_NEAR(decoder.luma(8 + n * 8 + 16, 56), 235, 24) << n << (topDown ? " top-down" : " bottom-up");
            EXPECT_NEAR(decoder.luma(4, 120), 20, 24) << n;
        }
        EXPECT_GE(decoded, 11);
        EXPECT_EQ(enc->Close(), S_OK);
    }
}

TEST_F(Encoder, AKeyPictureComesWhenAsked) {
    ASSERT_EQ(enc->Open(), S_OK);
    ASSERT_EQ(enc->SetAttribute(ZOENC_ATTR_FORMAT, 352, 288, 10), S_OK);
    std::vector<bool> intra;
    for (int n = 0; n < 6; ++n) {
        if (n == 3) {
            ASSERT_EQ(enc->SetAttribute(ZOENC_ATTR_KEYFRAME, 0, 0, 0), S_OK);
        }
        const Bytes coded = code(picture(352, 288, n * 10));
        ASSERT_FALSE(coded.empty());
        intra.push_back(intraPicture(coded.data(), coded.size()));
    }
    EXPECT_EQ(intra, (std::vector<bool>{true, false, false, true, false, false}));
}

TEST_F(Encoder, RefusesWhatItCannotCode) {
    BYTE out[64];
    ULONG length = 7;
    // Nothing coded yet: "not ready", low word 8.
    EXPECT_EQ(enc->GetData(out, sizeof out, &length), ZOENC_E_NOT_READY);
    EXPECT_EQ(ZOENC_E_NOT_READY & 0xFFFF, 8);
    EXPECT_EQ(length, 0u);
    Bytes image = picture(176, 144, 0);
    EXPECT_EQ(enc->AddImage(image.data(), ULONG(image.size())), ZOENC_E_NOT_OPEN);
    ASSERT_EQ(enc->Open(), S_OK);
    EXPECT_EQ(enc->AddImage(image.data(), ULONG(image.size())), ZOENC_E_NOT_OPEN);  // no format yet

    struct Size {
        LONG w, h, rate;
        HRESULT expected;
    };
    for (const Size& s : {Size{200, 150, 10, ZOENC_E_FORMAT}, Size{352, 289, 10, ZOENC_E_FORMAT},
                          Size{704, 576, 10, ZOENC_E_FORMAT}, Size{176, 144, 0, ZOENC_E_FORMAT},
                          Size{176, 144, 31, ZOENC_E_FORMAT}, Size{128, 96, 5, S_OK}, Size{176, 144, 10, S_OK}}) {
        EXPECT_EQ(enc->SetAttribute(ZOENC_ATTR_FORMAT, s.w, s.h, s.rate), s.expected) << s.w << "x" << s.h;
    }
    EXPECT_EQ(enc->SetAttribute(99, 0, 0, 0), E_INVALIDARG);
    EXPECT_EQ(enc->SetAttribute(ZOENC_ATTR_BITRATE, 5, 0, 0), E_INVALIDARG);

    // Images that are not what the format says: short, other size, 32 bits, compressed.
    EXPECT_EQ(enc->AddImage(image.data(), 39), ZOENC_E_IMAGE);
    EXPECT_EQ(enc->AddImage(image.data(), ULONG(image.size() - 1)), ZOENC_E_IMAGE);
    Bytes other = picture(352, 288, 0);
    EXPECT_EQ(enc->AddImage(other.data(), ULONG(other.size())), ZOENC_E_IMAGE);
    Bytes deep = image;
    deep[14] = 32;
    EXPECT_EQ(enc->AddImage(deep.data(), ULONG(deep.size())), ZOENC_E_IMAGE);
    EXPECT_EQ(enc->AddImage(nullptr, 100), E_POINTER);

    // A buffer too small for the picture keeps it for a larger one.
    ASSERT_EQ(enc->AddImage(image.data(), ULONG(image.size())), S_OK);
    EXPECT_EQ(enc->GetData(out, sizeof out, &length), ZOENC_E_ROOM);
    Bytes room(kZoEncOutputBytes);
    EXPECT_EQ(enc->GetData(room.data(), ULONG(room.size()), &length), S_OK);
    EXPECT_GT(length, 40u);
    EXPECT_EQ(enc->GetData(nullptr, 10, &length), E_POINTER);
}

}  // namespace
