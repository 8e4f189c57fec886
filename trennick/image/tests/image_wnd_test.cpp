#include "trennick/image/image_wnd.h"

#include "common/kc_reg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path home() { return fs::path(std::getenv("VELMOOR_HOME")); }

std::vector<BYTE> dib24(int width, int height, BYTE grey) {
    const std::size_t stride = DIBRowBytes(width, 24);
    std::vector<BYTE> out(40 + stride * height, grey);
    *reinterpret_cast<BITMAPINFOHEADER*>(out.data()) =
        BITMAPINFOHEADER{40, width, height, 1, 24, 0, DWORD(stride * height), 0, 0, 0, 0};
    return out;
}

int countNot(const QImage& image, QRgb colour, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            n += image.pixel(x, y) != colour;
        }
    }
    return n;
}

}  // namespace

TEST(LocalImage, LargePictureShownAtMost176By144AndSavedAsBmpAndJpeg) {
    CLocalImage window;
    std::vector<BYTE> frame = dib24(352, 288, 0x50);
    ASSERT_TRUE(window.ShowImageData(reinterpret_cast<BITMAPINFOHEADER*>(frame.data()), "cam 1", FALSE));
    EXPECT_EQ(window.windowTitle(), QString("cam 1"));
    EXPECT_LE(window.ImageWindow()->width(), 176);
    EXPECT_LE(window.ImageWindow()->height(), 144);
    EXPECT_EQ(window.ImageWindow()->ImageWidth(), 352);

    const fs::path bmp = home() / "local.bmp";
    ASSERT_TRUE(window.WriteBMPFrame(bmp.c_str()));
    EXPECT_EQ(fs::file_size(bmp), 54u + 352 * 288 * 3);
    QImage saved(QString::fromStdString(bmp.string()));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.pixel(100, 100), qRgb(0x50, 0x50, 0x50));

    const fs::path jpg = home() / "local.jpg";
    ASSERT_TRUE(window.WriteJPEGFrame(jpg.c_str()));
    QImage jpeg(QString::fromStdString(jpg.string()));
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_EQ(jpeg.width(), 352);
    EXPECT_NEAR(qRed(jpeg.pixel(200, 200)), 0x50, 4);
}

TEST(LocalImage, NoVideoTextIsStampedInTheMiddle) {
    CLocalImage window;  // NoVideoTextVisible defaults to 1, the text to "NO VIDEO"
    std::vector<BYTE> frame = dib24(176, 144, 0);
    ASSERT_TRUE(window.ShowImageData(reinterpret_cast<BITMAPINFOHEADER*>(frame.data()), "x", TRUE));
    const QImage shown = DIBToBitmap(nullptr, window.ImageWindow()->Dib());
    ASSERT_FALSE(shown.isNull());
    EXPECT_GT(countNot(shown, qRgb(0, 0, 0), QRect(30, 55, 116, 35)), 20);
    EXPECT_EQ(countNot(shown, qRgb(0, 0, 0), QRect(0, 110, 176, 34)), 0);
    EXPECT_EQ(frame, dib24(176, 144, 0));  // the caller's picture is copied, not stamped
}

TEST(ImageWnd, StampsTheTextAndCopiesToTheClipboard) {
    CImageWnd window(160, 120);
    window.SetImageText(2, 2, "CAM", 0xFFFFFF);
    std::vector<BYTE> frame = dib24(30, 20, 0);  // rows need padding
    ASSERT_TRUE(window.LoadImageData(reinterpret_cast<BITMAPINFOHEADER*>(frame.data()), FALSE));
    const QImage shown = DIBToBitmap(nullptr, window.Dib());
    EXPECT_GT(countNot(shown, qRgb(0, 0, 0), QRect(0, 0, 30, 14)), 5);
    window.FitToImage();
    EXPECT_EQ(window.width(), 30);
    EXPECT_EQ(window.height(), 20);
    window.CopyToClipboard();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(30, 20));
    EXPECT_FALSE(window.LoadImageFile((home() / "missing.bmp").c_str(), FALSE));
    EXPECT_EQ(window.Dib(), nullptr);
    window.FitToImage();
    EXPECT_EQ(window.width(), 0);
}
