#include "tavicore/ui/still_painter.h"

#include <QImage>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A 24-bit record of one colour (blue, green, red).
std::vector<BYTE> plainRecord(int width, int height, BYTE b, BYTE g, BYTE r) {
    std::vector<BYTE> record(40 + std::size_t(width) * height * 3);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(record.data());
    *header = BITMAPINFOHEADER{40, width, height, 1, 24, 0, DWORD(width * height * 3), 0, 0, 0, 0};
    for (std::size_t i = 40; i < record.size(); i += 3) {
        record[i] = b;
        record[i + 1] = g;
        record[i + 2] = r;
    }
    return record;
}

}  // namespace

TEST(StillPainter, PaintsThePictureCentredThroughTheBoundCodec) {
    CStillsDevices devices;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    ASSERT_EQ(devices.InitDevices(&kind, 1), STILLS_NO_ERROR) << devices.GetLastError();
    std::vector<BYTE> record = plainRecord(4, 2, 0x10, 0x20, 0xF0);
    QImage window(10, 6, QImage::Format_RGB32);
    window.fill(Qt::black);
    EXPECT_EQ(PaintStill(*devices[STILLCODEC_JPEG], reinterpret_cast<BITMAPINFOHEADER*>(record.data()),
                         &window),
              STILLS_NO_ERROR);
    EXPECT_EQ(window.pixel(3, 2), qRgb(0xF0, 0x20, 0x10));
    EXPECT_EQ(window.pixel(6, 3), qRgb(0xF0, 0x20, 0x10));
    EXPECT_EQ(window.pixel(2, 2), qRgb(0, 0, 0));  // outside the picture: as it was
    EXPECT_EQ(window.pixel(7, 2), qRgb(0, 0, 0));
    EXPECT_EQ(window.pixel(3, 1), qRgb(0, 0, 0));
}

TEST(StillPainter, UnboundCodecPaintsNothing) {
    CStillsCodecCollection collection;
    CStillsCodecInterface* codec = collection.Add(STILLCODEC_JPEG);
    ASSERT_NE(codec, nullptr);
    std::vector<BYTE> record = plainRecord(4, 2, 0xFF, 0xFF, 0xFF);
    QImage window(10, 6, QImage::Format_RGB32);
    window.fill(Qt::black);
    EXPECT_EQ(PaintStill(*codec, reinterpret_cast<BITMAPINFOHEADER*>(record.data()), &window),
              STILLS_ERROR_NOT_AVAILABLE);
    EXPECT_EQ(window.pixel(4, 3), qRgb(0, 0, 0));
    EXPECT_EQ(PaintStill(*codec, reinterpret_cast<BITMAPINFOHEADER*>(record.data()), nullptr),
              STILLS_NO_ERROR);
}
