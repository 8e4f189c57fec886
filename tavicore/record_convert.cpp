#include "tavicore/record_convert.h"

#include "common/lumo_deb.h"
#include "platform/time_convert.h"

#include <cstring>

namespace {

constexpr LONGLONG kSecondsFrom1601To1970 = 11644473600LL;
constexpr LONGLONG kTicksPerSecond = 10000000LL;
constexpr LONGLONG kFileTimeOf1970 = 116444736000000000LL;

// Copies a name of the old layout (which may fill its field without an end)
// into a field of the new one, as text.
void copyName(char* to, std::size_t toSize, const char* from, std::size_t fromSize) {
    std::size_t n = strnlen(from, fromSize);
    if (n > toSize) {
        n = toSize;
    }
    std::memset(to, 0, toSize);
    std::memcpy(to, from, n);
}

}  // namespace

CStructConvertor::~CStructConvertor() = default;

int CStructConvertor::ConverteHWProfiles(tagHWProfile_VER_0* old, tagHWProfile* out) {
    if (!old || !out) {
        return 0;
    }
    std::memset(out, 0, sizeof *out);
    out->adaptersNumber = old->adaptersNumber;
    out->snapshotResolution = old->snapshotResolution;
    out->jpegQuality = old->jpegQuality;
    out->jpegCompression = old->jpegCompression;
    out->automaticSwitchIntervalMs = old->automaticSwitchIntervalMs;
    for (int k = 0; k < kMaxAdapters; ++k) {
        const tagAdapterBlock_VER_0& from = old->adapters[k];
        tagAdapterBlock& to = out->adapters[k];
        copyName(to.name, sizeof to.name, from.name, sizeof from.name);
        to.camerasNumber = 6;
        to.relaysNumber = 3;
        to.selectedInput = from.settings[0];
        to.videoStandard = from.settings[1];
        to.brightness = from.settings[2];
        to.contrast = from.settings[3];
        to.hue = from.settings[4];
        to.saturation = from.settings[5];
        to.automaticSwitch = from.automaticSwitch;
        for (int j = 0; j < 3; ++j) {
            to.relays[j].state = from.relays[j].state;
            copyName(to.relays[j].name, sizeof to.relays[j].name, from.relays[j].name, sizeof from.relays[j].name);
            to.relays[j].status = from.relays[j].status;
            to.relays[j].type = j == 2 ? 1 : 0;
        }
        for (int i = 0; i < 6; ++i) {
            const tagCameraBlock_VER_0& c = from.cameras[i];
            tagCameraBlock& n = to.cameras[i];
            copyName(n.name, sizeof n.name, c.name, sizeof c.name);
            n.popupAlarm = c.values[0];
            n.captureSnapshots = c.values[1];
            n.automaticSwitch = c.values[2];
            n.dialOnAlarm = 0;
            n.maxEventNumber = c.values[3];
            n.lastEventIndex = c.values[4];
            n.snapshotNum = c.values[5];
            n.snapshotDelayMs = c.values[6];
            n.carried = c.values[7];
            n.activeHigh = c.values[8];
        }
    }
    return 1;
}

int CStructConvertor::ConverteTrigger(tagTrigger_VER_0* old, tagTrigger* out) {
    if (!old || !out) {
        return 0;
    }
    for (int group = 0; group < kMaxAdapters; ++group) {
        for (int entry = 0; entry < 6; ++entry) {
            out->entries[group][entry][0] = old->entries[group][entry][0];
            out->entries[group][entry][1] = old->entries[group][entry][1];
        }
    }
    return 1;
}

int CStructConvertor::Time_tToFileTime(LONG seconds, FILETIME* out) {
    if (!out) {
        return 0;
    }
    LONGLONG ticks = (LONGLONG(seconds) + kSecondsFrom1601To1970) * kTicksPerSecond;
    *out = platform::fileTimeFrom(ULONGLONG(ticks));
    return 1;
}

int CStructConvertor::FileTimeToTime_t(FILETIME in, LONG* out) {
    if (!out) {
        return 0;
    }
    LONGLONG value = LONGLONG(platform::fileTimeValue(in));
    *out = LONG((value - kFileTimeOf1970) / kTicksPerSecond);
    return 1;
}

int CStructConvertor::SysTimeToTime_t(SYSTEMTIME in, LONG* out) {
    if (!out) {
        return 0;
    }
    FILETIME time{};
    if (!platform::systemTimeToFileTime(in, time)) {
        LUMO_TRACE(1, "CStructConvertor::SysTimeToTime_t SystemTimeToFileTime Failed");
        *out = 0;
        return 0;
    }
    return FileTimeToTime_t(time, out);
}

int CStructConvertor::Time_tToSysTime(LONG seconds, SYSTEMTIME* out) {
    FILETIME time{};
    if (!out || !Time_tToFileTime(seconds, &time)) {
        return 0;
    }
    if (!platform::fileTimeToSystemTime(time, *out)) {
        LUMO_TRACE(1, "CStructConvertor::Time_tToSysTime FileTimeToSystemTime Failed");
        return 0;
    }
    return 1;
}
