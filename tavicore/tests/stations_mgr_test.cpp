#include "tavicore/stations_mgr.h"

#include "platform/com/com.h"
#include "platform/folders.h"
#include "platform/registry.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string storageValue(const char* name) {
    platform::RegistryKey key;
    if (platform::RegistryKey::open(platform::HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\Common\\Storage",
                                    platform::KEY_READ, key) != ERROR_SUCCESS) {
        return "<no key>";
    }
    platform::RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS) {
        return "<no value>";
    }
    std::string text(value.data.begin(), value.data.end());
    return text.substr(0, text.find('\0'));
}

void setStorageValue(const char* name, const std::string& text) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\Common\\Storage",
                                            platform::KEY_ALL_ACCESS, key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, platform::REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1)),
              ERROR_SUCCESS);
}

}  // namespace

TEST(CStationsMgr, UnregisteredServerLeavesGetNull) {
    CStationsMgr manager;
    EXPECT_EQ(manager.Get(), nullptr);
    // The folders were still read and stored.
    EXPECT_EQ(storageValue("DefaultPath"), platform::programFolder().string());
}

TEST(CStationsMgr, DefaultsAreStoredAndHandedToTheServer) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    platform::com::ensureServersRegistered();
    {
        CStationsMgr manager;
        ASSERT_NE(manager.Get(), nullptr);
        const std::string current = platform::programFolder().string();
        EXPECT_EQ(storageValue("DefaultPath"), current);
        EXPECT_EQ(storageValue("StationsDBFolder"), current);
        char folder[260];
        ASSERT_EQ(manager.Get()->GetWorkingFolder(folder), S_OK);
        EXPECT_EQ(std::string(folder), current + "/StationsDB");
        ASSERT_EQ(manager.Get()->StartQueryStation("{11111111-2222-3333-4444-555555555555}"), S_FALSE);
        ASSERT_EQ(manager.Get()->GetStorageWorkingFolder(folder), S_OK);
        EXPECT_EQ(std::string(folder), current);
    }
    // A stored folder with a trailing separator works as without it.
    const std::string elsewhere = (platform::homeFolder() / "elsewhere").string();
    std::filesystem::create_directories(elsewhere);
    setStorageValue("StationsDBFolder", elsewhere + "/");
    CStationsMgr manager;
    ASSERT_NE(manager.Get(), nullptr);
    char folder[260];
    manager.Get()->GetWorkingFolder(folder);
    EXPECT_EQ(std::string(folder), elsewhere + "/StationsDB");
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere + "/StationsDB"));
    CoUninitialize();
}

TEST(CStationsMgr, GlobalStartsNull) { EXPECT_EQ(stationsMgr, nullptr); }
