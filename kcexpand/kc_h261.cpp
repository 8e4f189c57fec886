// H.261 pictures (QCIF, CIF), with an optional 4-byte payload header in front.
//
// Three results differ from the ITU reconstruction on purpose, because stored
// streams and peers carry pictures made this way: the intra DC coefficient is
// 8 x level + 4, chroma moves by (v + 1) / 2 truncated toward zero, and the
// loop filter truncates after each direction.

#include "kcexpand/kc_coefficients.h"
#include "kcexpand/kc_context.h"

#include <algorithm>
#include <cstring>

namespace kcexpand {

namespace {

class H261Decoder {
public:
    H261Decoder(KcExpandContextData& ctx, PacketOutcome& outcome, BitReader& br)
        : m_ctx(ctx), m_out(outcome), m_br(br) {}

    void run(const std::uint8_t* data, std::uint32_t length);

private:
    bool fail(std::uint32_t code, std::uint32_t detail) {
        m_ctx.lastError = code;
        m_ctx.errorDetail = detail;
        m_out.error = true;
        return false;
    }
    bool fail(std::uint32_t code) { return fail(code, m_br.bytesNotLoaded()); }
    bool setFormat(int format);
    bool startCodeAhead() const { return m_br.bitsLeft() >= 16 && m_br.peek(16) == 1; }
    bool gobCount(int gn) const { return m_cif ? gn >= 1 && gn <= 12 : (gn == 1 || gn == 3 || gn == 5); }
    void gobOrigin(int gn, int& mbx0, int& mby0) const {
        if (m_cif) {
            mbx0 = ((gn - 1) % 2) * 11;
            mby0 = ((gn - 1) / 2) * 3;
        } else {
            mbx0 = 0;
            mby0 = ((gn - 1) / 2) * 3;
        }
    }
    bool gobMacroblocks();
    bool readVectorComponent(int& v);
    bool macroblock(int mtype);
    void readBlock(std::int16_t* coef, bool intra);

    KcExpandContextData& m_ctx;
    PacketOutcome& m_out;
    BitReader& m_br;
    bool m_cif = true;
    int m_quant = 1;
    int m_gn = 0;
    int m_mba = 0;
    int m_mvx = 0, m_mvy = 0;
    bool m_prevMc = false;
    bool m_lastMacroblockOfLastGob = false;
};

bool H261Decoder::setFormat(int format) {
    m_cif = format == 3;
    const int w = m_cif ? 44 : 22;
    const int h = m_cif ? 36 : 18;
    const Layout& l = m_ctx.layout;
    if (l.kind != kKindH261 || l.widthBlocks != w || l.heightBlocks != h) {
        layOut(m_ctx, kKindH261, w, h, true, true, false);
        std::memset(m_ctx.storeA + m_ctx.layout.cbOffset, 128, std::size_t(m_ctx.layout.chromaBlocks) * 64 * 2);
        m_out.formatChanged = true;
    }
    m_ctx.h261Format = format;
    return true;
}

void H261Decoder::run(const std::uint8_t* /*data*/, std::uint32_t length) {
    bool inGob = false;
    bool anyGob = false;
    m_quant = std::max(1, m_ctx.quantiser);
    if (m_ctx.settings.payloadHeader) {
        if (length < 5) {
            fail(KCERR_DATA_ENDED, 0);
            return;
        }
        const int sbit = int(m_br.get(3));
        m_br.skip(3 + 1 + 1);  // EBIT, I, V
        const int gobn = int(m_br.get(4));
        const int mbap = int(m_br.get(5));
        const int quant = int(m_br.get(5));
        const int hmvd = int(m_br.get(5));
        const int vmvd = int(m_br.get(5));
        m_br.skip(sbit);
        setFormat(m_ctx.h261Format);
        if (quant != 0) {
            m_quant = quant;
        }
        if (gobn != 0) {
            if (!gobCount(gobn)) {
                fail(KCERR_GOB_NUMBER);
                return;
            }
            m_gn = gobn;
            m_mba = mbap;
            m_mvx = hmvd >= 16 ? hmvd - 32 : hmvd;
            m_mvy = vmvd >= 16 ? vmvd - 32 : vmvd;
            m_prevMc = true;
            inGob = anyGob = true;
        }
    }
    bool pictureSeen = false;
    for (;;) {
        if (startCodeAhead()) {
            if (m_br.bitsLeft() < 20) {
                break;
            }
            const int gn = int(m_br.peek(20) & 15);
            if (gn == 0) {
                if (pictureSeen || anyGob) {
                    break;  // the next picture
                }
                m_br.skip(20);
                m_br.skip(5);  // TR
                const int ptype = int(m_br.get(7));  // PTYPE and PEI together
                if (m_br.overrun()) {
                    fail(KCERR_DATA_ENDED);
                    return;
                }
                updateReference(m_ctx);
                setFormat((ptype >> 3) & 1 ? 3 : 2);
                pictureSeen = true;
                continue;
            }
            m_br.skip(20);
            if (!gobCount(gn)) {
                fail(KCERR_GOB_NUMBER);
                return;
            }
            if (m_br.bitsLeft() < 6) {
                fail(KCERR_DATA_ENDED);
                return;
            }
            m_quant = std::max(1, int(m_br.get(5)));
            m_br.skip(1);  // GEI
            m_gn = gn;
            m_mba = 0;
            m_mvx = m_mvy = 0;
            m_prevMc = false;
            inGob = anyGob = true;
            continue;
        }
        if (m_br.ended() || (m_br.bitsLeft() < 8 && m_br.peek(int(m_br.bitsLeft())) == 0)) {
            if (!anyGob) {
                fail(KCERR_DATA_ENDED);
                return;
            }
            break;
        }
        if (!inGob) {
            fail(KCERR_MB_BEFORE_GOB);
            return;
        }
        if (!gobMacroblocks()) {
            return;
        }
    }
    m_ctx.quantiser = m_quant;
    m_out.finished = m_ctx.settings.payloadHeader ? m_lastMacroblockOfLastGob : true;
}

bool H261Decoder::readVectorComponent(int& v) {
    const int code = tables().h261Mvd.read(m_br);
    if (code < 0) {
        return m_br.ended() ? fail(KCERR_DATA_ENDED) : fail(KCERR_MVD);
    }
    int diff = code;
    if (code != 0 && m_br.get1()) {
        diff = -code;
    }
    v = ((v + diff + 16) & 31) - 16;
    return true;
}

// Macroblocks of the current GOB up to the next start code or the end of data.
bool H261Decoder::gobMacroblocks() {
    const Tables& t = tables();
    for (;;) {
        if (startCodeAhead() || m_br.ended() || (m_br.bitsLeft() < 8 && m_br.peek(int(m_br.bitsLeft())) == 0)) {
            return true;
        }
        const int code = t.h261Mba.read(m_br);
        if (code < 0) {
            return fail(KCERR_MB_POSITION, 0xFFFFFFFFu);
        }
        if (code == 34) {
            continue;  // stuffing
        }
        if (code != 1) {
            m_prevMc = false;
        }
        m_mba += code;
        if (m_mba > 33) {
            return fail(KCERR_MB_POSITION, 0xFFFFFFFFu);
        }
        const int mtype = t.h261Mtype.read(m_br);
        if (mtype < 0) {
            return fail(KCERR_DATA_ENDED);
        }
        if (!macroblock(mtype)) {
            return false;
        }
        if (m_br.overrun()) {
            return fail(KCERR_DATA_ENDED);
        }
        const int lastGob = m_cif ? 12 : 5;
        m_lastMacroblockOfLastGob = m_gn == lastGob && m_mba == 33;
    }
}

bool H261Decoder::macroblock(int mtype) {
    KcExpandContextData& ctx = m_ctx;
    const std::uint8_t props = kH261Mtype[mtype];
    if (props & kMtQuant) {
        m_quant = std::max(1, int(m_br.get(5)));
    }
    // The vector prediction restarts at the first macroblock of each row of the GOB.
    if (m_mba == 1 || m_mba == 12 || m_mba == 23 || !m_prevMc) {
        m_mvx = m_mvy = 0;
    }
    if (props & kMtMvd) {
        if (!readVectorComponent(m_mvx) || !readVectorComponent(m_mvy)) {
            return false;
        }
        m_prevMc = true;
    } else {
        m_mvx = m_mvy = 0;
        m_prevMc = false;
    }
    int cbp = 0;
    if (props & kMtCbp) {
        cbp = tables().h261Cbp.read(m_br);
        if (cbp < 0) {
            return m_br.ended() ? fail(KCERR_DATA_ENDED) : fail(KCERR_CBP);
        }
    } else if (props & kMtIntra) {
        cbp = 63;
    }
    int mbx0 = 0, mby0 = 0;
    gobOrigin(m_gn, mbx0, mby0);
    const int mbx = mbx0 + (m_mba - 1) % 11;
    const int mby = mby0 + (m_mba - 1) / 11;
    const int mb = mby * ctx.layout.mbWidth + mbx;
    bool changed = false;
    const bool intra = (props & kMtIntra) != 0;
    if (!intra && (props & kMtMvd)) {
        predictH261(ctx, mbx, mby, m_mvx, m_mvy, (props & kMtFilter) != 0);
        changed = m_mvx != 0 || m_mvy != 0 || (props & kMtFilter);
    }
    std::uint8_t* luma = ctx.storeA + macroblockLuma(ctx, mb);
    std::uint8_t* blocks[6] = {luma, luma + 64, luma + 128, luma + 192, ctx.storeA + macroblockCb(ctx, mb),
                               ctx.storeA + macroblockCr(ctx, mb)};
    alignas(16) std::int16_t coef[64];
    if (props & kMtCoeff) {
        for (int b = 0; b < 6; ++b) {
            if ((cbp & (32 >> b)) == 0) {
                continue;
            }
            std::memset(coef, 0, sizeof coef);
            readBlock(coef, intra);
            if (intra) {
                inverseTransformReplace(coef, blocks[b]);
            } else {
                inverseTransformAdd(coef, blocks[b]);
            }
            changed = true;
        }
    }
    if (changed) {
        ctx.changed[std::size_t(mb)] |= 1;
    }
    return true;
}

void H261Decoder::readBlock(std::int16_t* coef, bool intra) {
    const VlcTable& table = tables().h261Tcoeff;
    int i = 0;
    if (intra) {
        int dc = int(m_br.get(8));
        if (dc == 255) {
            dc = 128;
        }
        coef[0] = std::int16_t(8 * dc + (m_ctx.ituH261 ? 0 : 4));
        i = 1;
    } else if (m_br.peek(1) == 1) {
        // The first coefficient of an inter block: "1s" is run 0, level 1.
        m_br.skip(1);
        coef[0] = std::int16_t(dequantise(m_br.get1() ? -1 : 1, m_quant));
        i = 1;
    }
    for (;;) {
        const int symbol = table.read(m_br);
        if (symbol < 0 || symbol == kH261Eob) {
            return;
        }
        int run, level;
        if (symbol == kH261Escape) {
            run = int(m_br.get(6));
            const int raw = int(m_br.get(8));
            level = raw >= 128 ? raw - 256 : raw;
        } else {
            run = kH261RunLevel[symbol].run;
            level = m_br.get1() ? -int(kH261RunLevel[symbol].level) : int(kH261RunLevel[symbol].level);
        }
        i += run;
        if (i > 63 || m_br.overrun()) {
            return;
        }
        coef[kZigZag[i]] = std::int16_t(dequantise(level, m_quant));
        ++i;
    }
}

}  // namespace

void decodeH261(KcExpandContextData& ctx, const std::uint8_t* data, std::uint32_t length, PacketOutcome& outcome) {
    BitReader br(data, length);
    H261Decoder decoder(ctx, outcome, br);
    decoder.run(data, length);
}

}  // namespace kcexpand
