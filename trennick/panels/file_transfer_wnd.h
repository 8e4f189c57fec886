#pragma once
// CFileTransfer: the operator's window for moving files between the two
// stations of a connection: the send queue, the progress of the file going out
// and of the file coming in, the histories of sent and received files, the
// clipboard send, and what to do with what arrives. It drives the link's file
// transfer only through the link's send and receive status operations; the
// link announces, moves and checks the files.
//
// The main window owns the one instance, creates it on demand and runs its
// step on each loop pass. User-interface thread only. Failures: what cannot
// be written is told with the system's messages; nothing throws.

#include "platform/types.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_host.h"
#include "trennick/panels/transfer_host.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QStyle>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

class QLabel;
class QPushButton;
class QToolBar;
class QMenu;
class QAction;

namespace trennick {

class CPacketConnection;
class CW95ListView;
class CW95StatusBar;
class CGaugeControl;
class CFileHistory;

// Commands of the window (menu, toolbar, system and context menus).
inline constexpr WPARAM ID_FT_ADD_FILES = 32781;
inline constexpr WPARAM ID_FT_REMOVE = 32782;
inline constexpr WPARAM ID_FT_REMOVE_CTX = 1051;
inline constexpr WPARAM ID_FT_SEND_QUEUED = 32790;
inline constexpr WPARAM ID_FT_SEND_QUEUED_SYS = 32783;
inline constexpr WPARAM ID_FT_SEND_QUEUED_CTX = 1052;
inline constexpr WPARAM ID_FT_OPEN = 32784;
inline constexpr WPARAM ID_FT_OPEN_CTX = 1054;
inline constexpr WPARAM ID_FT_OPTIONS = 32788;
inline constexpr WPARAM ID_FT_RECEIVE = 32791;
inline constexpr WPARAM ID_FT_SEND_CLIPBOARD = 32794;
inline constexpr WPARAM ID_FT_SENT_HISTORY = 32786;
inline constexpr WPARAM ID_FT_RECEIVED_HISTORY = 32787;
inline constexpr WPARAM ID_FT_CLOSE = 32789;
inline constexpr WPARAM ID_FT_STOP_SENDING = 29124;
inline constexpr WPARAM ID_FT_STOP_RECEIVING = 29107;
inline constexpr WPARAM ID_FT_COLLAPSE = 29130;
inline constexpr WPARAM ID_FT_COLLAPSE2 = 29134;
inline constexpr WPARAM ID_FT_EXPAND = 29131;
inline constexpr WPARAM ID_FT_EXPAND2 = 29135;
inline constexpr WPARAM ID_FT_HELP = 32853;

// The main window's commands that this window asks for.
inline constexpr WPARAM kMainCmdConnect = 32827;
inline constexpr WPARAM kMainCmdDisconnect = 32801;
inline constexpr WPARAM kMainCmdListen = 32791;
inline constexpr WPARAM kMainCmdOptionsPage4 = 32808;
inline constexpr WPARAM kMainCmdSendSiteInfo = 29128;

// Messages of the window.
inline constexpr UINT kStrTooManyFiles = 4110;
inline constexpr UINT kStrCloseWhileTransfer = 4180;
inline constexpr UINT kStrSendQueuedMany = 5060;
inline constexpr UINT kStrConnectionLostRead = 5080;
inline constexpr UINT kStrSendQueuedOne = 5110;
inline constexpr UINT kStrOpenReceived = 5140;
inline constexpr UINT kStrTransferTitle = 57346;

// Type texts of queue entries.
inline constexpr const char* kTypeClipboardFile = "Clipboard File";
inline constexpr const char* kTypeSiteInformation = "Site Information";
inline constexpr const char* kTypeEventFile = "Event File";
inline constexpr const char* kTypeEventList = "Event List";
inline constexpr const char* kTypeSetList = "Set List";
inline constexpr const char* kTypeSetSysList = "Set Sys List";

// The send type the link carries for a queue entry's type text.
LONG SendTypeOfText(const std::string& typeText);
// The desktop's type name of a file ("PNG image", ...); "File" when unknown.
std::string ShellTypeName(const std::string& path);
// The desktop's small icon of a file.
QIcon ShellIcon(const std::string& path);

// The window's placement and column widths, stored as one binary value:
// fifteen 32-bit fields, without padding (checked below), so the record is
// kept aligned for the fields' readers.
struct TransferPlacement {
    LONG left = 10, top = 145, width = 400, height = 220;
    LONG expanded = 0;
    LONG queueColumn1 = -1, queueColumn0 = 0;
    std::array<LONG, 4> sentColumns{-1, 0, 0, 0};      // type, station, path, date
    std::array<LONG, 4> receivedColumns{-1, 0, 0, 0};
};
static_assert(sizeof(TransferPlacement) == 60);
static_assert(std::is_trivially_copyable_v<TransferPlacement>);
// The registry value of the placement in the instance's "General" section.
// Not "ScreenSettings": the main window keeps its own placement there.
inline constexpr const char* kTransferPlacementValue = "TransferScreenSettings";

inline constexpr int kLowerBandHeight = 150;
inline constexpr int kMinTrackWidth = 400, kMinTrackHeight = 220;

class CFileTransfer : public QMainWindow {
public:
    CFileTransfer(FileTransferHost& host, CPacketConnection& link);
    ~CFileTransfer() override;
    CFileTransfer(const CFileTransfer&) = delete;
    CFileTransfer& operator=(const CFileTransfer&) = delete;

    // Loads the placement, builds the window and loads the queue file; false
    // when the window could not be built (the caller goes on without it).
    bool CreateWnd(bool startMinimised);
    // The connected station's 877-byte card; only its name (at byte 8) is read.
    void SetSettings(const BYTE* card, std::size_t bytes);

    // Only an existing file is queued. A missing type text takes the desktop's type name. With the send-on-add option and
    // `start`, the send-queued command runs.
    void AddFileToQueue(const std::string& path, const std::string& typeText, bool start);
    // Comma-separated paths; only the last one starts the send.
    void AddFilesToQueue(const std::string& list, const std::string& typeText);

    // One loop pass: the link's read result; -1 and -2 reset both sides.
    void OnTransferStatus(LONG readResult);
    // The transfer step.
    void ProcessTransfer();
    // 0: keep the window; 1 or 2: it may close.
    int CloseFileTransfer(bool hideMessage);
    void ResetTransfer();

    void OnCommand(WPARAM id);
    bool IsCommandEnabled(WPARAM id) const;

    // The clipboard send and the receive side of a clipboard file.
    void SendClipboardContents();
    void PutReceivedOnClipboard(const std::string& path);
    // 0: may be queued; 1: refused; -1: no main window.
    int CheckReleaseFile(const std::string& path);

    // Accessors for the owner and tests.
    CW95ListView& Queue() { return *m_queue; }
    CW95StatusBar& StatusBar() { return *m_statusBar; }
    const TransferPlacement& Placement() const { return m_placement; }
    TransferPlacement& PlacementRecord() { return m_placement; }
    bool TransferActive() const { return (m_flags & kFlagActive) != 0; }
    bool AnimationPlaying() const { return (m_flags & kFlagAnimation) != 0; }
    bool Expanded() const { return m_placement.expanded != 0; }
    std::string PanelName(bool receive) const;
    std::string PanelPercent(bool receive) const;
    std::string PanelRate(bool receive) const;
    // The history dialog shown by the last history command, while it is up.
    CFileHistory* History() const;
    void SaveQueue();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Panel;
    static constexpr BYTE kFlagActive = 1;
    static constexpr BYTE kFlagAnimation = 2;

    void buildWindow();
    // The transfer step of each side: its progress shown, an ended transfer
    // closed and its queue entry removed, the next file started; `hide` is set
    // when the window should go (a system file's transfer, an empty queue),
    // `showWindow` when a received file should show it.
    void stepSending(const TransferSettings& settings, bool& hide);
    void stepReceiving(const TransferSettings& settings, bool& hide, bool& showWindow);
    void readySend();
    void readyReceive(const std::string& folder);
    void stopSend();
    void stopReceive();
    QAction* addCommand(QMenu* menu, const char* text, WPARAM id);
    // The style's icons, each loaded once per window: its panels, its tool
    // bar and its icon flashing while minimised would read the image files
    // again each time.
    const QIcon& styleIcon(QStyle::StandardPixmap which);
    void layoutChildren();
    void updateCommands();
    void loadPlacement();
    void savePlacement();
    void loadQueue();
    void appendHistory(const std::string& file, const std::string& path, const std::string& type);
    void sendQueued();
    void addFilesDialog();
    void showHistory(bool received);
    void setExpanded(bool expand);
    void startAnimation(bool on);
    void panelUpdate(bool receive, const std::string& name, LONG percent, LONG rate);
    void panelReset(bool receive);
    void resetSide(bool receive);
    void removeEntry0();
    void deleteClipboardFile(const std::string& path);
    bool isClipboardTemp(const std::string& path) const;
    std::string stationName() const;
    void showQueueMenu(const QPoint& at);
    int message(UINT id, int kind, const std::string& argument);
    int messageCount(UINT id, int kind, int count);

    FileTransferHost& m_host;
    CPacketConnection& m_link;
    CCommon m_common;
    TransferPlacement m_placement;
    std::array<BYTE, 877> m_card{};
    BYTE m_flags = 0;
    bool m_inStep = false;
    bool m_iconAlternate = false;
    bool m_created = false;

    QToolBar* m_toolBar = nullptr;
    CW95ListView* m_queue = nullptr;
    CW95StatusBar* m_statusBar = nullptr;
    QPushButton* m_collapse = nullptr;
    QPushButton* m_expand = nullptr;
    QLabel* m_animation = nullptr;
    std::unique_ptr<Panel> m_sending;
    std::unique_ptr<Panel> m_receiving;
    std::vector<std::pair<WPARAM, QAction*>> m_actions;
    std::map<QStyle::StandardPixmap, QIcon> m_styleIcons;
    QPointer<CFileHistory> m_history;
    int m_animationFrame = 0;
};

}  // namespace trennick
