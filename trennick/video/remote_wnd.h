#pragma once
// CRemoteWnd: the floating "Remote Camera" window in which the operator's
// station shows the live video of the connected site. It answers the site's
// video opening and hands the link the video manager's pipeline, which
// decodes each frame as it arrives; the window admits the pipeline's frames
// while it can show them, keeps the frame statistics of its pictures, and
// stops when the site closes its video or the link goes down. Around the
// picture it carries the operator's controls: the button row (menu, snapshot,
// hold, recording start and stop, picture size), the status pictures (hold,
// pause, stall, recording), the lower panel with the frame-rate slider and the
// statistics, the context menu, the video toolbar of the site's cameras with
// its trigger marks, the main window's adapters toolbar and the PTZ panel.
//
// Threads: the window and ProcessRemoteVideo belong to the user-interface
// thread, as do the pipeline's calls (VideoPictureView). The peer's new
// settings may be filled from the thread that reads the link; they sit behind
// m_settingsLock and are taken over before the next frame or on the next loop
// pass. What the link tells the window as its remote view (holds, triggers,
// returned remote calls, profiles) is posted to the window's message target
// and handled on its thread. Failures: a missing toolbar, PTZ box or database
// leaves that part out; nothing throws.

#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/link_host.h"
#include "trennick/video/pipeline/video_pipeline.h"
#include "trennick/video/video_wnd.h"

#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CAnimateCtrl;
class QLabel;
class QMenu;
class QSlider;
class QToolBar;
class CLumora;
class CDBLumoRemote;
class CLumoraToolBarControl;
class UiMessageTarget;

namespace trennick {

class CBitmapButton;
class CPacketConnection;
class CVideoMgr;
class CZoPtzUI;

// What the window takes from the main frame's video settings.
struct RemoteVideoSettings {
    CPARAMS params;            // the requested picture size and frame rate word
    DWORD askBeforeVideo = 0;  // ask the operator before the site's video is accepted
    DWORD doubleSize = 0;      // show the picture at twice its size
    DWORD frameRate = 50;      // 0 to 100
    DWORD alwaysOnTop = 0;
    DWORD largePanel = 0;      // the lower panel opens in its large form
};

// The main window's services that the remote window uses.
class RemoteWndHost {
public:
    virtual ~RemoteWndHost() = default;
    // A command for the main window, posted to it: the recording start
    // (32891) and stop (32889), 57347, 32104, 32822, 32826, help, the snapshots (32887 with
    // the stored settings, 65251 the request dialog) and the quad settings
    // dialog (32910).
    virtual void frameCommand(WPARAM id) = 0;
    // The hold of the line on this side, on or off.
    virtual void toggleHold() = 0;
    virtual bool isRecording() = 0;
    virtual void playEventSound(int kind) = 0;
    // A video stream opened (the main window tells the automation kit).
    virtual void videoOpened() = 0;
    // A mouse action in the window while connected.
    virtual void pointerActivity() = 0;
    // Files dropped on the window: they go to the file transfer.
    virtual void filesDropped(const std::vector<std::string>& paths) = 0;
    // The connected peer's kind (1 or 2) and version text; false when unknown.
    virtual bool remoteVersion(int& kind, std::string& text) = 0;
    // The instance id given on the command line; empty without one.
    virtual std::string instanceId() = 0;
    // The main window's adapters toolbar (its actions carry 32892 to 32897).
    virtual QToolBar* adaptersToolBar() = 0;
    // The LCD panel's video lamp, frame-rate meter and remote picture.
    virtual void showVideoLamp(bool on) = 0;
    virtual void setFrameRateMeter(double framesPerSecond) = 0;
    virtual void showRemoteImage(bool on) = 0;
    // The link profile window's share: each decoded frame's length and
    // decode time, and the video stream opening (true) and closing.
    virtual void frameDecoded(DWORD /*length*/, DWORD /*decodeMs*/) {}
    virtual void videoStreamChanged(bool /*open*/) {}
    // The site selected the input a switch asked for: the split view's
    // pending input switch ends.
    virtual void inputSwitchDone() {}
    // The split view of the current adapter (the main window's camera sequence).
    virtual bool splitMode() = 0;
    virtual void setSplitMode(bool on) = 0;
    // The folder of this station's own files, where the hold clip
    // (vi_hold.avi) lies; empty: none.
    virtual std::string holdClipFolder() { return {}; }
    // The PTZ box program the PTZ panel starts when its window is missing.
    virtual std::string ptzProgram() { return "tiltcab"; }
};

// Window states.
enum class RemoteState : BYTE { NotCreated = 0, Idle = 1, Receiving = 3, Paused = 4 };

inline constexpr DWORD kStallAfterMs = 5000;
inline constexpr int kIdleWidth = 176;
inline constexpr int kIdleHeight = 144;
// Below the picture: the separator, the button row and their margins.
inline constexpr int kButtonRowHeight = 33;
// The lower panel's growth of the window, small and large.
inline constexpr int kPanelHeight = 73;
inline constexpr int kLargePanelHeight = 160;

// Private messages of the window.
inline constexpr UINT kMsgRemoteProfile = 0x5980;      // the site's hardware profile arrived
inline constexpr UINT kMsgRemoteFrame = 0x5990;        // posted std::vector<BYTE>: one whole frame
inline constexpr UINT kMsgRemoteVideoState = 0x5A20;   // wParam: the video state
inline constexpr UINT kMsgRemoteVideoState2 = 0x5A26;  // wParam: the video state
inline constexpr UINT kMsgRemoteFrameRate = 0x805F;    // wParam: the frame rate
inline constexpr UINT kMsgRestorePosition = 0x8080;
inline constexpr UINT kMsgRemoteQuery = 0x04C8;        // answered with 1
inline constexpr UINT kMsgRemoteHold = 0x80F8;         // the link's hold: wParam side (0 here, 1 peer), lParam on
inline constexpr UINT kMsgRemotePointer = 0x804D;      // to the main window: a mouse action

// Commands and control ids.
inline constexpr WPARAM ID_RW_IDLE_PICTURE = 850315;
inline constexpr WPARAM ID_RW_HOLD_CLIP = 850310;
inline constexpr const char* kHoldClipFile = "vi_hold.avi";
inline constexpr WPARAM ID_RW_PANEL_CLOSE = 29132;
inline constexpr WPARAM ID_RW_PANEL_OPEN = 29133;
inline constexpr WPARAM ID_RW_MENU = 29126;
inline constexpr WPARAM ID_RW_SNAPSHOT = 32887;
inline constexpr WPARAM ID_RW_HOLD = 32802;
inline constexpr WPARAM ID_RW_START = 138;
inline constexpr WPARAM ID_RW_STOP = 32889;
inline constexpr WPARAM ID_RW_CIF = 133;
inline constexpr WPARAM ID_RW_QCIF = 134;
inline constexpr WPARAM ID_RW_BLINK = 434;
inline constexpr WPARAM ID_RW_STALLED = 29139;
inline constexpr WPARAM ID_RW_SPARE = 29140;
inline constexpr WPARAM ID_RW_HOLDING = 29138;
inline constexpr WPARAM ID_RW_PAUSED = 29141;
inline constexpr WPARAM ID_RW_MARK_LEFT = 29136;
inline constexpr WPARAM ID_RW_MARK_RIGHT = 29137;
inline constexpr WPARAM ID_RW_SLIDER = 850318;
inline constexpr WPARAM ID_RW_STATISTICS = 12774;
inline constexpr WPARAM ID_RW_PAUSE = 32816;
inline constexpr WPARAM ID_RW_TITLE = 32819;
inline constexpr WPARAM ID_RW_ON_TOP = 32855;
inline constexpr WPARAM ID_RW_DOUBLE = 32866;
inline constexpr WPARAM ID_RW_SNAPSHOT_DIALOG = 65251;
inline constexpr WPARAM ID_RW_RECORD = 32891;
inline constexpr WPARAM ID_RW_FRAME_32104 = 32104;
// Picture commands of the menu, served by the main window: 32826 while video
// is received, 32822 while a single picture is received.
inline constexpr WPARAM ID_RW_FRAME_32826 = 32826;
inline constexpr WPARAM ID_RW_FRAME_32822 = 32822;
inline constexpr WPARAM ID_RW_ADAPTER_FIRST = 32892;  // to 32897
inline constexpr int kRwAdapterButtons = 6;
inline constexpr WPARAM ID_RW_CAMERA_FIRST = 65122;   // to 65137
inline constexpr WPARAM ID_RW_QUAD = 32077;
inline constexpr WPARAM ID_RW_QUAD2 = 32078;
inline constexpr WPARAM ID_RW_QUAD_SETTINGS = 32910;
inline constexpr WPARAM ID_RW_PTZ = 32923;
inline constexpr WPARAM ID_RW_TRACKING = 1187;
inline constexpr WPARAM ID_RW_AUTO_SWITCH = 32149;
inline constexpr WPARAM ID_RW_HELP = 57670;
// Tokens of the picture size.
inline constexpr WORD kTokCiff = 48;
inline constexpr WORD kTokQcif = 49;
// The token that asks the peer for the picture size of a command (133 CIF, 134
// QCIF): peers whose version text holds "3.0.9" read the two tokens the other
// way round, and a QCIF-only connection asks for QCIF by either command.
WORD PictureSizeToken(WPARAM command, bool qcifOnly, std::string_view peerVersion);

// The PTZ panel sits this far left of the window.
inline constexpr int kPtzPanelOffset = 151;

class CRemoteWnd : public QWidget, public VideoPictureView, public LinkVideoWindow, public RemoteViewSink {
public:
    CRemoteWnd();
    ~CRemoteWnd() override;

    void SetConnection(CVideoMgr* videoManager, CPacketConnection* connection, RemoteVideoSettings* settings);
    // The main window's services, the remote capture object and the site's
    // settings database (null: none).
    void SetHost(RemoteWndHost* host, CLumora* capture, CDBLumoRemote* database);
    // Asks the operator before the site's video is accepted: 512 yes, 16 no.
    void SetAskVideo(std::function<int()> ask) { m_askVideo = std::move(ask); }
    void CreateVideoWnd();
    void StartVideoWnd();
    void StopVideoWnd();
    // One loop pass of the video road; 0 only when the operator refused the video.
    int ProcessRemoteVideo();
    // side 0 this station, other values the peer.
    void SetHoldState(int side, BOOL on);
    void SetHostedMode(BOOL on);
    DWORD HostedCount() const { return m_hosted; }
    BOOL IsCifSize() const;
    // Toggles the recording indicator at most once a second (after each frame
    // written to an event file).
    void BlinkIndicator();

    // The window's commands (buttons, menu, toolbars) and private messages.
    void OnCommand(WPARAM id);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    platform::HWND Handle() const;
    // The start and stop buttons, picture-size buttons and indicator after the
    // recording state.
    virtual void UpdateVideoButtons(BOOL recording);
    // The context menu as it would show now.
    std::unique_ptr<QMenu> BuildContextMenu();
    // The text of a control's tool tip.
    std::string ToolTipText(WPARAM id) const;

    // VideoPictureView: the video pipeline's frames and pictures.
    bool admitFrame(DWORD frameBytes) override;
    void pictureReady(DWORD frameBytes, DWORD decodeMs) override;
    DWORD nowMs() override { return now(); }
    // LinkVideoWindow.
    int UpdateVideoMgr() override { return 1; }
    void OnNewVideoSettings(WORD remoteVideoState, DWORD width, DWORD height, DWORD frameRateWord) override;
    void SetFrameRate(int rate) override;
    // RemoteViewSink: the link's news, posted to the window's thread.
    void holdChanged(int side, bool on) override;
    void protocolVersionKnown(int) override {}
    void postMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void hwProfilesReceived(int adapters) override;

    // The received video's figures of the current statistics period while
    // video is received: milliseconds since the period start, frames decoded
    // and bytes received in it; zeros otherwise.
    void GetStatistics(DWORD& elapsedMs, DWORD& frames, DWORD& bytes) const;
    // A copy of the video settings as the window keeps them (the operator's
    // frame rate, double size, always on top and panel choices among them).
    void GetVideoSettings(RemoteVideoSettings& out) const;

    // The frame statistics: frames decoded, bytes received, and the rate of
    // the last period (frames per second).
    DWORD FramesDecoded() const { return m_totalDecoded; }
    double FramesPerSecond() const { return m_lastRate; }
    RemoteState State() const { return m_state; }
    std::string StatisticsText() const;
    bool Stalled() const { return m_stalled; }
    QWidget* VideoArea() const { return m_videoArea; }
    BYTE HoldFlags() const { return m_holdFlags; }
    // Whether the recording mark shows its lit picture.
    bool BlinkLit() const { return m_blinkOn; }
    // The hold clip's control (plays while the line is held).
    const CAnimateCtrl* HoldClip() const { return m_holdClip; }
    bool PanelOpen() const { return m_panelOpen; }
    bool SizeChangePending() const { return m_sizeChangePending; }
    bool AutoTriggerTracking() const { return m_autoTrack != 0; }
    // The largest window the operator may drag it to.
    QSize MaximumWindowSize() const;
    // The cameras the last trigger notification marked (adapter, camera), and
    // how many notifications were handled (not dropped).
    std::vector<std::pair<int, int>> LastTriggeredCameras() const { return m_lastTriggered; }
    DWORD TriggersHandled() const { return m_triggersHandled; }
    CLumoraToolBarControl* LumoraBar() const { return m_lumoraBar.get(); }
    CZoPtzUI* PtzPanel() const { return m_ptz.get(); }
    bool PtzPanelShown() const { return m_ptzShown; }
    // The toolbar of the site's cameras, made while connected.
    void ShowLumoraBar(BOOL show);
    void CreateLumoraBar();
    void UpdateLumoraBar();
    void UpdateAdaptersToolBar();
    // Clock of the window (milliseconds); tests move it.
    void SetClock(std::function<DWORD()> clock) { m_clock = std::move(clock); }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    CBitmapButton* addButton(WPARAM id, const char* text, std::initializer_list<UINT> bitmaps);
    QLabel* addPicture(WPARAM id, UINT bitmap, const char* text);
    void applyShownSize();
    void applyNewSettings(DWORD width, DWORD height, DWORD frameRateWord);
    void sendVideoSettings();
    // Drops the frames the pipeline holds for the next pass.
    void dropQueuedFrames();
    void applyPendingSettings();
    void restartStatistics();
    void refreshStatistics(DWORD elapsedMs);
    void layOut(int width, int height);
    int panelGrowth() const;
    void placeControls();
    void showSizeButtons();
    void showStatusPicture();
    void setStalled(bool stalled);
    void playHoldClip();
    void endHoldClip();
    void openPanel(bool controlHeld);
    void closePanel();
    void askPictureSize(WPARAM command);
    void togglePause();
    void toggleDoubleSize();
    void toggleOnTop();
    void quadView(WPARAM command);
    void selectCamera(WORD camera);
    void selectAdapter(WORD adapter);
    void togglePtzPanel();
    void movePtzPanel();
    void destroyLumoraBar();
    void onReceivedTrigger();
    void onReceivedProfile();
    void onRpcDone(WPARAM kind);
    void setTitle(const std::string& text);
    std::string cameraTitle(WPARAM kind);
    // Hands a command of the forwarding table to the main window when its
    // condition holds; false for a command the table does not hold.
    bool forwardToFrame(WPARAM id);
    bool receiving() const;
    bool linkUp() const;
    bool connected() const;
    bool quadSettingsAllowed();
    WORD currentAdapter() const;
    bool profile(tagHWProfile& out) const;
    int quadInputs(const tagHWProfile& profile, WORD adapter) const;
    void savePosition();
    DWORD now() const;

    CVideoMgr* m_videoMgr = nullptr;
    CPacketConnection* m_connection = nullptr;
    RemoteVideoSettings* m_settings = nullptr;
    RemoteWndHost* m_host = nullptr;
    CLumora* m_capture = nullptr;
    CDBLumoRemote* m_database = nullptr;
    std::function<int()> m_askVideo;
    std::function<DWORD()> m_clock;
    std::unique_ptr<UiMessageTarget> m_target;
    RemoteState m_state = RemoteState::NotCreated;
    BYTE m_holdFlags = 0;
    bool m_sizeChangePending = false;
    bool m_panelOpen = false;
    DWORD m_hosted = 0;
    DWORD m_quadMode = 1;
    DWORD m_ptzEnabled = 0;
    DWORD m_autoTrack = 0;
    DWORD m_currentInput = 0;
    DWORD m_lastBlinkMs = 0;
    bool m_blinkOn = false;
    bool m_ptzShown = false;
    DWORD m_profilesSeen = 0;
    int m_pictureWidth = kIdleWidth;
    int m_pictureHeight = kIdleHeight;

    QWidget* m_videoArea = nullptr;
    QLabel* m_idle = nullptr;
    CAnimateCtrl* m_holdClip = nullptr;
    QLabel* m_statistics = nullptr;
    QSlider* m_slider = nullptr;
    std::array<QLabel*, 3> m_separators{};
    std::map<WPARAM, QWidget*> m_controls;
    std::unique_ptr<CLumoraToolBarControl> m_lumoraBar;
    std::unique_ptr<CZoPtzUI> m_ptz;

    // The peer's new settings, filled by the link, taken over before the next
    // frame or at the next loop pass.
    std::mutex m_settingsLock;
    struct NewSettings {
        DWORD width, height, frameRateWord;
    };
    std::optional<NewSettings> m_newSettings;

    bool m_framesSincePass = false;  // a frame arrived since the last loop pass
    DWORD m_lastFrameMs = 0;
    DWORD m_periodStartMs = 0;
    DWORD m_periodFrames = 0;
    DWORD m_periodBytes = 0;
    DWORD m_totalDecoded = 0;
    double m_lastRate = 0;
    bool m_stalled = false;
    std::vector<std::pair<int, int>> m_lastTriggered;
    DWORD m_triggersHandled = 0;
};

}  // namespace trennick
