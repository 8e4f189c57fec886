#include "trennick/station/site_token.h"

#include "common/lumo_deb.h"
#include "trennick/link/packet_connection.h"

namespace trennick {

bool SendTokenToSite(CPacketConnection& link, WORD token) {
    if (link.SendAcknowledgment(token, TRUE) != 0) return true;
    LUMO_TRACE(3, "token %u was not written to the line", static_cast<unsigned>(token));
    return false;
}

}  // namespace trennick
