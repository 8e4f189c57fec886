#pragma once
// Transform coefficients of H.263 blocks (also used by block packets):
// TCOEF codes in zig-zag order, dequantised.

#include "kcexpand/kc_context.h"

namespace kcexpand {

inline int dequantise(int level, int quant) {
    const int magnitude = level < 0 ? -level : level;
    const int value = quant * (2 * magnitude + 1) - ((quant & 1) == 0 ? 1 : 0);
    return level < 0 ? -value : value;
}

// Reads TCOEF codes from zig-zag position `start` until a code with LAST set,
// a position past 63 or a prefix that is no code.
inline void readTcoef(BitReader& br, std::int16_t* coef, int start, int quant, const VlcTable& table) {
    int i = start;
    for (;;) {
        const int symbol = table.read(br);
        if (symbol < 0) {
            return;
        }
        int last, run, level;
        if (symbol == kTcoefEscapeSymbol) {
            last = int(br.get1());
            run = int(br.get(6));
            const int raw = int(br.get(8));
            level = raw >= 128 ? raw - 256 : raw;
        } else {
            last = symbol >> 13;
            run = (symbol >> 7) & 63;
            level = (symbol & 127) - 64;
        }
        i += run;
        if (i > 63) {
            return;
        }
        coef[kZigZag[i]] = std::int16_t(dequantise(level, quant));
        ++i;
        if (last) {
            return;
        }
    }
}

}  // namespace kcexpand
