// The decoder's interface, block packets, stream errors, reconstruction and
// painting, through the library's entry points.

#include "kcexpand/kc_context.h"
#include "kcexpand/kcexpand.h"
#include "kcexpand/testing/ffmpeg_streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Context {
    KcExpandContext* ctx = KcExpandOpen();
    BITMAPINFOHEADER format{};
    ~Context() { KcExpandClose(ctx); }
    // 24-bit output of w x h, top-down.
    bool output(int w, int h, int mode = KCMODE_BGR24) {
        format.biSize = 40;
        format.biWidth = w;
        format.biHeight = -h;
        format.biBitCount = 24;
        const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
                                  {KCATTR_OUTPUT_MODE, 2, std::uintptr_t(mode)}};
        return KcExpandSetAttributes(ctx, items, 2) == 1;
    }
    kcexpand::KcExpandContextData& d() { return kcexpand::data(ctx); }
};

// Writes bits most significant first.
class BitWriter {
public:
    void put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (m_used % 8 == 0) m_bytes.push_back(0);
            if ((value >> i) & 1) m_bytes.back() |= std::uint8_t(0x80 >> (m_used % 8));
            ++m_used;
        }
    }
    // An escaped coefficient (LAST, RUN, LEVEL).
    void escape(int last, int run, int level) {
        put(0x3, 7);
        put(std::uint32_t(last), 1);
        put(std::uint32_t(run), 6);
        put(std::uint32_t(level & 0xFF), 8);
    }
    Bytes bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    int m_used = 0;
};

Bytes blockPacket(std::uint8_t flags, std::uint8_t quant, std::uint8_t w, std::uint8_t h, int first, int count,
                  const Bytes& payload, int lengthField = -1) {
    const int length = lengthField >= 0 ? lengthField : int(payload.size()) + 11;
    Bytes p = {1,     std::uint8_t(length >> 8), std::uint8_t(length), flags, quant, w, h, std::uint8_t(first >> 8),
               std::uint8_t(first), std::uint8_t(count >> 8), std::uint8_t(count)};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

constexpr std::uint8_t kContiguous = 1, kGrey = 2, kLast = 4, kRaw = 8;

// The coded payload of one block carrying its DC level only.
Bytes dcOnlyBlock(std::uint8_t level) {
    BitWriter bits;
    bits.put(0b01, 2);
    bits.put(level, 8);
    return bits.bytes();
}

std::uint8_t pixel(const Bytes& image, int w, int x, int y, int channel = 0) {
    return image[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3 + std::size_t(channel)];
}

// Interface -----------------------------------------------------------------------

TEST(KcExpandAttributes, FormatRules) {
    Context c;
    // No format ever given: refused, nothing changes.
    const MetaItem mode{KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24};
    EXPECT_EQ(KcExpandSetAttributes(c.ctx, &mode, 1), 0);
    EXPECT_EQ(c.d().settings.mode, KCMODE_NONE);

    BITMAPINFOHEADER f{};
    f.biSize = 40;
    f.biWidth = 7;
    f.biHeight = 100;
    const MetaItem narrow{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&f)};
    EXPECT_EQ(KcExpandSetAttributes(c.ctx, &narrow, 1), 0);
    EXPECT_EQ(c.d().settings.format, nullptr);

    // A format item shorter than its header is refused before it is read.
    f.biWidth = 100;
    const MetaItem shortItem{KCATTR_FORMAT, 20, reinterpret_cast<std::uintptr_t>(&f)};
    EXPECT_EQ(KcExpandSetAttributes(c.ctx, &shortItem, 1), 0);

    f.biHeight = -300;
    f.biClrUsed = 1000;
    const MetaItem tall{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&f)};
    EXPECT_EQ(KcExpandSetAttributes(c.ctx, &tall, 1), 1);
    EXPECT_TRUE(c.d().settings.topDown);
    EXPECT_EQ(c.d().settings.outHeight, 288);
    EXPECT_EQ(c.d().settings.paletteSize, 256);  // clamped

    // Once a format is there, later calls without one succeed.
    EXPECT_EQ(KcExpandSetAttributes(c.ctx, &mode, 1), 1);
    EXPECT_EQ(c.d().settings.mode, KCMODE_BGR24);

    for (std::uint32_t n : {0u, 1u, 2u, 6u}) EXPECT_EQ(KcExpandGetAttribute(c.ctx, n), 0u) << n;
}

TEST(KcExpandAttributes, PaletteModeNeedsAPaletteAndUsesOnlyTheEntriesPresent) {
    Context c;
    ASSERT_TRUE(c.output(16, 16, KCMODE_PALETTE8));
    EXPECT_EQ(c.d().settings.mode, KCMODE_NONE);  // no palette ever given

    c.format.biClrUsed = 16;
    RGBQUAD palette[4] = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}};
    const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&c.format)},
                              {KCATTR_PALETTE, sizeof palette, reinterpret_cast<std::uintptr_t>(palette)},
                              {KCATTR_OUTPUT_MODE, 2, KCMODE_PALETTE8}};
    ASSERT_EQ(KcExpandSetAttributes(c.ctx, items, 3), 1);
    EXPECT_EQ(c.d().settings.mode, KCMODE_PALETTE8);
    EXPECT_EQ(c.d().colours.count, 4);  // 16 announced, 4 present

    // The same mode again without a palette keeps the table.
    c.d().colours.count = 99;
    const MetaItem again{KCATTR_OUTPUT_MODE, 2, KCMODE_PALETTE8};
    ASSERT_EQ(KcExpandSetAttributes(c.ctx, &again, 1), 1);
    EXPECT_EQ(c.d().colours.count, 99);
}

TEST(KcExpandMeta, ItemsAndLists) {
    const MetaItem item{1, 2, 0x1234};
    auto* copy = static_cast<std::uint8_t*>(MetaCopyBuffer(&item));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 0x12);
    EXPECT_EQ(copy[1], 0x34);
    GFree(copy);
    EXPECT_EQ(MetaWord(&item), 0x1234);
    std::uint8_t out[16] = {};
    EXPECT_EQ(MetaListToBufferLength(1, &item), 6u);
    EXPECT_EQ(MetaListToBuffer(1, &item, sizeof out, out), 6u);
    const std::uint8_t expected[] = {0x00, 0x01, 0x00, 0x02, 0x12, 0x34};
    EXPECT_EQ(std::memcmp(out, expected, 6), 0);
    EXPECT_EQ(MetaListToBuffer(1, &item, 5, out), 0u);  // no room
    EXPECT_EQ(MetaListToBuffer(0, &item, 16, out), 0u);
    EXPECT_EQ(GReAlloc(nullptr, 0), nullptr);
    EXPECT_EQ(GAlloc(0), nullptr);
}

// Block packets ---------------------------------------------------------------------------

TEST(BlockPackets, RawBlocksLandAtTheirStorageIndices) {
    Context c;
    ASSERT_TRUE(c.output(32, 32));
    Bytes image(32 * 32 * 3, 0xEE);
    // Contiguous raw blocks 0..3 of a 4 x 4 grey picture: the top-left macroblock.
    Bytes contiguous;
    for (int b = 0; b < 4; ++b) contiguous.insert(contiguous.end(), 64, std::uint8_t(10 + b));
    std::uint32_t r = KcExpandBuffer(c.ctx, blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 4, 4, 0, 4, contiguous).data(),
                                     std::uint32_t(contiguous.size() + 11), image.data());
    EXPECT_EQ(r, kKcFormatChanged);
    EXPECT_EQ(KcExpandGetAttribute(c.ctx, kKcAttrWidth), 32u);
    EXPECT_EQ(KcExpandGetAttribute(c.ctx, kKcAttrColour), 0u);
    // Top-left, top-right, bottom-left, bottom-right of the macroblock.
    EXPECT_EQ(pixel(image, 32, 0, 0), 10);
    EXPECT_EQ(pixel(image, 32, 8, 0), 11);
    EXPECT_EQ(pixel(image, 32, 0, 8), 12);
    EXPECT_EQ(pixel(image, 32, 15, 15), 13);
    EXPECT_EQ(pixel(image, 32, 16, 0), 0xEE);  // not painted

    // Records with skips: block 5, then 5 + 2 + 1 = 8; one record too many for the data.
    Bytes records;
    for (int k = 0; k < 2; ++k) {
        records.insert(records.end(), 64, std::uint8_t(100 + k));
        records.push_back(0);
        records.push_back(2);
    }
    const Bytes packet = blockPacket(kRaw | kGrey | kLast, 1, 4, 4, 5, 3, records);
    r = KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data());
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(pixel(image, 32, 24, 0), 100);  // storage 5: macroblock 1, top-right
    EXPECT_EQ(pixel(image, 32, 0, 16), 101);  // storage 8: macroblock 2, top-left
    EXPECT_EQ(pixel(image, 32, 8, 16), 0xEE);
}

TEST(BlockPackets, CodedBlocksRoundTrip) {
    Context c;
    ASSERT_TRUE(c.output(16, 16));
    Bytes image(16 * 16 * 3, 0);
    // A colour 2 x 2 picture: four luma blocks, Cb, Cr. Luma: DC 128, DC 255
    // (stands for 128), skip, DC 60 with one AC coefficient; Cb and Cr DC-only.
    BitWriter bits;
    bits.put(0b01, 2); bits.put(128, 8);        // block 0: DC only
    bits.put(0b01, 2); bits.put(255, 8);        // block 1
    bits.put(1, 1);                             // block 2 not carried
    bits.put(0b00, 2); bits.put(60, 8);         // block 3 with AC
    bits.escape(1, 0, 3);                       //   position 1, level 3
    bits.put(0b01, 2); bits.put(100, 8);        // Cb
    bits.put(0b01, 2); bits.put(170, 8);        // Cr
    const Bytes packet = blockPacket(kLast, 2, 2, 2, 0, 5, bits.bytes());
    ASSERT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()), kKcFormatChanged);

    std::int16_t coef[64] = {};
    coef[0] = 8 * 60;
    coef[1] = 2 * (2 * 3 + 1) - 1;  // even quantiser
    std::uint8_t expected3[64];
    kcexpand::inverseTransformReplace(coef, expected3);
    std::uint8_t bgr[3];
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int block = (y / 8) * 2 + (x / 8);
            const int luma = block == 3 ? expected3[(y % 8) * 8 + x % 8] : block == 2 ? 0 : 128;
            kcexpand::convertPixel(luma, 100, 170, bgr);
            for (int ch = 0; ch < 3; ++ch) {
                EXPECT_EQ(pixel(image, 16, x, y, ch), bgr[ch]) << x << "," << y;
            }
        }
    }
}

// Raw blocks and then coded blocks in one picture: the switch of the raw flag
// keeps the raw blocks' marks, so the end of the picture transforms them from
// the coefficients last stored for them, and the screen shows what the store
// holds.
TEST(BlockPackets, RawBlocksBeforeCodedOnesAreTransformedAndPainted) {
    Context c;
    ASSERT_TRUE(c.output(32, 32));
    Bytes image(32 * 32 * 3, 0xEE);
    Bytes packet = blockPacket(kGrey | kLast, 1, 4, 4, 0, 1, dcOnlyBlock(100));  // block 0
    ASSERT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()), kKcFormatChanged);
    ASSERT_EQ(pixel(image, 32, 0, 0), 100);
    KcExpandSetNextAllChanged(c.ctx);
    KcExpandRedraw(c.ctx, image.data());  // the screen starts as the store

    // Raw blocks 0..3 (the top-left macroblock), not the end of the picture.
    const Bytes raw(4 * 64, 50);
    packet = blockPacket(kRaw | kContiguous | kGrey, 1, 4, 4, 0, 4, raw);
    EXPECT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()),
              kKcFormatChanged | kKcNotPainted);
    // Coded block 5 ends the picture.
    packet = blockPacket(kGrey | kLast, 1, 4, 4, 5, 1, dcOnlyBlock(200));
    EXPECT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()), kKcFormatChanged);

    Bytes y(32 * 32);
    kcexpand::copyPlanes(c.ctx, y.data(), nullptr, nullptr);
    EXPECT_EQ(y[0], 100);            // block 0: its stored coefficients again
    EXPECT_EQ(y[8], 0);              // block 1: never coded, all coefficients zero
    EXPECT_EQ(y[9 * 32 + 9], 0);     // block 3
    EXPECT_EQ(y[24], 200);           // block 5
    for (int at = 0; at < 32 * 32; ++at) {
        ASSERT_EQ(pixel(image, 32, at % 32, at / 32), y[std::size_t(at)]) << at % 32 << "," << at / 32;
    }
}

TEST(BlockPackets, HeaderErrorsAndLimits) {
    struct Case {
        const char* name;
        Bytes packet;
        std::uint32_t length;  // 0: the packet's size
        std::uint32_t result;
    };
    const Bytes payload(64, 7);
    const Bytes tenBytes = {1, 0, 10, kLast, 1, 2, 2, 0, 0, 0};
    const std::vector<Case> cases = {
        {"ten bytes", tenBytes, 0, kKcNotPainted},
        {"length field 11", blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 2, 2, 0, 1, payload, 11), 0,
         kKcNotPainted},
        {"larger than the stores", blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 46, 36, 0, 1, payload), 0,
         kKcNotPainted},
        {"zero width", blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 0, 2, 0, 1, payload), 0, kKcNotPainted},
        {"count 0 re-lays", blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 4, 2, 0, 0, payload), 0,
         kKcNotPainted | kKcFormatChanged},
        // A length field past the packet is cut to it: the data that is there is used.
        {"long length field", blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 2, 2, 0, 2, payload, 4000), 0,
         kKcFormatChanged},
    };
    for (const Case& k : cases) {
        Context c;
        ASSERT_TRUE(c.output(32, 32));
        Bytes image(32 * 32 * 3, 0xEE);
        const std::uint32_t length = k.length != 0 ? k.length : std::uint32_t(k.packet.size());
        EXPECT_EQ(KcExpandBuffer(c.ctx, k.packet.data(), length, image.data()), k.result) << k.name;
    }
}

TEST(BlockPackets, CodedCountBeyondTheDataStopsQuietly) {
    Context c;
    ASSERT_TRUE(c.output(16, 16));
    Bytes image(16 * 16 * 3, 0);
    const Bytes packet = blockPacket(kLast | kGrey, 1, 2, 2, 0, 4, dcOnlyBlock(200));
    EXPECT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()), kKcFormatChanged);
    EXPECT_EQ(pixel(image, 16, 0, 0), 200);
    EXPECT_EQ(pixel(image, 16, 1, 0), 200);
    EXPECT_EQ(pixel(image, 16, 2, 0), 200);
    EXPECT_EQ(pixel(image, 16, 8, 0), 0);
}

// Stream errors ----------------------------------------------------------------

// What the error callback was told, in order.
struct ReportedErrors {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> codes;  // code, detail
    static void note(void* user, std::uint32_t code, std::uint32_t detail) {
        static_cast<ReportedErrors*>(user)->codes.emplace_back(code, detail);
    }
};

std::uint32_t errorOf(const Bytes& packet, int forcedKind = 0, bool payloadHeader = false) {
    Context c;
    EXPECT_TRUE(c.output(352, 288));
    const MetaItem items[] = {{KCATTR_STREAM_KIND, 2, std::uintptr_t(forcedKind)},
                              {KCATTR_PAYLOAD_HEADER, 2, payloadHeader ? 1u : 0u}};
    KcExpandSetAttributes(c.ctx, items, 2);
    ReportedErrors errors;
    KcExpandSetErrorCallback(c.ctx, &ReportedErrors::note, &errors);
    Bytes image(352 * 288 * 3);
    KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data());
    EXPECT_LE(errors.codes.size(), 1u) << "one packet, one report at most";
    return errors.codes.empty() ? KCERR_NONE : errors.codes.front().first;
}

Bytes realH263Picture(int index) {
    const char* home = std::getenv("VELMOOR_HOME");
    const Bytes stream = kcexpand::testing::encodeStream(std::filesystem::path(home ? home : "/tmp") / "streams",
                                                         "h263", "qcif", 6, 3);
    return kcexpand::testing::splitPictures(stream, false).at(std::size_t(index));
}

void setBit(Bytes& b, int bit, bool on) {
    const std::uint8_t mask = std::uint8_t(0x80 >> (bit % 8));
    b[std::size_t(bit / 8)] = on ? b[std::size_t(bit / 8)] | mask : b[std::size_t(bit / 8)] & ~mask;
}

TEST(StreamErrors, CorruptAndTruncatedPicturesGiveTheirCodes) {
    const Bytes intra = realH263Picture(0);
    Bytes optional = intra;
    setBit(optional, 30 + 9, true);  // PTYPE bit 10: unrestricted vectors
    Bytes badFormat = intra;
    setBit(badFormat, 30 + 5, true);  // PTYPE bits 6-8 become 7
    setBit(badFormat, 30 + 6, true);
    setBit(badFormat, 30 + 7, true);
    Bytes badPtype = intra;
    setBit(badPtype, 30 + 0, false);  // PTYPE must begin with 1 0
    Bytes truncated(intra.begin(), intra.begin() + std::ptrdiff_t(intra.size() / 2));
    truncated.back() = 0xFF;  // cut inside a macroblock, not at its stuffing
    const Bytes gobWithoutHeader = {0x00, 0x00, 0x84, 0x00, 0xFF};
    const Bytes notAStartCode = {0x00, 0x10, 0x80, 0x00};
    EXPECT_EQ(errorOf(optional), KCERR_OPTIONAL_MODE);
    EXPECT_EQ(errorOf(badFormat), KCERR_SOURCE_FORMAT);
    EXPECT_EQ(errorOf(badPtype), KCERR_PTYPE);
    EXPECT_EQ(errorOf(gobWithoutHeader), KCERR_NO_START_CODE);
    EXPECT_EQ(errorOf(notAStartCode, 2), KCERR_NO_START_CODE);
    EXPECT_NE(errorOf(truncated), KCERR_NONE);

    // Payload headers: F and P bits, and a packet too short to hold one.
    const Bytes withF = {0x80, 0x40, 0x80, 0x00, 0x00, 0x00, 0x80};
    const Bytes withP = {0x40, 0x40, 0x80, 0x00, 0x00, 0x00, 0x80};
    const Bytes tooShort = {0x00, 0x40, 0x80, 0x00};
    EXPECT_EQ(errorOf(withF, 2, true), KCERR_PAYLOAD_F);
    EXPECT_EQ(errorOf(withP, 2, true), KCERR_PAYLOAD_P);
    EXPECT_EQ(errorOf(tooShort, 2, true), KCERR_DATA_ENDED);

    // H.261: a macroblock before any GOB, the data ending there, a GOB number QCIF has not.
    const Bytes mbBeforeGob = {0x00, 0x01, 0x00, 0x08, 0xFF, 0xFF};
    const Bytes endBeforeGob = {0x00, 0x01, 0x00, 0x08};
    const Bytes qcifGob2 = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00};
    EXPECT_EQ(errorOf(mbBeforeGob), KCERR_MB_BEFORE_GOB);
    EXPECT_EQ(errorOf(endBeforeGob), KCERR_DATA_ENDED);
    EXPECT_EQ(errorOf(qcifGob2), KCERR_GOB_NUMBER);
}

// A QCIF P-picture: an intra macroblock, then one of the unsupported INTER4V type.
TEST(StreamErrors, Inter4vStopsThePictureAndKeepsWhatCameBefore) {
    BitWriter bits;
    bits.put(0x20, 22);             // PSC
    bits.put(0, 8);                 // TR
    bits.put(0b1000001010000, 13);  // PTYPE: QCIF, INTER
    bits.put(5, 5);                 // PQUANT
    bits.put(0, 2);                 // CPM, PEI
    bits.put(0, 1);                 // COD: coded
    bits.put(0b00011, 5);           // MCBPC: INTRA, no chroma coefficients
    bits.put(0b0011, 4);            // CBPY: no luma coefficients
    for (int b = 0; b < 6; ++b) bits.put(200, 8);
    bits.put(0, 1);
    bits.put(0b010, 3);  // MCBPC: INTER4V
    bits.put(0xFFFF, 16);
    Context c;
    ASSERT_TRUE(c.output(176, 144));
    Bytes image(176 * 144 * 3);
    const Bytes packet = bits.bytes();
    EXPECT_EQ(KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data()),
              kKcNotPainted | kKcFormatChanged);
    EXPECT_EQ(kcexpand::lastError(c.ctx), KCERR_MB_TYPE);
    Bytes y(176 * 144), cb(88 * 72), cr(88 * 72);
    kcexpand::copyPlanes(c.ctx, y.data(), cb.data(), cr.data());
    EXPECT_EQ(y[0], 200);
    EXPECT_EQ(y[15 * 176 + 15], 200);
    EXPECT_EQ(cb[0], 200);
    EXPECT_EQ(y[16], 0);  // the second macroblock was not decoded
}

// Each context reports to its own callback: a failing packet is reported once,
// with its code, to the context it was given to and to no other; a good
// picture after it decodes and paints. The item that once
// named a message window is skipped.
TEST(StreamErrors, ErrorsGoToTheCallbackOfTheirOwnContext) {
    Context failing, quiet;
    ASSERT_TRUE(failing.output(176, 144));
    ASSERT_TRUE(quiet.output(176, 144));
    const MetaItem window{KCATTR_NO_WINDOW, 4, 0x1234};
    ASSERT_EQ(KcExpandSetAttributes(failing.ctx, &window, 1), 1);
    ReportedErrors failingErrors, quietErrors;
    KcExpandSetErrorCallback(failing.ctx, &ReportedErrors::note, &failingErrors);
    KcExpandSetErrorCallback(quiet.ctx, &ReportedErrors::note, &quietErrors);
    Bytes optional = realH263Picture(0);
    setBit(optional, 30 + 9, true);
    const Bytes good = realH263Picture(0);
    Bytes image(176 * 144 * 3);
    EXPECT_EQ(KcExpandBuffer(failing.ctx, optional.data(), std::uint32_t(optional.size()), image.data()) &
                  kKcNotPainted,
              kKcNotPainted);
    EXPECT_EQ(KcExpandBuffer(quiet.ctx, good.data(), std::uint32_t(good.size()), image.data()) & kKcNotPainted, 0u);
    ASSERT_EQ(failingErrors.codes.size(), 1u);
    EXPECT_EQ(failingErrors.codes[0].first, KCERR_OPTIONAL_MODE);
    EXPECT_TRUE(quietErrors.codes.empty());
    EXPECT_EQ(kcexpand::lastError(failing.ctx), 0u);  // cleared once reported
    EXPECT_EQ(KcExpandBuffer(failing.ctx, good.data(), std::uint32_t(good.size()), image.data()) & kKcNotPainted,
              0u);
    EXPECT_EQ(failingErrors.codes.size(), 1u);
    // Cleared, the callback hears of no further error.
    KcExpandSetErrorCallback(failing.ctx, nullptr, &failingErrors);
    KcExpandBuffer(failing.ctx, optional.data(), std::uint32_t(optional.size()), image.data());
    EXPECT_EQ(failingErrors.codes.size(), 1u);
}

TEST(StreamErrors, EndOfSequenceAndEmptyPacketsReportNothing) {
    Context c;
    ASSERT_TRUE(c.output(176, 144));
    Bytes image(176 * 144 * 3);
    const Bytes eos = {0x00, 0x00, 0xFC, 0x00};
    EXPECT_EQ(KcExpandBuffer(c.ctx, eos.data(), 4, image.data()), kKcNotPainted);
    EXPECT_EQ(kcexpand::lastError(c.ctx), 0u);
    const Bytes two = {0x00, 0x00};
    EXPECT_EQ(KcExpandBuffer(c.ctx, two.data(), 2, image.data()), kKcNotPainted);
}

// Reconstruction -------------------------------------------------------------------

TEST(Reconstruction, InverseTransformLevels) {
    std::int16_t coef[64] = {};
    std::uint8_t out[64];
    coef[0] = 1024;
    kcexpand::inverseTransformReplace(coef, out);
    for (std::uint8_t v : out) EXPECT_EQ(v, 128);
    coef[0] = 1028;  // the H.261 intra DC of level 128
    kcexpand::inverseTransformReplace(coef, out);
    for (std::uint8_t v : out) EXPECT_EQ(v, 129);
    coef[0] = 300 * 8;
    std::memset(out, 200, 64);
    kcexpand::inverseTransformAdd(coef, out);
    for (std::uint8_t v : out) EXPECT_EQ(v, 255);
    coef[0] = -300 * 8;
    kcexpand::inverseTransformAdd(coef, out);
    for (std::uint8_t v : out) EXPECT_EQ(v, 0);
}

// A picture of QCIF macroblocks in store B whose luma and chroma samples equal
// their column: a prediction's offset shows as the sample values.
void columnRamp(Context& c, int kind) {
    ASSERT_TRUE(kcexpand::layOut(c.d(), kind, 22, 18, true, true, false));
    auto& d = c.d();
    for (int y = 0; y < 144; ++y)
        for (int x = 0; x < 176; ++x) d.storeB[d.lumaRow[std::size_t(y)] + d.lumaCol[std::size_t(x)]] = std::uint8_t(x);
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 88; ++x) {
            d.storeB[d.layout.cbOffset + d.chromaRow[std::size_t(y)] + d.chromaCol[std::size_t(x)]] = std::uint8_t(x);
            d.storeB[d.layout.crOffset + d.chromaRow[std::size_t(y)] + d.chromaCol[std::size_t(x)]] = std::uint8_t(x);
        }
}

TEST(Reconstruction, MotionVectors) {
    Context c;
    columnRamp(c, kcexpand::kKindH261);
    auto& d = c.d();
    const int mb = 1 * 11 + 2;  // macroblock (2, 1): luma x 32.., chroma x 16..
    kcexpand::predictH261(d, 2, 1, 3, 0, false);
    EXPECT_EQ(d.storeA[kcexpand::macroblockLuma(d, mb)], 35);
    EXPECT_EQ(d.storeA[kcexpand::macroblockCb(d, mb)], 18);  // (3 + 1) / 2 = 2
    kcexpand::predictH261(d, 2, 1, -3, 0, false);
    EXPECT_EQ(d.storeA[kcexpand::macroblockLuma(d, mb)], 29);
    EXPECT_EQ(d.storeA[kcexpand::macroblockCb(d, mb)], 15);  // (-3 + 1) / 2 = -1

    // H.263 (1, 0) half pixels: each sample averaged with its right neighbour, rounding up.
    Context h;
    columnRamp(h, kcexpand::kKindH263);
    auto& e = h.d();
    kcexpand::predictH263(e, 2, 1, 1, 0);
    EXPECT_EQ(e.storeA[kcexpand::macroblockLuma(e, mb)], 33);  // (32 + 33 + 1) / 2
    // A vector past the left edge reads the clamped edge column.
    kcexpand::predictH263(e, 0, 1, -32, 0);
    EXPECT_EQ(e.storeA[kcexpand::macroblockLuma(e, 11)], 0);
}

// Painting -------------------------------------------------------------------------------

TEST(Painting, ColourConversionAndModes) {
    std::uint8_t bgr[3];
    kcexpand::convertPixel(128, 128, 128, bgr);
    EXPECT_EQ(bgr[0], 128);
    EXPECT_EQ(bgr[1], 128);
    EXPECT_EQ(bgr[2], 128);
    kcexpand::convertPixel(255, 128, 255, bgr);
    EXPECT_EQ(bgr[2], 255);

    // A 2 x 2 grey raw picture in a 16 x 12 output: the lower block row does not fit.
    for (int mode : {KCMODE_BGR24, KCMODE_UYVY16}) {
        Context c;
        c.format.biSize = 40;
        c.format.biWidth = 16;
        c.format.biHeight = 12;  // bottom-up
        const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&c.format)},
                                  {KCATTR_OUTPUT_MODE, 2, std::uintptr_t(mode)}};
        ASSERT_EQ(KcExpandSetAttributes(c.ctx, items, 2), 1);
        const Bytes pixels(4 * 64, 90);
        const Bytes packet = blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 2, 2, 0, 4, pixels);
        const int bpp = mode == KCMODE_BGR24 ? 3 : 2;
        Bytes image(16 * 12 * std::size_t(bpp), 0xEE);
        KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data());
        // Output row 0 (the top) is the last row in memory.
        const std::uint8_t* top = &image[11 * 16 * std::size_t(bpp)];
        if (mode == KCMODE_BGR24) {
            EXPECT_EQ(top[0], 90);
            EXPECT_EQ(top[1], 90);
            EXPECT_EQ(top[2], 90);
        } else {
            EXPECT_EQ(top[0], 128);  // grey: chroma 128
            EXPECT_EQ(top[1], 90);
        }
        EXPECT_EQ(image[0], 0xEE) << "row 11 belongs to a block that does not fit";
    }
}

TEST(Painting, NearestColourTieGoesToTheLaterEntry) {
    kcexpand::ColourTable table;
    // Two entries at the same distance from grey 128: 126 and 130 in luminance.
    const RGBQUAD palette[2] = {{126, 126, 126, 0}, {130, 130, 130, 0}};
    kcexpand::buildColourTable(table, palette, 2);
    Context c;
    ASSERT_TRUE(c.output(16, 16));
    c.d().colours = table;
    c.d().settings.mode = KCMODE_PALETTE8;
    const Bytes pixels(4 * 64, 128);
    const Bytes packet = blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 2, 2, 0, 4, pixels);
    Bytes image(16 * 16, 0xEE);
    KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data());
    EXPECT_EQ(image[0], 1);
}

TEST(Painting, CalculatedPalettes) {
    Context c;
    ASSERT_TRUE(c.output(32, 32));
    // Ten distinct greys (multiples of 4) in a grey raw picture: first seen order.
    Bytes pixels(16 * 64);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t(((i / 64) % 10) * 20);
    const Bytes packet = blockPacket(kRaw | kContiguous | kGrey | kLast, 1, 4, 4, 0, 16, pixels);
    Bytes image(32 * 32 * 3);
    KcExpandBuffer(c.ctx, packet.data(), std::uint32_t(packet.size()), image.data());
    RGBQUAD out[256] = {};
    KcExpandCalculatePalette(c.ctx, 16, out);
    // Raster order of blocks: storage 0, 1, 4, 5 in the first block row.
    const int firstSeen[] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(out[i].rgbRed, firstSeen[i] % 10 * 20) << i;
        EXPECT_EQ(out[i].rgbBlue, out[i].rgbRed);
    }
    // Median cut down to 4 colours: 4 distinct entries, all from the picture.
    RGBQUAD four[256] = {};
    KcExpandCalculatePalette(c.ctx, 4, four);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(four[i].rgbRed % 20, 0);
        for (int j = 0; j < i; ++j) EXPECT_NE(four[i].rgbRed, four[j].rgbRed);
    }
}

}  // namespace
