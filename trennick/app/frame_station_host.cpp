#include "trennick/app/frame_station_host.h"

#include "trennick/app/frame_panels.h"
#include "trennick/app/frame_remote_settings.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/received_video.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/video/video_main.h"

#include <QToolBar>

namespace trennick {

int FrameStationHost::ask(UINT stringId, int kind, const std::string& fallback) {
    return m_frame.message(stringId, kind, fallback);
}

void FrameStationHost::beforeRead() {
    if (m_frame.m_firstPass) {
        m_frame.m_firstPass = false;
        if (QToolBar* bar = m_frame.m_wndToolBar) {
            m_frame.removeToolBar(bar);
            bar->setParent(&m_frame, Qt::Tool);
            bar->move(50, 50);
            bar->hide();
        }
    }
    if (m_frame.m_pAudComp != nullptr) m_frame.m_pAudComp->ProcessVoice();
}

void FrameStationHost::afterRead() {
    if (m_frame.m_video != nullptr) m_frame.m_video->Step(*m_frame.m_pConnection);
    m_frame.m_videoMain->ProcessRemoteVideo();
}

bool FrameStationHost::driveTransfer(LONG lastRead) {
    return m_frame.m_panels != nullptr && m_frame.m_panels->TransferStep(lastRead);
}

void FrameStationHost::afterTransfer() {
    if (m_frame.m_pRemoteSetMgr != nullptr) m_frame.m_pRemoteSetMgr->UpdateTransferProgress();
    m_frame.m_app.Windows().RemoteWindowStep(m_frame);
}

void FrameStationHost::refresh(bool forceCaption) {
    m_frame.UpdateCaption(forceCaption);
    m_frame.UpdateStatus();
}

void FrameStationHost::autoConnect() {
    const std::string& target = !m_frame.m_app.DValue().empty() ? m_frame.m_app.DValue() : m_frame.m_app.SValue();
    if (!target.empty()) m_frame.AutoConnect(target);
}

bool FrameStationHost::queueFileInWindow(const std::string& path, const std::string& typeText) {
    return m_frame.m_app.Windows().SendFile(m_frame, path, typeText) ||
           (m_frame.m_panels != nullptr && m_frame.m_panels->SendFile(path, typeText));
}

void FrameStationHost::siteForgotten() {
    m_frame.showHisCard("", "", "");
}

void FrameStationHost::stopTalk() {
    if (m_frame.m_pAudComp != nullptr) m_frame.m_pAudComp->StopVoiceCompressProcess();
}

void FrameStationHost::onCallStateChanged(const CallStateChanged& event) {
    if (event.state == CallState::Listening) m_frame.UpdateCaption(true);
}

void FrameStationHost::onNotice(const std::string& text) {
    m_frame.ShowLinkNotice(text);
}

void FrameStationHost::onArmChanged(const ArmChanged& event) {
    m_frame.showArm(event);
}

void FrameStationHost::onPeerCard(const PeerCard& event) {
    m_frame.showPeerCard(event);
}

}  // namespace trennick
