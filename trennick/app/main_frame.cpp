#include "trennick/app/main_frame.h"

#include "common/fixed_text.h"
#include "trennick/app/frame_panels.h"

#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "common/lumo_deb.h"
#include "platform/local_bus.h"
#include "platform/registry.h"
#include "tavicore/db_lumo.h"
#include "tavicore/event_file.h"
#include "tavicore/log_write.h"
#include "tavicore/product_key.h"
#include "tavicore/station_identity.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_time_msg_box.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/app/dde_server.h"
#include "trennick/app/frame_audio_host.h"
#include "trennick/app/frame_requests_host.h"
#include "trennick/app/frame_station_host.h"
#include "trennick/station/station_messages.h"
#include "trennick/station/heartbeat.h"
#include "trennick/app/kiv_app.h"
#include "trennick/station/modem_link.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/app/frame_remote_settings.h"
#include "trennick/app/frame_remote_view.h"
#include "trennick/station/remote_requests.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/book/addr_book_dialogs.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/station/site_token.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/clients/zo_serial_client.h"
#include "trennick/image/image_wnd.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"
#include "trennick/link/serial_out_command.h"
#include "resources/glossel_ids.h"
#include "trennick/link/common_base.h"
#include "trennick/ui/about_dlg.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/ui/window_text.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/net/inet_connection.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>
#include <QUrl>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace trennick {

namespace {

constexpr const char* kNotAvailableText = "%s is not available in this version of the program.";
constexpr UINT kStrLoginTitle = 61417;
constexpr short kLogConnect = 10;
constexpr short kLogDisconnect = 11;
constexpr UINT kStrPrivilegeRefused = 65120;
constexpr UINT kStrLoginPrompt0 = 65090;
constexpr UINT kStrLoginPrompt1 = 65100;
constexpr UINT kStrLoginPrompt2 = 65110;

}  // namespace

CMainFrame::CMainFrame(CKivApp& app, trennick::Station& station)
    : m_app(app),
      m_station(station),
      m_settings(station.Settings()),
      m_loginRecord(station.LoginRecord()),
      m_pConnection(&station.Link()),
      m_inet(station.Inet()) {
    m_stationHost = std::make_unique<FrameStationHost>(*this);
    m_station.SetHost(m_stationHost.get());
    m_station.AddObserver(m_stationHost.get());
    m_rows = std::make_unique<MessageRows>(m_station.Messages());
    m_requestsHost = std::make_unique<FrameRequestsHost>(*this);
    m_station.SetRequestsHost(m_requestsHost.get());
    m_videoMain = std::make_unique<CVideoMain>();
    registerRows();
    registerCallCommands();
    registerWindowCommands();
    m_panels = std::make_unique<CFramePanels>(*this);
    m_views = std::make_unique<CFrameRemoteViews>(*this);
}

CMainFrame::~CMainFrame() {
    LUMO_TRACE(5, "ENTER %s", " CMainFrame::~CMainFrame()");
    if (!m_destroyed) OnDestroy();
    m_rows.reset();
    m_station.SetRequestsHost(nullptr);
    m_station.RemoveObserver(m_stationHost.get());
    m_station.SetHost(nullptr);
    LUMO_TRACE(5, "LEAVE %s", " CMainFrame::~CMainFrame()");
}

platform::HWND CMainFrame::Hwnd() const { return m_station.Hwnd(); }

void CMainFrame::showArm(const ArmChanged& event) {
    if (event.cause == ArmCause::Acknowledged && m_buttonRow != nullptr) m_buttonRow->SetArmFaces(event.systemArmed);
    // The site-armed lamp.
    if (event.cause == ArmCause::SiteArmChanged && m_pLcdPanel != nullptr) {
        m_pLcdPanel->ShowMarkC(event.siteArmed ? 1 : 0);
    }
    enableButton(ID_TOGGLE_ARM, event.toggleAllowed);
}

// A card the peer sent: the requests show it, a whole card is filed in the
// address book after this pass (the book may ask the operator, and the loop
// must not wait for an answer) and shown in the expanded part of the window.
void CMainFrame::showPeerCard(const PeerCard& event) {
    const tagBusinessCard& card = event.card;
    if (CRemoteRequests* requests = m_station.Requests()) {
        requests->SetReceivedFilePath(event.picturePath);
        requests->DisplayHisCard(event.status);
    }
    if (event.status & kCardReceived) {
        m_cardsToFile.push_back(card);
        platform::PostMessage(Hwnd(), kMsgFileCard, 0, 0);
        showHisCard(fixed_text::Read(card.name, sizeof card.name), fixed_text::Read(card.text2, sizeof card.text2),
                    fixed_text::Read(card.text3, sizeof card.text3));
    }
    const std::string name = fixed_text::Read(card.name, sizeof card.name);
    if (!name.empty() && m_chat != nullptr) m_chat->UpdateTitle(name);
}

void CMainFrame::fileReceivedCards() {
    // Each card leaves the list before it is filed: a dialog's own loop may
    // file the next one meanwhile.
    while (!m_cardsToFile.empty()) {
        const tagBusinessCard card = m_cardsToFile.front();
        m_cardsToFile.erase(m_cardsToFile.begin());
        CAddrBookFile book;
        openAddressBook(book);
        book.AddReceivedCard(this, card);
    }
}

void CMainFrame::closeChat() {
    m_pConnection->SetChatWindow(nullptr);
    m_app.Windows().CloseChat(*this);
    if (m_panels != nullptr) m_panels->CloseChat();
    m_chat = nullptr;
}

DWORD CMainFrame::now() const { return m_app.Now(); }

BOOL CMainFrame::Create(const std::string& title) {
    const int caption = 22, menu = 20, frame = 3;
    m_settings.screen.x = -1;
    m_settings.ReadScreenSettings(caption, menu, frame);
    setWindowTitle(QString::fromStdString(title));
    setObjectName("CMainFrame");
    if (m_settings.screen.x == -1) {
        setGeometry(0, 0, 303, 140);
        m_settings.screen.x = 0;
        m_settings.screen.y = 0;
    } else {
        setGeometry(m_settings.screen.x, m_settings.screen.y, m_settings.screen.width, m_settings.screen.height);
    }
    if (OnCreate() == -1) {
        m_app.EndRun(0);
        return FALSE;
    }
    return TRUE;
}

void CMainFrame::buildWidgets() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(3, 3, 3, 3);
    column->setSpacing(2);
    m_buttonRow = std::make_unique<CFrameButtonRow>(central, [this](WPARAM id) { OnCommand(id); });
    m_buttonRow->Build(m_pConnection->HasSpeakerphone() != FALSE, m_settings.screen.expanded != 0);
    m_buttonRow->SetToolTipSource([this](WPARAM id) { return OnToolTipText(id); });
    for (const auto& [id, button] : m_buttonRow->Buttons()) m_buttonRow->RefreshToolTip(id);
    // Two rows: the call and its windows, then the views and the site.
    auto* first = new QHBoxLayout();
    auto* second = new QHBoxLayout();
    first->setSpacing(2);
    second->setSpacing(2);
    for (WPARAM id : {ID_CONNECT_CONNECT, ID_PHONE, ID_CONNECT_DISCONNECT, ID_RESTART_VIDEO, ID_FILE_TRANSFER,
                      ID_OPEN_CHAT, ID_OPTIONS, ID_TOGGLE_ARM}) {
        first->addWidget(m_buttonRow->Button(id));
    }
    first->addStretch(1);
    for (WPARAM id : {ID_COLLAPSE, ID_EXPAND, ID_HOLD_CALL, ID_DEBRIEF_BUTTON, ID_TALK, ID_ADDRESS_BOOK}) {
        second->addWidget(m_buttonRow->Button(id));
    }
    second->addStretch(1);
    column->addLayout(first);
    column->addLayout(second);
    m_status = UiSetControlId(new QLabel(central), 1277);
    column->addWidget(m_status);
    m_pLcdPanel = new CLcdPanel(central);
    m_pLcdPanel->SetClock([this] { return now(); });
    m_pLcdPanel->setVisible(false);
    column->addWidget(m_pLcdPanel);
    // The local picture window under the buttons: shown while the frame is expanded.
    m_localImage = new CLocalImage(central);
    m_localImage->setWindowFlags(Qt::Widget);  // a child of the frame, not a floating window
    m_localImage->setFixedHeight(115);
    m_localImage->setVisible(m_settings.screen.expanded != 0);
    column->addWidget(m_localImage);
    m_hisCard = new CBCWnd(0xC0C0C0, 5, 5);
    m_hisCard->Create(0, 0, 316, 120, central, false);
    m_hisCard->setFixedHeight(120);
    m_hisCard->setVisible(false);
    column->addWidget(m_hisCard);
    column->addStretch(1);
    setCentralWidget(central);

    m_menu = std::make_unique<CFrameMenu>(
        *this, [this](WPARAM id) { OnCommand(id); }, [this](WPARAM id) { return UpdateCommand(id); });
    m_menu->Build();
    buildToolBar();
    m_menu->Remove(kRemovedMenuItems);
    setAcceptDrops(true);
    setFixedWidth(m_settings.screen.width > 0 ? m_settings.screen.width : 322);
}

// The video toolbar: six check buttons (commands 32892 to 32897) over the
// strip of toolbar bitmap 433; it starts hidden.
void CMainFrame::buildToolBar() {
    if (m_wndToolBar != nullptr) return;
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName("VideoToolBar");
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    const QPixmap strip = UiBitmap(IDR_VIDEO_TOOLBAR);
    for (int i = 0; i < kToolbarButtons; ++i) {
        const WPARAM id = ID_TOOLBAR_FIRST + static_cast<WPARAM>(i);
        QAction* action = m_wndToolBar->addAction(QString::number(i + 1));
        if (!strip.isNull()) action->setIcon(QIcon(strip.copy(i * 16, 0, 16, 15)));
        action->setCheckable(true);
        action->setData(QVariant::fromValue<qulonglong>(id));
        QObject::connect(action, &QAction::triggered, action, [this, id] { OnCommand(id); });
    }
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->hide();
}

void CMainFrame::setButtonShown(WPARAM id, bool on) {
    if (m_buttonRow != nullptr) m_buttonRow->ShowEnabled(id, on);
}

void CMainFrame::enableButton(WPARAM id, bool on) {
    if (m_buttonRow != nullptr) m_buttonRow->Enable(id, on);
}

int CMainFrame::OnCreate() {
    m_pTimeMsgBox = std::make_unique<CTimeMsgBox>();
    m_station.ReadSettings();
    ReadGenSettings();
    m_app.m_pRemoteDB = RemoteDB();
    buildWidgets();
    resize(width(), std::max(m_settings.screen.height, sizeHint().height()));
    platform::PostMessage(Hwnd(), kMsgPostCreate, 0, 0);
    m_strTitle = m_app.Title();
    return 0;
}

void CMainFrame::PostCreate() {
    if (m_app.Services().showWindows) show();
    if (m_settings.video.Rs232Out != 0 && gZoSerial == nullptr) {
        gZoSerial = new CZoSerial;
        gZoSerial->Open();
        if (!gZoSerial->HasServer()) {
            LUMO_TRACE(5, "CMainFrame::PostCreate()  Error!!!! Serial Port Initialize Failed \n");
            m_pConnection->ShowMessage(kStrSerialPortFailed, 0);
        }
    }
    m_pConnection->SetSerialVideoPort(gZoSerial);
    m_video = std::make_unique<CReceivedVideo>(*this);
    m_station.StartLink();
    m_chat = nullptr;
    CLogWrite::SetMainWindow(Hwnd());
    // The kit channel: it hears of the frame's events from now on.
    m_pTessIntegration = m_app.GetTessIntegration();
    if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration)) {
        kit->AttachMainFrame(this, m_pConnection, true);
    }
    m_pLumora = std::make_unique<CLumoraRemote>();
    m_pLumora->SetCommunicationObject(m_pConnection);
    attachVideo();
    // The address book's Capture takes the video display's picture.
    SetAddrBookCapture([this] { return CaptureVideoPicture(); });
    // The audio client, with the link it talks over.
    if (m_pAudComp == nullptr) {
        m_audioHost = std::make_unique<FrameAudioHost>(*this);
        m_pAudComp = std::make_unique<CAudComp>(*m_pConnection, *m_audioHost);
        m_pConnection->SetAudComp(m_pAudComp.get());
    }
    m_remoteSetHost = std::make_unique<FrameRemoteSetHost>(*this);
    m_pRemoteSetMgr = std::make_unique<CRemoteSetMgr>(*m_remoteSetHost);
    if (!m_pRemoteSetMgr->CreateManager(m_pConnection)) {
        LUMO_TRACE(1, "CMainFrame::PostCreate() the settings-profile store is missing: remote settings cannot be sent");
    }

    DoActivate(TRUE);
    if (m_station.NetInUse() != 0) {
        m_pLcdPanel->setVisible(true);
        ConnectToInternet();
    }
    m_station.StartKeepAlive();
    m_station.ArmAutoConnect(m_app.CFlag() != FALSE);
    // A station without a card has not been set up yet: the setup wizard
    // runs once the program can ask somebody.
    if (m_settings.general.BusinessCard[kCardNameOffset] == '\0' && canAsk()) RunSetupWizard();
    m_app.CloseLogoWindow();
    // Other programs' DDE commands, under the application's name.
    m_dde = std::make_unique<CDdeServer>(*this, UiString(kStrDdeService, "Velmoor"));
    if (!m_dde->Create()) {
        LUMO_TRACE(1, "CMainFrame::PostCreate() the DDE service could not be published");
        m_dde.reset();
    }
    SetListenOn(0);
    m_postCreateDone = true;
}

BOOL CMainFrame::DoActivate(BOOL on) {
    LUMO_TRACE(3, "CMainFrame::DoActivate with %d", static_cast<int>(on));
    m_station.SetLoopActive(on != FALSE);
    setEnabled(on != FALSE);
    return TRUE;
}

void CMainFrame::DoIdleStep() {
    if (m_destroyed) return;
    if (m_station.IdleRead()) CleanupAfterDisconnect(TRUE);
    UpdateStatus();
    UpdateCaption(false);
}

void CMainFrame::CleanupAfterDisconnect(BOOL flag) {
    if (flag) {
        m_station.LinkLost();
        UpdateCaption(true);
    }
    m_settings.general.Flags[1] &= 1;
    // The card was the connected site's.
    showHisCard("", "", "");
    // A recording ends with its call: its files are completed now.
    if (m_recording) OnCommand(ID_RECORD_STOP);
}

void CMainFrame::UpdateCaption(bool force) {
    const DWORD t = now();
    if (!m_captionClockStarted) {
        m_captionClockStarted = true;
        m_lastCaptionMs = t - kCaptionPeriodMs;
    }
    if (!force && static_cast<DWORD>(t - m_lastCaptionMs) < kCaptionPeriodMs) return;
    CPacketConnection& link = *m_pConnection;
    LONG copy = 0;
    if (link.HasStateChanged(&copy) || force || m_status->text().isEmpty()) {
        std::string text;
        if (link.IsLinkUp() && link.IsTargetConnected()) {
            if (m_inet != nullptr) {
                text = m_inet->GetPeerAddress() + " TCP/IP";
            } else {
                text = link.GetConnectInfoText() + " " + std::to_string(link.GetConnectRate());
            }
        } else {
            text = link.GetStatusText();
        }
        SetWindowTextIfChanged(m_status, text);
    }
    m_lastCaptionMs = t;
}

std::string CMainFrame::StatusText() const { return m_status != nullptr ? m_status->text().toStdString() : ""; }

void CMainFrame::UpdateStatus() {
    const DWORD t = now();
    if (!m_statusClockStarted) {
        m_statusClockStarted = true;
        m_lastStatusMs = t - kStatusPeriodMs;
    }
    if (static_cast<DWORD>(t - m_lastStatusMs) < kStatusPeriodMs) return;
    const DWORD sinceLastMs = t - m_lastStatusMs;
    m_lastStatusMs = t;
    CPacketConnection& link = *m_pConnection;
    const bool up = link.IsLinkUp() != FALSE;
    const bool active = link.IsTargetConnected() || link.IsConnecting();
    // The dial button: the phone on a line with a speakerphone, else connect.
    const bool phone = link.HasSpeakerphone() != FALSE;
    const WPARAM dial = phone ? ID_PHONE : ID_CONNECT_CONNECT;
    const WPARAM other = phone ? ID_CONNECT_CONNECT : ID_PHONE;
    if (active) {
        setButtonShown(ID_CONNECT_CONNECT, false);
    } else {
        setButtonShown(dial, true);
    }
    setButtonShown(other, false);
    setButtonShown(ID_CONNECT_DISCONNECT, active);
    enableButton(ID_HOLD_CALL, active && up);
    enableButton(ID_ADDRESS_BOOK, true);
    setButtonShown(ID_FILE_TRANSFER, up);
    setButtonShown(ID_OPEN_CHAT, up);
    m_pLcdPanel->ShowLinkLamp(up ? 1 : 0);
    if (m_inet != nullptr) m_pLcdPanel->ShowNetConnectedLamp(link.IsConnected() ? 1 : 0);
    // The line meter shows the bytes that crossed the line since the last
    // status, both ways, per second: a transfer shorter than a status period
    // shows too, and so do the last bytes of a call that just ended.
    CPacketConnection::LinkStatistics line;
    link.GetLinkStatistics(line);
    const ULONGLONG lineBytes = line.bytesSent + line.bytesReceived;
    const ULONGLONG moved = lineBytes >= m_lineBytesSeen ? lineBytes - m_lineBytesSeen : lineBytes;  // a new call
    m_lineBytesSeen = lineBytes;
    if (link.IsConnected() || moved != 0) {
        const ULONGLONG perSecond = TransferRate(moved, sinceLastMs);
        m_pLcdPanel->SetLineRateMeter(static_cast<long>(std::min<ULONGLONG>(perSecond * 10, 0x7FFFFFFF)), 2000);
    }
    if (link.IsConnected()) {
        UpdateCaption(true);
        m_pLcdPanel->ShowMarkA(m_station.IsSystemArmed() ? 1 : 0);
        m_pLcdPanel->ShowMarkB(m_station.IsSystemArmed() ? 0 : 1);
        // Peers of these versions do not take the arm and disarm tokens.
        bool oldPeer = false;
        if (const auto info = link.GetRemoteInfo(); info.has_value()) {
            const std::string text = fixed_text::Read(info->versionText, sizeof info->versionText);
            for (const char* v : {"4.8.4", "4.6.2", "4.1.9"}) {
                if (CCommon::FindStringNoCase(v, text) >= 0) oldPeer = true;
            }
        }
        enableButton(ID_TOGGLE_ARM, !m_station.WaitingForArmAck() && !m_station.SiteArmed() && !oldPeer);
    } else {
        enableButton(ID_TOGGLE_ARM, false);
        m_pLcdPanel->ShowMarkA(0);
        m_pLcdPanel->ShowMarkB(0);
        m_pLcdPanel->SetSendLamp(0, 200);
        m_pLcdPanel->SetReceiveLamp(0, 200);
        m_pLcdPanel->ShowMarkC(0);
    }
    const bool optionsOn = !(up || link.IsTargetConnected());
    if (m_buttonRow != nullptr && m_buttonRow->IsEnabled(ID_OPTIONS) != optionsOn) {
        LUMO_TRACE(3, optionsOn ? "CMainFrame::UpdateStatus() before m_OptionsBtn.EnableWindow(TRUE)"
                                : "CMainFrame::UpdateStatus() before m_OptionsBtn.EnableWindow(FALSE)");
        enableButton(ID_OPTIONS, optionsOn);
    }
    if (!up) {
        m_receivedEvents = 0;
        m_receivedEventLists = 0;
        m_pLcdPanel->ShowMarkD(0);
        m_pLcdPanel->ShowMarkE(0);
    }
}

int CMainFrame::message(UINT stringId, int kind, const std::string& fallback) {
    std::string text = UiString(stringId);
    if (text.empty()) text = fallback;
    return m_app.Ui().ShowMessage(text, m_app.Title(), kind);
}

void CMainFrame::attachVideo() {
    const VideoRecord& video = m_settings.video;
    m_videoView = std::make_unique<RemoteVideoSettings>();
    m_videoView->params.imagewidth = video.rParam_imagewidth;
    m_videoView->params.imageheight = video.rParam_imageheight;
    m_videoView->askBeforeVideo = video.PromptWhenReceive;
    m_videoView->doubleSize = video.RemoteDoubleSize;
    m_videoView->frameRate = std::min<DWORD>(video.RemotePreferRate, 100);
    m_videoView->alwaysOnTop = video.RemoteAlwaysOnTop;
    if (m_remoteView == nullptr) m_remoteView = std::make_unique<FrameRemoteView>(*this);
    m_videoMain->SetRemoteHost(m_remoteView.get());
    m_videoMain->Attach(this, m_pConnection, m_videoView.get(), m_pLumora.get(), RemoteDB(), 0);
    const std::string snapshots = std::string(m_settings.general.HomeDir) + "/Snapshots";
    m_videoMain->SetSnapshotFolders(snapshots, snapshots);
    m_videoMain->VideoMgr().SetFrameSink(m_video.get());
    // The video window paints the recorder's split view: one split-view
    // object keeps the cycle and the panes for both.
    m_video->Attach();
    m_videoMain->VideoMgr().SetSplitView(m_video->Recorder().SplitView(), RemoteDB());
    m_videoMain->CreateRemoteWindow();
    m_videoMain->RemoteWnd()->SetAskVideo(
        [this] { return message(kStrAcceptVideo, kMsgKindQuestion, "The remote station wants to open video. Accept it?"); });
}

void CMainFrame::keepRemoteVideoSettings() {
    // The operator's choices in the remote window are kept with the video settings.
    const CRemoteWnd* remote = m_videoMain != nullptr ? m_videoMain->RemoteWnd() : nullptr;
    if (remote == nullptr) return;
    RemoteVideoSettings kept;
    remote->GetVideoSettings(kept);
    VideoRecord& video = m_settings.video;
    video.RemoteDoubleSize = kept.doubleSize;
    video.RemotePreferRate = kept.frameRate;
    video.RemoteAlwaysOnTop = kept.alwaysOnTop;
}

void CMainFrame::OpenVideoDisplay() {
    m_videoMain->CreateRemoteWindow();
    m_videoMain->ShowRemoteWindow(TRUE);
    if (CRemoteWnd* remote = m_videoMain->RemoteWnd()) remote->raise();
}

void CMainFrame::notAvailable(const char* what) {
    char text[256];
    std::snprintf(text, sizeof text, kNotAvailableText, what);
    LUMO_TRACE(3, "CMainFrame: %s", text);
    m_app.Ui().ShowMessage(text, m_app.Title(), kMsgKindInfo);
}

BOOL CMainFrame::Login(DWORD flags, const char* prompt) {
    if (m_loginGrace > 0) {
        --m_loginGrace;
        return TRUE;
    }
    std::string caption;
    if (prompt != nullptr) {
        caption = prompt;
    } else if (flags & 1) {
        caption = UiString(kStrLoginPrompt0);
    } else if (flags & 2) {
        caption = UiString(kStrLoginPrompt1);
    } else if (flags & 4) {
        caption = UiString(kStrLoginPrompt2);
    } else {
        LUMO_TRACE(5, "CMainFrame::Login- ERROR No privileges given!\n");
        return FALSE;
    }
    CUsersManager* users = m_app.UsersManager();
    if (users == nullptr) return FALSE;
    if (users->DoLoginDialog(caption.c_str()) == USER_OK) {
        if (users->AssertLoginUser(flags, 1) == USER_OK) return TRUE;
        ShowTimedMessage(UiString(kStrPrivilegeRefused, "You have no right to do this."), m_app.Title(), 30000);
    }
    return FALSE;
}

void CMainFrame::AutoConnect(const std::string& target) {
    if (m_station.NetInUse() != 0 && !ConnectToInternet()) return;
    if (LoginForCall()) m_station.Call(target, "");
}

bool CMainFrame::LoginForCall() {
    CUsersManager* users = m_app.UsersManager();
    if (users == nullptr) return false;
    m_loginRecord = _tag_user{};
    // With no password set for anyone (the administrator of a fresh home)
    // there is nothing to ask: the call goes out as the administrator, as the
    // users manager's own login does.
    bool anyPassword = false;
    int count = 0;
    _tag_user user{};
    for (int r = users->ReadFirstUser(&user); r == USER_OK; r = users->ReadNextUser(&user)) {
        ++count;
        if (user.password[0] != '\0') anyPassword = true;
    }
    if (count > 0 && !anyPassword) {
        LUMO_TRACE(5, "CMainFrame::LoginForCall() no passwords set, calling as the administrator");
        std::strcpy(m_loginRecord.name, "admin");
    } else {
        const std::string title = UiString(kStrLoginTitle, "Login");
        if (users->DoLoginDialogIndirect(&m_loginRecord, title.c_str()) != 1) return false;
    }
    // The hello carries the user's record as the users file keeps it: the
    // rights of a known user and the time of this login with the name and
    // password given (the peer checks those).
    _tag_user stored{};
    if (users->GetUser(m_loginRecord.name, &stored) == USER_OK) {
        m_loginRecord.rights = stored.rights;
        users->StampUser(&m_loginRecord);
    }
    return true;
}

void CMainFrame::OnConnectConnect() {
    LUMO_TRACE(3, "ENTER %s", "CMainFrame::OnConnectConnect()");
    m_station.ForgetCallStart();
    CPacketConnection& link = *m_pConnection;
    if (link.IsConnecting()) {
        link.SetNotConnected();
    } else if (!link.HasSpeakerphone()) {
        if (m_station.NetInUse() == 0 || ConnectToInternet()) {
            const std::string& target = !m_app.DValue().empty() ? m_app.DValue() : m_app.SValue();
            if (!target.empty()) {
                DoActivate(FALSE);
                AutoConnect(target);
                DoActivate(TRUE);
            } else if (!m_app.Windows().OpenSiteBook(*this)) {
                OpenSiteBook();
            }
        }
    }
    LUMO_TRACE(3, "LEAVE %s", "CMainFrame::OnConnectConnect()");
}

void CMainFrame::OnTVN_DoConnect(const char* name, const char* number) {
    CPacketConnection& link = *m_pConnection;
    if (link.IsLinkUp() && link.IsConnected()) {
        LUMO_TRACE(5, "CMainFrame::OnTVN_DoConnect already connected");
        return;
    }
    if (LoginForCall()) m_station.Call(number != nullptr ? number : "", name != nullptr ? name : "");
}

DWORD TransferPercent(ULONGLONG done, ULONGLONG total) {
    // 64-bit: done * 100 overflows 32 bits for files above 42 MB.
    if (total == 0) return 0;
    return static_cast<DWORD>(std::min<ULONGLONG>(done * 100 / total, 100));
}

DWORD TransferRate(ULONGLONG bytes, DWORD elapsedMs) {
    if (elapsedMs == 0) return 0;
    return static_cast<DWORD>(std::min<ULONGLONG>(bytes * 1000 / elapsedMs, 0xFFFFFFFFull));
}

DWORD CMainFrame::GetFileStatus(std::string* fileName, LONG* status, DWORD* percent, ULONGLONG* total,
                                ULONGLONG* done, LONG* kind, LONG* rate) {
    ULONGLONG t = 0, d = 0;
    const LONG s = m_pConnection->GetReceiveStatus(&t, &d, kind, rate, fileName);
    if (status != nullptr) *status = s;
    if (total != nullptr) *total = t;
    if (done != nullptr) *done = d;
    // A total of 0 leaves the percent as it was.
    if (t != 0 && percent != nullptr) {
        *percent = TransferPercent(d, t);
        LUMO_TRACE(5, "CMainFrame::GetFileStatus Percent %d", static_cast<int>(*percent));
    }
    return 0;
}

int CMainFrame::GetRemoteVersion(int* kind, char* text, std::size_t size) {
    CPacketConnection& link = *m_pConnection;
    if (!link.IsLinkUp() || kind == nullptr || text == nullptr || size == 0) return 0;
    *kind = link.GetProtocolVersion();
    text[0] = '\0';
    if (*kind == 1) {
        const auto old = link.GetRemoteInfo();
        if (old.has_value()) {
            const std::string info = fixed_text::Read(old->versionText, sizeof old->versionText);
            for (const char* v : {"4.8.4", "4.6.2", "4.1.9"}) {
                if (CCommon::FindStringNoCase(v, info) >= 0) {
                    fixed_text::Write(text, size, v);
                    break;
                }
            }
        }
    } else {
        const StationInfoBlock info = link.GetRemoteStationInfo();
        fixed_text::Write(text, size, fixed_text::Read(info.versionText, sizeof info.versionText));
    }
    return *kind;
}

void CMainFrame::OnHardwareProfilesReceived(WPARAM) {
    tagHWProfile profile{};
    if (RemoteDB() != nullptr && RemoteDB()->GetHWProfiles(&profile, 0)) {
        // The site name is a 30-byte field that need not end in a terminator.
        const std::string name = fixed_text::Read(reinterpret_cast<const BYTE*>(&profile) + 4, 30);
        SetWindowTextIfChanged(this, m_app.Title() + "-" + name);
    }
    DWORD remoteAudio = 0;
    if (!GetAudioState(4, &remoteAudio)) {
        LUMO_TRACE(1, "CMainFrame::OnHardwareProfilesReceived GetRemoteAudioState failed");
    }
    // The site's serial-out protocol may have changed with its profile.
    if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration)) kit->NotifyActiveProtocol();
    if (m_pAudComp != nullptr) {
        if (remoteAudio != 0) m_pAudComp->StartVoiceCompressProcess();
        enableButton(ID_TALK, m_pAudComp->CaptureActive() && m_pAudComp->PlaybackActive() && remoteAudio != 0);
    }
}

void CMainFrame::OnRemoteSettings() {
    if (m_pRemoteSetMgr == nullptr) return;
    CPacketConnection& link = *m_pConnection;
    setEnabled(false);
    bool go = true;
    if (link.IsAdminConnected() && m_station.IsSystemArmed() && link.IsLinkUp() && link.IsConnected() &&
        link.GetProtocolVersion() == 1) {
        go = message(kStrSettingsWhileArmed, kMsgKindInfo, "The site is armed.") != kAnswerTimedOut;
    }
    if (go && !m_pRemoteSetMgr->InitSettingsControl()) notAvailable("The remote settings editor");
    setEnabled(true);
}

int CMainFrame::RemoteGetProfile(const char* path) {
    return m_pRemoteSetMgr != nullptr && path != nullptr ? m_pRemoteSetMgr->GetProfileFromSite(path) : 0;
}

int CMainFrame::RemoteSetProfile(const char* path) {
    return m_pRemoteSetMgr != nullptr && path != nullptr ? m_pRemoteSetMgr->SendProfileToSite(path) : 0;
}

int CMainFrame::RemoteGetProfileState(WORD upload, DWORD* percent) {
    DWORD value = 0xFFFF;
    const int result = m_pRemoteSetMgr != nullptr ? m_pRemoteSetMgr->GetProfileTransferProgress(upload != 0, value) : 0;
    if (percent != nullptr) *percent = value;
    return result;
}

int CMainFrame::RemoteCancelProfile(WORD upload) {
    return m_pRemoteSetMgr != nullptr ? m_pRemoteSetMgr->CancelProfileTransfer(upload != 0) : 0;
}

void CMainFrame::showHisCard(const std::string& name, const std::string& phone, const std::string& details) {
    if (m_hisCard == nullptr) return;
    m_hisCardHeld = !name.empty();
    m_hisCard->SetCaption(name);
    m_hisCard->SetCaption2(name.empty() ? std::string() : phone);
    m_hisCard->SetField1Text(name.empty() ? std::string() : details);
    m_hisCard->Layout();
    m_hisCard->setVisible(m_hisCardHeld && m_settings.screen.expanded != 0);
}

void CMainFrame::ShowTimedMessage(const std::string& text, const std::string& title, DWORD ms) {
    if (m_destroyed) return;
    // Without a display nobody sees the box: the notice goes to standard
    // error and the trace, as the program's other boxes do.
    if (UiPlatformHasNoDisplay() || UiUnattended()) UiReportBox(text, title);
    if (m_pTimeMsgBox == nullptr) return;
    m_pTimeMsgBox->DisplayMessage(QString::fromStdString(text), QString::fromStdString(title), 0, ms);
}

void CMainFrame::ShowLinkNotice(const std::string& text) {
    ++m_linkNotices;
    m_lastNotice = text;
    LUMO_TRACE(3, "CMainFrame: notice of the link: %s", text.c_str());
    ShowTimedMessage(text, m_app.Title(), m_settings.general.TimeOutForMesageBoxesMS);
}

void CMainFrame::OnDisconnectMessage(WPARAM cause, LPARAM text) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnDisconnectMessage");
    if (m_pTessIntegration != nullptr) {
        m_pTessIntegration->NotifyLineDisconnected(0, "");
        // A call that ended with a known result (the link's string id of the
        // cause) tells the kit's clients why.
        std::string result;
        int reason = -1;
        GetCallResultText(static_cast<UINT>(cause), &result, &reason);
        if (reason >= 0) {
            LUMO_TRACE(3, "CMainFrame::OnDisconnectMessage the call ended: %s", result.c_str());
            m_pTessIntegration->NotifyAfterDisconnect(static_cast<WORD>(reason));
        }
    }
    if (m_pAudComp != nullptr) {
        m_pAudComp->StopVoiceCompressProcess();
        m_pAudComp->StopAudioRecording(0);
    }
    if (m_loggedStart) {
        if (logWrite != nullptr) {
            const std::string user = fixed_text::Read(m_loginRecord.name, sizeof m_loginRecord.name);
            logWrite->AddEntryEx(nullptr, kLogDisconnect, 0, user.c_str(), 0, peerText().c_str());
        }
        m_loggedStart = false;
    }
    m_pConnection->UpdateVideoWindow();
    if (m_chat != nullptr) closeChat();
    if (text == 0 && cause == 0) {
        LUMO_TRACE(3, "CMainFrame::OnDisconnectMessage No Message");
    } else if (!m_station.DisconnectShown()) {
        // The cause: the posted text, else the resource text of the cause's id.
        auto posted = platform::TakePostedData<std::string>(text);
        const std::string why = posted != nullptr ? *posted : UiString(static_cast<UINT>(cause));
        if (!why.empty()) {
            m_station.SetDisconnectShown(true);
            const bool called = m_pConnection->IsOutgoingCall() != FALSE;
            const std::string format = UiString(called ? kStrDisconnectedCalled : kStrDisconnected);
            std::string shown = why;
            if (!format.empty()) {
                char buffer[1024];
                std::snprintf(buffer, sizeof buffer, format.c_str(), why.c_str());
                shown = buffer;
            }
            m_app.Ui().ShowMessage(shown, m_app.Title(), kMsgKindInfo);
        }
    }
    SetWindowTextIfChanged(this, m_strTitle);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnDisconnectMessage");
}

void CMainFrame::OnOpenChat(ChatOpener opener) {
    if (m_chat == nullptr || m_chat == m_station.CaptureWindow()) {
        LinkChatWindow* window = m_app.Windows().OpenChat(*this);
        if (window == nullptr && m_panels != nullptr) window = m_panels->OpenChat();
        if (window != nullptr) {
            m_chat = window;
            m_pConnection->SetChatWindow(m_chat);
            return;
        }
        if (opener == ChatOpener::User) {
            notAvailable("The chat window");
            return;
        }
        // No chat window: what the peer writes is kept in the capture file,
        // never shown line by line in boxes, never dropped.
        m_chat = m_station.CaptureWindow();
        m_pConnection->SetChatWindow(m_chat);
    }
}

std::string CMainFrame::AddressBookPath() const {
    return std::string(m_settings.general.HomeDir) + "/data/AddrBook.kiv";
}

void CMainFrame::openAddressBook(CAddrBookFile& book) const {
    const std::string path = AddressBookPath();
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    book.SetFileName(path, 0);
    book.SetLogUser(fixed_text::Read(m_loginRecord.name, sizeof m_loginRecord.name));
    book.SetUi(&AddrBookDialogUi());
}

// The rows of the private messages the frame owns: its creation stage, its
// commands, its lamps and notices, its child windows, the settings manager's
// files. The station's own rows (the loop, the call, the arming) are its own.
void CMainFrame::registerRows() {
    MessageRows& t = *m_rows;
    t.add(kMsgPostCreate, [this](WPARAM, LPARAM) { PostCreate(); return LRESULT{0}; });
    t.add(WM_COMMAND, [this](WPARAM wParam, LPARAM lParam) {
        const WPARAM id = wParam & 0xFFFF;
        if (id == ID_OPEN_CHAT && lParam == kOpenChatForPeerText) {
            // The link asks for the chat window when the peer's text arrives.
            OnOpenChat(ChatOpener::Peer);
        } else if (id == ID_HOLD_CALL && (lParam == kHoldCallWantedOn || lParam == kHoldCallWantedOff)) {
            // The state asked for, whatever other requests came before this one arrived.
            SetHold(lParam == kHoldCallWantedOn);
        } else {
            OnCommand(id);
        }
        return LRESULT{0};
    });
    t.add(platform::WM_CLOSE, [this](WPARAM, LPARAM) { OnClose(); return LRESULT{0}; });
    t.add(kMsgActivate, [this](WPARAM on, LPARAM) { DoActivate(static_cast<BOOL>(on)); return LRESULT{0}; });
    t.add(kMsgFileCard, [this](WPARAM, LPARAM) {
        fileReceivedCards();
        return LRESULT{0};
    });
    t.add(kMsgChatCaptured, [this](WPARAM, LPARAM) {
        const std::string format = UiString(kStrChatCaptured, "Chat text from the site is kept in %s.");
        char text[1024];
        std::snprintf(text, sizeof text, format.c_str(), ChatCapturePath().c_str());
        m_lastNotice = text;
        ShowTimedMessage(text, m_app.Title(), m_settings.general.TimeOutForMesageBoxesMS);
        return LRESULT{0};
    });
    t.add(kMsgShowHideUi, [this](WPARAM hide, LPARAM) {
        m_uiHidden = static_cast<int>(hide);
        if (m_app.Services().showWindows) setVisible(hide == 0);
        return LRESULT{0};
    });
    t.add(kMsgChildClosed, [this](WPARAM wParam, LPARAM lParam) {
        const WORD kind = static_cast<WORD>((static_cast<DWORD>(lParam) >> 16) & 0xFFFF);
        if (wParam == 2 && kind == kChildFileTransfer) m_panels->TransferWindowClosed();
        if (wParam == 2 && m_views != nullptr) m_views->OnChildClosed(lParam);
        if (wParam == 2 && kind == kChildChat) closeChat();
        return LRESULT{0};
    });
    t.add(kMsgSiteBookConnect, [this](WPARAM, LPARAM data) {
        if (auto station = platform::TakePostedData<SiteBookStation>(data)) {
            OnTVN_DoConnect(station->name.c_str(), station->number.c_str());
        }
        return LRESULT{0};
    });
    t.add(kMsgDisconnectMessage, [this](WPARAM cause, LPARAM text) {
        OnDisconnectMessage(cause, text);
        return LRESULT{0};
    });
    t.add(kMsgRemoteProfiles, [this](WPARAM w, LPARAM) { OnHardwareProfilesReceived(w); return LRESULT{0}; });
    t.add(kMsgQueueFile, [this](WPARAM, LPARAM data) -> LRESULT {
        if (auto path = platform::TakePostedData<std::string>(data); path != nullptr) SendFile(*path, "");
        return 1;
    });
    t.add(kMsgTrayIcon, [this](WPARAM, LPARAM button) -> LRESULT {
        if (button != 514) return 0;
        // The notification-area menu: the menu bar's first menu, at the cursor.
        if (QMenu* first = menuBar()->findChild<QMenu*>()) first->popup(QCursor::pos());
        platform::PostMessage(Hwnd(), 0, 0, 0);
        return 1;
    });
    t.add(kMsgProfilesWeCalled, [this](WPARAM value, LPARAM) { onConnectionStarted(value); return LRESULT{1}; });
    t.add(kMsgPointerActivity, [this](WPARAM, LPARAM) { m_pointerActivity = 1; return LRESULT{0}; });
    t.add(kMsgVideoWindowRecord, [this](WPARAM, LPARAM data) {
        if (auto record = platform::TakePostedData<VideoWindowRecord>(data); record != nullptr && m_videoMain) {
            m_videoMain->SetVideoWindowRecord(record->hwnd,
                                              RECT{record->left, record->top, record->right, record->bottom});
        }
        return LRESULT{0};
    });
    t.add(kMsgSetQuality, [this](WPARAM quality, LPARAM) { SetQuality(quality); return LRESULT{0}; });
    t.add(kMsgHelpKey, [this](WPARAM, LPARAM) { OnHelp(); return LRESULT{0}; });
    // The peer's requests and reports (its event-list and event-file
    // requests, its settings error reports) are the station's requests' rows.
    t.add(kMsgDebriefStart, [](WPARAM, LPARAM) {
        // The event player is not here yet; the data goes with the message.
        LUMO_TRACE(3, "CMainFrame: message 0x%X not served", kMsgDebriefStart);
        return LRESULT{0};
    });
    t.add({kMsgFileReceivedKind3, kMsgFileReceivedKind4, kMsgFinishUpgrade}, [this](UINT msg, WPARAM, LPARAM) {
        if (m_pRemoteSetMgr == nullptr) return LRESULT{0};
        if (msg == kMsgFileReceivedKind3) m_pRemoteSetMgr->OnReceivedSettings();
        if (msg == kMsgFileReceivedKind4) m_pRemoteSetMgr->OnReceivedSysSettings();
        if (msg == kMsgFinishUpgrade) m_pRemoteSetMgr->OnFinishUpgrade();
        return LRESULT{0};
    });
    registerLampRows();
    registerKitRows();
}

// The lamps of the LCD panel and the timed notices.
void CMainFrame::registerLampRows() {
    MessageRows& t = *m_rows;
    t.add(kMsgDataLamp, [this](WPARAM, LPARAM on) {
        m_pLcdPanel->ShowDataLamp(static_cast<int>(on), 3000);
        return LRESULT{0};
    });
    t.add(kMsgHostDataLamp, [this](WPARAM on, LPARAM ms) {
        m_pLcdPanel->ShowDataLamp(static_cast<int>(on), static_cast<DWORD>(ms));
        return LRESULT{0};
    });
    t.add(kMsgDataLamp3000, [this](WPARAM, LPARAM) { m_pLcdPanel->ShowDataLamp(1, 3000); return LRESULT{1}; });
    t.add(kMsgSendLamp, [this](WPARAM, LPARAM on) {
        m_pLcdPanel->SetSendLamp(static_cast<int>(on), 200);
        return LRESULT{0};
    });
    t.add(kMsgHostNotice, [this](WPARAM id, LPARAM) { showTimedString(static_cast<UINT>(id)); return LRESULT{0}; });
    t.add(kMsgNotificationShown, [](WPARAM, LPARAM) {
        LUMO_TRACE(5, "CMainFrame: the peer's notice was shown");
        return LRESULT{0};
    });
}

void CMainFrame::showTimedString(UINT stringId) {
    m_lastNotice = UiString(stringId);
    LUMO_TRACE(3, "CMainFrame: notice %u: %s", stringId, m_lastNotice.c_str());
    ShowTimedMessage(m_lastNotice, "", m_settings.general.TimeOutForMesageBoxesMS);
}

// The start of a connection's bookkeeping, once per connection.
void CMainFrame::onConnectionStarted(WPARAM value) {
    if (m_loggedStart) return;
    if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyAfterConnect(static_cast<DWORD>(value));
    tagHWProfile* profile = new tagHWProfile{};
    std::string station;
    if (RemoteDB() != nullptr && RemoteDB()->GetHWProfiles(profile, 0)) {
        station = fixed_text::Read(reinterpret_cast<const BYTE*>(profile) + 4, 30);
    }
    delete profile;
    if (station.empty()) station = peerText();
    logEntry(kLogConnect, "Connection with " + station);
    logEntry(kLogConnect, "Profiles of " + station + " received");
    m_loggedStart = true;
}

// Kinds: 1 audio disabled, 2 a recording file open, 3 sending paused, 4 the
// remote station's audio state from the link.
int CMainFrame::GetAudioState(int kind, DWORD* value) {
    if (value == nullptr) return 0;
    *value = 0;
    if (m_pAudComp == nullptr) return 0;
    switch (kind) {
    case 1: *value = m_pAudComp->Settings().DisableAudio; break;
    case 2: *value = m_pAudComp->RecordingOpen() ? 1 : 0; break;
    case 3: *value = m_pAudComp->SendPaused() ? 1 : 0; break;
    case 4: {
        BOOL on = FALSE;
        if (!m_pConnection->IsAudioEnabled(on)) {
            LUMO_TRACE(1, "CMainFrame::GetAudioState GetRemoteAudioState failed");
            return 0;
        }
        *value = on != 0 ? 1 : 0;
        break;
    }
    default: break;
    }
    return 1;
}

int CMainFrame::SetAudioOutMute(int muted) {
    if ((muted != 0) != m_audioOutMuted) OnAudioOutToggle();
    return 1;
}

int CMainFrame::GetProtocolVersion() { return m_pConnection != nullptr ? m_pConnection->GetProtocolVersion() : 0; }

bool CMainFrame::SetQuality(WPARAM quality) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::SetQuality");
    LUMO_TRACE(5, "CMainFrame::SetQuality Quality %d", static_cast<int>(quality));
    CRemoteWnd* remote = m_videoMain != nullptr ? m_videoMain->RemoteWnd() : nullptr;
    if (remote != nullptr) platform::PostMessage(remote->Handle(), kMsgRemoteFrameRate, quality, 0);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::SetQuality");
    return remote != nullptr;
}

int CMainFrame::PlayEventSound(int kind) {
    // The sounds of the remote station's settings: a beep stands in for the files.
    if (kind == 1 || kind == 2) QApplication::beep();
    return 1;
}

void CMainFrame::OnMovieRecordStart() {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnMovieRecordStart");
    CPacketConnection& link = *m_pConnection;
    if (link.IsLinkUp() && link.IsConnected()) {
        SendTokenToSite(link, 36);
        m_recording = true;
        if (m_video != nullptr) {
            // "EnableRecord" 0 keeps recording off.
            m_video->SetRecordingStatus(TRUE, 1);
            m_recording = m_video->RecordingOn();
        }
        // The talk is filed beside the manual event files of the camera the
        // remote window shows: the camera whose pictures arrive now.
        if (m_recording && m_pAudComp != nullptr) {
            const CVideoRecorder* recorder = m_video != nullptr ? &m_video->Recorder() : nullptr;
            m_pAudComp->StartAudioRecording(recorder != nullptr ? recorder->CurrentAdapter() : 0,
                                            recorder != nullptr ? recorder->CurrentCamera() : 0);
        }
    }
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnMovieRecordStart");
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

// Dropped files are queued for the peer.
void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) SendFile(url.toLocalFile().toStdString(), "");
    }
    event->acceptProposedAction();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (!m_destroyed) OnClose();
}

void CMainFrame::CloseWithoutAsking() {
    if (m_destroyed) return;
    m_closeWithoutAsking = true;
    platform::PostMessage(Hwnd(), platform::WM_CLOSE, 0, 0);
}

void CMainFrame::OnClose() {
    if (m_destroyed) return;
    const bool ask = !m_closeWithoutAsking;
    if (!m_station.ClosePending() && ask && !Login(1)) return;
    switch (m_station.CloseStep(ask)) {
    case CloseProgress::Refused:
        return;
    case CloseProgress::Retry:
        platform::PostMessage(Hwnd(), platform::WM_CLOSE, 0, 0);  // once the disconnect is done
        return;
    case CloseProgress::Done:
        LUMO_TRACE(3, " Calling CMainFrame::OnClose()");
        destroyWindow();
        return;
    case CloseProgress::Pending:
        if (!m_pConnection->IsLinkDown()) UpdateCaption(false);
        platform::PostMessage(Hwnd(), platform::WM_CLOSE, 0, 0);
        return;
    }
}

void CMainFrame::destroyWindow() {
    OnDestroy();
    hide();
    m_app.EndRun(0);
}

void CMainFrame::OnDestroy() {
    if (m_destroyed) return;
    m_destroyed = true;
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnDestroy");
    SetAddrBookCapture(nullptr);
    // A card the peer was told we received is filed before the frame goes,
    // without asking anyone: the program is closing.
    m_station.CardStep();
    const bool unattended = UiUnattended();
    UiSetUnattended(true);
    fileReceivedCards();
    UiSetUnattended(unattended);
    // The kit hears that the frame goes, then lets go of it.
    if (m_pTessIntegration != nullptr) {
        m_pTessIntegration->NotifyAuthorizationError(0, 0, "");
        if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration)) {
            kit->AttachMainFrame(nullptr, nullptr, false);
        }
        m_pTessIntegration = nullptr;
    }
    m_dde.reset();
    m_pConnection->SetAudComp(nullptr);
    m_pAudComp.reset();
    // Open recordings are completed before the frame goes.
    keepRemoteVideoSettings();
    m_videoMain->CloseRemoteWindow();
    m_videoMain->VideoMgr().SetFrameSink(nullptr);
    m_videoMain->VideoMgr().SetSplitView(nullptr, nullptr);
    m_video.reset();
    if (m_pRemoteSetMgr != nullptr) {
        m_pRemoteSetMgr->DestroySettingsUI();
        m_pRemoteSetMgr.reset();
    }
    if (m_wndToolBar != nullptr) {
        delete m_wndToolBar;
        m_wndToolBar = nullptr;
    }
    // The loop, the keep-alive thread and a dial-up line end with the window.
    m_station.Stop();
    if (m_chat != nullptr) closeChat();
    m_panels.reset();
    m_views.reset();
    // A minimised frame keeps the placement it had; otherwise the window's
    // rectangle is stored.
    if (isMinimized()) {
        m_restoreFlag = false;
    } else {
        m_settings.screen.x = x();
        m_settings.screen.y = y();
        m_settings.screen.width = width();
        m_settings.screen.height = height();
        m_restoreFlag = true;
    }
    m_settings.WriteScreenSettings();
    m_settings.WriteGenSettings();
    m_settings.WriteCommsSettings();
    m_settings.WriteCaldrinSettings();
    m_settings.WriteVideoSettings();
    m_pConnection->SetSerialVideoPort(nullptr);
    if (gZoSerial != nullptr) {
        gZoSerial->Finish();
        delete gZoSerial;
        gZoSerial = nullptr;
    }
    OnCommand(ID_END_PROFILE);
    CLogWrite::SetMainWindow(0);
    m_app.m_pRemoteDB = nullptr;
    m_pTimeMsgBox.reset();
    // Tell the watchdog that the recorder is going down.
    NotifyShell(kHeartbeatDead, Hwnd());
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnDestroy");
}

}  // namespace trennick
