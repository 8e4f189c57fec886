// The main window's services to the remote station window: its commands go
// to the main window's message map, the hold goes to the link, the LCD panel
// shows its lamps, and the adapters toolbar is the main window's video toolbar.

#include "trennick/app/frame_remote_view.h"

#include "common/fixed_text.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/received_video.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "trennick/panels/profile_wnd.h"
#include "trennick/ui/lcd_panel.h"

#include <cstring>

namespace trennick {

FrameRemoteView::FrameRemoteView(CMainFrame& frame) : m_frame(frame) {}

void FrameRemoteView::frameCommand(WPARAM id) {
    platform::PostMessage(m_frame.Hwnd(), WM_COMMAND, id, 0);
}

void FrameRemoteView::toggleHold() { m_frame.ToggleHold(); }

bool FrameRemoteView::isRecording() { return m_frame.IsRecording(); }

void FrameRemoteView::playEventSound(int kind) { m_frame.PlayEventSound(kind); }

void FrameRemoteView::videoOpened() {
    platform::PostMessage(m_frame.Hwnd(), kMsgVideoStreaming, 0, 0);
}

void FrameRemoteView::pointerActivity() {
    platform::PostMessage(m_frame.Hwnd(), kMsgPointerActivity, 0, 0);
}

void FrameRemoteView::filesDropped(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) m_frame.SendFile(path, "");
}

bool FrameRemoteView::remoteVersion(int& kind, std::string& text) {
    char version[256] = {};
    if (m_frame.GetRemoteVersion(&kind, version, sizeof version) == 0) return false;
    text = version;
    return true;
}

std::string FrameRemoteView::instanceId() { return m_frame.m_app.GetInstanceId(); }

std::string FrameRemoteView::holdClipFolder() {
    const char* home = m_frame.m_settings.general.HomeDir;
    return fixed_text::Read(home, sizeof m_frame.m_settings.general.HomeDir);
}

QToolBar* FrameRemoteView::adaptersToolBar() { return m_frame.m_wndToolBar; }

void FrameRemoteView::showVideoLamp(bool on) {
    if (m_frame.m_pLcdPanel != nullptr) m_frame.m_pLcdPanel->ShowVideoLamp(on ? 1 : 0);
}

void FrameRemoteView::setFrameRateMeter(double framesPerSecond) {
    if (m_frame.m_pLcdPanel != nullptr) m_frame.m_pLcdPanel->SetFrameRateMeter(framesPerSecond, 2000);
}

void FrameRemoteView::showRemoteImage(bool on) {
    if (m_frame.m_pLcdPanel != nullptr) m_frame.m_pLcdPanel->ShowRemoteImage(on ? 1 : 0);
}

// The link profile window, when open, takes each decoded frame's figures and
// runs its video timer (309) while a stream is open.
void FrameRemoteView::frameDecoded(DWORD length, DWORD decodeMs) {
    if (CProfile* profile = m_frame.m_views != nullptr ? m_frame.m_views->Profile() : nullptr) {
        profile->VideoFrameShown(length, decodeMs);
    }
}

void FrameRemoteView::videoStreamChanged(bool open) {
    CProfile* profile = m_frame.m_views != nullptr ? m_frame.m_views->Profile() : nullptr;
    if (profile == nullptr) return;
    if (open) {
        profile->SetTimer(kProfileVideoTimer);
    } else {
        profile->KillTimer(kProfileVideoTimer);
    }
}

void FrameRemoteView::inputSwitchDone() {
    if (CReceivedVideo* video = m_frame.ReceivedVideo()) video->Recorder().ClearInputSwitchPending();
}

// The split view of the received video is the recorder's; switching it on
// goes the way of the main window's camera sequence command.
bool FrameRemoteView::splitMode() {
    CReceivedVideo* video = m_frame.ReceivedVideo();
    return video != nullptr && video->Recorder().IsSplitOrAutoSwitchMode() != FALSE;
}

void FrameRemoteView::setSplitMode(bool on) {
    if (on) {
        if (m_frame.m_views != nullptr) m_frame.m_views->OnCommand(ID_SEQUENCE_ON);
        return;
    }
    if (splitMode()) m_frame.ReceivedVideo()->Recorder().SetSplitMode(FALSE);
}

}  // namespace trennick
