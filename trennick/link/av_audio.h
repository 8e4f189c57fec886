#pragma once
// Live audio over the link and the sending of video frames: the receiving
// checks of audio buckets (StoreAudioFrame) and the size rules of the senders
// (SendAudioFrame, SendFrame).
//
// Threads: AudioReceiver is used by one thread at a time (the link's reader,
// under its bucket lock); the senders run under the bucket lock that the
// link's SendBucket takes. Failure: bad buckets are traced and dropped; a
// sender returns false or 0 when nothing was written.

#include "platform/types.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/bucket.h"
#include "trennick/link/link_host.h"

#include <vector>

namespace trennick {

inline constexpr DWORD kMaxAudioFrameBytes = 1024;
// A video frame of this many bytes or more is not sent.
inline constexpr DWORD kVideoFrameLimitBytes = 15354;
// An audio payload is sent only while payload + 22 stays below this.
inline constexpr DWORD kAudioSendLimitBytes = 1023999;

class AudioReceiver {
public:
    // The audio codec client; null: received audio is ignored.
    void setCodec(LinkAudioClient* codec) { m_codec = codec; }
    void StoreAudioFrame(const DecodedBucket& bucket);

    DWORD checksumErrors() const { return m_checksumErrors; }
    DWORD lastBucketNo() const { return m_lastBucketNo; }

private:
    LinkAudioClient* m_codec = nullptr;
    std::vector<BYTE> m_frame;
    DWORD m_lastBucketNo = 0;
    DWORD m_checksumErrors = 0;
};

// SendAudioFrame: only while the peer announced audio support; BucketNo 0.
bool SendAudioFrame(AvLink& link, bool peerAudioSupport, const BYTE* payload, DWORD length);

// SendFrame: numbers the video buckets it sends, so the peer can see gaps.
class VideoSender {
public:
    // kind: the bucket type word (kind in the low byte, camera in the high
    // byte). Returns the transport's count, 0 when the frame is too large or
    // nothing was written.
    LONG SendFrame(AvLink& link, WORD bucketType, const BYTE* frame, DWORD length);
    void reset() { m_bucketNo = 0; }

private:
    WORD m_bucketNo = 0;
};

}  // namespace trennick
