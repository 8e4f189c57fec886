#include "trennick/audio/audio_net.h"

#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "tavicore/product_key.h"

namespace trennick {

namespace {
// The input's stream is speech coming in: a small fixed rate.
constexpr DWORD kInputBitRate = 50000;
}  // namespace

CAudioNet::CAudioNet(const char* who, const char* address, DWORD maxBitRate) : m_who(who) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    if (FAILED(CoCreateInstance(CLSID_ZOTCPServer, nullptr, CLSCTX_INPROC_SERVER, IID_IZoNet, m_pIZoNet.putVoid()))) {
        LUMO_TRACE(1, "%s::%s() CoCreateInstance( CLSID_ZOTCPServer) Failed", who, who);
        m_pIZoNet.reset();
        return;
    }
    const DWORD fifoSize = ProductDwordBack("Audio", "ZoNetFifoSize", 512000);
    // A failed open or queue set-up is traced and the component kept: serving may still work.
    if (FAILED(m_pIZoNet->Open(0))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->Open failed", who);
    } else if (FAILED(m_pIZoNet->FifoInit(LONG(fifoSize)))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->FifoInit failed", who);
    } else if (FAILED(m_pIZoNet->SetMaxBitRate(LONG(maxBitRate)))) {
        LUMO_TRACE(1, "%s::Open() m_pIZoNet->SetMaxBitRate failed", who);
    }
    const char* text = address != nullptr ? address : "";
    BSTR bstr = SysAllocString(text);
    const HRESULT hr = m_pIZoNet->Connect(0, bstr);
    SysFreeString(bstr);
    if (FAILED(hr)) {
        LUMO_TRACE(1, "%s::Connect m_pIZoNet->Connect (%s) failed", who, text);
    }
}

CAudioNet::~CAudioNet() {
    if (m_pIZoNet) {
        m_pIZoNet->Disconnect();
        m_pIZoNet->FifoFree();
        m_pIZoNet->Close();
        m_pIZoNet.reset();
    }
    if (m_comInitialised) CoUninitialize();
}

bool CAudioNet::IsConnected() {
    if (!m_pIZoNet) return false;
    LONG state = 0;
    if (FAILED(m_pIZoNet->GetState(&state))) {
        LUMO_TRACE(1, "%s::IsConnected() m_pIZoNet->GetState Failed", m_who);
        return false;
    }
    return state == ZONET_STATE_CONNECTED;
}

bool CAudioNet::connectedFor(const char* operation) {
    if (!m_pIZoNet) return false;
    if (!IsConnected()) {
        LUMO_TRACE(1, "%s::%s request but eState != ZONET_STATE_CONNECTED ", m_who, operation);
        return false;
    }
    return true;
}

CAudioInNet::CAudioInNet(const char* address) : CAudioNet("CAudioInNet", address, kInputBitRate) {}

int CAudioInNet::Read(BYTE* buffer, DWORD capacity, DWORD& length) {
    length = 0;
    if (buffer == nullptr || !connectedFor("Read")) return 0;
    LONG got = 0;
    if (FAILED(m_pIZoNet->Read(buffer, LONG(capacity), &got)) || got < 0 || DWORD(got) > capacity) {
        LUMO_TRACE(1, "CAudioInNet::Read m_pIZoNet->Read failed");
        return 0;
    }
    length = DWORD(got);
    return 1;
}

CAudioOutNet::CAudioOutNet(const char* address)
    : CAudioNet("CAudioOutNet", address, ProductDwordBack("Audio", "MaxBitRate", 256000)) {}

int CAudioOutNet::Write(const BYTE* data, DWORD length) {
    if (data == nullptr || !connectedFor("Write")) return 0;
    LONG queued = 0;
    if (FAILED(m_pIZoNet->Write(const_cast<BYTE*>(data), LONG(length), &queued))) {
        LUMO_TRACE(1, "CAudioOutNet::Write m_pIZoNet->Write failed");
        return 0;
    }
    return 1;
}

LONG CAudioOutNet::clientCount() {
    LONG count = m_clients;
    if (!m_pIZoNet || FAILED(m_pIZoNet->GetClientCount(&count))) return m_clients;
    return count;
}

bool CAudioOutNet::OnNewClientConnect() {
    const LONG count = clientCount();
    if (count <= m_clients) return false;
    m_clients = count;
    return true;
}

bool CAudioOutNet::OnClientDisconnect() {
    const LONG count = clientCount();
    if (count >= m_clients) return false;
    m_clients = count;
    return true;
}

}  // namespace trennick
