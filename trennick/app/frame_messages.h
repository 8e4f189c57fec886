#pragma once
// The private messages and command ids of the main frame. Other windows, the
// link, the keep-alive thread and the frame itself post them to the frame's
// message window to defer work to the user-interface thread.

#include "platform/message_window.h"
#include "platform/types.h"
#include "trennick/link/link_host.h"

#include <string>

namespace trennick {

inline constexpr UINT WM_COMMAND = 0x0111;

// Private messages.
inline constexpr UINT kMsgDeleteObject = 0x040B;       // lParam: a heap object to free
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
inline constexpr UINT kMsgCpEnabled = 0x806E;
inline constexpr UINT kMsgCpDisabled = 0x806F;
inline constexpr UINT kMsgCpArmed = 0x8070;
inline constexpr UINT kMsgCpDisarmed = 0x8071;
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

// Timer of the main loop.
inline constexpr platform::UINT_PTR kMainTimerId = 999;
inline constexpr UINT kMainTimerPeriodMs = 10;

// Disconnect reasons (message ids of the resource library).
inline constexpr LONG kReasonNone = 0;
inline constexpr LONG kReasonAskKeep = 5180;
inline constexpr LONG kReasonAskDisconnect = 5190;
inline constexpr LONG kReasonAttendTimeout = 5250;
inline constexpr LONG kReasonSyncLost = 5360;

// Tokens of the site's acknowledgements (the link's token numbers).
inline constexpr WPARAM kTokDisconnect = 7;
inline constexpr WPARAM kTokLockAck = 54;
inline constexpr WPARAM kTokUnlockAck = 56;
inline constexpr WORD kTokEnablePollTriggers = 67;
inline constexpr WORD kTokDisablePollTriggers = 68;
inline constexpr WORD kTokAttendTimeoutAnswered = 44;

// Answers of the message dialog.
inline constexpr int kAnswerYes = 512;
inline constexpr int kAnswerTimedOut = 16;

}  // namespace trennick
