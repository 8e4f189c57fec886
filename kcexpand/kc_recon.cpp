// Reconstruction: the 8x8 inverse transform, the picture layout of the frame
// stores, H.263 and H.261 prediction and the reference upkeep.
//
// The stores are block-linear: every 8x8 block is 64 consecutive bytes;
// luma macroblock by macroblock (four blocks each), then the Cb and the Cr
// plane. Sample (x, y) of a plane lies at row[y] + col[x], tables built at
// layout time, so a prediction reads any window with clamped coordinates.

#include "kcexpand/kc_context.h"

#include <algorithm>
#include <cstring>

namespace kcexpand {

namespace {

// Accurate integer inverse DCT with 13-bit constants, two passes.
constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr std::int64_t kFix0298631336 = 2446;
constexpr std::int64_t kFix0390180644 = 3196;
constexpr std::int64_t kFix0541196100 = 4433;
constexpr std::int64_t kFix0765366865 = 6270;
constexpr std::int64_t kFix0899976223 = 7373;
constexpr std::int64_t kFix1175875602 = 9633;
constexpr std::int64_t kFix1501321110 = 12299;
constexpr std::int64_t kFix1847759065 = 15137;
constexpr std::int64_t kFix1961570560 = 16069;
constexpr std::int64_t kFix2053119869 = 16819;
constexpr std::int64_t kFix2562915447 = 20995;
constexpr std::int64_t kFix3072711026 = 25172;

inline std::int64_t descale(std::int64_t x, int n) { return (x + (std::int64_t(1) << (n - 1))) >> n; }

inline std::uint8_t clampByte(std::int64_t v) { return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// One 1-D pass over 8 values at stride `step`, results to out[0..7 * outStep].
// T is the accumulator: 32 bits hold the first pass (coefficients stay within
// 8 x 255 + 4 and the dequantised range of 31 x 257), the second takes 64.
template <typename T, typename In, typename Out>
inline void idct1d(const In* in, int step, Out* out, int outStep, int shift, T even0, T even4) {
    T z2 = in[2 * step];
    T z3 = in[6 * step];
    T z1 = (z2 + z3) * T(kFix0541196100);
    T tmp2 = z1 - z3 * T(kFix1847759065);
    T tmp3 = z1 + z2 * T(kFix0765366865);
    T tmp0 = (even0 + even4) * T(1 << kConstBits);
    T tmp1 = (even0 - even4) * T(1 << kConstBits);
    const T tmp10 = tmp0 + tmp3;
    const T tmp13 = tmp0 - tmp3;
    const T tmp11 = tmp1 + tmp2;
    const T tmp12 = tmp1 - tmp2;

    tmp0 = in[7 * step];
    tmp1 = in[5 * step];
    tmp2 = in[3 * step];
    tmp3 = in[1 * step];
    z1 = tmp0 + tmp3;
    z2 = tmp1 + tmp2;
    z3 = tmp0 + tmp2;
    T z4 = tmp1 + tmp3;
    const T z5 = (z3 + z4) * T(kFix1175875602);
    tmp0 *= T(kFix0298631336);
    tmp1 *= T(kFix2053119869);
    tmp2 *= T(kFix3072711026);
    tmp3 *= T(kFix1501321110);
    z1 *= -T(kFix0899976223);
    z2 *= -T(kFix2562915447);
    z3 *= -T(kFix1961570560);
    z4 *= -T(kFix0390180644);
    z3 += z5;
    z4 += z5;
    tmp0 += z1 + z3;
    tmp1 += z2 + z4;
    tmp2 += z2 + z3;
    tmp3 += z1 + z4;

    const T round = T(1) << (shift - 1);
    out[0 * outStep] = Out((tmp10 + tmp3 + round) >> shift);
    out[7 * outStep] = Out((tmp10 - tmp3 + round) >> shift);
    out[1 * outStep] = Out((tmp11 + tmp2 + round) >> shift);
    out[6 * outStep] = Out((tmp11 - tmp2 + round) >> shift);
    out[2 * outStep] = Out((tmp12 + tmp1 + round) >> shift);
    out[5 * outStep] = Out((tmp12 - tmp1 + round) >> shift);
    out[3 * outStep] = Out((tmp13 + tmp0 + round) >> shift);
    out[4 * outStep] = Out((tmp13 - tmp0 + round) >> shift);
}

// The transform into a work array of 64 output values (before clamping).
inline void idct(const std::int16_t* in, std::int64_t* result) {
    std::int32_t ws[64];
    for (int c = 0; c < 8; ++c) {
        const std::int16_t* col = in + c;
        if (col[8] == 0 && col[16] == 0 && col[24] == 0 && col[32] == 0 && col[40] == 0 && col[48] == 0 &&
            col[56] == 0) {
            const std::int32_t dc = std::int32_t(col[0]) * (1 << kPass1Bits);
            for (int r = 0; r < 8; ++r) ws[r * 8 + c] = dc;
            continue;
        }
        idct1d<std::int32_t>(col, 8, ws + c, 8, kConstBits - kPass1Bits, col[0], col[32]);
    }
    for (int r = 0; r < 8; ++r) {
        const std::int32_t* row = ws + r * 8;
        std::int64_t* out = result + r * 8;
        if (row[1] == 0 && row[2] == 0 && row[3] == 0 && row[4] == 0 && row[5] == 0 && row[6] == 0 &&
            row[7] == 0) {
            const std::int64_t v = descale(row[0], kPass1Bits + 3);
            for (int c = 0; c < 8; ++c) out[c] = v;
            continue;
        }
        idct1d<std::int64_t>(row, 1, out, 1, kConstBits + kPass1Bits + 3, row[0], row[4]);
    }
}

}  // namespace

namespace {

// A block with only its DC coefficient transforms to 64 equal samples.
inline bool dcOnly(const std::int16_t* coefficients) {
    std::uint64_t words[16];
    std::memcpy(words, coefficients, sizeof words);
    std::uint64_t any = words[0] & ~std::uint64_t(0xFFFF);
    for (int i = 1; i < 16; ++i) any |= words[i];
    return any == 0;
}

inline std::int64_t dcValue(const std::int16_t* coefficients) {
    return descale(std::int64_t(coefficients[0]) * (1 << kPass1Bits), kPass1Bits + 3);
}

}  // namespace

void inverseTransformReplace(const std::int16_t* coefficients, std::uint8_t* out) {
    if (dcOnly(coefficients)) {
        std::memset(out, clampByte(dcValue(coefficients)), 64);
        return;
    }
    std::int64_t v[64];
    idct(coefficients, v);
    for (int i = 0; i < 64; ++i) out[i] = clampByte(v[i]);
}

void inverseTransformAdd(const std::int16_t* coefficients, std::uint8_t* out) {
    if (dcOnly(coefficients)) {
        const std::int64_t dc = dcValue(coefficients);
        for (int i = 0; i < 64; ++i) out[i] = clampByte(dc + out[i]);
        return;
    }
    std::int64_t v[64];
    idct(coefficients, v);
    for (int i = 0; i < 64; ++i) out[i] = clampByte(v[i] + out[i]);
}

void computeConversionLayout(KcExpandContextData& ctx) {
    const Layout& l = ctx.layout;
    const bool grey = !l.colour || ctx.settings.grey;
    ctx.conversionFlags = (grey ? 2 : 0) | (l.chroma420 ? 1 : 0);
}

bool layOut(KcExpandContextData& ctx, int kind, int widthBlocks, int heightBlocks, bool colour, bool chroma420,
            bool raw) {
    if (widthBlocks <= 0 || heightBlocks <= 0) {
        return false;
    }
    const int mbWidth = (widthBlocks + 1) / 2;
    const int mbHeight = (heightBlocks + 1) / 2;
    const int macroblocks = mbWidth * mbHeight;
    const int lumaBlocks = 4 * macroblocks;
    const int chromaBlocks = colour ? (chroma420 ? macroblocks : lumaBlocks) : 0;
    const int totalBlocks = lumaBlocks + 2 * chromaBlocks;
    // The stores hold one CIF picture: refuse anything larger.
    if (lumaBlocks > kMaxLumaBlocks || totalBlocks > kMaxBlocks || mbWidth * 16 > 352 || mbHeight * 16 > 288) {
        return false;
    }
    Layout& l = ctx.layout;
    // Only the raw flag of a block picture changing keeps every block where
    // it was: the marks of blocks not yet painted stay.
    const bool sameBlocks = l.kind == kind && l.widthBlocks == widthBlocks && l.heightBlocks == heightBlocks &&
                            l.colour == colour && l.chroma420 == chroma420;
    l.kind = kind;
    l.widthBlocks = widthBlocks;
    l.heightBlocks = heightBlocks;
    l.mbWidth = mbWidth;
    l.mbHeight = mbHeight;
    l.macroblocks = macroblocks;
    l.lumaBlocks = lumaBlocks;
    l.chromaBlocks = chromaBlocks;
    l.totalBlocks = totalBlocks;
    l.cbOffset = lumaBlocks * 64;
    l.crOffset = l.cbOffset + chromaBlocks * 64;
    l.colour = colour;
    l.chroma420 = chroma420;
    l.raw = raw;

    ctx.blockOrder.fill(0);
    for (int r = 0; r < heightBlocks; ++r) {
        for (int c = 0; c < widthBlocks; ++c) {
            const int raster = r * widthBlocks + c;
            if (raster < kMaxLumaBlocks) {
                ctx.blockOrder[std::size_t(raster)] =
                    std::uint16_t(4 * ((r / 2) * mbWidth + (c / 2)) + 2 * (r % 2) + (c % 2));
            }
        }
    }
    for (int y = 0; y < mbHeight * 16; ++y) {
        ctx.lumaRow[std::size_t(y)] = (y >> 4) * mbWidth * 256 + ((y >> 3) & 1) * 128 + (y & 7) * 8;
    }
    for (int x = 0; x < mbWidth * 16; ++x) {
        ctx.lumaCol[std::size_t(x)] = (x >> 4) * 256 + ((x >> 3) & 1) * 64 + (x & 7);
    }
    for (int y = 0; y < mbHeight * 8; ++y) {
        ctx.chromaRow[std::size_t(y)] = (y >> 3) * mbWidth * 64 + (y & 7) * 8;
    }
    for (int x = 0; x < mbWidth * 8; ++x) {
        ctx.chromaCol[std::size_t(x)] = (x >> 3) * 64 + (x & 7);
    }
    if (!sameBlocks) {
        ctx.changed.fill(0);
    }
    computeConversionLayout(ctx);
    return true;
}

namespace {

// Copies a w x h window of a plane whose top-left sample is (x0, y0) into
// `out` (rows of w), coordinates clamped to the plane.
void fetch(const std::uint8_t* plane, const int* rowPart, const int* colPart, int planeWidth, int planeHeight, int x0,
           int y0, int w, int h, std::uint8_t* out) {
    int cols[17];
    if (x0 >= 0 && x0 + w <= planeWidth && y0 >= 0 && y0 + h <= planeHeight) {
        for (int c = 0; c < w; ++c) cols[c] = colPart[x0 + c];
        for (int r = 0; r < h; ++r) {
            const std::uint8_t* row = plane + rowPart[y0 + r];
            for (int c = 0; c < w; ++c) out[r * w + c] = row[cols[c]];
        }
        return;
    }
    for (int c = 0; c < w; ++c) {
        cols[c] = colPart[std::clamp(x0 + c, 0, planeWidth - 1)];
    }
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* row = plane + rowPart[std::clamp(y0 + r, 0, planeHeight - 1)];
        for (int c = 0; c < w; ++c) {
            out[r * w + c] = row[cols[c]];
        }
    }
}

// Half-pixel interpolation of an n x n prediction from an (n + 1) square window.
void interpolate(const std::uint8_t* win, int n, int hx, int hy, std::uint8_t* pred) {
    const int w = n + 1;
    for (int r = 0; r < n; ++r) {
        const std::uint8_t* a = win + r * w;
        const std::uint8_t* b = a + w;
        std::uint8_t* p = pred + r * n;
        if (!hx && !hy) {
            std::memcpy(p, a, std::size_t(n));
        } else if (hx && !hy) {
            for (int c = 0; c < n; ++c) p[c] = std::uint8_t((a[c] + a[c + 1] + 1) >> 1);
        } else if (!hx && hy) {
            for (int c = 0; c < n; ++c) p[c] = std::uint8_t((a[c] + b[c] + 1) >> 1);
        } else {
            for (int c = 0; c < n; ++c) p[c] = std::uint8_t((a[c] + a[c + 1] + b[c] + b[c + 1] + 2) >> 2);
        }
    }
}

// Writes a 16x16 raster prediction into the macroblock's four luma blocks.
void storeLuma(std::uint8_t* mb, const std::uint8_t* pred) {
    for (int r = 0; r < 16; ++r) {
        std::uint8_t* block = mb + ((r >> 3) * 2) * 64 + (r & 7) * 8;
        std::memcpy(block, pred + r * 16, 8);
        std::memcpy(block + 64, pred + r * 16 + 8, 8);
    }
}

// The H.261 loop filter on one 8x8 block in place: vertical, then horizontal,
// each pass truncating.
void filterBlock(std::uint8_t* b) {
    std::uint8_t t[64];
    std::memcpy(t, b, 64);
    for (int r = 1; r < 7; ++r) {
        for (int c = 0; c < 8; ++c) {
            t[r * 8 + c] = std::uint8_t((b[(r - 1) * 8 + c] + 2 * b[r * 8 + c] + b[(r + 1) * 8 + c]) / 4);
        }
    }
    for (int r = 0; r < 8; ++r) {
        b[r * 8] = t[r * 8];
        b[r * 8 + 7] = t[r * 8 + 7];
        for (int c = 1; c < 7; ++c) {
            b[r * 8 + c] = std::uint8_t((t[r * 8 + c - 1] + 2 * t[r * 8 + c] + t[r * 8 + c + 1]) / 4);
        }
    }
}

// The ITU form of the filter: both directions at full precision, one rounding.
void filterBlockItu(std::uint8_t* b) {
    int t[64];
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const int s = b[r * 8 + c];
            t[r * 8 + c] = c == 0 || c == 7 ? 4 * s : b[r * 8 + c - 1] + 2 * s + b[r * 8 + c + 1];
        }
    }
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const int s = t[r * 8 + c];
            const int v = r == 0 || r == 7 ? 4 * s : t[(r - 1) * 8 + c] + 2 * s + t[(r + 1) * 8 + c];
            b[r * 8 + c] = std::uint8_t((v + 8) >> 4);
        }
    }
}

}  // namespace

void predictH263(KcExpandContextData& ctx, int mbx, int mby, int mvx, int mvy) {
    const Layout& l = ctx.layout;
    const int mb = mby * l.mbWidth + mbx;
    std::uint8_t win[17 * 17];
    std::uint8_t pred[16 * 16];
    const int lumaW = l.mbWidth * 16;
    const int lumaH = l.mbHeight * 16;
    fetch(ctx.storeB, ctx.lumaRow.data(), ctx.lumaCol.data(), lumaW, lumaH, mbx * 16 + (mvx >> 1),
          mby * 16 + (mvy >> 1), 17, 17, win);
    interpolate(win, 16, mvx & 1, mvy & 1, pred);
    storeLuma(ctx.storeA + macroblockLuma(ctx, mb), pred);
    if (!l.colour) {
        return;
    }
    // Chroma: half the luma vector, quarter positions taken as half positions.
    const int cx = (mvx >> 1) | (mvx & 1);
    const int cy = (mvy >> 1) | (mvy & 1);
    const int chromaW = l.mbWidth * 8;
    const int chromaH = l.mbHeight * 8;
    for (int plane = 0; plane < 2; ++plane) {
        const int offset = plane == 0 ? l.cbOffset : l.crOffset;
        fetch(ctx.storeB + offset, ctx.chromaRow.data(), ctx.chromaCol.data(), chromaW, chromaH,
              mbx * 8 + (cx >> 1), mby * 8 + (cy >> 1), 9, 9, win);
        interpolate(win, 8, cx & 1, cy & 1, ctx.storeA + offset + mb * 64);
    }
}

void predictH261(KcExpandContextData& ctx, int mbx, int mby, int mvx, int mvy, bool filter) {
    const Layout& l = ctx.layout;
    const int mb = mby * l.mbWidth + mbx;
    if (mvx != 0 || mvy != 0) {
        std::uint8_t win[16 * 16];
        fetch(ctx.storeB, ctx.lumaRow.data(), ctx.lumaCol.data(), l.mbWidth * 16, l.mbHeight * 16, mbx * 16 + mvx,
              mby * 16 + mvy, 16, 16, win);
        storeLuma(ctx.storeA + macroblockLuma(ctx, mb), win);
        if (l.colour) {
            // Chroma moves by (v + 1) / 2, truncated toward zero (v / 2 in the
            // ITU reconstruction).
            const int round = ctx.ituH261 ? 0 : 1;
            const int cx = (mvx + round) / 2;
            const int cy = (mvy + round) / 2;
            for (int plane = 0; plane < 2; ++plane) {
                const int offset = plane == 0 ? l.cbOffset : l.crOffset;
                fetch(ctx.storeB + offset, ctx.chromaRow.data(), ctx.chromaCol.data(), l.mbWidth * 8,
                      l.mbHeight * 8, mbx * 8 + cx, mby * 8 + cy, 8, 8, ctx.storeA + offset + mb * 64);
            }
        }
    }
    if (filter) {
        void (*const apply)(std::uint8_t*) = ctx.ituH261 ? filterBlockItu : filterBlock;
        for (int b = 0; b < 4; ++b) apply(ctx.storeA + macroblockLuma(ctx, mb) + b * 64);
        if (l.colour) {
            apply(ctx.storeA + macroblockCb(ctx, mb));
            apply(ctx.storeA + macroblockCr(ctx, mb));
        }
    }
}

void updateReference(KcExpandContextData& ctx) {
    const Layout& l = ctx.layout;
    if (l.kind != kKindH263 && l.kind != kKindH261) {
        return;  // block pictures have no reference
    }
    for (int mb = 0; mb < l.macroblocks; ++mb) {
        if ((ctx.changed[std::size_t(mb)] & 1) == 0) {
            continue;
        }
        std::memcpy(ctx.storeB + macroblockLuma(ctx, mb), ctx.storeA + macroblockLuma(ctx, mb), 256);
        if (l.colour) {
            std::memcpy(ctx.storeB + macroblockCb(ctx, mb), ctx.storeA + macroblockCb(ctx, mb), 64);
            std::memcpy(ctx.storeB + macroblockCr(ctx, mb), ctx.storeA + macroblockCr(ctx, mb), 64);
        }
    }
}

}  // namespace kcexpand
