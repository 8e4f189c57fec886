#include "trennick/clients/zo_serial_client.h"

#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"

#include <string>

namespace trennick {

CZoSerial* gZoSerial = nullptr;

CZoSerial::CZoSerial() {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    const HRESULT hr = CoCreateInstance(CLSID_ZoSerial, nullptr, CLSCTX_ALL, IID_IZoSerial, m_serial.putVoid());
    if (FAILED(hr)) {
        m_serial.reset();
        linkTrace(5, "CZoSerial::CZoSerial() Creation of the IZoSerial failed!!!\n");
    }
}

CZoSerial::CZoSerial(IZoSerial* server) : m_serial(platform::com::ComPtr<IZoSerial>::addRef(server)) {}

CZoSerial::~CZoSerial() {
    m_serial.reset();
    if (m_comInitialised) {
        CoUninitialize();
    }
}

void CZoSerial::Open() {
    if (!m_serial) {
        return;
    }
    ZoSerialConfig config{};
    m_serial->GetConfig(reinterpret_cast<LONG*>(&config));
    CKcReg reg = ProductKey("Video\\Rs232");
    // The time-outs are kept with the settings; the server takes the line's
    // own from its settings file.
    DWORD timeouts[5] = {0, 0, 0, 1, 1};
    const char* names[5] = {"ReadIntervalTimeout", "ReadTotalTimeoutConstant", "ReadTotalTimeoutMultiplier",
                            "WriteTotalTimeoutConstant", "WriteTotalTimeoutMultiplier"};
    for (int i = 0; i < 5; ++i) {
        reg.GetDwordDefault(nullptr, names[i], &timeouts[i]);
    }
    DWORD port = 1;
    reg.GetDwordDefault(nullptr, "Rs232OutPort", &port);
    config.port = static_cast<BYTE>(port);
    m_serial->SetConfig(reinterpret_cast<LONG*>(&config));
    if (m_serial->Connect() != S_OK) {
        linkTrace(5, "CZoSerial::CZoSerial() Connection to the COM port Failed!!!!\n");
    }
    m_state = kZoSerialOpen;
}

void CZoSerial::Finish() {
    linkTrace(5, "CZoSerial::Finish()");
    if (!m_serial) {
        m_state = kZoSerialClosed;
        return;
    }
    if (m_serial->Disconnect() == S_OK) {
        m_state = kZoSerialClosed;
    }
}

int CZoSerial::AddBuffer(const BYTE* data, DWORD length) {
    if (!m_serial || (m_state != kZoSerialOpen && m_state != kZoSerialSending)) {
        return 1;
    }
    m_state = kZoSerialSending;
    LONG overflow = 0;
    m_serial->IsOverflow(kZoSerialWriteFifo, &overflow);
    if (overflow != 0) {
        linkTrace(5, "CZoSerial::AddBuffer() Failed!!!! Overflow condition");
        return 0;
    }
    ULONG taken = 0;
    m_serial->SendData(const_cast<BYTE*>(data), length, &taken);
    return 1;
}

}  // namespace trennick
