#pragma once
// The decoder context and the library's internal entry points, shared by the
// parsers, the reconstruction and the painting.

#include "kcexpand/kcexpand.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace kcexpand {

inline constexpr int kStoreBytes = 152064;     // one CIF picture in 4:2:0
inline constexpr int kMaxLumaBlocks = 1584;    // the luma blocks of CIF
inline constexpr int kMaxBlocks = 2376;        // blocks of the coefficient store
inline constexpr int kMaxMacroblocks = 396;
inline constexpr int kMaxOutputHeight = 288;

enum PictureKind : int { kKindBlock = 1, kKindH263 = 2, kKindH261 = 3 };

// What one packet did.
struct PacketOutcome {
    bool formatChanged = false;
    bool error = false;
    bool finished = false;
};

// The picture layout: block counts and plane offsets.
struct Layout {
    int kind = 0;             // 0 none yet
    int widthBlocks = 0;      // luma blocks across
    int heightBlocks = 0;
    int mbWidth = 0;          // macroblocks across
    int mbHeight = 0;
    int macroblocks = 0;
    int lumaBlocks = 0;
    int chromaBlocks = 0;     // per plane
    int totalBlocks = 0;
    int cbOffset = 0;         // bytes
    int crOffset = 0;
    bool colour = false;
    bool chroma420 = true;
    bool raw = false;         // block packets: the raw flag is part of the format
};

struct Settings {
    BITMAPINFOHEADER* format = nullptr;  // owned copy, with its colour table
    std::uint32_t formatBytes = 0;
    int outWidth = 0;
    int outHeight = 0;
    bool topDown = false;
    int paletteSize = 0;
    RGBQUAD* palette = nullptr;          // owned copy
    int paletteEntries = 0;              // entries present in the copy
    int reserved7 = 0;
    bool grey = false;
    int mode = KCMODE_NONE;
    bool payloadHeader = false;
    int forcedKind = 0;
};

struct NearestEntry {
    std::uint8_t y, cb, cr, index;
};

struct ColourTable {
    std::array<std::uint8_t, 256> windowStart{};
    std::array<NearestEntry, 256> entries{};
    int count = 0;
    int window = 13;
};

struct KcExpandContextData {
    Settings settings;
    KcErrorCallback errorCallback = nullptr;
    void* errorUser = nullptr;
    Layout layout;
    std::uint8_t* storeA = nullptr;
    std::uint8_t* storeB = nullptr;
    std::int16_t* coefficients = nullptr;  // 64 per block
    ColourTable colours;

    // Stream decoder state.
    int quantiser = 1;
    std::uint32_t lastError = 0;
    std::uint32_t errorDetail = 0;
    std::array<std::int8_t, kMaxMacroblocks * 2> vectors{};
    int h261Format = 3;  // source format of the last H.261 picture (2 QCIF, 3 CIF)
    // H.261 intra DC, chroma vectors and loop filter rounding as the ITU
    // reconstruction has them, in place of this decoder's own; only
    // comparisons with other decoders set it.
    bool ituH261 = false;

    // Conversion layout: bit 1 grey, bit 0 4:2:0.
    int conversionFlags = 0;

    std::array<std::uint8_t, kMaxBlocks> changed{};  // per block, or per macroblock for H.263/H.261
    std::array<std::uint16_t, kMaxLumaBlocks> blockOrder{};

    // Separable block-linear addressing: sample (x, y) of a plane lies at
    // rowPart[y] + colPart[x] from the plane's start.
    std::array<int, 288> lumaRow{};
    std::array<int, 352> lumaCol{};
    std::array<int, 144> chromaRow{};
    std::array<int, 176> chromaCol{};
};

// Process-wide table of halved squares: entry 255 + d holds d * d / 2.
const std::uint16_t* halvedSquares();

// Bit reader ------------------------------------------------------------

// Reads most significant bit first; zero bits after the end of the data.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t length)
        : m_data(data), m_length(length), m_totalBits(std::uint64_t(length) * 8) {
        refill();
    }
    // Up to 25 bits.
    std::uint32_t peek(int n) const { return std::uint32_t(m_cache >> (64 - n)); }
    void skip(int n) {
        m_cache <<= n;
        m_cached -= n;
        m_consumed += std::uint64_t(n);
        if (m_cached < 32) {
            refill();
        }
    }
    std::uint32_t get(int n) {
        const std::uint32_t v = n == 0 ? 0 : peek(n);
        skip(n);
        return v;
    }
    std::uint32_t get1() { return get(1); }
    // Bits of real data not yet read (0 once the data have ended).
    std::uint64_t bitsLeft() const { return m_consumed >= m_totalBits ? 0 : m_totalBits - m_consumed; }
    bool ended() const { return m_consumed >= m_totalBits; }
    // True once a read went past the end of the data.
    bool overrun() const { return m_consumed > m_totalBits; }
    // Bytes a reader that keeps 25 bits buffered would not have loaded yet:
    // the error detail of a failure.
    std::uint32_t bytesNotLoaded() const {
        const std::uint64_t loaded = (m_consumed + 25 + 7) / 8;
        return loaded >= m_length ? 0 : std::uint32_t(m_length - loaded);
    }
    std::uint64_t consumed() const { return m_consumed; }

private:
    void refill() {
        if (m_next + 8 <= m_length) {
            // Eight bytes at once; only the whole bytes that fit are taken.
            std::uint64_t v;
            std::memcpy(&v, m_data + m_next, 8);
            v = __builtin_bswap64(v);
            const int bytes = (64 - m_cached) >> 3;
            v &= ~std::uint64_t(0) << (64 - bytes * 8);
            m_cache |= v >> m_cached;
            m_cached += bytes * 8;
            m_next += std::size_t(bytes);
            return;
        }
        while (m_cached <= 56) {
            const std::uint64_t byte = m_next < m_length ? m_data[m_next] : 0;
            ++m_next;
            m_cache |= byte << (56 - m_cached);
            m_cached += 8;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_length;
    std::size_t m_next = 0;
    std::uint64_t m_totalBits;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_cache = 0;
    int m_cached = 0;
};

// Tables ------------------------------------------------------------------

extern const std::uint8_t kZigZag[64];

struct Vlc {
    std::int16_t symbol;  // -1 invalid
    std::uint8_t length;
};

struct VlcTable {
    int bits = 0;
    const Vlc* entries = nullptr;
    // The symbol of the next code, or -1 (nothing consumed) when there is none.
    int read(BitReader& br) const {
        const Vlc& e = entries[br.peek(bits)];
        if (e.length == 0) {
            return -1;
        }
        br.skip(e.length);
        return e.symbol;
    }
};

struct Tables {
    VlcTable h263Tcoef;     // symbol: tcoefSymbol of the code with its sign; kTcoefEscapeSymbol
    VlcTable mcbpcIntra;    // symbol: cbpc | type << 2; 8 stuffing
    VlcTable mcbpcInter;    // symbol: cbpc | type << 2; 20 stuffing
    VlcTable cbpy;          // symbol: the intra pattern
    VlcTable mvd;           // symbol: magnitude 0..32, a sign bit follows when not 0
    VlcTable h261Mba;       // symbol: 1..33, 34 stuffing
    VlcTable h261Mtype;     // symbol: 0..9
    VlcTable h261Mvd;       // symbol: magnitude 0..16, a sign bit follows when not 0
    VlcTable h261Cbp;       // symbol: 1..63
    VlcTable h261Tcoeff;    // symbol: index; kH261Eob, kH261Escape
};
const Tables& tables();

// A TCOEF code with its sign bit: LAST, RUN and the signed LEVEL in one symbol.
inline constexpr int tcoefSymbol(int last, int run, int level) { return (last << 13) | (run << 7) | (level + 64); }
inline constexpr int kTcoefEscapeSymbol = 0x3FFF;

struct RunLevel {
    std::uint8_t last, run, level;
};
extern const RunLevel kH263RunLevel[102];
inline constexpr int kH263Escape = 102;
extern const RunLevel kH261RunLevel[63];  // entry 0: run 0 level 1 ("11")
inline constexpr int kH261Eob = 63;
inline constexpr int kH261Escape = 64;

// H.261 MTYPE properties.
enum : std::uint8_t {
    kMtIntra = 1,
    kMtQuant = 2,
    kMtMvd = 4,
    kMtCbp = 8,
    kMtCoeff = 16,
    kMtFilter = 32,
};
extern const std::uint8_t kH261Mtype[10];

// Reconstruction ------------------------------------------------------------

// Inverse transform of one block into 8 x 8 samples at `out` (rows of 8).
void inverseTransformReplace(const std::int16_t* coefficients, std::uint8_t* out);
void inverseTransformAdd(const std::int16_t* coefficients, std::uint8_t* out);

// Lays the context out for a picture of w x h luma blocks of the given kind.
// Returns false (nothing changed) when the picture does not fit the stores.
bool layOut(KcExpandContextData& ctx, int kind, int widthBlocks, int heightBlocks, bool colour, bool chroma420,
            bool raw);
void computeConversionLayout(KcExpandContextData& ctx);

// H.263 half-pixel motion compensation of macroblock (mbx, mby) from store B
// into store A; chroma with the standard's derived vector.
void predictH263(KcExpandContextData& ctx, int mbx, int mby, int mvx, int mvy);
// H.261 whole-pixel prediction, optionally filtered.
void predictH261(KcExpandContextData& ctx, int mbx, int mby, int mvx, int mvy, bool filter);
// Copies every changed macroblock of an H.263 or H.261 picture from store A
// to store B; before each paint, and at each picture start, so that a picture
// decoded but never painted is still the next one's reference.
void updateReference(KcExpandContextData& ctx);

inline int macroblockLuma(const KcExpandContextData& /*ctx*/, int mb) { return mb * 256; }
inline int macroblockCb(const KcExpandContextData& ctx, int mb) { return ctx.layout.cbOffset + mb * 64; }
inline int macroblockCr(const KcExpandContextData& ctx, int mb) { return ctx.layout.crOffset + mb * 64; }

// Parsers -------------------------------------------------------------------

void decodeBlockPacket(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length,
                       PacketOutcome& outcome);
void decodeH263(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length, PacketOutcome& outcome);
void decodeH261(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length, PacketOutcome& outcome);

// Painting ----------------------------------------------------------------------

void paint(KcExpandContextData& ctx, std::uint8_t* output);
void buildColourTable(ColourTable& table, const RGBQUAD* palette, int count);
void calculatePalette(KcExpandContextData& ctx, int maximum, RGBQUAD* out);
void convertPixel(int y, int cb, int cr, std::uint8_t* bgr);

// For tests and benchmarks ------------------------------------------------------

KcExpandContextData& data(KcExpandContext* context);
// The last error and its detail.
std::uint32_t lastError(const KcExpandContext* context, std::uint32_t* detail = nullptr);
// Copies the decoded picture (store A) as raster planes: luma width x height,
// chroma (width / 2) x (height / 2). Returns false for a picture without colour.
bool copyPlanes(const KcExpandContext* context, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr);

}  // namespace kcexpand

struct KcExpandContext {
    kcexpand::KcExpandContextData d;
};
