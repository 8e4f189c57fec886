#include "trennick/app/received_video.h"

#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"

#include <cstdio>
#include <cstring>

namespace trennick {

CReceivedVideo::CReceivedVideo(CMainFrame& frame) : m_frame(frame), m_mgr(std::make_unique<CVideoRecorder>(*this)) {
    m_enableRecord = ProductDwordBack("Video", "EnableRecord", 1) != 0;
}

CReceivedVideo::~CReceivedVideo() = default;

void CReceivedVideo::clear() { m_frames.clear(); }

void CReceivedVideo::push(WORD bucketType, const BYTE* frame, DWORD length, bool /*changed*/) {
    if (frame == nullptr || length == 0) return;
    if (m_frames.size() >= kReceivedFramesMax) {
        m_frames.pop_front();
        if (m_dropped++ % 100 == 0) LUMO_TRACE(3, "CReceivedVideo: frames dropped, %lu so far", static_cast<unsigned long>(m_dropped));
    }
    Queued record;
    record.data.assign(frame, frame + length);
    record.camera = static_cast<DWORD>(bucketType >> 8) & 0xFF;
    record.kind = static_cast<DWORD>(bucketType & 0xFF);
    CCommon::GetH263SourceFormat(frame, length, m_format);
    m_frames.push_back(std::move(record));
}

void CReceivedVideo::Step(CPacketConnection& link) {
    m_link = &link;
    if (!m_attached) {
        m_mgr->Attach(m_frame.RemoteDB());
        m_attached = true;
    }
    // FIXME: the remote station window answers the site's video opening and
    // may ask the operator first; until it is here the opening is accepted.
    if (link.IsConnected() && link.GetRemoteVideoStatus() == VIDEO_OPEN) {
        link.SendAcknowledgment(ID_DSVD_OKVIDEOOPEN, TRUE);
        link.SetVideoStatus(1, 3);
        m_waitingForKeyFrame = true;
    }
    const WORD version = link.GetProtocolVersion() == 2 ? 2 : 1;
    m_mgr->SetStreamVersion(version);
    while (!m_frames.empty()) {
        Queued next = std::move(m_frames.front());
        m_frames.pop_front();
        std::vector<BYTE>& data = next.data;
        if (m_waitingForKeyFrame) {
            // Nothing is recorded before the first key frame: a block-transform
            // key frame has 0x1F in byte 6 (0x1E after it), an H.263 one is intra.
            bool key = false;
            if (version == 2) {
                key = link.IsKeyFrameH263(data.data(), static_cast<DWORD>(data.size()));
            } else if (data.size() > 6 && data[6] == 0x1F) {
                data[6] = 0x1E;
                key = true;
            }
            if (!key) continue;
            m_waitingForKeyFrame = false;
        }
        ++m_framesTaken;
        const WORD camera = static_cast<WORD>(next.camera);
        if (camera != m_mgr->CurrentCamera()) m_mgr->SetCurrentVideoInput(camera);
        m_mgr->OnVideoFrame(data.data(), static_cast<DWORD>(data.size()), next.camera, next.kind);
        // FIXME: the video window decodes and paints the frame here once it
        // exists; until then a frame counts as shown, so the split cycle moves on.
        m_mgr->FrameShown();
    }
}

void CReceivedVideo::selectVideoInput(WORD adapter, WORD camera, WORD page) {
    // FIXME: the remote capture object makes this request once it is here.
    if (m_link == nullptr) return;
    char text[64];
    const int n = page != 0 ? std::snprintf(text, sizeof text, "< 1><%2u><PAGE%u>", unsigned(adapter), unsigned(page - 1))
                            : std::snprintf(text, sizeof text, "< 1><%2u><%2u>", unsigned(adapter), unsigned(camera));
    m_link->SendLumoraRPC(text, static_cast<WORD>(n));
}

void CReceivedVideo::SetRecordingStatus(BOOL requested, WORD mask) {
    if (!m_enableRecord) {
        LUMO_TRACE(3, "CVideoMain::SetRecordingStatus Recording is disabled");
        requested = FALSE;
    }
    if ((mask & 1) != 0) m_statusWord = requested ? (m_statusWord | 1) : (m_statusWord & ~1);
    m_recording = m_statusWord != 0;
    m_mgr->CloseAllEventFiles();
}

void CReceivedVideo::GetRecordingStatus(BOOL& writeOk, BOOL& recording, WORD& word) const {
    writeOk = m_lastWriteOk;
    recording = m_recording;
    word = m_statusWord;
}

void CReceivedVideo::setRecordingValues(BOOL writeOk, BOOL recording, WORD word) {
    m_lastWriteOk = writeOk;
    m_recording = recording;
    m_statusWord = word;
}

void CReceivedVideo::postToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    platform::PostMessage(m_frame.Hwnd(), message, wParam, lParam);
}

std::string CReceivedVideo::storageStation() {
    BYTE site[kSiteInfoBytes] = {};
    if (!m_frame.GetSiteInfo(site)) return {};
    const char* name = reinterpret_cast<const char*>(site + 256);
    return std::string(name, strnlen(name, 256));
}

void CReceivedVideo::recordFileOpened(const std::string& fileName) { m_frame.NotifyRecordStart(fileName.c_str(), 1, 0); }

void CReceivedVideo::recordFileClosed(const std::string& fileName) {
    m_recordedFiles.push_back(fileName);
    if (m_recordedFiles.size() > 64) m_recordedFiles.pop_front();
    m_frame.NotifyRecordFinish(fileName.c_str(), 1, 0);
}

void CReceivedVideo::receivedPictureSize(DWORD& width, DWORD& height) {
    switch (m_format) {
    case 1: width = 128; height = 96; break;
    case 3: width = 352; height = 288; break;
    default: width = 176; height = 144; break;
    }
}

}  // namespace trennick
