// Block packets: intra-coded or raw 8x8 blocks addressed by storage index.
//
// Header (11 bytes): kind 1; length (big-endian, header included); flags;
// quantiser; width and height in blocks; first block and block count
// (big-endian). Flags: bit 0 contiguous raw blocks, bit 1 grey, bit 2 last
// packet of the picture, bit 3 raw blocks, bit 4 full-resolution chroma.

#include "kcexpand/kc_coefficients.h"
#include "kcexpand/kc_context.h"

#include <algorithm>
#include <cstring>

namespace kcexpand {

namespace {

constexpr int kHeaderBytes = 11;
constexpr std::uint8_t kFlagContiguous = 1;
constexpr std::uint8_t kFlagGrey = 2;
constexpr std::uint8_t kFlagLast = 4;
constexpr std::uint8_t kFlagRaw = 8;
constexpr std::uint8_t kFlagFullChroma = 16;

inline int be16(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }

void failNoCode(KcExpandContextData& ctx, PacketOutcome& outcome, std::uint32_t detail) {
    ctx.lastError = 0;
    ctx.errorDetail = detail;
    outcome.error = true;
}

void decodeCoded(KcExpandContextData& ctx, const std::uint8_t* payload, std::uint32_t bytes, int first, int count,
                 int quant) {
    BitReader br(payload, bytes);
    const int total = ctx.layout.totalBlocks;
    int coded = 0;
    for (int index = first; coded < count && index < total; ++index) {
        if (br.bitsLeft() < 8) {
            return;  // the rest of the packet's blocks are missing
        }
        if (br.get1()) {
            continue;  // not carried
        }
        const bool dcOnly = br.get1() != 0;
        int dc = int(br.get(8));
        if (dc == 255) {
            dc = 128;
        }
        std::int16_t* coef = ctx.coefficients + std::size_t(index) * 64;
        std::memset(coef, 0, 64 * sizeof(std::int16_t));
        coef[0] = std::int16_t(8 * dc);
        if (!dcOnly) {
            readTcoef(br, coef, 1, quant, tables().h263Tcoef);
        }
        ctx.changed[std::size_t(index)] |= 1;
        ++coded;
    }
}

void decodeRaw(KcExpandContextData& ctx, const std::uint8_t* payload, std::uint32_t bytes, int first, int count,
               bool contiguous) {
    const int total = ctx.layout.totalBlocks;
    if (contiguous) {
        for (int i = 0; i < count; ++i) {
            const int index = first + i;
            if (index >= total || std::uint64_t(i + 1) * 64 > bytes) {
                return;
            }
            std::memcpy(ctx.storeA + std::size_t(index) * 64, payload + std::size_t(i) * 64, 64);
            ctx.changed[std::size_t(index)] |= 1;
        }
        return;
    }
    long index = first;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* record = payload + std::size_t(i) * 66;
        if (index >= total || std::uint64_t(i + 1) * 66 > bytes) {
            return;
        }
        std::memcpy(ctx.storeA + std::size_t(index) * 64, record, 64);
        ctx.changed[std::size_t(index)] |= 1;
        index += be16(record + 64) + 1;
    }
}

}  // namespace

void decodeBlockPacket(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length,
                       PacketOutcome& outcome) {
    int declared = be16(data + 1);
    if (declared < 12) {
        failNoCode(ctx, outcome, std::uint32_t(declared));
        return;
    }
    // A length field longer than the packet is cut to the packet.
    const std::uint32_t packetBytes = std::min<std::uint32_t>(std::uint32_t(declared), length);
    const std::uint8_t flags = data[3];
    const int quant = std::clamp<int>(data[4], 1, 31);
    const int widthBlocks = data[5];
    const int heightBlocks = data[6];
    const int first = be16(data + 7);
    const int count = be16(data + 9);
    const bool raw = (flags & kFlagRaw) != 0;
    const bool grey = (flags & kFlagGrey) != 0;
    const bool chroma420 = (flags & kFlagFullChroma) == 0;

    const Layout& l = ctx.layout;
    if (l.kind != kKindBlock || l.raw != raw || l.colour == grey || l.chroma420 != chroma420 ||
        l.widthBlocks != widthBlocks || l.heightBlocks != heightBlocks) {
        // Pictures beyond the frame stores are refused.
        if (!layOut(ctx, kKindBlock, widthBlocks, heightBlocks, !grey, chroma420, raw)) {
            failNoCode(ctx, outcome, 0);
            return;
        }
        outcome.formatChanged = true;
    }
    ctx.quantiser = quant;
    if (count == 0) {
        return;
    }
    const std::uint8_t* payload = data + kHeaderBytes;
    const std::uint32_t payloadBytes = packetBytes - kHeaderBytes;
    if (raw) {
        decodeRaw(ctx, payload, payloadBytes, first, count, (flags & kFlagContiguous) != 0);
    } else {
        decodeCoded(ctx, payload, payloadBytes, first, count, quant);
    }
    if (flags & kFlagLast) {
        if (!raw) {
            for (int index = 0; index < ctx.layout.totalBlocks; ++index) {
                if (ctx.changed[std::size_t(index)] & 1) {
                    inverseTransformReplace(ctx.coefficients + std::size_t(index) * 64,
                                            ctx.storeA + std::size_t(index) * 64);
                }
            }
        }
        outcome.finished = true;
    }
}

}  // namespace kcexpand
