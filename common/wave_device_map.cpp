#include "common/wave_device_map.h"

#include "common/fixed_text.h"
#include "common/product_registry.h"

#include <cstring>

namespace {

std::string readText(CKcReg& reg, const char* name) {
    char text[1024] = {};
    DWORD size = sizeof text;
    if (!reg.GetString(nullptr, name, text, &size)) {
        return {};
    }
    return fixed_text::Read(text, sizeof text);
}

}  // namespace

platform::WaveDevice ReadWaveDevice(WaveDirection direction, UINT deviceId) {
    CKcReg reg = CommonKey("Audio");
    platform::WaveDevice device;
    const std::string name = readText(reg, "Device");
    if (name == "file") {
        device.kind = platform::WaveDevice::Kind::File;
        device.path = readText(reg, direction == WaveDirection::Record ? "RecordFile" : "PlaybackFile");
        return device;
    }
    if (deviceId != platform::WAVE_MAPPER) {
        device.alsaName = "plughw:" + std::to_string(deviceId & 0xFFFF);
    } else if (!name.empty()) {
        device.alsaName = name;
    }
    return device;
}

bool WriteFileWaveDevice(const std::string& recordFile, const std::string& playbackFile) {
    CKcReg reg = CommonKey("Audio");
    return reg.SetString(nullptr, "Device", "file") && reg.SetString(nullptr, "RecordFile", recordFile.c_str()) &&
           reg.SetString(nullptr, "PlaybackFile", playbackFile.c_str());
}
