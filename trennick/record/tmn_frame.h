#pragma once
// CTMNFrame: joins the pieces in which a standard H.263 stream arrives into
// whole pictures, so that each picture can be stored as one snapshot. A piece
// that begins with a picture start code ends the picture collected so far,
// which then becomes the complete frame; the picture still being collected is
// the pending one, which Flush hands out when its stream ends (the input
// changes or the recording stops). The recorder keeps one per camera, so a
// picture always goes with the camera whose pieces made it.
//
// Thread: one at a time (the user-interface thread). Failure: a picture that
// would pass MAX_TMN_FRAME_SIZE bytes is traced and dropped; nothing throws.

#include "platform/types.h"

#include <vector>

class CTMNFrame {
public:
    static constexpr DWORD MAX_TMN_FRAME_SIZE = 65536;

    CTMNFrame();
    CTMNFrame(const CTMNFrame&) = delete;
    CTMNFrame& operator=(const CTMNFrame&) = delete;

    // Zeroes both buffers, the collected count and the frame size; TRUE.
    BOOL Reset();
    // TRUE when the piece completed the picture before it (then Frame and
    // FrameSize give that picture until the next call).
    BOOL BuildFrame(const BYTE* chunk, DWORD length);
    // Moves the pending picture to the complete-frame buffer; TRUE when there
    // was one.
    BOOL Flush();

    const BYTE* Frame() const { return m_frame.data(); }
    DWORD FrameSize() const { return m_nFramesize; }
    // Bytes of the pending picture.
    DWORD Collected() const { return m_collected; }

private:
    DWORD m_nFramesize = 0;
    DWORD m_collected = 0;
    std::vector<BYTE> m_collecting;
    std::vector<BYTE> m_frame;
};
