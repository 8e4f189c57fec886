#pragma once
// A received video frame on its way through the pipeline, and the tap that
// hands each frame to the recorder. Headless: no widget is reached from here.

#include "platform/types.h"

#include <vector>

// A received frame as the link queued it.
struct VideoFrame {
    std::vector<BYTE> data;
    DWORD camera = 0;  // low 16 bits used
    DWORD kind = 0;    // 10: the site has no signal on that input; 11: a split page
};
inline constexpr DWORD kFrameKindNoVideo = 10;
inline constexpr DWORD kFrameKindSplitPage = 11;

// The stream kind that selects the H.263 decoder whatever the version.
inline constexpr WORD kStreamKindH263 = 256;

// Whether a stream of this version and kind is standard H.263 (the H.263
// client decodes it) rather than the block-transform stream.
inline bool UsesH263Stream(WORD streamVersion, WORD streamKind) {
    return streamVersion == 2 || streamKind == kStreamKindH263;
}

namespace trennick {

// Where each received frame is handed on (the recording of received video and
// the split view's cycle). Called on the pipeline's thread, in arrival order,
// after the key-frame wait: once with the frame as it will be decoded, then
// once more after it was decoded.
class VideoFrameSink {
public:
    virtual ~VideoFrameSink() = default;
    virtual void OnVideoFrame(const VideoFrame& frame) = 0;
    // `shown`: decoding is on and the frame produced a picture.
    virtual void OnFrameHandled(BOOL shown) = 0;
};

}  // namespace trennick
