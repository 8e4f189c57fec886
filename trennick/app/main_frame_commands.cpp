// The main frame's services to the automation kit and the operator's commands
// on the connected site that live outside the frame's loop.

#include "common/lumo_deb.h"
#include "platform/process.h"
#include "resources/glossel_ids.h"
#include "tavicore/log_write.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/app/frame_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/mx_help.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"

#include <QString>
#include <cstring>
#include <filesystem>

namespace trennick {

void CMainFrame::Dial(const std::string& number, const std::string& user, const std::string& password) {
    CPacketConnection& link = *m_pConnection;
    if (number.empty() || (link.IsLinkUp() && link.IsConnected())) return;
    if (m_netInUse != 0 && !ConnectToInternet()) return;
    // The site's login for this call is the one given, not the local user's.
    m_loginRecord = _tag_user{};
    std::strncpy(m_loginRecord.name, user.c_str(), sizeof m_loginRecord.name - 1);
    std::strncpy(m_loginRecord.password, password.c_str(), sizeof m_loginRecord.password - 1);
    m_disconnectShown = false;
    const LONG r = link.ConnectToRemote(number.c_str(), "");
    LUMO_TRACE(3, "CMainFrame::Dial() ConnectToRemote %s returned %d", number.c_str(), static_cast<int>(r));
}

bool CMainFrame::IsOldSiteVersion() {
    int kind = 0;
    char version[256] = {};
    if (GetRemoteVersion(&kind, version, sizeof version) == 0 || !m_pConnection->IsConnected()) return false;
    for (const char* old : {"4.8.4", "4.6.2", "4.1.9"}) {
        if (CCommon::FindStringNoCase(old, version) >= 0) return true;
    }
    return false;
}

void CMainFrame::OnAudioOutToggle() {
    CBitmapButton* talk = m_buttonRow != nullptr ? m_buttonRow->Button(ID_TALK) : nullptr;
    CPacketConnection& link = *m_pConnection;
    const bool connected = link.IsLinkUp() && link.IsConnected();
    if (m_audioOutMuted) {
        if (talk != nullptr) talk->LoadBitmaps({IDB_BTN_AUDU, IDB_BTN_AUDD, 0, IDB_BTN_AUDX});
        if (m_pAudComp != nullptr) m_pAudComp->StopSendAudio(0);
        if (connected) link.SendAcknowledgment(ID_DSVD_AUDIOOUTUNMUTEACK, TRUE);
        m_audioOutMuted = false;
    } else {
        if (talk != nullptr) talk->LoadBitmaps({IDB_BTN_AUDD, IDB_BTN_AUDU, 0, IDB_BTN_AUDX});
        if (m_pAudComp != nullptr) m_pAudComp->StopSendAudio(1);
        if (connected) link.SendAcknowledgment(ID_DSVD_AUDIOOUTMUTEACK, TRUE);
        m_audioOutMuted = true;
    }
    if (talk != nullptr) {
        talk->setToolTip(QString::fromStdString(m_audioOutMuted ? UiString(kStrAudioOutOff, "Sending audio is off")
                                                                : UiString(kStrAudioOutOn, "Sending audio is on")));
        talk->update();
    }
}

void CMainFrame::OnChronview() {
    const std::filesystem::path folder = m_app.ProgramFolder();
    const std::filesystem::path program = folder / "chronview";
    std::vector<std::string> parameters;
    if (logWrite != nullptr) {
        char log[260] = {};
        logWrite->GetLogFileName(log);
        if (log[0] != '\0') parameters.emplace_back(log);
    }
    platform::Process viewer;
    std::error_code error;
    if (std::filesystem::exists(program, error)) {
        viewer = platform::Process::start(program.string(), parameters, folder.string());
    }
    if (!viewer.valid()) {
        LUMO_TRACE(5, "CMainFrame::OnChronview() Error Failed to launch log Viewer");
        m_app.Ui().ShowMessage("Error Failed to launch log Viewer", m_app.Title(), kMsgKindError);
        return;
    }
    // The viewer runs on by itself.
    viewer.release();
}

void CMainFrame::OnHelp() {
    CMxHelp* help = CMxHelp::Instance();
    if (help == nullptr) {
        notAvailable("The help file");
        return;
    }
    if (!help->LoadHelpFile()) {
        m_app.Ui().ShowMessage("The help \"" + help->LastOpened() + "\" could not be opened.", m_app.Title(),
                               kMsgKindError);
    }
}

}  // namespace trennick
