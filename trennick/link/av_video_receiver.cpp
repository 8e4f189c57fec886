#include "trennick/link/av_video_receiver.h"

#include "trennick/link/link_trace.h"
#include "trennick/link/prot_list.h"

namespace trennick {

namespace {
constexpr DWORD kCrcTracePeriodMs = 10000;
}

VideoReceiver::VideoReceiver(AvLink& link) : m_link(link), m_serial(link) {}

void VideoReceiver::reset() {
    m_lastBucketNo = 0;
    m_lastCamera = -1;
    m_lastFormat = -1;
}

void VideoReceiver::StoreNewFrame(const DecodedBucket& bucket) {
    const DWORD length = bucket.BucketLen;
    if (length < 5 || bucket.Payload == nullptr) {
        linkTrace(3, "CPacketConnection::StoreNewFrame Error CurrBucket.BucketLen < 5");
        return;
    }
    if (m_link.remoteVideoStatus() != kVideoInProcess || m_link.holdBits() != 0) {
        linkTrace(5, "CPacketConnection::StoreNewFrame() RVideo.Status != VIDEO_IN_PROCESS");
        return;
    }
    const BYTE kind = bucket.kind();
    m_frame.assign(bucket.Payload, bucket.Payload + length);
    if (!bucket.checksumMatches()) {
        if (kind == kVideoKeyBucket) {
            m_link.sendToken(ID_DSVD_ERRORKVFRAME);
            linkTrace(3, "CPacketConnection::StoreNewFrame() CRC Error KeyFrame");
        } else {
            linkTrace(5, "CRC Error Video Frame");
            const DWORD now = m_link.nowMs();
            if (!m_crcTraced || now - m_lastCrcTraceMs >= kCrcTracePeriodMs) {
                linkTrace(3, "CPacketConnection::StoreNewFrame() CRC Error Frame");
                m_lastCrcTraceMs = now;
                m_crcTraced = true;
            }
        }
        return;
    }
    if (kind == kVideoKeyBucket) {
        linkTrace(5, "CPacketConnection::StoreNewFrame Got a Key frame ");
        if (m_link.protocolVersion() == 1 && length > 6) {
            m_frame[6] = 31;
        }
    }

    const DWORD number = bucket.BucketNo;
    if (number > 1 && number == m_lastBucketNo) {
        linkTrace(3,
                  "CPacketConnection::StoreNewFrame() Error: Same bucket !!!  CurrBucket.BucketNo = %ld nBucketNum = %ld "
                  "Not sending KEYFRAME request",
                  static_cast<long>(number), static_cast<long>(m_lastBucketNo));
    } else if (number > 1 && number != m_lastBucketNo + 1) {
        linkTrace(3, "CPacketConnection::StoreNewFrame() Error: Bucket sequence  CurrBucket.BucketNo = %ld nBucketNum = %ld",
                  static_cast<long>(number), static_cast<long>(m_lastBucketNo));
        m_link.sendToken(ID_DSVD_ERRORKVFRAME);
    }
    m_lastBucketNo = number;

    int camera = static_cast<int>((bucket.BucketType >> 8) & 0xFF);
    if (kind == kVideoBucket11) {
        camera = m_selectedCamera ? m_selectedCamera() : 0;
    }
    int format = m_lastFormat;
    CCommon::GetH263SourceFormat(m_frame.data(), length, format);
    const bool cameraChanged = camera != m_lastCamera;
    const bool formatChanged = format != m_lastFormat;
    m_lastCamera = camera;
    m_lastFormat = format;
    if (cameraChanged || formatChanged) {
        linkTrace(5, "CPacketConnection::StoreNewFrame() Format changed");
        if (m_frames != nullptr) {
            m_frames->clear();
        }
        if (m_window != nullptr) {
            m_window->UpdateVideoMgr();
        }
    }

    m_serial.AddSerialVideoFrame(m_frame.data(), length, formatChanged, cameraChanged);
    SendToNetwork(m_frame.data(), length);
    if (m_frames != nullptr) {
        // The frame goes on with the camera it was counted for, also when
        // the bucket carried none (type 11).
        const WORD type = static_cast<WORD>(((camera & 0xFF) << 8) | kind);
        m_frames->push(type, m_frame.data(), length, cameraChanged || formatChanged);
    }
}

void VideoReceiver::SendToNetwork(const BYTE* frame, DWORD length) {
    if (m_netOut == nullptr) {
        return;
    }
    if (m_netOut->isClientConnected()) {
        if (!m_netOut->writeFrame(frame, length)) {
            linkTrace(1, "CPacketConnection::SendToNetwork Write failed");
        }
        linkTrace(3, "CPacketConnection::SendToNetwork Data %d ", static_cast<int>(length));
    }
    if (m_netOut->clientNewlyConnected()) {
        linkTrace(3, "CPacketConnection::SendToNetwork a client connected");
        m_link.sendToken(ID_DSVD_ERRORKVFRAME);
    }
    if (m_netOut->clientLeft()) {
        linkTrace(3, "CPacketConnection::SendToNetwork a client was disconnected");
    }
    if (m_netOut->wantsBufferCleaned()) {
        m_netOut->cleanBuffer();
    }
}

}  // namespace trennick
