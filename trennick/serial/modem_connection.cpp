#include "trennick/serial/modem_connection.h"

namespace trennick {

CModemConnection::CModemConnection(const LinkServices& services, bool withTapi)
    : CWinComms(services, std::make_unique<ModemTransport>(services, withTapi)),
      m_modem(static_cast<ModemTransport*>(&Serial())) {}

}  // namespace trennick
