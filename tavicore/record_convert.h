#pragma once
// CStructConvertor: brings records of the older layout up to the current one
// (the hardware profile and the trigger matrix) and converts between the time
// forms of the system: seconds since 1970 (32-bit), FILETIME and SYSTEMTIME.
// No local-time conversion happens: values are converted as they stand.
// It has no data; any thread may use its own object. Failures return 0.

#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "tavicore/tavicore_api.h"

#pragma pack(push, 1)

// The trigger matrix of older stations: 6 groups of 6 entries of two words.
struct tagTrigger_VER_0 {
    WORD entries[kMaxAdapters][6][2];
};
static_assert(sizeof(tagTrigger_VER_0) == 144);

// The trigger matrix: 6 groups (adapters) of 64 bytes, two words per camera.
struct tagTrigger {
    WORD entries[kMaxAdapters][kCamerasPerAdapter][2];
};
static_assert(sizeof(tagTrigger) == 384);

struct tagCameraBlock_VER_0 {
    char name[20];
    DWORD values[9];
};
static_assert(sizeof(tagCameraBlock_VER_0) == 56);

struct tagRelayBlock_VER_0 {
    WORD state;
    char name[20];
    DWORD status;
};
static_assert(sizeof(tagRelayBlock_VER_0) == 26);

struct tagAdapterBlock_VER_0 {
    tagCameraBlock_VER_0 cameras[6];
    WORD settings[6];  // selected input, video standard, brightness, contrast, hue, saturation
    DWORD automaticSwitch;
    tagRelayBlock_VER_0 relays[3];
    char name[20];
};
static_assert(sizeof(tagAdapterBlock_VER_0) == 450);

// The hardware profile older stations send: 2,724 bytes, of which the last 10
// are not read.
struct tagHWProfile_VER_0 {
    WORD adaptersNumber;
    WORD snapshotResolution;
    WORD jpegQuality;
    DWORD jpegCompression;
    DWORD automaticSwitchIntervalMs;
    tagAdapterBlock_VER_0 adapters[kMaxAdapters];
    BYTE unread[10];
};
static_assert(sizeof(tagHWProfile_VER_0) == 2724);
static_assert(offsetof(tagHWProfile_VER_0, adapters) == 14);

#pragma pack(pop)

class TAVICORE_API CStructConvertor {
public:
    CStructConvertor() = default;
    CStructConvertor(const CStructConvertor&) = default;
    CStructConvertor& operator=(const CStructConvertor&) = default;
    virtual ~CStructConvertor();

    // Clears `out` and fills it from the old profile. 0 when a pointer is null.
    virtual int ConverteHWProfiles(tagHWProfile_VER_0* old, tagHWProfile* out);
    // Copies the 36 old entries into the first 6 entries of each group; the
    // rest of `out` stays as the caller had it. 0 when a pointer is null.
    virtual int ConverteTrigger(tagTrigger_VER_0* old, tagTrigger* out);

    int Time_tToFileTime(LONG seconds, FILETIME* out);
    int FileTimeToTime_t(FILETIME in, LONG* out);
    int SysTimeToTime_t(SYSTEMTIME in, LONG* out);
    int Time_tToSysTime(LONG seconds, SYSTEMTIME* out);
};
