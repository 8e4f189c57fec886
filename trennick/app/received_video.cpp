#include "trennick/app/received_video.h"

#include "trennick/app/kiv_app.h"

#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/video_main.h"

#include <cstring>

namespace trennick {

namespace {

// The picture size a received frame tells: a block packet gives its width and
// height in 8x8 luma blocks (bytes 5 and 6 of its 11-byte header), an H.263
// picture its source format. False when the frame tells none.
bool pictureSizeOf(const BYTE* frame, DWORD length, DWORD& width, DWORD& height) {
    constexpr DWORD kBlockPacketHeadBytes = 11;
    if (frame != nullptr && length >= kBlockPacketHeadBytes && frame[0] == 1) {
        if (frame[5] == 0 || frame[6] == 0) return false;
        width = DWORD(frame[5]) * 8;
        height = DWORD(frame[6]) * 8;
        return true;
    }
    int format = 0;
    if (!CCommon::GetH263SourceFormat(frame, length, format)) return false;
    switch (format) {
    case 1: width = 128; height = 96; return true;
    case 2: width = 176; height = 144; return true;
    case 3: width = 352; height = 288; return true;
    default: return false;
    }
}

}  // namespace

void CReceivedVideo::snapshotWritten() {
    ++m_framesWritten;
    if (CVideoMain* video = m_frame.VideoMain()) {
        if (CRemoteWnd* remote = video->RemoteWnd()) remote->BlinkIndicator();
    }
}

CReceivedVideo::CReceivedVideo(CMainFrame& frame) : m_frame(frame), m_mgr(std::make_unique<CVideoRecorder>(*this)) {
    m_enableRecord = ProductDwordBack("Video", "EnableRecord", 1) != 0;
}

CReceivedVideo::~CReceivedVideo() = default;

void CReceivedVideo::Attach() {
    if (m_attached) return;
    m_mgr->Attach(m_frame.RemoteDB());
    m_attached = true;
}

void CReceivedVideo::Step(CPacketConnection& link) {
    Attach();
    m_mgr->SetStreamVersion(link.GetProtocolVersion() == 2 ? 2 : 1);
}

void CReceivedVideo::OnVideoFrame(const VideoFrame& frame) {
    ++m_framesTaken;
    const DWORD length = static_cast<DWORD>(frame.data.size());
    pictureSizeOf(frame.data.data(), length, m_pictureWidth, m_pictureHeight);
    const WORD camera = static_cast<WORD>(frame.camera);
    if (camera != m_mgr->CurrentCamera()) m_mgr->SetCurrentVideoInput(camera);
    m_mgr->OnVideoFrame(frame.data.data(), length, frame.camera, frame.kind);
}

DWORD CReceivedVideo::nowMs() { return m_frame.App().Now(); }

void CReceivedVideo::selectVideoInput(WORD adapter, WORD camera, WORD page) {
    // The capture object that stands for the site's card sends the request.
    if (CLumoraRemote* capture = m_frame.RemoteCapture()) {
        capture->SetVideoInput(adapter, page != 0 ? WORD(page - 1) : camera, page != 0 ? 1 : 0);
    }
}

void CReceivedVideo::splitModeChanged() {
    if (CVideoMain* video = m_frame.VideoMain()) video->VideoMgr().ResizeVideoWindow(TRUE, TRUE, TRUE);
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

std::string CReceivedVideo::storageStation() { return m_frame.RecordingStation(); }

void CReceivedVideo::recordFileOpened(const std::string& fileName) { m_frame.NotifyRecordStart(fileName.c_str(), 1, 0); }

void CReceivedVideo::recordFileClosed(const std::string& fileName) {
    m_recordedFiles.push_back(fileName);
    if (m_recordedFiles.size() > 64) m_recordedFiles.pop_front();
    m_frame.NotifyRecordFinish(fileName.c_str(), 1, 0);
}

void CReceivedVideo::receivedPictureSize(DWORD& width, DWORD& height) {
    width = m_pictureWidth;
    height = m_pictureHeight;
}

}  // namespace trennick
