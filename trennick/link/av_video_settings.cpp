#include "trennick/link/av_video_settings.h"

#include "trennick/link/bucket.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/prot_list.h"

#include <cstring>
#include <vector>

namespace trennick {

namespace {

constexpr std::size_t kClearedValueOffset = 32;

DWORD readDword(const BYTE* bytes, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

void clearValue(VideoSettingsRecord& record) { std::memset(record.data() + kClearedValueOffset, 0, 4); }

}  // namespace

// ---- states ----

void VideoStates::reset(WORD local, WORD remote) {
    m_local = local;
    m_remote = remote;
    m_remembered = 0;
    m_rememberedLocal = 0;
}

void VideoStates::OnPeerClosesOurVideo() {
    if (m_local != 0) {
        m_local = kVideoStateClosed;
    }
}

void VideoStates::OnPeerPausesOurVideo() {
    if (m_local != 0 && framesAllowed()) {
        m_rememberedLocal = m_local;
        m_local = kVideoStatePaused;
    }
}

void VideoStates::OnPeerResumesOurVideo() {
    if (m_local == kVideoStatePaused) {
        m_local = m_rememberedLocal;
    }
}

void VideoStates::SetVideoStatus(AvLink& link, BYTE kind, WORD status) {
    if (kind == 0) {
        if (status == kVideoStateClosed && m_local != kVideoStateClosed && m_local != 0) {
            link.sendToken(ID_DSVD_CLOSEMYVIDEO);
        }
        linkTrace(5, "CPacketConnection::SetVideoStatus(BYTE Type=0,WORD Status) Setting LVideo.Status=%d; FILE: %s, LINE: %d\n",
                  int(status), "pakconn", __LINE__);
        m_local = status;
        return;
    }
    const bool changes = status != m_remote;
    switch (status) {
    case kVideoStatePaused:
        if (changes) {
            m_remembered = m_remote;
            if (m_remote != 0) {
                link.sendToken(ID_DSVD_VIDEORPAUSE);
            }
        }
        break;
    case kVideoStateClosed:
        if (changes && m_remote != 0 && m_remote != kVideoStatePaused) {
            link.sendToken(ID_DSVD_CLOSEYOURVIDEO);
        }
        break;
    case kVideoStatePauseRequest:
        if (changes && m_remote != 0 && m_remote != kVideoStatePaused) {
            link.sendToken(ID_DSVD_VIDEORPAUSE);
        }
        break;
    case kVideoStateResume:
        if (changes && m_remote != 0) {
            link.sendToken(ID_DSVD_VIDEORRESUME);
        }
        m_remote = m_remote == kVideoStatePaused ? m_remembered : kVideoStateInProcess;
        return;
    default:
        break;
    }
    if (m_remote != kVideoStatePaused || status == kVideoStatePaused) {
        m_remote = status;
    }
}

void VideoStates::OnVideoOpen(AvLink& link) {
    if (m_remote == kVideoStateInProcess) {
        linkTrace(5, "< %s = ID_DSVD_VOPEN received : Dont change RVideo.Status=%ld Send ID_DSVD_OKVOPEN",
                  "<VideoOpen>", static_cast<long>(m_remote));
        link.sendToken(ID_DSVD_OKVIDEOOPEN);
    } else if (m_remote != 4) {
        linkTrace(5, "< %s = ID_DSVD_VOPEN received : Setting RVideo.Status=VIDEO_OPEN", "<VideoOpen>");
        m_remote = kVideoStateOpen;
    }
}

// ---- settings ----

WORD VideoSettingsExchange::GetVideoSettings(int selector, VideoSettingsRecord& out, const VideoStates& states) {
    VideoSettingsRecord& record = selector == 0 ? m_mine : m_yours;
    clearValue(record);
    out = record;
    return selector == 0 ? states.local() : states.remote();
}

LONG VideoSettingsExchange::SendVideoSettings(AvLink& link, int selector, const BYTE* shortForm,
                                              const VideoSettingsRecord& record) {
    if (link.holdBits() != 0) {
        return 0;
    }
    const WORD token = selector != 0 ? ID_DSVD_YOURVIDEOSETTINGS : ID_DSVD_MYVIDEOSETTINGS;
    const std::string_view text = tokenText(token);
    const LONG p = link.peerProtocolNumber();
    std::vector<BYTE> payload(text.begin(), text.end());
    if (p < 2) {
        payload.insert(payload.end(), record.begin(), record.end());
    } else {
        const std::size_t bytes = selector != 0 ? kYourVideoShortFormBytes : kMyVideoShortFormBytes;
        if (shortForm == nullptr) {
            return 0;
        }
        payload.insert(payload.end(), shortForm, shortForm + bytes);
    }
    linkTrace(5, selector != 0 ? "Send Your Video Settings, ProtVer: %d\n" : "Send My Video Settings, ProtVer: %d\n",
              static_cast<int>(p));
    return link.sendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()), 0);
}

LONG VideoSettingsExchange::SendDefaultVideoQuality(AvLink& link, const VideoSettingsRecord& frameRecord,
                                                    WORD quality) {
    DWORD shortForm[4] = {readDword(frameRecord.data(), 12), readDword(frameRecord.data(), 16), DWORD{quality}, 0};
    return SendVideoSettings(link, 1, reinterpret_cast<const BYTE*>(shortForm), frameRecord);
}

void VideoSettingsExchange::NewVideoSettings(AvLink& link, int kind, const BYTE* body, DWORD length,
                                             const VideoStates& states, RemoteVideoWindow* window) {
    linkTrace(5, "CPacketConnection::NewVideoSettings type = %ld, %s, LINE %d", static_cast<long>(kind), "pakconn",
              __LINE__);
    if (link.holdBits() != 0) {
        return;
    }
    const LONG p = link.peerProtocolNumber();
    if (body == nullptr) {
        length = 0;
    }
    if (kind == 0) {
        linkTrace(5, "New My Video Settings, ProtVer: %d\n", static_cast<int>(p));
        if (p < 2) {
            if (length < kVideoSettingsRecordBytes) {
                linkTrace(1, "CPacketConnection::NewVideoSettings() %lu bytes behind the token, %zu needed",
                          static_cast<unsigned long>(length), kVideoSettingsRecordBytes);
                return;
            }
            std::memcpy(m_mine.data(), body, kVideoSettingsRecordBytes);
        }
        clearValue(m_mine);
        return;
    }
    linkTrace(5, "New Your Video Settings, ProtVer: %d\n", static_cast<int>(p));
    DWORD values[3] = {};
    if (p < 2) {
        if (length < kVideoSettingsRecordBytes) {
            linkTrace(1, "CPacketConnection::NewVideoSettings() %lu bytes behind the token, %zu needed",
                      static_cast<unsigned long>(length), kVideoSettingsRecordBytes);
            return;
        }
        std::memcpy(m_yours.data(), body, kVideoSettingsRecordBytes);
        values[0] = readDword(m_yours.data(), 12);
        values[1] = readDword(m_yours.data(), 16);
        values[2] = readDword(m_yours.data(), 36);
    } else {
        if (length < 12) {
            linkTrace(1, "CPacketConnection::NewVideoSettings() %lu bytes behind the token, 12 needed",
                      static_cast<unsigned long>(length));
            return;
        }
        std::memcpy(values, body, sizeof values);
    }
    clearValue(m_yours);
    if (window != nullptr) {
        window->OnNewVideoSettings(states.remote(), values[0], values[1], values[2]);
    }
}

void BeforeVideoOpen(AvLink& link, VideoSettingsExchange& settings, bool outgoingCall, RemoteFrameList* frames,
                     RemoteVideoWindow* window, int frameRate, const VideoSettingsRecord& frameRecord,
                     WORD quality) {
    if (frames != nullptr) {
        frames->clear();
    }
    if (!outgoingCall) {
        if (window != nullptr) {
            window->SetFrameRate(frameRate);
        }
        linkTrace(5, "CPacketConnection::BeforeVideoOpen() DOA send default video quality");
    }
    settings.SendDefaultVideoQuality(link, frameRecord, quality);
}

}  // namespace trennick
