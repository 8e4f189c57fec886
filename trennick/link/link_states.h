#pragma once
// The connection states and the link-up notice that every transport of the
// link (the TCP link and the modem, cable and telephony lines) shares, kept in
// one place so a unit can use more than one transport.

#include "platform/types.h"

namespace trennick {

// Connection states a transport reports (the same numbers on every line).
inline constexpr LONG CS_LISTENING = 2;
inline constexpr LONG CS_CONNECTED = 5;
inline constexpr LONG CS_CONNECTING = 6;

// Sent to the owner window when a call or connection is up (0, 0).
inline constexpr UINT kMsgLinkUp = 32895;

}  // namespace trennick
