#pragma once
// What the live audio and video code of the station link needs around it: the
// link (tokens, buckets, the peer's protocol, hold bits, the clock) and the
// parts that take received frames (the remote view's frame list and window,
// the network video output, the serial video port). Each is an interface so
// the link, the application and tests plug in their own.

#include "platform/types.h"
#include "trennick/link/common_base.h"

#include <string>

namespace trennick {

class CPacketConnection;

// The link as the audio and video code uses it. Called on the thread that
// handles the bucket (the link's reader, under its bucket lock) or the sender.
class AvLink {
public:
    virtual ~AvLink() = default;
    // Sends one token (a "<...>" text) in a token bucket; false when nothing was written.
    virtual bool sendToken(WORD tokenId) = 0;
    // Builds and writes one bucket; the transport's count, 0 when nothing was written.
    virtual LONG sendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo) = 0;
    // The peer's protocol version from its capabilities: 1 or 2.
    virtual int protocolVersion() = 0;
    // "P" of the peer's hello (bucket layout): 0 before the hello.
    virtual LONG peerProtocolNumber() = 0;
    // Hold bits: 1 this side holds the call, 2 the peer holds it.
    virtual BYTE holdBits() = 0;
    // The state of the peer's video towards us (RVideo.Status).
    virtual WORD remoteVideoStatus() = 0;
    // Milliseconds of a monotonic clock.
    virtual DWORD nowMs() = 0;
};

// The remote view's list of received frames waiting for the decoder.
class RemoteFrameList {
public:
    virtual ~RemoteFrameList() = default;
    virtual void clear() = 0;
    // One good frame; `changed` when the camera or the picture format changed with it.
    virtual void push(WORD bucketType, const BYTE* frame, DWORD length, bool changed) = 0;
};

// The remote video window.
class RemoteVideoWindow {
public:
    virtual ~RemoteVideoWindow() = default;
    // The hook called on a camera or format change of the received video.
    virtual int UpdateVideoMgr() { return 1; }
    // The peer's video settings: its video state and three 32-bit values.
    virtual void OnNewVideoSettings(WORD remoteVideoState, DWORD a, DWORD b, DWORD c) = 0;
    // Frame rate 1 to 100 when the peer placed the call.
    virtual void SetFrameRate(int rate) = 0;
};

// The network video output (CVideoOutNet) as the link uses it.
class VideoOutNet {
public:
    virtual ~VideoOutNet() = default;
    virtual bool isClientConnected() = 0;
    virtual bool writeFrame(const BYTE* frame, DWORD length) = 0;
    virtual bool clientNewlyConnected() = 0;
    virtual bool clientLeft() = 0;
    virtual bool wantsBufferCleaned() = 0;
    virtual void cleanBuffer() = 0;
};

// The serial output port (the serial-port client's AddBuffer): 1 taken, 0 refused.
class SerialVideoPort {
public:
    virtual ~SerialVideoPort() = default;
    virtual int AddBuffer(const BYTE* data, DWORD length) = 0;
};

// AvLink over a CPacketConnection, through its public operations only.
class PacketConnectionAvLink : public AvLink {
public:
    explicit PacketConnectionAvLink(CPacketConnection& link) : m_link(link) {}
    bool sendToken(WORD tokenId) override;
    LONG sendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo) override;
    int protocolVersion() override;
    LONG peerProtocolNumber() override;
    BYTE holdBits() override;
    WORD remoteVideoStatus() override;
    DWORD nowMs() override;

private:
    CPacketConnection& m_link;
};

}  // namespace trennick
