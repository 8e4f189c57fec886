#include "common/product_registry.h"
#include "common/serial_port_map.h"

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

namespace {

void setText(const std::string& path, const char* name, const std::string& text, DWORD type = REG_SZ) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, type, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1)),
              ERROR_SUCCESS);
}

}  // namespace

TEST(ProductRegistry, KeyPathsHaveTheProductsForm) {
    struct Case { const char* id; const char* section; const char* path; };
    constexpr Case kCases[] = {
        {"", "Comms", "software\\Quennel\\Velmoor\\1.000.0\\Comms"},
        {"\\Velmoor7", "Comms\\TTYInfo", "software\\Quennel\\Velmoor\\Velmoor7\\1.000.0\\Comms\\TTYInfo"},
        {"2", "Stations", "software\\Quennel\\Velmoor2\\1.000.0\\Stations"},
        {"", "", "software\\Quennel\\Velmoor\\1.000.0"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(InstanceKeyPath(c.id, c.section), c.path);
    }
    EXPECT_EQ(CommonKeyPath("Log"), "software\\Quennel\\Velmoor\\Common\\Log");
    EXPECT_EQ(InstanceProductWord("\\Velmoor3"), "Velmoor\\Velmoor3");
}

TEST(ProductRegistry, CopiedPathKeepsTheSeparatorAndRefusesASmallBuffer) {
    char out[64];
    ASSERT_TRUE(CopyInstanceKeyPath(nullptr, "General", out, sizeof out));
    EXPECT_STREQ(out, "software\\Quennel\\Velmoor\\1.000.0\\General");
    ASSERT_TRUE(CopyInstanceKeyPath("2", nullptr, out, sizeof out));
    EXPECT_STREQ(out, "software\\Quennel\\Velmoor2\\1.000.0\\");
    const std::string full = "software\\Quennel\\Velmoor\\1.000.0\\General";
    std::string room(full.size(), 'x');  // one byte short of the terminator
    EXPECT_FALSE(CopyInstanceKeyPath("", "General", room.data(), room.size()));
    EXPECT_EQ(room, std::string(full.size(), 'x'));
    EXPECT_FALSE(CopyInstanceKeyPath("", "General", nullptr, 100));
}

// The settings class bound by InstanceKey and CommonKey reaches the keys the
// paths name, so raw registry calls and the settings class meet.
TEST(ProductRegistry, SettingsClassAndPathsNameTheSameKeys) {
    DWORD value = 41;
    ASSERT_TRUE(InstanceKey("\\Velmoor5", "Comms").SetDword(nullptr, "BaudRate", &value));
    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, InstanceKeyPath("\\Velmoor5", "Comms"), KEY_READ, key),
              ERROR_SUCCESS);
    RegistryValue stored;
    ASSERT_EQ(key.readValue("BaudRate", stored), ERROR_SUCCESS);
    EXPECT_EQ(stored.type, REG_DWORD);

    setText(CommonKeyPath("Log"), "Path", "/var/log/velmoor");
    char text[64] = {};
    DWORD size = sizeof text;
    ASSERT_TRUE(CommonKey("Log").GetString(nullptr, "Path", text, &size));
    EXPECT_STREQ(text, "/var/log/velmoor");
}

TEST(SerialPortMap, ReadsTheComValuesOfTheSharedKey) {
    EXPECT_TRUE(ReadSerialPortMap().empty());  // no key yet
    const std::string path = CommonKeyPath("SerialPorts");
    setText(path, "COM4", "/dev/ttyUSB0");
    setText(path, "com12", "/dev/ttyACM1");
    setText(path, "COM5", "");               // empty: no setting
    setText(path, "COM6", "/dev/x", REG_BINARY);  // another type
    setText(path, "COM07", "/dev/y");        // not how a port is named
    setText(path, "Modem", "/dev/z");
    const SerialPortMap expected{{4, "/dev/ttyUSB0"}, {12, "/dev/ttyACM1"}};
    EXPECT_EQ(ReadSerialPortMap(), expected);
    EXPECT_EQ(serialDevicePath("COM4", ReadSerialPortMap()), "/dev/ttyUSB0");
}
