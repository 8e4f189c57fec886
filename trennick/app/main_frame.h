#pragma once
// CMainFrame: the recorder's main window. It shows the station (the link, its
// loop pass, the call and the arming live in the headless Station it holds a
// reference to): its buttons, lamps and status follow the station's events,
// its own parts of a loop pass (the video road, the windows' steps) run when
// the station asks, and the private messages it owns are rows it registers in
// the station's message table. Commands of its buttons and menus arrive here.
//
// Threads: everything runs on the user-interface thread. Failures:
// OnCreate returns -1 to stop the start-up; handlers that find a part missing
// skip it (a later window that does not exist is reported to the user as not
// available); nothing throws.

#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"
#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/users_manager.h"
#include "trennick/app/app_services.h"
#include "trennick/app/frame_buttons.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/frame_menu.h"
#include "trennick/station/frame_settings.h"
#include "trennick/station/station.h"
#include "trennick/app/received_video.h"
#include "trennick/app/visual_settings.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/link_host.h"
#include "trennick/link/packet_connection.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <unordered_map>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDBLumoLocal;
class CDBLumoRemote;
class CLocalImage;
class CBCWnd;
class QToolBar;
class CTimeMsgBox;
class CLcdPanel;
class QLabel;
class QPushButton;
class UiMessageTarget;

namespace trennick {

class CAudComp;

class CKivApp;
class CAddrBookFile;
class CLumoraRemote;
class CVideoMain;
class CRemoteQuad;
struct RemoteVideoSettings;
class CFramePanels;
class CFrameRemoteViews;
class CTessIntegration;
class FrameStationHost;
class FrameAudioHost;
class FrameRequestsHost;
class FrameRemoteView;
class CKeepAliveThread;
class CDdeServer;
class CRemoteRequests;
class CRemoteSetMgr;
class FrameRemoteSetHost;
class CPacketConnection;
class CInetConnection;
class LinkIdentity;
struct LinkChoice;

inline constexpr DWORD kStatusPeriodMs = 300;
inline constexpr DWORD kCaptionPeriodMs = 1001;

// Progress of a transfer in percent (at most 100; 0 for an empty total) and
// its rate in bytes per second, in 64-bit arithmetic.
DWORD TransferPercent(ULONGLONG done, ULONGLONG total);
DWORD TransferRate(ULONGLONG bytes, DWORD elapsedMs);

class CMainFrame : public QMainWindow {
public:
    CMainFrame(CKivApp& app, Station& station);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the window with the title (the first creation stage runs inside).
    BOOL Create(const std::string& title);
    platform::HWND Hwnd() const;

    // A command as the buttons and menus send it.
    void OnCommand(WPARAM id);

    // Creation stages and life.
    int OnCreate();
    void PostCreate();
    BOOL DoActivate(BOOL on);
    void OnDestroy();
    void OnClose();
    // Closes as OnClose does, without a login and without asking: the peer is
    // told <Disconnect> at once (a request to end from outside, a signal).
    void CloseWithoutAsking();

    // The loop.
    void DoLoopProcess() { m_station.DoLoopProcess(); }
    void WakeLoop() { m_station.WakeLoop(); }
    void RunPassNow() { m_station.RunPassNow(); }
    void DoIdleStep();
    void UpdateStatus();
    void UpdateCaption(bool force);

    // Connections.
    BOOL MakeDisconnect(LONG reason, LONG listen) { return m_station.MakeDisconnect(reason, listen); }
    BOOL Login(DWORD flags, const char* prompt = nullptr);
    LONG SetListenOn(LONG mode) { return m_station.SetListenOn(mode); }
    BOOL ConnectToInternet() { return m_station.ConnectToInternet(); }
    void AutoConnect(const std::string& target);
    void OnConnectConnect();
    void CleanupAfterDisconnect(BOOL flag);
    void OnTVN_DoConnect(const char* name, const char* number);
    // The login before a call: fills the login record the hello carries.
    bool LoginForCall();

    // Site and kit services.
    void OnTogglePollTriggers() { m_station.OnTogglePollTriggers(); }
    void OnUserActionAck(WPARAM token) { m_station.OnUserActionAck(token); }
    // The link's file-receive state with its figures; the percent is left as
    // it was while the total is 0. Outputs may be null. Returns 0.
    DWORD GetFileStatus(std::string* fileName, LONG* status, DWORD* percent, ULONGLONG* total, ULONGLONG* done,
                        LONG* kind, LONG* rate);
    int GetRemoteVersion(int* kind, char* text, std::size_t size);
    BOOL GetSiteInfo(BYTE (&out)[kSiteInfoBytes]) const { return m_station.GetSiteInfo(out); }
    void SetSiteInfo(const BYTE (&in)[kSiteInfoBytes]) { m_station.SetSiteInfo(in); }
    void InitializeSiteInfo() { m_station.InitializeSiteInfo(); }
    void OnHardwareProfilesReceived(WPARAM wParam);
    // The link ended or failed (wParam: the string id of the cause, lParam: its
    // text or 0): closes the chat and tells the user once per connection.
    void OnDisconnectMessage(WPARAM cause, LPARAM text);
    void OnConnectDisconnectAttendedTimeout() { m_station.OnConnectDisconnectAttendedTimeout(); }
    // Stops a file that is arriving; 0 when the link agreed, 1 otherwise.
    LRESULT CancleFileReceiving() { return m_station.CancleFileReceiving(); }

    // The state of a command for its menu item or button (its update handler).
    CommandUi UpdateCommand(WPARAM id);
    // Received snapshots: the pictures and event files a connection left in
    // the Snapshots folder, and those beside a received file.
    void SnapshotIsRemove() { m_station.SnapshotIsRemove(); }
    void RemoveRemoteSnap(const std::string& receivedPath) { m_station.RemoveRemoteSnap(receivedPath); }
    // Services of the main window for the kit and the remote view.
    int GetFileDetails(const char* path, WORD* adapter, WORD* camera, DWORD* snapshots, DWORD (&eventTime)[2],
                       DWORD (&endValues)[2]);
    int NotifyRecordStart(const char* fileName, DWORD type, DWORD kind);
    int NotifyRecordFinish(const char* fileName, DWORD type, DWORD kind);
    int NotifyGetProfileDone(const char* profile, WORD result);
    int NotifySetProfileDone(const char* profile, WORD result);
    // The remote settings manager (null before the second start-up stage) and
    // the remote settings command: the editor for the connected site.
    CRemoteSetMgr* GetRemoteSetMgr() const { return m_pRemoteSetMgr.get(); }
    void OnRemoteSettings();
    // The kit's profile requests, served by the remote settings manager: fetch
    // the site's list into a file, send a file to the site, the progress in
    // percent (0xFFFF while none runs) and the cancel of a transfer (upload
    // nonzero: the sending direction). 0 when refused or without a manager.
    int RemoteGetProfile(const char* path);
    int RemoteSetProfile(const char* path);
    int RemoteGetProfileState(WORD upload, DWORD* percent);
    int RemoteCancelProfile(WORD upload);
    int GetAudioState(int kind, DWORD* value);
    int SetAudioOutMute(int muted);
    int GetProtocolVersion();
    // Hands the remote station window the quality as its frame rate; false
    // when there is no remote window to take it.
    bool SetQuality(WPARAM quality);
    int PlayEventSound(int kind);
    void OnMovieRecordStart();
    void OnTessDisconnect(WPARAM reason) { m_station.MakeDisconnect(static_cast<LONG>(reason), 1); }
    void OnSendSiteInfo() { m_station.OnSendSiteInfo(); }
    // The peer's "<CloseYourVideo>", "<VIDEORPAUSE>", "<VIDEORRESUME>" or "<VIDEOPALETTE>".
    void OnPeerVideoRequest(WPARAM token) { m_station.OnPeerVideoRequest(token); }
    // Whether the peer asked to pause this station's video (and not yet to resume).
    bool MyVideoPausedByPeer() const { return m_station.MyVideoPausedByPeer(); }
    // Puts the call on hold on this side while the link is up, or takes it
    // off hold (the command 32802 of the buttons and the remote window).
    void ToggleHold();
    // Holds the call on this side (true) or releases it while the link is up;
    // nothing when it already is so.
    void SetHold(bool on);
    // The text of a button's tool tip (at most 80 characters; empty for a
    // button without one).
    std::string OnToolTipText(WPARAM id) const;
    // A call result's text and the kit's disconnect reason for the result's
    // string id; other ids leave both outputs as they were.
    static void GetCallResultText(UINT stringId, std::string* text, int* code);
    // "<status>:<text of the code>"; returns 1.
    static int FormatStatusText(int code, std::string* text);
    // This station's identity for its card: its GUID key (made at the first
    // start) and the name and phone stored with it. Returns 0.
    int ReadGenSettings();
    // The connected site's folder of recorded event and talk files (the
    // site's name); empty while no site information is kept.
    std::string RecordingStation() const;
    // The split view's cycle delay (seconds); false without a split view.
    bool SetSequenceDelay(DWORD seconds);
    // The split view of the site's cameras; null before the second start-up stage.
    CRemoteQuad* SplitView() const;
    struct MyCardRecord {
        std::string name;   // at most kMyCardNameChars
        std::string phone;  // at most kMyCardPhoneChars
    };
    static constexpr std::size_t kMyCardNameChars = 64;
    static constexpr std::size_t kMyCardPhoneChars = 32;
    const MyCardRecord& MyCard() const { return m_myCard; }
    CommsRecord* GetCommsSettings() { return &m_settings.comms; }
    VideoRecord* GetVideoSettings() { return &m_settings.video; }

    // Accessors for the other parts and tests.
    CPacketConnection* Connection() const { return m_pConnection; }
    // The station this window shows.
    trennick::Station& Station() const { return m_station; }
    // The audio client (talk over the link); null before the second start-up stage.
    CAudComp* AudComp() const { return m_pAudComp.get(); }
    bool IsInetLink() const { return m_inet != nullptr; }
    CFrameSettings& Settings() { return m_settings; }
    CommsSettingsRecord& LinkComms() { return m_station.LinkComms(); }
    CDBLumoRemote* RemoteDB() const { return m_station.RemoteDB(); }
    // The road of the site's video to its recording; null before the second stage.
    CReceivedVideo* ReceivedVideo() const { return m_video.get(); }
    // This station's settings database once a peer's text request has read it; null before.
    CDBLumoLocal* LocalDB() const { return m_station.LocalDB(); }
    CFrameMenu* Menu() const { return m_menu.get(); }
    CFrameButtonRow* ButtonRow() const { return m_buttonRow.get(); }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    CLcdPanel* LcdPanel() const { return m_pLcdPanel; }
    CLocalImage* LocalImage() const { return m_localImage; }
    // The connected site's card in the expanded part of the window; it shows
    // once the site's card arrived and is cleared when the call ends.
    CBCWnd* HisCardWindow() const { return m_hisCard; }
    bool HisCardShown() const { return m_hisCardHeld; }
    CTessIntegration* TessIntegration() const { return m_pTessIntegration; }
    // The last timed notice shown and how many serial-out messages the link handed over.
    const std::string& LastNotice() const { return m_lastNotice; }
    // How many received events the frame announced.
    int EventsAnnounced() const { return m_eventsAnnounced; }
    DWORD SerialOutMessages() const { return m_serialOutMessages; }
    bool SiteLocked() const { return m_station.SiteLocked(); }
    int RecordMode() const { return m_recordMode; }
    bool CardSentThisConnection() const { return m_station.CardSentThisConnection(); }
    bool AboutShown() const { return m_aboutShown; }
    // The name on the card the peer sent in this program's life; empty while none came.
    const std::string& PeerCardName() const { return m_station.PeerCardName(); }
    // The peer card's picture shown in the local picture window; empty while none.
    const std::string& CardPicture() const { return m_cardPicture; }
    CRemoteRequests* Requests() const { return m_station.Requests(); }
    // The video coordinator and the capture object that stands for the site's card.
    CVideoMain* VideoMain() const { return m_videoMain.get(); }
    CLumoraRemote* RemoteCapture() const { return m_pLumora.get(); }
    // The collaboration windows (file transfer, chat, statistics, card exchange).
    CFramePanels* Panels() const { return m_panels.get(); }
    // The snapshot, link profile and camera sequence windows.
    CFrameRemoteViews* RemoteViews() const { return m_views.get(); }
    CKivApp& App() { return m_app; }
    _tag_user& LoginRecord() { return m_loginRecord; }
    CKeepAliveThread* KeepAlive() const { return m_station.KeepAlive(); }
    bool WaitingForArmAck() const { return m_station.WaitingForArmAck(); }
    bool IsDestroyed() const { return m_destroyed; }
    bool PostCreateDone() const { return m_postCreateDone; }
    DWORD LoopPasses() const { return m_station.LoopPasses(); }
    // The period the main timer runs at now (10 ms, or longer while resting).
    UINT LoopPeriodMs() const { return m_station.LoopPeriodMs(); }
    void SetLoginGrace(int count) { m_loginGrace = count; }
    // Text of the status control.
    std::string StatusText() const;
    // Queues a file for the peer: through the file transfer window when it
    // exists, else straight on the link as an ordinary file. False when the
    // link refuses (another send is under way).
    BOOL SendFile(const std::string& path, const std::string& typeText) { return m_station.SendFile(path, typeText); }
    // The file transfer step of a loop pass while no transfer window drives it.
    void FileTransferStep() { m_station.FileTransferStep(); }
    // A card (or its picture) the peer sent: shown through the requests' DisplayHisCard.
    void CardStep() { m_station.CardStep(); }
    // Names the address book's file and the user its log entries carry.
    void openAddressBook(CAddrBookFile& book) const;
    // The last send that ended (the link's final state, 0 while none ended) and
    // the path of the last file that arrived whole.
    LONG LastSendResult() const { return m_station.LastSendResult(); }
    const std::string& LastReceivedFile() const { return m_station.LastReceivedFile(); }
    // The chat window handed to the link, when one is open.
    LinkChatWindow* ChatWindow() const { return m_chat; }
    // Who asks for the chat window: the user (told when there is none) or the
    // peer's text (kept in the capture file, quietly).
    enum class ChatOpener { User, Peer };
    void OnOpenChat(ChatOpener opener);
    // Where the peer's chat text is kept while no chat window shows it.
    std::string ChatCapturePath() const { return m_station.ChatCapturePath(); }
    // <home folder>/data/AddrBook.kiv: the address book of received cards.
    std::string AddressBookPath() const;
    // The engine's self-closing notice, when the frame window exists.
    void ShowTimedMessage(const std::string& text, const std::string& title, DWORD ms);
    // A notice the link posted: shown in the self-closing notice, which one
    // at a time replaces the one shown; nothing waits for it.
    void ShowLinkNotice(const std::string& text);
    int LinkNoticesShown() const { return m_linkNotices; }
    // A DDE conversation ended: the link's user interface counts as hidden.
    void MarkUiHidden() { m_uiHidden = 1; }
    int UiHidden() const { return m_uiHidden; }
    CDdeServer* DdeServer() const { return m_dde.get(); }
    // Whether the operator's recording is on.
    bool IsRecording() const { return m_recording; }
    // Who this station is talking to, as the status shows it.
    std::string CurrentConnectionText() const { return m_station.PeerText(); }
    // Calls a number with the site's login given (the kit's dial); nothing
    // happens while a call is up.
    void Dial(const std::string& number, const std::string& user, const std::string& password);
    // The operator's commands on the site and the program's services.
    void OnAudioOutToggle();
    bool AudioOutMuted() const { return m_audioOutMuted; }
    // Starts the log viewer (chronview in the program folder) on the current log.
    void OnChronview();
    // Opens the help; a help that cannot be opened is told.
    void OnHelp();
    // The options sheet, opened on page `firstPage` (0 to 3); when it ends
    // with OK its copies become the frame's settings, are stored and reach
    // the link. False when it was not shown (the program runs hidden).
    bool ShowOptions(int firstPage);
    // The copies the options sheet opens with, and their taking over.
    OptionsData OptionsCopies() const;
    void TakeOptions(const OptionsData& data);
    // The setup wizard: the modem line (modem link only) and this station's
    // card; on Finish they are stored. False when it was not shown.
    bool RunSetupWizard();
    // The video display's current picture of the site, written to a new
    // picture file in the site's snapshot folder; its path, or empty while
    // no picture is shown.
    std::string CaptureVideoPicture();
    // The site book: the chosen station is called. False when not shown.
    bool OpenSiteBook();
    // The site book control the dialog hosts instead of creating one.
    void UseSiteBookControl(IDispatch* control) { m_siteBookControl = platform::com::ComPtr<IDispatch>::addRef(control); }
    // The station name and number the site book chose last.
    const std::string& SiteBookName() const { return m_siteBookName; }
    const std::string& SiteBookNumber() const { return m_siteBookNumber; }
    // Whether the connected site runs one of the versions whose settings and
    // arming this program cannot drive.
    bool IsOldSiteVersion();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class CFramePanels;
    friend class FrameStationHost;
    friend class FrameAudioHost;
    friend class FrameRequestsHost;
    friend class FrameRemoteView;

    void buildWidgets();
    // The command table: each command's action, registered by its group.
    void command(std::initializer_list<WPARAM> ids, const std::function<void(WPARAM)>& action);
    void registerCallCommands();
    void registerWindowCommands();
    // The rows of the private messages the frame owns, in the station's table.
    void registerRows();
    void registerLampRows();
    void registerKitRows();
    std::string peerText() const { return m_station.PeerText(); }
    void notAvailable(const char* what);
    // Shows the remote station window with the site's live video.
    void OpenVideoDisplay();
    void attachVideo();
    // Copies the remote window's video settings into the frame's video record.
    void keepRemoteVideoSettings();
    int message(UINT stringId, int kind, const std::string& fallback);
    void logEntry(short eventId, const std::string& info) { m_station.LogEntry(eventId, info); }
    DWORD now() const;
    void destroyWindow();
    void buildToolBar();
    void showTimedString(UINT stringId);
    void serialOutMessage(const BYTE* message, DWORD length);
    void onConnectionStarted(WPARAM value);
    void setButtonShown(WPARAM id, bool on);
    void enableButton(WPARAM id, bool on);
    // What the frame shows of the station's events.
    void showArm(const ArmChanged& event);
    void showPeerCard(const PeerCard& event);
    // Files the cards received from sites, oldest first.
    void fileReceivedCards();
    void closeChat();

    CKivApp& m_app;
    trennick::Station& m_station;
    CFrameSettings& m_settings;
    _tag_user& m_loginRecord;
    CPacketConnection* m_pConnection;
    CInetConnection* m_inet;
    std::unique_ptr<FrameStationHost> m_stationHost;
    std::unique_ptr<MessageRows> m_rows;
    std::unordered_map<WPARAM, std::function<void(WPARAM)>> m_commands;
    std::unique_ptr<FrameAudioHost> m_audioHost;
    std::unique_ptr<CAudComp> m_pAudComp;
    std::unique_ptr<CTimeMsgBox> m_pTimeMsgBox;
    std::unique_ptr<FrameRequestsHost> m_requestsHost;
    // The video view goes before the link it is bound to.
    std::unique_ptr<FrameRemoteView> m_remoteView;
    std::unique_ptr<CLumoraRemote> m_pLumora;
    std::unique_ptr<RemoteVideoSettings> m_videoView;
    std::unique_ptr<CVideoMain> m_videoMain;
    CTessIntegration* m_pTessIntegration = nullptr;
    std::unique_ptr<CReceivedVideo> m_video;
    std::unique_ptr<CDdeServer> m_dde;
    std::unique_ptr<FrameRemoteSetHost> m_remoteSetHost;
    std::unique_ptr<CRemoteSetMgr> m_pRemoteSetMgr;
    std::unique_ptr<CFramePanels> m_panels;
    std::unique_ptr<CFrameRemoteViews> m_views;
    LinkChatWindow* m_chat = nullptr;
    std::string m_strTitle;

    // Widgets.
    QLabel* m_status = nullptr;
    CLcdPanel* m_pLcdPanel = nullptr;
    std::unique_ptr<CFrameButtonRow> m_buttonRow;
    std::unique_ptr<CFrameMenu> m_menu;
    QToolBar* m_wndToolBar = nullptr;
    CLocalImage* m_localImage = nullptr;
    CBCWnd* m_hisCard = nullptr;
    bool m_hisCardHeld = false;
    void showHisCard(const std::string& name, const std::string& phone, const std::string& details);
    std::string m_lastNotice;
    // Cards confirmed to the peer and not yet in the address book.
    std::vector<tagBusinessCard> m_cardsToFile;
    int m_eventsAnnounced = 0;
    DWORD m_serialOutMessages = 0;

    // The status texts' clocks.
    DWORD m_lastStatusMs = 0;
    bool m_statusClockStarted = false;
    ULONGLONG m_lineBytesSeen = 0;  // the link's byte count at the last status
    DWORD m_lastCaptionMs = 0;
    bool m_captionClockStarted = false;

    // The window's life.
    bool m_closeWithoutAsking = false;
    bool m_destroyed = false;
    bool m_postCreateDone = false;
    bool m_firstPass = true;
    int m_loginGrace = 0;
    int m_uiHidden = 0;
    bool m_loggedStart = false;
    MyCardRecord m_myCard;
    bool m_audioOutMuted = false;
    int m_pointerActivity = 0;
    int m_recordMode = 0;
    bool m_recording = false;
    bool m_restoreFlag = true;
    bool m_aboutShown = false;
    platform::com::ComPtr<IDispatch> m_siteBookControl;
    std::string m_siteBookName, m_siteBookNumber;
    // Windows can be asked of the user (shown, and somebody to answer).
    bool canAsk() const;
    void applyLinkSettings() { m_station.ApplyLinkSettings(); }
    std::string m_cardPicture;
    DWORD m_receivedEvents = 0;
    DWORD m_receivedEventLists = 0;
    int m_linkNotices = 0;
};

}  // namespace trennick
