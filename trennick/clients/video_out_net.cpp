#include "trennick/clients/video_out_net.h"

#include "common/lumo_deb.h"
#include "platform/com/oleauto.h"
#include "tavicore/product_key.h"

namespace trennick {


CVideoOutNet::CVideoOutNet(const char* address) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    if (FAILED(CoCreateInstance(CLSID_ZOTCPServer, nullptr, CLSCTX_INPROC_SERVER, IID_IZoNet, m_pIZoNet.putVoid()))) {
        LUMO_TRACE(1, "CVideoOutNet::CVideoOutNet() CoCreateInstance( CLSID_ZOTCPServer) Failed");
        return;
    }
    start(address);
}

CVideoOutNet::CVideoOutNet(IZoNet* component, const char* address)
    : m_pIZoNet(platform::com::ComPtr<IZoNet>::addRef(component)) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    if (m_pIZoNet) start(address);
}

void CVideoOutNet::start(const char* address) {
    // A failed open is traced; serving is still tried, as the component may
    // serve without its limits.
    if (!Open()) LUMO_TRACE(1, "CVideoOutNet::CVideoOutNet() Open Failed");
    m_connectRequested = 1;
    if (!Connect(address)) LUMO_TRACE(1, "CVideoOutNet::CVideoOutNet() Connect Failed");
}

CVideoOutNet::~CVideoOutNet() {
    if (m_pIZoNet) {
        m_pIZoNet->Disconnect();
        m_pIZoNet->FifoFree();
        m_pIZoNet->Close();
        m_pIZoNet.reset();
    }
    if (m_comInitialised) CoUninitialize();
}

BOOL CVideoOutNet::Open() {
    if (!m_pIZoNet) return FALSE;
    const DWORD fifoSize = ProductDwordBack("Video\\Network", "ZoNetFifoSize", 512000);
    const DWORD maxBitRate = ProductDwordBack("Video\\Network", "MaxBitRate", 900000);
    if (FAILED(m_pIZoNet->Open(0))) {
        LUMO_TRACE(1, "CVideoOutNet::Open() m_pIZoNet->Open failed");
        return FALSE;
    }
    if (FAILED(m_pIZoNet->FifoInit(static_cast<LONG>(fifoSize)))) {
        LUMO_TRACE(1, "CVideoOutNet::Open() m_pIZoNet->FifoInit failed");
        return FALSE;
    }
    if (FAILED(m_pIZoNet->SetMaxBitRate(static_cast<LONG>(maxBitRate)))) {
        LUMO_TRACE(1, "CVideoOutNet::Open() m_pIZoNet->SetMaxBitRate failed");
    }
    return TRUE;
}

BOOL CVideoOutNet::Connect(const char* address) {
    if (!m_pIZoNet) return FALSE;
    const char* text = address != nullptr ? address : "";
    BSTR bstr = SysAllocString(text);
    const HRESULT hr = m_pIZoNet->Connect(0, bstr);
    SysFreeString(bstr);
    if (FAILED(hr)) {
        LUMO_TRACE(1, "CVideoOutNet::Connect m_pIZoNet->Connect (%s) failed", text);
        return FALSE;
    }
    return TRUE;
}

BOOL CVideoOutNet::Write(const BYTE* data, DWORD length) {
    if (!m_pIZoNet) return FALSE;
    LONG state = 0;
    if (FAILED(m_pIZoNet->GetState(&state)) || state != ZONET_STATE_CONNECTED) {
        LUMO_TRACE(1, "CVideoOutNet::Write Write request but eState != ZONET_STATE_CONNECTED ");
        return FALSE;
    }
    LONG queued = 0;
    if (FAILED(m_pIZoNet->Write(const_cast<BYTE*>(data), static_cast<LONG>(length), &queued))) {
        LUMO_TRACE(1, "CVideoOutNet::Write m_pIZoNet->Write failed");
        return FALSE;
    }
    return TRUE;
}

BOOL CVideoOutNet::IsConnected() {
    if (!m_pIZoNet) return FALSE;
    LONG state = 0;
    if (FAILED(m_pIZoNet->GetState(&state))) {
        LUMO_TRACE(1, "CVideoOutNet::IsConnected() m_pIZoNet->GetState Failed");
        return FALSE;
    }
    return state == ZONET_STATE_CONNECTED;
}

BOOL CVideoOutNet::CleanBuf() {
    if (!m_pIZoNet) return FALSE;
    if (FAILED(m_pIZoNet->CleanBuf(0))) {
        LUMO_TRACE(1, "CVideoOutNet::CleanBuf() Failed");
        return FALSE;
    }
    m_cleanPending = false;
    return TRUE;
}

LONG CVideoOutNet::clientCount() {
    LONG count = 0;
    if (FAILED(m_pIZoNet->GetClientCount(&count))) return m_clients;
    return count;
}

BOOL CVideoOutNet::OnNewClientConnect() {
    if (!m_pIZoNet) return FALSE;
    const LONG count = clientCount();
    if (count <= m_clients) return FALSE;
    m_clients = count;
    LUMO_TRACE(3, "CVideoOutNet::OnNewClientConnect() New client connected total connected =%d", int(count));
    return TRUE;
}

BOOL CVideoOutNet::OnClientDisconnect() {
    if (!m_pIZoNet) return FALSE;
    const LONG count = clientCount();
    if (count >= m_clients) return FALSE;
    m_clients = count;
    if (count == 0) m_cleanPending = true;
    LUMO_TRACE(3, "CVideoOutNet::OnNewClientConnect() Client Disconnected total connected =%d", int(count));
    return TRUE;
}

bool CVideoOutNet::wantsBufferCleaned() { return m_cleanPending && !IsConnected(); }

}  // namespace trennick
