#include "tools/site/block_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace site {

namespace {

constexpr std::uint8_t kFlagLastPacket = 4;
constexpr std::size_t kPacketHeaderBytes = 11;

// The zig-zag order of the 8 x 8 coefficients.
constexpr std::array<int, 64> kZigZag = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct CosineTable {
    double c[8][8];
    CosineTable() {
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u) {
            for (int x = 0; x < 8; ++x) {
                c[u][x] = (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * pi / 16.0) / 2.0;
            }
        }
    }
};
const CosineTable kCos;

// The 8 x 8 forward transform, scaled so that the DC coefficient is eight
// times the block's mean (as the decoder's inverse transform expects).
void forwardDct(const std::int16_t (&in)[64], double (&out)[64]) {
    double rows[64];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int x = 0; x < 8; ++x) s += kCos.c[u][x] * in[y * 8 + x];
            rows[y * 8 + u] = s;
        }
    }
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            double s = 0;
            for (int y = 0; y < 8; ++y) s += kCos.c[v][y] * rows[y * 8 + u];
            out[v * 8 + u] = s;
        }
    }
}

class BitWriter {
public:
    void put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (m_used % 8 == 0) m_bytes.push_back(0);
            if ((value >> i) & 1u) m_bytes.back() |= std::uint8_t(0x80u >> (m_used % 8));
            ++m_used;
        }
    }
    std::size_t bytes() const { return m_bytes.size(); }
    std::vector<std::uint8_t>& data() { return m_bytes; }
    void clear() {
        m_bytes.clear();
        m_used = 0;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_used = 0;
};

// One block's bits: coded, DC only or with AC, INTRADC, the AC levels in escape codes.
void writeBlock(BitWriter& bits, const std::int16_t (&pixels)[64], int quant) {
    double coefficients[64];
    forwardDct(pixels, coefficients);
    int dc = int(std::lround(coefficients[0] / 8.0));
    dc = std::clamp(dc, 1, 254);
    int levels[64] = {};
    int last = -1;
    for (int i = 1; i < 64; ++i) {
        const double c = coefficients[kZigZag[std::size_t(i)]];
        int level = int(std::fabs(c) / (2.0 * quant));
        level = std::min(level, 127);
        if (level != 0) {
            levels[i] = c < 0 ? -level : level;
            last = i;
        }
    }
    bits.put(0, 1);                  // coded
    bits.put(last < 0 ? 1 : 0, 1);   // DC only
    bits.put(dc == 128 ? 255u : std::uint32_t(dc), 8);
    int run = 0;
    for (int i = 1; i <= last; ++i) {
        if (levels[i] == 0) {
            ++run;
            continue;
        }
        bits.put(0x3, 7);  // ESCAPE
        bits.put(i == last ? 1 : 0, 1);
        bits.put(std::uint32_t(run), 6);
        bits.put(std::uint32_t(levels[i]) & 0xFFu, 8);
        run = 0;
    }
}

void appendPacket(std::vector<std::uint8_t>& frame, const std::vector<std::uint8_t>& payload, std::uint8_t flags,
                  int quant, int wBlocks, int hBlocks, int first, int count) {
    const std::size_t length = payload.size() + kPacketHeaderBytes;
    const std::uint8_t head[kPacketHeaderBytes] = {1,
                                                   std::uint8_t(length >> 8),
                                                   std::uint8_t(length),
                                                   flags,
                                                   std::uint8_t(quant),
                                                   std::uint8_t(wBlocks),
                                                   std::uint8_t(hBlocks),
                                                   std::uint8_t(first >> 8),
                                                   std::uint8_t(first),
                                                   std::uint8_t(count >> 8),
                                                   std::uint8_t(count)};
    frame.insert(frame.end(), head, head + kPacketHeaderBytes);
    frame.insert(frame.end(), payload.begin(), payload.end());
}

}  // namespace

BlockEncoder::BlockEncoder(int width, int height)
    : m_width(std::clamp(width / 16 * 16, 16, 352)), m_height(std::clamp(height / 16 * 16, 16, 288)) {}

// Blocks in the decoder's storage order: the four luma blocks of each
// macroblock (top-left, top-right, bottom-left, bottom-right) in raster order
// of macroblocks, then one Cb and one Cr block per macroblock.
void BlockEncoder::gatherBlocks(const YuvPicture& picture, std::vector<Block>& out) const {
    const int mbw = m_width / 16, mbh = m_height / 16;
    out.assign(std::size_t(mbw * mbh * 6), Block{});
    std::size_t index = 0;
    auto take = [&](const std::vector<std::uint8_t>& plane, int stride, int x0, int y0) {
        Block& b = out[index++];
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) b.pixels[y * 8 + x] = plane[std::size_t(y0 + y) * std::size_t(stride) + std::size_t(x0 + x)];
        }
    };
    for (int my = 0; my < mbh; ++my) {
        for (int mx = 0; mx < mbw; ++mx) {
            take(picture.y, picture.width, mx * 16, my * 16);
            take(picture.y, picture.width, mx * 16 + 8, my * 16);
            take(picture.y, picture.width, mx * 16, my * 16 + 8);
            take(picture.y, picture.width, mx * 16 + 8, my * 16 + 8);
        }
    }
    for (const auto* plane : {&picture.u, &picture.v}) {
        for (int my = 0; my < mbh; ++my) {
            for (int mx = 0; mx < mbw; ++mx) take(*plane, picture.width / 2, mx * 8, my * 8);
        }
    }
}

std::vector<std::uint8_t> BlockEncoder::encodeWith(const std::vector<Block>& blocks, const std::vector<bool>& code,
                                                   int quant, int& coded) const {
    const int wBlocks = m_width / 8, hBlocks = m_height / 8;
    std::vector<std::uint8_t> frame;
    BitWriter bits;
    int first = -1;
    int count = 0;
    std::size_t lastPacket = 0;
    coded = 0;
    // The walk of a packet starts at its first coded block; skipped blocks
    // between coded ones cost one bit each.
    auto flush = [&](bool last) {
        if (first < 0) return;
        lastPacket = frame.size();
        appendPacket(frame, bits.data(), last ? kFlagLastPacket : 0, quant, wBlocks, hBlocks, first, count);
        bits.clear();
        first = -1;
        count = 0;
    };
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (!code[i]) {
            if (first >= 0) bits.put(1, 1);
            continue;
        }
        if (first < 0) first = int(i);
        writeBlock(bits, blocks[i].pixels, quant);
        ++count;
        ++coded;
        if (bits.bytes() + kPacketHeaderBytes + 200 > kMaxPacketBytes) flush(false);
    }
    if (first >= 0) {
        flush(true);
    } else if (!frame.empty()) {
        frame[lastPacket + 3] |= kFlagLastPacket;  // the split left nothing behind it
    } else {
        // Nothing changed: an empty packet that still closes the picture.
        appendPacket(frame, {}, kFlagLastPacket, quant, wBlocks, hBlocks, 0, 0);
        // A packet of length 11 is refused by the decoder: carry one skip byte.
        frame.push_back(0xFF);
        frame[2] = std::uint8_t(kPacketHeaderBytes + 1);
    }
    return frame;
}

std::vector<std::uint8_t> BlockEncoder::encode(const YuvPicture& picture, bool keyFrame, std::size_t maxFrameBytes) {
    if (picture.width != m_width || picture.height != m_height) return {};
    std::vector<Block> blocks;
    gatherBlocks(picture, blocks);
    std::vector<bool> code(blocks.size(), true);
    if (!keyFrame && m_haveSent) {
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            int sad = 0;
            for (int k = 0; k < 64; ++k) sad += std::abs(blocks[i].pixels[k] - m_sent[i].pixels[k]);
            code[i] = sad > 64 * 3;
        }
    }
    for (int quant = 4; quant <= 31; quant += 3) {
        int coded = 0;
        std::vector<std::uint8_t> frame = encodeWith(blocks, code, std::min(quant, 31), coded);
        if (frame.size() <= maxFrameBytes) {
            if (!m_haveSent) m_sent = blocks;
            for (std::size_t i = 0; i < blocks.size(); ++i) {
                if (code[i]) m_sent[i] = blocks[i];
            }
            m_haveSent = true;
            m_lastQuantiser = std::min(quant, 31);
            m_lastCoded = coded;
            return frame;
        }
    }
    return {};
}

}  // namespace site
