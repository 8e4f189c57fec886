// The main frame's commands (the command table and the state of each command
// for its menu item or button), its services to the automation kit and the
// operator's commands on the connected site that live outside the frame's loop.

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "common/product_registry.h"
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
#include "trennick/station/site_token.h"
#include "trennick/app/mx_help.h"
#include "trennick/app/setup_wizard.h"
#include "trennick/app/tollven_dlg.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/app/frame_panels.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/image/image_wnd.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/ui/about_dlg.h"
#include "trennick/link/common_base.h"
#include "trennick/link/serial_out_command.h"
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

void CMainFrame::command(std::initializer_list<WPARAM> ids, const std::function<void(WPARAM)>& action) {
    for (WPARAM id : ids) m_commands[id] = action;
}

void CMainFrame::OnCommand(WPARAM id) {
    if (id >= ID_TOOLBAR_FIRST && id < ID_TOOLBAR_FIRST + kToolbarButtons) {
        // The adapters toolbar: the remote station window shows the adapter chosen.
        LUMO_TRACE(5, "CMainFrame: toolbar entry %u", static_cast<unsigned>(id - ID_TOOLBAR_FIRST));
        OpenVideoDisplay();
        if (CRemoteWnd* remote = m_videoMain->RemoteWnd()) remote->OnCommand(id);
        return;
    }
    if (id == ID_START_PROFILE) {
        LUMO_TRACE(5, "CMainFrame::OnStartprofile() commsSettings.ModemName = %s, %s, LINE %d",
                   m_settings.comms.ModemName, "MainFrm", __LINE__);
    }
    if (m_views != nullptr && m_views->OnCommand(id)) return;
    const auto row = m_commands.find(id);
    if (row == m_commands.end()) {
        LUMO_TRACE(5, "CMainFrame::OnCommand %u: no action", static_cast<unsigned>(id));
        return;
    }
    // A copy: the command may run the loop, which may change the table.
    const std::function<void(WPARAM)> action = row->second;
    action(id);
}

// The commands of the call and of the connected site.
void CMainFrame::registerCallCommands() {
    command({ID_CONNECT_CONNECT}, [this](WPARAM) { OnConnectConnect(); });
    command({ID_CONNECT_DISCONNECT}, [this](WPARAM) {
        LUMO_TRACE(3, "ENTER %s", "CMainFrame::OnConnectDisconnect()");
        MakeDisconnect(kReasonAskDisconnect, 0);
    });
    command({ID_LISTEN}, [this](WPARAM) { SetListenOn(0); });
    command({ID_TOGGLE_ARM}, [this](WPARAM) { OnTogglePollTriggers(); });
    command({ID_DIAL_40}, [this](WPARAM) {
        if (m_pConnection->ConnectToRemote("40", "") == 512) m_pConnection->ConnectToRemote("40", "");
    });
    command({ID_SEND_SITE_INFO}, [this](WPARAM) { OnSendSiteInfo(); });
    command({ID_HOLD_CALL}, [this](WPARAM) { ToggleHold(); });
    command({ID_CALL_STORED}, [this](WPARAM) {
        CPacketConnection& link = *m_pConnection;
        if (m_inet != nullptr) {
            OnConnectConnect();
        } else if (!link.IsLinkUp() && m_settings.comms.NumbersDialed[0][0] != '\0') {
            const std::string number = fixed_text::Read(m_settings.comms.NumbersDialed[0], 32);
            if (link.ConnectToRemote(number.c_str(), "") == 512) link.ConnectToRemote(number.c_str(), "");
        }
    });
    command({ID_LINK_REQUEST}, [this](WPARAM id) {
        if (m_pConnection->IsLinkUp()) LUMO_TRACE(3, "CMainFrame: link request %u", static_cast<unsigned>(id));
    });
    command({ID_RECORD_START}, [this](WPARAM) { OnMovieRecordStart(); });
    command({ID_RECORD_STOP}, [this](WPARAM) {
        m_recording = false;
        if (m_video != nullptr) m_video->SetRecordingStatus(FALSE, 1);
        if (m_pAudComp != nullptr) m_pAudComp->StopAudioRecording(0);
    });
    command({ID_UNLOCK_SITE}, [this](WPARAM) { SendTokenToSite(*m_pConnection, kTokUnlockServer); });
    command({ID_LOCK_SITE}, [this](WPARAM) { SendTokenToSite(*m_pConnection, kTokLockServer); });
    command({ID_UPGRADE_SITE}, [this](WPARAM) {
        if (Login(1) && message(kStrUpgradeSite, kMsgKindInfo, "Upgrade the site?") == kAnswerYes) {
            SendTokenToSite(*m_pConnection, kTokUpgradeVersion);
        }
    });
    command({ID_GET_LOG_FILES}, [this](WPARAM) { SendTokenToSite(*m_pConnection, kTokGetLogFiles); });
    command({ID_TALK}, [this](WPARAM) { OnAudioOutToggle(); });
    command({ID_ARM, ID_DISARM}, [this](WPARAM) { OnTogglePollTriggers(); });
    // The picture size (CIF, QCIF) is the remote station window's to ask the site for.
    command({ID_RW_CIF, ID_RW_QCIF}, [this](WPARAM id) {
        CRemoteWnd* remote = m_videoMain != nullptr ? m_videoMain->RemoteWnd() : nullptr;
        if (remote != nullptr) remote->OnCommand(id);
    });
}

// The commands that open the program's windows and dialogs.
void CMainFrame::registerWindowCommands() {
    command({ID_OPEN_CHAT}, [this](WPARAM) { OnOpenChat(ChatOpener::User); });
    command({ID_FILE_TRANSFER}, [this](WPARAM) {
        if (!m_app.Windows().OpenFileTransfer(*this) && m_panels->OpenFileTransfer() == nullptr) {
            notAvailable("The file transfer window");
        }
    });
    command({ID_OPEN_DEBRIEF}, [this](WPARAM) {
        if (Login(1) && !m_app.Windows().OpenEventExplorer(*this)) notAvailable("The event explorer");
    });
    command({ID_OPTIONS}, [this](WPARAM) { if (Login(1) && !m_app.Windows().ShowOptions(*this, 0)) ShowOptions(0); });
    command({ID_OPTIONS_PAGE4}, [this](WPARAM) {
        // Page 4 is the storage page.
        if (!m_app.Windows().ShowOptions(*this, 4)) ShowOptions(3);
    });
    command({ID_SETUP_WIZARD}, [this](WPARAM) { if (!m_app.Windows().RunSetupWizard(*this)) RunSetupWizard(); });
    command({ID_REMOTE_SETTINGS}, [this](WPARAM) { OnRemoteSettings(); });
    command({ID_APP_EXIT_CMD}, [this](WPARAM) { OnClose(); });
    command({ID_APP_ABOUT}, [this](WPARAM) {
        // The version text of the installation, the same key for every instance.
        CKcReg reg = InstanceKey(product_registry::kFirstInstance, nullptr);
        char version[256] = {};
        DWORD size = sizeof version;
        reg.GetString(nullptr, "VersionClient", version, &size);
        LUMO_TRACE(5, "CMainFrame::OnAppAbout() VersionClient = %s", version);
        CAboutDlg about(nullptr, Hwnd(), this);
        m_aboutShown = true;
        if (m_app.Services().showWindows) {
            DoActivate(FALSE);
            about.DoModal();
            DoActivate(TRUE);
        }
    });
    command({ID_RESTART_VIDEO, ID_DISPLAY_ON, ID_FULL_SCREEN}, [this](WPARAM) { OpenVideoDisplay(); });
    command({ID_DISPLAY_OFF}, [this](WPARAM) { m_videoMain->ShowRemoteWindow(FALSE); });
    command({ID_SITE_BOOK}, [this](WPARAM) { if (!m_app.Windows().OpenSiteBook(*this)) OpenSiteBook(); });
    command({ID_COLLAPSE, ID_EXPAND}, [this](WPARAM id) {
        const bool expand = id == ID_EXPAND;
        if ((m_settings.screen.expanded != 0) == expand) return;
        setButtonShown(ID_COLLAPSE, expand);
        setButtonShown(ID_EXPAND, !expand);
        m_settings.screen.expanded = expand ? 1 : 0;
        m_localImage->setVisible(expand);
        m_hisCard->setVisible(expand && m_hisCardHeld);
        resize(width(), std::max(0, height() + (expand ? 272 : -272)));
        UpdateCaption(true);
    });
    command({ID_ADDRESS_BOOK}, [this](WPARAM) {
        CAddrBookFile book;
        openAddressBook(book);
        book.ShowDialog(this, nullptr, nullptr);
    });
    command({ID_STATISTICS}, [this](WPARAM) { m_panels->ShowStatistics(); });
    command({ID_USERS}, [this](WPARAM) {
        if (Login(1)) {
            if (CUsersManager* users = m_app.UsersManager()) users->DoUsersDialog();
        }
    });
    command({ID_HELP}, [this](WPARAM) { OnHelp(); });
    command({ID_CHRONVIEW}, [this](WPARAM) { OnChronview(); });
    command({ID_DEBRIEF_BUTTON}, [this](WPARAM) { OnCommand(ID_OPEN_DEBRIEF); });
    // Commands of the menus and buttons that have nothing to do here.
    command({ID_PHONE, 32796, 32840, 29129, 32860, 32876, 32877, 32872}, [](WPARAM) {});
}

CommandUi CMainFrame::UpdateCommand(WPARAM id) {
    CPacketConnection& link = *m_pConnection;
    const bool up = link.IsLinkUp() != FALSE;
    const bool connected = up && link.IsConnected() != FALSE;
    CommandUi ui;
    switch (id) {
    case ID_OPEN_CHAT:
    case ID_CONNECT_DISCONNECT:
    case ID_LINK_REQUEST:
    case ID_FILE_TRANSFER:
    case ID_SEND_SITE_INFO:
        ui.enabled = up;
        break;
    case ID_CONNECT_CONNECT:
        ui.text = link.HasSpeakerphone() ? "Ph&one" : UiString(kStrConnectText, "&Connect");
        ui.enabled = !up;
        break;
    case ID_HOLD_CALL:
        ui.enabled = up;
        ui.checkable = true;
        ui.checked = (link.GetHoldStatus() & kHoldLocal) != 0;
        break;
    case ID_LISTEN:
        ui.text = UiString(link.IsListeningFor(2) ? kStrListenOn : kStrListenOff);
        ui.enabled = !link.IsTargetConnected();
        break;
    case ID_CALL_STORED:
        ui.enabled = m_inet == nullptr;
        break;
    case ID_RECORD_START:
        ui.enabled = connected && !m_recording;
        break;
    case ID_RECORD_STOP:
        ui.enabled = m_recording;
        break;
    case ID_UNLOCK_SITE:
        ui.enabled = connected;
        ui.checkable = connected;
        ui.checked = m_station.SiteLocked();
        break;
    case ID_LOCK_SITE:
        ui.enabled = connected;
        break;
    case ID_UPGRADE_SITE:
        ui.enabled = false;
        break;
    case ID_TOGGLE_ARM:
        ui.enabled = connected && !m_station.WaitingForArmAck() && !m_station.SiteArmed();
        break;
    case ID_ARM:
    case ID_DISARM:
        ui.enabled = connected && !m_station.WaitingForArmAck() && (m_station.IsSystemArmed()) == (id == ID_DISARM) &&
                     !IsOldSiteVersion();
        break;
    case ID_REMOTE_SETTINGS:
        ui.enabled = !IsOldSiteVersion();
        break;
    case ID_OPTIONS:
        ui.enabled = !(up || link.IsTargetConnected());
        break;
    case ID_DIAL_40:
    case 32872:
        ui.enabled = !up && !link.IsTargetConnected();
        break;
    case ID_COLLAPSE:
        ui.enabled = m_settings.screen.expanded != 0;
        break;
    case ID_EXPAND:
        ui.enabled = m_settings.screen.expanded == 0;
        break;
    default:
        break;
    }
    return ui;
}

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
        if (connected) SendTokenToSite(link, ID_DSVD_AUDIOOUTUNMUTEACK);
        m_audioOutMuted = false;
    } else {
        if (talk != nullptr) talk->LoadBitmaps({IDB_BTN_AUDD, IDB_BTN_AUDU, 0, IDB_BTN_AUDX});
        if (m_pAudComp != nullptr) m_pAudComp->StopSendAudio(1);
        if (connected) SendTokenToSite(link, ID_DSVD_AUDIOOUTMUTEACK);
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

// The site's news that the automation kit hears of (and the lamps that go with it).
void CMainFrame::registerKitRows() {
    MessageRows& t = *m_rows;
    t.add(kMsgSerialOutMessage, [this](WPARAM, LPARAM data) {
        if (auto bytes = platform::TakePostedData<std::vector<BYTE>>(data); bytes != nullptr) {
            serialOutMessage(bytes->data(), static_cast<DWORD>(bytes->size()));
        }
        return LRESULT{0};
    });
    t.add(kMsgLineRing, [this](WPARAM, LPARAM) {
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyLineRing(0, "");
        PlayEventSound(2);
        return LRESULT{0};
    });
    t.add({kMsgLineConnected, kMsgVideoStreaming, kMsgFileOfferConfirmed, kMsgListDownloadStarted,
           kMsgEventDownloadStarted},
          [this](UINT msg, WPARAM, LPARAM) {
              CTessIntegration* kit = m_pTessIntegration;
              if (kit == nullptr) return LRESULT{0};
              if (msg == kMsgLineConnected) kit->NotifyLineConnected(0, "");
              if (msg == kMsgVideoStreaming) kit->NotifyVideoIsStreaming();
              if (msg == kMsgFileOfferConfirmed) kit->NotifyFileStarted();
              if (msg == kMsgListDownloadStarted) kit->NotifyListDownloadStarted();
              if (msg == kMsgEventDownloadStarted) kit->NotifyEventDownloadStarted();
              return LRESULT{0};
          });
    t.add(kMsgRecModeCyclic, [this](WPARAM, LPARAM) {
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyEventModeChanged(0);
        m_recordMode = 1;
        LUMO_TRACE(5, "CMainFrame::OnAckRecModeCyc %d", 1);
        m_pLcdPanel->ShowMarkD(0);
        m_pLcdPanel->ShowMarkE(0);
        return LRESULT{0};
    });
    t.add(kMsgRecordModeFixed, [this](WPARAM, LPARAM) {
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyEventModeChanged(1);
        m_recordMode = 2;
        LUMO_TRACE(5, "CMainFrame::OnAckRecModeFix %d", 2);
        m_pLcdPanel->ShowMarkD(1);
        return LRESULT{0};
    });
    t.add(kMsgMemoryFull, [this](WPARAM, LPARAM) {
        m_pLcdPanel->ShowMarkE(1);
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyFullEvents();
        return LRESULT{0};
    });
    t.add(kMsgMemoryFree, [this](WPARAM, LPARAM) {
        m_pLcdPanel->ShowMarkE(0);
        LUMO_TRACE(5, "CMainFrame::OnAckRecBufFree %d", m_recordMode);
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyMemoryFree();
        return LRESULT{0};
    });
}

// The answers of the peer's serial-out device become the kit's serial-out
// notifications.
void CMainFrame::serialOutMessage(const BYTE* message, DWORD length) {
    if (message == nullptr || length == 0) return;
    ++m_serialOutMessages;
    CSerialOutCommand parser;
    SerialOutMessage answer;
    if (!parser.DispatchSerialOutMessage(message, length, answer)) {
        LUMO_TRACE(3, "CMainFrame::SerialOutMessage() a message of %lu bytes without a known command",
                   static_cast<unsigned long>(length));
        return;
    }
    CTessIntegration* kit = m_pTessIntegration;
    if (kit == nullptr) return;
    const WORD result = static_cast<WORD>(answer.resultCode < 0 ? 0 : answer.resultCode);
    switch (answer.type) {
    case SO_INITACK:
        kit->NotifySetSerialOutConfigAck(answer.port, result);
        break;
    case SO_GETCONFIGACK:
        kit->NotifyGetSerialOutConfigAck(answer.port, result, static_cast<WORD>(answer.direction), answer.baudRate,
                                         static_cast<WORD>(answer.dataBits), static_cast<WORD>(answer.parity),
                                         static_cast<WORD>(answer.stopBits), static_cast<WORD>(answer.portType), "",
                                         static_cast<WORD>(answer.workMode));
        break;
    case SO_DATAWRITEACK:
        kit->NotifySerialOutDataWriteAck(answer.port, result, 0);
        break;
    case SO_DATAREADACK: {
        const std::string data(answer.data.begin(), answer.data.end());
        kit->NotifySerialOutDataRead(answer.port, data.c_str(), static_cast<WORD>(answer.data.size()), result);
        break;
    }
    case SO_DATAREADCMDACK:
        kit->NotifySerialOutDataReadAck(answer.port, result);
        break;
    case SO_TERMINATEACK:
        kit->NotifyTermSerialOutAck(answer.port, result);
        break;
    case SO_ERRORACK:
        kit->NotifySerialOutError(answer.port, answer.second, result);
        break;
    default:
        break;
    }
}

int CMainFrame::GetFileDetails(const char* path, WORD* adapter, WORD* camera, DWORD* snapshots,
                               DWORD (&eventTime)[2], DWORD (&endValues)[2]) {
    if (path == nullptr) return 1;
    std::string name = path;
    tagEventHeader header{};
    auto file = std::make_unique<CEventFile>(9, &header, name.data(), nullptr);
    WORD error = 0;
    file->GetLastError(&error);
    if (error != 0) {
        LUMO_TRACE(1, "CMainFrame::GetFileDetails [E] Failed to create CEventFile");
        return 1;
    }
    file->GetEventHeader(&header);
    LUMO_TRACE(5, "CMainFrame::GetFileDetails [I] FileName %s", path);
    if (adapter != nullptr) *adapter = header.wAdapter;
    if (camera != nullptr) *camera = header.wCamera;
    if (snapshots != nullptr) *snapshots = header.dwSnapShotNum;
    eventTime[0] = header.ftStartTime.dwLowDateTime;
    eventTime[1] = header.ftStartTime.dwHighDateTime;
    endValues[0] = header.ftEndTime.dwLowDateTime;
    endValues[1] = header.ftEndTime.dwHighDateTime;
    LUMO_TRACE(5, "CMainFrame::GetFileDetails [I] Adapter %d Camera %d Snapshots %d ", header.wAdapter,
               header.wCamera, static_cast<int>(header.dwSnapShotNum));
    return 0;
}

namespace {
DWORD recordKind(DWORD kind) { return kind == 1 ? 2 : kind == 2 ? 41 : 0; }
}  // namespace

int CMainFrame::NotifyRecordStart(const char* fileName, DWORD type, DWORD kind) {
    if ((type == 1 || type == 2) && m_pTessIntegration != nullptr) {
        m_pTessIntegration->NotifyRecordStart(fileName != nullptr ? fileName : "", type, recordKind(kind));
    }
    return 1;
}

int CMainFrame::NotifyRecordFinish(const char* fileName, DWORD type, DWORD kind) {
    if ((type == 1 || type == 2) && m_pTessIntegration != nullptr) {
        m_pTessIntegration->NotifyRecordFinish(fileName != nullptr ? fileName : "", type, recordKind(kind));
    }
    return 1;
}

int CMainFrame::NotifyGetProfileDone(const char* profile, WORD result) {
    if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyGetProfileDone(profile, result);
    return 1;
}

int CMainFrame::NotifySetProfileDone(const char* profile, WORD result) {
    if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifySetProfileDone(profile, result);
    return 1;
}

}  // namespace trennick
