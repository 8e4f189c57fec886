#pragma once
// PictureBuilder: rebuilds whole H.263 pictures out of the chunks a received
// stream arrives in, so that each picture can be stored as one snapshot. A
// picture is complete when the next picture start code arrives; Flush hands
// out the one still being collected when the stream ends (a recording stops
// or its input changes).
//
// Thread: one at a time (the user-interface thread). Failure: a picture that
// would pass the buffer is traced and dropped; nothing throws.

#include "platform/types.h"

#include <cstddef>
#include <vector>

namespace trennick {

inline constexpr std::size_t kMaxPictureBytes = 65536;

class PictureBuilder {
public:
    PictureBuilder();
    PictureBuilder(const PictureBuilder&) = delete;
    PictureBuilder& operator=(const PictureBuilder&) = delete;

    // Zeroes both buffers, the collected count and the frame size; TRUE.
    BOOL Reset();
    // Adds one chunk; TRUE when it completed the picture before it (then
    // Frame/FrameSize give that picture until the next call).
    BOOL BuildFrame(const BYTE* chunk, DWORD length);
    // Moves the picture being collected to the complete-frame buffer; TRUE
    // when there was one.
    BOOL Flush();

    const BYTE* Frame() const { return m_frame.data(); }
    DWORD FrameSize() const { return m_frameSize; }
    DWORD Collected() const { return m_collected; }

private:
    DWORD m_frameSize = 0;
    DWORD m_collected = 0;
    std::vector<BYTE> m_collect;
    std::vector<BYTE> m_frame;
};

}  // namespace trennick
