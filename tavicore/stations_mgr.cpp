#include "tavicore/stations_mgr.h"

#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "platform/com/com.h"
#include "platform/folders.h"

#include <string>

namespace {

// Reads a folder setting (the default when it is missing) and writes it back.
std::string folderSetting(CKcReg& reg, const char* name, const std::string& defaultValue) {
    char text[MAX_PATH];
    text[defaultValue.copy(text, MAX_PATH - 1)] = '\0';
    DWORD size = sizeof text;
    reg.GetStringDefault(nullptr, name, text, &size);
    reg.SetString(nullptr, name, text);
    return text;
}

}  // namespace

CStationsMgr::CStationsMgr() {
    CoInitialize(nullptr);
    // The program folder is where the program runs: its "current folder".
    const std::string current = platform::programFolder().string();
    CKcReg reg = CommonKey("Storage");
    const std::string storage = folderSetting(reg, "DefaultPath", current);
    const std::string stations = folderSetting(reg, "StationsDBFolder", current);
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ZoStationsMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IZoStationsMgr, &object))) {
        return;
    }
    m_pStationsMgr = static_cast<IZoStationsMgr*>(object);
    m_pStationsMgr->SetDefaultStorageWorkFolder(storage.c_str());
    m_pStationsMgr->SetStationsDBFolder(stations.c_str());
}

CStationsMgr::~CStationsMgr() {
    if (m_pStationsMgr) {
        m_pStationsMgr->Release();
        m_pStationsMgr = nullptr;
    }
    CoUninitialize();
}

IZoStationsMgr* CStationsMgr::Get() { return m_pStationsMgr; }
