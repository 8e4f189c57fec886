#pragma once
// The private messages and command ids of the station and its main window.
// Other windows, the link, the keep-alive thread and the station itself post
// them to the station's message window to defer work to its owner thread.

#include "platform/message_window.h"
#include "platform/types.h"
#include "trennick/link/link_host.h"

#include <string>

namespace trennick {

inline constexpr UINT WM_COMMAND = 0x0111;

// A heap object handed to the station by 0x040B; the handler deletes it.
class PostedObject {
public:
    virtual ~PostedObject() = default;
};

// Private messages.
inline constexpr UINT kMsgDeleteObject = 0x040B;       // posted PostedObject: deleted; returns 1
inline constexpr UINT kMsgTrayIcon = 0x0464;           // lParam 514: the left button was released
inline constexpr UINT kMsgQueueFile = 0x0900;          // posted std::string: the path; returns 1
inline constexpr UINT kMsgActivate = 0x5945;           // wParam: DoActivate's flag
inline constexpr UINT kMsgLinkSend = 0x5955;           // posted std::vector<BYTE>: written to the link
inline constexpr UINT kMsgDataLamp3000 = 0x5960;       // the data lamp for 3000 ms; returns 1
inline constexpr UINT kMsgVideoStreaming = 0x5A32;
inline constexpr UINT kMsgLineRing = 0x5A33;
inline constexpr UINT kMsgLockSite = 0x801A;
inline constexpr UINT kMsgUnlockSite = 0x801B;
inline constexpr UINT kMsgPointerActivity = 0x804C;
inline constexpr UINT kMsgDebriefStart = 0x804E;       // posted 264-byte record or none
inline constexpr UINT kMsgVideoWindowRecord = 0x804F;  // posted 20-byte record or none
inline constexpr UINT kMsgFileOfferConfirmed = 0x8065;
inline constexpr UINT kMsgListDownloadStarted = 0x807C;
inline constexpr UINT kMsgEventDownloadStarted = 0x807D;
inline constexpr UINT kMsgLineConnected = 0x807F;
inline constexpr UINT kMsgHelpKey = 0x8081;
// The link's host asks for a lamp or a notice from the link's thread:
// (on, hold ms) for the data lamp, (string id, 0) for a timed notice.
inline constexpr UINT kMsgHostDataLamp = 0x80F1;
inline constexpr UINT kMsgHostNotice = 0x80F2;
// A serial-out message the link received: posted std::vector<BYTE>.
inline constexpr UINT kMsgSerialOutMessage = 0x80F3;
// The peer's chat text went to the capture file (once per connection).
inline constexpr UINT kMsgChatCaptured = 0x80F5;
// The peer's business card, to be filed in the address book after the loop
// pass that received it: posted tagBusinessCard.
inline constexpr UINT kMsgFileCard = 0x80FA;
// A peer's text request changes this station's hardware profile: posted
// LocalProfileEdit, applied on the owner thread so the link's pass never
// waits for the settings to be read.
inline constexpr UINT kMsgLocalProfileEdit = 0x80FB;
inline constexpr UINT kMsgDisconnectMessage = 0x5970;  // (string id or 0, std::string text or none): the link ended
inline constexpr UINT kMsgSyncLost = 0x8016;           // keep-alive: the peer went silent
inline constexpr UINT kMsgSendLamp = 0x8017;
inline constexpr UINT kMsgUserActionRej = 0x8018;      // wParam: the refused token
inline constexpr UINT kMsgUserActionAck = 0x8019;      // wParam: the acknowledged token
inline constexpr UINT kMsgShowHideUi = 0x8050;         // wParam 0 show, 1 hide
inline constexpr UINT kMsgMainTimerTick = 0x8051;      // one loop pass
inline constexpr UINT kMsgChildClosed = 0x805D;        // wParam 2, lParam: kind << 16 | handle
inline constexpr UINT kMsgPostCreate = 0x805E;         // the second creation stage
inline constexpr UINT kMsgSetQuality = 0x805F;
inline constexpr UINT kMsgCancelFileReceive = 0x8064;
inline constexpr UINT kMsgTessArm = 0x8067;
inline constexpr UINT kMsgTessDisarm = 0x8068;
inline constexpr UINT kMsgIsSysArm = 0x8069;           // sent; lParam: DWORD* out
inline constexpr UINT kMsgTessDisconnect = 0x806B;
inline constexpr UINT kMsgSiteBookConnect = 0x8078;    // SiteBookStation
inline constexpr UINT kMsgMakeDisconnect = 0x807E;     // lParam: the reason
inline constexpr UINT kMsgAttendedTimeout = 0x5A23;
// Ends the dropping of 0x8051 messages queued before a pass (see OnMainTimerTick).
inline constexpr UINT kMsgTickFence = 0x80F0;

// The station the site book chose to call.
struct SiteBookStation {
    std::string name;
    std::string number;
};

// Child windows that report their closing.
inline constexpr WORD kChildProfile = 307;
inline constexpr WORD kChildFileTransfer = 136;
inline constexpr WORD kChildChat = 137;

// Commands.
inline constexpr WPARAM ID_CONNECT_DISCONNECT = 32801;
inline constexpr WPARAM ID_CONNECT_CONNECT = 32827;
inline constexpr WPARAM ID_LISTEN = 32791;
inline constexpr WPARAM ID_OPEN_CHAT = 32804;
inline constexpr WPARAM ID_FILE_TRANSFER = 32803;
inline constexpr WPARAM ID_APP_EXIT_CMD = 32809;
inline constexpr WPARAM ID_OPTIONS = 32811;
inline constexpr WPARAM ID_OPTIONS_PAGE4 = 32808;
inline constexpr WPARAM ID_SETUP_WIZARD = 32854;
inline constexpr WPARAM ID_OPEN_DEBRIEF = 32890;
inline constexpr WPARAM ID_TOGGLE_ARM = 32909;
inline constexpr WPARAM ID_SEND_SITE_INFO = 29128;
inline constexpr WPARAM ID_DIAL_40 = 32875;
inline constexpr WPARAM ID_APP_ABOUT = 32795;
inline constexpr WPARAM ID_RESTART_VIDEO = 4600;
inline constexpr WPARAM ID_SITE_BOOK = 4900;
inline constexpr WPARAM ID_COLLAPSE = 29122;
inline constexpr WPARAM ID_EXPAND = 29123;
inline constexpr WPARAM ID_ADDRESS_BOOK = 29127;
inline constexpr WPARAM ID_PHONE = 32871;
// Puts the call on hold on this side, or takes it off hold.
inline constexpr WPARAM ID_HOLD_CALL = 32802;
// The long parameter of a posted ID_HOLD_CALL that names the state wanted
// (the kit's request); any other value toggles the hold.
inline constexpr LPARAM kHoldCallWantedOn = 1;
inline constexpr LPARAM kHoldCallWantedOff = 2;
inline constexpr WPARAM ID_CALL_STORED = 32843;
inline constexpr WPARAM ID_STATISTICS = 32856;
inline constexpr WPARAM ID_DISPLAY_ON = 32857;
inline constexpr WPARAM ID_DISPLAY_OFF = 32858;
inline constexpr WPARAM ID_LINK_REQUEST = 32859;
inline constexpr WPARAM ID_FULL_SCREEN = 32862;
inline constexpr WPARAM ID_START_PROFILE = 32864;
inline constexpr WPARAM ID_END_PROFILE = 32865;
inline constexpr WPARAM ID_USERS = 32882;
inline constexpr WPARAM ID_REMOTE_SETTINGS = 32920;
inline constexpr WPARAM ID_RECORD_STOP = 32889;
inline constexpr WPARAM ID_RECORD_START = 32891;
inline constexpr WPARAM ID_UNLOCK_SITE = 32901;
inline constexpr WPARAM ID_LOCK_SITE = 32902;
inline constexpr WPARAM ID_UPGRADE_SITE = 32914;
inline constexpr WPARAM ID_GET_LOG_FILES = 32916;
inline constexpr WPARAM ID_HELP = 57670;
inline constexpr WPARAM ID_TALK = 65240;  // sending audio on and off
inline constexpr WPARAM ID_ARM = 32921;
inline constexpr WPARAM ID_DISARM = 32922;
inline constexpr WPARAM ID_CHRONVIEW = 32926;
inline constexpr WPARAM ID_REQUEST_SNAPSHOT = 32937;
// The remote view's snapshot (stored settings, dialog) and camera sequence commands.
inline constexpr WPARAM ID_SNAPSHOT_STORED = 32887;
inline constexpr WPARAM ID_SNAPSHOT_DIALOG = 65251;
inline constexpr WPARAM ID_QUAD_SETTINGS = 32910;
inline constexpr WPARAM ID_SEQUENCE_ON = 32077;
inline constexpr WPARAM ID_SEQUENCE_SECOND = 32078;
inline constexpr WPARAM ID_DEBRIEF_BUTTON = 1186;
inline constexpr WPARAM ID_TOOLBAR_FIRST = 32892;  // to 32897: the video toolbar's six buttons
inline constexpr int kToolbarButtons = 6;
// Commands the frame's menu is built with and then loses.
inline constexpr WPARAM kRemovedMenuItems[] = {32859, 32843, 32145, 32883, 32914, 32916, 32104};

// Timer of the main loop.
inline constexpr platform::UINT_PTR kMainTimerId = 999;
inline constexpr UINT kMainTimerPeriodMs = 10;
// While nothing happens the loop rests: after this many quiet passes in a row
// its timer runs at the longer period, and after a further second of them at
// the deep rest period, until a message, the link's news or work in progress
// brings it back to the 10 ms pass. Resting passes remain for the work that
// sends no news: the watchdog's heartbeat (every 10 to 15 s at deep rest; the
// watchdog allows two minutes) and the status texts' refresh.
inline constexpr unsigned kQuietPassesBeforeRest = 20;
inline constexpr UINT kRestTimerPeriodMs = 200;
inline constexpr unsigned kQuietPassesBeforeDeepRest = kQuietPassesBeforeRest + 1000 / kRestTimerPeriodMs;
inline constexpr UINT kDeepRestTimerPeriodMs = 5000;

// Disconnect reasons (message ids of the resource library).
inline constexpr LONG kReasonNone = 0;
inline constexpr LONG kReasonAskKeep = 5180;
inline constexpr LONG kReasonAskDisconnect = 5190;
inline constexpr LONG kReasonAttendTimeout = 5250;
inline constexpr LONG kReasonSyncLost = 5360;
inline constexpr LONG kReasonWrongUser = 61415;
inline constexpr LONG kReasonWrongPassword = 61416;

// Messages of the resource library the station and its window show.
inline constexpr UINT kStrDdeService = 10000;
inline constexpr UINT kStrAudioOutOn = 65261;
inline constexpr UINT kStrAudioOutOff = 65262;
inline constexpr UINT kStrSerialPortFailed = 5450;
inline constexpr UINT kStrAcceptVideo = 5120;
inline constexpr UINT kStrRequestPending = 5280;
inline constexpr UINT kStrDisconnectedCalled = 5300;
inline constexpr UINT kStrDisconnected = 5230;
inline constexpr UINT kStrRestartNeeded = 5310;
inline constexpr UINT kStrUpgradeSite = 5430;
inline constexpr UINT kStrListenOn = 61250;
inline constexpr UINT kStrListenOff = 61251;
inline constexpr UINT kStrHoldCall = 32802;
inline constexpr UINT kStrCallHeld = 32805;
inline constexpr UINT kStrConnectText = 65059;
inline constexpr UINT kStrChatCaptured = 5470;

// Tokens of the site's acknowledgements (the link's token numbers).
inline constexpr WPARAM kTokDisconnect = 7;
inline constexpr WPARAM kTokLockAck = 54;
inline constexpr WPARAM kTokUnlockAck = 56;
inline constexpr WORD kTokEnablePollTriggers = 67;
inline constexpr WORD kTokDisablePollTriggers = 68;
inline constexpr WORD kTokDisarmIgnored = 93;
inline constexpr WORD kTokDisarmAccepted = 94;
inline constexpr WORD kTokAttendTimeoutAnswered = 44;
inline constexpr WORD kTokLockServer = 53;
inline constexpr WORD kTokUnlockServer = 55;
inline constexpr WORD kTokUpgradeVersion = 76;
inline constexpr WORD kTokGetLogFiles = 77;

// Message kinds of the user's message boxes (AppUi::ShowMessage, StationHost::ask).
inline constexpr int kMsgKindError = 0;
inline constexpr int kMsgKindInfo = 1;
inline constexpr int kMsgKindQuestion = 2;

// Answers of the message dialog.
inline constexpr int kAnswerYes = 512;
inline constexpr int kAnswerTimedOut = 16;
// Asked before the remote settings open while an administrator works on an armed site.
inline constexpr UINT kStrSettingsWhileArmed = 5440;

}  // namespace trennick
