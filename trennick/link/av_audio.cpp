#include "trennick/link/av_audio.h"

#include "trennick/link/link_trace.h"

namespace trennick {

void AudioReceiver::StoreAudioFrame(const DecodedBucket& bucket) {
    if (bucket.BucketLen == 0 || bucket.Payload == nullptr || m_codec == nullptr) {
        return;
    }
    if (bucket.BucketLen > kMaxAudioFrameBytes) {
        linkTrace(1, "CPacketConnection::StoreAudioFrame() ERROR Failed CurrBucket.BucketLen = %ld ",
                  static_cast<long>(bucket.BucketLen));
        return;
    }
    m_frame.assign(bucket.Payload, bucket.Payload + bucket.BucketLen);
    if (!bucket.checksumMatches()) {
        ++m_checksumErrors;
        linkTrace(3, "CPacketConnection::StoreAudioFrame() Failed!!! CRC Error!!!!");
        return;
    }
    const DWORD number = bucket.BucketNo;
    if (number != m_lastBucketNo + 1 && number != 0 && number != 1) {
        linkTrace(3,
                  "CPacketConnection::StoreAudioFrame()  illegal sequence bucket  Current BucketNo=%d Prev Bucket "
                  "number =%d",
                  static_cast<int>(number), static_cast<int>(m_lastBucketNo));
    }
    m_lastBucketNo = number;
    m_codec->ProcessRemoteAudio(m_frame.data(), static_cast<DWORD>(m_frame.size()));
}

bool SendAudioFrame(AvLink& link, bool peerAudioSupport, const BYTE* payload, DWORD length) {
    if (!peerAudioSupport || payload == nullptr || length + 22ull >= kAudioSendLimitBytes) {
        return false;
    }
    return link.sendBucket(kAudioBucket, payload, length, 0) != 0;
}

LONG VideoSender::SendFrame(AvLink& link, WORD bucketType, const BYTE* frame, DWORD length) {
    if (frame == nullptr || length >= kVideoFrameLimitBytes) {
        return 0;
    }
    ++m_bucketNo;
    return link.sendBucket(bucketType, frame, length, m_bucketNo);
}

}  // namespace trennick
