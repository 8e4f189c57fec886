// The ITU code tables of H.263 and H.261 and the lookup tables built from them.

#include "kcexpand/kc_context.h"

#include <mutex>
#include <vector>

namespace kcexpand {

const std::uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

struct Code {
    std::uint16_t code;
    std::uint8_t length;
};

// H.263 TCOEF (the sign bit follows each code); entry 102 is ESCAPE.
const Code kH263TcoefCodes[103] = {
    {0x2, 2},   {0xf, 4},   {0x15, 6},  {0x17, 7},  {0x1f, 8},  {0x25, 9},  {0x24, 9},  {0x21, 10}, {0x20, 10},
    {0x7, 11},  {0x6, 11},  {0x20, 11}, {0x6, 3},   {0x14, 6},  {0x1e, 8},  {0xf, 10},  {0x21, 11}, {0x50, 12},
    {0xe, 4},   {0x1d, 8},  {0xe, 10},  {0x51, 12}, {0xd, 5},   {0x23, 9},  {0xd, 10},  {0xc, 5},   {0x22, 9},
    {0x52, 12}, {0xb, 5},   {0xc, 10},  {0x53, 12}, {0x13, 6},  {0xb, 10},  {0x54, 12}, {0x12, 6},  {0xa, 10},
    {0x11, 6},  {0x9, 10},  {0x10, 6},  {0x8, 10},  {0x16, 7},  {0x55, 12}, {0x15, 7},  {0x14, 7},  {0x1c, 8},
    {0x1b, 8},  {0x21, 9},  {0x20, 9},  {0x1f, 9},  {0x1e, 9},  {0x1d, 9},  {0x1c, 9},  {0x1b, 9},  {0x1a, 9},
    {0x22, 11}, {0x23, 11}, {0x56, 12}, {0x57, 12}, {0x7, 4},   {0x19, 9},  {0x5, 11},  {0xf, 6},   {0x4, 11},
    {0xe, 6},   {0xd, 6},   {0xc, 6},   {0x13, 7},  {0x12, 7},  {0x11, 7},  {0x10, 7},  {0x1a, 8},  {0x19, 8},
    {0x18, 8},  {0x17, 8},  {0x16, 8},  {0x15, 8},  {0x14, 8},  {0x13, 8},  {0x18, 9},  {0x17, 9},  {0x16, 9},
    {0x15, 9},  {0x14, 9},  {0x13, 9},  {0x12, 9},  {0x11, 9},  {0x7, 10},  {0x6, 10},  {0x5, 10},  {0x4, 10},
    {0x24, 11}, {0x25, 11}, {0x26, 11}, {0x27, 11}, {0x58, 12}, {0x59, 12}, {0x5a, 12}, {0x5b, 12}, {0x5c, 12},
    {0x5d, 12}, {0x5e, 12}, {0x5f, 12}, {0x3, 7},
};

// MCBPC of I-pictures: index = cbpc + 4 * (type - 3); 8 is stuffing.
const Code kMcbpcIntraCodes[9] = {{1, 1}, {1, 3}, {2, 3}, {3, 3}, {1, 4}, {1, 6}, {2, 6}, {3, 6}, {1, 9}};
// MCBPC of P-pictures: index = cbpc + 4 * type (0 INTER, 1 INTER+Q, 2 INTER4V,
// 3 INTRA, 4 INTRA+Q); 20 is stuffing.
const Code kMcbpcInterCodes[21] = {
    {1, 1}, {3, 4}, {2, 4}, {5, 6}, {3, 3}, {7, 7}, {6, 7}, {5, 9}, {2, 3}, {5, 7}, {4, 7},
    {5, 8}, {3, 5}, {4, 8}, {3, 8}, {3, 7}, {4, 6}, {4, 9}, {3, 9}, {2, 9}, {1, 9},
};
// CBPY: index = the pattern of an intra macroblock.
const Code kCbpyCodes[16] = {{3, 4}, {5, 5}, {4, 5}, {9, 4}, {3, 5}, {7, 4}, {2, 6}, {11, 4},
                             {2, 5}, {3, 6}, {5, 4}, {10, 4}, {4, 4}, {8, 4}, {6, 4}, {3, 2}};
// MVD magnitudes 0..32 (H.263); the first 17 are also H.261's MVD codes.
const Code kMvdCodes[33] = {
    {1, 1},   {1, 2},   {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},   {3, 7},   {11, 9},  {10, 9},  {9, 9},
    {17, 10}, {16, 10}, {15, 10}, {14, 10}, {13, 10}, {12, 10}, {11, 10}, {10, 10}, {9, 10},  {8, 10},  {7, 10},
    {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},  {5, 11},  {4, 11},  {3, 11},  {2, 11},  {3, 12},  {2, 12},
};
// H.261 MBA 1..33, then stuffing.
const Code kMbaCodes[34] = {
    {1, 1},  {3, 3},  {2, 3},  {3, 4},  {2, 4},  {3, 5},  {2, 5},  {7, 7},  {6, 7},  {11, 8}, {10, 8}, {9, 8},
    {8, 8},  {7, 8},  {6, 8},  {23, 10}, {22, 10}, {21, 10}, {20, 10}, {19, 10}, {18, 10}, {35, 11}, {34, 11}, {33, 11},
    {32, 11}, {31, 11}, {30, 11}, {29, 11}, {28, 11}, {27, 11}, {26, 11}, {25, 11}, {24, 11}, {15, 11},
};
// H.261 MTYPE: every code is a 1 after zeros.
const std::uint8_t kMtypeLengths[10] = {4, 7, 1, 5, 9, 8, 10, 3, 2, 6};
// H.261 CBP: index = pattern - 1.
const Code kCbpCodes[63] = {
    {11, 5}, {9, 5},  {13, 6}, {13, 4}, {23, 7}, {19, 7}, {31, 8}, {12, 4}, {22, 7}, {18, 7}, {30, 8},
    {19, 5}, {27, 8}, {23, 8}, {19, 8}, {11, 4}, {21, 7}, {17, 7}, {29, 8}, {17, 5}, {25, 8}, {21, 8},
    {17, 8}, {15, 6}, {15, 8}, {13, 8}, {3, 9},  {15, 5}, {11, 8}, {7, 8},  {7, 9},  {10, 4}, {20, 7},
    {16, 7}, {28, 8}, {14, 6}, {14, 8}, {12, 8}, {2, 9},  {16, 5}, {24, 8}, {20, 8}, {16, 8}, {14, 5},
    {10, 8}, {6, 8},  {6, 9},  {18, 5}, {26, 8}, {22, 8}, {18, 8}, {13, 5}, {9, 8},  {5, 8},  {5, 9},
    {12, 5}, {8, 8},  {4, 8},  {4, 9},  {7, 3},  {10, 5}, {8, 5},  {12, 6},
};
// H.261 TCOEFF: entries 0..63 as kH261RunLevel (sign bit follows), then EOB and ESCAPE.
const Code kH261TcoeffCodes[65] = {
    {0x3, 2},   {0x4, 4},   {0x5, 5},   {0x6, 7},   {0x26, 8},  {0x21, 8},  {0xa, 10},  {0x1d, 12}, {0x18, 12},
    {0x13, 12}, {0x10, 12}, {0x1a, 13}, {0x19, 13}, {0x18, 13}, {0x17, 13}, {0x3, 3},   {0x6, 6},   {0x25, 8},
    {0xc, 10},  {0x1b, 12}, {0x16, 13}, {0x15, 13}, {0x5, 4},   {0x4, 7},   {0xb, 10},  {0x14, 12}, {0x14, 13},
    {0x7, 5},   {0x24, 8},  {0x1c, 12}, {0x13, 13}, {0x6, 5},   {0xf, 10},  {0x12, 12}, {0x7, 6},   {0x9, 10},
    {0x12, 13}, {0x5, 6},   {0x1e, 12}, {0x4, 6},   {0x15, 12}, {0x7, 7},   {0x11, 12}, {0x5, 7},   {0x11, 13},
    {0x27, 8},  {0x10, 13}, {0x23, 8},  {0x22, 8},  {0x20, 8},  {0xe, 10},  {0xd, 10},  {0x8, 10},  {0x1f, 12},
    {0x1a, 12}, {0x19, 12}, {0x17, 12}, {0x16, 12}, {0x1f, 13}, {0x1e, 13}, {0x1d, 13}, {0x1c, 13}, {0x1b, 13},
    {0x2, 2},   {0x1, 6},
};

// A single-level lookup of `bits` bits.
class Builder {
public:
    explicit Builder(int bits) : m_bits(bits), m_entries(std::size_t(1) << bits, Vlc{-1, 0}) {}
    void add(std::uint32_t code, int length, int symbol) {
        const int free = m_bits - length;
        const std::uint32_t first = code << free;
        for (std::uint32_t i = 0; i < (1u << free); ++i) {
            m_entries[first + i] = Vlc{std::int16_t(symbol), std::uint8_t(length)};
        }
    }
    VlcTable table() const { return VlcTable{m_bits, m_entries.data()}; }

private:
    int m_bits;
    std::vector<Vlc> m_entries;
};

struct AllTables {
    Builder tcoef{13}, mcbpcIntra{9}, mcbpcInter{9}, cbpy{6}, mvd{12}, mba{11}, mtype{10}, h261Mvd{10},
        cbp{9}, h261Tcoeff{13};
    Tables tables;

    AllTables() {
        // TCOEF with its sign bit: symbol 2 x index + sign; ESCAPE has no sign.
        for (int i = 0; i < 102; ++i) {
            const std::uint32_t code = std::uint32_t(kH263TcoefCodes[i].code) << 1;
            const RunLevel& rl = kH263RunLevel[i];
            tcoef.add(code, kH263TcoefCodes[i].length + 1, tcoefSymbol(rl.last, rl.run, rl.level));
            tcoef.add(code | 1, kH263TcoefCodes[i].length + 1, tcoefSymbol(rl.last, rl.run, -int(rl.level)));
        }
        tcoef.add(kH263TcoefCodes[102].code, kH263TcoefCodes[102].length, kTcoefEscapeSymbol);
        for (int i = 0; i < 9; ++i) mcbpcIntra.add(kMcbpcIntraCodes[i].code, kMcbpcIntraCodes[i].length, i);
        for (int i = 0; i < 21; ++i) mcbpcInter.add(kMcbpcInterCodes[i].code, kMcbpcInterCodes[i].length, i);
        for (int i = 0; i < 16; ++i) cbpy.add(kCbpyCodes[i].code, kCbpyCodes[i].length, i);
        for (int i = 0; i < 33; ++i) mvd.add(kMvdCodes[i].code, kMvdCodes[i].length, i);
        for (int i = 0; i < 34; ++i) mba.add(kMbaCodes[i].code, kMbaCodes[i].length, i + 1);
        for (int i = 0; i < 10; ++i) mtype.add(1, kMtypeLengths[i], i);
        for (int i = 0; i < 17; ++i) h261Mvd.add(kMvdCodes[i].code, kMvdCodes[i].length, i);
        for (int i = 0; i < 63; ++i) cbp.add(kCbpCodes[i].code, kCbpCodes[i].length, i + 1);
        for (int i = 0; i < 65; ++i) h261Tcoeff.add(kH261TcoeffCodes[i].code, kH261TcoeffCodes[i].length, i);
        tables = Tables{tcoef.table(),  mcbpcIntra.table(), mcbpcInter.table(), cbpy.table(),
                        mvd.table(),    mba.table(),        mtype.table(),      h261Mvd.table(),
                        cbp.table(),    h261Tcoeff.table()};
    }
};

}  // namespace

const RunLevel kH263RunLevel[102] = {
    {0, 0, 1},  {0, 0, 2},  {0, 0, 3},  {0, 0, 4},  {0, 0, 5},  {0, 0, 6},  {0, 0, 7},  {0, 0, 8},  {0, 0, 9},
    {0, 0, 10}, {0, 0, 11}, {0, 0, 12}, {0, 1, 1},  {0, 1, 2},  {0, 1, 3},  {0, 1, 4},  {0, 1, 5},  {0, 1, 6},
    {0, 2, 1},  {0, 2, 2},  {0, 2, 3},  {0, 2, 4},  {0, 3, 1},  {0, 3, 2},  {0, 3, 3},  {0, 4, 1},  {0, 4, 2},
    {0, 4, 3},  {0, 5, 1},  {0, 5, 2},  {0, 5, 3},  {0, 6, 1},  {0, 6, 2},  {0, 6, 3},  {0, 7, 1},  {0, 7, 2},
    {0, 8, 1},  {0, 8, 2},  {0, 9, 1},  {0, 9, 2},  {0, 10, 1}, {0, 10, 2}, {0, 11, 1}, {0, 12, 1}, {0, 13, 1},
    {0, 14, 1}, {0, 15, 1}, {0, 16, 1}, {0, 17, 1}, {0, 18, 1}, {0, 19, 1}, {0, 20, 1}, {0, 21, 1}, {0, 22, 1},
    {0, 23, 1}, {0, 24, 1}, {0, 25, 1}, {0, 26, 1}, {1, 0, 1},  {1, 0, 2},  {1, 0, 3},  {1, 1, 1},  {1, 1, 2},
    {1, 2, 1},  {1, 3, 1},  {1, 4, 1},  {1, 5, 1},  {1, 6, 1},  {1, 7, 1},  {1, 8, 1},  {1, 9, 1},  {1, 10, 1},
    {1, 11, 1}, {1, 12, 1}, {1, 13, 1}, {1, 14, 1}, {1, 15, 1}, {1, 16, 1}, {1, 17, 1}, {1, 18, 1}, {1, 19, 1},
    {1, 20, 1}, {1, 21, 1}, {1, 22, 1}, {1, 23, 1}, {1, 24, 1}, {1, 25, 1}, {1, 26, 1}, {1, 27, 1}, {1, 28, 1},
    {1, 29, 1}, {1, 30, 1}, {1, 31, 1}, {1, 32, 1}, {1, 33, 1}, {1, 34, 1}, {1, 35, 1}, {1, 36, 1}, {1, 37, 1},
    {1, 38, 1}, {1, 39, 1}, {1, 40, 1},
};

const RunLevel kH261RunLevel[63] = {
    {0, 0, 1},  {0, 0, 2},  {0, 0, 3},  {0, 0, 4},  {0, 0, 5},  {0, 0, 6},  {0, 0, 7},  {0, 0, 8},
    {0, 0, 9},  {0, 0, 10}, {0, 0, 11}, {0, 0, 12}, {0, 0, 13}, {0, 0, 14}, {0, 0, 15}, {0, 1, 1},
    {0, 1, 2},  {0, 1, 3},  {0, 1, 4},  {0, 1, 5},  {0, 1, 6},  {0, 1, 7},  {0, 2, 1},  {0, 2, 2},
    {0, 2, 3},  {0, 2, 4},  {0, 2, 5},  {0, 3, 1},  {0, 3, 2},  {0, 3, 3},  {0, 3, 4},  {0, 4, 1},
    {0, 4, 2},  {0, 4, 3},  {0, 5, 1},  {0, 5, 2},  {0, 5, 3},  {0, 6, 1},  {0, 6, 2},  {0, 7, 1},
    {0, 7, 2},  {0, 8, 1},  {0, 8, 2},  {0, 9, 1},  {0, 9, 2},  {0, 10, 1}, {0, 10, 2}, {0, 11, 1},
    {0, 12, 1}, {0, 13, 1}, {0, 14, 1}, {0, 15, 1}, {0, 16, 1}, {0, 17, 1}, {0, 18, 1}, {0, 19, 1},
    {0, 20, 1}, {0, 21, 1}, {0, 22, 1}, {0, 23, 1}, {0, 24, 1}, {0, 25, 1}, {0, 26, 1},
};

// INTRA, INTRA+MQUANT, INTER, INTER+MQUANT, MC, MC+CBP, MC+CBP+MQUANT, MC+FIL,
// MC+FIL+CBP, MC+FIL+CBP+MQUANT.
const std::uint8_t kH261Mtype[10] = {
    kMtIntra | kMtCoeff,
    kMtIntra | kMtQuant | kMtCoeff,
    kMtCbp | kMtCoeff,
    kMtQuant | kMtCbp | kMtCoeff,
    kMtMvd,
    kMtMvd | kMtCbp | kMtCoeff,
    kMtQuant | kMtMvd | kMtCbp | kMtCoeff,
    kMtMvd | kMtFilter,
    kMtMvd | kMtCbp | kMtCoeff | kMtFilter,
    kMtQuant | kMtMvd | kMtCbp | kMtCoeff | kMtFilter,
};

const Tables& tables() {
    static const AllTables all;
    return all.tables;
}

}  // namespace kcexpand
