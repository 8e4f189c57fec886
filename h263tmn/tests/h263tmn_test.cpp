// The H.263 decoder component, created through the registry as the video
// window creates it, fed the pictures that the video encoder component codes,
// cut into the pieces the link carries.

#include "h263tmn/h263tmn_lib.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "zoenc/zoenc_lib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using platform::com::ComPtr;

constexpr ULONG kPictureBytes = 1064 + 352 * 288 * 3;

class H263Tmn : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(CoCreateInstance(CLSID_H263Tmn, nullptr, CLSCTX_INPROC_SERVER, IID_IH263Tmn, decoder.putVoid()), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_ZoVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZoEncoder,
                                   encoder.putVoid()),
                  S_OK);
        ASSERT_EQ(encoder->Open(), S_OK);
        ASSERT_EQ(encoder->SetAttribute(ZOENC_ATTR_FORMAT, 352, 288, 10), S_OK);
    }
    void TearDown() override {
        decoder.reset();
        encoder.reset();
        CoUninitialize();
    }

    // One coded CIF picture: a grey field with a white square at x.
    Bytes code(int squareX) {
        const int w = 352, h = 288;
        Bytes image(40 + std::size_t(w) * h * 3, 90);
        BITMAPINFOHEADER header{};
        header.biSize = 40;
        header.biWidth = w;
        header.biHeight = -h;
        header.biPlanes = 1;
        header.biBitCount = 24;
        std::memcpy(image.data(), &header, 40);
        for (int y = 100; y < 160; ++y) {
            std::memset(image.data() + 40 + (std::size_t(y) * w + std::size_t(squareX)) * 3, 250, 60 * 3);
        }
        EXPECT_EQ(encoder->AddImage(image.data(), ULONG(image.size())), S_OK);
        Bytes out(kZoEncOutputBytes);
        ULONG length = 0;
        EXPECT_EQ(encoder->GetData(out.data(), ULONG(out.size()), &length), S_OK);
        return Bytes(out.begin() + 40, out.begin() + length);
    }
    // Adds a picture in pieces of at most `piece` bytes.
    void add(const Bytes& picture, std::size_t piece) {
        for (std::size_t at = 0; at < picture.size(); at += piece) {
            const std::size_t n = std::min(piece, picture.size() - at);
            ASSERT_EQ(decoder->AddData(const_cast<BYTE*>(picture.data()) + at, ULONG(n)), S_OK);
        }
    }

    ComPtr<IH263Tmn> decoder;
    ComPtr<IZoEncoder> encoder;
};

TEST_F(H263Tmn, APictureComesOutWhenTheNextOneBeginsWhateverThePieces) {
    ASSERT_EQ(decoder->Open(), S_OK);
    ASSERT_EQ(decoder->SetAttribute(kH263TmnAttrNewStream, 0, 0, 0), S_OK);
    Bytes picture(kPictureBytes);
    add(code(40), 1000);
    const HRESULT early = decoder->GetImageData(picture.data(), ULONG(picture.size()));
    EXPECT_EQ(early, H263TMN_E_NOT_READY);
    EXPECT_EQ(early & 0xFFFF, 8);

    add(code(200), 15353);
    ASSERT_EQ(decoder->GetImageData(picture.data(), ULONG(picture.size())), S_OK);
    BITMAPINFOHEADER header;
    std::memcpy(&header, picture.data(), 40);
    EXPECT_EQ(header.biWidth, 352);
    EXPECT_EQ(header.biHeight, 288);
    EXPECT_EQ(header.biBitCount, 24);
    // Bottom-up rows: the square of the first picture (rows 100 to 159 from
    // the top, columns 40 to 99) is bright, the field around it is not.
    auto at = [&](int x, int yFromTop) { return picture[40 + (std::size_t(287 - yFromTop) * 352 + x) * 3 + 1]; };
    EXPECT_GT(at(70, 130), 200);
    EXPECT_LT(at(250, 130), 140);
    // Taken once.
    EXPECT_EQ(decoder->GetImageData(picture.data(), ULONG(picture.size())), H263TMN_E_NOT_READY);
}

TEST_F(H263Tmn, RefusesWhatItCannotServe) {
    Bytes piece{0, 0, 0x80, 2, 3};
    EXPECT_EQ(decoder->AddData(piece.data(), ULONG(piece.size())), H263TMN_E_NOT_OPEN);
    EXPECT_EQ(decoder->SetAttribute(kH263TmnAttrNewStream, 0, 0, 0), H263TMN_E_NOT_OPEN);
    ASSERT_EQ(decoder->Open(), S_OK);
    EXPECT_EQ(decoder->SetAttribute(3, 0, 0, 0), E_INVALIDARG);
    EXPECT_EQ(decoder->AddData(nullptr, 4), E_POINTER);
    EXPECT_EQ(decoder->Reserved(), E_NOTIMPL);
    add(code(40), 4000);
    add(code(60), 4000);
    Bytes small(40 + 352 * 3);
    EXPECT_EQ(decoder->GetImageData(small.data(), ULONG(small.size())), H263TMN_E_ROOM);
    // A new stream forgets what was collected.
    ASSERT_EQ(decoder->SetAttribute(kH263TmnAttrNewStream, 0, 0, 0), S_OK);
    Bytes picture(kPictureBytes);
    EXPECT_EQ(decoder->GetImageData(picture.data(), ULONG(picture.size())), H263TMN_E_NOT_READY);
}

}  // namespace
