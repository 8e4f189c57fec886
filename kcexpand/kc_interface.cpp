// The decoder's entry points: contexts, attributes, packets and the attribute
// list helpers.

#include "kcexpand/kc_context.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kcexpand {

const std::uint16_t* halvedSquares() {
    static const auto table = [] {
        std::array<std::uint16_t, 511> t{};
        for (int d = -255; d <= 255; ++d) t[std::size_t(255 + d)] = std::uint16_t(d * d / 2);
        return t;
    }();
    return table.data();
}

KcExpandContextData& data(KcExpandContext* context) { return context->d; }

std::uint32_t lastError(const KcExpandContext* context, std::uint32_t* detail) {
    if (detail != nullptr) {
        *detail = context->d.errorDetail;
    }
    return context->d.lastError;
}

bool copyPlanes(const KcExpandContext* context, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr) {
    const KcExpandContextData& ctx = context->d;
    const Layout& l = ctx.layout;
    const int w = l.widthBlocks * 8, h = l.heightBlocks * 8;
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) y[r * w + c] = ctx.storeA[ctx.lumaRow[std::size_t(r)] + ctx.lumaCol[std::size_t(c)]];
    }
    if (!l.colour || !l.chroma420) {
        return false;
    }
    for (int r = 0; r < h / 2; ++r) {
        for (int c = 0; c < w / 2; ++c) {
            const int at = ctx.chromaRow[std::size_t(r)] + ctx.chromaCol[std::size_t(c)];
            cb[r * (w / 2) + c] = ctx.storeA[l.cbOffset + at];
            cr[r * (w / 2) + c] = ctx.storeA[l.crOffset + at];
        }
    }
    return true;
}

namespace {

void decodePacket(KcExpandContextData& ctx, const std::uint8_t* p, std::uint32_t length, PacketOutcome& outcome) {
    if (p == nullptr || length < 3) {
        outcome.error = true;
        ctx.lastError = 0;
        ctx.errorDetail = length;
        return;
    }
    const Settings& s = ctx.settings;
    int kind = 0;
    if (s.payloadHeader && (s.forcedKind == kKindH263 || s.forcedKind == kKindH261)) {
        kind = s.forcedKind;
    } else if (p[0] == 1) {
        kind = length >= 11 ? kKindBlock : 0;
    } else if (p[0] == 0) {
        if (s.forcedKind == kKindH263 || s.forcedKind == kKindH261) {
            kind = s.forcedKind;
        } else {
            kind = p[1] == 1 ? kKindH261 : kKindH263;
        }
    }
    switch (kind) {
    case kKindBlock: decodeBlockPacket(ctx, p, length, outcome); break;
    case kKindH263: decodeH263(ctx, p, length, outcome); break;
    case kKindH261: decodeH261(ctx, p, length, outcome); break;
    default:
        outcome.error = true;
        ctx.lastError = 0;
        ctx.errorDetail = length;
        break;
    }
}

// Paints the blocks changed since the last paint and clears the marks.
void paintChanged(KcExpandContextData& ctx, void* output) {
    updateReference(ctx);
    paint(ctx, static_cast<std::uint8_t*>(output));
    ctx.changed.fill(0);
}

}  // namespace

}  // namespace kcexpand

using namespace kcexpand;

KcExpandContext* KcExpandOpen() {
    (void)halvedSquares();
    (void)tables();
    auto* context = new (std::nothrow) KcExpandContext{};
    if (context == nullptr) {
        return nullptr;
    }
    KcExpandContextData& ctx = context->d;
    ctx.storeA = static_cast<std::uint8_t*>(std::calloc(kStoreBytes, 1));
    ctx.storeB = static_cast<std::uint8_t*>(std::calloc(kStoreBytes, 1));
    ctx.coefficients = static_cast<std::int16_t*>(std::calloc(std::size_t(kMaxBlocks) * 64, sizeof(std::int16_t)));
    if (ctx.storeA == nullptr || ctx.storeB == nullptr || ctx.coefficients == nullptr) {
        KcExpandClose(context);
        return nullptr;
    }
    return context;
}

void KcExpandClose(KcExpandContext* context) {
    if (context == nullptr) {
        return;
    }
    KcExpandContextData& ctx = context->d;
    GFree(ctx.settings.format);
    std::free(ctx.coefficients);
    std::free(ctx.storeB);
    std::free(ctx.storeA);
    GFree(ctx.settings.palette);
    delete context;
}

int KcExpandSetAttributes(KcExpandContext* context, const MetaItem* items, int count) {
    if (context == nullptr || (items == nullptr && count > 0)) {
        return 0;
    }
    KcExpandContextData& ctx = context->d;
    // The new settings are built in a copy and adopted only when all items
    // were acceptable.
    Settings s = ctx.settings;
    BITMAPINFOHEADER* newFormat = nullptr;
    std::uint32_t newFormatBytes = 0;
    RGBQUAD* newPalette = nullptr;
    int newPaletteEntries = 0;
    auto discard = [&] {
        GFree(newFormat);
        GFree(newPalette);
        return 0;
    };
    for (int i = 0; i < count; ++i) {
        const MetaItem& item = items[i];
        switch (item.id) {
        case KCATTR_FORMAT:
            GFree(newFormat);
            newFormat = static_cast<BITMAPINFOHEADER*>(MetaCopyBuffer(&item));
            newFormatBytes = newFormat != nullptr ? item.length : 0;
            break;
        case KCATTR_OUTPUT_MODE: s.mode = MetaWord(&item); break;
        case KCATTR_PALETTE:
            if (item.length != 0) {
                GFree(newPalette);
                newPalette = static_cast<RGBQUAD*>(MetaCopyBuffer(&item));
                newPaletteEntries = newPalette != nullptr ? item.length / 4 : 0;
            }
            break;
        case KCATTR_GREY: s.grey = MetaWord(&item) != 0; break;
        case KCATTR_PAYLOAD_HEADER: s.payloadHeader = MetaWord(&item) != 0; break;
        case KCATTR_STREAM_KIND: s.forcedKind = MetaWord(&item); break;
        case KCATTR_RESERVED: {
            const int v = std::int16_t(MetaWord(&item));
            s.reserved7 = v == 0 ? 16 : v < 0 ? 100 : v;
            break;
        }
        default: break;
        }
    }
    if (s.format == nullptr && newFormat == nullptr) {
        return discard();
    }
    if (newFormat != nullptr) {
        // The header must be all there before any of it is read.
        if (newFormatBytes < sizeof(BITMAPINFOHEADER)) {
            return discard();
        }
        const int height = newFormat->biHeight == INT32_MIN ? INT32_MAX : std::abs(newFormat->biHeight);
        if (newFormat->biWidth < 8 || height < 8) {
            return discard();
        }
        s.outWidth = newFormat->biWidth;
        s.outHeight = std::min(height, kMaxOutputHeight);
        s.topDown = newFormat->biHeight < 0;
        s.paletteSize = int(std::min<DWORD>(newFormat->biClrUsed, 256));
    }
    if (newPalette != nullptr) {
        s.palette = newPalette;
        s.paletteEntries = newPaletteEntries;
    }
    if (s.mode == KCMODE_PALETTE8 && (s.mode != ctx.settings.mode || newPalette != nullptr)) {
        if (s.palette != nullptr) {
            // Only the entries present are used.
            buildColourTable(ctx.colours, s.palette, std::min(s.paletteSize, s.paletteEntries));
        } else {
            s.mode = KCMODE_NONE;
        }
    }
    if (newPalette != nullptr) {
        GFree(ctx.settings.palette);
    }
    if (newFormat != nullptr) {
        GFree(ctx.settings.format);
        s.format = newFormat;
        s.formatBytes = newFormatBytes;
    }
    ctx.settings = s;
    if (ctx.layout.colour) {
        computeConversionLayout(ctx);
    }
    return 1;
}

std::uint32_t KcExpandGetAttribute(KcExpandContext* context, std::uint32_t number) {
    if (context == nullptr) {
        return 0;
    }
    const Layout& l = context->d.layout;
    switch (number) {
    case kKcAttrWidth: return std::uint32_t(l.widthBlocks * 8);
    case kKcAttrHeight: return std::uint32_t(l.heightBlocks * 8);
    case kKcAttrColour: return l.colour ? 1 : 0;
    default: return 0;
    }
}

std::uint32_t KcExpandPacket(KcExpandContext* context, int forcePaint, const void* data, std::uint32_t length,
                             void* output) {
    if (context == nullptr) {
        return kKcNotPainted;
    }
    KcExpandContextData& ctx = context->d;
    PacketOutcome outcome;
    decodePacket(ctx, static_cast<const std::uint8_t*>(data), length, outcome);
    std::uint32_t result = 0;
    if (outcome.formatChanged) {
        computeConversionLayout(ctx);
        result |= kKcFormatChanged;
    }
    // The report changes nothing of the painting: what the packet decoded
    // before its error is painted as without a callback.
    if (outcome.error && ctx.errorCallback != nullptr) {
        ctx.errorCallback(ctx.errorUser, ctx.lastError, ctx.errorDetail);
        ctx.lastError = 0;
    }
    if (forcePaint != 0 || outcome.finished) {
        paintChanged(ctx, output);
        return result;
    }
    return result | kKcNotPainted;
}

std::uint32_t KcExpandBuffer(KcExpandContext* context, const void* data, std::uint32_t length, void* output) {
    return KcExpandPacket(context, 0, data, length, output);
}

std::uint32_t KcExpandRedraw(KcExpandContext* context, void* output) {
    if (context != nullptr) {
        paintChanged(context->d, output);
    }
    return 0;
}

void KcExpandSetNextAllChanged(KcExpandContext* context) {
    if (context == nullptr) {
        return;
    }
    KcExpandContextData& ctx = context->d;
    const Layout& l = ctx.layout;
    const int marks = l.kind == kKindH263 || l.kind == kKindH261 ? l.macroblocks : l.lumaBlocks;
    for (int i = 0; i < marks; ++i) ctx.changed[std::size_t(i)] |= 1;
}

void KcExpandSetErrorCallback(KcExpandContext* context, KcErrorCallback callback, void* user) {
    if (context != nullptr) {
        context->d.errorCallback = callback;
        context->d.errorUser = callback != nullptr ? user : nullptr;
    }
}

void KcExpandCalculatePalette(KcExpandContext* context, int maximum, RGBQUAD* palette) {
    if (context != nullptr) {
        calculatePalette(context->d, maximum, palette);
    }
}

int KcExpandAttributesForRemote(std::uint32_t, std::uint32_t) { return 0; }

void* GAlloc(std::size_t size) { return size == 0 ? nullptr : std::calloc(size, 1); }

void* GReAlloc(void* block, std::size_t size) {
    if (block == nullptr) {
        return GAlloc(size);
    }
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

void GFree(void* block) { std::free(block); }

std::uint16_t MetaWord(const MetaItem* item) {
    if (item == nullptr || item->length < 1 || item->length > 4) {
        return 0;
    }
    return std::uint16_t(item->value & 0xFFFF);
}

namespace {

// The item's data as bytes: lengths 1 to 4 give the value's low bytes, most
// significant first; longer ones the bytes the value points to.
void itemBytes(const MetaItem& item, std::uint8_t* out) {
    if (item.length <= 4) {
        for (int i = 0; i < item.length; ++i) {
            out[i] = std::uint8_t(item.value >> (8 * (item.length - 1 - i)));
        }
    } else if (item.value != 0) {
        std::memcpy(out, reinterpret_cast<const void*>(item.value), item.length);
    } else {
        std::memset(out, 0, item.length);
    }
}

}  // namespace

void* MetaCopyBuffer(const MetaItem* item) {
    if (item == nullptr || item->length == 0) {
        return nullptr;
    }
    auto* copy = static_cast<std::uint8_t*>(GAlloc(item->length));
    if (copy != nullptr) {
        itemBytes(*item, copy);
    }
    return copy;
}

std::uint32_t MetaListToBufferLength(int count, const MetaItem* items) {
    std::uint32_t total = 0;
    for (int i = 0; items != nullptr && i < count; ++i) total += items[i].length + 4u;
    return total;
}

std::uint32_t MetaListToBuffer(int count, const MetaItem* items, std::uint32_t capacity, void* out) {
    const std::uint32_t total = MetaListToBufferLength(count, items);
    if (total == 0 || total > capacity || out == nullptr) {
        return 0;
    }
    auto* p = static_cast<std::uint8_t*>(out);
    for (int i = 0; i < count; ++i) {
        const MetaItem& item = items[i];
        p[0] = std::uint8_t(item.id >> 8);
        p[1] = std::uint8_t(item.id);
        p[2] = std::uint8_t(item.length >> 8);
        p[3] = std::uint8_t(item.length);
        itemBytes(item, p + 4);
        p += 4 + item.length;
    }
    return total;
}
