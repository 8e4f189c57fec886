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

// Sent (by a transport that reads on the owner's thread) or posted (by one
// that reads on its own thread) to the owner window when bytes arrived on the
// line (0, 0): the owner runs its read pass (TimeToRead) at once instead of at
// its next timer pass, so a block is answered, and the next one sent, as soon
// as the line allows. A transport keeps at most one in flight: the next goes
// only after a read pass has begun.
inline constexpr UINT kMsgLinkDataReady = 0x80FE;

}  // namespace trennick
