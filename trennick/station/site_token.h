#pragma once
// A command token for the connected site, sent on the operator's or the
// station's behalf (lock, arm, record, upgrade...). A token the line did not
// take is traced; the caller decides whether anything else follows.

#include "platform/types.h"

namespace trennick {

class CPacketConnection;

// Sends `token` over `link`; false (traced) when the line did not take it.
bool SendTokenToSite(CPacketConnection& link, WORD token);

}  // namespace trennick
