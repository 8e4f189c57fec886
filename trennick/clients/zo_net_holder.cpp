#include "trennick/clients/zo_net_holder.h"

#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "platform/com/oleauto.h"

namespace trennick {

ZoNetHolder::ZoNetHolder(const char* who) : m_who(who) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    if (FAILED(CoCreateInstance(CLSID_ZOTCPServer, nullptr, CLSCTX_INPROC_SERVER, IID_IZoNet, m_pIZoNet.putVoid()))) {
        LUMO_TRACE(1, "%s::%s() CoCreateInstance( CLSID_ZOTCPServer) Failed", who, who);
        m_pIZoNet.reset();
    }
}

ZoNetHolder::ZoNetHolder(const char* who, IZoNet* component)
    : m_who(who), m_pIZoNet(platform::com::ComPtr<IZoNet>::addRef(component)) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
}

ZoNetHolder::~ZoNetHolder() {
    if (m_pIZoNet) {
        m_pIZoNet->Disconnect();
        m_pIZoNet->FifoFree();
        m_pIZoNet->Close();
        m_pIZoNet.reset();
    }
    if (m_comInitialised) CoUninitialize();
}

bool ZoNetHolder::Open(DWORD fifoBytes, DWORD maxBitRate) {
    if (!m_pIZoNet) return false;
    if (FAILED(m_pIZoNet->Open(0))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->Open failed", m_who);
        return false;
    }
    if (FAILED(m_pIZoNet->FifoInit(static_cast<LONG>(fifoBytes)))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->FifoInit failed", m_who);
        return false;
    }
    if (FAILED(m_pIZoNet->SetMaxBitRate(static_cast<LONG>(maxBitRate)))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->SetMaxBitRate failed", m_who);
    }
    return true;
}

bool ZoNetHolder::Connect(const char* address) {
    if (!m_pIZoNet) return false;
    const char* text = address != nullptr ? address : "";
    BSTR bstr = SysAllocString(text);
    const HRESULT hr = m_pIZoNet->Connect(0, bstr);
    SysFreeString(bstr);
    if (FAILED(hr)) {
        LUMO_TRACE(1, "%s::Connect m_pIZoNet->Connect (%s) failed", m_who, text);
        return false;
    }
    return true;
}

bool ZoNetHolder::IsConnected() {
    if (!m_pIZoNet) return false;
    LONG state = 0;
    if (FAILED(m_pIZoNet->GetState(&state))) {
        LUMO_TRACE(1, "%s::IsConnected() m_pIZoNet->GetState Failed", m_who);
        return false;
    }
    return state == ZONET_STATE_CONNECTED;
}

bool ZoNetHolder::ConnectedFor(const char* operation) {
    if (!m_pIZoNet) return false;
    if (!IsConnected()) {
        LUMO_TRACE(1, "%s::%s request but eState != ZONET_STATE_CONNECTED ", m_who, operation);
        return false;
    }
    return true;
}

LONG ZoNetHolder::clientCount() {
    LONG count = 0;
    if (!m_pIZoNet || FAILED(m_pIZoNet->GetClientCount(&count))) return m_clients;
    return count;
}

bool ZoNetHolder::ClientsRose() {
    const LONG count = clientCount();
    if (count <= m_clients) return false;
    m_clients = count;
    return true;
}

bool ZoNetHolder::ClientsFell() {
    const LONG count = clientCount();
    if (count >= m_clients) return false;
    m_clients = count;
    return true;
}

}  // namespace trennick
