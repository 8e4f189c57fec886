#pragma once
// The identity of this station (a GUID with a display name and a phone number)
// and of the known remote stations, kept in the registry, and the per-station
// adapter and camera counts of known local-server stations.

#include "platform/registry.h"
#include "platform/types.h"
#include "tavicore/tavicore_api.h"

#pragma pack(push, 1)
// A station's display name and phone number, each a zero-terminated text.
struct tagSiteInfo {
    char name[256];
    char phone[256];
};
static_assert(sizeof(tagSiteInfo) == 512);

// The adapters of a known station and the cameras of each.
inline constexpr int kStationDataAdapters = 7;
struct StationData {
    WORD adapters;
    WORD cameras[kStationDataAdapters];
};
static_assert(sizeof(StationData) == 16);
#pragma pack(pop)

// Room for a GUID text (36 characters) with its terminator.
inline constexpr DWORD kGuidTextBytes = 37;

// Keeps this station's GUID under the product key and one key per known remote
// station under "Stations\Local Servers". Used on the user-interface thread;
// one enumeration at a time per object. Every failure is traced and reported by
// the result 0. A GUID given by a caller (it may come from a peer) must be a
// plain key name: 1 to 64 letters, digits, dashes or braces; anything else is
// refused, so it can never reach another key.
class TAVICORE_API CUUIDdb {
public:
    CUUIDdb() = default;
    ~CUUIDdb();
    CUUIDdb(const CUUIDdb&) = delete;
    CUUIDdb& operator=(const CUUIDdb&) = delete;

    virtual int dbIsNullPointer(const char* text);
    // "software\Quennel\Velmoor" + instance id + "\1.000.0\" + sub key; 0 when it
    // does not fit `outBytes`.
    virtual int BuildRegPath(const char* instanceId, const char* subKey, char* out, DWORD outBytes);
    virtual int dbGUIDCreateKey(char* buffer, DWORD size);
    virtual int dbGUIDThisWriteKey(const char* guid);
    virtual int dbGUIDRemoteWriteKey(const char* guid);
    virtual int dbGUIDThisReadKey(char* buffer, DWORD size);
    virtual int dbGUIDRemoteReadKey(DWORD index, char* buffer, DWORD size);
    virtual int dbGUIDThisExistKey();
    virtual int dbGUIDRemoteExistKey(const char* guid);
    virtual int dbGUIDThisRemove();
    virtual int dbGUIDRemoteRemove(const char* guid);
    virtual int dbGUIDThisReadInfo(tagSiteInfo* info);
    virtual int dbGUIDRemoteReadInfo(const char* guid, tagSiteInfo* info);
    virtual int dbGUIDThisWriteInfo(const tagSiteInfo* info);
    virtual int dbGUIDRemoteWriteInfo(const char* guid, const tagSiteInfo* info);
    virtual int dbGUIDRemoveEntry(const char* keyPath);
    virtual int dbGUIDStartEnumerateRemoteKeys();
    virtual int dbGUIDFinishEnumerateRemoteKeys();

private:
    platform::RegistryKey m_hkey;  // "Stations\Local Servers" during an enumeration
};

// The adapter and camera counts of known local-server stations, under the
// product key of the instance. Any thread; failures leave the defaults.
class TAVICORE_API CStationData {
public:
    CStationData();
    virtual ~CStationData();
    CStationData(const CStationData&) = default;
    CStationData& operator=(const CStationData&) = default;

    // Writes "AdaptersNumber" and each adapter's "NumberOfCameras" (at most 7
    // adapters); 0 only when the key text cannot be built.
    int WriteData(const char* guid, StationData data);
    // Reads them back: 1 adapter and 16 cameras where nothing is stored; a
    // stored count above 7 is read as 7.
    int ReadData(const char* guid, StationData* out);
    // "Stations\Local Servers\" + GUID; 0 when the GUID is not a key name or the
    // text does not fit `outBytes` (at most 256).
    int BuildRegStationKey(const char* guid, char* out, DWORD outBytes);

private:
    char m_key[256];
};
