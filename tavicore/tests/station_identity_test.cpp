#include "tavicore/station_identity.h"

#include "platform/registry.h"
#include "tavicore/tavicore_globals.h"

#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

using platform::HKEY_CURRENT_USER;
using platform::KEY_ALL_ACCESS;
using platform::RegistryKey;
using platform::RegistryValue;

namespace {

constexpr const char* kGuid1 = "0A1B2C3D-0000-4000-8000-000000000001";
constexpr const char* kGuid2 = "0A1B2C3D-0000-4000-8000-000000000002";

bool keyExists(const std::string& path) {
    RegistryKey key;
    return RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) == ERROR_SUCCESS;
}

int subKeyCount(const std::string& path) {
    RegistryKey key;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return -1;
    }
    int n = 0;
    std::string name;
    while (key.enumSubKey(static_cast<DWORD>(n), name) == ERROR_SUCCESS) {
        ++n;
    }
    return n;
}

RegistryValue valueOf(const std::string& path, const char* name) {
    RegistryKey key;
    RegistryValue value;
    if (RegistryKey::open(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) == ERROR_SUCCESS) {
        (void)key.readValue(name, value);
    }
    return value;
}

void setText(const std::string& path, const char* name, const std::string& text) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, platform::REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                           static_cast<DWORD>(text.size())),
              ERROR_SUCCESS);
}

tagSiteInfo site(const char* name, const char* phone) {
    tagSiteInfo info{};
    std::strcpy(info.name, name);
    std::strcpy(info.phone, phone);
    return info;
}

const std::string kThisPath = "software\\Quennel\\Velmoor\\1.000.0\\Stations\\This Station";

}  // namespace

TEST(CUUIDdb, BuildRegPathPutsTheInstanceIdRightBehindTheProduct) {
    struct Case { const char* id; const char* expected; };
    constexpr Case kCases[] = {
        {nullptr, "software\\Quennel\\Velmoor\\1.000.0\\Stations"},
        {"", "software\\Quennel\\Velmoor\\1.000.0\\Stations"},
        {"2", "software\\Quennel\\Velmoor2\\1.000.0\\Stations"},
    };
    CUUIDdb db;
    for (const auto& c : kCases) {
        char out[MAX_PATH];
        ASSERT_EQ(db.BuildRegPath(c.id, "Stations", out, sizeof out), 1);
        EXPECT_STREQ(out, c.expected);
    }
    char tiny[8];
    EXPECT_EQ(db.BuildRegPath("", "Stations", tiny, sizeof tiny), 0);
}

TEST(CUUIDdb, CreatesUpperCaseGuidTexts) {
    CUUIDdb db;
    char a[kGuidTextBytes] = {};
    char b[kGuidTextBytes] = {};
    ASSERT_EQ(db.dbGUIDCreateKey(a, sizeof a), 1);
    ASSERT_EQ(db.dbGUIDCreateKey(b, sizeof b), 1);
    EXPECT_EQ(std::strlen(a), 36u);
    EXPECT_STRNE(a, b);
    for (int i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(a[i], '-');
        } else {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(a[i])) && !std::islower(a[i])) << a;
        }
    }
}

TEST(CUUIDdb, ThisStationKeepsOneGuidAndCarriesNameAndPhoneOver) {
    CUUIDdb db;
    char guid[kGuidTextBytes] = {};
    EXPECT_EQ(db.dbGUIDThisReadKey(guid, sizeof guid), 0);
    EXPECT_EQ(db.dbGUIDThisExistKey(), 0);

    ASSERT_EQ(db.dbGUIDThisWriteKey(kGuid1), 1);
    ASSERT_EQ(db.dbGUIDThisReadKey(guid, sizeof guid), 1);
    EXPECT_STREQ(guid, kGuid1);
    tagSiteInfo info{};
    ASSERT_EQ(db.dbGUIDThisReadInfo(&info), 1);
    EXPECT_STREQ(info.name, "Anonymous");
    EXPECT_STREQ(info.phone, "Unknown");

    tagSiteInfo depot = site("Depot", "555 0101");
    ASSERT_EQ(db.dbGUIDThisWriteInfo(&depot), 1);
    // Texts are stored without their terminator.
    EXPECT_EQ(valueOf(kThisPath + "\\" + kGuid1, "Name").data.size(), 5u);

    ASSERT_EQ(db.dbGUIDThisWriteKey(kGuid2), 1);
    EXPECT_EQ(subKeyCount(kThisPath), 1);
    ASSERT_EQ(db.dbGUIDThisReadKey(guid, sizeof guid), 1);
    EXPECT_STREQ(guid, kGuid2);
    ASSERT_EQ(db.dbGUIDThisReadInfo(&info), 1);
    EXPECT_STREQ(info.name, "Depot");
    EXPECT_STREQ(info.phone, "555 0101");
}

TEST(CUUIDdb, TwoThisStationKeysAreWipedAndTheNextWriteStartsAfresh) {
    setText(kThisPath + "\\" + kGuid1, "Name", "One");
    setText(kThisPath + "\\" + kGuid2, "Name", "Two");
    CUUIDdb db;
    char guid[kGuidTextBytes] = {};
    EXPECT_EQ(db.dbGUIDThisReadKey(guid, sizeof guid), 0);
    EXPECT_FALSE(keyExists(kThisPath));
    ASSERT_EQ(db.dbGUIDThisWriteKey(kGuid1), 1);
    tagSiteInfo info{};
    ASSERT_EQ(db.dbGUIDThisReadInfo(&info), 1);
    EXPECT_STREQ(info.name, "Anonymous");
    EXPECT_STREQ(info.phone, "Unknown");
}

TEST(CUUIDdb, MissingOrLongValuesOfThisStation) {
    setText(kThisPath + "\\" + kGuid1, "Name", std::string(300, 'N'));
    CUUIDdb db;
    tagSiteInfo info{};
    EXPECT_EQ(db.dbGUIDThisReadInfo(&info), 0);  // "Phone" is missing
    EXPECT_EQ(std::string(info.name), std::string(255, 'N'));  // cut, not dropped
    EXPECT_STREQ(info.phone, "Unknown");
}

TEST(CUUIDdb, InstanceIdSelectsTheProductKey) {
    gcsVlmInsID = "7";
    CUUIDdb db;
    ASSERT_EQ(db.dbGUIDThisWriteKey(kGuid1), 1);
    EXPECT_TRUE(keyExists(std::string("software\\Quennel\\Velmoor7\\1.000.0\\Stations\\This Station\\") + kGuid1));
    EXPECT_FALSE(keyExists(kThisPath));
    gcsVlmInsID.clear();
    char guid[kGuidTextBytes] = {};
    EXPECT_EQ(db.dbGUIDThisReadKey(guid, sizeof guid), 0);
}

TEST(CUUIDdb, KnownStationsAreKeptByExactGuid) {
    CUUIDdb db;
    ASSERT_EQ(db.dbGUIDRemoteWriteKey(kGuid1), 1);
    tagSiteInfo info{};
    ASSERT_EQ(db.dbGUIDRemoteReadInfo(kGuid1, &info), 1);
    EXPECT_STREQ(info.name, "Anonymous");
    EXPECT_STREQ(info.phone, "Unknown");
    tagSiteInfo north = site("North", "12");
    ASSERT_EQ(db.dbGUIDRemoteWriteInfo(kGuid1, &north), 1);
    EXPECT_EQ(db.dbGUIDRemoteWriteInfo(kGuid2, &north), 0);  // not known
    // Writing the key again keeps what was known.
    ASSERT_EQ(db.dbGUIDRemoteWriteKey(kGuid1), 1);
    ASSERT_EQ(db.dbGUIDRemoteReadInfo(kGuid1, &info), 1);
    EXPECT_STREQ(info.name, "North");

    std::string lower = kGuid1;
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(db.dbGUIDRemoteExistKey(kGuid1), 1);
    EXPECT_EQ(db.dbGUIDRemoteExistKey(lower.c_str()), 0);

    ASSERT_EQ(db.dbGUIDRemoteWriteKey(kGuid2), 1);
    char name[64];
    EXPECT_EQ(db.dbGUIDRemoteReadKey(0, name, sizeof name), 0);  // no enumeration open
    ASSERT_EQ(db.dbGUIDStartEnumerateRemoteKeys(), 1);
    ASSERT_EQ(db.dbGUIDRemoteReadKey(0, name, sizeof name), 1);
    EXPECT_STREQ(name, kGuid1);
    ASSERT_EQ(db.dbGUIDRemoteReadKey(1, name, sizeof name), 1);
    EXPECT_STREQ(name, kGuid2);
    EXPECT_EQ(db.dbGUIDRemoteReadKey(2, name, sizeof name), 0);
    EXPECT_EQ(db.dbGUIDFinishEnumerateRemoteKeys(), 1);

    ASSERT_EQ(db.dbGUIDRemoteRemove(kGuid1), 1);
    EXPECT_EQ(db.dbGUIDRemoteExistKey(kGuid1), 0);
    EXPECT_EQ(db.dbGUIDRemoteExistKey(kGuid2), 1);
    ASSERT_EQ(db.dbGUIDRemoteRemove(""), 1);  // all known stations
    EXPECT_FALSE(keyExists("Stations\\Local Servers"));
}

TEST(CUUIDdb, GuidsThatAreNotKeyNamesAreRefused) {
    CUUIDdb db;
    ASSERT_EQ(db.dbGUIDRemoteWriteKey(kGuid1), 1);
    const std::string tooLong(65, 'A');
    const char* kBad[] = {"", "a\\b", "..\\..\\Software", "x y", "name\n", tooLong.c_str()};
    for (const char* bad : kBad) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(db.dbGUIDRemoteWriteKey(bad), 0);
        EXPECT_EQ(db.dbGUIDThisWriteKey(bad), 0);
        EXPECT_EQ(db.dbGUIDRemoteRemove(bad[0] ? bad : "a\\b"), 0);
    }
    EXPECT_EQ(subKeyCount("Stations\\Local Servers"), 1);
    EXPECT_FALSE(keyExists("Stations\\Local Servers\\a"));
    EXPECT_FALSE(keyExists(kThisPath));
}

TEST(CStationData, ReadsDefaultsWritesAndClampsAdapterCounts) {
    CStationData data;
    StationData got{};
    ASSERT_EQ(data.ReadData(kGuid1, &got), 1);
    EXPECT_EQ(+got.adapters, 1);
    EXPECT_EQ(+got.cameras[0], 16);

    StationData three{3, {4, 8, 16, 0, 0, 0, 0}};
    ASSERT_EQ(data.WriteData(kGuid1, three), 1);
    const std::string section =
        std::string("Software\\Quennel\\Velmoor\\1.000.0\\Stations\\Local Servers\\") + kGuid1;
    EXPECT_EQ(valueOf(section, "AdaptersNumber").type, platform::REG_DWORD);
    ASSERT_EQ(data.ReadData(kGuid1, &got), 1);
    EXPECT_EQ(std::memcmp(&got, &three, sizeof got), 0);

    // A stored count beyond the record's seven entries is read as seven.
    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, section, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    DWORD fifty = 50;
    ASSERT_EQ(key.setValue("AdaptersNumber", platform::REG_DWORD, reinterpret_cast<BYTE*>(&fifty), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(data.ReadData(kGuid1, &got), 1);
    EXPECT_EQ(+got.adapters, 7);
    EXPECT_EQ(+got.cameras[6], 16);

    StationData many{9, {1, 2, 3, 4, 5, 6, 7}};
    ASSERT_EQ(data.WriteData(kGuid2, many), 1);
    ASSERT_EQ(data.ReadData(kGuid2, &got), 1);
    EXPECT_EQ(+got.adapters, 7);
    EXPECT_EQ(+got.cameras[6], 7);
    EXPECT_EQ(data.WriteData("a\\b", many), 0);

    char out[300];
    ASSERT_EQ(data.BuildRegStationKey(kGuid1, out, sizeof out), 1);
    EXPECT_EQ(std::string(out), std::string("Stations\\Local Servers\\") + kGuid1);
    CStationData copy(data);
    ASSERT_EQ(copy.ReadData(kGuid1, &got), 1);
}
