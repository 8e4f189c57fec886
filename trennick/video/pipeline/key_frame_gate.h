#pragma once
// KeyFrameGate: the wait for a key frame at the start of a received stream.
// Until one arrives every frame is refused, since inter frames without their
// reference decode into garbage. A standard H.263 key frame is an intra
// picture; a block-transform key frame carries 0x1F in byte 6, which the gate
// turns into 0x1E (an ordinary frame) on the way through, as the decoder
// expects.
//
// Thread: the pipeline's thread only. Nothing throws.

#include "platform/types.h"
#include "trennick/link/common_base.h"
#include "trennick/video/pipeline/video_frame.h"

namespace trennick {

class KeyFrameGate {
public:
    // True when the frame may go on; the first frame let through ends the wait.
    bool admit(VideoFrame& frame, WORD streamVersion);
    // Waits for a key frame again.
    void rearm() { m_waiting = true; }
    bool waiting() const { return m_waiting; }

private:
    bool isKeyFrame(VideoFrame& frame, WORD streamVersion);

    CCommon m_h263;  // the standard H.263 key-frame test
    bool m_waiting = true;
};

}  // namespace trennick
