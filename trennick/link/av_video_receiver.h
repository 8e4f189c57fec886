#pragma once
// The receiving side of live video over the link (StoreNewFrame): checks each
// video bucket (length, state, checksum, sequence), asks the peer for a new key
// frame when the picture is broken, notices camera and format changes, and
// hands each good frame to the serial output, the network output and the
// remote view's frame list.
//
// Threads: one thread at a time (the link's reader, under its bucket lock).
// Failure: a bad frame is traced and dropped; nothing throws.

#include "platform/types.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/av_serial_video.h"
#include "trennick/link/bucket.h"

#include <functional>
#include <vector>

namespace trennick {

// RVideo.Status while the peer's video is running (VIDEO_IN_PROCESS).
inline constexpr WORD kVideoInProcess = 3;

class VideoReceiver {
public:
    explicit VideoReceiver(AvLink& link);

    void setFrameList(RemoteFrameList* frames) { m_frames = frames; }
    void setVideoWindow(RemoteVideoWindow* window) { m_window = window; }
    void setNetworkOutput(VideoOutNet* output) { m_netOut = output; }
    void setSerialPort(SerialVideoPort* port) { m_serial.setPort(port); }
    // Type-11 buckets carry no camera: the adapter's selected input gives it.
    void setSelectedCamera(std::function<int()> camera) { m_selectedCamera = std::move(camera); }

    void StoreNewFrame(const DecodedBucket& bucket);
    // Forgets the sequence, camera and format (a new connection or stream).
    void reset();

    DWORD lastBucketNo() const { return m_lastBucketNo; }

private:
    void SendToNetwork(const BYTE* frame, DWORD length);

    AvLink& m_link;
    RemoteFrameList* m_frames = nullptr;
    RemoteVideoWindow* m_window = nullptr;
    VideoOutNet* m_netOut = nullptr;
    SerialVideoOutput m_serial;
    std::function<int()> m_selectedCamera;
    CCommon m_common;  // key-frame test
    std::vector<BYTE> m_frame;
    DWORD m_lastBucketNo = 0;
    int m_lastCamera = -1;  // none yet
    int m_lastFormat = -1;  // none yet
    DWORD m_lastCrcTraceMs = 0;
    bool m_crcTraced = false;
};

}  // namespace trennick
