#include "trennick/link/hw_profile_list.h"

#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace trennick {

namespace {

WORD u16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD u32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

WORD recordAdapter(const BYTE* record) { return u16(record + 4); }
WORD recordDevice(const BYTE* record) { return u16(record + 6); }

// A name field of the list: 30 bytes, NUL-terminated when shorter. Copies at
// most `maxChars` characters and terminates the destination.
void copyName(char* out, std::size_t outBytes, const BYTE* field, std::size_t maxChars) {
    const char* text = reinterpret_cast<const char*>(field);
    const std::size_t n = std::min({strnlen(text, kSettingsNameBytes), maxChars, outBytes - 1});
    std::memset(out, 0, outBytes);
    std::memcpy(out, text, n);
}

// The 30-byte copy of adapter and relay names: padded with NULs, not
// terminated when the name fills the field.
void copyName30(char (&out)[kSettingsNameBytes], const BYTE* field) {
    const char* text = reinterpret_cast<const char*>(field);
    const std::size_t n = strnlen(text, kSettingsNameBytes);
    std::memset(out, 0, sizeof out);
    std::memcpy(out, text, n);
}

bool writesAdapter(WORD kind) {
    switch (kind) {
    case DEVICE_ID_ADAPTER: case DEVICE_ID_VIDEO_IN: case DEVICE_ID_CAMERA: case DEVICE_ID_RELAY:
    case DEVICE_ID_MEM_RANGE: case DEVICE_ID_SERIAL_OUT: case DEVICE_ID_KEYLOCK:
    case DEVICE_ID_SW_CAPABILITIES:
        return true;
    default:
        return false;
    }
}

}  // namespace

tagAdapterDeviceData readDeviceData(const tagAdapterBlock& adapter) {
    tagAdapterDeviceData data;
    std::memcpy(&data, adapter.deviceData, sizeof data);
    return data;
}

void writeDeviceData(tagAdapterBlock& adapter, const tagAdapterDeviceData& data) {
    std::memcpy(adapter.deviceData, &data, sizeof data);
}

DWORD deviceRecordBufferBytes(WORD kind) {
    switch (kind) {
    case DEVICE_ID_SITE: return 44;
    case DEVICE_ID_ADAPTER: return 40;
    case DEVICE_ID_VIDEO_IN: return 20;
    case DEVICE_ID_VIDEO_OUT: return 12;
    case DEVICE_ID_AUDIO_IN: return 20;
    case DEVICE_ID_AUDIO_OUT: return 12;
    case DEVICE_ID_CAMERA: return 40;
    case DEVICE_ID_RELAY: return 44;
    case DEVICE_ID_ALARM: return 44;
    case DEVICE_ID_MEM_RANGE: return 16;
    case DEVICE_ID_SERIAL_OUT: return 60;
    case DEVICE_ID_CP: return 20;
    case DEVICE_ID_KEYLOCK: return 20;
    case DEVICE_ID_RC: return 36;
    case DEVICE_SITE_INFO: return 132;
    case DEVICE_ID_CALL: return 12;
    case DEVICE_ID_SW_CAPABILITIES: return 16;
    default: return 0;
    }
}

CHWProfileList::CHWProfileList(SiteInfoSink sink) : m_siteInfoSink(std::move(sink)) {}
CHWProfileList::~CHWProfileList() = default;

int CHWProfileList::DispatchHWProfileList(const BYTE* list, LONG length, tagHWProfile* profile) {
    if (profile == nullptr) {
        return 1;
    }
    std::memset(profile, 0, sizeof *profile);
    if (length < 1 || list == nullptr) {
        return 1;
    }
    const DWORD total = static_cast<DWORD>(length);
    DWORD offset = 0;
    BYTE record[132];
    while (offset < total) {
        if (total - offset < 4) {
            linkTrace(1, "CHWProfileList::DispatchHWProfileList->%lu bytes left, too few for a record",
                      static_cast<unsigned long>(total - offset));
            break;
        }
        const WORD recordLength = u16(list + offset);
        const WORD kind = u16(list + offset + 2);
        if (recordLength == 0) {
            linkTrace(5, "CHWProfileList::DispatchHWProfileList->Error List size is 0 \n");
            break;
        }
        if (recordLength > total - offset) {
            linkTrace(1, "CHWProfileList::DispatchHWProfileList->Record of %u bytes runs past the list's end",
                      static_cast<unsigned>(recordLength));
            break;
        }
        const DWORD buffer = deviceRecordBufferBytes(kind);
        if (buffer == 0) {
            linkTrace(5, "CHWProfileList::DispatchHWProfileList->Record of Type %d not supported\n", kind);
        } else if (recordLength < kDeviceHeadBytes || recordLength > buffer) {
            linkTrace(1, "CHWProfileList::DispatchHWProfileList->Record of Type %d has %u bytes, %lu at most: skipped",
                      kind, static_cast<unsigned>(recordLength), static_cast<unsigned long>(buffer));
        } else {
            std::memset(record, 0, sizeof record);
            std::memcpy(record, list + offset, recordLength);
            if (writesAdapter(kind) && recordAdapter(record) >= kMaxAdapters) {
                linkTrace(1, "CHWProfileList::DispatchHWProfileList->Record of Type %d names adapter %u: skipped",
                          kind, static_cast<unsigned>(recordAdapter(record)));
            } else {
                switch (kind) {
                case DEVICE_ID_SITE: DispatchDeviceSite(record, profile); break;
                case DEVICE_ID_ADAPTER: DispatchDeviceAdapter(record, profile); break;
                case DEVICE_ID_VIDEO_IN: DispatchDeviceVideoIn(record, profile); break;
                case DEVICE_ID_VIDEO_OUT: DispatchDeviceVideoOut(record, profile); break;
                case DEVICE_ID_AUDIO_IN: DispatchDeviceAudioIn(record, profile); break;
                case DEVICE_ID_AUDIO_OUT: DispatchDeviceAudioOut(record, profile); break;
                case DEVICE_ID_CAMERA: DispatchDeviceCamera(record, profile); break;
                case DEVICE_ID_RELAY: DispatchDeviceRelay(record, profile); break;
                case DEVICE_ID_ALARM: DispatchDeviceAlarm(record, profile); break;
                case DEVICE_ID_MEM_RANGE: DispatchDeviceMemRange(record, profile); break;
                case DEVICE_ID_SERIAL_OUT: DispatchDeviceSerialOut(record, profile); break;
                case DEVICE_ID_CP: DispatchDeviceCP(record, profile); break;
                case DEVICE_ID_KEYLOCK: DispatchDeviceKeyLock(record, profile); break;
                case DEVICE_ID_RC: DispatchDeviceRC(record, profile); break;
                case DEVICE_SITE_INFO: DispatchDeviceSiteInfo(record, profile); break;
                case DEVICE_ID_CALL: DispatchDeviceCall(record, profile); break;
                case DEVICE_ID_SW_CAPABILITIES: DispatchDeviceSwCapabilities(record, profile); break;
                default: break;
                }
            }
        }
        offset += recordLength;
    }
    return 1;
}

int CHWProfileList::DispatchDeviceSite(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_SITE");
    linkTrace(5, "CHWProfileList::DispatchDeviceSite Version\t\t:%d", u16(r + 8));
    linkTrace(5, "CHWProfileList::DispatchDeviceSite Adapter Selected input\t\t:%d", u16(r + 10));
    profile->version = u16(r + 8);
    profile->currentAdapter = u16(r + 10);
    copyName(profile->siteName, sizeof profile->siteName, r + 12, kSettingsNameBytes - 1);
    linkTrace(5, "CHWProfileList::DispatchDeviceSite Site Name\t\t:%.29s", profile->siteName);
    return 1;
}

int CHWProfileList::DispatchDeviceAdapter(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_ADAPTER");
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    copyName30(adapter.name, r + 8);
    linkTrace(5, "CHWProfileList::DispatchDeviceAdapter Name\t\t:%.30s", adapter.name);
    if (profile->adaptersNumber < kMaxAdapters) {
        ++profile->adaptersNumber;
    }
    return 1;
}

int CHWProfileList::DispatchDeviceVideoIn(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_VIDEO_IN");
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    adapter.selectedInput = u16(r + 8);
    adapter.videoStandard = r[10];
    adapter.brightness = r[13];
    adapter.contrast = r[14];
    adapter.hue = r[15];
    adapter.saturation = r[16];
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Selected Input\t\t:%d", u16(r + 8));
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Video Standard\t\t:%d", r[10]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Sample Mode\t\t:%d", r[11]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Video Detected\t\t:%d", r[12]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Brightness\t\t:%d", r[13]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Contrast\t\t:%d", r[14]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Hue\t\t:%d", r[15]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoIn Saturation\t\t:%d", r[16]);
    return 1;
}

int CHWProfileList::DispatchDeviceVideoOut(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_VIDEO_OUT");
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoOut Video Standard\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceVideoOut Sample Mode\t\t:%d", r[9]);
    return 1;
}

int CHWProfileList::DispatchDeviceAudioIn(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_AUDIO_IN");
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Selected Input\t\t:%lu", static_cast<unsigned long>(u32(r + 8)));
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Input Type\t\t:%d", r[12]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Input Volume\t\t:%d", r[13]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn AGC\t\t:%d", r[14]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Bass\t\t:%d", r[15]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Treble\t\t:%d", r[16]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioIn Signal Level\t\t:%d", r[17]);
    return 1;
}

int CHWProfileList::DispatchDeviceAudioOut(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_AUDIO_OUT");
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioOut Selected Output\t\t:%d", u16(r + 8));
    linkTrace(5, "CHWProfileList::DispatchDeviceAudioOut Output Volume\t\t:%d", r[10]);
    return 1;
}

int CHWProfileList::DispatchDeviceCamera(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_CAMERA");
    const WORD type = u16(r + 8);
    linkTrace(5, "CHWProfileList::DispatchDeviceCamera Camera Type\t\t:%d", type);
    linkTrace(5, "CHWProfileList::DispatchDeviceCamera Camera Name\t\t:%.30s", reinterpret_cast<const char*>(r + 10));
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    if (type == 1 || type == 2) {
        tagAdapterDeviceData data = readDeviceData(adapter);
        if (data.quadInputCount >= kQuadInputsPerAdapter) {
            linkTrace(1, "CHWProfileList::DispatchDeviceCamera more than %d quad inputs: skipped", kQuadInputsPerAdapter);
            return 1;
        }
        ++data.quadInputCount;
        copyName(data.quadInputs[data.quadInputCount - 1], kQuadInputNameBytes, r + 10, kSettingsNameBytes - 1);
        writeDeviceData(adapter, data);
        return 1;
    }
    const WORD device = recordDevice(r);
    if (device >= kCamerasPerAdapter) {
        linkTrace(1, "CHWProfileList::DispatchDeviceCamera camera slot %u outside the adapter: skipped", device);
        return 1;
    }
    tagCameraBlock& camera = adapter.cameras[device];
    copyName(camera.name, sizeof camera.name, r + 10, kSettingsNameBytes - 1);
    camera.popupAlarm = 1;
    camera.captureSnapshots = 1;
    if (adapter.camerasNumber < kCamerasPerAdapter) {
        ++adapter.camerasNumber;
    }
    return 1;
}

int CHWProfileList::DispatchDeviceRelay(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_RELAY");
    linkTrace(5, "CHWProfileList::DispatchDeviceRelay Relay Type\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceRelay Relay State\t\t:%d", r[9]);
    linkTrace(5, "CHWProfileList::DispatchDeviceRelay Relay Status\t\t:%d", r[11]);
    const WORD device = recordDevice(r);
    if (device >= kRelaysPerAdapter) {
        linkTrace(1, "CHWProfileList::DispatchDeviceRelay relay slot %u outside the adapter: skipped", device);
        return 1;
    }
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    tagRelayBlock& relay = adapter.relays[device];
    copyName30(relay.name, r + 12);
    relay.state = r[9];
    relay.status = r[11];
    relay.type = r[8];
    if (adapter.relaysNumber < kRelaysPerAdapter) {
        ++adapter.relaysNumber;
    }
    return 1;
}

int CHWProfileList::DispatchDeviceAlarm(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_ALARM");
    linkTrace(5, "CHWProfileList::DispatchDeviceAlarm Polarity\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAlarm Status\t\t:%d", r[9]);
    linkTrace(5, "CHWProfileList::DispatchDeviceAlarm Bouncing\t\t:%lu", static_cast<unsigned long>(u32(r + 10)));
    linkTrace(5, "CHWProfileList::DispatchDeviceAlarm Name\t\t:%.30s", reinterpret_cast<const char*>(r + 14));
    return 1;
}

int CHWProfileList::DispatchDeviceMemRange(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_MEM_RANGE");
    linkTrace(5, "CHWProfileList::DispatchDeviceMemRange Max Users\t\t:%d", u16(r + 8));
    linkTrace(5, "CHWProfileList::DispatchDeviceMemRange Max Frames\t\t:%lu", static_cast<unsigned long>(u32(r + 10)));
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    tagAdapterDeviceData data = readDeviceData(adapter);
    data.maxUsers = u16(r + 8);
    data.maxFrames = u32(r + 10);
    writeDeviceData(adapter, data);
    return 1;
}

int CHWProfileList::DispatchDeviceSerialOut(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_SERIAL_OUT");
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Port Id\t\t:%d", u16(r + 8));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Command Type\t\t:%d", u16(r + 10));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Port Style\t\t:%d", u16(r + 12));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Baud Rate\t\t:%lu", static_cast<unsigned long>(u32(r + 14)));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Parity\t\t:%d", u16(r + 18));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Data Bits\t\t:%d", u16(r + 20));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Stop Bits\t\t:%d", u16(r + 22));
    linkTrace(5, "CHWProfileList::DispatchDeviceSerialOut Protocol\t\t:%.30s", reinterpret_cast<const char*>(r + 26));
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    tagAdapterDeviceData data = readDeviceData(adapter);
    tagSerialOutSettings& s = data.serialOut;
    s.portId = u16(r + 8);
    s.commandType = u16(r + 10);
    s.portStyle = u16(r + 12);
    s.baudRate = u32(r + 14);
    s.parity = u16(r + 18);
    s.dataBits = u16(r + 20);
    s.stopBits = u16(r + 22);
    s.furtherSetting = u16(r + 24);
    copyName(s.protocolName, sizeof s.protocolName, r + 26, kSettingsNameBytes - 1);
    writeDeviceData(adapter, data);
    return 1;
}

int CHWProfileList::DispatchDeviceCP(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_CP");
    linkTrace(5, "CHWProfileList::DispatchDeviceCP Polarity Modifiable\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceCP Enable State Modifiable\t\t:%d", r[9]);
    return 1;
}

int CHWProfileList::DispatchDeviceKeyLock(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_KEYLOCK");
    linkTrace(5, "CHWProfileList::DispatchDeviceKeyLock Polarity Modifiable\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceKeyLock Enable State Modifiable\t\t:%d", r[9]);
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    tagAdapterDeviceData data = readDeviceData(adapter);
    if (data.keyLockCount < 0xFFFF) {
        ++data.keyLockCount;
    }
    writeDeviceData(adapter, data);
    return 1;
}

int CHWProfileList::DispatchDeviceRC(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_ID_RC");
    linkTrace(5, "CHWProfileList::DispatchDeviceRC Enable State Modifiable\t\t:%d", r[8]);
    return 1;
}

int CHWProfileList::DispatchDeviceSiteInfo(const BYTE* r, tagHWProfile*) {
    linkTrace(5, "Dispatch DEVICE_SITE_INFO");
    SiteInfoBlock site{};
    copyName(site.siteName, sizeof site.siteName, r + 8, kSettingsNameBytes);
    copyName(site.sitePhone, sizeof site.sitePhone, r + 38, kSettingsNameBytes);
    const char* id = reinterpret_cast<const char*>(r + 68);
    std::memcpy(site.guid, id, std::min<std::size_t>(strnlen(id, 64), sizeof site.guid - 1));
    linkTrace(5, "CHWProfileList::DispatchDeviceSiteInfo Site Name\t\t:%s", site.siteName);
    linkTrace(5, "CHWProfileList::DispatchDeviceSiteInfo Site Phone\t\t:%s", site.sitePhone);
    linkTrace(5, "CHWProfileList::DispatchDeviceSiteInfo Site Id\t\t:%s", site.guid);
    if (!m_siteInfoSink || !m_siteInfoSink(site)) {
        return 0;
    }
    return 1;
}

int CHWProfileList::DispatchDeviceCall(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_CALL");
    linkTrace(5, "CHWProfileList::DispatchDeviceCall Type Of Call\t\t:%d", r[8]);
    linkTrace(5, "CHWProfileList::DispatchDeviceCall Reason For Call\t\t:%d", r[9]);
    profile->reasonForCall = r[9];
    return 1;
}

int CHWProfileList::DispatchDeviceSwCapabilities(const BYTE* r, tagHWProfile* profile) {
    linkTrace(5, "Dispatch DEVICE_ID_SW_CAPABILITIES");
    linkTrace(5, "CHWProfileList::DispatchDeviceSwCapabilities Capabilities\t\t:%lu", static_cast<unsigned long>(u32(r + 8)));
    linkTrace(5, "CHWProfileList::DispatchDeviceSwCapabilities Extended\t\t:%lu", static_cast<unsigned long>(u32(r + 12)));
    tagAdapterBlock& adapter = profile->adapters[recordAdapter(r)];
    tagAdapterDeviceData data = readDeviceData(adapter);
    data.swCapability = u32(r + 8) & 1u;
    writeDeviceData(adapter, data);
    return 1;
}

}  // namespace trennick
