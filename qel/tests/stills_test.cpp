#include "platform/library.h"
#include "qel/jpeg_glue.h"
#include "qel/qel.h"
#include "qel/tests/qel_test_support.h"

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

using namespace qeltest;
namespace fs = std::filesystem;

namespace {

fs::path home() { return fs::path(std::getenv("VELMOOR_HOME")); }

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool hasTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

const BYTE kExpectedHeader[42] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F', 0,
                                  1,    1,    0,    0,    0,    0,    0,    0,    0,    0xFF, 0xFE,
                                  0x00, 0x14, 'O',  's',  't',  'r',  'e',  'l',  'i',  'x',  ' ',
                                  's',  'n',  'a',  'p',  's',  'h',  'o',  't',  0};

// Decompresses JPEG bytes of a w x h picture; empty on failure.
std::vector<BYTE> decompress(const std::vector<BYTE>& jpeg, int width, int height,
                             std::string* error = nullptr) {
    std::vector<BYTE> source = jpegRecord(jpeg, width, height);
    std::vector<BYTE> target = makeRecord(width, height);
    char* text = nullptr;
    const int ok = QEL_Decompress(headerOf(source), headerOf(target), &text);
    if (error != nullptr && text != nullptr) {
        *error = text;
    }
    return ok ? target : std::vector<BYTE>{};
}

}  // namespace

TEST(QelStills, CompressedPictureDecodesCloseToTheSource) {
    std::vector<BYTE> original = scene(64, 48, 10, 12);
    std::vector<BYTE> jpeg = compress(original, 95);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    std::vector<BYTE> decoded = decompress(jpeg, 64, 48);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(headerOf(decoded)->biBitCount, 24);
    EXPECT_LT(meanAbsDifference(pixelsOf(decoded), pixelsOf(original), 64 * 48 * 3), 4.0);
    // Bottom-up: the square near the top of the picture lies in the last rows.
    const BYTE* topRow = pixelsOf(decoded) + std::size_t(47 - 15) * 64 * 3;
    EXPECT_GT(topRow[3 * 15], 200);  // blue of the square
}

TEST(QelStills, EightAndSixteenBitSourcesBecomeTwentyFourBit) {
    struct Case { WORD bits; BYTE fill; };
    for (const Case c : {Case{8, 0x80}, Case{16, 0x42}}) {
        SCOPED_TRACE(c.bits);
        // Room for the stream is the source's own size: large enough here.
        std::vector<BYTE> source = makeRecord(64, 32, c.bits);
        std::memset(pixelsOf(source), c.fill, 64 * 32 * (c.bits / 8));
        std::vector<BYTE> target(40 + 64 * 32 * 3);
        char* text = nullptr;
        ASSERT_EQ(QEL_Compress(headerOf(source), reinterpret_cast<BITMAPINFOHEADER*>(target.data()),
                               &text, 80), 1) << text;
        EXPECT_EQ(reinterpret_cast<BITMAPINFOHEADER*>(target.data())->biBitCount, 24);
        EXPECT_EQ(headerOf(source)->biSizeImage, 64u * 32 * 3);
    }
}

// The caller's room is the source's size as given, whatever its bit depth: an
// 8- or 16-bit picture whose stream needs more is refused, nothing written past.
TEST(QelStills, CompressOfNarrowSourcesKeepsToTheCallersRoom) {
    for (WORD bits : {WORD(8), WORD(16)}) {
        SCOPED_TRACE(bits);
        const int width = 32, height = 32;
        std::vector<BYTE> source = makeRecord(width, height, bits);
        unsigned seed = 7;
        for (std::size_t i = 40; i < source.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            source[i] = BYTE(seed >> 16);  // noise: a stream far larger than the room
        }
        const std::size_t room = std::size_t(width) * height * (bits / 8);
        ASSERT_EQ(headerOf(source)->biSizeImage, room);
        std::vector<BYTE> target(40 + std::size_t(width) * height * 4, 0xCD);
        char* text = nullptr;
        auto* out = reinterpret_cast<BITMAPINFOHEADER*>(target.data());
        EXPECT_EQ(QEL_Compress(headerOf(source), out, &text, 100), 0);
        EXPECT_NE(std::string(text).find("needs"), std::string::npos) << text;
        EXPECT_GT(out->biSizeImage, room);
        for (std::size_t i = 40 + room; i < target.size(); ++i) {
            ASSERT_EQ(target[i], 0xCD) << "written past the room at " << i;
        }
    }
}

TEST(QelStills, QualityOutsideRangeKeepsTheDefault) {
    std::vector<BYTE> original = scene(64, 64, 5, 5);
    const std::vector<BYTE> standard = compress(original, 75);
    EXPECT_EQ(compress(original, -1), standard);
    EXPECT_EQ(compress(original, 101), standard);
    EXPECT_LT(compress(original, 10).size(), compress(original, 95).size());
}

TEST(QelStills, CompressNeverWritesPastTheRoomAndReportsTheSizeNeeded) {
    std::vector<BYTE> source = scene(64, 64, 5, 5);
    headerOf(source)->biSizeImage = 100;  // the room for the stream
    std::vector<BYTE> target(40 + 64 * 64 * 3, 0xCD);
    char* text = nullptr;
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(target.data());
    EXPECT_EQ(QEL_Compress(headerOf(source), out, &text, 90), 0);
    EXPECT_NE(std::string(text).find("needs"), std::string::npos) << text;
    const DWORD needed = out->biSizeImage;
    EXPECT_GT(needed, 100u);
    for (std::size_t i = 40 + 100; i < target.size(); ++i) {
        ASSERT_EQ(target[i], 0xCD) << "written past the room at " << i;
    }
    headerOf(source)->biSizeImage = needed;
    ASSERT_EQ(QEL_Compress(headerOf(source), out, &text, 90), 1) << text;
    EXPECT_EQ(out->biSizeImage, needed);
}

TEST(QelStills, DecompressRefusesAPictureLargerThanTheRecord) {
    std::vector<BYTE> jpeg = compress(scene(64, 64, 5, 5));
    std::vector<BYTE> source = jpegRecord(jpeg, 16, 16);  // header claims 16x16
    std::vector<BYTE> target(40 + 16 * 16 * 3 + 64, 0xCD);
    char* text = nullptr;
    EXPECT_EQ(QEL_Decompress(headerOf(source), reinterpret_cast<BITMAPINFOHEADER*>(target.data()),
                             &text), 0);
    EXPECT_NE(std::string(text).find("12288"), std::string::npos) << text;
    for (std::size_t i = 40; i < target.size(); ++i) {
        ASSERT_EQ(target[i], 0xCD);
    }
}

TEST(QelStills, CorruptOrEmptyStreamsFailWithATextAndTheProcessGoesOn) {
    const std::vector<BYTE> good = compress(scene(64, 48, 10, 12));
    std::vector<std::vector<BYTE>> bad;
    bad.push_back({});                                         // biSizeImage 0: no picture
    bad.push_back({0xFF, 0xD8, 0xFF, 0xD9});                  // no picture
    bad.push_back({1, 2, 3, 4, 5, 6, 7, 8});                  // not a JPEG
    bad.push_back(std::vector<BYTE>(good.begin(), good.begin() + 200));  // cut in the headers
    bad.push_back(std::vector<BYTE>(good.begin(), good.end() - 300));    // cut in the data
    std::vector<BYTE> badFrame = good;
    badFrame[30] ^= 0xFF;  // inside the quantisation table segment length area
    badFrame[6] = 0xFF;
    bad.push_back(badFrame);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        std::string error;
        const std::vector<BYTE> decoded = decompress(bad[i], 64, 48, &error);
        if (i == 5 && !decoded.empty()) {
            continue;  // a damaged byte libjpeg can live with is allowed to decode
        }
        EXPECT_TRUE(decoded.empty());
        if (i >= 2) {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_FALSE(decompress(good, 64, 48).empty());  // the library still works
}

TEST(QelStills, SaveDibWritesTheStillHeaderAndOtherReadersAcceptTheFile) {
    std::vector<BYTE> original = scene(64, 48, 10, 12);
    std::vector<BYTE> jpeg = compress(original, 90);
    std::vector<BYTE> record = jpegRecord(jpeg, 64, 48);
    const fs::path path = home() / "still.jpg";
    ASSERT_EQ(QEL_SaveDIB(path.c_str(), headerOf(record)), 1);
    const std::vector<BYTE> file = readFile(path);
    ASSERT_EQ(file.size(), 42 + jpeg.size() - 2);
    EXPECT_EQ(std::memcmp(file.data(), kExpectedHeader, 42), 0);

    QImage byQt(QString::fromStdString(path.string()));
    ASSERT_FALSE(byQt.isNull());
    EXPECT_EQ(byQt.width(), 64);
    EXPECT_EQ(byQt.height(), 48);

    ASSERT_TRUE(hasTool("djpeg")) << "libjpeg-turbo-progs is missing";
    const fs::path ppm = home() / "still.ppm";
    ASSERT_EQ(std::system(("djpeg -ppm -outfile " + ppm.string() + " " + path.string()).c_str()), 0);
    const std::vector<BYTE> out = readFile(ppm);
    ASSERT_GT(out.size(), 64u * 48 * 3);
    // P6 text header, then top-down RGB rows.
    const BYTE* rgb = out.data() + out.size() - 64 * 48 * 3;
    const BYTE* square = rgb + (std::size_t(15) * 64 + 15) * 3;
    EXPECT_LT(square[0], 60);   // red
    EXPECT_GT(square[2], 200);  // blue
}

TEST(QelStills, StillsMadeByCjpegAreReadAndDecoded) {
    ASSERT_TRUE(hasTool("cjpeg")) << "libjpeg-turbo-progs is missing";
    const fs::path ppm = home() / "in.ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n40 24\n255\n";
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 40; ++x) {
                const char rgb[3] = {char(x < 20 ? 220 : 10), char(60), char(y * 10)};
                out.write(rgb, 3);
            }
        }
    }
    const fs::path jpg = home() / "in.jpg";
    ASSERT_EQ(std::system(("cjpeg -quality 95 -outfile " + jpg.string() + " " + ppm.string()).c_str()), 0);

    BITMAPINFOHEADER info{};
    char* text = nullptr;
    ASSERT_EQ(QEL_GetJPGInfo(jpg.c_str(), &info, &text), 1) << text;
    EXPECT_EQ(info.biWidth, 40);
    EXPECT_EQ(info.biHeight, 24);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_EQ(info.biSizeImage, fs::file_size(jpg));

    std::vector<BYTE> record(40 + info.biSizeImage);
    std::memcpy(record.data(), &info, 40);
    ASSERT_EQ(QEL_ReadDIB(jpg.c_str(), headerOf(record)), 1);
    std::vector<BYTE> target = makeRecord(40, 24);
    ASSERT_EQ(QEL_Decompress(headerOf(record), headerOf(target), &text), 1) << text;
    const BYTE* bottomLeft = pixelsOf(target);  // row 0 = bottom row (y = 23)
    EXPECT_GT(bottomLeft[2], 180);   // red
    EXPECT_GT(bottomLeft[0], 180);   // blue = 230
    const BYTE* bottomRight = bottomLeft + 39 * 3;
    EXPECT_LT(bottomRight[2], 60);
}

TEST(QelStills, GetJpgInfoRefusesMissingAndBrokenFiles) {
    BITMAPINFOHEADER info{};
    char* text = nullptr;
    EXPECT_EQ(QEL_GetJPGInfo((home() / "missing.jpg").c_str(), &info, &text), 0);
    EXPECT_EQ(text[0], '\0');
    writeFile(home() / "broken.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00});
    EXPECT_EQ(QEL_GetJPGInfo((home() / "broken.jpg").c_str(), &info, &text), 0);
    EXPECT_NE(text[0], '\0');
}

TEST(QelStills, StandardTablesMatchTheEncoderDefaults) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    JHUFF_TBL* tables[4] = {cinfo.dc_huff_tbl_ptrs[0], cinfo.dc_huff_tbl_ptrs[1],
                            cinfo.ac_huff_tbl_ptrs[0], cinfo.ac_huff_tbl_ptrs[1]};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const qel::StandardTable& table = qel::standardTable(i);
        int total = 0;
        for (int n = 0; n < 16; ++n) {
            EXPECT_EQ(table.counts[n], tables[i]->bits[n + 1]);
            total += table.counts[n];
        }
        ASSERT_EQ(std::size_t(total), table.valueCount);
        EXPECT_EQ(std::memcmp(table.values, tables[i]->huffval, table.valueCount), 0);
    }
    jpeg_destroy_compress(&cinfo);
}

namespace {

// A JPEG without its define-Huffman-table segments, as motion JPEG frames come.
std::vector<BYTE> withoutHuffmanTables(const std::vector<BYTE>& jpeg) {
    std::vector<BYTE> out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        const BYTE marker = jpeg[at + 1];
        const std::size_t length = (std::size_t(jpeg[at + 2]) << 8) | jpeg[at + 3];
        if (marker == 0xDA) {
            out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
            break;
        }
        if (marker != 0xC4) {
            out.insert(out.end(), jpeg.begin() + long(at), jpeg.begin() + long(at + 2 + length));
        }
        at += 2 + length;
    }
    return out;
}

}  // namespace

TEST(QelStills, AddHuffmanPlacesTheTablesBehindTheLeadingSegments) {
    struct Case {
        const char* name;
        std::vector<BYTE> input;
        int result;
        std::size_t blockAt;  // where the 432-byte block must start
    };
    const std::vector<BYTE> app0 = {0xFF, 0xE0, 0x00, 0x04, 0xAA, 0xBB};
    const std::vector<BYTE> comment = {0xFF, 0xFE, 0x00, 0x03, 'x'};
    std::vector<BYTE> full = {0x12, 0xFF, 0xD8};
    full.insert(full.end(), app0.begin(), app0.end());
    full.insert(full.end(), comment.begin(), comment.end());
    full.insert(full.end(), {0xFF, 0xDB, 0x00, 0x02});
    const Case cases[] = {
        {"no SOI", {1, 2, 3, 0xFF, 0xD9}, 0, 0},
        {"empty", {}, 0, 0},
        {"SOI, APP0 and comment", full, 1, 3 + app0.size() + comment.size()},
        {"SOI only", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02}, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(home() / "src.jpg", c.input);
        EXPECT_EQ(QEL_AddHuffman((home() / "src.jpg").c_str(), (home() / "dst.jpg").c_str()),
                  c.result);
        const std::vector<BYTE> out = readFile(home() / "dst.jpg");
        if (c.result == 0) {
            EXPECT_EQ(out, c.input);  // what was copied stays
            continue;
        }
        ASSERT_EQ(out.size(), c.input.size() + 432);
        EXPECT_TRUE(std::equal(c.input.begin(), c.input.begin() + long(c.blockAt), out.begin()));
        EXPECT_EQ(out[c.blockAt], 0xFF);
        EXPECT_EQ(out[c.blockAt + 1], 0xC4);
        EXPECT_EQ(out[c.blockAt + 3], 31);  // 2 + 17 + 12
        EXPECT_TRUE(std::equal(c.input.begin() + long(c.blockAt), c.input.end(),
                               out.begin() + long(c.blockAt + 432)));
    }

    // A stream stripped of its tables becomes readable by Qt again.
    const std::vector<BYTE> stripped = withoutHuffmanTables(compress(scene(32, 32, 4, 4)));
    writeFile(home() / "bare.jpg", stripped);
    ASSERT_EQ(QEL_AddHuffman((home() / "bare.jpg").c_str(), (home() / "fixed.jpg").c_str()), 1);
    EXPECT_FALSE(QImage(QString::fromStdString((home() / "fixed.jpg").string())).isNull());
    // And qel decodes the bare stream with its standard tables.
    EXPECT_FALSE(decompress(stripped, 32, 32).empty());
}

namespace {

// A canvas of w x h pixels with two spare pixels at the end of each row.
struct TestCanvas {
    static constexpr uint32_t kUntouched = 0x11223344;
    int width, height;
    std::vector<uint32_t> pixels;
    TestCanvas(int w, int h) : width(w), height(h), pixels(std::size_t(w + 2) * h, kUntouched) {}
    QelCanvas view() { return QelCanvas{pixels.data(), width, height, (width + 2) * 4}; }
    uint32_t at(int x, int y) const { return pixels[std::size_t(y) * (width + 2) + x]; }
};

// Each picture pixel its own colour: blue = x, green = y counted from the top.
std::vector<BYTE> numberedRecord(int width, int height) {
    std::vector<BYTE> record = makeRecord(width, height);
    for (int y = 0; y < height; ++y) {
        BYTE* row = pixelsOf(record) + std::size_t(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = BYTE(x);
            row[3 * x + 1] = BYTE(y);
            row[3 * x + 2] = 0x80;
        }
    }
    return record;
}

uint32_t numbered(int x, int y) { return 0xFF800000u | uint32_t(y) << 8 | uint32_t(x); }

}  // namespace

TEST(QelStills, DrawLaysThePictureCentredOnTheCanvas) {
    std::vector<BYTE> record = numberedRecord(4, 2);
    TestCanvas canvas(10, 6);
    QelCanvas view = canvas.view();
    ASSERT_EQ(QEL_Draw(headerOf(record), &view), 1);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 12; ++x) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            const bool inside = x >= 3 && x < 7 && y >= 2 && y < 4;
            EXPECT_EQ(canvas.pixels[std::size_t(y) * 12 + x],
                      inside ? numbered(x - 3, y - 2) : TestCanvas::kUntouched);
        }
    }
}

TEST(QelStills, DrawCutsAPictureLargerThanTheCanvas) {
    std::vector<BYTE> record = numberedRecord(7, 9);  // left -2 (floor of -1.5), top -2
    TestCanvas canvas(4, 5);
    QelCanvas view = canvas.view();
    ASSERT_EQ(QEL_Draw(headerOf(record), &view), 1);
    EXPECT_EQ(canvas.at(0, 0), numbered(2, 2));
    EXPECT_EQ(canvas.at(3, 4), numbered(5, 6));
    EXPECT_EQ(canvas.at(4, 0), TestCanvas::kUntouched);  // the spare pixels of a row
}

TEST(QelStills, DrawRefusesWhatItCannotLayOut) {
    std::vector<BYTE> record = numberedRecord(4, 2);
    std::vector<BYTE> grey = makeRecord(4, 2, 8);
    TestCanvas canvas(10, 6);
    QelCanvas view = canvas.view();
    QelCanvas narrow{canvas.pixels.data(), 10, 6, 36};
    QelCanvas noPixels{nullptr, 10, 6, 48};
    EXPECT_EQ(QEL_Draw(headerOf(grey), &view), 0);
    EXPECT_EQ(QEL_Draw(headerOf(record), &narrow), 0);
    EXPECT_EQ(QEL_Draw(headerOf(record), &noPixels), 0);
    EXPECT_EQ(QEL_Draw(headerOf(record), nullptr), 0);
    EXPECT_EQ(QEL_Draw(nullptr, &view), 0);
    headerOf(record)->biHeight = -2;  // top-down records are not drawn
    EXPECT_EQ(QEL_Draw(headerOf(record), &view), 0);
    EXPECT_EQ(std::count(canvas.pixels.begin(), canvas.pixels.end(), TestCanvas::kUntouched),
              long(canvas.pixels.size()));
}

TEST(QelApi, ObjectIsSharedCountedAndBoundByItsWindowsName) {
    platform::LibraryError error;
    HMODULE library = platform::loadLibrary("qel.dll", &error);
    ASSERT_NE(library, nullptr) << error.text;
    auto version = reinterpret_cast<DWORD (*)()>(platform::librarySymbol(library, "DLLGetApiVer"));
    auto getApi = reinterpret_cast<IQelApi* (*)()>(platform::librarySymbol(library, "DLLGetApi"));
    ASSERT_NE(version, nullptr);
    ASSERT_NE(getApi, nullptr);
    EXPECT_EQ(version(), 1u);
    IQelApi* first = getApi();
    IQelApi* second = getApi();
    ASSERT_EQ(first, second);
    EXPECT_EQ(first->GetVersion(), 0x01000001u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);  // destroyed
    IQelApi* fresh = getApi();
    ASSERT_NE(fresh, nullptr);
    // Slots forward to the exports.
    BITMAPINFOHEADER info{};
    char* text = nullptr;
    EXPECT_EQ(fresh->GetJPGInfo((home() / "none.jpg").c_str(), &info, &text), 0);
    EXPECT_NE(text, nullptr);
    EXPECT_EQ(fresh->Release(), 0u);
    platform::freeLibrary(library);
}
