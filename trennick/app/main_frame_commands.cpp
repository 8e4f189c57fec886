// The main frame's services to the automation kit and the operator's commands
// on the connected site that live outside the frame's loop.

#include "common/lumo_deb.h"
#include "platform/process.h"
#include "resources/glossel_ids.h"
#include "tavicore/log_write.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/station/modem_link.h"
#include "trennick/app/mx_help.h"
#include "trennick/app/setup_wizard.h"
#include "trennick/app/tollven_dlg.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"
#include "trennick/video/video_wnd.h"

#include <QImage>
#include <QString>
#include <cstring>
#include <filesystem>

namespace trennick {

void CMainFrame::Dial(const std::string& number, const std::string& user, const std::string& password) {
    CPacketConnection& link = *m_pConnection;
    if (number.empty() || (link.IsLinkUp() && link.IsConnected())) return;
    if (m_station.NetInUse() != 0 && !ConnectToInternet()) return;
    // The site's login for this call is the one given, not the local user's.
    m_loginRecord = _tag_user{};
    std::strncpy(m_loginRecord.name, user.c_str(), sizeof m_loginRecord.name - 1);
    std::strncpy(m_loginRecord.password, password.c_str(), sizeof m_loginRecord.password - 1);
    m_station.Call(number, "");
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
        m_buttonRow->RefreshToolTip(ID_TALK);
        talk->update();
    }
}

void CMainFrame::ToggleHold() { SetHold((m_pConnection->GetHoldStatus() & kHoldLocal) == 0); }

void CMainFrame::SetHold(bool on) {
    CPacketConnection& link = *m_pConnection;
    if (!link.IsLinkUp() || ((link.GetHoldStatus() & kHoldLocal) != 0) == on) return;
    link.SetHoldCall(kHoldLocal, on);
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

namespace trennick {

namespace {

constexpr UINT kStrLinkChangesAtRestart = 5310;
constexpr UINT kStrCaption = 10000;

// The picture size the frame keeps, as its reader repairs it.
DWORD sizeOr(DWORD value, DWORD high, DWORD otherwise) { return value >= 1 && value <= high ? value : otherwise; }

}  // namespace

bool CMainFrame::canAsk() const { return m_app.Services().showWindows && !UiUnattended(); }

OptionsData CMainFrame::OptionsCopies() const {
    OptionsData data;
    data.comms = m_settings.comms;
    data.stationByte = m_settings.general.BusinessCard[kStationDataBytes];
    const VideoRecord& video = m_settings.video;
    data.remote.width = video.rParam_imagewidth;
    data.remote.height = video.rParam_imageheight;
    data.remote.editFlag = video.rParam_AllowChangeSize;
    data.remote.option1239 = video.rParam_StarStart;
    data.remote.option1237 = static_cast<WORD>(video.rParam_use256pal);
    data.remote.option1238 = static_cast<WORD>(video.rParam_mono);
    data.storage = m_settings.storage;
    return data;
}

void CMainFrame::TakeOptions(const OptionsData& data) {
    m_settings.comms = data.comms;
    m_settings.general.BusinessCard[kStationDataBytes] = data.stationByte;
    VideoRecord& video = m_settings.video;
    video.rParam_imagewidth = sizeOr(data.remote.width, 352, 176);
    video.rParam_imageheight = sizeOr(data.remote.height, 288, 144);
    video.rParam_StarStart = data.remote.option1239;
    video.rParam_use256pal = data.remote.option1237;
    video.rParam_mono = data.remote.option1238;
    // An empty folder keeps the one in use.
    const StorageRecord previous = m_settings.storage;
    m_settings.storage = data.storage;
    if (data.storage.folder[0] == '\0') {
        std::memcpy(m_settings.storage.folder, previous.folder, sizeof previous.folder);
    }
    m_settings.WriteCommsSettings();
    m_settings.WriteGenSettings();
    m_settings.WriteVideoSettings();
    m_settings.WriteStorageSettings();
    // The rings, the line and the dial-up choice take effect on the next call.
    applyLinkSettings();
    if (stationsMgr != nullptr && stationsMgr->Get() != nullptr) {
        stationsMgr->Get()->SetDefaultStorageWorkFolder(m_settings.storage.folder);
    }
    LUMO_TRACE(3, "CMainFrame: the options were stored (storage %s, rings %lu, NetInUse %lu)",
               m_settings.storage.folder, static_cast<unsigned long>(m_settings.comms.RingsCount),
               static_cast<unsigned long>(m_settings.comms.NetInUse));
    if (m_settings.comms.NetInUse != m_app.GetLinkChoice().NetInUse) {
        message(kStrLinkChangesAtRestart, kMsgKindInfo,
                "The new link settings take effect when the program is started again.");
    }
}

bool CMainFrame::ShowOptions(int firstPage) {
    if (!canAsk()) {
        LUMO_TRACE(3, "CMainFrame::ShowOptions() nobody can answer the options sheet");
        return false;
    }
    OptionsData data = OptionsCopies();
    OptionsLinks links;
    links.tapi = ModemTapi(*m_pConnection);
    links.inet = m_inet;
    OptionsHooks hooks;
    hooks.help = [this] { OnHelp(); };
    hooks.complain = [this](const std::string& text) { m_app.Ui().ShowMessage(text, m_app.Title(), kMsgKindError); };
    // No parent: DoActivate disables the frame, and a disabled frame would
    // disable the windows it owns.
    CVisualSettings sheet(UiString(kStrCaption, "Velmoor"), nullptr, firstPage, m_inet != nullptr);
    sheet.SetData(data, links, hooks);
    DoActivate(FALSE);
    const int result = sheet.DoModal();
    DoActivate(TRUE);
    if (result == IDOK) TakeOptions(data);
    return true;
}

bool CMainFrame::RunSetupWizard() {
    if (!canAsk()) {
        LUMO_TRACE(3, "CMainFrame::RunSetupWizard() nobody can answer the setup wizard");
        return false;
    }
    m_app.CloseLogoWindow();
    OptionsData data = OptionsCopies();
    WizardCard card;
    static_assert(sizeof card.card == kBusinessCardBytes);
    std::memcpy(&card.card, m_settings.general.BusinessCard, sizeof card.card);
    card.flag1250 = data.stationByte;
    OptionsHooks hooks;
    hooks.help = [this] { OnHelp(); };
    hooks.complain = [this](const std::string& text) { m_app.Ui().ShowMessage(text, m_app.Title(), kMsgKindError); };
    CSetupWizard wizard(UiString(kStrCaption, "Velmoor"), nullptr, 0, m_inet != nullptr);
    wizard.SetData(card, data.comms, ModemTapi(*m_pConnection), hooks);
    DoActivate(FALSE);
    const int result = wizard.DoModal();
    DoActivate(TRUE);
    if (result != kWizFinish) return true;
    data.stationByte = card.flag1250;
    std::memcpy(m_settings.general.BusinessCard, &card.card, sizeof card.card);
    m_settings.general.BusinessCard[kStationDataBytes] = card.flag1250;
    TakeOptions(data);
    return true;
}

std::string CMainFrame::CaptureVideoPicture() {
    if (m_videoMain == nullptr) return {};
    CRemoteWnd* remote = m_videoMain->RemoteWnd();
    CVideoWnd* child = m_videoMain->VideoMgr().VideoWindow();
    if (remote == nullptr || child == nullptr || remote->FramesDecoded() == 0) return {};
    char folder[kSnapshotPathBytes] = {};
    char name[kSnapshotPathBytes] = {};
    if (!m_videoMain->MakeSnapshotFileName(kSnapshotOfSite | kSnapshotNeedsWindow, folder, name)) return {};
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    if (!child->grab().toImage().save(QString::fromLatin1(name), "BMP")) {
        LUMO_TRACE(1, "CMainFrame::CaptureVideoPicture() could not write %s", name);
        return {};
    }
    return name;
}

bool CMainFrame::OpenSiteBook() {
    if (!canAsk()) {
        LUMO_TRACE(3, "CMainFrame::OpenSiteBook() nobody can choose a station");
        return false;
    }
    CTollvenDlg dialog(nullptr, Hwnd());
    dialog.SetBuffers(&m_siteBookName, &m_siteBookNumber);
    if (m_siteBookControl) dialog.UseControl(m_siteBookControl.get());
    DoActivate(FALSE);
    dialog.DoModal();
    DoActivate(TRUE);
    return true;
}

}  // namespace trennick
