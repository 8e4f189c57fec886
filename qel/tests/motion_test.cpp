#include "qel/qel.h"
#include "qel/tests/qel_test_support.h"

#include <climits>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using namespace qeltest;

namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;

// Opens the library on a context of the given mode; closes it at the end.
struct Motion {
    explicit Motion(int mode) {
        context.mode = mode;
        EXPECT_EQ(QEL_open_lib(&context), 1);
    }
    ~Motion() { QEL_close_lib(&context); }
    QelMotionContext context{};
};

// Every changed MCU of a frame, in the order the comparison finds them.
std::vector<int> changedMcus(QelMotionContext* context, const std::vector<BYTE>& jpeg) {
    std::vector<int> found;
    EXPECT_EQ(QEL_open_image(context, jpeg.data(), DWORD(jpeg.size())), 1);
    int mcu = -1;
    bool advance = true;
    for (;;) {
        if (QEL_compare(context, &mcu, advance ? 1 : 0) != 1) {
            ADD_FAILURE() << "compare failed";
            break;
        }
        advance = false;
        if (mcu < 0) {
            break;
        }
        found.push_back(mcu);
    }
    QEL_close_image(context);
    return found;
}

// The MCUs (16x16 with the encoder's defaults) a square at (x, y) of size 16 touches.
std::set<int> mcusOfSquare(int x, int y, int columns) {
    std::set<int> out;
    for (int yy = y; yy < y + 16; yy += 1) {
        for (int xx = x; xx < x + 16; xx += 1) {
            out.insert((yy / 16) * columns + xx / 16);
        }
    }
    return out;
}

std::vector<BYTE> gRendered;  // top-down RGB rows of the last scan

void collectRow(const BYTE* samples, int width, int rowNumber) {
    const std::size_t stride = std::size_t(width) * 3;
    if (gRendered.size() < stride * kHeight) {
        gRendered.assign(stride * kHeight, 0);
    }
    const int top = kHeight - rowNumber;  // the first row has the number of the height
    if (top >= 0 && top < kHeight) {
        std::memcpy(gRendered.data() + std::size_t(top) * stride, samples, stride);
    }
}

// Top-down RGB of a JPEG decoded by the stills half, for comparison.
std::vector<BYTE> topDownRgb(const std::vector<BYTE>& jpeg) {
    std::vector<BYTE> source = jpegRecord(jpeg, kWidth, kHeight);
    std::vector<BYTE> target = makeRecord(kWidth, kHeight);
    char* text = nullptr;
    EXPECT_EQ(QEL_Decompress(headerOf(source), headerOf(target), &text), 1);
    std::vector<BYTE> out(std::size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        const BYTE* from = pixelsOf(target) + std::size_t(kHeight - 1 - y) * kWidth * 3;
        BYTE* to = out.data() + std::size_t(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    return out;
}

}  // namespace

TEST(QelMotion, FindsTheMovedBlockAndIgnoresAnUnchangedFrame) {
    const std::vector<BYTE> before = compress(scene(kWidth, kHeight, 32, 32));
    const std::vector<BYTE> after = compress(scene(kWidth, kHeight, 96, 64));
    for (int depth : {0, 6}) {
        SCOPED_TRACE(depth);
        Motion m(0);
        ASSERT_EQ(QEL_set_history(&m.context, 2), 1);
        ASSERT_EQ(QEL_set_depth(&m.context, depth), 1);
        changedMcus(&m.context, before);  // against the empty history
        EXPECT_EQ(m.context.mcuColumns, 11);
        EXPECT_EQ(m.context.mcuCount, 99);

        const std::vector<int> same = changedMcus(&m.context, before);
        EXPECT_TRUE(same.empty());
        EXPECT_EQ(m.context.statistics[2], 0);

        const std::vector<int> moved = changedMcus(&m.context, after);
        ASSERT_FALSE(moved.empty());
        std::set<int> expected = mcusOfSquare(32, 32, 11);
        const std::set<int> to = mcusOfSquare(96, 64, 11);
        expected.insert(to.begin(), to.end());
        for (int mcu : moved) {
            EXPECT_TRUE(expected.count(mcu)) << "MCU " << mcu << " did not change";
        }
        EXPECT_TRUE(std::is_sorted(moved.begin(), moved.end()));
        EXPECT_EQ(m.context.statistics[2], int(moved.size()));
        // Both squares' MCUs are found: the old place and the new.
        EXPECT_TRUE(std::count(moved.begin(), moved.end(), 2 * 11 + 2));
        EXPECT_TRUE(std::count(moved.begin(), moved.end(), 4 * 11 + 6));
    }
}

TEST(QelMotion, OneEntryHistoryAndAnEmptyRegionFindNothing) {
    const std::vector<BYTE> a = compress(scene(kWidth, kHeight, 32, 32));
    const std::vector<BYTE> b = compress(scene(kWidth, kHeight, 96, 64));
    {
        Motion m(0);
        ASSERT_EQ(QEL_set_history(&m.context, 1), 1);
        changedMcus(&m.context, a);
        EXPECT_TRUE(changedMcus(&m.context, b).empty());  // compares the frame with itself
    }
    {
        Motion m(0);
        ASSERT_EQ(QEL_set_history(&m.context, 2), 1);
        std::vector<BYTE> none(((kWidth / 8) * (kHeight / 8) + 7) / 8, 0);
        ASSERT_EQ(QEL_set_roi(&m.context, none.data(), int(none.size())), 1);
        changedMcus(&m.context, a);
        EXPECT_TRUE(changedMcus(&m.context, b).empty());
        // The luminance blocks are still counted.
        EXPECT_NE(m.context.statistics[4], INT32_MIN);
        EXPECT_NE(m.context.statistics[5], INT32_MAX);
        EXPECT_EQ(m.context.statistics[3], 0);
    }
}

TEST(QelMotion, CorruptFramesFailWithoutEndingTheProcess) {
    const std::vector<BYTE> good = compress(scene(kWidth, kHeight, 32, 32));
    Motion m(0);
    ASSERT_EQ(QEL_set_history(&m.context, 2), 1);
    const std::vector<BYTE> garbage(300, 0x5A);
    EXPECT_EQ(QEL_open_image(&m.context, garbage.data(), DWORD(garbage.size())), 0);
    EXPECT_EQ(QEL_is_image_open(&m.context), 0);
    // A frame cut in its data opens (the headers are whole) but cannot be compared.
    const std::vector<BYTE> cut(good.begin(), good.begin() + long(good.size() / 2));
    ASSERT_EQ(QEL_open_image(&m.context, cut.data(), DWORD(cut.size())), 1);
    int mcu = 7;
    EXPECT_EQ(QEL_compare(&m.context, &mcu, 1), 0);
    EXPECT_EQ(mcu, -1);
    EXPECT_EQ(QEL_close_image(&m.context), 1);
    // The context still works.
    EXPECT_TRUE(changedMcus(&m.context, good).size() > 0);
}

TEST(QelMotion, DeltaBitmapSizesAndEmptyDeltas) {
    struct Case { int width, height, bitmapBytes; };
    for (const Case c : {Case{352, 288, 50}, Case{320, 320, 51}}) {
        SCOPED_TRACE(c.width);
        const std::vector<BYTE> jpeg = compress(scene(c.width, c.height, 0, 0), 50);
        Motion m(0);
        ASSERT_EQ(QEL_open_image(&m.context, jpeg.data(), DWORD(jpeg.size())), 1);
        std::vector<BYTE> message(4096);
        DWORD length = 0;
        ASSERT_EQ(QEL_build_message(&m.context, kQelDelta, -1, message.data(), &length,
                                    DWORD(message.size()), -1), 1);
        DWORD offset = 0;
        std::memcpy(&offset, message.data() + 4, 4);
        EXPECT_EQ(offset, 16u + DWORD(c.bitmapBytes));
        EXPECT_GT(length, offset);

        Motion r(1);
        ASSERT_EQ(QEL_open_image(&r.context, jpeg.data(), DWORD(jpeg.size())), 1);
        ASSERT_EQ(QEL_start_scan_image(&r.context), 1);
        // A message that ends where its JPEG part would start changes nothing.
        EXPECT_EQ(QEL_decode_message(&r.context, message.data(), offset), 1);
        // A delta without MCUs decodes too.
        EXPECT_EQ(QEL_decode_message(&r.context, message.data(), length), 1);
    }
}

TEST(QelMotion, KeyFrameAndDeltaRebuildTheNewPicture) {
    const std::vector<BYTE> before = compress(scene(kWidth, kHeight, 32, 32), 85);
    const std::vector<BYTE> after = compress(scene(kWidth, kHeight, 96, 64), 85);

    Motion sender(0);
    ASSERT_EQ(QEL_set_history(&sender.context, 2), 1);
    ASSERT_EQ(QEL_open_image(&sender.context, before.data(), DWORD(before.size())), 1);
    ASSERT_EQ(QEL_start_coef(&sender.context), 1);
    std::vector<BYTE> key(before.size() + 64);
    DWORD keyLength = 0;
    ASSERT_EQ(QEL_build_message(&sender.context, kQelKeyFrame, 0, key.data(), &keyLength,
                                DWORD(key.size()), -1), 1);
    EXPECT_EQ(keyLength, 16 + before.size());
    ASSERT_EQ(QEL_close_image(&sender.context), 1);

    ASSERT_EQ(QEL_open_image(&sender.context, after.data(), DWORD(after.size())), 1);
    std::vector<BYTE> delta(64 * 1024);
    DWORD deltaLength = 0;
    ASSERT_EQ(QEL_build_message(&sender.context, kQelDelta, -1, delta.data(), &deltaLength,
                                DWORD(delta.size()), -1), 1);
    int mcu = -1;
    int count = 0;
    for (int advance = 1;; advance = 0) {
        ASSERT_EQ(QEL_compare(&sender.context, &mcu, advance), 1);
        if (mcu < 0) {
            break;
        }
        ASSERT_EQ(QEL_build_message(&sender.context, kQelDelta, mcu, delta.data(), &deltaLength,
                                    DWORD(delta.size()), -1), 1);
        ++count;
    }
    ASSERT_GT(count, 0);
    // An MCU other than the one just compared is refused.
    EXPECT_EQ(QEL_build_message(&sender.context, kQelDelta, 0, delta.data(), &deltaLength,
                                DWORD(delta.size()), -1), 0);
    QEL_close_image(&sender.context);
    uint32_t keySequence = 0, deltaSequence = 0;
    std::memcpy(&keySequence, key.data(), 4);
    std::memcpy(&deltaSequence, delta.data(), 4);
    EXPECT_EQ(keySequence, 1u);
    EXPECT_EQ(deltaSequence, keySequence);

    Motion receiver(1);
    ASSERT_EQ(QEL_set_DrawLine(&receiver.context, collectRow), 1);
    DWORD keyOffset = 0;
    std::memcpy(&keyOffset, key.data() + 4, 4);
    ASSERT_EQ(QEL_open_image(&receiver.context, key.data() + keyOffset, keyLength - keyOffset), 1);
    ASSERT_EQ(QEL_start_scan_image(&receiver.context), 1);
    gRendered.clear();
    ASSERT_EQ(QEL_scan_image(&receiver.context), 1);
    const std::vector<BYTE> expectedBefore = topDownRgb(before);
    EXPECT_LT(meanAbsDifference(gRendered.data(), expectedBefore.data(), gRendered.size()), 1.0);

    ASSERT_EQ(QEL_decode_message(&receiver.context, delta.data(), deltaLength), 1);
    ASSERT_EQ(QEL_scan_image(&receiver.context), 1);
    const std::vector<BYTE> expectedAfter = topDownRgb(after);
    EXPECT_LT(meanAbsDifference(gRendered.data(), expectedAfter.data(), gRendered.size()), 2.0);
    // The square now sits at its new place (row 70, column 100): bright blue.
    const BYTE* pixel = gRendered.data() + (std::size_t(70) * kWidth + 100) * 3;
    EXPECT_GT(pixel[2], 200);
    EXPECT_LT(pixel[0], 80);
}

TEST(QelMotion, DeltaStepRefusedWhenTheRoomIsShort) {
    const std::vector<BYTE> a = compress(scene(kWidth, kHeight, 32, 32));
    const std::vector<BYTE> b = compress(scene(kWidth, kHeight, 96, 64));
    Motion m(0);
    ASSERT_EQ(QEL_set_history(&m.context, 2), 1);
    changedMcus(&m.context, a);
    ASSERT_EQ(QEL_open_image(&m.context, b.data(), DWORD(b.size())), 1);
    std::vector<BYTE> message(4096, 0xEE);
    DWORD length = 0;
    ASSERT_EQ(QEL_build_message(&m.context, kQelDelta, -1, message.data(), &length, 4096, -1), 1);
    const DWORD capacity = length + 3;  // far too little for an MCU
    int mcu = -1;
    ASSERT_EQ(QEL_compare(&m.context, &mcu, 1), 1);
    ASSERT_GE(mcu, 0);
    const DWORD before = length;
    EXPECT_EQ(QEL_build_message(&m.context, kQelDelta, mcu, message.data(), &length, capacity, -1), 0);
    EXPECT_EQ(length, before);
    for (std::size_t i = capacity; i < message.size(); ++i) {
        ASSERT_EQ(message[i], 0xEE);
    }
    // With room it goes through.
    EXPECT_EQ(QEL_build_message(&m.context, kQelDelta, mcu, message.data(), &length, 4096, -1), 1);
    EXPECT_GT(length, before);
}

TEST(QelMotion, EverythingFailsWhileTheLibraryIsClosed) {
    QelMotionContext context{};
    int mcu = 0;
    DWORD length = 0;
    BYTE message[64] = {};
    EXPECT_EQ(QEL_open_image(&context, message, sizeof message), 0);
    EXPECT_EQ(QEL_compare(&context, &mcu, 1), 0);
    EXPECT_EQ(QEL_set_delta(&context, 3), nullptr);
    EXPECT_EQ(QEL_build_message(&context, 0, 0, message, &length, sizeof message, -1), 0);
    EXPECT_EQ(QEL_close_lib(&context), 0);
    EXPECT_EQ(QEL_get_block_coef(&context, 1, 2, 3), 0);
}

TEST(QelMotion, QualityChangeEndsTheDeltaBeingBuilt) {
    const std::vector<BYTE> a = compress(scene(kWidth, kHeight, 32, 32));
    const std::vector<BYTE> b = compress(scene(kWidth, kHeight, 96, 64));
    Motion m(0);
    ASSERT_EQ(QEL_set_history(&m.context, 2), 1);
    changedMcus(&m.context, a);
    ASSERT_EQ(QEL_open_image(&m.context, b.data(), DWORD(b.size())), 1);
    std::vector<BYTE> message(8192);
    DWORD length = 0;
    ASSERT_EQ(QEL_build_message(&m.context, kQelDelta, -1, message.data(), &length, 8192, 50), 1);
    int mcu = -1;
    ASSERT_EQ(QEL_compare(&m.context, &mcu, 1), 1);
    ASSERT_GE(mcu, 0);
    EXPECT_EQ(QEL_set_quality(&m.context, 101), 0);
    ASSERT_EQ(QEL_set_quality(&m.context, 60), 1);
    EXPECT_EQ(QEL_build_message(&m.context, kQelDelta, mcu, message.data(), &length, 8192, -1), 0);
    // A fresh delta with the new quality carries its quantisation tables and works.
    ASSERT_EQ(QEL_build_message(&m.context, kQelDelta, -1, message.data(), &length, 8192, -1), 1);
    EXPECT_EQ(QEL_build_message(&m.context, kQelDelta, mcu, message.data(), &length, 8192, -1), 1);
}
