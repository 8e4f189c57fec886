#pragma once
// CHWProfileList: decodes the device-record list a site sends to describe its
// capture hardware into a tagHWProfile (site, adapters, video inputs, cameras,
// relays, memory limits, serial-out port). The site-information record is not
// stored in the profile but handed to the sink given at construction.
//
// Stateless between calls; one thread at a time. Nothing the peer sends is
// trusted: a record longer than its kind's buffer, with an adapter or slot
// outside the profile, or running past the list is skipped or ends the
// decoding, and never reads or writes out of bounds.

#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "trennick/link/station_info.h"

#include <functional>

namespace trennick {

tagAdapterDeviceData readDeviceData(const tagAdapterBlock& adapter);
void writeDeviceData(tagAdapterBlock& adapter, const tagAdapterDeviceData& data);

// Record kinds of the list.
enum HWDeviceKind : WORD {
    DEVICE_ID_SITE = 1,
    DEVICE_ID_ADAPTER = 2,
    DEVICE_ID_VIDEO_IN = 3,
    DEVICE_ID_VIDEO_OUT = 4,
    DEVICE_ID_AUDIO_IN = 5,
    DEVICE_ID_AUDIO_OUT = 6,
    DEVICE_ID_CAMERA = 7,
    DEVICE_ID_RELAY = 8,
    DEVICE_ID_ALARM = 11,
    DEVICE_ID_MEM_RANGE = 12,
    DEVICE_ID_SERIAL_OUT = 13,
    DEVICE_ID_CP = 14,
    DEVICE_ID_KEYLOCK = 15,
    DEVICE_ID_RC = 16,
    DEVICE_SITE_INFO = 17,
    DEVICE_ID_CALL = 18,
    DEVICE_ID_SW_CAPABILITIES = 19,
};

inline constexpr DWORD kDeviceHeadBytes = 8;
// The largest record this side holds for a kind (0: not supported).
DWORD deviceRecordBufferBytes(WORD kind);

class CHWProfileList {
public:
    // Receives the site information of a kind-17 record (GUID text = site id,
    // name, phone); false when no main window is reachable. May be empty.
    using SiteInfoSink = std::function<bool(const SiteInfoBlock&)>;

    explicit CHWProfileList(SiteInfoSink sink = {});
    virtual ~CHWProfileList();
    CHWProfileList(const CHWProfileList&) = delete;
    CHWProfileList& operator=(const CHWProfileList&) = delete;

    // Zeroes the profile and fills it from the list. Returns 1.
    virtual int DispatchHWProfileList(const BYTE* list, LONG length, tagHWProfile* profile);

    // One handler per kind: `record` holds the kind's whole buffer (the
    // received bytes, zero-filled behind them). 1, or 0 where said.
    virtual int DispatchDeviceSite(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceAdapter(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceVideoIn(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceVideoOut(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceAudioIn(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceAudioOut(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceCamera(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceRelay(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceAlarm(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceMemRange(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceSerialOut(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceCP(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceKeyLock(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceRC(const BYTE* record, tagHWProfile* profile);
    // 0 without effect when the sink is missing or refuses.
    virtual int DispatchDeviceSiteInfo(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceCall(const BYTE* record, tagHWProfile* profile);
    virtual int DispatchDeviceSwCapabilities(const BYTE* record, tagHWProfile* profile);

private:
    SiteInfoSink m_siteInfoSink;
};

}  // namespace trennick
