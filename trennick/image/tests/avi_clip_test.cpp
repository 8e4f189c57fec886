// The AVI clip reader and the animation control: clips of each kind it plays
// (8-bit and 24-bit frames as they stand, 8-bit run-length frames drawn over
// the frame before) give their frames and period; a damaged or foreign file is
// refused whole; the control runs the frames on its timer and stops.

#include "trennick/image/animate_ctrl.h"
#include "trennick/image/avi_clip.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void put32(std::vector<BYTE>& out, DWORD v) {
    for (int i = 0; i < 4; ++i) out.push_back(BYTE(v >> (8 * i)));
}
void put16(std::vector<BYTE>& out, WORD v) {
    out.push_back(BYTE(v));
    out.push_back(BYTE(v >> 8));
}
void tag(std::vector<BYTE>& out, const char* t) { out.insert(out.end(), t, t + 4); }
std::vector<BYTE> chunk(const char* t, const std::vector<BYTE>& data) {
    std::vector<BYTE> out;
    tag(out, t);
    put32(out, DWORD(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) out.push_back(0);
    return out;
}
std::vector<BYTE> list(const char* kind, const std::vector<BYTE>& body) {
    std::vector<BYTE> data;
    tag(data, kind);
    data.insert(data.end(), body.begin(), body.end());
    return chunk("LIST", data);
}
std::vector<BYTE> operator+(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A clip of the given frames' bytes as they stand in the file.
struct ClipSpec {
    int width = 8, height = 4, bitCount = 8;
    DWORD compression = 0;
    std::vector<QRgb> palette = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    std::vector<std::vector<BYTE>> frames;
    DWORD microSeconds = 125000;
};

std::vector<BYTE> writeClip(const ClipSpec& c) {
    std::vector<BYTE> avih;
    for (DWORD v : {c.microSeconds, DWORD(0), DWORD(0), DWORD(0x10), DWORD(c.frames.size()), DWORD(0), DWORD(1),
                    DWORD(0), DWORD(c.width), DWORD(c.height), DWORD(0), DWORD(0), DWORD(0), DWORD(0)}) {
        put32(avih, v);
    }
    std::vector<BYTE> strh;
    tag(strh, "vids");
    tag(strh, c.compression == 1 ? "mrle" : "DIB ");
    for (int i = 0; i < 12; ++i) put32(strh, 0);
    std::vector<BYTE> strf;
    put32(strf, 40);
    put32(strf, DWORD(c.width));
    put32(strf, DWORD(c.height));
    put16(strf, 1);
    put16(strf, WORD(c.bitCount));
    put32(strf, c.compression);
    put32(strf, 0);
    put32(strf, 0);
    put32(strf, 0);
    put32(strf, c.bitCount == 8 ? DWORD(c.palette.size()) : 0);
    put32(strf, 0);
    if (c.bitCount == 8) {
        for (QRgb rgb : c.palette) {
            strf.push_back(BYTE(qBlue(rgb)));
            strf.push_back(BYTE(qGreen(rgb)));
            strf.push_back(BYTE(qRed(rgb)));
            strf.push_back(0);
        }
    }
    std::vector<BYTE> movi;
    for (const auto& f : c.frames) movi = movi + chunk(c.compression == 1 ? "00dc" : "00db", f);
    std::vector<BYTE> body;
    tag(body, "AVI ");
    body = body + list("hdrl", chunk("avih", avih) + list("strl", chunk("strh", strh) + chunk("strf", strf))) +
           list("movi", movi);
    std::vector<BYTE> file;
    tag(file, "RIFF");
    put32(file, DWORD(body.size()));
    return file + body;
}

// An uncompressed 8-bit frame (rows bottom-up, 4-byte padded) of one index.
std::vector<BYTE> flatFrame(const ClipSpec& c, BYTE index) {
    const std::size_t stride = (std::size_t(c.width) * 8 + 31) / 32 * 4;
    return std::vector<BYTE>(stride * std::size_t(c.height), index);
}

}  // namespace

TEST(AviClip, UncompressedFramesGiveTheirPicturesAndPeriod) {
    ClipSpec c;
    c.frames = {flatFrame(c, 1), flatFrame(c, 2), flatFrame(c, 3)};
    CAviClip clip;
    std::string why;
    ASSERT_TRUE(clip.Load(writeClip(c), &why)) << why;
    EXPECT_EQ(clip.FrameCount(), 3);
    EXPECT_EQ(clip.Size(), QSize(8, 4));
    EXPECT_EQ(clip.FramePeriodMs(), 125u);
    EXPECT_EQ(clip.Frame(0).pixel(3, 2), qRgb(255, 0, 0));
    EXPECT_EQ(clip.Frame(2).pixel(7, 0), qRgb(0, 0, 255));
    EXPECT_TRUE(clip.Frame(3).isNull());
    EXPECT_TRUE(clip.Frame(-1).isNull());

    // 24 bits: blue, green, red a pixel; the bottom row first.
    ClipSpec deep;
    deep.bitCount = 24;
    deep.width = 2;
    deep.height = 2;
    deep.frames = {{0, 0, 255, 0, 255, 0, 0, 0, /*top row*/ 255, 0, 0, 255, 255, 255, 0, 0}};
    ASSERT_TRUE(clip.Load(writeClip(deep), &why)) << why;
    EXPECT_EQ(clip.Frame(0).pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(clip.Frame(0).pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(clip.Frame(0).pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(clip.Frame(0).pixel(1, 0), qRgb(255, 255, 255));
}

TEST(AviClip, RunLengthFramesAreDrawnOverTheFrameBefore) {
    ClipSpec c;
    c.compression = 1;
    // Frame 0: the whole picture index 1, row by row (bottom row first).
    std::vector<BYTE> first;
    for (int y = 0; y < c.height; ++y) first = first + std::vector<BYTE>{8, 1, 0, 0};
    first = first + std::vector<BYTE>{0, 1};
    // Frame 1: move 2 right and 1 up, then three pixels as they stand
    // (padded), the rest untouched.
    const std::vector<BYTE> second = {0, 2, 2, 1, 0, 3, 2, 3, 2, 0, 0, 1};
    c.frames = {first, second};
    CAviClip clip;
    std::string why;
    ASSERT_TRUE(clip.Load(writeClip(c), &why)) << why;
    ASSERT_EQ(clip.FrameCount(), 2);
    const QImage later = clip.Frame(1);
    // Row 1 from the bottom is row 2 from the top.
    EXPECT_EQ(later.pixel(2, 2), qRgb(0, 255, 0));
    EXPECT_EQ(later.pixel(3, 2), qRgb(0, 0, 255));
    EXPECT_EQ(later.pixel(4, 2), qRgb(0, 255, 0));
    EXPECT_EQ(later.pixel(5, 2), qRgb(255, 0, 0)) << "untouched pixels keep the frame before";
    EXPECT_EQ(later.pixel(0, 3), qRgb(255, 0, 0));
}

TEST(AviClip, DamagedOrForeignFilesAreRefusedWhole) {
    ClipSpec good;
    good.frames = {flatFrame(good, 1)};
    const std::vector<BYTE> file = writeClip(good);
    auto withFrame = [&](const std::vector<BYTE>& frame, DWORD compression) {
        ClipSpec c = good;
        c.compression = compression;
        c.frames = {frame};
        return writeClip(c);
    };
    auto patched = [&](std::size_t at, DWORD value) {
        std::vector<BYTE> f = file;
        for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = BYTE(value >> (8 * i));
        return f;
    };
    // Where the width and the first list's length lie in the file written above.
    const std::size_t strf = std::size_t(std::search(file.begin(), file.end(), "strf", "strf" + 4) - file.begin()) + 8;
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
    };
    std::vector<BYTE> wave = file;
    std::memcpy(wave.data() + 8, "WAVE", 4);
    ClipSpec noFrames = good;
    noFrames.frames.clear();
    ClipSpec sixteen = good;
    sixteen.bitCount = 16;
    const std::vector<Case> cases = {
        {"empty", {}},
        {"a wave file", wave},
        {"cut in the middle", std::vector<BYTE>(file.begin(), file.begin() + std::ptrdiff_t(file.size() / 2))},
        {"a list longer than the file", patched(16, 0x7FFFFFF0)},
        {"a picture wider than the limit", patched(strf + 4, 5000)},
        {"a picture of no width", patched(strf + 4, 0)},
        {"a negative height", patched(strf + 8, 0xFFFFFFFC)},
        {"more colours than a palette holds", patched(strf + 32, 300)},
        {"a frame shorter than its picture", withFrame(std::vector<BYTE>(5, 1), 0)},
        {"a run past the row", withFrame({9, 1, 0, 1}, 1)},
        {"a literal run past the data", withFrame({0, 6, 1, 2}, 1)},
        {"a move past the picture", withFrame({0, 2, 0, 9, 1, 1}, 1)},
        {"rows past the picture", withFrame({8, 1, 0, 0, 8, 1, 0, 0, 8, 1, 0, 0, 8, 1, 0, 0, 8, 1, 0, 1}, 1)},
        {"no frames", writeClip(noFrames)},
        {"16-bit frames", writeClip(sixteen)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAviClip clip;
        ASSERT_TRUE(clip.Load(file)) << "the good clip";
        std::string why;
        EXPECT_FALSE(clip.Load(c.bytes, &why));
        EXPECT_FALSE(why.empty());
        EXPECT_FALSE(clip.IsOpen()) << "nothing of the clip before is kept";
    }
}

TEST(AnimateCtrl, PlaysTheClipOnItsTimerAndStops) {
    ClipSpec c;
    c.microSeconds = 20000;
    c.frames = {flatFrame(c, 1), flatFrame(c, 2), flatFrame(c, 3)};
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("clip-" + std::to_string(QCoreApplication::applicationPid()) + ".avi");
    {
        const std::vector<BYTE> bytes = writeClip(c);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    CAnimateCtrl control;
    control.setText("no clip");
    std::string why;
    EXPECT_FALSE(control.Open((path.string() + ".missing"), &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(control.Play(0, -1, -1)) << "nothing to play";
    ASSERT_TRUE(control.Open(path.string(), &why)) << why;
    EXPECT_FALSE(control.Play(2, 1, -1)) << "from after to";
    EXPECT_FALSE(control.Play(0, 3, -1)) << "past the last frame";
    // Twice through frames 1 and 2, then it holds the last.
    ASSERT_TRUE(control.Play(1, 2, 2));
    EXPECT_EQ(control.CurrentFrame(), 1);
    QElapsedTimer guard;
    guard.start();
    while (control.IsPlaying() && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(control.IsPlaying());
    EXPECT_EQ(control.CurrentFrame(), 2);
    EXPECT_EQ(control.FramesShown(), 1u + 4u) << "opening shows frame 0, then 1 2 1 2";
    // For ever until stopped.
    ASSERT_TRUE(control.Play(0, -1, -1));
    guard.restart();
    while (control.FramesShown() < 15 && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_GE(control.FramesShown(), 15u);
    control.Stop();
    const int held = control.CurrentFrame();
    const DWORD shown = control.FramesShown();
    guard.restart();
    while (guard.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(control.FramesShown(), shown);
    EXPECT_EQ(control.CurrentFrame(), held);
    EXPECT_TRUE(control.text().isEmpty()) << "the clip shows, not the text";
    control.Close();
    EXPECT_FALSE(control.IsOpen());
    EXPECT_EQ(control.text(), QString("no clip"));
    std::filesystem::remove(path);
}
