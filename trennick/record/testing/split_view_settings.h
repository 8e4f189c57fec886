#pragma once
// Test helper: the stored split-view settings of the first adapter, as the
// split-view settings dialog leaves them; the split-view object (CRemoteQuad)
// reads them when it is made.

#include "common/kc_reg.h"
#include "tavicore/product_key.h"

#include <string>

namespace splittest {

// The settings section of a camera of the first adapter.
inline std::string CameraSection(int camera) { return "RemoteQuad\\Adapters\\0\\Cameras\\" + std::to_string(camera); }

// Puts the first adapter in split view over cameras 0 to cameras - 1.
inline void StoreSplitViewOfCameras(int cameras) {
    CKcReg reg = ProductKey("RemoteQuad");
    reg.SetSection("RemoteQuad\\Adapters\\0");
    reg.SetValueName("IsSplitOrAutoSwitchMode");
    reg.Write(DWORD{1});
    for (int c = 0; c < cameras; ++c) {
        reg.SetSection(CameraSection(c).c_str());
        reg.SetValueName("IsCameraInCycle");
        reg.Write(DWORD{1});
    }
}

}  // namespace splittest
