// Painting the changed blocks of the decoded picture into the caller's image
// (24-bit BGR, 8-bit palette index, 16-bit UYVY), the nearest-colour table of
// the palette mode and the palette calculation.

#include "kcexpand/kc_context.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kcexpand {

namespace {

struct ConversionTables {
    std::array<int, 256> red{}, blue{}, greenCb{}, greenCr{};
    std::array<std::uint8_t, 1024> clamp{};  // entry 384 + v: v clamped to 0..255
    ConversionTables() {
        for (int v = -384; v < 640; ++v) clamp[std::size_t(v + 384)] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        for (int i = 0; i < 256; ++i) {
            const int c = i - 128;
            red[std::size_t(i)] = (91881 * c + 32768) >> 16;
            blue[std::size_t(i)] = (116130 * c + 32768) >> 16;
            greenCb[std::size_t(i)] = -22554 * c;
            greenCr[std::size_t(i)] = -46802 * c + 32768;
        }
    }
};

const ConversionTables& conversion() {
    static const ConversionTables tables;
    return tables;
}

inline std::uint8_t clampByte(int v) { return std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

struct BlockPixels {
    const std::uint8_t* y;
    const std::uint8_t* cb;  // null for grey
    const std::uint8_t* cr;
    bool chroma420;
    int chromaRow0, chromaCol0;  // 4:2:0: the block's quarter of the macroblock's chroma
    std::uint8_t cbAt(int r, int c) const {
        return chroma420 ? cb[(chromaRow0 + r / 2) * 8 + chromaCol0 + c / 2] : cb[r * 8 + c];
    }
    std::uint8_t crAt(int r, int c) const {
        return chroma420 ? cr[(chromaRow0 + r / 2) * 8 + chromaCol0 + c / 2] : cr[r * 8 + c];
    }
};

BlockPixels blockPixels(const KcExpandContextData& ctx, int index) {
    const Layout& l = ctx.layout;
    BlockPixels p{ctx.storeA + std::size_t(index) * 64, nullptr, nullptr, l.chroma420, 0, 0};
    if ((ctx.conversionFlags & 2) == 0) {
        if (l.chroma420) {
            const int m = index / 4;
            p.cb = ctx.storeA + l.cbOffset + m * 64;
            p.cr = ctx.storeA + l.crOffset + m * 64;
            p.chromaRow0 = ((index >> 1) & 1) * 4;
            p.chromaCol0 = (index & 1) * 4;
        } else {
            p.cb = ctx.storeA + l.cbOffset + index * 64;
            p.cr = ctx.storeA + l.crOffset + index * 64;
        }
    }
    return p;
}

bool blockChanged(const KcExpandContextData& ctx, int index) {
    const Layout& l = ctx.layout;
    if (l.kind == kKindH263 || l.kind == kKindH261) {
        return (ctx.changed[std::size_t(index / 4)] & 1) != 0;
    }
    if (ctx.changed[std::size_t(index)] & 1) {
        return true;
    }
    if (!l.colour || ctx.settings.grey) {
        return false;
    }
    const int c = l.chroma420 ? index / 4 : index;
    const int cb = l.lumaBlocks + c;
    const int cr = l.lumaBlocks + l.chromaBlocks + c;
    return ((ctx.changed[std::size_t(cb)] | ctx.changed[std::size_t(cr)]) & 1) != 0;
}

int nearest(const ColourTable& table, int y, int cb, int cr) {
    const std::uint16_t* hs = halvedSquares() + 255;
    const int start = table.windowStart[std::size_t(y)];
    const int end = std::min(table.count, start + table.window);
    int best = 0x7FFFFFFF;
    int index = 0;
    for (int i = start; i < end; ++i) {
        const NearestEntry& e = table.entries[std::size_t(i)];
        const int d = hs[y - e.y] + hs[cb - e.cb] + hs[cr - e.cr];
        if (d <= best) {
            best = d;
            index = e.index;
        }
    }
    return index;
}

}  // namespace

void convertPixel(int y, int cb, int cr, std::uint8_t* bgr) {
    const ConversionTables& t = conversion();
    bgr[0] = clampByte(y + t.blue[std::size_t(cb)]);
    bgr[1] = clampByte(y + ((t.greenCb[std::size_t(cb)] + t.greenCr[std::size_t(cr)]) >> 16));
    bgr[2] = clampByte(y + t.red[std::size_t(cr)]);
}

namespace {

// One 8x8 block of a 4:2:0 colour picture as 24-bit BGR: each chroma pair's
// three terms are worked out once for its 2x2 pixels.
void paintBlock420(const ConversionTables& t, const BlockPixels& p, std::uint8_t* const* rows) {
    const std::uint8_t* clamp = t.clamp.data() + 384;
    for (int r = 0; r < 8; r += 2) {
        const std::uint8_t* cbRow = p.cb + (p.chromaRow0 + r / 2) * 8 + p.chromaCol0;
        const std::uint8_t* crRow = p.cr + (p.chromaRow0 + r / 2) * 8 + p.chromaCol0;
        const std::uint8_t* y0 = p.y + r * 8;
        const std::uint8_t* y1 = y0 + 8;
        std::uint8_t* d0 = rows[r];
        std::uint8_t* d1 = rows[r + 1];
        for (int c = 0; c < 8; c += 2) {
            const int cb = cbRow[c / 2], cr = crRow[c / 2];
            const int db = t.blue[std::size_t(cb)];
            const int dg = (t.greenCb[std::size_t(cb)] + t.greenCr[std::size_t(cr)]) >> 16;
            const int dr = t.red[std::size_t(cr)];
            const int ys[4] = {y0[c], y0[c + 1], y1[c], y1[c + 1]};
            std::uint8_t* ds[4] = {d0 + 3 * c, d0 + 3 * c + 3, d1 + 3 * c, d1 + 3 * c + 3};
            for (int k = 0; k < 4; ++k) {
                ds[k][0] = clamp[ys[k] + db];
                ds[k][1] = clamp[ys[k] + dg];
                ds[k][2] = clamp[ys[k] + dr];
            }
        }
    }
}

}  // namespace

void paint(KcExpandContextData& ctx, std::uint8_t* output) {
    const Settings& s = ctx.settings;
    const Layout& l = ctx.layout;
    if (output == nullptr || l.kind == 0 || s.mode < KCMODE_BGR24 || s.mode > KCMODE_UYVY16) {
        return;
    }
    const int bpp = s.mode == KCMODE_BGR24 ? 3 : s.mode == KCMODE_PALETTE8 ? 1 : 2;
    const std::size_t stride = std::size_t(s.outWidth) * std::size_t(bpp);
    for (int br = 0; br < l.heightBlocks && br * 8 + 8 <= s.outHeight; ++br) {
        for (int bc = 0; bc < l.widthBlocks && bc * 8 + 8 <= s.outWidth; ++bc) {
            const int raster = br * l.widthBlocks + bc;
            if (raster >= kMaxLumaBlocks) {
                continue;
            }
            const int index = ctx.blockOrder[std::size_t(raster)];
            if (!blockChanged(ctx, index)) {
                continue;
            }
            const BlockPixels p = blockPixels(ctx, index);
            if (s.mode == KCMODE_BGR24 && p.cb != nullptr && p.chroma420) {
                std::uint8_t* rows[8];
                for (int r = 0; r < 8; ++r) {
                    const int row = br * 8 + r;
                    const int outRow = s.topDown ? row : s.outHeight - 1 - row;
                    rows[r] = output + std::size_t(outRow) * stride + std::size_t(bc) * 24;
                }
                paintBlock420(conversion(), p, rows);
                continue;
            }
            for (int r = 0; r < 8; ++r) {
                const int row = br * 8 + r;
                const int outRow = s.topDown ? row : s.outHeight - 1 - row;
                std::uint8_t* dst = output + std::size_t(outRow) * stride + std::size_t(bc) * 8 * std::size_t(bpp);
                const std::uint8_t* y = p.y + r * 8;
                switch (s.mode) {
                case KCMODE_BGR24:
                    if (p.cb == nullptr) {
                        for (int c = 0; c < 8; ++c) dst[3 * c] = dst[3 * c + 1] = dst[3 * c + 2] = y[c];
                    } else {
                        for (int c = 0; c < 8; ++c) convertPixel(y[c], p.cbAt(r, c), p.crAt(r, c), dst + 3 * c);
                    }
                    break;
                case KCMODE_UYVY16:
                    for (int c = 0; c < 8; c += 2) {
                        dst[2 * c] = p.cb == nullptr ? 128 : p.cbAt(r, c);
                        dst[2 * c + 1] = y[c];
                        dst[2 * c + 2] = p.cr == nullptr ? 128 : p.crAt(r, c);
                        dst[2 * c + 3] = y[c + 1];
                    }
                    break;
                default:
                    for (int c = 0; c < 8; ++c) {
                        dst[c] = std::uint8_t(nearest(ctx.colours, y[c], p.cb == nullptr ? 128 : p.cbAt(r, c),
                                                      p.cr == nullptr ? 128 : p.crAt(r, c)));
                    }
                    break;
                }
            }
        }
    }
}

namespace {

template <typename T, typename Key>
void shellSort(T* items, int n, Key key) {
    for (int gap = n / 2; gap > 0; gap /= 2) {
        for (int i = gap; i < n; ++i) {
            for (int j = i; j >= gap && key(items[j - gap]) > key(items[j]); j -= gap) {
                std::swap(items[j - gap], items[j]);
            }
        }
    }
}

}  // namespace

void buildColourTable(ColourTable& table, const RGBQUAD* palette, int count) {
    count = std::clamp(count, 0, 256);
    table.count = count;
    for (int i = 0; i < count; ++i) {
        const int r = palette[i].rgbRed, g = palette[i].rgbGreen, b = palette[i].rgbBlue;
        NearestEntry& e = table.entries[std::size_t(i)];
        e.y = std::uint8_t((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
        e.cb = std::uint8_t(std::clamp((-2765 * r - 5427 * g + 8192 * b + 2105343) >> 14, 0, 255));
        e.cr = std::uint8_t(std::clamp((8192 * r - 6860 * g - 1332 * b + 2105343) >> 14, 0, 255));
        e.index = std::uint8_t(i);
    }
    shellSort(table.entries.data(), count, [](const NearestEntry& e) { return e.y; });
    table.window = std::min(count, 13);
    for (int v = 0; v < 256; ++v) {
        int k = 0;
        while (k < count && table.entries[std::size_t(k)].y < v) ++k;
        table.windowStart[std::size_t(v)] = count < 13 ? 0 : std::uint8_t(std::clamp(k, 6, count - 7) - 6);
    }
}

namespace {

struct PaletteColour {
    std::uint8_t rgb[3];  // red, green, blue with the two low bits cleared
    int count;
    int next;
};

struct Box {
    int first, end;
    long count;
    std::uint8_t lo[3], hi[3];
};

constexpr int kMaxColours = 5000;

void measure(Box& box, const std::vector<PaletteColour>& colours, const std::vector<int>& order) {
    box.count = 0;
    for (int k = 0; k < 3; ++k) {
        box.lo[k] = 255;
        box.hi[k] = 0;
    }
    for (int i = box.first; i < box.end; ++i) {
        const PaletteColour& c = colours[std::size_t(order[std::size_t(i)])];
        box.count += c.count;
        for (int k = 0; k < 3; ++k) {
            box.lo[k] = std::min(box.lo[k], c.rgb[k]);
            box.hi[k] = std::max(box.hi[k], c.rgb[k]);
        }
    }
}

// The picture's colours, cut to 6 bits a component, with how many pixels
// have each; past kMaxColours a new colour counts towards the last one of its
// hash chain.
std::vector<PaletteColour> countColours(KcExpandContextData& ctx) {
    const Layout& l = ctx.layout;
    std::vector<PaletteColour> colours;
    colours.reserve(kMaxColours);
    std::array<int, 512> heads;
    heads.fill(-1);
    const int blocks = std::min({l.lumaBlocks, l.widthBlocks * l.heightBlocks, kMaxLumaBlocks});
    for (int raster = 0; raster < blocks; ++raster) {
        const BlockPixels p = blockPixels(ctx, ctx.blockOrder[std::size_t(raster)]);
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c) {
                std::uint8_t bgr[3];
                const int y = p.y[r * 8 + c];
                if (p.cb == nullptr) {
                    bgr[0] = bgr[1] = bgr[2] = std::uint8_t(y);
                } else {
                    convertPixel(y, p.cbAt(r, c), p.crAt(r, c), bgr);
                }
                const std::uint8_t rgb[3] = {std::uint8_t(bgr[2] & 0xFC), std::uint8_t(bgr[1] & 0xFC),
                                             std::uint8_t(bgr[0] & 0xFC)};
                const int bucket = (rgb[0] + rgb[1] + rgb[2]) % 512;
                int found = -1, last = -1;
                for (int i = heads[std::size_t(bucket)]; i >= 0; i = colours[std::size_t(i)].next) {
                    last = i;
                    if (std::memcmp(colours[std::size_t(i)].rgb, rgb, 3) == 0) {
                        found = i;
                        break;
                    }
                }
                if (found >= 0) {
                    ++colours[std::size_t(found)].count;
                } else if (int(colours.size()) < kMaxColours) {
                    colours.push_back(PaletteColour{{rgb[0], rgb[1], rgb[2]}, 1, heads[std::size_t(bucket)]});
                    heads[std::size_t(bucket)] = int(colours.size()) - 1;
                } else if (last >= 0) {
                    ++colours[std::size_t(last)].count;
                }
            }
        }
    }
    return colours;
}

}  // namespace

void calculatePalette(KcExpandContextData& ctx, int maximum, RGBQUAD* out) {
    const Layout& l = ctx.layout;
    const int limit = maximum < 256 ? maximum : 255;
    if (out == nullptr || limit < 1 || l.kind == 0) {
        return;
    }
    const std::vector<PaletteColour> colours = countColours(ctx);
    const int n = int(colours.size());
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[std::size_t(i)] = i;
    std::vector<Box> boxes;
    if (n <= limit) {
        for (int i = 0; i < n; ++i) boxes.push_back(Box{i, i + 1, 0, {}, {}});
    } else {
        boxes.push_back(Box{0, n, 0, {}, {}});
        measure(boxes[0], colours, order);
        while (int(boxes.size()) < limit) {
            int pick = -1;
            for (int b = 0; b < int(boxes.size()); ++b) {
                const Box& box = boxes[std::size_t(b)];
                if (box.end - box.first > 1 && (pick < 0 || box.count > boxes[std::size_t(pick)].count)) {
                    pick = b;
                }
            }
            if (pick < 0) {
                break;
            }
            Box& box = boxes[std::size_t(pick)];
            int component = 0;
            for (int k = 1; k < 3; ++k) {
                if (box.hi[k] - box.lo[k] > box.hi[component] - box.lo[component]) component = k;
            }
            if (box.hi[component] == box.lo[component]) {
                break;
            }
            shellSort(order.data() + box.first, box.end - box.first,
                      [&](int i) { return colours[std::size_t(i)].rgb[component]; });
            const long half = box.count / 2;
            long running = 0;
            int kept = box.first, stop = -1;
            long keptRunning = 0, stopRunning = 0;
            int previous = -1;
            for (int i = box.first; i < box.end; ++i) {
                const PaletteColour& c = colours[std::size_t(order[std::size_t(i)])];
                running += c.count;
                if (c.rgb[component] <= previous) {
                    continue;  // not a split candidate
                }
                previous = c.rgb[component];
                if (running < half) {
                    kept = i;
                    keptRunning = running;
                } else {
                    stop = i;
                    stopRunning = running;
                    break;
                }
            }
            int split = kept;
            if (stop >= 0 && (stopRunning - half <= half - keptRunning || kept == box.first)) {
                split = stop;
            } else if (stop < 0 && kept == box.first) {
                break;
            }
            if (split == box.first) {
                // Never leave an empty box: split at the next larger value.
                const int value = colours[std::size_t(order[std::size_t(split)])].rgb[component];
                while (split < box.end && colours[std::size_t(order[std::size_t(split)])].rgb[component] == value) {
                    ++split;
                }
                if (split >= box.end) {
                    break;
                }
            }
            Box added{split, box.end, 0, {}, {}};
            box.end = split;
            measure(box, colours, order);
            measure(added, colours, order);
            boxes.push_back(added);
        }
    }
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        const PaletteColour& c = colours[std::size_t(order[std::size_t(boxes[b].first)])];
        out[b].rgbBlue = c.rgb[2];
        out[b].rgbGreen = c.rgb[1];
        out[b].rgbRed = c.rgb[0];
    }
}

}  // namespace kcexpand
