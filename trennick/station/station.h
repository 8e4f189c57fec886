#pragma once
// Station: this recorder's end of a call, without a window. It owns the link
// of the chosen transport with the services the link asks of its owner, the
// station's settings groups, the private message window that the link, the
// keep-alive thread and the program's other parts post to, the 10 ms loop
// pass that reads the link and keeps the call's bookkeeping, the call state
// and the connected site's arming. What happens is told to observers as typed
// events (station_events.h); the parts of a pass that belong to the program
// around it (the video road, the windows, the status texts) are asked of its
// StationHost.
//
// Threads: everything runs on the owner thread (the thread that made it)
// except the link's host services, which the link may call from a transport
// thread: those read data copied whole or behind the site-information lock,
// or post their work to the owner thread. Failures: a part missing is skipped and traced; nothing
// throws.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/users_manager.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/packet_connection.h"
#include "trennick/station/frame_settings.h"
#include "trennick/station/message_table.h"
#include "trennick/station/station_arming.h"
#include "trennick/station/station_events.h"
#include "trennick/station/station_loop.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDBLumoLocal;
class CDBLumoRemote;

namespace trennick {

class CInetConnection;
class CRemoteRequests;
class RemoteRequestsHost;
class CKeepAliveThread;
class InetFrameHooks;
class LinkIdentity;
class MessageWindowLink;


// Replaces the modem link the station makes when NetInUse is 0 (tests).
using ModemLinkFactory = std::unique_ptr<CPacketConnection> (*)(const LinkServices&);
void SetModemLinkFactory(ModemLinkFactory factory);

struct StationConfig {
    DWORD netInUse = 0;            // 0: the modem link, else TCP
    std::string listenPortText;    // the command line's ports; empty: the settings'
    std::string connectPortText;
    std::function<DWORD()> now;    // the program's millisecond clock; empty: the system's
    LinkClock linkClock;           // handed to the link; empty: the link's own
    DWORD keepAlivePeriodMs = 0;   // 0: 20000 ms
};

// What a station asks of the program around it, on the owner thread. Every
// step has a default that does nothing, so a station runs alone (tests).
class StationHost {
public:
    virtual ~StationHost() = default;
    // A question or notice for the user (the kinds and answers of AppUi).
    virtual int ask(UINT /*stringId*/, int /*kind*/, const std::string& /*fallback*/) { return 512; }
    // The parts of a loop pass, in their order: before the link is read,
    // after it was read (the video road), the transfer when a window drives
    // it (true: the station's own step is skipped), after the transfer step
    // (the windows' steps), and the status texts.
    virtual void beforeRead() {}
    virtual void afterRead() {}
    virtual bool driveTransfer(LONG /*lastRead*/) { return false; }
    virtual void afterTransfer() {}
    virtual void refresh(bool /*forceCaption*/) {}
    // The one-time automatic call of the command line, once the link is idle.
    virtual void autoConnect() {}
    // A file to send, handed to a transfer window when one takes it.
    virtual bool queueFileInWindow(const std::string& /*path*/, const std::string& /*typeText*/) { return false; }
    // The connected site's information was forgotten (its card goes with it).
    virtual void siteForgotten() {}
    // The talk stops when the station goes back to listening.
    virtual void stopTalk() {}
};

// How far a close got (see CloseStep).
enum class CloseProgress {
    Refused,  // the user kept the call: the program stays
    Retry,    // a disconnect is under way: ask again later
    Pending,  // the line is closing: ask again later
    Done,     // the line is down: the program may end
};

class Station {
public:
    explicit Station(StationConfig config);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The station's message window; its table takes the handlers' rows.
    platform::HWND Hwnd() const;
    MessageTable& Messages() { return m_messages; }
    void SetHost(StationHost* host);
    void AddObserver(StationObserver* observer);
    void RemoveObserver(StationObserver* observer);

    // Reads the settings groups and opens the connected sites' settings store.
    void ReadSettings();
    // Sets the link up from the settings.
    void StartLink();
    void StartKeepAlive();
    // Stops the loop, the keep-alive thread and the dial-up line (the end).
    void Stop();
    bool IsStopped() const { return m_stopped; }

    // The loop.
    void SetLoopActive(bool on);
    void MainTimerProc(platform::UINT_PTR id);
    void OnMainTimerTick();
    void DoLoopProcess();
    void OnLinkDataReady();
    void WakeLoop();
    void RunPassNow();
    // A read of the link outside the loop (the start-up's idle step); true
    // when it found the line lost.
    bool IdleRead();
    DWORD LoopPasses() const;
    UINT LoopPeriodMs() const;
    bool LoopActive() const;
    LONG LastRead() const { return m_lastRead; }

    // The call.
    BOOL MakeDisconnect(LONG reason, LONG listen);
    LONG SetListenOn(LONG mode);
    BOOL ConnectToInternet();
    // Places a call with the login record already filled.
    void Call(const std::string& number, const std::string& name);
    // The line is gone: the link stops calling and waits again.
    void LinkLost();
    // One step of closing the program's line; `ask`: the user is asked
    // before a call is dropped.
    CloseProgress CloseStep(bool ask);
    bool Closing() const { return m_closing; }
    bool ClosePending() const;
    bool Disconnecting() const { return m_bDisconnecting; }
    void OnConnectDisconnectAttendedTimeout();
    LRESULT CancleFileReceiving();
    std::string PeerText() const;
    bool DisconnectShown() const { return m_disconnectShown; }
    void SetDisconnectShown(bool shown) { m_disconnectShown = shown; }
    void ArmAutoConnect(bool on) { m_autoConnect = on; }
    // The next pass that finds the call up treats it as a new call.
    void ForgetCallStart() { m_newConnection = false; }
    // Whether the peer asked to pause this station's video (and not yet to resume).
    bool MyVideoPausedByPeer() const { return m_myVideoPaused; }
    void OnPeerVideoRequest(WPARAM token);

    // Arming.
    bool IsSystemArmed() const { return m_arming->IsSystemArmed(); }
    bool WaitingForArmAck() const { return m_arming->WaitingForAck(); }
    bool SiteArmed() const { return m_arming->SiteArmed(); }
    bool SiteLocked() const { return m_arming->SiteLocked(); }
    void OnTogglePollTriggers();
    void OnUserActionAck(WPARAM token);

    // Files and cards.
    BOOL SendFile(const std::string& path, const std::string& typeText);
    void FileTransferStep();
    void CardStep();
    void OnSendSiteInfo();
    LONG LastSendResult() const { return m_lastSendResult; }
    const std::string& LastReceivedFile() const { return m_lastReceivedFile; }
    bool CardSentThisConnection() const { return m_cardSent; }
    const std::string& PeerCardName() const { return m_peerCardName; }
    void SnapshotIsRemove();
    void RemoveRemoteSnap(const std::string& receivedPath);

    // The connected site's information and this station's login for a call.
    BOOL GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const;
    void SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]);
    void InitializeSiteInfo();
    std::string ConnectedStationName() const;
    _tag_user& LoginRecord() { return m_loginRecord; }
    void LogEntry(short eventId, const std::string& info);
    // The chat window that keeps the peer's text in the capture file
    // (ChatCapturePath) while no chat window shows it; it tells the owner
    // once a call with kMsgChatCaptured.
    LinkChatWindow* CaptureWindow() const;
    std::string ChatCapturePath() const;

    CPacketConnection& Link() const { return *m_link; }
    CInetConnection* Inet() const { return m_inet; }
    DWORD NetInUse() const { return m_netInUse; }
    CFrameSettings& Settings() { return m_settings; }
    const CFrameSettings& Settings() const { return m_settings; }
    CommsSettingsRecord& LinkComms() { return m_linkComms; }
    void ApplyLinkSettings();
    CDBLumoRemote* RemoteDB() const { return m_remoteDB.get(); }
    // This station's settings database once a peer's text request changed
    // them (loaded on the owner thread at the first request); null before.
    CDBLumoLocal* LocalDB() const { return m_localDB.get(); }
    // The camera selected in the connected site's settings (the current
    // adapter's selected input): the camera of video that carries none.
    int SelectedCamera() const;
    // The handling of the connected station's requests and replies, with the
    // window's side of them given; null takes it away with its rows.
    void SetRequestsHost(RemoteRequestsHost* host);
    CRemoteRequests* Requests() const { return m_requests.get(); }
    CKeepAliveThread* KeepAlive() const { return m_keepAlive.get(); }
    DWORD Now() const;

private:
    class Window;
    class LinkServicesHost;
    class SerialOutSink;
    class ChatCapture;
    friend class LinkServicesHost;

    void registerRows();
    void editLocalProfile(const LocalProfileEdit& edit);
    LRESULT dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
    void runPass();
    void ordinaryPass(CPacketConnection& link, bool connected);
    void startConnection(CPacketConnection& link);
    void endConnection();
    void reactToRead(LONG read);
    bool loopBusy() const;
    void tellCall(CallState state);
    void cardStepSend();
    // A transfer ended (the link's kMsgTransferEnded): kept as the last of
    // its direction and told to the observers.
    void transferEnded(const TransferEnded& ended);

    template <typename Event>
    void tell(void (StationObserver::*method)(const Event&), const Event& event) {
        for (StationObserver* o : std::vector<StationObserver*>(m_observers)) (o->*method)(event);
    }

    StationConfig m_config;
    DWORD m_netInUse = 0;
    CFrameSettings m_settings;
    CommsSettingsRecord m_linkComms{};
    MessageTable m_messages;
    std::unique_ptr<Window> m_window;
    StationHost m_defaultHost;
    StationHost* m_host = &m_defaultHost;
    std::vector<StationObserver*> m_observers;
    std::unique_ptr<MessageWindowLink> m_linkWindow;
    std::unique_ptr<LinkServicesHost> m_linkHost;
    std::unique_ptr<InetFrameHooks> m_inetHooks;
    std::unique_ptr<LinkIdentity> m_identity;
    std::unique_ptr<SerialOutSink> m_serialOutSink;
    std::unique_ptr<ChatCapture> m_chatCapture;
    std::unique_ptr<CPacketConnection> m_link;
    CInetConnection* m_inet = nullptr;
    std::unique_ptr<CKeepAliveThread> m_keepAlive;
    std::unique_ptr<CDBLumoRemote> m_remoteDB;
    std::unique_ptr<CRemoteRequests> m_requests;
    std::unique_ptr<MessageRows> m_requestRows;
    // The link reads the site information and edits the local profile from
    // whatever thread runs it.
    mutable std::mutex m_siteInfoLock;
    std::unique_ptr<CDBLumoLocal> m_localDB;
    BYTE m_siteInfo[kSiteInfoBytes] = {};
    BYTE m_remoteStationData[kStationDataBytes] = {};
    BYTE m_remoteStationByte = 0;
    _tag_user m_loginRecord{};

    std::unique_ptr<StationLoop> m_loop;
    bool m_stopped = false;
    LONG m_lastRead = 0;

    // The call.
    bool m_newConnection = false;
    bool m_connectionSeen = false;
    bool m_sendInfo = false;
    bool m_autoConnect = false;
    bool m_bDisconnecting = false;
    bool m_pendingClose = false;
    bool m_closing = false;
    bool m_listenReentry = false;
    bool m_disconnectShown = false;
    bool m_localHangUp = false;
    bool m_myVideoPaused = false;
    bool m_cardSent = false;
    LONG m_lastSendResult = 0;
    std::string m_lastReceivedFile;
    std::string m_peerCardName;

    std::unique_ptr<StationArming> m_arming;
};

}  // namespace trennick
