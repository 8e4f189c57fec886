#pragma once
// CRemoteSetList: the remote settings list, the wire and file form of a site's
// settings record between the operator's station and the site. A list is a
// packed sequence of records, each with an 8-byte header (length, kind,
// adapter, index) and a fixed length per kind; it has no header or checksum of
// its own (the file transfer checks it).
//
// CreateList turns the profile store's record into a list for an upload;
// DispatchList turns a list received from the site back into a record. A
// list is checked before anything of it is taken: a record header that runs
// past the end, a record too short for its header or of the wrong length for
// its kind makes the whole list damaged, and an empty list or one without any
// record of a known kind holds no settings: DispatchList refuses them, so a
// damaged download never replaces the stored settings. Indexes outside the
// record's tables are ignored record by record, texts are terminated inside
// their fields, and the site's counts are capped at the record's tables.
//
// Threads: the user-interface thread (the link's read pass posts to it).
// Failures: result codes and traces; nothing throws.

#include "morvel/morvel_lib.h"
#include "platform/types.h"
#include "tavicore/settings_records.h"

#include <functional>
#include <string>
#include <vector>

namespace trennick {

class CPacketConnection;

enum SettingsKind : WORD {
    ID_SETTINGS_SITE_INFO = 1,
    ID_SETTINGS_ADAPTER = 2,
    ID_SETTINGS_CAMERA = 3,
    ID_SETTINGS_RELAY = 4,
    ID_SETTINGS_VIDEO_IN = 5,
    ID_SETTINGS_VIDEO_OUT = 6,
    ID_SETTINGS_AUDIO_IN = 7,
    ID_SETTINGS_AUDIO_OUT = 8,
    ID_SETTINGS_ALARM = 9,
    ID_SETTINGS_COMM = 10,
    ID_SETTINGS_USED_COMM = 11,
    ID_SETTINGS_RELAY_MATRIX = 12,
    ID_SETTINGS_STILLS_RECORDING_FORMAT = 13,
    ID_SETTINGS_RECORDING_CAMERAS = 14,
    ID_SETTINGS_RECORDING_PRE_ALARM = 15,
    ID_SETTINGS_RECORDING_POST_ALARM = 16,
    ID_SETTINGS_RECORDING_DIAL_ON_ALARM = 17,
    ID_SETTINGS_ALARM_RECORDING = 18,
    ID_SETTINGS_AUTENTICATION_INFO = 19,
    ID_SETTINGS_RECORDING_POST_ALARM2 = 20,
    ID_SETTINGS_REMOTE_CONTROL = 21,
    ID_SETTINGS_ALARM2 = 22,
    ID_SETTINGS_SERIAL_OUT = 23,
    ID_SETTINGS_USED_SERIAL_OUT = 24,
    ID_SETTINGS_CP = 25,
    ID_SETTINGS_RESERVED_26 = 26,
    ID_SETTINGS_DIAL_ON_NOVIDEO = 27,
    ID_SETTINGS_SCHEDULER_TASK = 28,
    ID_SETTINGS_RECORDING_DIAL_ON_ALARM2 = 29,
};
inline constexpr WORD kSettingsKinds = 29;

// The fixed length of a record of the kind (header included); 0 for a kind
// outside 1 to 29.
WORD SettingsRecordLength(WORD kind);

#pragma pack(push, 1)
struct SetListHeader {
    WORD wSize;
    WORD wSettingsID;
    WORD wAdIdx;
    WORD wIndex;
};
static_assert(sizeof(SetListHeader) == 8);
#pragma pack(pop)

// What the list asks of the program around it. Every member has a default
// that does nothing.
class RemoteSetListHost {
public:
    virtual ~RemoteSetListHost() = default;
    // The site's program version text (from its station information).
    virtual std::string siteVersionText() { return {}; }
    // The details text kept for the connected station in the stations
    // directory; false when there is no station or no directory.
    virtual bool readSiteDetails(std::string& /*details*/) { return false; }
    virtual bool writeSiteDetails(const std::string& /*details*/) { return false; }
    // An activity-log entry of the event id.
    virtual void logEntry(short /*eventId*/) {}
    // This station's serial-out protocols, entered into a fresh record before a
    // list is parsed (so the list can mark one of them as in use).
    virtual void addRemoteProtocols(tagRemSettings& /*record*/) {}
};

// The host of the program: the link's station information, the stations
// directory (by the connected station's identity), the activity log and the
// PTZ engine's protocols.
class LinkSetListHost : public RemoteSetListHost {
public:
    LinkSetListHost(CPacketConnection* link, std::function<std::string()> stationId)
        : m_link(link), m_stationId(std::move(stationId)) {}
    std::string siteVersionText() override;
    bool readSiteDetails(std::string& details) override;
    bool writeSiteDetails(const std::string& details) override;
    void logEntry(short eventId) override;
    void addRemoteProtocols(tagRemSettings& record) override;

private:
    CPacketConnection* m_link;
    std::function<std::string()> m_stationId;
};

class CRemoteSetList {
public:
    explicit CRemoteSetList(RemoteSetListHost& host) : m_host(host) {}
    virtual ~CRemoteSetList() = default;

    // The bytes CreateList produces for these inputs.
    DWORD GetListSize(const tagHWProfile& profile, const tagRemSettings& settings);
    // Builds the list into the buffer; a record that does not fit is left
    // out. Returns the bytes written (0: nothing was built). The site's clock
    // in `settings` is set to this PC's when its option says so.
    DWORD CreateList(const tagHWProfile& profile, tagRemSettings& settings, BYTE* buffer, DWORD capacity);
    // Fills `settings` from a received list; false (and `settings` untouched)
    // when the list is empty, damaged or holds no settings.
    bool DispatchList(const BYTE* buffer, DWORD length, tagRemSettings& settings);

    // The seconds passed since the settings were downloaded, by the time of day.
    LONG UpdateTimeDiff(const SYSTEMTIME& lastDownload, const SYSTEMTIME& now);

    // The list file: written whole (1) or not (0); its size and its bytes.
    static int CreateSetFile(const BYTE* buffer, DWORD length, const std::string& path);
    static int GetSetListFileSize(const std::string& path, DWORD& size);
    static int ReadSetFile(BYTE* buffer, DWORD length, const std::string& path);

private:
    bool fixPolarity();
    // The site's clock for the list, by the record's option (the PC's time
    // is entered into `site` first when the option says so); 0 when unknown.
    LONG siteClockToSend(tagRemSetSiteInfo& site);
    void dispatchRecord(const BYTE* record, const SetListHeader& header, tagRemSettings& settings);

    RemoteSetListHost& m_host;
};

}  // namespace trennick
