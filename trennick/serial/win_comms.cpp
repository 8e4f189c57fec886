#include "trennick/serial/win_comms.h"

namespace trennick {

CWinComms::CWinComms(const LinkServices& services, std::unique_ptr<SerialTransport> transport)
    : CPacketConnection(services, std::move(transport)), m_serial(static_cast<SerialTransport*>(&Transport())) {}

}  // namespace trennick
