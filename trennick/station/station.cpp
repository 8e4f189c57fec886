#include "trennick/station/station.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "platform/file_exception.h"
#include "tavicore/db_lumo.h"
#include "tavicore/log_write.h"
#include "tavicore/product_key.h"
#include "trennick/clients/video_out_net.h"
#include "trennick/link/cards.h"
#include "trennick/link/core_identity.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/window_link.h"
#include "trennick/net/inet_connection.h"
#include "trennick/net/inet_frame.h"
#include "trennick/station/keep_alive.h"
#include "trennick/station/modem_link.h"
#include "trennick/station/remote_requests.h"
#include "trennick/station/site_token.h"
#include "trennick/station/station_messages.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace trennick {

namespace {

ModemLinkFactory g_modemLinkFactory = nullptr;

constexpr short kLogConnect = 10;
constexpr short kLogDisconnect = 11;

}  // namespace

void SetModemLinkFactory(ModemLinkFactory factory) { g_modemLinkFactory = factory; }

// The station's private message window: every message goes to the station.
class Station::Window : public platform::MessageWindow {
public:
    explicit Window(Station& station) : m_station(station) { create(); }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        return m_station.dispatch(msg, wParam, lParam);
    }

private:
    Station& m_station;
};

// The station's data and services as the link asks for them. The link may
// call from a transport thread; the data it reads is written on the owner
// thread only before a call starts (the login record) or is copied whole.
class Station::LinkServicesHost : public LinkHost {
public:
    explicit LinkServicesHost(Station& station) : m_station(station) {}
    UserRecord loggedInUserRecord() override {
        UserRecord record{};
        static_assert(sizeof(_tag_user) == kUserRecordBytes);
        std::memcpy(record.data(), &m_station.m_loginRecord, record.size());
        return record;
    }
    void localStationData(BYTE (&data)[kStationDataBytes], BYTE& stationByte) override {
        const BYTE* card = m_station.m_settings.general.BusinessCard;
        std::memcpy(data, card, kStationDataBytes);
        stationByte = card[kStationDataBytes];
    }
    void setRemoteStationData(const BYTE (&data)[kStationDataBytes], BYTE stationByte, bool) override {
        std::memcpy(m_station.m_remoteStationData, data, kStationDataBytes);
        m_station.m_remoteStationByte = stationByte;
    }
    void recordRemoteSite(const SiteInfoBlock& site) override {
        BYTE block[kSiteInfoBytes];
        static_assert(sizeof(SiteInfoBlock) == kSiteInfoBytes);
        SiteInfoBlock copy = site;
        terminateTexts(copy);
        std::memcpy(block, &copy, sizeof block);
        m_station.SetSiteInfo(block);
    }
    void logAttendTimeout() override { m_station.LogEntry(45, "Attend time-out"); }
    // The connected station's identity as the station holds it: the station
    // directory's record and the folder of its received settings are named by it.
    bool remoteSiteInfo(SiteInfoBlock& site) override {
        BYTE block[kSiteInfoBytes];
        if (!m_station.GetSiteInfo(block)) return false;
        std::memcpy(&site, block, sizeof site);
        terminateTexts(site);
        return true;
    }
    // The settings database takes its own lock.
    void storeRemoteHWProfile(const tagHWProfile& profile) override {
        if (CDBLumoRemote* db = m_station.m_remoteDB.get()) db->UpdateHWProfiles(&profile, nullptr);
    }
    // The edit is applied on the owner thread (Station::editLocalProfile):
    // the link's pass that asks for it never waits for the settings.
    bool editLocalHWProfile(const std::function<bool(tagHWProfile&)>& edit) override {
        const platform::HWND hwnd = m_station.Hwnd();
        return !m_station.m_stopped && hwnd != 0 &&
               platform::PostMessageOwned(hwnd, kMsgLocalProfileEdit, 0, std::make_unique<LocalProfileEdit>(edit));
    }
    // Both may come from a transport's thread: the owner thread shows them.
    bool showTimedNotice(UINT stringId) override {
        const platform::HWND hwnd = m_station.Hwnd();
        return hwnd != 0 && platform::PostMessage(hwnd, kMsgHostNotice, stringId, 0);
    }
    void showDataLamp(int on, DWORD durationMs) override {
        if (const platform::HWND hwnd = m_station.Hwnd()) {
            platform::PostMessage(hwnd, kMsgHostDataLamp, static_cast<WPARAM>(on), static_cast<LPARAM>(durationMs));
        }
    }
    // The picture size at 12 and 16 (what a peer's remote window applies), the
    // rate on a call the peer placed and the quality of the Video group.
    bool mainVideoSettings(std::array<BYTE, 52>& record, int& frameRate, WORD& quality) override {
        const VideoRecord& video = m_station.m_settings.video;
        record.fill(0);
        std::memcpy(record.data() + 12, &video.rParam_imagewidth, 4);
        std::memcpy(record.data() + 16, &video.rParam_imageheight, 4);
        frameRate = static_cast<int>(video.DefaultRateOnDOA);
        quality = static_cast<WORD>(video.rParam_QQual);
        return true;
    }

private:
    Station& m_station;
};

// Serial-out messages the link received (the answers of the peer's serial-out
// device): copied and handed to the owner thread as kMsgSerialOutMessage.
class Station::SerialOutSink : public LinkSerialOutSink {
public:
    explicit SerialOutSink(Station& station) : m_station(station) {}
    void serialOutMessage(const BYTE* message, DWORD length) override {
        if (message == nullptr || length == 0) return;
        platform::PostMessageOwned(m_station.Hwnd(), kMsgSerialOutMessage, 0,
                                   std::make_unique<std::vector<BYTE>>(message, message + length));
    }

private:
    Station& m_station;
};

// Keeps the peer's chat text in the capture file while no chat window is
// open, and tells the owner once per connection. Called by the link on
// whatever thread reads it.
class Station::ChatCapture : public LinkChatWindow {
public:
    explicit ChatCapture(Station& station) : m_station(station) {}
    void chatText(std::string_view text) override {
        std::lock_guard lock(m_lock);
        std::ofstream out(m_station.ChatCapturePath(), std::ios::app | std::ios::binary);
        out << "<< " << text << "\r\n";
        if (!out) LUMO_TRACE(1, "Station: chat text could not be kept in %s", m_station.ChatCapturePath().c_str());
        if (!m_told) {
            m_told = true;
            platform::PostMessage(m_station.Hwnd(), kMsgChatCaptured, 0, 0);
        }
    }
    void UpdateTitle(std::string_view) override {}
    void newConnection() {
        std::lock_guard lock(m_lock);
        m_told = false;
    }

private:
    Station& m_station;
    std::mutex m_lock;
    bool m_told = false;
};

namespace {
class StationInetHooks : public InetFrameHooks {
public:
    void showConnectionWindow() override { LUMO_TRACE(5, "Station: incoming call accepted"); }
};
}  // namespace

Station::Station(StationConfig config) : m_config(std::move(config)), m_netInUse(m_config.netInUse) {
    m_window = std::make_unique<Window>(*this);
    m_loop = std::make_unique<StationLoop>(m_window->hwnd(), [this] { return Now(); },
                                           StationLoop::Steps{[this] { runPass(); }, [this] { m_host->refresh(false); },
                                                              [this] { return loopBusy(); }});
    m_linkWindow = std::make_unique<MessageWindowLink>(m_window->hwnd());
    m_linkHost = std::make_unique<LinkServicesHost>(*this);
    m_inetHooks = std::make_unique<StationInetHooks>();
    m_identity = std::make_unique<CoreLinkIdentity>();
    m_serialOutSink = std::make_unique<SerialOutSink>(*this);
    m_chatCapture = std::make_unique<ChatCapture>(*this);

    LinkServices services;
    services.window = m_linkWindow.get();
    services.host = m_linkHost.get();
    services.identity = m_identity.get();
    if (m_config.linkClock) services.clock = m_config.linkClock;
    services.networkVideoOutput = [](const std::string& address) -> std::unique_ptr<VideoOutNet> {
        return std::make_unique<CVideoOutNet>(address.c_str());
    };
    if (m_netInUse == 0) {
        m_link = g_modemLinkFactory != nullptr ? g_modemLinkFactory(services) : MakeModemLink(services);
    }
    if (m_link == nullptr) {
        if (m_netInUse == 0) LUMO_TRACE(1, "Station: [E] the modem link is not available, the TCP link is used");
        InetOptions options;
        options.listenPortText = m_config.listenPortText;
        options.connectPortText = m_config.connectPortText;
        options.frame = m_inetHooks.get();
        auto inet = std::make_unique<CInetConnection>(services, options);
        m_inet = inet.get();
        m_link = std::move(inet);
    }
    // Video that carries no camera is of the camera selected in the
    // connected site's settings.
    m_link->SetSelectedCamera([this] { return SelectedCamera(); });
    m_arming = std::make_unique<StationArming>(*m_link, [this] { return Now(); }, [this](const ArmChanged& event) {
        tell(&StationObserver::onArmChanged, event);
    });
    registerRows();
}

Station::~Station() {
    Stop();
    SetRequestsHost(nullptr);
    m_keepAlive.reset();
    m_link.reset();
    m_inet = nullptr;
    m_window.reset();
}

platform::HWND Station::Hwnd() const { return m_window != nullptr ? m_window->hwnd() : 0; }

DWORD Station::Now() const { return m_config.now ? m_config.now() : systemTimerMs(); }

void Station::SetHost(StationHost* host) { m_host = host != nullptr ? host : &m_defaultHost; }

void Station::AddObserver(StationObserver* observer) {
    if (observer != nullptr && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end()) {
        m_observers.push_back(observer);
    }
}

void Station::RemoveObserver(StationObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void Station::ReadSettings() {
    m_settings.ReadGenSettings();
    m_settings.ReadCommsSettings(m_netInUse);
    m_settings.ReadCaldrinSettings();
    m_settings.ReadVideoSettings();
    m_settings.ReadStorageSettings();
    m_remoteDB = std::make_unique<CDBLumoRemote>();
}

void Station::SetRequestsHost(RemoteRequestsHost* host) {
    m_requestRows.reset();
    m_requests.reset();
    if (host == nullptr) return;
    m_requests = std::make_unique<CRemoteRequests>(*host);
    m_requestRows = std::make_unique<MessageRows>(m_messages);
    // Once the station stopped (the window went) a request is only traced.
    m_requests->RegisterRows(*m_requestRows, [this] { return !m_stopped; });
}

void Station::ApplyLinkSettings() {
    FillLinkComms(m_settings.comms, m_linkComms);
    m_link->SetCommsSettings(&m_linkComms);
    ApplyModemSettings(*m_link, m_linkComms);
}

void Station::StartLink() {
    CommsRecord& comms = m_settings.comms;
    if (m_inet != nullptr && m_netInUse != 0) {
        if (!m_inet->LinkDialUp() && comms.UseDialUp != 0) comms.UseDialUp = 0;
    }
    ApplyLinkSettings();
    m_link->SetHelloRetry(comms.HelloTimeout, comms.HelloMaxTimeRetry);
    m_link->SetSessionSetupLimit(comms.HelloSetupLimit);
    m_link->SetChatWindow(nullptr);
    m_link->SetReceiveFolders(m_settings.caldrin.RecDir, m_settings.caldrin.RecDir);
    if (m_inet != nullptr) m_inet->SetMaxReadQueueBytes(m_settings.general.MaxReadQ_Bytes);
    SetModemReadQueueLimit(*m_link, m_settings.general.MaxReadQ_Bytes);
    m_link->SetSerialOutSink(m_serialOutSink.get());
}

void Station::StartKeepAlive() {
    if (m_keepAlive != nullptr || m_stopped) return;
    m_keepAlive = std::make_unique<CKeepAliveThread>(*m_link, Hwnd(), m_config.keepAlivePeriodMs);
    m_keepAlive->Start();
}

void Station::Stop() {
    if (m_stopped) return;
    m_stopped = true;
    if (m_link != nullptr) m_link->SetSerialOutSink(nullptr);
    m_loop->Stop();
    if (m_keepAlive != nullptr) m_keepAlive->Close();
    if (m_inet != nullptr && m_inet->IsDialUpLinked()) m_inet->HangUpDialUp();
    m_localDB.reset();
}

void Station::editLocalProfile(const LocalProfileEdit& edit) {
    if (m_stopped || !edit) return;
    // This station's own settings, read on the first request only: the
    // whole local database is a long read that a start need not wait for.
    if (m_localDB == nullptr) m_localDB = std::make_unique<CDBLumoLocal>(nullptr, 0);
    auto profile = std::make_unique<tagHWProfile>();
    m_localDB->GetHWProfiles(profile.get());
    if (edit(*profile)) {
        m_localDB->UpdateHWProfiles(profile.get(), nullptr);
        m_localDB->WriteHWProfiles();
    }
}

int Station::SelectedCamera() const {
    CDBLumoRemote* db = m_remoteDB.get();
    if (db == nullptr) return 0;
    WORD adapter = 0;
    db->GetCurrentAdapter(&adapter);
    if (adapter >= kMaxAdapters) return 0;
    auto profile = std::make_unique<tagHWProfile>();
    db->GetHWProfiles(profile.get());
    return std::min<int>(profile->adapters[adapter].selectedInput, kCamerasPerAdapter - 1);
}

}  // namespace trennick

namespace trennick {

// ---- messages ----

LRESULT Station::dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Every message but the loop's own ticks, and the status reports that the
    // link answers the pass's own questions with, may bring work for the pass.
    if (msg != kMsgMainTimerTick && msg != kMsgTickFence && msg != kMsgCommMessage &&
        !(msg == platform::WM_TIMER && wParam == kMainTimerId)) {
        WakeLoop();
    }
    LRESULT result = 0;
    m_messages.dispatch(msg, wParam, lParam, result);
    return result;
}

// The rows of the messages the station owns: the loop's, the call's and the
// arming's. The program around it adds its own.
void Station::registerRows() {
    MessageTable& t = m_messages;
    t.add(platform::WM_TIMER, [this](WPARAM id, LPARAM) { m_loop->OnTimer(id); return LRESULT{0}; });
    t.add(kMsgMainTimerTick, [this](WPARAM, LPARAM) { m_loop->OnTick(); return LRESULT{0}; });
    t.add(kMsgTickFence, [this](WPARAM, LPARAM) { m_loop->OnFence(); return LRESULT{0}; });
    t.add(kMsgLinkDataReady, [this](WPARAM, LPARAM) { OnLinkDataReady(); return LRESULT{0}; });
    t.add(kMsgSyncLost, [this](WPARAM, LPARAM) {
        LUMO_TRACE(5, "Station: the peer went silent, MakeDisconnect");
        MakeDisconnect(kReasonSyncLost, 0);
        return LRESULT{0};
    });
    t.add(kMsgMakeDisconnect, [this](WPARAM, LPARAM reason) {
        MakeDisconnect(static_cast<LONG>(reason), 0);
        return LRESULT{0};
    });
    t.add(kMsgTessDisconnect, [this](WPARAM reason, LPARAM) {
        MakeDisconnect(static_cast<LONG>(reason), 1);
        return LRESULT{0};
    });
    t.add(kMsgAttendedTimeout, [this](WPARAM, LPARAM) { OnConnectDisconnectAttendedTimeout(); return LRESULT{0}; });
    t.add(kMsgCancelFileReceive, [this](WPARAM, LPARAM) { return CancleFileReceiving(); });
    t.add(kMsgTessArm, [this](WPARAM, LPARAM) {
        if (!m_arming->IsSystemArmed()) OnTogglePollTriggers();
        return LRESULT{0};
    });
    t.add(kMsgTessDisarm, [this](WPARAM, LPARAM) {
        if (m_arming->IsSystemArmed()) OnTogglePollTriggers();
        return LRESULT{0};
    });
    t.add(kMsgIsSysArm, [this](WPARAM, LPARAM out) -> LRESULT {
        if (out == 0) return 1;
        *reinterpret_cast<DWORD*>(out) = m_arming->IsSystemArmed() ? 1 : 0;
        return 0;
    });
    t.add(kMsgUserActionAck, [this](WPARAM token, LPARAM) { OnUserActionAck(token); return LRESULT{0}; });
    t.add(kMsgPeerVideoRequest, [this](WPARAM token, LPARAM) { OnPeerVideoRequest(token); return LRESULT{0}; });
    t.add({kMsgCpEnabled, kMsgCpDisabled, kMsgCpArmed, kMsgCpDisarmed}, [this](UINT msg, WPARAM, LPARAM) {
        m_arming->OnPanel(msg);
        return LRESULT{0};
    });
    t.add({kMsgUnlockSite, kMsgLockSite}, [this](UINT msg, WPARAM, LPARAM) {
        SendTokenToSite(*m_link, msg == kMsgUnlockSite ? kTokUnlockServer : kTokLockServer);
        return LRESULT{0};
    });
    t.add(kMsgLinkSend, [this](WPARAM, LPARAM data) -> LRESULT {
        if (auto bytes = platform::TakePostedData<std::vector<BYTE>>(data);
            bytes != nullptr && !bytes->empty() && m_link->IsLinkUp()) {
            m_link->ConnectWrite(bytes->data(), static_cast<DWORD>(bytes->size()), 0, 2);
        }
        return 1;
    });
    // The link's status reports answer the pass's own questions: nothing to do.
    t.add(kMsgCommMessage, [](WPARAM, LPARAM) { return LRESULT{1}; });
    t.add(kMsgDeleteObject, [](WPARAM, LPARAM data) -> LRESULT {
        platform::TakePostedData<PostedObject>(data).reset();
        return 1;
    });
    t.add(kMsgTransferEnded, [this](WPARAM, LPARAM data) {
        if (auto ended = platform::TakePostedData<LinkTransferResult>(data)) {
            transferEnded(TransferEnded{ended->direction, ended->fileKind, ended->path, ended->result});
        }
        return LRESULT{0};
    });
    t.add(kMsgLocalProfileEdit, [this](WPARAM, LPARAM data) {
        if (auto edit = platform::TakePostedData<LocalProfileEdit>(data)) editLocalProfile(*edit);
        return LRESULT{0};
    });
    t.add(kMsgUserNotice, [this](WPARAM, LPARAM data) {
        if (auto text = platform::TakePostedData<std::string>(data)) tell(&StationObserver::onNotice, *text);
        return LRESULT{0};
    });
}

// ---- the loop ----

void Station::SetLoopActive(bool on) { m_loop->SetActive(on); }
void Station::MainTimerProc(platform::UINT_PTR id) { m_loop->OnTimer(id); }
void Station::OnMainTimerTick() { m_loop->OnTick(); }
void Station::DoLoopProcess() { m_loop->Run(); }
void Station::WakeLoop() { m_loop->Wake(); }
void Station::RunPassNow() { m_loop->RunNow(); }
DWORD Station::LoopPasses() const { return m_loop->Passes(); }
UINT Station::LoopPeriodMs() const { return m_loop->PeriodMs(); }
bool Station::LoopActive() const { return m_loop->Active(); }

void Station::runPass() {
    m_host->beforeRead();
    CPacketConnection& link = *m_link;
    m_lastRead = link.TimeToRead();
    reactToRead(m_lastRead);
    m_host->afterRead();
    if (link.IsLinkUp() && link.CheckTimeOuts() == -2) MakeDisconnect(kReasonNone, 0);
    m_arming->CheckAckTimeout();

    const bool connected = link.IsConnected() != FALSE;
    if (!connected) m_newConnection = false;
    if (link.IsLinkUp() && connected && !m_newConnection) {
        startConnection(link);
    } else {
        ordinaryPass(link, connected);
    }
}

void Station::startConnection(CPacketConnection& link) {
    m_newConnection = true;
    // The call is told as up here, so its end is told even when it ends
    // before an ordinary pass has run.
    m_connectionSeen = true;
    m_sendInfo = (m_settings.general.Flags[0] & 1) != 0;
    LUMO_TRACE(5, m_sendInfo ? "----- INFO WILL BE SENT ------" : "----- INFO WILL NOT BE SENT ------");
    m_disconnectShown = false;
    m_cardSent = false;
    m_localHangUp = false;
    m_chatCapture->newConnection();
    // This station tells the peer who it is right after the hello.
    if (link.SendSiteInfo() == 0) {
        LUMO_TRACE(1, "Station: this station's site info was not sent\n");
    }
    LogEntry(kLogConnect, "Connected to " + PeerText());
    tellCall(CallState::Connected);
    // The call's first ordinary pass (a file queued for it, the remote
    // window) follows at once.
    RunPassNow();
}

void Station::ordinaryPass(CPacketConnection& link, bool connected) {
    FileTransferStep();
    m_host->afterTransfer();
    if (!link.IsLinkUp() && m_autoConnect) {
        m_autoConnect = false;
        m_host->autoConnect();
    }
    if (link.IsLinkDown() && !m_closing) {
        LUMO_TRACE(5, "Station::DoLoopProcess() before call set listen On");
        SetListenOn(0);
    }
    m_host->refresh(false);
    if (connected) {
        m_connectionSeen = true;
    } else if (m_connectionSeen) {
        endConnection();
    }
}

void Station::endConnection() {
    LUMO_TRACE(5, "Station: the call with %s ended", ConnectedStationName().c_str());
    LogEntry(kLogDisconnect, "Disconnected");
    // Tell the user once, unless this station hung up itself.
    if (m_localHangUp) {
        platform::PostMessage(Hwnd(), kMsgDisconnectMessage, 0, 0);
    } else {
        platform::PostMessageOwned(Hwnd(), kMsgDisconnectMessage, 0, std::make_unique<std::string>(PeerText()));
    }
    InitializeSiteInfo();
    SnapshotIsRemove();
    m_connectionSeen = false;
    tellCall(CallState::Disconnected);
}

bool Station::loopBusy() const {
    CPacketConnection& link = *m_link;
    if (m_arming->WaitingForAck() || link.IsConnecting() || (link.IsLinkUp() && !link.IsConnected())) return true;
    // A final state stays until the pass makes the side ready again.
    const LONG sending = link.GetFileSendStatus();
    const LONG receiving = link.GetFileReceiveStatus();
    return (sending >= 1 && sending <= 9) || receiving == REC_RECEIVING || receiving == REC_WAIT_USER ||
           receiving == REC_USER_DISCONNECTING;
}

void Station::reactToRead(LONG read) {
    CPacketConnection& link = *m_link;
    if (read == -3) {
        // A call came up: open the session with our hello. One that could not
        // be written leaves the call to the session set-up limit, which drops it.
        if (link.SendHello() == 0) {
            LUMO_TRACE(1, "Station: the hello could not be written to the line\n");
        }
    } else if (read == -4 || read == -5) {
        if (!link.IsTargetNotConnected()) {
            LUMO_TRACE(5, "Disconnected: TimeToRead returned %ld (DLP)\n", static_cast<long>(read));
        }
        MakeDisconnect(kReasonNone, 0);
    }
}

void Station::OnLinkDataReady() {
    // Bytes arrived: the read part of the pass runs now, so a file block is
    // answered and the next one sent without waiting for the timer. Inside a
    // pass (a box it shows runs the loop) the pass itself reads them.
    if (m_stopped || !m_loop->RunOutsidePass([this] { reactToRead(m_link->TimeToRead()); })) return;
    // A transfer that this read ended is seen by a pass (its history, its
    // window, the next file of the queue) now; the pass makes the side ready
    // again.
    CPacketConnection& link = *m_link;
    const LONG sent = link.GetFileSendStatus();
    const LONG received = link.GetFileReceiveStatus();
    if (sent == SEND_REFUSED || sent == SEND_COMPLETE || sent == SEND_FAILED || sent == SEND_STOPPED ||
        received == REC_COMPLETE || received == REC_STOPPED || received == REC_FAILED) {
        RunPassNow();
    }
}

bool Station::IdleRead() {
    if (m_stopped) return false;
    const LONG read = m_link->TimeToRead();
    return read == -4 || read == -5;
}

}  // namespace trennick

namespace trennick {

// ---- the call ----

void Station::LogEntry(short eventId, const std::string& info) {
    if (logWrite == nullptr) return;
    const std::string user = fixed_text::Read(m_loginRecord.name, sizeof m_loginRecord.name);
    logWrite->AddEntryEx(nullptr, eventId, 0, user.c_str(), 0, info.c_str());
}

void Station::tellCall(CallState state) {
    CallStateChanged event{state, PeerText(), m_localHangUp};
    tell(&StationObserver::onCallStateChanged, event);
}

std::string Station::PeerText() const {
    std::string text = m_inet != nullptr ? m_inet->GetPeerAddress() : m_link->GetConnectInfoText();
    return text.empty() ? "a calling station" : text;
}

BOOL Station::MakeDisconnect(LONG reason, LONG listen) {
    LUMO_TRACE(3, "Station::MakeDisconnect bType = %d", static_cast<int>(reason));
    CPacketConnection& link = *m_link;
    if (link.IsLinkUp()) {
        switch (reason) {
        case kReasonNone:
            LUMO_TRACE(5, "Station::MakeDisconnect(0) No Message");
            break;
        case kReasonAskKeep:
            if (m_host->ask(kReasonAskKeep, kMsgKindQuestion, "Disconnect from the site?") == kAnswerTimedOut) {
                return FALSE;
            }
            break;
        case kReasonAttendTimeout:
            if (m_host->ask(kReasonAttendTimeout, kMsgKindInfo, "Nobody answered; the line will be closed.") !=
                kAnswerTimedOut) {
                return FALSE;
            }
            break;
        case kReasonSyncLost:
        case kReasonWrongUser:
        case kReasonWrongPassword:
            m_host->ask(static_cast<UINT>(reason), kMsgKindInfo, "The connection was lost.");
            break;
        default:
            if (m_host->ask(kReasonAskDisconnect, kMsgKindQuestion, "Disconnect from the site?") == kAnswerTimedOut) {
                return FALSE;
            }
            listen = 1;
            break;
        }
    }
    m_bDisconnecting = true;
    if (link.IsLinkUp()) m_localHangUp = true;
    if (link.IsLinkUp() && link.IsTargetConnected() && link.SendDisconnect() == 0) {
        // The peer that misses our farewell sees the line drop instead.
        LUMO_TRACE(3, "Station: the farewell was not written to the line\n");
    }
    SetListenOn(listen);
    m_bDisconnecting = false;
    return TRUE;
}

LONG Station::SetListenOn(LONG mode) {
    LUMO_TRACE(3, "ENTER %s", "Station::SetListenOn()");
    m_arming->ForgetTriggers();
    m_host->stopTalk();
    if (m_listenReentry) {
        LUMO_TRACE(5, "Station::SetListenOn() trying reenter exiting...");
        return 0;
    }
    m_listenReentry = true;
    m_arming->ForgetRequest();
    // A card the link confirmed to the peer is taken before the call's state goes.
    CardStep();
    if (m_link->IsConnected()) InitializeSiteInfo();
    tellCall(CallState::Listening);
    if (!m_closing) m_link->SetListenOn(mode);
    m_listenReentry = false;
    return 1;
}

BOOL Station::ConnectToInternet() {
    if (m_inet == nullptr) return FALSE;
    if (!m_inet->ConnectToLan()) {
        LUMO_TRACE(5, "Station::ConnectToInternet() %s", "the network cannot be opened");
        return FALSE;
    }
    return TRUE;
}

void Station::Call(const std::string& number, const std::string& name) {
    m_disconnectShown = false;
    const LONG r = m_link->ConnectToRemote(number.c_str(), name.c_str());
    LUMO_TRACE(3, "m_Comms->ConnectToRemote() ret = %d", static_cast<int>(r));
}

void Station::LinkLost() {
    if (m_inet != nullptr) {
        m_inet->SetNotConnected(FALSE);
    } else {
        m_link->SetNotConnected();
    }
}

CloseProgress Station::CloseStep(bool ask) {
    CPacketConnection& link = *m_link;
    if (!m_pendingClose) {
        if (m_bDisconnecting) {
            LUMO_TRACE(3, "Station::CloseStep() a disconnect is under way");
            return ask ? CloseProgress::Refused : CloseProgress::Retry;
        }
        if (!MakeDisconnect(ask ? kReasonAskDisconnect : kReasonNone, 0)) return CloseProgress::Refused;
        m_pendingClose = true;
        m_closing = true;
        if (m_inet != nullptr) {
            m_inet->SetNotConnected(TRUE);
            m_inet->StopListening();
        } else {
            link.SetNotConnected();
        }
    }
    if (link.IsTargetNotConnected() && link.IsLinkDown()) return CloseProgress::Done;
    if (!link.IsTargetConnected()) {
        link.TimeToRead();
    } else if (!MakeDisconnect(ask ? kReasonAskKeep : kReasonNone, 0)) {
        m_pendingClose = false;
        m_closing = false;
        LUMO_TRACE(3, "Station::CloseStep() the call is kept: the program does not close");
        return CloseProgress::Refused;
    }
    return CloseProgress::Pending;
}

bool Station::ClosePending() const { return m_pendingClose; }

void Station::OnConnectDisconnectAttendedTimeout() {
    LUMO_TRACE(1, "ENTER %s", "Station::OnConnectDisconnectAttendedTimeout");
    CKcReg reg = ProductKey("General");
    DWORD unattended = 1;
    if (!reg.GetDword(nullptr, "UnattendedDisconnect", &unattended)) unattended = 1;
    if (unattended == 0) {
        LUMO_TRACE(3, "Station::OnConnectDisconnectAttendedTimeout automatic disconnect disabled");
        return;
    }
    if (!MakeDisconnect(kReasonAttendTimeout, 0)) {
        // Somebody answered: the site keeps the line.
        SendTokenToSite(*m_link, kTokAttendTimeoutAnswered);
    }
}

LRESULT Station::CancleFileReceiving() {
    LUMO_TRACE(5, "ENTER %s", "Station::CancleFileReceiving");
    LONG kind = kFileKindAny;
    const bool arriving = m_link->GetReceiveStatus(nullptr, nullptr, &kind, nullptr, nullptr) == REC_RECEIVING;
    if (m_link->SetReceiveStatus(0, nullptr) != 1) return 1;
    // A kit waiting for the download hears that it ended.
    if (arriving && m_requests != nullptr) m_requests->OnReceiveStopped(kind);
    return 0;
}

void Station::OnPeerVideoRequest(WPARAM token) {
    // The link has already stopped our frames on a close or a pause; the
    // own-video switch follows a close, so the button says so.
    switch (token) {
    case ID_DSVD_CLOSEYOURVIDEO:
    case ID_DSVD_VIDEORRESUME:
        m_myVideoPaused = false;
        break;
    case ID_DSVD_VIDEORPAUSE:
        m_myVideoPaused = true;
        break;
    default:  // "<VIDEOPALETTE>": the pictures this program draws carry no palette
        break;
    }
    LUMO_TRACE(5, "Station::OnPeerVideoRequest() %s: own video %s", tokenName(static_cast<WORD>(token)),
               m_myVideoPaused ? "paused" : "not paused");
}

// ---- arming ----

void Station::OnTogglePollTriggers() { m_arming->Toggle(); }

void Station::OnUserActionAck(WPARAM token) {
    if (m_arming->OnAck(token)) return;
    if (token == kTokDisconnect) {
        SetListenOn(0);
    } else {
        LUMO_TRACE(5, "Station::OnUserActionAck token %u", static_cast<unsigned>(token));
    }
}

}  // namespace trennick

namespace trennick {

// ---- files and cards ----

BOOL Station::SendFile(const std::string& path, const std::string& typeText) {
    const bool queued = m_host->queueFileInWindow(path, typeText) ||
                        m_link->SetSendStatus(1, FileKindOfTypeText(typeText), path.c_str()) == 1;
    // The next pass takes the file and announces it.
    if (queued && m_link->IsLinkUp()) RunPassNow();
    return queued ? TRUE : FALSE;
}

void Station::FileTransferStep() {
    CPacketConnection& link = *m_link;
    if (!link.IsLinkUp() || !link.IsConnected()) return;
    link.ProcessSending();
    if (m_host->driveTransfer(m_lastRead)) {
        // The transfer window follows both directions.
        cardStepSend();
        CardStep();
        return;
    }
    std::string name;
    const LONG sent = link.GetSendStatus(nullptr, nullptr, nullptr, nullptr, &name);
    if (sent == SEND_REFUSED || sent == SEND_COMPLETE || sent == SEND_FAILED || sent == SEND_STOPPED) {
        // The transfer ended (the link tells it with kMsgTransferEnded): the
        // link is made ready for the next file.
        LUMO_TRACE(3, "Station::FileTransferStep() %s ended with %ld", name.c_str(), static_cast<long>(sent));
        (void)link.SetSendStatus(-1, 0, nullptr);  // making a side ready is never refused
    }
    cardStepSend();
    CardStep();
    const LONG received = link.GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, &name);
    // The link keeps an ended receive as it ended: ready for the next file.
    if (received == REC_COMPLETE || received == REC_STOPPED || received == REC_WAIT_USER || received == REC_FAILED) {
        if (link.SetReceiveStatus(1, nullptr) != 1) LUMO_TRACE(3, "Station::FileTransferStep() receive side busy");
    }
}

void Station::transferEnded(const TransferEnded& ended) {
    LUMO_TRACE(3, "Station: %s %s ended with %ld", ended.direction == TransferDirection::Send ? "sending" : "receiving",
               ended.path.c_str(), static_cast<long>(ended.result));
    if (ended.direction == TransferDirection::Send) {
        m_lastSendResult = ended.result;
    } else if (ended.result == REC_COMPLETE) {
        m_lastReceivedFile = ended.path;
    }
    tell(&StationObserver::onTransferEnded, ended);
}

void Station::CardStep() {
    CPacketConnection& link = *m_link;
    PeerCard event;
    event.status = link.GetCardStatus(1);
    if ((event.status & (kCardReceived | kCardPictureReceived)) == 0) return;
    tagBusinessCard& card = event.card;
    link.GetRemoteCard(card);
    // The link names the picture by its received path; a bare name lies in
    // the receive folder.
    std::string picture = fixed_text::Read(card.picture, sizeof card.picture);
    if (!picture.empty() && picture.find('/') == std::string::npos) {
        picture = std::string(m_settings.caldrin.RecDir) + picture;
    }
    event.picturePath = picture;
    std::snprintf(card.picture, sizeof card.picture, "%s", picture.c_str());
    const std::string name = fixed_text::Read(card.name, sizeof card.name);
    if (!name.empty()) m_peerCardName = name;
    m_settings.general.Flags[1] |= 4;
    tell(&StationObserver::onPeerCard, event);
    LUMO_TRACE(5, "Station::CardStep() card of %s received", name.c_str());
}

void Station::OnSendSiteInfo() {
    tagBusinessCard card{};
    static_assert(sizeof card == kBusinessCardBytes);
    std::memcpy(&card, m_settings.general.BusinessCard, sizeof card);
    card.name[sizeof card.name - 1] = '\0';
    card.text2[sizeof card.text2 - 1] = '\0';
    card.text3[sizeof card.text3 - 1] = '\0';
    card.picture[sizeof card.picture - 1] = '\0';
    CPacketConnection& link = *m_link;
    if (card.name[0] != '\0') link.SendMyCard(&card);
    if (card.picture[0] != '\0') {
        const LONG state = link.GetSendStatus(nullptr, nullptr, nullptr, nullptr, nullptr);
        if ((state == SEND_START || state == SEND_SENDING || state <= SEND_IDLE) &&
            SendFile(card.picture, "Site Information")) {
            return;
        }
        // Another file is on its way: the picture follows later.
        m_settings.general.Flags[1] |= 2;
    }
}

void Station::cardStepSend() {
    // This station's card goes to the peer once per connection, when the
    // General switch asks for it.
    if (!m_sendInfo || m_cardSent) return;
    m_sendInfo = false;
    m_cardSent = true;
    OnSendSiteInfo();
}

namespace {

// Removes the named files from `folder`; a file that cannot go is traced
// (unless it is `keep`, which may stay). False when one could not go.
bool deleteFiles(const std::string& folder, std::initializer_list<const char*> names, const char* who,
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

}  // namespace

void Station::SnapshotIsRemove() {
    if ((m_settings.general.Flags[0] & 1) != 0) {
        const std::string folder = std::string(m_settings.general.HomeDir) + "/Snapshots";
        deleteFiles(folder,
                    {"/QbSnap.bmp", "/QbSnap.JPG", "/DOAEvent.TRG", "/HDSnap.bmp", "/HDSnap.JPG", "/HDEvent.TRG"},
                    "Station::SnapshotIsRemove()", "/DOAEvent.TRG");
    }
}

void Station::RemoveRemoteSnap(const std::string& receivedPath) {
    const std::string folder = std::filesystem::path(receivedPath).parent_path().string();
    deleteFiles(folder, {"/QbSnap.bmp", "/QbSnap.JPG"}, "Station::RemoveRemoteSnap()", nullptr);
    deleteFiles(folder, {"/HDSnap.bmp", "/HDSnap.JPG"}, "Station::RemoveRemoteSnap()", nullptr);
}

// ---- the connected site ----

BOOL Station::GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const {
    std::lock_guard lock(m_siteInfoLock);
    if (m_siteInfo[0] == 0 && m_siteInfo[256] == 0 && m_siteInfo[512] == 0) {
        std::memset(out, 0, sizeof out);
        return FALSE;
    }
    std::memcpy(out, m_siteInfo, sizeof out);
    return TRUE;
}

void Station::SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]) {
    std::lock_guard lock(m_siteInfoLock);
    std::memcpy(m_siteInfo, in, sizeof m_siteInfo);
    // Each of the three texts ends within its 256-byte field.
    m_siteInfo[255] = m_siteInfo[511] = m_siteInfo[767] = 0;
}

void Station::InitializeSiteInfo() {
    {
        std::lock_guard lock(m_siteInfoLock);
        std::memset(m_siteInfo, 0, sizeof m_siteInfo);
    }
    m_host->siteForgotten();
}

std::string Station::ConnectedStationName() const {
    std::lock_guard lock(m_siteInfoLock);
    return fixed_text::Read(m_siteInfo + 256, 256);
}

LinkChatWindow* Station::CaptureWindow() const { return m_chatCapture.get(); }

std::string Station::ChatCapturePath() const {
    const char* path = m_settings.general.Chat.capturePath;
    if (path[0] != '\0') return path;
    std::string folder = m_settings.caldrin.RecDir;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + "chat.txt";
}

}  // namespace trennick
