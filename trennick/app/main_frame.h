#pragma once
// CMainFrame: the recorder's main window and the hub of the user-interface
// thread. It owns the link object of the chosen transport, reads and writes its
// settings groups, runs the 10 ms main timer whose ticks drive one loop pass
// (reading the link, the connection's bookkeeping, the one-time automatic
// connection, the status), runs the keep-alive thread, and handles the
// program's private messages and commands through its message window, which
// other threads and the link post to.
//
// Threads: everything runs on the user-interface thread except the keep-alive
// worker, which only calls the link's sync operations and posts. Failures:
// OnCreate returns -1 to stop the start-up; handlers that find a part missing
// skip it (a later window that does not exist is reported to the user as not
// available); nothing throws.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/users_manager.h"
#include "trennick/app/app_services.h"
#include "trennick/app/frame_settings.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/link_host.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/window_link.h"
#include "trennick/net/inet_frame.h"

#include <QMainWindow>
#include <array>
#include <map>
#include <memory>
#include <string>

class CDBLumoRemote;
class CTimeMsgBox;
class CLcdPanel;
class QLabel;
class QPushButton;
class UiMessageTarget;

namespace trennick {

class CKivApp;
class CKeepAliveThread;
class CRemoteRequests;
class CPacketConnection;
class CInetConnection;
class LinkIdentity;
struct LinkChoice;

// An arm or disarm request that the site never acknowledges stops blocking
// the commands after this long.
inline constexpr DWORD kArmAckTimeoutMs = 30000;
inline constexpr DWORD kHeartbeatPeriodMs = 10000;
inline constexpr DWORD kStatusPeriodMs = 300;
inline constexpr DWORD kCaptionPeriodMs = 1001;

// The process-wide state of the connected site's arming.
extern int gbIsSystemArmed;

// Progress of a transfer in percent (at most 100; 0 for an empty total) and
// its rate in bytes per second, in 64-bit arithmetic.
DWORD TransferPercent(ULONGLONG done, ULONGLONG total);
DWORD TransferRate(ULONGLONG bytes, DWORD elapsedMs);

// Replaces the modem link the frame makes when NetInUse is 0 (tests).
using ModemLinkFactory = std::unique_ptr<CPacketConnection> (*)(const LinkServices&);
void SetModemLinkFactory(ModemLinkFactory factory);

class CMainFrame : public QMainWindow {
public:
    CMainFrame(CKivApp& app, const LinkChoice& choice);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the window with the title (the first creation stage runs inside).
    BOOL Create(const std::string& title);
    platform::HWND Hwnd() const;

    // The message map: every private message and command arrives here.
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // A command as the buttons and menus send it.
    void OnCommand(WPARAM id);

    // Creation stages and life.
    int OnCreate();
    void PostCreate();
    BOOL DoActivate(BOOL on);
    void OnDestroy();
    void OnClose();

    // The loop.
    void MainTimerProc(platform::UINT_PTR id);
    void OnMainTimerTick();
    void DoLoopProcess();
    void DoIdleStep();
    void UpdateStatus();
    void UpdateCaption(bool force);
    void SendIAmAlive();

    // Connections.
    BOOL MakeDisconnect(LONG reason, LONG listen);
    BOOL Login(DWORD flags, const char* prompt = nullptr);
    LONG SetListenOn(LONG mode);
    BOOL ConnectToInternet();
    void AutoConnect(const std::string& target);
    void OnConnectConnect();
    void CleanupAfterDisconnect(BOOL flag);
    void OnTVN_DoConnect(const char* name, const char* number);
    // The login before a call: fills the login record the hello carries.
    bool LoginForCall();

    // Site and kit services.
    void OnTogglePollTriggers();
    void OnUserActionAck(WPARAM token);
    // The link's file-receive state with its figures; the percent is left as
    // it was while the total is 0. Outputs may be null. Returns 0.
    DWORD GetFileStatus(std::string* fileName, LONG* status, DWORD* percent, ULONGLONG* total, ULONGLONG* done,
                        LONG* kind, LONG* rate);
    int GetRemoteVersion(int* kind, char* text, std::size_t size);
    BOOL GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const;
    void SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]);
    void InitializeSiteInfo();
    void OnHardwareProfilesReceived(WPARAM wParam);
    // The link ended or failed (wParam: the string id of the cause, lParam: its
    // text or 0): closes the chat and tells the user once per connection.
    void OnDisconnectMessage(WPARAM cause, LPARAM text);
    void OnConnectDisconnectAttendedTimeout();
    // Stops a file that is arriving; 0 when the link agreed, 1 otherwise.
    LRESULT CancleFileReceiving();

    // Accessors for the other parts and tests.
    CPacketConnection* Connection() const { return m_pConnection.get(); }
    bool IsInetLink() const { return m_inet != nullptr; }
    CFrameSettings& Settings() { return m_settings; }
    CommsSettingsRecord& LinkComms() { return m_linkComms; }
    CDBLumoRemote* RemoteDB() const { return m_pRemoteDB.get(); }
    CRemoteRequests* Requests() const { return m_requests.get(); }
    CKivApp& App() { return m_app; }
    _tag_user& LoginRecord() { return m_loginRecord; }
    CKeepAliveThread* KeepAlive() const { return m_keepAlive.get(); }
    bool WaitingForArmAck() const { return m_waitForArmAck; }
    bool IsDestroyed() const { return m_destroyed; }
    bool PostCreateDone() const { return m_postCreateDone; }
    DWORD LoopPasses() const { return m_loopPasses; }
    void SetLoginGrace(int count) { m_loginGrace = count; }
    // Text of the status control.
    std::string StatusText() const;
    // Queues a file for the peer: through the file transfer window when it
    // exists, else straight on the link as an ordinary file. False when the
    // link refuses (another send is under way).
    BOOL SendFile(const std::string& path, const std::string& typeText);
    // The file transfer step of a loop pass while no transfer window drives it.
    void FileTransferStep();
    // A card (or its picture) the peer sent: shown through the requests' DisplayHisCard.
    void CardStep();
    // The last send that ended (the link's final state, 0 while none ended) and
    // the path of the last file that arrived whole.
    LONG LastSendResult() const { return m_lastSendResult; }
    const std::string& LastReceivedFile() const { return m_lastReceivedFile; }
    // The chat window handed to the link, when one is open.
    LinkChatWindow* ChatWindow() const { return m_chat; }
    void OnOpenChat();
    // The engine's self-closing notice, when the frame window exists.
    void ShowTimedMessage(const std::string& text, const std::string& title, DWORD ms);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class FrameLinkHost;
    class FrameInetHooks;
    class FrameRequestsHost;

    void buildWidgets();
    std::string peerText() const;
    void notAvailable(const char* what);
    int message(UINT stringId, int kind, const std::string& fallback);
    void logEntry(short eventId, const std::string& info);
    DWORD now() const;
    void destroyWindow();
    void checkArmAckTimeout();
    void recomputeSiteArmed();

    CKivApp& m_app;
    DWORD m_netInUse = 0;
    CFrameSettings m_settings;
    CommsSettingsRecord m_linkComms{};
    std::unique_ptr<UiMessageTarget> m_target;
    std::unique_ptr<MessageWindowLink> m_linkWindow;
    std::unique_ptr<FrameLinkHost> m_linkHost;
    std::unique_ptr<FrameInetHooks> m_inetHooks;
    std::unique_ptr<LinkIdentity> m_identity;
    std::unique_ptr<CPacketConnection> m_pConnection;
    CInetConnection* m_inet = nullptr;
    std::unique_ptr<CDBLumoRemote> m_pRemoteDB;
    std::unique_ptr<CTimeMsgBox> m_pTimeMsgBox;
    std::unique_ptr<CKeepAliveThread> m_keepAlive;
    std::unique_ptr<FrameRequestsHost> m_requestsHost;
    std::unique_ptr<CRemoteRequests> m_requests;
    LinkChatWindow* m_chat = nullptr;
    _tag_user m_loginRecord{};
    BYTE m_siteInfo[kSiteInfoBytes] = {};
    BYTE m_remoteStationData[kStationDataBytes] = {};
    BYTE m_remoteStationByte = 0;
    std::string m_strTitle;

    // Widgets.
    QLabel* m_status = nullptr;
    CLcdPanel* m_pLcdPanel = nullptr;
    std::map<WPARAM, QPushButton*> m_buttons;

    // Loop state.
    bool m_timerOutstanding = false;
    bool m_dropQueuedTicks = false;
    bool m_passRunning = false;
    bool m_timerActive = false;
    DWORD m_loopPasses = 0;
    bool m_newConnection = false;
    bool m_connectionSeen = false;
    bool m_sendInfo = false;
    bool m_autoConnect = false;
    bool m_statusShown = false;
    DWORD m_lastStatusMs = 0;
    bool m_statusClockStarted = false;
    DWORD m_lastCaptionMs = 0;
    bool m_captionClockStarted = false;
    DWORD m_lastHeartbeatMs = 0;
    bool m_heartbeatStarted = false;

    // Connection state.
    bool m_bDisconnecting = false;
    bool m_pendingClose = false;
    bool m_closing = false;
    bool m_destroyed = false;
    bool m_postCreateDone = false;
    int m_loginGrace = 0;
    bool m_listenReentry = false;
    bool m_waitForArmAck = false;
    DWORD m_armRequestMs = 0;
    int m_cpEnabled = 0;
    int m_cpArmed = 0;
    int m_siteArmed = 0;
    int m_siteLock = 0;
    int m_uiHidden = 0;
    bool m_disconnectShown = false;
    LONG m_lastSendResult = 0;
    std::string m_lastReceivedFile;
};

}  // namespace trennick
