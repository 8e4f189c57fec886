#include "trennick/net/inet_connection.h"

namespace trennick {

CInetConnection* g_pInetConnection = nullptr;

CInetConnection::CInetConnection(const LinkServices& services, const InetOptions& options)
    : CPacketConnection(services, std::make_unique<InetTransport>(services, options)),
      m_tcp(static_cast<InetTransport*>(&Transport())) {
    g_pInetConnection = this;
}

CInetConnection::~CInetConnection() {
    if (g_pInetConnection == this) g_pInetConnection = nullptr;
}

}  // namespace trennick
