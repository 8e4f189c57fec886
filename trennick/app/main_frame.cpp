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
#include "trennick/app/frame_messages.h"
#include "trennick/app/heartbeat.h"
#include "trennick/app/keep_alive.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/modem_link.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/app/frame_remote_settings.h"
#include "trennick/app/frame_remote_view.h"
#include "trennick/app/remote_requests.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/book/addr_book_dialogs.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/clients/video_out_net.h"
#include "trennick/clients/zo_serial_client.h"
#include "trennick/image/image_wnd.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/video/lumora_remote.h"
#include "trennick/video/video_main.h"
#include "trennick/link/serial_out_command.h"
#include "resources/glossel_ids.h"
#include "trennick/link/common_base.h"
#include "trennick/ui/about_dlg.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/ui/window_text.h"
#include "trennick/link/core_identity.h"
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

int gbIsSystemArmed = 0;

namespace {

ModemLinkFactory g_modemLinkFactory = nullptr;

constexpr const char* kNotAvailableText = "%s is not available in this version of the program.";
constexpr UINT kStrLoginTitle = 61417;
constexpr short kLogConnect = 10;
constexpr short kLogDisconnect = 11;
constexpr UINT kStrPrivilegeRefused = 65120;
constexpr UINT kStrLoginPrompt0 = 65090;
constexpr UINT kStrLoginPrompt1 = 65100;
constexpr UINT kStrLoginPrompt2 = 65110;

}  // namespace

void SetModemLinkFactory(ModemLinkFactory factory) { g_modemLinkFactory = factory; }

// What the audio client needs of the frame: the link's audio state, the
// connected site's id, the kit's record notices and the data lamp.
class CMainFrame::FrameAudioHost : public AudioHost {
public:
    explicit FrameAudioHost(CMainFrame& frame) : m_frame(frame) {}
    bool hasMainWindow() override { return !m_frame.m_destroyed; }
    bool remoteAudioState(DWORD& state) override { return m_frame.GetAudioState(4, &state) != 0; }
    // The talk of a recording is filed with the recording's pictures.
    std::string stationId() override { return m_frame.RecordingStation(); }
    void notifyRecordStart(const std::string& fileName) override { m_frame.NotifyRecordStart(fileName.c_str(), 2, 0); }
    void notifyRecordFinish(const std::string& fileName, DWORD flag) override {
        m_frame.NotifyRecordFinish(fileName.c_str(), 2, flag);
    }
    void dataLamp() override { platform::PostMessage(m_frame.Hwnd(), kMsgDataLamp, 0, 1); }

private:
    CMainFrame& m_frame;
};

// The frame's data and services as the link asks for them. The link may call
// from a transport thread; the data it reads is written on the frame's thread
// only before a call starts (the login record) or is copied whole.
class CMainFrame::FrameLinkHost : public LinkHost {
public:
    explicit FrameLinkHost(CMainFrame& frame) : m_frame(frame) {}
    UserRecord loggedInUserRecord() override {
        UserRecord record{};
        static_assert(sizeof(_tag_user) == kUserRecordBytes);
        std::memcpy(record.data(), &m_frame.m_loginRecord, record.size());
        return record;
    }
    void localStationData(BYTE (&data)[kStationDataBytes], BYTE& stationByte) override {
        const BYTE* card = m_frame.m_settings.general.BusinessCard;
        std::memcpy(data, card, kStationDataBytes);
        stationByte = card[kStationDataBytes];
    }
    void setRemoteStationData(const BYTE (&data)[kStationDataBytes], BYTE stationByte, bool) override {
        std::memcpy(m_frame.m_remoteStationData, data, kStationDataBytes);
        m_frame.m_remoteStationByte = stationByte;
    }
    void recordRemoteSite(const SiteInfoBlock& site) override {
        BYTE block[kSiteInfoBytes];
        static_assert(sizeof(SiteInfoBlock) == kSiteInfoBytes);
        SiteInfoBlock copy = site;
        terminateTexts(copy);
        std::memcpy(block, &copy, sizeof block);
        m_frame.SetSiteInfo(block);
    }
    void logAttendTimeout() override { m_frame.logEntry(45, "Attend time-out"); }
    // The connected station's identity as the frame holds it: the station
    // directory's record and the folder of its received settings are named by it.
    bool remoteSiteInfo(SiteInfoBlock& site) override {
        BYTE block[kSiteInfoBytes];
        if (!m_frame.GetSiteInfo(block)) return false;
        std::memcpy(&site, block, sizeof site);
        terminateTexts(site);
        return true;
    }
    // The settings database takes its own lock.
    void storeRemoteHWProfile(const tagHWProfile& profile) override {
        if (CDBLumoRemote* db = m_frame.m_pRemoteDB.get()) db->UpdateHWProfiles(&profile, nullptr);
    }
    bool editLocalHWProfile(const std::function<bool(tagHWProfile&)>& edit) override {
        std::lock_guard lock(m_frame.m_localProfileLock);
        if (m_frame.m_destroyed) return false;
        // This station's own settings, read on the first request only: the
        // whole local database is a long read that a start need not wait for.
        if (m_frame.m_pLocalDB == nullptr) m_frame.m_pLocalDB = std::make_unique<CDBLumoLocal>(nullptr, 0);
        CDBLumoLocal* db = m_frame.m_pLocalDB.get();
        auto profile = std::make_unique<tagHWProfile>();
        db->GetHWProfiles(profile.get());
        if (edit(*profile)) {
            db->UpdateHWProfiles(profile.get(), nullptr);
            db->WriteHWProfiles();
        }
        return true;
    }
    // Both may come from a transport's thread: the frame's thread shows them.
    bool showTimedNotice(UINT stringId) override {
        const platform::HWND hwnd = m_frame.Hwnd();
        return hwnd != 0 && platform::PostMessage(hwnd, kMsgHostNotice, stringId, 0);
    }
    void showDataLamp(int on, DWORD durationMs) override {
        if (const platform::HWND hwnd = m_frame.Hwnd()) {
            platform::PostMessage(hwnd, kMsgHostDataLamp, static_cast<WPARAM>(on), static_cast<LPARAM>(durationMs));
        }
    }
    // The picture size at 12 and 16 (what a peer's remote window applies), the
    // rate on a call the peer placed and the quality of the Video group.
    bool mainVideoSettings(std::array<BYTE, 52>& record, int& frameRate, WORD& quality) override {
        const VideoRecord& video = m_frame.m_settings.video;
        record.fill(0);
        std::memcpy(record.data() + 12, &video.rParam_imagewidth, 4);
        std::memcpy(record.data() + 16, &video.rParam_imageheight, 4);
        frameRate = static_cast<int>(video.DefaultRateOnDOA);
        quality = static_cast<WORD>(video.rParam_QQual);
        return true;
    }

private:
    CMainFrame& m_frame;
};

// What the handlers of the connected station's requests and replies need of
// the frame.
class CMainFrame::FrameRequestsHost : public RemoteRequestsHost {
public:
    explicit FrameRequestsHost(CMainFrame& frame) : m_frame(frame) {}
    CPacketConnection* link() override { return m_frame.m_pConnection.get(); }
    std::string connectedStationName() override { return fixed_text::Read(m_frame.m_siteInfo + 256, 256); }
    CDBLumo* remoteSettings() override { return m_frame.m_pRemoteDB.get(); }
    void showMessage(UINT stringId, const std::string& argument) override {
        const std::string format = UiString(stringId);
        std::string text = argument;
        if (!format.empty()) {
            char buffer[1024];
            std::snprintf(buffer, sizeof buffer, format.c_str(), argument.c_str());
            text = buffer;
        }
        m_frame.m_app.Ui().ShowMessage(text, m_frame.m_app.Title(), kMsgKindInfo);
    }
    void showTimedMessage(UINT stringId) override {
        m_frame.ShowTimedMessage(UiString(stringId), m_frame.m_app.Title(),
                                 m_frame.m_settings.general.TimeOutForMesageBoxesMS);
    }
    void postToFrame(UINT message, WPARAM wParam, LPARAM lParam) override {
        platform::PostMessage(m_frame.Hwnd(), message, wParam, lParam);
    }
    bool sendFile(const std::string& path, const std::string& title) override {
        return m_frame.SendFile(path, title) != FALSE;
    }
    bool settingsErrorReport(UINT message, const BYTE* block, DWORD length) override {
        CRemoteSetMgr* mgr = m_frame.m_pRemoteSetMgr.get();
        if (mgr == nullptr) return false;
        mgr->OnReceivedSettingsErr(block, length, message == kMsgSettingsErrorReport ? 8 : 12);
        return true;
    }
    bool thisStationGuid(std::string& guid) override {
        CUUIDdb ids;
        char text[kGuidTextBytes] = {};
        if (!ids.dbGUIDThisReadKey(text, sizeof text)) return false;
        guid = text;
        return true;
    }
    // A peer of the second protocol keeps the times of its events in the
    // second kind; those are converted when they arrive.
    int peerTimeKind() override {
        CPacketConnection* l = m_frame.m_pConnection.get();
        return l != nullptr && l->IsLinkUp() && l->GetProtocolVersion() == 2 ? 2 : 0;
    }
    void beep() override { QApplication::beep(); }
    // The card's picture in the local picture window, with the date and time.
    void showCardPicture(const std::string& picturePath) override {
        if (m_frame.m_localImage == nullptr) return;
        char caption[64];
        const std::time_t t = std::time(nullptr);
        std::strftime(caption, sizeof caption, "%x, %X", std::localtime(&t));
        m_frame.m_localImage->ShowImageFile(picturePath.c_str(), caption, FALSE);
        m_frame.m_localImage->setVisible(true);
        m_frame.m_cardPicture = picturePath;
    }
    void showSnapshot(const std::string& bitmapPath) override {
        if (m_frame.m_views != nullptr) m_frame.m_views->ShowReceivedSnapshot(bitmapPath);
    }
    void kitNoEvents() override {
        if (CTessIntegration* kit = m_frame.m_pTessIntegration) kit->NotifyListDownloadFinished(1);
    }
    void kitEventNotFound() override {
        if (CTessIntegration* kit = m_frame.m_pTessIntegration) kit->NotifyEventDownloadFinished("", 8, 0, 0);
    }
    void kitEventFiled(const std::string& newPath) override {
        if (CTessIntegration* kit = m_frame.m_pTessIntegration) kit->NotifyEventDownloadFinished(newPath.c_str(), 0, 0, 0);
    }
    void kitEventListReceived(const std::string&, const tagEventDirListCamera& list) override {
        auto* kit = dynamic_cast<CNightTessIntegration*>(m_frame.m_pTessIntegration);
        if (kit == nullptr) return;
        BYTE site[kSiteInfoBytes] = {};
        m_frame.GetSiteInfo(site);
        const std::string stationId = fixed_text::Read(site, 256);
        kit->OnEventListData(stationId.c_str(), list.dwType, list.wAdapter, list.wCamera);
    }
    void kitAlarm(WPARAM a, LPARAM b, int source, const std::string& time) override {
        if (CTessIntegration* kit = m_frame.m_pTessIntegration) {
            kit->NotifyAlarmDetected(static_cast<WORD>(a), static_cast<WORD>(b), static_cast<WORD>(source), time.c_str());
        }
    }

private:
    CMainFrame& m_frame;
};

// Serial-out messages the link received (the answers of the peer's serial-out
// device): copied and handed to the frame's thread, which raises the kit's
// serial-out notifications.
class CMainFrame::FrameSerialOutSink : public LinkSerialOutSink {
public:
    explicit FrameSerialOutSink(CMainFrame& frame) : m_frame(frame) {}
    void serialOutMessage(const BYTE* message, DWORD length) override {
        if (message == nullptr || length == 0) return;
        platform::PostMessageOwned(m_frame.Hwnd(), kMsgSerialOutMessage, 0,
                                   std::make_unique<std::vector<BYTE>>(message, message + length));
    }

private:
    CMainFrame& m_frame;
};

// Keeps the peer's chat text in the capture file while no chat window is
// open, and has the frame tell the user once per connection. Called by the
// link on whatever thread reads it.
class CMainFrame::ChatCapture : public LinkChatWindow {
public:
    explicit ChatCapture(CMainFrame& frame) : m_frame(frame) {}
    void chatText(std::string_view text) override {
        std::lock_guard lock(m_lock);
        std::ofstream out(m_frame.ChatCapturePath(), std::ios::app | std::ios::binary);
        out << "<< " << text << "\r\n";
        if (!out) LUMO_TRACE(1, "CMainFrame: chat text could not be kept in %s", m_frame.ChatCapturePath().c_str());
        if (!m_told) {
            m_told = true;
            platform::PostMessage(m_frame.Hwnd(), kMsgChatCaptured, 0, 0);
        }
    }
    void UpdateTitle(std::string_view) override {}
    void newConnection() {
        std::lock_guard lock(m_lock);
        m_told = false;
    }

private:
    CMainFrame& m_frame;
    std::mutex m_lock;
    bool m_told = false;
};

class CMainFrame::FrameInetHooks : public InetFrameHooks {
public:
    void showConnectionWindow() override { LUMO_TRACE(5, "CMainFrame: incoming call accepted"); }
    void hideConnectionWindow() override {}
    void linkDropped() override {}
};

CMainFrame::CMainFrame(CKivApp& app, const LinkChoice& choice) : m_app(app), m_netInUse(choice.NetInUse) {
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WindowProc(msg, wParam, lParam); });
    m_linkWindow = std::make_unique<MessageWindowLink>(m_target->hwnd());
    m_linkHost = std::make_unique<FrameLinkHost>(*this);
    m_inetHooks = std::make_unique<FrameInetHooks>();
    m_identity = std::make_unique<CoreLinkIdentity>();
    m_requestsHost = std::make_unique<FrameRequestsHost>(*this);
    m_requests = std::make_unique<CRemoteRequests>(*m_requestsHost);
    m_serialOutSink = std::make_unique<FrameSerialOutSink>(*this);
    m_chatCapture = std::make_unique<ChatCapture>(*this);
    m_videoMain = std::make_unique<CVideoMain>();

    LinkServices services;
    services.window = m_linkWindow.get();
    services.host = m_linkHost.get();
    services.identity = m_identity.get();
    if (m_app.Services().clock) services.clock = m_app.Services().clock;
    services.networkVideoOutput = [](const std::string& address) -> std::unique_ptr<VideoOutNet> {
        return std::make_unique<CVideoOutNet>(address.c_str());
    };
    if (m_netInUse == 0) {
        m_pConnection = g_modemLinkFactory != nullptr ? g_modemLinkFactory(services) : MakeModemLink(services);
    }
    if (m_pConnection == nullptr) {
        if (m_netInUse == 0) {
            LUMO_TRACE(1, "CMainFrame::CMainFrame() [E] the modem link is not available, the TCP link is used");
        }
        InetOptions options;
        options.listenPortText = m_app.PValue();
        options.connectPortText = m_app.TValue();
        options.frame = m_inetHooks.get();
        auto inet = std::make_unique<CInetConnection>(services, options);
        m_inet = inet.get();
        m_pConnection = std::move(inet);
    }
    m_panels = std::make_unique<CFramePanels>(*this);
    m_views = std::make_unique<CFrameRemoteViews>(*this);
}

CMainFrame::~CMainFrame() {
    LUMO_TRACE(5, "ENTER %s", " CMainFrame::~CMainFrame()");
    if (!m_destroyed) OnDestroy();
    m_keepAlive.reset();
    m_pConnection.reset();
    m_inet = nullptr;
    m_target.reset();
    LUMO_TRACE(5, "LEAVE %s", " CMainFrame::~CMainFrame()");
}

platform::HWND CMainFrame::Hwnd() const { return m_target != nullptr ? m_target->hwnd() : 0; }

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
    m_settings.ReadGenSettings();
    ReadGenSettings();
    m_settings.ReadCommsSettings(m_netInUse);
    m_settings.ReadCaldrinSettings();
    m_settings.ReadVideoSettings();
    m_settings.ReadStorageSettings();

    m_pRemoteDB = std::make_unique<CDBLumoRemote>();
    m_app.m_pRemoteDB = m_pRemoteDB.get();
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
    // Link set-up.
    CommsRecord& comms = m_settings.comms;
    if (m_inet != nullptr && m_netInUse != 0) {
        if (!m_inet->LinkDialUp() && comms.UseDialUp != 0) comms.UseDialUp = 0;
    }
    applyLinkSettings();
    m_pConnection->SetHelloRetry(comms.HelloTimeout, comms.HelloMaxTimeRetry);
    m_pConnection->SetSessionSetupLimit(comms.HelloSetupLimit);
    m_pConnection->SetChatWindow(nullptr);
    m_pConnection->SetReceiveFolders(m_settings.caldrin.RecDir, m_settings.caldrin.RecDir);
    if (m_inet != nullptr) m_inet->SetMaxReadQueueBytes(m_settings.general.MaxReadQ_Bytes);
    SetModemReadQueueLimit(*m_pConnection, m_settings.general.MaxReadQ_Bytes);
    m_chat = nullptr;
    CLogWrite::SetMainWindow(Hwnd());
    // The kit channel: it hears of the frame's events from now on.
    m_pTessIntegration = m_app.GetTessIntegration();
    if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration)) {
        kit->AttachMainFrame(this, m_pConnection.get(), true);
    }
    m_pConnection->SetSerialOutSink(m_serialOutSink.get());
    m_pLumora = std::make_unique<CLumoraRemote>();
    m_pLumora->SetCommunicationObject(m_pConnection.get());
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
    if (!m_pRemoteSetMgr->CreateManager(m_pConnection.get())) {
        LUMO_TRACE(1, "CMainFrame::PostCreate() the settings-profile store is missing: remote settings cannot be sent");
    }

    DoActivate(TRUE);
    if (m_netInUse != 0) {
        m_pLcdPanel->setVisible(true);
        ConnectToInternet();
    }
    m_keepAlive = std::make_unique<CKeepAliveThread>(*m_pConnection, Hwnd(), m_app.Services().keepAlivePeriodMs);
    m_keepAlive->Start();
    m_autoConnect = m_app.CFlag() != FALSE;
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
    if (on) {
        m_quietPasses = 0;
        m_timerPeriodMs = kMainTimerPeriodMs;
        platform::SetTimer(Hwnd(), kMainTimerId, kMainTimerPeriodMs);
    } else {
        platform::KillTimer(Hwnd(), kMainTimerId);
    }
    m_timerActive = on != FALSE;
    setEnabled(on != FALSE);
    return TRUE;
}

void CMainFrame::MainTimerProc(platform::UINT_PTR id) {
    if (m_timerOutstanding) {
        LUMO_TRACE(1, "MainTimerProc() TimerOutstanding");
        return;
    }
    // In deep rest no message reached the frame since the last pass (one
    // would have woken the loop): the pass runs from the timer itself, without
    // the tick and the fence that two more turns of the event loop cost.
    if (id == kMainTimerId && m_timerPeriodMs == kDeepRestTimerPeriodMs && !m_dropQueuedTicks) {
        DoLoopProcess();
        return;
    }
    m_timerOutstanding = true;
    if (id == kMainTimerId && !platform::PostMessage(Hwnd(), kMsgMainTimerTick, kMainTimerId, 0)) {
        m_timerOutstanding = false;
    }
}

void CMainFrame::OnMainTimerTick() {
    // Ticks queued before this one are dropped until the fence comes back: the
    // queue delivers in order, so everything ahead of the fence was queued
    // before this pass began.
    if (m_dropQueuedTicks) return;
    m_dropQueuedTicks = true;
    platform::PostMessage(Hwnd(), kMsgTickFence, 0, 0);
    DoLoopProcess();
    m_timerOutstanding = false;
}

void CMainFrame::DoLoopProcess() {
    if (m_destroyed) return;
    platform::KillTimer(Hwnd(), kMainTimerId);
    if (m_passRunning) {
        UpdateCaption(false);
        UpdateStatus();
    } else {
        m_passRunning = true;
        ++m_loopPasses;
        if (m_firstPass) {
            m_firstPass = false;
            if (m_wndToolBar != nullptr) {
                removeToolBar(m_wndToolBar);
                m_wndToolBar->setParent(this, Qt::Tool);
                m_wndToolBar->move(50, 50);
                m_wndToolBar->hide();
            }
        }
        if (m_pAudComp != nullptr) m_pAudComp->ProcessVoice();
        CPacketConnection& link = *m_pConnection;
        m_lastRead = link.TimeToRead();
        ReactToRead(m_lastRead);
        if (m_video != nullptr) m_video->Step(link);
        m_videoMain->ProcessRemoteVideo();
        if (link.IsLinkUp() && link.CheckTimeOuts() == -2) {
            MakeDisconnect(kReasonNone, 0);
        }
        checkArmAckTimeout();

        const bool connected = link.IsConnected() != FALSE;
        if (!connected) m_newConnection = false;
        if (link.IsLinkUp() && connected && !m_newConnection) {
            m_newConnection = true;
            m_sendInfo = (m_settings.general.Flags[0] & 1) != 0;
            LUMO_TRACE(5, m_sendInfo ? "----- INFO WILL BE SENT ------" : "----- INFO WILL NOT BE SENT ------");
            m_statusShown = false;
            m_disconnectShown = false;
            m_cardSent = false;
            m_localHangUp = false;
            m_chatCapture->newConnection();
            // This station tells the peer who it is right after the hello.
            link.SendSiteInfo();
            logEntry(kLogConnect, "Connected to " + peerText());
            // The call's first ordinary pass (a file queued for it, the
            // remote window) follows at once.
            RunPassNow();
        } else {
            FileTransferStep();
            if (m_pRemoteSetMgr != nullptr) m_pRemoteSetMgr->UpdateTransferProgress();
            m_app.Windows().RemoteWindowStep(*this);
            if (!link.IsLinkUp() && m_autoConnect) {
                m_autoConnect = false;
                const std::string& target = !m_app.DValue().empty() ? m_app.DValue() : m_app.SValue();
                if (!target.empty()) AutoConnect(target);
            }
            if (link.IsLinkDown() && !m_closing) {
                LUMO_TRACE(5, "CMainFrame::DoLoopProcess() before call set listen On");
                SetListenOn(0);
            }
            UpdateCaption(false);
            UpdateStatus();
            if (connected) {
                m_connectionSeen = true;
            } else if (m_connectionSeen) {
                LUMO_TRACE(5, "ENTER %s", "CMainFrame::WriteRemoteStationDB()");
                LUMO_TRACE(5, "CMainFrame::WriteRemoteStationDB() Update the remote station %s DB",
                           fixed_text::Read(m_siteInfo + 256, 256).c_str());
                LUMO_TRACE(5, "LEAVE %s", "CMainFrame::WriteRemoteStationDB()");
                logEntry(kLogDisconnect, "Disconnected");
                // Tell the user once, unless this station hung up itself.
                if (m_localHangUp) {
                    platform::PostMessage(Hwnd(), kMsgDisconnectMessage, 0, 0);
                } else {
                    platform::PostMessageOwned(Hwnd(), kMsgDisconnectMessage, 0,
                                               std::make_unique<std::string>(peerText()));
                }
                InitializeSiteInfo();
                SnapshotIsRemove();
                m_connectionSeen = false;
            }
        }
        // A pass with nothing to do counts towards resting.
        const bool quiet = !m_woken && !LoopBusy();
        m_woken = false;
        m_quietPasses = quiet ? std::min(m_quietPasses + 1, kQuietPassesBeforeDeepRest) : 0;
        m_timerPeriodMs = m_quietPasses >= kQuietPassesBeforeDeepRest ? kDeepRestTimerPeriodMs
                          : m_quietPasses >= kQuietPassesBeforeRest   ? kRestTimerPeriodMs
                                                                      : kMainTimerPeriodMs;
        m_passRunning = false;
    }
    if (m_timerActive && !m_destroyed) platform::SetTimer(Hwnd(), kMainTimerId, m_timerPeriodMs);
    SendIAmAlive();
}

bool CMainFrame::LoopBusy() {
    CPacketConnection& link = *m_pConnection;
    if (m_waitForArmAck || link.IsConnecting() || (link.IsLinkUp() && !link.IsConnected())) return true;
    // Peeked at: the status getters hand a final state over once, to the pass.
    const LONG sending = link.GetFileSendStatus();
    const LONG receiving = link.GetFileReceiveStatus();
    return (sending >= 1 && sending <= 9) || receiving == REC_RECEIVING || receiving == REC_WAIT_USER ||
           receiving == REC_USER_DISCONNECTING;
}

void CMainFrame::WakeLoop() {
    m_woken = true;
    m_quietPasses = 0;
    if (m_timerPeriodMs == kMainTimerPeriodMs || m_passRunning || !m_timerActive || m_destroyed) return;
    m_timerPeriodMs = kMainTimerPeriodMs;
    platform::SetTimer(Hwnd(), kMainTimerId, kMainTimerPeriodMs);
}

void CMainFrame::ReactToRead(LONG read) {
    CPacketConnection& link = *m_pConnection;
    if (read == -3) {
        // A call came up: open the session with our hello.
        link.SendHello();
    } else if (read == -4 || read == -5) {
        if (!link.IsTargetNotConnected()) {
            LUMO_TRACE(5, "Disconnected: TimeToRead returned %ld (DLP)\n", static_cast<long>(read));
        }
        MakeDisconnect(kReasonNone, 0);
    }
}

void CMainFrame::OnLinkDataReady() {
    // Bytes arrived: the read part of the pass runs now, so a file block is
    // answered and the next one sent without waiting for the timer. Inside a
    // pass (a box it shows runs the loop) the pass itself reads them.
    if (m_destroyed || m_passRunning) return;
    m_passRunning = true;
    ReactToRead(m_pConnection->TimeToRead());
    m_passRunning = false;
    // A transfer that this read ended is seen by a pass (its history, its
    // window, the next file of the queue) now. The states are peeked at: the
    // status getters hand a final state over once, and it is the pass's.
    CPacketConnection& link = *m_pConnection;
    const LONG sent = link.GetFileSendStatus();
    const LONG received = link.GetFileReceiveStatus();
    if (sent == SEND_REFUSED || sent == SEND_CANCELLED || sent == SEND_FAILED || sent == SEND_STOPPED ||
        received == REC_COMPLETE || received == REC_STOPPED || received == REC_FAILED) {
        RunPassNow();
    }
}

void CMainFrame::RunPassNow() {
    if (m_destroyed) return;
    WakeLoop();
    // A tick like the timer's; ticks already queued are dropped behind its fence.
    platform::PostMessage(Hwnd(), kMsgMainTimerTick, kMainTimerId, 0);
}

void CMainFrame::DoIdleStep() {
    if (m_destroyed) return;
    const LONG read = m_pConnection->TimeToRead();
    if (read == -4 || read == -5) CleanupAfterDisconnect(TRUE);
    UpdateStatus();
    UpdateCaption(false);
}

void CMainFrame::CleanupAfterDisconnect(BOOL flag) {
    if (flag) {
        if (m_inet != nullptr) {
            m_inet->SetNotConnected(FALSE);
        } else {
            m_pConnection->SetNotConnected();
        }
        UpdateCaption(true);
    }
    m_settings.general.Flags[1] &= 1;
    m_statusShown = false;
    // The card was the connected site's.
    showHisCard("", "", "");
    // A recording ends with its call: its files are completed now.
    if (m_recording) OnCommand(ID_RECORD_STOP);
}

void CMainFrame::checkArmAckTimeout() {
    if (!m_waitForArmAck) return;
    // The site may never answer (an old site, a lost token): give the commands
    // back after the time-out instead of blocking them for the connection.
    if (static_cast<DWORD>(now() - m_armRequestMs) >= kArmAckTimeoutMs) {
        LUMO_TRACE(3, "CMainFrame::OnTogglePollTriggers() no acknowledgement from the site, arm/disarm enabled again");
        m_waitForArmAck = false;
        enableButton(ID_TOGGLE_ARM, m_pConnection->IsLinkUp() != FALSE);
    }
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
        m_statusShown = false;
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
    m_lastStatusMs = t;
    m_statusShown = true;
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
    if (link.IsConnected()) {
        // The line meter shows the file bytes per second in both directions,
        // read without disturbing the transfer's own rate intervals.
        ULONGLONG sent = 0, received = 0;
        DWORD sendMs = 0, receiveMs = 0;
        link.GetTransferProgress(0, sent, sendMs);
        link.GetTransferProgress(1, received, receiveMs);
        const ULONGLONG perSecond = static_cast<ULONGLONG>(TransferRate(sent, sendMs)) + TransferRate(received, receiveMs);
        m_pLcdPanel->SetLineRateMeter(static_cast<long>(std::min<ULONGLONG>(perSecond * 10, 0x7FFFFFFF)), 2000);
        UpdateCaption(true);
        m_pLcdPanel->ShowMarkA(gbIsSystemArmed ? 1 : 0);
        m_pLcdPanel->ShowMarkB(gbIsSystemArmed ? 0 : 1);
        // Peers of these versions do not take the arm and disarm tokens.
        bool oldPeer = false;
        if (const auto info = link.GetRemoteInfo(); info.has_value()) {
            const std::string text = fixed_text::Read(info->versionText, sizeof info->versionText);
            for (const char* v : {"4.8.4", "4.6.2", "4.1.9"}) {
                if (CCommon::FindStringNoCase(v, text) >= 0) oldPeer = true;
            }
        }
        enableButton(ID_TOGGLE_ARM, !m_waitForArmAck && m_siteArmed == 0 && !oldPeer);
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

void CMainFrame::SendIAmAlive() {
    const DWORD t = now();
    if (m_heartbeatStarted && static_cast<DWORD>(t - m_lastHeartbeatMs) <= kHeartbeatPeriodMs) return;
    // The first pass only starts the clock.
    const bool first = !m_heartbeatStarted;
    m_heartbeatStarted = true;
    m_lastHeartbeatMs = t;
    if (!first) NotifyShell(kHeartbeatAlive, Hwnd());
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
    m_videoMain->Attach(this, m_pConnection.get(), m_videoView.get(), m_pLumora.get(), m_pRemoteDB.get(), 0);
    const std::string snapshots = std::string(m_settings.general.HomeDir) + "/Snapshots";
    m_videoMain->SetSnapshotFolders(snapshots, snapshots);
    m_videoMain->VideoMgr().SetFrameSink(m_video.get());
    // The video window paints the recorder's split view: one split-view
    // object keeps the cycle and the panes for both.
    m_video->Attach();
    m_videoMain->VideoMgr().SetSplitView(m_video->Recorder().SplitView(), m_pRemoteDB.get());
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

void CMainFrame::logEntry(short eventId, const std::string& info) {
    if (logWrite == nullptr) return;
    const std::string user = fixed_text::Read(m_loginRecord.name, sizeof m_loginRecord.name);
    logWrite->AddEntryEx(nullptr, eventId, 0, user.c_str(), 0, info.c_str());
}

BOOL CMainFrame::MakeDisconnect(LONG reason, LONG listen) {
    LUMO_TRACE(3, "ENTER %s", "CMainFrame::MakeDisconnect");
    LUMO_TRACE(3, "CMainFrame::MakeDisconnect bType = %d", static_cast<int>(reason));
    CPacketConnection& link = *m_pConnection;
    if (link.IsLinkUp()) {
        switch (reason) {
        case kReasonNone:
            LUMO_TRACE(5, "CMainFrame::MakeDisconnect(0) No Message");
            break;
        case kReasonAskKeep:
            if (message(kReasonAskKeep, kMsgKindQuestion, "Disconnect from the site?") == kAnswerTimedOut) {
                return FALSE;
            }
            break;
        case kReasonAttendTimeout:
            if (message(kReasonAttendTimeout, kMsgKindInfo, "Nobody answered; the line will be closed.") !=
                kAnswerTimedOut) {
                return FALSE;
            }
            break;
        case kReasonSyncLost:
        case 61415:
        case 61416:
            message(static_cast<UINT>(reason), kMsgKindInfo, "The connection was lost.");
            break;
        default:
            if (message(kReasonAskDisconnect, kMsgKindQuestion, "Disconnect from the site?") == kAnswerTimedOut) {
                return FALSE;
            }
            listen = 1;
            break;
        }
    }
    m_bDisconnecting = true;
    if (link.IsLinkUp()) m_localHangUp = true;
    if (link.IsLinkUp() && link.IsTargetConnected()) link.SendDisconnect();
    SetListenOn(listen);
    m_bDisconnecting = false;
    LUMO_TRACE(3, "LEAVE %s", "CMainFrame::MakeDisconnect");
    return TRUE;
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

LONG CMainFrame::SetListenOn(LONG mode) {
    LUMO_TRACE(3, "ENTER %s", "CMainFrame::SetListenOn()");
    gbIsSystemArmed = 0;
    if (m_pAudComp != nullptr) m_pAudComp->StopVoiceCompressProcess();
    if (m_listenReentry) {
        LUMO_TRACE(5, "CMainFrame::SetListenOn() trying reenter exiting...");
        return 0;
    }
    m_listenReentry = true;
    m_waitForArmAck = false;
    if (m_pConnection->IsConnected()) InitializeSiteInfo();
    UpdateCaption(true);
    if (!m_closing) m_pConnection->SetListenOn(mode);
    m_listenReentry = false;
    LUMO_TRACE(3, "LEAVE %s", "CMainFrame::SetListenOn()");
    return 1;
}

BOOL CMainFrame::ConnectToInternet() {
    if (m_inet == nullptr) return FALSE;
    if (!m_inet->ConnectToLan()) {
        LUMO_TRACE(5, "CMainFrame::ConnectToInternet() %s", "the network cannot be opened");
        return FALSE;
    }
    return TRUE;
}

void CMainFrame::AutoConnect(const std::string& target) {
    if (m_netInUse != 0 && !ConnectToInternet()) return;
    if (LoginForCall()) {
        m_disconnectShown = false;
        const LONG r = m_pConnection->ConnectToRemote(target.c_str(), "");
        LUMO_TRACE(3, "m_Comms->ConnectToRemote() ret = %d", static_cast<int>(r));
    }
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

std::string CMainFrame::peerText() const {
    std::string text = m_inet != nullptr ? m_inet->GetPeerAddress() : m_pConnection->GetConnectInfoText();
    return text.empty() ? "a calling station" : text;
}

void CMainFrame::OnConnectConnect() {
    LUMO_TRACE(3, "ENTER %s", "CMainFrame::OnConnectConnect()");
    m_newConnection = false;
    CPacketConnection& link = *m_pConnection;
    if (link.IsConnecting()) {
        link.SetNotConnected();
    } else if (!link.HasSpeakerphone()) {
        if (m_netInUse == 0 || ConnectToInternet()) {
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
    if (LoginForCall()) {
        m_disconnectShown = false;
        const LONG r = link.ConnectToRemote(number != nullptr ? number : "", name != nullptr ? name : "");
        LUMO_TRACE(3, "m_Comms->ConnectToRemote() ret = %d", static_cast<int>(r));
    }
}

void CMainFrame::OnTogglePollTriggers() {
    if (m_waitForArmAck) return;
    LUMO_TRACE(5, "CMainFrame::OnTogglePollTriggers() gbWaitForArmDisarmAck = %ld gbIsSystemArmed = %ld \n", 0L,
               static_cast<long>(gbIsSystemArmed));
    if (gbIsSystemArmed) {
        m_pConnection->SendAcknowledgment(kTokDisablePollTriggers, TRUE);
        if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, 9, 0, "", 0, "");
    } else {
        m_pConnection->SendAcknowledgment(kTokEnablePollTriggers, TRUE);
        if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, 8, 0, "", 0, "");
    }
    m_armRequestMs = now();
    m_waitForArmAck = true;
    enableButton(ID_TOGGLE_ARM, false);
}

void CMainFrame::OnUserActionAck(WPARAM token) {
    switch (token) {
    case kTokEnablePollTriggers:
    case kTokDisablePollTriggers:
    case kTokDisarmAccepted:
        gbIsSystemArmed = token == kTokEnablePollTriggers ? 1 : 0;
        m_waitForArmAck = false;
        if (m_buttonRow != nullptr) m_buttonRow->SetArmFaces(gbIsSystemArmed != 0);
        enableButton(ID_TOGGLE_ARM, true);
        break;
    case kTokDisarmIgnored:
        // The site kept its triggers armed: the request is answered, the
        // button is given back for another try.
        LUMO_TRACE(3, "CMainFrame::OnUserActionAck() the site ignored the disarm request");
        m_waitForArmAck = false;
        enableButton(ID_TOGGLE_ARM, true);
        break;
    case kTokLockAck:
        m_siteLock = 1;
        break;
    case kTokUnlockAck:
        m_siteLock = 0;
        break;
    case kTokDisconnect:
        SetListenOn(0);
        break;
    default:
        LUMO_TRACE(5, "CMainFrame::OnUserActionAck token %u", static_cast<unsigned>(token));
        break;
    }
}

void CMainFrame::OnPeerVideoRequest(WPARAM token) {
    // The link has already stopped our frames on a close or a pause; the
    // frame's own-video switch follows a close, so the button says so.
    switch (token) {
    case ID_DSVD_CLOSEYOURVIDEO:
        m_myVideoPaused = false;
        break;
    case ID_DSVD_VIDEORPAUSE:
        m_myVideoPaused = true;
        break;
    case ID_DSVD_VIDEORRESUME:
        m_myVideoPaused = false;
        break;
    default:  // "<VIDEOPALETTE>": the pictures this program draws carry no palette
        break;
    }
    LUMO_TRACE(5, "CMainFrame::OnPeerVideoRequest() %s: own video %s", tokenName(static_cast<WORD>(token)),
               m_myVideoPaused ? "paused" : "not paused");
}

void CMainFrame::recomputeSiteArmed() {
    m_siteArmed = (m_cpEnabled && m_cpArmed && gbIsSystemArmed) ? 1 : 0;
    // The site-armed lamp.
    m_pLcdPanel->ShowMarkC(m_siteArmed);
    enableButton(ID_TOGGLE_ARM, m_siteArmed == 0 && m_pConnection->IsLinkUp());
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

BOOL CMainFrame::GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const {
    std::lock_guard lock(m_siteInfoLock);
    if (m_siteInfo[0] == 0 && m_siteInfo[256] == 0 && m_siteInfo[512] == 0) {
        std::memset(out, 0, sizeof out);
        return FALSE;
    }
    std::memcpy(out, m_siteInfo, sizeof out);
    return TRUE;
}

void CMainFrame::SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]) {
    std::lock_guard lock(m_siteInfoLock);
    std::memcpy(m_siteInfo, in, sizeof m_siteInfo);
    // Each of the three texts ends within its 256-byte field.
    m_siteInfo[255] = m_siteInfo[511] = m_siteInfo[767] = 0;
}

void CMainFrame::InitializeSiteInfo() {
    {
        std::lock_guard lock(m_siteInfoLock);
        std::memset(m_siteInfo, 0, sizeof m_siteInfo);
    }
    // The card window showed the connected site: it goes with the site's information.
    showHisCard("", "", "");
}

void CMainFrame::OnHardwareProfilesReceived(WPARAM) {
    tagHWProfile profile{};
    if (m_pRemoteDB != nullptr && m_pRemoteDB->GetHWProfiles(&profile, 0)) {
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

BOOL CMainFrame::SendFile(const std::string& path, const std::string& typeText) {
    const bool queued = m_app.Windows().SendFile(*this, path, typeText) ||
                        (m_panels != nullptr && m_panels->SendFile(path, typeText)) ||
                        m_pConnection->SetSendStatus(1, FileKindOfTypeText(typeText), path.c_str()) == 1;
    // The next pass takes the file and announces it.
    if (queued && m_pConnection->IsLinkUp()) RunPassNow();
    return queued ? TRUE : FALSE;
}

void CMainFrame::OnRemoteSettings() {
    if (m_pRemoteSetMgr == nullptr) return;
    CPacketConnection& link = *m_pConnection;
    setEnabled(false);
    bool go = true;
    if (link.IsAdminConnected() && gbIsSystemArmed != 0 && link.IsLinkUp() && link.IsConnected() &&
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

void CMainFrame::FileTransferStep() {
    CPacketConnection& link = *m_pConnection;
    if (!link.IsLinkUp() || !link.IsConnected()) return;
    link.ProcessSending();
    if (m_panels != nullptr && m_panels->TransferStep(m_lastRead)) {
        // The transfer window follows both directions.
        cardStepSend();
        CardStep();
        return;
    }
    std::string name;
    const LONG sent = link.GetSendStatus(nullptr, nullptr, nullptr, nullptr, &name);
    if (sent == 4 || sent == 6 || sent == 7 || sent == 8) {
        // The transfer ended: record it and make the link ready for the next file.
        m_lastSendResult = sent;
        LUMO_TRACE(3, "CMainFrame::FileTransferStep() %s ended with %ld", name.c_str(), static_cast<long>(sent));
        link.SetSendStatus(-1, 0, nullptr);
    }
    cardStepSend();
    CardStep();
    const LONG received = link.GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, &name);
    if (received == REC_COMPLETE) {
        std::string path;
        if (link.GetReceivedFileName(path)) {
            m_lastReceivedFile = path;
            LUMO_TRACE(3, "CMainFrame::FileTransferStep() received %s", path.c_str());
        }
    }
}

void CMainFrame::CardStep() {
    CPacketConnection& link = *m_pConnection;
    const WORD status = link.GetCardStatus(1);
    if ((status & (kCardReceived | kCardPictureReceived)) == 0) return;
    tagBusinessCard card{};
    link.GetRemoteCard(card);
    // The link names the picture by its received path; a bare name lies in
    // the receive folder.
    std::string picture = fixed_text::Read(card.picture, sizeof card.picture);
    if (!picture.empty() && picture.find('/') == std::string::npos) {
        picture = std::string(m_settings.caldrin.RecDir) + picture;
    }
    m_requests->SetReceivedFilePath(picture);
    m_requests->DisplayHisCard(status);
    if (status & kCardReceived) {
        // Filed after this pass: the address book may ask the operator, and
        // the loop must not wait for an answer.
        auto filed = std::make_unique<tagBusinessCard>(card);
        std::snprintf(filed->picture, sizeof filed->picture, "%s", picture.c_str());
        platform::PostMessageOwned(Hwnd(), kMsgFileCard, 0, std::move(filed));
        showHisCard(fixed_text::Read(card.name, sizeof card.name), fixed_text::Read(card.text2, sizeof card.text2),
                    fixed_text::Read(card.text3, sizeof card.text3));
    }
    m_settings.general.Flags[1] |= 4;
    const std::string name = fixed_text::Read(card.name, sizeof card.name);
    if (!name.empty()) {
        m_peerCardName = name;
        if (m_chat != nullptr) m_chat->UpdateTitle(name);
    }
    LUMO_TRACE(5, "CMainFrame::CardStep() card of %s received",
               fixed_text::Read(card.name, sizeof card.name).c_str());
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
    if (m_pTimeMsgBox == nullptr || m_destroyed) return;
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
    if (m_chat != nullptr) {
        m_pConnection->SetChatWindow(nullptr);
        m_app.Windows().CloseChat(*this);
        if (m_panels != nullptr) m_panels->CloseChat();
        m_chat = nullptr;
    }
    if (text == 0 && cause == 0) {
        LUMO_TRACE(3, "CMainFrame::OnDisconnectMessage No Message");
    } else if (!m_disconnectShown) {
        // The cause: the posted text, else the resource text of the cause's id.
        auto posted = platform::TakePostedData<std::string>(text);
        const std::string why = posted != nullptr ? *posted : UiString(static_cast<UINT>(cause));
        if (!why.empty()) {
            m_disconnectShown = true;
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

void CMainFrame::OnConnectDisconnectAttendedTimeout() {
    LUMO_TRACE(1, "ENTER %s", "CMainFrame::OnConnectDisconnectAttendedTimeout");
    CKcReg reg = ProductKey("General");
    DWORD unattended = 1;
    if (!reg.GetDword(nullptr, "UnattendedDisconnect", &unattended)) unattended = 1;
    if (unattended == 0) {
        LUMO_TRACE(3, "CMainFrame::OnConnectDisconnectAttendedTimeout automatic disconnect disabled");
        return;
    }
    if (!MakeDisconnect(kReasonAttendTimeout, 0)) {
        // Somebody answered: the site keeps the line.
        m_pConnection->SendAcknowledgment(kTokAttendTimeoutAnswered, TRUE);
    }
}

LRESULT CMainFrame::CancleFileReceiving() {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::CancleFileReceiving");
    const LONG agreed = m_pConnection->SetReceiveStatus(0, nullptr);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::CancleFileReceiving");
    return agreed == 1 ? 0 : 1;
}

void CMainFrame::OnOpenChat(ChatOpener opener) {
    if (m_chat == nullptr || m_chat == m_chatCapture.get()) {
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
        m_chat = m_chatCapture.get();
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
}

std::string CMainFrame::ChatCapturePath() const {
    const char* path = m_settings.general.Chat.capturePath;
    if (path[0] != '\0') return path;
    std::string folder = m_settings.caldrin.RecDir;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + "chat.txt";
}

void CMainFrame::OnCommand(WPARAM id) {
    CPacketConnection& link = *m_pConnection;
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
    switch (id) {
    case ID_CONNECT_CONNECT:
        OnConnectConnect();
        break;
    case ID_CONNECT_DISCONNECT:
        LUMO_TRACE(3, "ENTER %s", "CMainFrame::OnConnectDisconnect()");
        MakeDisconnect(kReasonAskDisconnect, 0);
        break;
    case ID_LISTEN:
        SetListenOn(0);
        break;
    case ID_OPEN_CHAT:
        OnOpenChat(ChatOpener::User);
        break;
    case ID_FILE_TRANSFER:
        if (!m_app.Windows().OpenFileTransfer(*this) && m_panels->OpenFileTransfer() == nullptr) {
            notAvailable("The file transfer window");
        }
        break;
    case ID_OPEN_DEBRIEF:
        if (Login(1) && !m_app.Windows().OpenEventExplorer(*this)) notAvailable("The event explorer");
        break;
    case ID_OPTIONS:
        if (Login(1) && !m_app.Windows().ShowOptions(*this, 0)) ShowOptions(0);
        break;
    case ID_OPTIONS_PAGE4:
        // Page 4 is the storage page.
        if (!m_app.Windows().ShowOptions(*this, 4)) ShowOptions(3);
        break;
    case ID_SETUP_WIZARD:
        if (!m_app.Windows().RunSetupWizard(*this)) RunSetupWizard();
        break;
    case ID_REMOTE_SETTINGS:
        OnRemoteSettings();
        break;
    case ID_TOGGLE_ARM:
        OnTogglePollTriggers();
        break;
    case ID_APP_EXIT_CMD:
        OnClose();
        break;
    case ID_DIAL_40:
        if (link.ConnectToRemote("40", "") == 512) link.ConnectToRemote("40", "");
        break;
    case ID_APP_ABOUT: {
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
        break;
    }
    case ID_RESTART_VIDEO:
    case ID_DISPLAY_ON:
    case ID_FULL_SCREEN:
        OpenVideoDisplay();
        break;
    case ID_DISPLAY_OFF:
        m_videoMain->ShowRemoteWindow(FALSE);
        break;
    case ID_SITE_BOOK:
        if (!m_app.Windows().OpenSiteBook(*this)) OpenSiteBook();
        break;
    case ID_COLLAPSE:
    case ID_EXPAND: {
        const bool expand = id == ID_EXPAND;
        if ((m_settings.screen.expanded != 0) == expand) break;
        setButtonShown(ID_COLLAPSE, expand);
        setButtonShown(ID_EXPAND, !expand);
        m_settings.screen.expanded = expand ? 1 : 0;
        m_localImage->setVisible(expand);
        m_hisCard->setVisible(expand && m_hisCardHeld);
        resize(width(), std::max(0, height() + (expand ? 272 : -272)));
        UpdateCaption(true);
        break;
    }
    case ID_ADDRESS_BOOK: {
        CAddrBookFile book;
        openAddressBook(book);
        book.ShowDialog(this, nullptr, nullptr);
        break;
    }
    case ID_SEND_SITE_INFO:
        OnSendSiteInfo();
        break;
    case ID_HOLD_CALL:
        ToggleHold();
        break;
    case ID_CALL_STORED:
        if (m_inet != nullptr) {
            OnConnectConnect();
        } else if (!link.IsLinkUp() && m_settings.comms.NumbersDialed[0][0] != '\0') {
            const std::string number = fixed_text::Read(m_settings.comms.NumbersDialed[0], 32);
            if (link.ConnectToRemote(number.c_str(), "") == 512) link.ConnectToRemote(number.c_str(), "");
        }
        break;
    case ID_STATISTICS:
        m_panels->ShowStatistics();
        break;
    case ID_LINK_REQUEST:
        if (link.IsLinkUp()) LUMO_TRACE(3, "CMainFrame: link request %u", static_cast<unsigned>(id));
        break;
    case ID_USERS:
        if (Login(1)) {
            if (CUsersManager* users = m_app.UsersManager()) users->DoUsersDialog();
        }
        break;
    case ID_RECORD_START:
        OnMovieRecordStart();
        break;
    case ID_RECORD_STOP:
        m_recording = false;
        if (m_video != nullptr) m_video->SetRecordingStatus(FALSE, 1);
        if (m_pAudComp != nullptr) m_pAudComp->StopAudioRecording(0);
        break;
    case ID_UNLOCK_SITE:
        link.SendAcknowledgment(kTokUnlockServer, TRUE);
        break;
    case ID_LOCK_SITE:
        link.SendAcknowledgment(kTokLockServer, TRUE);
        break;
    case ID_UPGRADE_SITE:
        if (Login(1) && message(kStrUpgradeSite, kMsgKindInfo, "Upgrade the site?") == kAnswerYes) {
            link.SendAcknowledgment(kTokUpgradeVersion, TRUE);
        }
        break;
    case ID_GET_LOG_FILES:
        link.SendAcknowledgment(kTokGetLogFiles, TRUE);
        break;
    case ID_HELP:
        OnHelp();
        break;
    case ID_TALK:
        OnAudioOutToggle();
        break;
    case ID_ARM:
    case ID_DISARM:
        OnTogglePollTriggers();
        break;
    case ID_CHRONVIEW:
        OnChronview();
        break;
    case ID_DEBRIEF_BUTTON:
        OnCommand(ID_OPEN_DEBRIEF);
        break;
    case ID_PHONE:
    case 32796:
    case 32840:
    case 29129:
    case 32860:
    case 32876:
    case 32877:
    case 32872:
        break;
    default:
        LUMO_TRACE(5, "CMainFrame::OnCommand %u: no action", static_cast<unsigned>(id));
        break;
    }
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
        ui.checked = m_siteLock != 0;
        break;
    case ID_LOCK_SITE:
        ui.enabled = connected;
        break;
    case ID_UPGRADE_SITE:
        ui.enabled = false;
        break;
    case ID_TOGGLE_ARM:
        ui.enabled = connected && !m_waitForArmAck && m_siteArmed == 0;
        break;
    case ID_ARM:
    case ID_DISARM:
        ui.enabled = connected && !m_waitForArmAck && (gbIsSystemArmed != 0) == (id == ID_DISARM) &&
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

void CMainFrame::OnSendSiteInfo() {
    tagBusinessCard card{};
    static_assert(sizeof card == kBusinessCardBytes);
    std::memcpy(&card, m_settings.general.BusinessCard, sizeof card);
    card.name[sizeof card.name - 1] = '\0';
    card.text2[sizeof card.text2 - 1] = '\0';
    card.text3[sizeof card.text3 - 1] = '\0';
    card.picture[sizeof card.picture - 1] = '\0';
    CPacketConnection& link = *m_pConnection;
    if (card.name[0] != '\0') link.SendMyCard(&card);
    if (card.picture[0] != '\0') {
        const LONG state = link.GetSendStatus(nullptr, nullptr, nullptr, nullptr, nullptr);
        if ((state == 1 || state == 3 || state <= 0) && SendFile(card.picture, "Site Information")) return;
        // Another file is on its way: the picture follows later.
        m_settings.general.Flags[1] |= 2;
    }
}

void CMainFrame::cardStepSend() {
    // This station's card goes to the peer once per connection, when the
    // General switch asks for it.
    if (!m_sendInfo || m_cardSent) return;
    m_sendInfo = false;
    m_cardSent = true;
    OnSendSiteInfo();
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Every message but the loop's own ticks, and the status reports that the
    // link answers the pass's own questions with, may bring work for the pass.
    if (msg != kMsgMainTimerTick && msg != kMsgTickFence && msg != kMsgCommMessage &&
        !(msg == platform::WM_TIMER && wParam == kMainTimerId)) {
        WakeLoop();
    }
    // The connected station's requests and replies first.
    if (LRESULT handled = 0; msg != WM_COMMAND && m_requests != nullptr && !m_destroyed &&
                             m_requests->Handle(msg, wParam, lParam, handled)) {
        return handled;
    }
    switch (msg) {
    case platform::WM_TIMER:
        MainTimerProc(wParam);
        return 0;
    case kMsgMainTimerTick:
        OnMainTimerTick();
        return 0;
    case kMsgTickFence:
        m_dropQueuedTicks = false;
        return 0;
    case kMsgLinkDataReady:
        OnLinkDataReady();
        return 0;
    case kMsgPostCreate:
        PostCreate();
        return 0;
    case WM_COMMAND:
        // The link asks for the chat window when the peer's text arrives.
        if ((wParam & 0xFFFF) == ID_OPEN_CHAT && lParam == kOpenChatForPeerText) {
            OnOpenChat(ChatOpener::Peer);
        } else if ((wParam & 0xFFFF) == ID_HOLD_CALL && (lParam == kHoldCallWantedOn || lParam == kHoldCallWantedOff)) {
            // The state asked for, whatever other requests came before this one arrived.
            SetHold(lParam == kHoldCallWantedOn);
        } else {
            OnCommand(wParam & 0xFFFF);
        }
        return 0;
    case kMsgFileCard:
        if (auto card = platform::TakePostedData<tagBusinessCard>(lParam)) {
            CAddrBookFile book;
            openAddressBook(book);
            book.AddReceivedCard(this, *card);
        }
        return 0;
    case kMsgChatCaptured: {
        const std::string format = UiString(kStrChatCaptured, "Chat text from the site is kept in %s.");
        char text[1024];
        std::snprintf(text, sizeof text, format.c_str(), ChatCapturePath().c_str());
        m_lastNotice = text;
        ShowTimedMessage(text, m_app.Title(), m_settings.general.TimeOutForMesageBoxesMS);
        return 0;
    }
    case platform::WM_CLOSE:
        OnClose();
        return 0;
    case kMsgSyncLost:
        LUMO_TRACE(5, "CMainFrame::OnDisconnectSyncLost call MakeDisconnect");
        MakeDisconnect(kReasonSyncLost, 0);
        return 0;
    case kMsgMakeDisconnect:
        MakeDisconnect(static_cast<LONG>(lParam), 0);
        return 0;
    case kMsgTessArm:
        if (gbIsSystemArmed == 0) OnTogglePollTriggers();
        return 0;
    case kMsgTessDisarm:
        if (gbIsSystemArmed == 1) OnTogglePollTriggers();
        return 0;
    case kMsgIsSysArm:
        if (lParam == 0) return 1;
        *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(gbIsSystemArmed);
        return 0;
    case kMsgUserActionAck:
        OnUserActionAck(wParam);
        return 0;
    case kMsgUserActionRej:
        LUMO_TRACE(3, "CMainFrame::OnUserActionRej token %u", static_cast<unsigned>(wParam));
        return 0;
    case kMsgPeerVideoRequest:
        OnPeerVideoRequest(wParam);
        return 0;
    case kMsgCpEnabled:
    case kMsgCpDisabled:
        m_cpEnabled = msg == kMsgCpEnabled;
        recomputeSiteArmed();
        return 0;
    case kMsgCpArmed:
    case kMsgCpDisarmed:
        m_cpArmed = msg == kMsgCpArmed;
        recomputeSiteArmed();
        return 0;
    case kMsgShowHideUi:
        m_uiHidden = static_cast<int>(wParam);
        if (m_app.Services().showWindows) setVisible(wParam == 0);
        return 0;
    case kMsgChildClosed:
        if (wParam == 2 && ((static_cast<DWORD>(lParam) >> 16) & 0xFFFF) == kChildFileTransfer) {
            m_panels->TransferWindowClosed();
        }
        if (wParam == 2 && m_views != nullptr) m_views->OnChildClosed(lParam);
        if (wParam == 2 && ((static_cast<DWORD>(lParam) >> 16) & 0xFFFF) == kChildChat) {
            m_pConnection->SetChatWindow(nullptr);
            m_app.Windows().CloseChat(*this);
            if (m_panels != nullptr) m_panels->CloseChat();
            m_chat = nullptr;
        }
        return 0;
    case kMsgSiteBookConnect:
        if (auto station = platform::TakePostedData<SiteBookStation>(lParam)) {
            OnTVN_DoConnect(station->name.c_str(), station->number.c_str());
        }
        return 0;
    case kMsgTessDisconnect:
        OnTessDisconnect(wParam);
        return 0;
    case kMsgDisconnectMessage:
        OnDisconnectMessage(wParam, lParam);
        return 0;

    case kMsgAttendedTimeout:
        OnConnectDisconnectAttendedTimeout();
        return 0;
    case kMsgCancelFileReceive:
        return CancleFileReceiving();
    case kMsgRemoteProfiles:
        OnHardwareProfilesReceived(wParam);
        return 0;
    case kMsgDataLamp:
        m_pLcdPanel->ShowDataLamp(static_cast<int>(lParam), 3000);
        return 0;
    case kMsgHostDataLamp:
        m_pLcdPanel->ShowDataLamp(static_cast<int>(wParam), static_cast<DWORD>(lParam));
        return 0;
    case kMsgHostNotice:
        showTimedString(static_cast<UINT>(wParam));
        return 0;
    case kMsgSerialOutMessage:
        if (auto bytes = platform::TakePostedData<std::vector<BYTE>>(lParam); bytes != nullptr) {
            serialOutMessage(bytes->data(), static_cast<DWORD>(bytes->size()));
        }
        return 0;
    case kMsgDeleteObject:
        platform::TakePostedData<PostedObject>(lParam).reset();
        return 1;
    case kMsgCommMessage:
        m_statusShown = false;
        return 1;
    case kMsgActivate:
        DoActivate(static_cast<BOOL>(wParam));
        return 0;
    case kMsgQueueFile:
        if (auto path = platform::TakePostedData<std::string>(lParam); path != nullptr) SendFile(*path, "");
        return 1;
    case kMsgLinkSend:
        if (auto bytes = platform::TakePostedData<std::vector<BYTE>>(lParam);
            bytes != nullptr && !bytes->empty() && m_pConnection->IsLinkUp()) {
            m_pConnection->ConnectWrite(bytes->data(), static_cast<DWORD>(bytes->size()), 0, 2);
        }
        return 1;
    case kMsgDataLamp3000:
        m_pLcdPanel->ShowDataLamp(1, 3000);
        return 1;
    case kMsgLineRing:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyLineRing(0, "");
        PlayEventSound(2);
        return 0;
    case kMsgLineConnected:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyLineConnected(0, "");
        return 0;
    case kMsgUnlockSite:
        m_pConnection->SendAcknowledgment(kTokUnlockServer, TRUE);
        return 0;
    case kMsgLockSite:
        m_pConnection->SendAcknowledgment(kTokLockServer, TRUE);
        return 0;
    case kMsgTrayIcon:
        if (lParam == 514) {
            // The notification-area menu: the menu bar's first menu, at the cursor.
            if (QMenu* first = menuBar()->findChild<QMenu*>()) first->popup(QCursor::pos());
            platform::PostMessage(Hwnd(), 0, 0, 0);
            return 1;
        }
        return 0;
    case kMsgProfilesWeCalled:
        onConnectionStarted(wParam);
        return 1;
    case kMsgVideoStreaming:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyVideoIsStreaming();
        return 0;
    case kMsgPointerActivity:
        m_pointerActivity = 1;
        return 0;
    case kMsgDebriefStart:
        // The event player is not here yet; the record goes with the message.
        LUMO_TRACE(3, "CMainFrame: message 0x%X for the event player not served", msg);
        return 0;
    case kMsgVideoWindowRecord:
        if (auto record = platform::TakePostedData<VideoWindowRecord>(lParam); record != nullptr && m_videoMain) {
            m_videoMain->SetVideoWindowRecord(record->hwnd,
                                              RECT{record->left, record->top, record->right, record->bottom});
        }
        return 0;
    case kMsgSetQuality:
        SetQuality(wParam);
        return 0;
    case kMsgFileOfferConfirmed:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyFileStarted();
        return 0;
    case kMsgListDownloadStarted:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyListDownloadStarted();
        return 0;
    case kMsgEventDownloadStarted:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyEventDownloadStarted();
        return 0;
    case kMsgRecModeCyclic:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyEventModeChanged(0);
        m_recordMode = 1;
        LUMO_TRACE(5, "CMainFrame::OnAckRecModeCyc %d", 1);
        m_pLcdPanel->ShowMarkD(0);
        m_pLcdPanel->ShowMarkE(0);
        return 0;
    case kMsgRecordModeFixed:
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyEventModeChanged(1);
        m_recordMode = 2;
        LUMO_TRACE(5, "CMainFrame::OnAckRecModeFix %d", 2);
        m_pLcdPanel->ShowMarkD(1);
        return 0;
    case kMsgMemoryFull:
        m_pLcdPanel->ShowMarkE(1);
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyFullEvents();
        return 0;
    case kMsgMemoryFree:
        m_pLcdPanel->ShowMarkE(0);
        LUMO_TRACE(5, "CMainFrame::OnAckRecBufFree %d", m_recordMode);
        if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyMemoryFree();
        return 0;
    case kMsgHelpKey:
        OnHelp();
        return 0;
    case kMsgUserNotice:
        if (auto text = platform::TakePostedData<std::string>(lParam)) ShowLinkNotice(*text);
        return 0;
    case kMsgNotificationShown:
        LUMO_TRACE(5, "CMainFrame: the peer's notice was shown");
        return 0;
    case kMsgSendLamp:
        m_pLcdPanel->SetSendLamp(static_cast<int>(lParam), 200);
        return 0;
    case kMsgFileReceivedKind3:
        if (m_pRemoteSetMgr != nullptr) m_pRemoteSetMgr->OnReceivedSettings();
        return 0;
    case kMsgFileReceivedKind4:
        if (m_pRemoteSetMgr != nullptr) m_pRemoteSetMgr->OnReceivedSysSettings();
        return 0;
    case kMsgFinishUpgrade:
        if (m_pRemoteSetMgr != nullptr) m_pRemoteSetMgr->OnFinishUpgrade();
        return 0;
    case kMsgEventListRequest:
    case kMsgEventFileRequest:
    case kMsgSettingsError:
    case kMsgSettingsError2:
        // Its data goes with the message.
        LUMO_TRACE(3, "CMainFrame: request 0x%X from the site not served", msg);
        return 0;
    default:
        return 0;
    }
}

void CMainFrame::showTimedString(UINT stringId) {
    m_lastNotice = UiString(stringId);
    LUMO_TRACE(3, "CMainFrame: notice %u: %s", stringId, m_lastNotice.c_str());
    ShowTimedMessage(m_lastNotice, "", m_settings.general.TimeOutForMesageBoxesMS);
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

// The start of a connection's bookkeeping, once per connection.
void CMainFrame::onConnectionStarted(WPARAM value) {
    if (m_loggedStart) return;
    if (m_pTessIntegration != nullptr) m_pTessIntegration->NotifyAfterConnect(static_cast<DWORD>(value));
    tagHWProfile* profile = new tagHWProfile{};
    std::string station;
    if (m_pRemoteDB != nullptr && m_pRemoteDB->GetHWProfiles(profile, 0)) {
        station = fixed_text::Read(reinterpret_cast<const BYTE*>(profile) + 4, 30);
    }
    delete profile;
    if (station.empty()) station = peerText();
    logEntry(kLogConnect, "Connection with " + station);
    logEntry(kLogConnect, "Profiles of " + station + " received");
    m_loggedStart = true;
}

bool CMainFrame::deleteFiles(const std::string& folder, std::initializer_list<const char*> names, const char* who,
                             const char* keep) {
    bool all = true;
    for (const char* name : names) {
        const std::string path = folder + name;
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) continue;
        if (!std::filesystem::remove(path, ec) || ec) {
            all = false;
            std::string cause;
            GetFileExceptionText(ec.value() == EACCES || ec.value() == EPERM ? 5 : 1, &cause);
            LUMO_TRACE(5, "%s CFileException::m_cause = %s File=%s", who, cause.c_str(), path.c_str());
            if (keep == nullptr || std::strcmp(name, keep) != 0) LUMO_TRACE(5, "%s DISCARDED", path.c_str());
        }
    }
    return all;
}

void CMainFrame::SnapshotIsRemove() {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::SnapshotIsRemove()");
    if ((m_settings.general.Flags[0] & 1) != 0) {
        const std::string folder = std::string(m_settings.general.HomeDir) + "/Snapshots";
        deleteFiles(folder,
                    {"/QbSnap.bmp", "/QbSnap.JPG", "/DOAEvent.TRG", "/HDSnap.bmp", "/HDSnap.JPG", "/HDEvent.TRG"},
                    "CMainFrame::SnapshotIsRemove()", "/DOAEvent.TRG");
    }
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::SnapshotIsRemove()");
}

void CMainFrame::RemoveRemoteSnap(const std::string& receivedPath) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::RemoveRemoteSnap()");
    const std::string folder = std::filesystem::path(receivedPath).parent_path().string();
    deleteFiles(folder, {"/QbSnap.bmp", "/QbSnap.JPG"}, "CMainFrame::RemoveRemoteSnap()", nullptr);
    deleteFiles(folder, {"/HDSnap.bmp", "/HDSnap.JPG"}, "CMainFrame::RemoveRemoteSnap()", nullptr);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::RemoveRemoteSnap()");
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

void CMainFrame::SetQuality(WPARAM quality) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::SetQuality");
    LUMO_TRACE(5, "CMainFrame::SetQuality Quality %d", static_cast<int>(quality));
    // The video main window takes it; it is not here yet.
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::SetQuality");
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
        link.SendAcknowledgment(36, TRUE);
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

void CMainFrame::OnTessDisconnect(WPARAM reason) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnTessDisconnect");
    MakeDisconnect(static_cast<LONG>(reason), 1);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnTessDisconnect");
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
    CPacketConnection& link = *m_pConnection;
    const bool ask = !m_closeWithoutAsking;
    if (!m_pendingClose) {
        if (ask && !Login(1)) return;
        if (m_bDisconnecting) {
            LUMO_TRACE(3, "CMainFrame::OnClose() m_bDisconnecting = TRUE");
            if (ask) return;
            platform::PostMessage(Hwnd(), platform::WM_CLOSE, 0, 0);  // once that is done
            return;
        }
        if (!MakeDisconnect(ask ? kReasonAskDisconnect : kReasonNone, 0)) return;
        m_pendingClose = true;
        m_closing = true;
        if (m_inet != nullptr) {
            m_inet->SetNotConnected(TRUE);
            m_inet->StopListening();
        } else {
            link.SetNotConnected();
        }
    }
    if (link.IsTargetNotConnected() && link.IsLinkDown()) {
        LUMO_TRACE(3, " Calling CMainFrame::OnClose()");
        destroyWindow();
        return;
    }
    if (!link.IsTargetConnected()) {
        link.TimeToRead();
    } else {
        LUMO_TRACE(3, "CMainFrame::OnClose() call MakeDisconnect");
        if (!MakeDisconnect(ask ? kReasonAskKeep : kReasonNone, 0)) {
            m_pendingClose = false;
            m_closing = false;
            LUMO_TRACE(3, "CMainFrame::OnClose() Login() Failed!!! MakeDisconnect() Failed!!! Do Not Close\n");
            return;
        }
    }
    if (!link.IsLinkDown()) UpdateCaption(false);
    platform::PostMessage(Hwnd(), platform::WM_CLOSE, 0, 0);
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
    // The kit hears that the frame goes, then lets go of it.
    if (m_pTessIntegration != nullptr) {
        m_pTessIntegration->NotifyAuthorizationError(0, 0, "");
        if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration)) {
            kit->AttachMainFrame(nullptr, nullptr, false);
        }
        m_pTessIntegration = nullptr;
    }
    m_dde.reset();
    m_pConnection->SetSerialOutSink(nullptr);
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
    platform::KillTimer(Hwnd(), kMainTimerId);
    m_timerActive = false;
    if (m_keepAlive != nullptr) m_keepAlive->Close();
    if (m_inet != nullptr && m_inet->IsDialUpLinked()) m_inet->HangUpDialUp();
    if (m_chat != nullptr) {
        m_pConnection->SetChatWindow(nullptr);
        m_app.Windows().CloseChat(*this);
        if (m_panels != nullptr) m_panels->CloseChat();
        m_chat = nullptr;
    }
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
    {
        std::lock_guard lock(m_localProfileLock);
        m_pLocalDB.reset();
    }
    m_app.m_pRemoteDB = nullptr;
    m_pRemoteDB.reset();
    m_pTimeMsgBox.reset();
    // Tell the watchdog that the recorder is going down.
    NotifyShell(kHeartbeatDead, Hwnd());
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnDestroy");
}

}  // namespace trennick
