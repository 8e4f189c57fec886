#include "tavicore/ui/drawer.h"

#include "common/kc_reg.h"
#include "platform/com/com.h"
#include "tavicore/ui/text_bitmap.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path home() { return fs::path(std::getenv("VELMOOR_HOME")); }

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

// A 24-bit DIB with padded rows, bottom-up, filled with one colour (B, G, R).
std::vector<BYTE> dib(int width, int height, BYTE b, BYTE g, BYTE r) {
    const std::size_t stride = ((std::size_t(width) * 24 + 31) / 32) * 4;
    std::vector<BYTE> out(40 + stride * height, 0xAB);  // padding bytes stay visible
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
    *header = BITMAPINFOHEADER{40, width, height, 1, 24, 0, DWORD(stride * height), 0, 0, 0, 0};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            BYTE* p = out.data() + 40 + y * stride + 3 * x;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    return out;
}

BITMAPINFOHEADER* header(std::vector<BYTE>& block) { return reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }

// The JPEG of a uniform w x h picture, as a frame record with compression "JPEG".
std::vector<BYTE> jpegFrame(int width, int height, BYTE b, BYTE g, BYTE r, int headerWidth = 0,
                            int headerHeight = 0) {
    std::vector<BYTE> source(40 + std::size_t(width) * height * 3);
    *reinterpret_cast<BITMAPINFOHEADER*>(source.data()) =
        BITMAPINFOHEADER{40, width, height, 1, 24, 0, DWORD(width * height * 3), 0, 0, 0, 0};
    for (std::size_t i = 40; i < source.size(); i += 3) {
        source[i] = b;
        source[i + 1] = g;
        source[i + 2] = r;
    }
    std::vector<BYTE> frame(source.size() + 40);
    CStillsDevices devices;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    EXPECT_EQ(devices.InitDevices(&kind, 1), STILLS_NO_ERROR);
    EXPECT_EQ(devices[STILLCODEC_JPEG]->Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()),
                                                 reinterpret_cast<BITMAPINFOHEADER*>(frame.data()), 90),
              STILLS_NO_ERROR);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(frame.data());
    frame.resize(40 + h->biSizeImage);
    h = reinterpret_cast<BITMAPINFOHEADER*>(frame.data());
    h->biCompression = kCompressionJpeg;
    if (headerWidth != 0) {
        h->biWidth = headerWidth;
        h->biHeight = headerHeight;
    }
    return frame;
}

int countNot(const QImage& image, QRgb colour, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != colour) {
                ++n;
            }
        }
    }
    return n;
}

SYSTEMTIME frameTime() {
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 10;
    t.wHour = 13;
    t.wMinute = 45;
    t.wSecond = 7;
    return t;
}

}  // namespace

TEST(TextBitmap, StampsIntoPaddedRowsAndFills) {
    std::vector<BYTE> block = dib(50, 20, 0, 0, 0);  // 150-byte rows padded to 152
    EXPECT_EQ(DibRowBytes(header(block)), 152u);
    ASSERT_TRUE(CopyTextToBitmap(header(block), nullptr, "12:00", 2, 2, nullptr, 0xFFFFFF));
    int lit = 0;
    for (int y = 0; y < 20; ++y) {
        const BYTE* row = block.data() + 40 + y * 152;
        EXPECT_EQ(row[150], 0xAB);  // padding untouched
        EXPECT_EQ(row[151], 0xAB);
        for (int x = 0; x < 150; ++x) {
            lit += row[x] != 0;
        }
    }
    EXPECT_GT(lit, 20);
    ASSERT_TRUE(FillBmpWithColor(header(block), nullptr, 0x0000FF));  // red
    EXPECT_EQ(block[40 + 2], 0xFF);
    EXPECT_EQ(block[40 + 0], 0x00);
    EXPECT_EQ(block[40 + 150], 0xAB);
    EXPECT_FALSE(CopyTextToBitmap(nullptr, nullptr, "x", 0, 0, nullptr));
    EXPECT_FALSE(FillBmpWithColor(nullptr, nullptr, 0));
    // Text running off the picture is clipped, not written past the block.
    EXPECT_TRUE(CopyTextToBitmap2(header(block), nullptr, "WIDE TEXT OFF THE EDGE", 40, 15, nullptr, 0, 0xFFFFFF, 0));
}

TEST(Drawer, HeadlessDrawerHasTheStillsCodecAndNoDecoder) {
    CDrawer drawer;
    EXPECT_TRUE(drawer.HasStillsCodec());
    EXPECT_FALSE(drawer.HasDecoder());  // the decoder server is not registered
    // H.263 frames then produce no picture, and nothing breaks.
    BITMAPINFOHEADER format{40, 176, 144, 1, 24, 3, 0, 0, 0, 0, 0};
    EXPECT_EQ(drawer.PrepareFrame(&format), 1);
    std::vector<BYTE> frame(100, 0);
    int ready = 1;
    EXPECT_EQ(drawer.DecodeFrame(reinterpret_cast<BITMAPINFOHEADER*>(frame.data()), 100, &ready), 1);
    EXPECT_EQ(ready, 0);
    drawer.ResetFrame();
}

TEST(Drawer, SavedBmpCarriesTheHeaderOpensInQtAndHasTheDate) {
    CDrawer drawer;
    drawer.SetFrameTime(frameTime());
    std::vector<BYTE> frame = dib(66, 40, 0x20, 0x80, 0x40);  // a width whose rows need padding
    ASSERT_EQ(drawer.PrepareFrame(header(frame)), 1);
    int ready = 0;
    drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
    const std::vector<BYTE> before = frame;
    const fs::path path = home() / "frame.bmp";
    ASSERT_TRUE(drawer.SaveFrame(path.c_str(), CDrawer::kFormatBmp));
    EXPECT_EQ(frame, before);  // the caller's frame is not stamped
    const std::vector<BYTE> file = readFile(path);
    ASSERT_EQ(file.size(), 54 + frame.size() - 40);
    BITMAPFILEHEADER fileHeader;
    std::memcpy(&fileHeader, file.data(), 14);
    const WORD type = fileHeader.bfType;
    const DWORD size = fileHeader.bfSize;
    const DWORD offset = fileHeader.bfOffBits;
    EXPECT_EQ(type, 0x4D42);
    EXPECT_EQ(size, file.size());
    EXPECT_EQ(offset, 54u);
    QImage image(QString::fromStdString(path.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 66);
    EXPECT_EQ(image.height(), 40);
    const QRgb plain = qRgb(0x40, 0x80, 0x20);
    EXPECT_EQ(image.pixel(60, 35), plain);
    EXPECT_GT(countNot(image, plain, QRect(0, 0, 66, 20)), 20);  // the date at the top left
    EXPECT_FALSE(drawer.SaveFrame((home() / "x.bmp").c_str(), 3));
    EXPECT_FALSE(fs::exists(home() / "x.bmp"));
}

TEST(Drawer, JpegFramesDecodeIntoTheBlockAndSaveAsJpeg) {
    CDrawer drawer;
    std::vector<BYTE> frame = jpegFrame(64, 48, 200, 40, 10);
    BITMAPINFOHEADER format = *header(frame);
    format.biWidth = 16;  // a smaller prepared format: the block must grow
    format.biHeight = 16;
    drawer.PrepareFrame(&format);
    const std::vector<BYTE> before = frame;
    int ready = 0;
    drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(frame, before);  // header given back unchanged
    const BITMAPINFOHEADER* picture = drawer.Picture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->biWidth, 64);
    EXPECT_EQ(picture->biBitCount, 24);

    QImage canvas(32, 24, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        drawer.DrawFrame(&painter, header(frame), nullptr);
    }
    const QColor drawn = canvas.pixelColor(16, 12);
    EXPECT_NEAR(drawn.red(), 10, 6);
    EXPECT_NEAR(drawn.blue(), 200, 6);

    const fs::path path = home() / "frame.jpg";
    ASSERT_TRUE(drawer.SaveFrame(path.c_str(), CDrawer::kFormatJpeg));
    QImage saved(QString::fromStdString(path.string()));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.width(), 64);
    EXPECT_NEAR(saved.pixelColor(60, 40).blue(), 200, 10);
    const std::vector<BYTE> bytes = readFile(path);
    EXPECT_NE(bytes, std::vector<BYTE>(frame.begin() + 40, frame.end()));  // stamped, so re-compressed
}

TEST(Drawer, WithStampingOffAJpegFrameIsSavedByteForByte) {
    {
        CKcReg reg("Quennel", "Velmoor", "1.000.0", "General");
        const DWORD off = 0;
        ASSERT_TRUE(reg.SetDword(nullptr, "StampDateWhenSaveStill", &off));
    }
    CDrawer drawer;
    std::vector<BYTE> frame = jpegFrame(32, 32, 10, 20, 30);
    drawer.PrepareFrame(header(frame));
    int ready = 0;
    drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
    const fs::path path = home() / "asis.jpg";
    ASSERT_TRUE(drawer.SaveFrame(path.c_str(), CDrawer::kFormatJpeg));
    EXPECT_EQ(readFile(path), std::vector<BYTE>(frame.begin() + 40, frame.end()));
}

TEST(Drawer, JpegLargerThanItsHeaderIsRefusedNotOverrun) {
    CDrawer drawer;
    std::vector<BYTE> frame = jpegFrame(64, 48, 1, 2, 3, 16, 16);  // header claims 16 x 16
    drawer.PrepareFrame(header(frame));
    int ready = 0;
    drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
    const BITMAPINFOHEADER* picture = drawer.Picture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->biWidth, 0);  // nothing decoded
    EXPECT_FALSE(drawer.SaveFrame((home() / "none.bmp").c_str(), CDrawer::kFormatBmp));
}

TEST(Drawer, NoVideoFrameIsBlackWithTheTextInTheMiddle) {
    struct Case { const char* text; bool expectText; };
    for (const Case c : {Case{"NO VIDEO", true}, Case{"", false}}) {
        SCOPED_TRACE(c.text);
        {
            CKcReg reg("Quennel", "Velmoor", "1.000.0", "Video");
            ASSERT_TRUE(reg.SetString(nullptr, "NoVideoText", c.text));
        }
        CDrawer drawer;
        std::vector<BYTE> frame = dib(176, 144, 200, 200, 200);
        drawer.PrepareFrame(header(frame));
        int ready = 0;
        drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
        const fs::path path = home() / "novideo.bmp";
        ASSERT_TRUE(drawer.SaveNoVideoFrame(path.c_str(), CDrawer::kFormatBmp));
        QImage image(QString::fromStdString(path.string()));
        ASSERT_FALSE(image.isNull());
        const QRgb black = qRgb(0, 0, 0);
        EXPECT_EQ(countNot(image, black, QRect(0, 100, 176, 44)), 0);
        const int middle = countNot(image, black, QRect(20, 60, 136, 30));
        EXPECT_EQ(middle > 0, c.expectText);
    }
}

TEST(Drawer, DrawBeforePrepareDrawsNothing) {
    CDrawer drawer;
    QImage canvas(8, 8, QImage::Format_RGB32);
    canvas.fill(Qt::green);
    std::vector<BYTE> frame = dib(8, 8, 0, 0, 0);
    {
        QPainter painter(&canvas);
        drawer.DrawFrame(&painter, header(frame), nullptr);
    }
    EXPECT_EQ(countNot(canvas, qRgb(0, 255, 0), QRect(0, 0, 8, 8)), 0);
}

TEST(Drawer, CopyToClipboardPutsTheStampedPicture) {
    CDrawer drawer;
    std::vector<BYTE> frame = dib(40, 30, 0, 0, 0);
    drawer.CopyToClipboard(0);  // nothing to copy yet: traced, no effect
    drawer.PrepareFrame(header(frame));
    int ready = 0;
    drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready);
    drawer.CopyToClipboard(0);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        GTEST_SKIP() << "no clipboard without a GUI application";
    }
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.width(), 40);
    EXPECT_GT(countNot(copied.convertToFormat(QImage::Format_RGB32), qRgb(0, 0, 0), QRect(0, 0, 40, 20)), 0);
}

// With the servers registered, the drawer creates the H.263 decoder server and
// a block-transform frame comes back as a picture.
TEST(Drawer, BlockTransformFramesDecodeThroughTheDecoderServer) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    {
        CDrawer drawer;
        ASSERT_TRUE(drawer.HasDecoder());
        BITMAPINFOHEADER format{40, 16, 16, 1, 24, 4, 0, 0, 0, 0, 0};
        EXPECT_EQ(drawer.PrepareFrame(&format), 1);
        // One grey block packet of 2 x 2 blocks, each DC level 90, last of its picture.
        std::vector<BYTE> packet = {1, 0, 16, 4 | 2, 1, 2, 2, 0, 0, 0, 4};
        std::uint64_t bits = 0;
        for (int b = 0; b < 4; ++b) bits = (bits << 10) | (0b01u << 8) | 90u;
        bits <<= 64 - 40;
        for (int i = 0; i < 5; ++i) packet.push_back(BYTE(bits >> (56 - 8 * i)));
        int ready = 0;
        EXPECT_EQ(drawer.DecodeFrame(reinterpret_cast<BITMAPINFOHEADER*>(packet.data()), DWORD(packet.size()), &ready),
                  1);
        EXPECT_EQ(ready, 1);
        const BITMAPINFOHEADER* picture = drawer.Picture();
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->biWidth, 16);
        const BYTE* pixels = reinterpret_cast<const BYTE*>(picture) + 40;
        EXPECT_EQ(pixels[0], 90);
        EXPECT_EQ(pixels[16 * 16 * 3 - 1], 90);
    }
    CoUninitialize();
}

// A frame's header is believed only as far as the frame's real size holds it:
// a small frame that claims a large picture (or more JPEG bytes than it has) is
// refused, and nothing is drawn, copied or saved from past its end.
TEST(Drawer, FrameHeaderClaimingMoreThanItsSizeIsRefused) {
    struct Case {
        const char* what;
        LONG width, height;
        WORD bits;
        DWORD compression, sizeImage, headerSize;
        std::size_t frameBytes;
    };
    const Case cases[] = {
        {"2000 x 2000 in 340 bytes", 2000, 2000, 24, 0, 0, 40, 340},
        {"size-image field small, picture large", 2000, 2000, 24, 0, 300, 40, 340},
        {"top-down height out of range", 10, LONG(0x80000000), 24, 0, 0, 40, 340},
        {"one row too many", 10, 11, 24, 0, 0, 40, 40 + 32 * 10},
        {"header size past the frame", 4, 4, 24, 0, 0, 4000, 340},
        {"JPEG bytes past the frame", 64, 48, 24, kCompressionJpeg, 100000, 40, 340},
        {"8-bit picture", 16, 16, 8, 0, 0, 40, 340},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDrawer drawer;
        std::vector<BYTE> good = dib(8, 8, 0, 0, 255);
        drawer.PrepareFrame(header(good));
        int ready = 0;
        drawer.DecodeFrame(header(good), DWORD(good.size()), &ready);
        ASSERT_EQ(ready, 1);

        std::vector<BYTE> frame(c.frameBytes, 0x55);
        *header(frame) = BITMAPINFOHEADER{c.headerSize, c.width, c.height, 1, c.bits,
                                          c.compression, c.sizeImage, 0, 0, 0, 0};
        drawer.PrepareFrame(header(frame));
        ready = 1;
        EXPECT_EQ(drawer.DecodeFrame(header(frame), DWORD(frame.size()), &ready), 1);
        EXPECT_EQ(ready, 0);
        QImage canvas(16, 16, QImage::Format_RGB32);
        canvas.fill(Qt::green);
        {
            QPainter painter(&canvas);
            drawer.DrawFrame(&painter, header(frame), nullptr);
        }
        if (c.compression != kCompressionJpeg) {
            EXPECT_EQ(drawer.Picture(), nullptr);
            EXPECT_EQ(countNot(canvas, qRgb(0, 255, 0), QRect(0, 0, 16, 16)), 0);
            EXPECT_FALSE(drawer.SaveFrame((home() / "refused.bmp").c_str(), CDrawer::kFormatBmp));
        }
        // Under the sanitizers any read past the frame stops the test here.
        drawer.SaveFrame((home() / "refused.jpg").c_str(), CDrawer::kFormatJpeg);
        drawer.CopyToClipboard(0);
    }
    // The same picture with room for every row is taken.
    CDrawer drawer;
    std::vector<BYTE> whole = dib(10, 11, 0, 0, 255);
    drawer.PrepareFrame(header(whole));
    int ready = 0;
    drawer.DecodeFrame(header(whole), DWORD(whole.size()), &ready);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(drawer.Picture(), header(whole));
}
