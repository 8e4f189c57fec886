#pragma once
// VideoPipeline: the road of received video from the link's bytes to a
// decoded picture. The link hands it each good frame (RemoteFrameList); it
// takes the bytes once, and on the owner's thread goes on at once: the view
// admits the frame (or drops it while it cannot show one), the key-frame wait,
// the recorder's tap, the decoder, and "picture ready" to the view that paints
// it. Frames handed in from another thread wait until the owner's thread
// calls drain().
//
// Thread: the owner's thread (the one that made it) for everything but push()
// and clear(), which any thread may call; the frames waiting for the owner sit
// behind m_pendingLock. Failure: a frame that does not decode is dropped after
// the recorder had it; nothing throws.

#include "platform/types.h"
#include "trennick/link/av_ports.h"
#include "trennick/video/pipeline/key_frame_gate.h"
#include "trennick/video/pipeline/video_frame.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace trennick {

// What decodes a frame into the picture the view paints.
class VideoFrameDecoder {
public:
    virtual ~VideoFrameDecoder() = default;
    // True when the frame produced a picture.
    virtual bool decodeFrame(const VideoFrame& frame) = 0;
};

// The view that shows the pipeline's pictures. Called on the owner's thread.
class VideoPictureView {
public:
    virtual ~VideoPictureView() = default;
    // A frame arrived: whether the view takes it now. A frame it does not
    // take is dropped before the key-frame wait.
    virtual bool admitFrame(DWORD frameBytes) = 0;
    // A received frame became the picture (it took `decodeMs` to decode).
    virtual void pictureReady(DWORD frameBytes, DWORD decodeMs) = 0;
    // Milliseconds of the view's clock.
    virtual DWORD nowMs() = 0;
};

// How a frame enters the pipeline.
enum class FrameEntry {
    Received,  // from the link: the view admits it first
    Posted,    // a whole frame posted to the view, which shows it whatever its state
};

class VideoPipeline : public RemoteFrameList {
public:
    VideoPipeline();

    void setView(VideoPictureView* view) { m_view = view; }
    void setDecoder(VideoFrameDecoder* decoder) { m_decoder = decoder; }
    // The recorder's tap; null: none.
    void setFrameSink(VideoFrameSink* sink) { m_frameSink = sink; }
    // Decoding off: the link's frames are not taken at all (nothing is
    // recorded or shown); a posted frame still reaches the recorder and is
    // not decoded.
    void setDecoding(bool on) { m_decoding = on; }
    void setStreamVersion(WORD version) { m_streamVersion = version; }

    // RemoteFrameList: the link's frames.
    void clear() override;
    void push(WORD bucketType, const BYTE* frame, DWORD length, bool changed) override;

    // One frame on its way: admitted (for a received one), the key-frame
    // wait, the recorder, the decoder. True when it was decoded (or decoding
    // is off). Owner's thread only.
    bool deliver(std::unique_ptr<VideoFrame> frame, FrameEntry entry);
    // Delivers the frames that arrived from other threads. Owner's thread only.
    void drain();

    bool waitingForKeyFrame() const { return m_keyFrameGate.waiting(); }

private:
    bool onOwnerThread() const { return std::this_thread::get_id() == m_owner; }

    const std::thread::id m_owner;
    VideoPictureView* m_view = nullptr;
    VideoFrameDecoder* m_decoder = nullptr;
    VideoFrameSink* m_frameSink = nullptr;
    KeyFrameGate m_keyFrameGate;
    std::atomic<bool> m_decoding{true};  // read by push() on the link's thread
    WORD m_streamVersion = 1;
    std::mutex m_pendingLock;
    std::deque<std::unique_ptr<VideoFrame>> m_pending;
};

}  // namespace trennick
