#include "trennick/app/main_frame.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "platform/local_bus.h"
#include "tavicore/db_lumo.h"
#include "tavicore/log_write.h"
#include "tavicore/product_key.h"
#include "tavicore/station_identity.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_time_msg_box.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/app/frame_messages.h"
#include "trennick/app/keep_alive.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/modem_link.h"
#include "trennick/app/remote_requests.h"
#include "trennick/clients/zo_serial_client.h"
#include "trennick/link/common_base.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/link/core_identity.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/inet_connection.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>

namespace trennick {

int gbIsSystemArmed = 0;

namespace {

ModemLinkFactory g_modemLinkFactory = nullptr;

// Copies a text field of a peer's record: at most `field` bytes are read,
// whether or not the field holds a terminator.
std::string fieldText(const void* field, std::size_t bytes) {
    const char* text = static_cast<const char*>(field);
    return std::string(text, strnlen(text, bytes));
}

void copyBounded(char* to, std::size_t size, const std::string& from) {
    if (size == 0) return;
    const std::size_t n = std::min(size - 1, from.size());
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

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
    std::string connectedStationName() override { return fieldText(m_frame.m_siteInfo + 256, 256); }
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
    bool thisStationGuid(std::string& guid) override {
        CUUIDdb ids;
        char text[kGuidTextBytes] = {};
        if (!ids.dbGUIDThisReadKey(text, sizeof text)) return false;
        guid = text;
        return true;
    }

private:
    CMainFrame& m_frame;
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

    LinkServices services;
    services.window = m_linkWindow.get();
    services.host = m_linkHost.get();
    services.identity = m_identity.get();
    if (m_app.Services().clock) services.clock = m_app.Services().clock;
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
        QCoreApplication::exit(0);
        return FALSE;
    }
    return TRUE;
}

void CMainFrame::buildWidgets() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    auto* row = new QHBoxLayout();
    struct ButtonSpec {
        WPARAM id;
        const char* text;
    };
    const ButtonSpec specs[] = {
        {ID_CONNECT_CONNECT, "Connect"}, {ID_CONNECT_DISCONNECT, "Disconnect"}, {ID_FILE_TRANSFER, "Files"},
        {ID_OPEN_CHAT, "Chat"}, {ID_OPTIONS, "Options"}, {ID_TOGGLE_ARM, "Arm"}, {ID_OPEN_DEBRIEF, "Events"},
    };
    for (const auto& s : specs) {
        auto* button = new QPushButton(QString::fromLatin1(s.text), central);
        UiSetControlId(button, static_cast<int>(s.id));
        const WPARAM id = s.id;
        QObject::connect(button, &QPushButton::clicked, button, [this, id] { OnCommand(id); });
        row->addWidget(button);
        m_buttons[s.id] = button;
    }
    column->addLayout(row);
    m_status = UiSetControlId(new QLabel(central), 1277);
    column->addWidget(m_status);
    m_pLcdPanel = new CLcdPanel(central);
    m_pLcdPanel->SetClock([this] { return now(); });
    m_pLcdPanel->setVisible(false);
    column->addWidget(m_pLcdPanel);
    setCentralWidget(central);
    m_buttons[ID_CONNECT_DISCONNECT]->setEnabled(false);
}

int CMainFrame::OnCreate() {
    m_pTimeMsgBox = std::make_unique<CTimeMsgBox>();
    m_settings.ReadGenSettings();
    // This station's identity: its GUID, created at the first start.
    {
        CUUIDdb ids;
        char guid[kGuidTextBytes] = {};
        if (!ids.dbGUIDThisReadKey(guid, sizeof guid)) {
            if (ids.dbGUIDCreateKey(guid, sizeof guid)) ids.dbGUIDThisWriteKey(guid);
        }
        tagSiteInfo info{};
        if (!ids.dbGUIDThisReadInfo(&info)) {
            LUMO_TRACE(5, "CMainFrame::ReadGenSettings() uuidb.dbGUIDThisReadInfo() failed..\n");
        }
    }
    m_settings.ReadCommsSettings(m_netInUse);
    m_settings.ReadCaldrinSettings();
    m_settings.ReadVideoSettings();

    m_pRemoteDB = std::make_unique<CDBLumoRemote>();
    m_app.m_pRemoteDB = m_pRemoteDB.get();
    buildWidgets();
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
        }
    }
    m_pConnection->SetSerialVideoPort(gZoSerial);
    // Link set-up.
    CommsRecord& comms = m_settings.comms;
    if (m_inet != nullptr && m_netInUse != 0) {
        if (!m_inet->LinkDialUp() && comms.UseDialUp != 0) comms.UseDialUp = 0;
    }
    FillLinkComms(comms, m_linkComms);
    m_pConnection->SetCommsSettings(&m_linkComms);
    ApplyModemSettings(*m_pConnection, m_linkComms);
    m_pConnection->SetHelloRetry(comms.HelloTimeout, comms.HelloMaxTimeRetry);
    m_pConnection->SetChatWindow(nullptr);
    m_pConnection->SetReceiveFolders(m_settings.caldrin.RecDir, m_settings.caldrin.RecDir);
    if (m_inet != nullptr) m_inet->SetMaxReadQueueBytes(m_settings.general.MaxReadQ_Bytes);
    m_chat = nullptr;
    CLogWrite::SetMainWindow(Hwnd());

    DoActivate(TRUE);
    if (m_netInUse != 0) {
        m_pLcdPanel->setVisible(true);
        ConnectToInternet();
    }
    m_keepAlive = std::make_unique<CKeepAliveThread>(*m_pConnection, Hwnd(), m_app.Services().keepAlivePeriodMs);
    m_keepAlive->Start();
    m_autoConnect = m_app.CFlag() != FALSE;
    m_app.CloseLogoWindow();
    SetListenOn(0);
    m_postCreateDone = true;
}

BOOL CMainFrame::DoActivate(BOOL on) {
    LUMO_TRACE(3, "CMainFrame::DoActivate with %d", static_cast<int>(on));
    if (on) {
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
        CPacketConnection& link = *m_pConnection;
        const LONG read = link.TimeToRead();
        if (read == -3) {
            // A call came up: open the session with our hello.
            link.SendHello();
        } else if (read == -4 || read == -5) {
            if (!link.IsTargetNotConnected()) {
                LUMO_TRACE(5, "Disconnected: TimeToRead returned %ld (DLP)\n", static_cast<long>(read));
            }
            MakeDisconnect(kReasonNone, 0);
        }
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
            logEntry(kLogConnect, "Connected to " + peerText());
        } else {
            FileTransferStep();
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
                           fieldText(m_siteInfo + 256, 256).c_str());
                LUMO_TRACE(5, "LEAVE %s", "CMainFrame::WriteRemoteStationDB()");
                logEntry(kLogDisconnect, "Disconnected");
                InitializeSiteInfo();
                m_connectionSeen = false;
            }
        }
        m_passRunning = false;
    }
    if (m_timerActive && !m_destroyed) platform::SetTimer(Hwnd(), kMainTimerId, kMainTimerPeriodMs);
    SendIAmAlive();
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
}

void CMainFrame::checkArmAckTimeout() {
    if (!m_waitForArmAck) return;
    // The site may never answer (an old site, a lost token): give the commands
    // back after the time-out instead of blocking them for the connection.
    if (static_cast<DWORD>(now() - m_armRequestMs) >= kArmAckTimeoutMs) {
        LUMO_TRACE(3, "CMainFrame::OnTogglePollTriggers() no acknowledgement from the site, arm/disarm enabled again");
        m_waitForArmAck = false;
        if (auto it = m_buttons.find(ID_TOGGLE_ARM); it != m_buttons.end()) {
            it->second->setEnabled(m_pConnection->IsLinkUp() != FALSE);
        }
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
        m_status->setText(QString::fromStdString(text));
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
    auto enable = [&](WPARAM id, bool on) {
        if (auto it = m_buttons.find(id); it != m_buttons.end()) it->second->setEnabled(on);
    };
    enable(ID_CONNECT_CONNECT, !active);
    enable(ID_CONNECT_DISCONNECT, active);
    enable(ID_FILE_TRANSFER, up);
    enable(ID_OPEN_CHAT, up);
    enable(ID_OPTIONS, !(up || link.IsTargetConnected()));
    m_pLcdPanel->ShowLinkLamp(up ? 1 : 0);
    if (m_inet != nullptr) m_pLcdPanel->ShowNetConnectedLamp(link.IsConnected() ? 1 : 0);
    if (link.IsConnected()) {
        UpdateCaption(true);
        enable(ID_TOGGLE_ARM, !m_waitForArmAck && m_siteArmed == 0);
    } else {
        enable(ID_TOGGLE_ARM, false);
    }
}

void CMainFrame::SendIAmAlive() {
    const DWORD t = now();
    if (m_heartbeatStarted && static_cast<DWORD>(t - m_lastHeartbeatMs) <= kHeartbeatPeriodMs) return;
    m_heartbeatStarted = true;
    m_lastHeartbeatMs = t;
    const platform::HWND watchdog = platform::FindWindow("GANTREL-CLASS", nullptr);
    if (watchdog == 0) return;
    static const char kText[] = "IAMALIVE";
    platform::COPYDATASTRUCT data{0, sizeof kText, const_cast<char*>(kText)};
    platform::SendMessageTimeout(watchdog, platform::WM_COPYDATA, Hwnd(), reinterpret_cast<LPARAM>(&data),
                                 platform::SMTO_ABORTIFHUNG, 1000, nullptr);
}

int CMainFrame::message(UINT stringId, int kind, const std::string& fallback) {
    std::string text = UiString(stringId);
    if (text.empty()) text = fallback;
    return m_app.Ui().ShowMessage(text, m_app.Title(), kind);
}

void CMainFrame::notAvailable(const char* what) {
    char text[256];
    std::snprintf(text, sizeof text, kNotAvailableText, what);
    LUMO_TRACE(3, "CMainFrame: %s", text);
    m_app.Ui().ShowMessage(text, m_app.Title(), kMsgKindInfo);
}

void CMainFrame::logEntry(short eventId, const std::string& info) {
    if (logWrite == nullptr) return;
    const std::string user = fieldText(m_loginRecord.name, sizeof m_loginRecord.name);
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
        return true;
    }
    const std::string title = UiString(kStrLoginTitle, "Login");
    return users->DoLoginDialogIndirect(&m_loginRecord, title.c_str()) == 1;
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
                notAvailable("The site book");
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
    if (auto it = m_buttons.find(ID_TOGGLE_ARM); it != m_buttons.end()) it->second->setEnabled(false);
}

void CMainFrame::OnUserActionAck(WPARAM token) {
    switch (token) {
    case kTokEnablePollTriggers:
    case kTokDisablePollTriggers:
        gbIsSystemArmed = token == kTokEnablePollTriggers ? 1 : 0;
        m_waitForArmAck = false;
        if (auto it = m_buttons.find(ID_TOGGLE_ARM); it != m_buttons.end()) {
            it->second->setText(gbIsSystemArmed ? "Disarm" : "Arm");
            it->second->setEnabled(true);
        }
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

void CMainFrame::recomputeSiteArmed() {
    m_siteArmed = (m_cpEnabled && m_cpArmed && gbIsSystemArmed) ? 1 : 0;
    if (auto it = m_buttons.find(ID_TOGGLE_ARM); it != m_buttons.end()) {
        it->second->setEnabled(m_siteArmed == 0 && m_pConnection->IsLinkUp());
    }
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
            const std::string info = fieldText(old->versionText, sizeof old->versionText);
            for (const char* v : {"4.8.4", "4.6.2", "4.1.9"}) {
                if (CCommon::FindStringNoCase(v, info) >= 0) {
                    copyBounded(text, size, v);
                    break;
                }
            }
        }
    } else {
        const StationInfoBlock info = link.GetRemoteStationInfo();
        copyBounded(text, size, fieldText(info.versionText, sizeof info.versionText));
    }
    return *kind;
}

BOOL CMainFrame::GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const {
    if (m_siteInfo[0] == 0 && m_siteInfo[256] == 0 && m_siteInfo[512] == 0) {
        std::memset(out, 0, sizeof out);
        return FALSE;
    }
    std::memcpy(out, m_siteInfo, sizeof out);
    return TRUE;
}

void CMainFrame::SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]) {
    std::memcpy(m_siteInfo, in, sizeof m_siteInfo);
    // Each of the three texts ends within its 256-byte field.
    m_siteInfo[255] = m_siteInfo[511] = m_siteInfo[767] = 0;
}

void CMainFrame::InitializeSiteInfo() { std::memset(m_siteInfo, 0, sizeof m_siteInfo); }

void CMainFrame::OnHardwareProfilesReceived(WPARAM) {
    tagHWProfile profile{};
    if (m_pRemoteDB != nullptr && m_pRemoteDB->GetHWProfiles(&profile, 0)) {
        // The site name is a 30-byte field that need not end in a terminator.
        const std::string name = fieldText(reinterpret_cast<const BYTE*>(&profile) + 4, 30);
        setWindowTitle(QString::fromStdString(m_app.Title() + "-" + name));
    }
}

BOOL CMainFrame::SendFile(const std::string& path, const std::string& typeText) {
    if (m_app.Windows().SendFile(*this, path, typeText)) return TRUE;
    return m_pConnection->SetSendStatus(1, 0, path.c_str()) == 1 ? TRUE : FALSE;
}

void CMainFrame::FileTransferStep() {
    CPacketConnection& link = *m_pConnection;
    if (!link.IsLinkUp() || !link.IsConnected()) return;
    link.ProcessSending();
    std::string name;
    const LONG sent = link.GetSendStatus(nullptr, nullptr, nullptr, nullptr, &name);
    if (sent == 4 || sent == 6 || sent == 7 || sent == 8) {
        // The transfer ended: record it and make the link ready for the next file.
        m_lastSendResult = sent;
        LUMO_TRACE(3, "CMainFrame::FileTransferStep() %s ended with %ld", name.c_str(), static_cast<long>(sent));
        link.SetSendStatus(-1, 0, nullptr);
    }
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
    std::string picture = fieldText(card.picture, sizeof card.picture);
    if (!picture.empty() && picture.find('/') == std::string::npos) {
        picture = std::string(m_settings.caldrin.RecDir) + picture;
    }
    m_requests->SetReceivedFilePath(picture);
    m_requests->DisplayHisCard(status);
    LUMO_TRACE(5, "CMainFrame::CardStep() card of %s received",
               fieldText(card.name, sizeof card.name).c_str());
}

void CMainFrame::ShowTimedMessage(const std::string& text, const std::string& title, DWORD ms) {
    if (m_pTimeMsgBox == nullptr || m_destroyed) return;
    m_pTimeMsgBox->DisplayMessage(QString::fromStdString(text), QString::fromStdString(title), 0, ms);
}

void CMainFrame::OnDisconnectMessage(WPARAM, LPARAM text) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnDisconnectMessage");
    m_pConnection->UpdateVideoWindow();
    if (m_chat != nullptr) {
        m_pConnection->SetChatWindow(nullptr);
        m_app.Windows().CloseChat(*this);
        m_chat = nullptr;
    }
    if (text == 0) {
        LUMO_TRACE(3, "CMainFrame::OnDisconnectMessage No Message");
    } else if (auto why = platform::TakePostedData<std::string>(text); why != nullptr && !m_disconnectShown) {
        // The link's text says why.
        m_disconnectShown = true;
        m_app.Ui().ShowMessage(*why, m_app.Title(), kMsgKindInfo);
    }
    setWindowTitle(QString::fromStdString(m_strTitle));
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

void CMainFrame::OnOpenChat() {
    if (m_chat == nullptr) {
        m_chat = m_app.Windows().OpenChat(*this);
        if (m_chat == nullptr) {
            notAvailable("The chat window");
            return;
        }
        m_pConnection->SetChatWindow(m_chat);
    }
}

void CMainFrame::OnCommand(WPARAM id) {
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
        OnOpenChat();
        break;
    case ID_FILE_TRANSFER:
        if (!m_app.Windows().OpenFileTransfer(*this)) notAvailable("The file transfer window");
        break;
    case ID_OPEN_DEBRIEF:
        if (Login(1) && !m_app.Windows().OpenEventExplorer(*this)) notAvailable("The event explorer");
        break;
    case ID_OPTIONS:
        if (Login(1) && !m_app.Windows().ShowOptions(*this, 0)) notAvailable("The settings editor");
        break;
    case ID_OPTIONS_PAGE4:
        if (!m_app.Windows().ShowOptions(*this, 4)) notAvailable("The settings editor");
        break;
    case ID_SETUP_WIZARD:
        if (!m_app.Windows().RunSetupWizard(*this)) notAvailable("The setup wizard");
        break;
    case ID_TOGGLE_ARM:
        OnTogglePollTriggers();
        break;
    case ID_APP_EXIT_CMD:
        OnClose();
        break;
    case ID_DIAL_40:
        m_pConnection->ConnectToRemote("40", "");
        break;
    default:
        LUMO_TRACE(5, "CMainFrame::OnCommand %u: no action", static_cast<unsigned>(id));
        break;
    }
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
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
    case kMsgPostCreate:
        PostCreate();
        return 0;
    case WM_COMMAND:
        OnCommand(wParam & 0xFFFF);
        return 0;
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
        if (wParam == 2 && ((static_cast<DWORD>(lParam) >> 16) & 0xFFFF) == kChildChat) {
            m_app.Windows().CloseChat(*this);
            m_chat = nullptr;
            m_pConnection->SetChatWindow(nullptr);
        }
        return 0;
    case kMsgSiteBookConnect:
        if (auto station = platform::TakePostedData<SiteBookStation>(lParam)) {
            OnTVN_DoConnect(station->name.c_str(), station->number.c_str());
        }
        return 0;
    case kMsgTessDisconnect:
        MakeDisconnect(kReasonNone, 0);
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
    case kMsgSendLamp:
        m_pLcdPanel->SetSendLamp(static_cast<int>(lParam), 200);
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

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (!m_destroyed) OnClose();
}

void CMainFrame::OnClose() {
    if (m_destroyed) return;
    CPacketConnection& link = *m_pConnection;
    if (!m_pendingClose) {
        if (!Login(1)) return;
        if (m_bDisconnecting) {
            LUMO_TRACE(3, "CMainFrame::OnClose() m_bDisconnecting = TRUE");
            return;
        }
        if (!MakeDisconnect(kReasonAskDisconnect, 0)) return;
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
        if (!MakeDisconnect(kReasonAskKeep, 0)) {
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
    QCoreApplication::exit(0);
}

void CMainFrame::OnDestroy() {
    if (m_destroyed) return;
    m_destroyed = true;
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnDestroy");
    platform::KillTimer(Hwnd(), kMainTimerId);
    m_timerActive = false;
    if (m_keepAlive != nullptr) m_keepAlive->Close();
    if (m_inet != nullptr && m_inet->IsDialUpLinked()) m_inet->HangUpDialUp();
    if (m_chat != nullptr) {
        m_pConnection->SetChatWindow(nullptr);
        m_app.Windows().CloseChat(*this);
        m_chat = nullptr;
    }
    m_settings.screen.x = x();
    m_settings.screen.y = y();
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
    CLogWrite::SetMainWindow(0);
    m_app.m_pRemoteDB = nullptr;
    m_pRemoteDB.reset();
    m_pTimeMsgBox.reset();
    // Tell the watchdog that the recorder is going down.
    const platform::HWND watchdog = platform::FindWindow("GANTREL-CLASS", nullptr);
    if (watchdog != 0) {
        static const char kText[] = "IAMDEAD";
        platform::COPYDATASTRUCT data{0, sizeof kText, const_cast<char*>(kText)};
        platform::SendMessageTimeout(watchdog, platform::WM_COPYDATA, Hwnd(), reinterpret_cast<LPARAM>(&data),
                                     platform::SMTO_ABORTIFHUNG, 1000, nullptr);
    }
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnDestroy");
}

}  // namespace trennick
