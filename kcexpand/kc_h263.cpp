// H.263 baseline pictures (sub-QCIF, QCIF, CIF; no optional modes), with an
// optional 4-byte payload header in front.

#include "kcexpand/kc_coefficients.h"
#include "kcexpand/kc_context.h"

#include <algorithm>
#include <cstring>

namespace kcexpand {

namespace {

struct SourceFormat {
    int widthBlocks, heightBlocks;
};

bool sourceFormat(int code, SourceFormat& f) {
    switch (code) {
    case 1: f = {16, 12}; return true;
    case 2: f = {22, 18}; return true;
    case 3: f = {44, 36}; return true;
    default: return false;
    }
}

class H263Decoder {
public:
    H263Decoder(KcExpandContextData& ctx, PacketOutcome& outcome, BitReader& br)
        : m_ctx(ctx), m_out(outcome), m_br(br) {}

    void run(const std::uint8_t* data, std::uint32_t length);

private:
    bool fail(std::uint32_t code) {
        m_ctx.lastError = code;
        m_ctx.errorDetail = code == KCERR_PAYLOAD_F || code == KCERR_PAYLOAD_P ? 0 : m_br.bytesNotLoaded();
        m_out.error = true;
        return false;
    }
    bool setFormat(int code);
    // At a start code (after any stuffing zeros)? Returns the 5 bits after the
    // 17-bit prefix, or -1 when no start code follows.
    int startCodeAhead();
    bool atEnd() const;
    // The picture's rows of macroblocks from `firstRow` (-1: a GOB header
    // names the first), each after the GOB header that may precede it.
    void decodeRows(int firstRow);
    bool macroblockRow(int row);
    bool macroblock(int mbx, int mby);
    int predictVector(int mbx, int mby, int component) const;
    bool readVectorComponent(int prediction, int& v);

    KcExpandContextData& m_ctx;
    PacketOutcome& m_out;
    BitReader& m_br;
    const Tables& m_tables = tables();
    bool m_inter = false;
    int m_quant = 1;
    int m_gobStartRow = 0;  // top row of the GOB whose header was present
    bool m_gobHeader = false;
    bool m_reachedEnd = false;
    int m_lastRowDone = -1;
};

bool H263Decoder::setFormat(int code) {
    SourceFormat f{};
    if (!sourceFormat(code, f)) {
        return fail(KCERR_SOURCE_FORMAT);
    }
    const Layout& l = m_ctx.layout;
    if (l.kind != kKindH263 || l.widthBlocks != f.widthBlocks || l.heightBlocks != f.heightBlocks) {
        layOut(m_ctx, kKindH263, f.widthBlocks, f.heightBlocks, true, true, false);
        std::memset(m_ctx.storeA + m_ctx.layout.cbOffset, 128, std::size_t(m_ctx.layout.chromaBlocks) * 64 * 2);
        m_ctx.vectors.fill(0);
        m_out.formatChanged = true;
    }
    return true;
}

int H263Decoder::startCodeAhead() {
    // Stuffing before a start code: zero bits up to the byte boundary.
    if (m_br.bitsLeft() < 17) {
        return -1;
    }
    int zeros = 0;
    while (zeros < 24 && m_br.peek(zeros + 1) == 0) {
        ++zeros;
    }
    if (zeros < 16 || zeros > 23 || m_br.bitsLeft() < std::uint64_t(zeros + 6)) {
        return -1;
    }
    return int(m_br.peek(zeros + 6) & 0x1F) | (zeros << 8);
}

void H263Decoder::run(const std::uint8_t* data, std::uint32_t length) {
    bool payloadHeader = m_ctx.settings.payloadHeader;
    if (payloadHeader) {
        if (length < 5) {
            m_ctx.lastError = KCERR_DATA_ENDED;
            m_ctx.errorDetail = 0;
            m_out.error = true;
            return;
        }
        const std::uint8_t b0 = data[0], b1 = data[1], b2 = data[2];
        if (b0 & 0x80) {
            fail(KCERR_PAYLOAD_F);
            return;
        }
        if (b0 & 0x40) {
            fail(KCERR_PAYLOAD_P);
            return;
        }
        m_br.skip(32);
        m_br.skip((b0 >> 3) & 7);
        if (!setFormat(b1 >> 5)) {
            return;
        }
        if (b2 & 0x60) {
            fail(KCERR_OPTIONAL_MODE);
            return;
        }
        m_inter = (b2 & 0x80) == 0;
        m_quant = std::max(1, m_ctx.quantiser);
    }
    if (m_br.bitsLeft() < 16) {
        return;  // empty
    }
    if (m_br.peek(16) != 0) {
        fail(KCERR_NO_START_CODE);
        return;
    }
    if (m_br.bitsLeft() < 22) {
        return;  // empty
    }
    const int ahead = startCodeAhead();
    if (ahead < 0) {
        fail(KCERR_NO_START_CODE);
        return;
    }
    const int zeros = ahead >> 8;
    const int gn = ahead & 0x1F;
    if (gn == 31) {
        return;  // EOS: empty
    }
    int firstRow = 0;
    if (gn == 0) {
        m_br.skip(zeros + 6);
        m_br.skip(8);  // TR
        if (m_br.get(2) != 2) {
            fail(KCERR_PTYPE);
            return;
        }
        m_br.skip(3);
        updateReference(m_ctx);
        if (!setFormat(int(m_br.get(3)))) {
            return;
        }
        m_inter = m_br.get1() != 0;
        if (m_br.get(4) != 0) {
            fail(KCERR_OPTIONAL_MODE);
            return;
        }
        m_quant = std::max(1, int(m_br.get(5)));
        const int cpm = int(m_br.get1());
        const int pei = int(m_br.get1());
        if (cpm || pei) {
            fail(KCERR_PTYPE);
            return;
        }
        if (m_br.overrun()) {
            fail(KCERR_DATA_ENDED);
            return;
        }
        payloadHeader = false;  // the picture header rules
    } else {
        if (!payloadHeader) {
            fail(KCERR_NO_START_CODE);
            return;
        }
        firstRow = -1;  // the GOB header below names it
    }
    decodeRows(firstRow);
}

void H263Decoder::decodeRows(int firstRow) {
    const int rows = m_ctx.layout.mbHeight;
    int row = firstRow;
    bool first = true;
    for (;;) {
        if (!first || row < 0) {
            // Between rows: a GOB header, the next picture or EOS may follow.
            const int next = startCodeAhead();
            if (next >= 0) {
                const int gnNext = next & 0x1F;
                if (gnNext == 0 || gnNext == 31) {
                    break;  // the next picture or EOS
                }
                m_br.skip((next >> 8) + 6);
                if (gnNext >= rows) {
                    fail(KCERR_GOB_NUMBER);
                    return;
                }
                m_br.skip(2);  // GFID
                m_quant = std::max(1, int(m_br.get(5)));
                if (m_br.overrun()) {
                    fail(KCERR_DATA_ENDED);
                    return;
                }
                row = gnNext;
                m_gobHeader = true;
                m_gobStartRow = row;
            } else if (row < 0) {
                fail(KCERR_NO_START_CODE);
                return;
            } else {
                m_gobHeader = false;
            }
        }
        first = false;
        if (row >= rows || atEnd()) {
            break;
        }
        if (!macroblockRow(row)) {
            return;
        }
        if (m_reachedEnd) {
            break;
        }
        m_lastRowDone = row;
        ++row;
        if (row >= rows) {
            break;
        }
    }
    m_ctx.quantiser = m_quant;
    if (m_ctx.settings.payloadHeader) {
        m_out.finished = m_lastRowDone == rows - 1;
    } else {
        m_out.finished = true;
    }
}

bool H263Decoder::atEnd() const {
    // The end of the data, or only the stuffing zeros before a byte boundary.
    const std::uint64_t left = m_br.bitsLeft();
    return left == 0 || (left < 8 && m_br.peek(int(left)) == 0);
}

bool H263Decoder::macroblockRow(int row) {
    for (int mbx = 0; mbx < m_ctx.layout.mbWidth; ++mbx) {
        if (atEnd()) {
            m_reachedEnd = true;  // the data end between macroblocks: a clean stop
            return true;
        }
        if (!macroblock(mbx, row)) {
            return false;
        }
        if (m_br.overrun()) {
            return fail(KCERR_DATA_ENDED);
        }
    }
    return true;
}

int H263Decoder::predictVector(int mbx, int mby, int component) const {
    const Layout& l = m_ctx.layout;
    auto vec = [&](int x, int y) { return int(m_ctx.vectors[std::size_t((y * l.mbWidth + x) * 2 + component)]); };
    const int left = mbx > 0 ? vec(mbx - 1, mby) : 0;
    const bool topEdge = mby == 0 || (m_gobHeader && mby == m_gobStartRow);
    if (topEdge) {
        return left;
    }
    const int above = vec(mbx, mby - 1);
    const int aboveRight = mbx + 1 < l.mbWidth ? vec(mbx + 1, mby - 1) : 0;
    return std::max(std::min(left, above), std::min(std::max(left, above), aboveRight));
}

bool H263Decoder::readVectorComponent(int prediction, int& v) {
    const int code = m_tables.mvd.read(m_br);
    if (code < 0) {
        return fail(KCERR_MVD);
    }
    int diff = code;
    if (code != 0 && m_br.get1()) {
        diff = -code;
    }
    v = ((prediction + diff + 32) & 63) - 32;
    return true;
}

bool H263Decoder::macroblock(int mbx, int mby) {
    KcExpandContextData& ctx = m_ctx;
    const Tables& t = m_tables;
    const int mb = mby * ctx.layout.mbWidth + mbx;
    std::int8_t* vector = &ctx.vectors[std::size_t(mb) * 2];
    int type = 0;
    int cbpc = 0;
    if (m_inter) {
        int symbol = 0;
        for (;;) {
            if (m_br.get1()) {
                vector[0] = vector[1] = 0;  // not coded
                return true;
            }
            symbol = t.mcbpcInter.read(m_br);
            if (symbol < 0) {
                return fail(KCERR_MB_TYPE);
            }
            if (symbol != 20) {
                break;
            }
            if (m_br.ended()) {
                return fail(KCERR_DATA_ENDED);
            }
        }
        type = symbol >> 2;
        cbpc = symbol & 3;
        if (type == 2) {
            return fail(KCERR_MB_TYPE);  // INTER4V
        }
    } else {
        int symbol = 0;
        do {
            symbol = t.mcbpcIntra.read(m_br);
            if (symbol < 0) {
                return fail(KCERR_MB_TYPE);
            }
            if (symbol == 8 && m_br.ended()) {
                return fail(KCERR_DATA_ENDED);
            }
        } while (symbol == 8);
        type = 3 + (symbol >> 2);
        cbpc = symbol & 3;
    }
    const bool intra = type >= 3;
    const int cbpyCode = t.cbpy.read(m_br);
    if (cbpyCode < 0) {
        return fail(KCERR_CBPY);
    }
    const int cbpy = intra ? cbpyCode : (cbpyCode ^ 15);
    const int cbp = (cbpy << 2) | cbpc;
    if (type == 1 || type == 4) {
        static const int kDquant[4] = {-1, -2, 1, 2};
        m_quant = std::clamp(m_quant + kDquant[m_br.get(2)], 1, 31);
    }
    std::uint8_t* luma = ctx.storeA + macroblockLuma(ctx, mb);
    std::uint8_t* cb = ctx.storeA + macroblockCb(ctx, mb);
    std::uint8_t* cr = ctx.storeA + macroblockCr(ctx, mb);
    std::uint8_t* blocks[6] = {luma, luma + 64, luma + 128, luma + 192, cb, cr};
    alignas(16) std::int16_t coef[64];
    if (intra) {
        vector[0] = vector[1] = 0;
        for (int b = 0; b < 6; ++b) {
            std::memset(coef, 0, sizeof coef);
            int dc = int(m_br.get(8));
            if (dc == 255) {
                dc = 128;
            }
            coef[0] = std::int16_t(8 * dc);
            if (cbp & (32 >> b)) {
                readTcoef(m_br, coef, 1, m_quant, m_tables.h263Tcoef);
            }
            inverseTransformReplace(coef, blocks[b]);
        }
        ctx.changed[std::size_t(mb)] |= 1;
        return true;
    }
    int mvx = 0, mvy = 0;
    if (!readVectorComponent(predictVector(mbx, mby, 0), mvx) ||
        !readVectorComponent(predictVector(mbx, mby, 1), mvy)) {
        return false;
    }
    vector[0] = std::int8_t(mvx);
    vector[1] = std::int8_t(mvy);
    if (mvx != 0 || mvy != 0) {
        predictH263(ctx, mbx, mby, mvx, mvy);
        ctx.changed[std::size_t(mb)] |= 1;
    }
    for (int b = 0; b < 6; ++b) {
        if (cbp & (32 >> b)) {
            std::memset(coef, 0, sizeof coef);
            readTcoef(m_br, coef, 0, m_quant, m_tables.h263Tcoef);
            inverseTransformAdd(coef, blocks[b]);
        }
    }
    if (cbp != 0) {
        ctx.changed[std::size_t(mb)] |= 1;
    }
    return true;
}

}  // namespace

void decodeH263(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length, PacketOutcome& outcome) {
    BitReader br(data, length);
    H263Decoder decoder(ctx, outcome, br);
    decoder.run(data, length);
}

}  // namespace kcexpand
