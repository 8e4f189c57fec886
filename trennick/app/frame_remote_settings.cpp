#include "trennick/app/frame_remote_settings.h"

#include "common/fixed_text.h"
#include "tavicore/db_lumo.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/app/frame_panels.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"

#include <cstring>

namespace trennick {

FrameRemoteSetHost::FrameRemoteSetHost(CMainFrame& frame)
    : RemoteSetMgrHost(frame.Connection(),
                       [&frame] {
                           BYTE site[kSiteInfoBytes] = {};
                           if (!frame.GetSiteInfo(site)) return std::string();
                           const char* guid = reinterpret_cast<const char*>(site);
                           return fixed_text::Read(guid, 256);
                       }),
      m_frame(frame) {}

bool FrameRemoteSetHost::sendFile(const std::string& path, const std::string& typeText) {
    return m_frame.SendFile(path, typeText) != FALSE;
}

bool FrameRemoteSetHost::queuedFilesGo() {
    // Without the transfer window's queue the station sends the file itself.
    CFramePanels* panels = m_frame.Panels();
    return panels == nullptr || panels->transferSettings().AutoSend();
}

void FrameRemoteSetHost::notifyGetProfileDone(const std::string& path, WORD result) {
    m_frame.NotifyGetProfileDone(path.c_str(), result);
}

void FrameRemoteSetHost::notifySetProfileDone(const std::string& path, WORD result) {
    m_frame.NotifySetProfileDone(path.c_str(), result);
}

void FrameRemoteSetHost::closeFileTransferWindow() { m_frame.App().Windows().CloseFileTransfer(m_frame); }

bool FrameRemoteSetHost::remoteHWProfile(tagHWProfile& profile) {
    CDBLumoRemote* db = m_frame.RemoteDB();
    return db != nullptr && db->GetHWProfiles(&profile) != 0;
}

bool FrameRemoteSetHost::siteLocked() { return m_frame.SiteLocked(); }

std::string FrameRemoteSetHost::instanceId() { return m_frame.App().GetInstanceId(); }

std::string FrameRemoteSetHost::text(UINT stringId) { return UiString(stringId); }

void FrameRemoteSetHost::showNotice(const std::string& text) { m_frame.ShowLinkNotice(text); }

}  // namespace trennick
