#include "trennick/clients/video_out_net.h"

#include "common/lumo_deb.h"
#include "tavicore/product_key.h"

namespace trennick {

CVideoOutNet::CVideoOutNet(const char* address) : m_net("CVideoOutNet") {
    if (m_net) start(address);
}

CVideoOutNet::CVideoOutNet(IZoNet* component, const char* address) : m_net("CVideoOutNet", component) {
    if (m_net) start(address);
}

void CVideoOutNet::start(const char* address) {
    // A failed open is traced; serving is still tried, as the component may
    // serve without its limits.
    if (!Open()) LUMO_TRACE(1, "CVideoOutNet::CVideoOutNet() Open Failed");
    m_connectRequested = 1;
    if (!Connect(address)) LUMO_TRACE(1, "CVideoOutNet::CVideoOutNet() Connect Failed");
}

BOOL CVideoOutNet::Open() {
    if (!m_net) return FALSE;
    const DWORD fifoSize = ProductDwordBack("Video\\Network", "ZoNetFifoSize", 512000);
    const DWORD maxBitRate = ProductDwordBack("Video\\Network", "MaxBitRate", 900000);
    return m_net.Open(fifoSize, maxBitRate) ? TRUE : FALSE;
}

BOOL CVideoOutNet::Connect(const char* address) { return m_net.Connect(address) ? TRUE : FALSE; }

BOOL CVideoOutNet::Write(const BYTE* data, DWORD length) {
    if (!m_net.ConnectedFor("Write")) return FALSE;
    LONG queued = 0;
    if (FAILED(m_net.get()->Write(const_cast<BYTE*>(data), static_cast<LONG>(length), &queued))) {
        LUMO_TRACE(1, "CVideoOutNet::Write m_pIZoNet->Write failed");
        return FALSE;
    }
    return TRUE;
}

BOOL CVideoOutNet::IsConnected() { return m_net.IsConnected() ? TRUE : FALSE; }

BOOL CVideoOutNet::CleanBuf() {
    if (!m_net) return FALSE;
    if (FAILED(m_net.get()->CleanBuf(0))) {
        LUMO_TRACE(1, "CVideoOutNet::CleanBuf() Failed");
        return FALSE;
    }
    m_cleanPending = false;
    return TRUE;
}

BOOL CVideoOutNet::OnNewClientConnect() {
    if (!m_net.ClientsRose()) return FALSE;
    LUMO_TRACE(3, "CVideoOutNet::OnNewClientConnect() New client connected total connected =%d", int(m_net.Clients()));
    return TRUE;
}

BOOL CVideoOutNet::OnClientDisconnect() {
    if (!m_net.ClientsFell()) return FALSE;
    if (m_net.Clients() == 0) m_cleanPending = true;
    LUMO_TRACE(3, "CVideoOutNet::OnNewClientConnect() Client Disconnected total connected =%d", int(m_net.Clients()));
    return TRUE;
}

bool CVideoOutNet::wantsBufferCleaned() { return m_cleanPending && !IsConnected(); }

}  // namespace trennick
