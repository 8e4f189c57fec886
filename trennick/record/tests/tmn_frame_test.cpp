// The H.263 frame builder joins the pieces of each picture, hands a picture
// on when the next one begins, and hands out the pending one on Flush.

#include "trennick/record/tmn_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// A piece of `length` bytes; one that opens a picture starts with 00 00 80.
Bytes piece(DWORD length, bool opens, BYTE fill) {
    Bytes b(length, fill);
    if (opens && length >= 3) {
        b[0] = 0;
        b[1] = 0;
        b[2] = 0x80;
    }
    return b;
}

TEST(TmnFrame, APictureIsHandedOnWhenTheNextBeginsAndThePendingOneOnFlush) {
    CTMNFrame frame;
    EXPECT_FALSE(frame.Flush()) << "nothing pending yet";
    const Bytes first = piece(300, true, 1), rest = piece(200, false, 2), second = piece(100, true, 3);
    EXPECT_FALSE(frame.BuildFrame(first.data(), DWORD(first.size()))) << "nothing before the first picture";
    EXPECT_FALSE(frame.BuildFrame(rest.data(), DWORD(rest.size())));
    ASSERT_TRUE(frame.BuildFrame(second.data(), DWORD(second.size())));
    ASSERT_EQ(frame.FrameSize(), 500u);
    EXPECT_EQ(Bytes(frame.Frame(), frame.Frame() + 300), first);
    EXPECT_EQ(Bytes(frame.Frame() + 300, frame.Frame() + 500), rest);
    EXPECT_EQ(frame.Collected(), 100u) << "the second picture stays in the collection";

    // The pending picture comes out whole on Flush, once.
    ASSERT_TRUE(frame.Flush());
    EXPECT_EQ(Bytes(frame.Frame(), frame.Frame() + frame.FrameSize()), second);
    EXPECT_EQ(frame.Collected(), 0u);
    EXPECT_FALSE(frame.Flush());
    // After a flush the next picture start completes nothing.
    EXPECT_FALSE(frame.BuildFrame(first.data(), DWORD(first.size())));
}

TEST(TmnFrame, APictureOfAtMostTheBufferStaysWholeOneByteMoreIsLost) {
    struct Case {
        DWORD tail;
        bool kept;
    };
    for (const Case c : {Case{CTMNFrame::MAX_TMN_FRAME_SIZE - 40000, true},
                         Case{CTMNFrame::MAX_TMN_FRAME_SIZE - 40000 + 1, false}}) {
        SCOPED_TRACE(c.tail);
        CTMNFrame frame;
        const Bytes head = piece(40000, true, 1), tail = piece(c.tail, false, 2), next = piece(10, true, 3);
        frame.BuildFrame(head.data(), DWORD(head.size()));
        frame.BuildFrame(tail.data(), DWORD(tail.size()));
        EXPECT_EQ(frame.Collected(), c.kept ? CTMNFrame::MAX_TMN_FRAME_SIZE : 0u);
        EXPECT_EQ(frame.BuildFrame(next.data(), DWORD(next.size())) != FALSE, c.kept);
        EXPECT_EQ(frame.FrameSize(), c.kept ? CTMNFrame::MAX_TMN_FRAME_SIZE : 0u);
    }
    // A single piece past the buffer is refused, even one that opens a picture.
    CTMNFrame frame;
    const Bytes start = piece(100, true, 5);
    frame.BuildFrame(start.data(), DWORD(start.size()));
    const Bytes huge = piece(CTMNFrame::MAX_TMN_FRAME_SIZE + 1, true, 4);
    EXPECT_FALSE(frame.BuildFrame(huge.data(), DWORD(huge.size())));
    EXPECT_EQ(frame.Collected(), 0u);
    EXPECT_FALSE(frame.Flush()) << "the picture before it went with the reset";
}

}  // namespace
