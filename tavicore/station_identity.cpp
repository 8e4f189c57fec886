#include "tavicore/station_identity.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "platform/uuid.h"
#include "tavicore/product_key.h"

#include <algorithm>
#include <cstring>
#include <string>

using platform::HKEY_CURRENT_USER;
using platform::KEY_ALL_ACCESS;
using platform::REG_SZ;
using platform::RegistryKey;
using platform::RegistryValue;

namespace {

constexpr const char* kThisStation = "Stations\\This Station";
constexpr const char* kLocalServers = "Stations\\Local Servers";
constexpr const char* kDefaultName = "Anonymous";
constexpr const char* kDefaultPhone = "Unknown";

// A GUID that may become a key name: letters, digits, dashes and braces only.
bool validGuid(const char* guid) {
    if (guid == nullptr) {
        return false;
    }
    const std::size_t length = ::strnlen(guid, 65);
    if (length == 0 || length > 64) {
        return false;
    }
    return std::all_of(guid, guid + length, [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '-' || c == '{' || c == '}';
    });
}

// Copies a text into a caller's buffer of `size` bytes, always terminated.

std::string productPath(const std::string& subKey) { return ProductKeyPath("") + "\\" + subKey; }

// Reads a text value into a 256-byte field; a longer text is cut, not dropped.
bool readText(const RegistryKey& key, const char* name, char (&field)[256]) {
    RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS || value.type != REG_SZ) {
        return false;
    }
    std::memset(field, 0, sizeof field);
    // An empty text is stored without a single byte.
    if (value.data.empty()) return true;
    std::size_t n = std::min<std::size_t>(value.data.size(), sizeof field - 1);
    n = ::strnlen(reinterpret_cast<const char*>(value.data.data()), n);
    std::memcpy(field, value.data.data(), n);
    return true;
}

// Writes a field's text as REG_SZ without its terminator.
bool writeText(RegistryKey& key, const char* name, const char (&field)[256]) {
    const DWORD n = static_cast<DWORD>(::strnlen(field, sizeof field - 1));
    return key.setValue(name, REG_SZ, reinterpret_cast<const BYTE*>(field), n) == ERROR_SUCCESS;
}

void setDefaults(tagSiteInfo& info) {
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.name, kDefaultName);
    std::strcpy(info.phone, kDefaultPhone);
}

}  // namespace

CUUIDdb::~CUUIDdb() = default;

int CUUIDdb::dbIsNullPointer(const char* text) { return text == nullptr || *text == '\0'; }

int CUUIDdb::BuildRegPath(const char* instanceId, const char* subKey, char* out, DWORD outBytes) {
    return CopyInstanceKeyPath(instanceId, subKey, out, outBytes) ? 1 : 0;
}

int CUUIDdb::dbGUIDCreateKey(char* buffer, DWORD size) {
    GUID id{};
    if (buffer == nullptr || size == 0 || !platform::newUuid(id)) {
        return 0;
    }
    const std::string text = platform::uuidToString(id, platform::UuidBraces::Without);
    fixed_text::Write(buffer, size, text);
    LUMO_TRACE(5, "CUUIDdb::dbGUIDCreateKey chGUID = %s\n", buffer);
    return 1;
}

int CUUIDdb::dbGUIDThisWriteKey(const char* guid) {
    if (!validGuid(guid)) {
        return 0;
    }
    tagSiteInfo info;
    setDefaults(info);
    char old[kGuidTextBytes + 28] = {};
    if (dbGUIDThisReadKey(old, sizeof old)) {
        tagSiteInfo kept;
        dbGUIDThisReadInfo(&kept);  // a missing value comes back as its default
        info = kept;
        RegistryKey station;
        if (RegistryKey::open(HKEY_CURRENT_USER, productPath(kThisStation), KEY_ALL_ACCESS,
                              station) != ERROR_SUCCESS ||
            station.deleteSubKey(old) != ERROR_SUCCESS) {
            return 0;
        }
    }
    RegistryKey created;
    if (RegistryKey::create(HKEY_CURRENT_USER, productPath(kThisStation) + "\\" + guid,
                            KEY_ALL_ACCESS, created) != ERROR_SUCCESS) {
        return 0;
    }
    return dbGUIDThisWriteInfo(&info);
}

int CUUIDdb::dbGUIDThisReadKey(char* buffer, DWORD size) {
    const std::string path = productPath(kThisStation);
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey Failed: RegOpenKeyEx() failed %s\n", path.c_str());
        return 0;
    }
    std::string first;
    long found = 0;
    for (long i = 0; i < 2; ++i) {
        std::string name;
        LONG rc = key.enumSubKey(static_cast<DWORD>(i), name);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS) {
            LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey ERROR: RegEnumKeyEx returned ERROR i= %ld dwRet = %ld",
                       i, static_cast<long>(rc));
            break;
        }
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey Success: RegEnumKeyEx i= %ld chGUID=%s", i, name.c_str());
        if (found == 0) {
            first = name;
        }
        ++found;
    }
    key.close();
    if (found == 1) {
        fixed_text::Write(buffer, size, first);
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey One entry found");
        return 1;
    }
    if (found == 0) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey No Entries found i = %ld .....Remove the entry", found);
    } else {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadKey More then one entry found.....Remove the entry");
    }
    dbGUIDThisRemove();
    return 0;
}

int CUUIDdb::dbGUIDThisExistKey() {
    RegistryKey key;
    std::string name;
    return RegistryKey::open(HKEY_CURRENT_USER, productPath(kThisStation), KEY_ALL_ACCESS, key) ==
               ERROR_SUCCESS &&
           key.enumSubKey(0, name) == ERROR_SUCCESS;
}

int CUUIDdb::dbGUIDThisRemove() { return dbGUIDRemoveEntry(productPath(kThisStation).c_str()); }

int CUUIDdb::dbGUIDThisReadInfo(tagSiteInfo* info) {
    if (info == nullptr) {
        return 0;
    }
    char guid[kGuidTextBytes + 28] = {};
    if (!dbGUIDThisReadKey(guid, sizeof guid)) {
        return 0;
    }
    const std::string path = productPath(kThisStation) + "\\" + guid;
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadInfo Failed: RegOpenKeyEx() failed %s\n", path.c_str());
        return 0;
    }
    setDefaults(*info);
    bool both = true;
    if (!readText(key, "Name", info->name)) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadInfo Failed: RegOpenKeyEx(%s) failed\n", "Name");
        std::strcpy(info->name, kDefaultName);
        both = false;
    }
    if (!readText(key, "Phone", info->phone)) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisReadInfo Failed: RegOpenKeyEx(%s) failed\n", "Phone");
        std::strcpy(info->phone, kDefaultPhone);
        both = false;
    }
    return both ? 1 : 0;
}

int CUUIDdb::dbGUIDThisWriteInfo(const tagSiteInfo* info) {
    char guid[kGuidTextBytes + 28] = {};
    if (info == nullptr || !dbGUIDThisReadKey(guid, sizeof guid)) {
        return 0;
    }
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, productPath(kThisStation) + "\\" + guid,
                          KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return 0;
    }
    const bool name = writeText(key, "Name", info->name);
    const bool phone = writeText(key, "Phone", info->phone);
    return name && phone ? 1 : 0;
}

int CUUIDdb::dbGUIDRemoteWriteKey(const char* guid) {
    if (!validGuid(guid)) {
        return 0;
    }
    const std::string path = std::string(kLocalServers) + "\\" + guid;
    tagSiteInfo info;
    setDefaults(info);
    RegistryKey existing;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, existing) == ERROR_SUCCESS) {
        // Keep what the known station had; re-create its key with it.
        readText(existing, "Name", info.name);
        readText(existing, "Phone", info.phone);
        existing.close();
        RegistryKey parent;
        if (RegistryKey::open(HKEY_CURRENT_USER, kLocalServers, KEY_ALL_ACCESS, parent) != ERROR_SUCCESS ||
            parent.deleteSubKey(guid) != ERROR_SUCCESS) {
            return 0;
        }
    }
    RegistryKey key;
    if (RegistryKey::create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return 0;
    }
    const bool name = writeText(key, "Name", info.name);
    const bool phone = writeText(key, "Phone", info.phone);
    return name && phone ? 1 : 0;
}

int CUUIDdb::dbGUIDStartEnumerateRemoteKeys() {
    m_hkey.close();
    LONG rc = RegistryKey::open(HKEY_CURRENT_USER, kLocalServers, KEY_ALL_ACCESS, m_hkey);
    if (rc != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDStartEnumerateRemoteKeys() ERROR: RegOpenKeyEx failed!!!!  dwRet = %ld",
                   static_cast<long>(rc));
        return 0;
    }
    return 1;
}

int CUUIDdb::dbGUIDRemoteReadKey(DWORD index, char* buffer, DWORD size) {
    if (!m_hkey.isOpen()) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoteReadKey Failed!!!! m_hkey = NULL\n");
        return 0;
    }
    std::string name;
    if (m_hkey.enumSubKey(index, name) != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoteReadKey ERROR: RegEnumKeyEx dwIndex= %ld ", static_cast<long>(index));
        return 0;
    }
    fixed_text::Write(buffer, size, name);
    return 1;
}

int CUUIDdb::dbGUIDFinishEnumerateRemoteKeys() {
    m_hkey.close();
    return 1;
}

int CUUIDdb::dbGUIDRemoteExistKey(const char* guid) {
    if (dbIsNullPointer(guid) || !dbGUIDStartEnumerateRemoteKeys()) {
        return 0;
    }
    // The key is found by its name, whatever the case; the station is known
    // only when the name was stored exactly so.
    std::string stored;
    const int found = m_hkey.subKeyName(guid, stored) == ERROR_SUCCESS && stored == guid ? 1 : 0;
    dbGUIDFinishEnumerateRemoteKeys();
    return found;
}

int CUUIDdb::dbGUIDRemoteRemove(const char* guid) {
    if (dbIsNullPointer(guid)) {
        return dbGUIDRemoveEntry(kLocalServers);
    }
    if (!validGuid(guid)) {
        return 0;
    }
    RegistryKey parent;
    return RegistryKey::open(HKEY_CURRENT_USER, kLocalServers, KEY_ALL_ACCESS, parent) == ERROR_SUCCESS &&
           parent.deleteSubKey(guid) == ERROR_SUCCESS;
}

int CUUIDdb::dbGUIDRemoteReadInfo(const char* guid, tagSiteInfo* info) {
    if (!validGuid(guid) || info == nullptr) {
        return 0;
    }
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, std::string(kLocalServers) + "\\" + guid, KEY_ALL_ACCESS,
                          key) != ERROR_SUCCESS) {
        return 0;
    }
    std::memset(info, 0, sizeof *info);
    if (!readText(key, "Name", info->name)) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoteReadInfo ERROR: RegQueryValueEx RV_SITE_NAME failed");
        return 0;
    }
    if (!readText(key, "Phone", info->phone)) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoteReadInfo ERROR: RegQueryValueEx RV_SITE_PHONE failed");
        return 0;
    }
    return 1;
}

int CUUIDdb::dbGUIDRemoteWriteInfo(const char* guid, const tagSiteInfo* info) {
    if (!validGuid(guid) || info == nullptr || !dbGUIDRemoteExistKey(guid)) {
        return 0;
    }
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, std::string(kLocalServers) + "\\" + guid, KEY_ALL_ACCESS,
                          key) != ERROR_SUCCESS) {
        return 0;
    }
    const bool name = writeText(key, "Name", info->name);
    const bool phone = writeText(key, "Phone", info->phone);
    return name && phone ? 1 : 0;
}

int CUUIDdb::dbGUIDRemoveEntry(const char* keyPath) {
    if (dbIsNullPointer(keyPath)) {
        return 0;
    }
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, keyPath, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoveEntry() ERROR: RegOpenKeyEx %s", keyPath);
        return 0;
    }
    // Always take the first sub key left until none is left.
    std::string name;
    while (key.enumSubKey(0, name) == ERROR_SUCCESS) {
        if (key.deleteSubKey(name) != ERROR_SUCCESS) {
            LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoveEntry() ERROR: RegDeleteKey %s", name.c_str());
            break;
        }
        LUMO_TRACE(5, "CUUIDdb::dbGUIDRemoveEntry() Success: RegDeleteKey %s", name.c_str());
    }
    key.close();
    if (platform::RegDeleteKey(HKEY_CURRENT_USER, keyPath) != ERROR_SUCCESS) {
        LUMO_TRACE(5, "CUUIDdb::dbGUIDThisRemove() Fail...cant remove the key");
        return 0;
    }
    LUMO_TRACE(5, "CUUIDdb::dbGUIDThisRemove() Success...key was removed");
    return 1;
}

CStationData::CStationData() { std::memset(m_key, 0, sizeof m_key); }

CStationData::~CStationData() = default;

int CStationData::BuildRegStationKey(const char* guid, char* out, DWORD outBytes) {
    if (!validGuid(guid) || out == nullptr) {
        return 0;
    }
    const std::string key = std::string(kLocalServers) + "\\" + guid;
    if (key.size() >= std::min<DWORD>(outBytes, sizeof m_key)) {
        return 0;
    }
    fixed_text::Write(out, outBytes, key);
    return 1;
}

int CStationData::WriteData(const char* guid, StationData data) {
    if (!BuildRegStationKey(guid, m_key, sizeof m_key)) {
        return 0;
    }
    CKcReg reg = ProductKey(m_key);
    const int adapters = std::min<int>(data.adapters, kStationDataAdapters);
    DWORD value = static_cast<DWORD>(adapters);
    reg.SetDword(nullptr, "AdaptersNumber", &value);
    for (int i = 0; i < adapters; ++i) {
        const std::string section = std::string(m_key) + "\\Adapters\\" + std::to_string(i);
        value = data.cameras[i];
        reg.SetDword(section.c_str(), "NumberOfCameras", &value);
    }
    return 1;
}

int CStationData::ReadData(const char* guid, StationData* out) {
    if (out == nullptr || !BuildRegStationKey(guid, m_key, sizeof m_key)) {
        return 0;
    }
    CKcReg reg = ProductKey(m_key);
    std::memset(out, 0, sizeof *out);
    DWORD value = 1;
    if (!reg.GetDword(nullptr, "AdaptersNumber", &value)) {
        value = 1;
    }
    out->adapters = static_cast<WORD>(std::min<DWORD>(value, kStationDataAdapters));
    for (int i = 0; i < out->adapters; ++i) {
        const std::string section = std::string(m_key) + "\\Adapters\\" + std::to_string(i);
        value = 16;
        if (!reg.GetDword(section.c_str(), "NumberOfCameras", &value)) {
            value = 16;
        }
        out->cameras[i] = static_cast<WORD>(value);
    }
    return 1;
}
