#pragma once
// The block-transform decoder: turns a stream of compressed video packets
// (block packets, H.263 baseline pictures, H.261 pictures) into a persistent
// decoded picture and paints the blocks that changed into a caller's image.
//
// Plain functions on an opaque context. Errors come back as results and
// through the context's error callback, never as exceptions. Contexts are
// independent of each other: each may be used by one thread at a time, and
// different contexts by different threads at once. The library uses no Qt and
// shows no window.

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

struct KcExpandContext;

// One attribute item. A length of 1 to 4 carries the datum in `value`; a
// longer one points to `length` bytes (the value is pointer-sized so that it
// can hold an address).
struct MetaItem {
    std::uint16_t id = 0;
    std::uint16_t length = 0;
    std::uintptr_t value = 0;
};

// Attribute ids of KcExpandSetAttributes.
enum KcAttribute : std::uint16_t {
    KCATTR_FORMAT = 0,         // BITMAPINFOHEADER, optionally with its colour table
    KCATTR_OUTPUT_MODE = 1,    // KcOutputMode
    KCATTR_PALETTE = 2,        // RGBQUAD entries
    KCATTR_NO_WINDOW = 3,      // once a window for error texts; skipped (see KcExpandSetErrorCallback)
    KCATTR_GREY = 4,           // not 0: paint luminance only
    KCATTR_PAYLOAD_HEADER = 5, // a 4-byte payload header precedes H.263 and H.261 packets
    KCATTR_STREAM_KIND = 6,    // 2 H.263, 3 H.261, others: the packet decides
    KCATTR_RESERVED = 7,       // kept, no effect
};

enum KcOutputMode : std::uint16_t {
    KCMODE_NONE = 0,
    KCMODE_BGR24 = 1,
    KCMODE_PALETTE8 = 2,
    KCMODE_UYVY16 = 3,
};

// Result bits of KcExpandPacket.
inline constexpr std::uint32_t kKcNotPainted = 1;     // nothing was painted by this call
inline constexpr std::uint32_t kKcFormatChanged = 2;  // re-read the size with KcExpandGetAttribute

// KcExpandGetAttribute numbers.
inline constexpr std::uint32_t kKcAttrWidth = 3;
inline constexpr std::uint32_t kKcAttrHeight = 4;
inline constexpr std::uint32_t kKcAttrColour = 5;

// Decoder error codes, as the error callback reports them. Code 0 with the
// packet's length as detail: a packet too short or of no known kind.
enum KcError : std::uint32_t {
    KCERR_NONE = 0,
    KCERR_MB_POSITION = 201,
    KCERR_GOB_NUMBER = 202,
    KCERR_MB_TYPE = 203,
    KCERR_CBPY = 204,
    KCERR_DATA_ENDED = 206,
    KCERR_PTYPE = 207,
    KCERR_SOURCE_FORMAT = 208,
    KCERR_OPTIONAL_MODE = 209,
    KCERR_NO_START_CODE = 210,
    KCERR_PAYLOAD_F = 211,
    KCERR_PAYLOAD_P = 212,
    KCERR_CBP = 213,
    KCERR_MB_BEFORE_GOB = 215,
    KCERR_MVD = 216,
};

// Told of each packet that failed to decode: the error code (KcError, or 0)
// and its detail (the bytes the parser had not yet loaded, or the packet's
// length). Called on the thread that called KcExpandPacket, before it returns.
using KcErrorCallback = void (*)(void* user, std::uint32_t code, std::uint32_t detail);

KcExpandContext* KcExpandOpen();
void KcExpandClose(KcExpandContext* context);
int KcExpandSetAttributes(KcExpandContext* context, const MetaItem* items, int count);
std::uint32_t KcExpandGetAttribute(KcExpandContext* context, std::uint32_t number);
std::uint32_t KcExpandPacket(KcExpandContext* context, int forcePaint, const void* data, std::uint32_t length,
                             void* output);
std::uint32_t KcExpandBuffer(KcExpandContext* context, const void* data, std::uint32_t length, void* output);
std::uint32_t KcExpandRedraw(KcExpandContext* context, void* output);
void KcExpandSetNextAllChanged(KcExpandContext* context);
// Sets (or with null clears) the context's error callback: each packet that
// fails is reported to it once. Reporting changes nothing of the painting.
void KcExpandSetErrorCallback(KcExpandContext* context, KcErrorCallback callback, void* user);
void KcExpandCalculatePalette(KcExpandContext* context, int maximum, RGBQUAD* palette);
int KcExpandAttributesForRemote(std::uint32_t a, std::uint32_t b);

void* GAlloc(std::size_t size);
void* GReAlloc(void* block, std::size_t size);
void GFree(void* block);

std::uint16_t MetaWord(const MetaItem* item);
void* MetaCopyBuffer(const MetaItem* item);
std::uint32_t MetaListToBufferLength(int count, const MetaItem* items);
std::uint32_t MetaListToBuffer(int count, const MetaItem* items, std::uint32_t capacity, void* out);

