#pragma once
// The recorder's word to the watchdog program: "IAMALIVE" every so often from
// the main loop, "IAMDEAD" when the main window goes. The watchdog is the
// top-level window of class kWatchdogClass (any title); without one nothing is
// sent. Each text goes as WM_COPYDATA (data word 0, the text with its
// terminating zero) and waits at most kHeartbeatSendTimeoutMs for the
// watchdog, so a hung watchdog never holds the loop.
//
// Threads: called on the user-interface thread. Failures are reported by result.

#include "platform/message_window.h"
#include "platform/types.h"

namespace trennick {

inline constexpr char kWatchdogClass[] = "GANTREL-CLASS";
inline constexpr UINT kHeartbeatSendTimeoutMs = 1000;
inline constexpr char kHeartbeatAlive[] = "IAMALIVE";
inline constexpr char kHeartbeatDead[] = "IAMDEAD";

// Sends the text to the watchdog from `sender`; true when a watchdog took it.
bool NotifyShell(const char* text, platform::HWND sender);

}  // namespace trennick
