#include "trennick/image/dib.h"

#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path home() { return fs::path(std::getenv("VELMOOR_HOME")); }

void writeFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

struct DibFree {
    void operator()(BYTE* dib) const { DestroyDIB(dib); }
};
using Dib = std::unique_ptr<BYTE, DibFree>;

QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 20, y * 30, 100));
        }
    }
    return image;
}

}  // namespace

TEST(Dib, RowsArePaddedAndSaveThenReadGivesTheSameBlock) {
    const QImage image = picture(7, 5);  // 21-byte rows padded to 24
    Dib dib(BitmapToDIB(image));
    ASSERT_TRUE(dib);
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib.get(), 40);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 24u * 5);
    EXPECT_EQ(DIBRowBytes(7, 24), 24u);
    EXPECT_EQ(DIBSize(dib.get()), (5u << 16) | 7u);
    EXPECT_EQ(DIBNumColors(dib.get()), 0);  // bits follow the header directly
    EXPECT_EQ(FindDIBBits(dib.get()), dib.get() + 40);
    // Bottom-up: the first stored row is the bottom row of the picture.
    EXPECT_EQ(FindDIBBits(dib.get())[2], BYTE(0));
    EXPECT_EQ(FindDIBBits(dib.get())[1], BYTE(120));

    const fs::path path = home() / "pic.bmp";
    ASSERT_TRUE(SaveDIB(path.c_str(), dib.get()));
    const std::vector<BYTE> file = readFile(path);
    ASSERT_EQ(file.size(), 14u + 40 + 24 * 5);
    Dib again(ReadDIBFile(path.c_str()));
    ASSERT_TRUE(again);
    EXPECT_EQ(std::memcmp(again.get(), dib.get(), 40 + 24 * 5), 0);
    QImage byQt(QString::fromStdString(path.string()));
    ASSERT_FALSE(byQt.isNull());
    EXPECT_EQ(byQt.pixel(3, 2), image.pixel(3, 2));
    EXPECT_EQ(DIBToBitmap(nullptr, again.get()).pixel(6, 4), image.pixel(6, 4));
}

TEST(Dib, IndexedImagesKeepTheirColourTable) {
    QImage indexed(9, 3, QImage::Format_Indexed8);
    QVector<QRgb> table;
    for (int i = 0; i < 256; ++i) {
        table.push_back(qRgb(i, 255 - i, 7));
    }
    indexed.setColorTable(table);
    indexed.fill(200);
    Dib dib(BitmapToDIB(indexed));
    ASSERT_TRUE(dib);
    EXPECT_EQ(DIBNumColors(dib.get()), 256);
    EXPECT_EQ(PaletteSize(dib.get()), 1024);
    EXPECT_EQ(FindDIBBits(dib.get()), dib.get() + 40 + 1024);
    EXPECT_EQ(DIBToBitmap(nullptr, dib.get()).pixel(4, 1), qRgb(200, 55, 7));
}

TEST(Dib, ReadRefusesWhatIsNotAWholeBitmap) {
    Dib good(BitmapToDIB(picture(8, 8)));
    ASSERT_TRUE(SaveDIB((home() / "good.bmp").c_str(), good.get()));
    const std::vector<BYTE> file = readFile(home() / "good.bmp");
    struct Case { const char* name; std::vector<BYTE> bytes; };
    std::vector<BYTE> notBm = file;
    notBm[0] = 'X';
    std::vector<BYTE> cut(file.begin(), file.end() - 10);
    std::vector<BYTE> hugeWidth = file;
    const LONG width = 30000;
    std::memcpy(hugeWidth.data() + 14 + 4, &width, 4);
    std::vector<BYTE> badSize = file;
    badSize[14] = 99;
    // The header's size says 40 bytes, the file holds 12 behind its header.
    std::vector<BYTE> shortInfo(file.begin(), file.begin() + 14 + 12);
    const Case cases[] = {
        {"not BM", notBm}, {"cut short", cut}, {"rows missing for the width", hugeWidth},
        {"unknown header", badSize}, {"empty", {}}, {"header longer than the file", shortInfo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(home() / "bad.bmp", c.bytes);
        EXPECT_EQ(ReadDIBFile((home() / "bad.bmp").c_str()), nullptr);
    }
    EXPECT_EQ(ReadDIBFile((home() / "missing.bmp").c_str()), nullptr);
    EXPECT_EQ(DIBSize(nullptr), 0u);
    EXPECT_FALSE(DestroyDIB(nullptr));
}

TEST(Dib, PaintStretchesInfoHeadersAndRefusesCoreHeaders) {
    Dib dib(BitmapToDIB(picture(4, 4)));
    QImage canvas(8, 8, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    const RECT to{0, 0, 8, 8};
    {
        QPainter painter(&canvas);
        EXPECT_TRUE(PaintDIB(&painter, &to, dib.get(), nullptr, 0));
    }
    EXPECT_EQ(canvas.pixel(7, 7), picture(4, 4).pixel(3, 3));
    HDIB core = AllocDIB(12 + 2 * 3 + 4 * 2);
    const BITMAPCOREHEADER header{12, 2, 2, 1, 1};
    std::memcpy(core, &header, sizeof header);
    EXPECT_EQ(DIBNumColors(core), 2);
    EXPECT_EQ(PaletteSize(core), 6);
    {
        QPainter painter(&canvas);
        EXPECT_FALSE(PaintDIB(&painter, &to, core, nullptr, 0));
    }
    DestroyDIB(core);
}
