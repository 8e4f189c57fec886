#pragma once
// The block-transform video encoder of the stand-in site: turns pictures into
// frames of block packets, the stream that the block-transform decoder
// (kcexpand) reads. A frame is a run of packets (chunks), each beginning with
// its kind (1) and its 16-bit big-endian length; the last one of a picture
// carries the last-packet flag. Every block is intra-coded (DC and, when the
// picture needs it, AC levels in escape codes); a key frame codes every block,
// a delta frame only the blocks that changed since they were last sent, so
// the decoder keeps the rest. The quantiser rises until the frame fits the
// caller's limit.
//
// One thread at a time; nothing throws.

#include "tools/site/test_pattern.h"

#include <cstdint>
#include <vector>

namespace site {

// The picture size of the block stream: 40 x 30 luma blocks.
inline constexpr int kBlockStreamWidth = 320;
inline constexpr int kBlockStreamHeight = 240;

class BlockEncoder {
public:
    // width and height: multiples of 16, at most 352 x 288.
    BlockEncoder(int width = kBlockStreamWidth, int height = kBlockStreamHeight);

    int width() const { return m_width; }
    int height() const { return m_height; }

    // One frame of at most maxFrameBytes, or empty when even the coarsest
    // quantiser cannot make it fit (the picture is then not taken as sent).
    // A picture of another size is refused (empty).
    std::vector<std::uint8_t> encode(const YuvPicture& picture, bool keyFrame, std::size_t maxFrameBytes);

    // The quantiser of the last frame made.
    int lastQuantiser() const { return m_lastQuantiser; }
    // Blocks coded in the last frame made.
    int lastCodedBlocks() const { return m_lastCoded; }

    // Largest packet the encoder makes (a frame of several packets exercises
    // the receiver's chunk loop).
    static constexpr std::size_t kMaxPacketBytes = 4096;

private:
    struct Block {
        std::int16_t pixels[64];
    };
    void gatherBlocks(const YuvPicture& picture, std::vector<Block>& out) const;
    std::vector<std::uint8_t> encodeWith(const std::vector<Block>& blocks, const std::vector<bool>& code, int quant,
                                         int& coded) const;

    int m_width;
    int m_height;
    int m_lastQuantiser = 0;
    int m_lastCoded = 0;
    std::vector<Block> m_sent;   // the source of each block as it was last coded
    bool m_haveSent = false;
};

}  // namespace site
