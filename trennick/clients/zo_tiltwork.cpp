#include "trennick/clients/zo_tiltwork.h"

#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"

#include <cstring>
#include <string>

namespace trennick {

namespace {

// Frees a BSTR the engine handed out.
struct BstrHolder {
    BSTR text = nullptr;
    ~BstrHolder() { SysFreeString(text); }
    void reset() {
        SysFreeString(text);
        text = nullptr;
    }
};

}  // namespace

CZoTiltwork::CZoTiltwork() {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    const HRESULT hr =
        CoCreateInstance(CLSID_zo_Tiltwork, nullptr, CLSCTX_INPROC_SERVER, IID_Izo_Tiltwork, m_pTiltwork.putVoid());
    if (FAILED(hr)) {
        m_pTiltwork.reset();
        linkTrace(1, "CZoTiltwork::CZoTiltwork() CoCreateInstance Failed.");
    }
    readSettings();
}

CZoTiltwork::CZoTiltwork(Izo_Tiltwork* engine) : m_pTiltwork(platform::com::ComPtr<Izo_Tiltwork>::addRef(engine)) {
    readSettings();
}

CZoTiltwork::~CZoTiltwork() {
    m_pTiltwork.reset();
    if (m_comInitialised) {
        CoUninitialize();
    }
}

void CZoTiltwork::readSettings() {
    CKcReg reg = ProductKey("Ptz");
    DWORD portId = 1;
    DWORD portStyle = 2;
    DWORD enabled = 0;
    reg.GetDwordDefault(nullptr, "PortId", &portId);
    reg.GetDwordDefault(nullptr, "PortStyle", &portStyle);
    reg.GetDwordDefault(nullptr, "PtzEnabled", &enabled);
    m_portId = static_cast<WORD>(portId);
    m_portStyle = static_cast<WORD>(portStyle);
    m_ptzEnabled = enabled != 0;
    // Written back with the 16-bit value in use.
    const DWORD idValue = m_portId;
    const DWORD styleValue = m_portStyle;
    reg.SetDword(nullptr, "PortId", &idValue);
    reg.SetDword(nullptr, "PortStyle", &styleValue);
}

void CZoTiltwork::AddRemoteProtocols(PtzProtocolLists& record) {
    std::memset(&record, 0, sizeof record);
    if (!m_ptzEnabled) {
        linkTrace(5, "CZoTiltwork::AddRemoteProtocols\tPTZ Disabled no protocol will be added");
        return;
    }
    auto store = [&](int index, const char* name, DWORD baud, WORD dataBits, WORD parity, WORD stopBits,
                     WORD serialType) {
        for (auto& list : record.lists) {
            PtzProtocolEntry& e = list[index];
            e.portId = m_portId;
            e.portStyle = m_portStyle;
            e.baudRate = baud;
            e.parity = parity;
            e.dataBits = dataBits;
            e.stopBits = stopBits;
            e.serialType = serialType;
            std::strncpy(e.name, name, sizeof e.name - 1);
            e.name[sizeof e.name - 1] = 0;
            e.nameChar15 = static_cast<BYTE>(e.name[14]);
            e.used = 1;
            e.reserved = 0;
        }
    };
    store(0, "None", 9600, 5, 0, 0, 0);
    if (!m_pTiltwork) {
        return;
    }
    int next = 1;
    BstrHolder name;
    HRESULT hr = m_pTiltwork->GetFirstEnumPtz(&name.text);
    if (FAILED(hr)) {
        linkTrace(1, "CZoTiltwork::AddRemoteProtocols m_pTiltwork->GetFirstEnumPtz return %d", int(hr & 0xFFFF));
        return;
    }
    while (SUCCEEDED(hr) && next < kPtzProtocolEntries) {
        LONG baud = 0, dataBits = 0, parity = 0, stopBits = 0, serialType = 0;
        if (name.text != nullptr && SUCCEEDED(m_pTiltwork->GetPtzParam_Baudrate(&name.text, &baud)) &&
            SUCCEEDED(m_pTiltwork->GetPtzParam_DataBits(&name.text, &dataBits)) &&
            SUCCEEDED(m_pTiltwork->GetPtzParam_ParityBit(&name.text, &parity)) &&
            SUCCEEDED(m_pTiltwork->GetPtzParam_StopBits(&name.text, &stopBits)) &&
            SUCCEEDED(m_pTiltwork->GetPtzParam_SerialType(&name.text, &serialType))) {
            store(next++, name.text, static_cast<DWORD>(baud), static_cast<WORD>(dataBits),
                  static_cast<WORD>(parity), static_cast<WORD>(stopBits), static_cast<WORD>(serialType));
        }
        if (next >= kPtzProtocolEntries) {
            break;
        }
        name.reset();
        hr = m_pTiltwork->GetNextEnumPtz(&name.text);
    }
}

}  // namespace trennick
