#pragma once
// BlockStreamDecoder: the pipeline's block-transform decoder. It owns one
// context of the decoder library, describes the picture it paints into, and
// walks a received frame chunk by chunk: each chunk is a kind byte, then its
// own length (big-endian, counted from its first byte) in bytes 1 and 2. A
// chunk too short to hold its head or running past the frame's end ends the
// walk, since it would never move on or would read beyond the frame.
//
// Thread: the pipeline's thread only. Failures: a context that cannot be
// opened leaves the decoder closed, and every frame then paints nothing; a
// chunk that fails to decode is traced ("[code] detail") and paints nothing.

#include "kcexpand/kcexpand.h"
#include "platform/types.h"

#include <functional>

namespace trennick {

class BlockStreamDecoder {
public:
    BlockStreamDecoder() = default;
    ~BlockStreamDecoder();
    BlockStreamDecoder(const BlockStreamDecoder&) = delete;
    BlockStreamDecoder& operator=(const BlockStreamDecoder&) = delete;

    // Opens the decoder's context unless it is open; false when it cannot be.
    bool open();
    void close();
    bool isOpen() const { return m_context != nullptr; }

    // The picture to paint: its header and colour table lie at `picture`
    // (a BITMAPINFOHEADER and biClrUsed entries), painted as 8-bit palette
    // indices when `palette8`, else as 24-bit BGR.
    void describeOutput(const BYTE* picture, bool palette8);

    // Told when a chunk changed the stream's size or kind, before the next
    // chunk is decoded: the caller may resize the picture and describe it again.
    using FormatChanged = std::function<void()>;
    // Decodes the frame's chunks into `bits`; true when at least one painted.
    bool decodeFrame(const BYTE* data, DWORD length, BYTE* bits, const FormatChanged& formatChanged);
    // Marks the whole picture changed for the next paint.
    void markAllChanged();
    // Paints every block into `bits` again (after the picture was described anew).
    void redrawAll(BYTE* bits);

    // The stream's own picture size; 0 before its first picture.
    int streamWidth() const;
    int streamHeight() const;

private:
    static void traceError(void* user, std::uint32_t code, std::uint32_t detail);

    KcExpandContext* m_context = nullptr;
};

}  // namespace trennick
