// The pipeline's parts without a window: the key-frame wait of each stream
// kind, and the block-transform decoder's walk over a frame's chunks.

#include "tools/site/block_encoder.h"
#include "tools/site/test_pattern.h"
#include "trennick/video/pipeline/block_stream_decoder.h"
#include "trennick/video/pipeline/key_frame_gate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;

TEST(KeyFrameGate, RefusesFramesUntilAKeyFrameOfTheStreamsKind) {
    const Bytes h263Inter = {0x00, 0x00, 0x80, 0x02, 0x0A, 0x00, 0x00};  // PTYPE coding bit set
    const Bytes h263Intra = {0x00, 0x00, 0x80, 0x02, 0x08, 0x00, 0x00};
    const Bytes blockFrame = {0x01, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x1E, 0x00};
    const Bytes blockKey = {0x01, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x1F, 0x00};
    struct Case {
        const char* what;
        WORD version;
        std::vector<Bytes> frames;
        std::vector<bool> admitted;
    };
    const Case cases[] = {
        {"H.263: inter frames wait for the intra picture", 2, {h263Inter, h263Intra, h263Inter},
         {false, true, true}},
        {"H.263: a block key frame is no H.263 key frame", 2, {blockKey, h263Intra}, {false, true}},
        {"blocks: ordinary frames wait for the marked one", 1, {blockFrame, h263Intra, blockKey, blockFrame},
         {false, false, true, true}},
        {"blocks: a frame too short for the mark waits", 1, {Bytes(6, 0x1F), blockKey}, {false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KeyFrameGate gate;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            VideoFrame frame;
            frame.data = c.frames[i];
            EXPECT_EQ(gate.admit(frame, c.version), c.admitted[i]) << "frame " << i;
            if (c.version != 2 && c.frames[i] == blockKey) {
                EXPECT_EQ(frame.data[6], 0x1E) << "the key mark becomes an ordinary frame's";
            }
        }
        EXPECT_FALSE(gate.waiting());
        gate.rearm();
        EXPECT_TRUE(gate.waiting());
    }
}

// The offsets of the chunks of a block-transform frame.
std::vector<std::size_t> chunkStarts(const Bytes& frame) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at + 3 <= frame.size();) {
        starts.push_back(at);
        at += (std::size_t(frame[at + 1]) << 8) | frame[at + 2];
    }
    return starts;
}

TEST(BlockStreamDecoder, WalksTheChunksAndStopsAtALengthThatCannotBeRight) {
    site::BlockEncoder encoder;
    const Bytes key = encoder.encode(site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), 0, 0)),
                                     true, 15353);
    const std::vector<std::size_t> starts = chunkStarts(key);
    ASSERT_GE(starts.size(), 3u);
    const std::size_t last = starts.back();
    struct Case {
        const char* what;
        int lastLength;  // -1: as coded
        bool painted;
    };
    const Case cases[] = {
        {"whole frame", -1, true},
        {"last chunk runs past the end", int(key.size() - last) + 1, false},
        {"zero length", 0, false},
        {"shorter than its own head", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes frame = key;
        if (c.lastLength >= 0) {
            frame[last + 1] = BYTE(c.lastLength >> 8);
            frame[last + 2] = BYTE(c.lastLength);
        }
        const int width = site::kBlockStreamWidth;
        const int height = site::kBlockStreamHeight;
        Bytes picture(sizeof(BITMAPINFOHEADER) + std::size_t(width) * std::size_t(height) * 3, 0);
        BITMAPINFOHEADER header{40, width, height, 1, 24, 0, 0, 0, 0, 0, 0};
        std::memcpy(picture.data(), &header, sizeof header);
        BYTE* bits = picture.data() + sizeof header;
        BlockStreamDecoder decoder;
        ASSERT_TRUE(decoder.open());
        decoder.describeOutput(picture.data(), false);
        int formatChanges = 0;
        EXPECT_EQ(decoder.decodeFrame(frame.data(), DWORD(frame.size()), bits, [&] { ++formatChanges; }), c.painted);
        EXPECT_EQ(formatChanges, 1) << "the first chunk gives the stream's size";
        EXPECT_EQ(decoder.streamWidth(), width);
        EXPECT_EQ(decoder.streamHeight(), height);
        unsigned long long sum = 0;
        for (std::size_t i = sizeof header; i < picture.size(); ++i) sum += picture[i];
        EXPECT_EQ(sum > 0, c.painted) << "only a finished frame paints";
    }
    BlockStreamDecoder closed;
    Bytes bits(16);
    EXPECT_FALSE(closed.decodeFrame(key.data(), DWORD(key.size()), bits.data(), {}));
}

}  // namespace
