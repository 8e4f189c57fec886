#include "telephony/modem_config.h"

#include "common/fixed_text.h"
#include "common/product_registry.h"
#include "platform/registry.h"

#include <algorithm>
#include <cstring>

namespace telephony {

namespace {

constexpr char kConfigSection[] = "TelephonyLineConfig";
constexpr char kLocationSection[] = "TelephonyLocation";
constexpr std::size_t kDialTextMax = 16;

bool dialable(const std::string& text) {
    return text.size() <= kDialTextMax &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#' || c == ','; });
}

std::string readText(const platform::RegistryKey& key, const char* name) {
    platform::RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS || value.type != platform::REG_SZ) return {};
    std::string text(value.data.begin(), value.data.end());
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
}

// A pause after a dialled prefix unless it ends with one already.
void appendWithPause(std::string& out, const std::string& part) {
    if (part.empty()) return;
    out += part;
    if (out.back() != ',') out.push_back(',');
}

}  // namespace

ModemDevConfig DefaultModemConfig() {
    ModemDevConfig c;
    c.size = sizeof(ModemDevConfig);
    return c;
}

bool ModemConfigValid(const ModemDevConfig& c) {
    if (std::memcmp(c.magic, "VTDC", 4) != 0 || c.size != sizeof(ModemDevConfig)) return false;
    if (std::find(std::begin(kModemBauds), std::end(kModemBauds), c.baudRate) == std::end(kModemBauds)) return false;
    if (c.pulseDialing > 1 || c.speakerMode > 2 || c.speakerVolume > 3 || c.waitForDialTone > 1) return false;
    if (c.callSetupSeconds < 1 || c.callSetupSeconds > 255) return false;
    const std::size_t length = strnlen(c.extraInit, sizeof c.extraInit);
    if (length == sizeof c.extraInit) return false;
    // Letters, digits and the punctuation of AT settings; nothing that ends a
    // command line or could be taken for one.
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char ch = static_cast<unsigned char>(c.extraInit[i]);
        if (ch < 0x20 || ch > 0x7E || ch == '+') return false;
    }
    return true;
}

std::string ModemConfigCommand(const ModemDevConfig& c) {
    return "ATM" + std::to_string(c.speakerMode) + "L" + std::to_string(c.speakerVolume) + "X" +
           (c.waitForDialTone ? "4" : "3") + "S7=" + std::to_string(c.callSetupSeconds) +
           fixed_text::Read(c.extraInit, sizeof c.extraInit);
}

ModemDevConfig LoadModemConfig(const std::string& lineName) {
    platform::RegistryKey key;
    if (platform::RegistryKey::open(platform::HKEY_CURRENT_USER, CommonKeyPath(kConfigSection), platform::KEY_READ,
                                    key) == ERROR_SUCCESS) {
        platform::RegistryValue value;
        if (key.readValue(lineName, value) == ERROR_SUCCESS && value.type == platform::REG_BINARY &&
            value.data.size() == sizeof(ModemDevConfig)) {
            ModemDevConfig c;
            std::memcpy(&c, value.data.data(), sizeof c);
            if (ModemConfigValid(c)) return c;
        }
    }
    return DefaultModemConfig();
}

bool SaveModemConfig(const std::string& lineName, const ModemDevConfig& config) {
    if (!ModemConfigValid(config) || lineName.empty()) return false;
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::HKEY_CURRENT_USER, CommonKeyPath(kConfigSection),
                                      platform::KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return false;
    }
    return key.setValue(lineName, platform::REG_BINARY, reinterpret_cast<const BYTE*>(&config), sizeof config) ==
           ERROR_SUCCESS;
}

bool DialingLocationValid(const DialingLocation& location) {
    return dialable(location.outsideLine) && dialable(location.disableCallWaiting);
}

DialingLocation LoadDialingLocation() {
    DialingLocation location;
    platform::RegistryKey key;
    if (platform::RegistryKey::open(platform::HKEY_CURRENT_USER, CommonKeyPath(kLocationSection), platform::KEY_READ,
                                    key) == ERROR_SUCCESS) {
        location.outsideLine = readText(key, "OutsideLine");
        location.disableCallWaiting = readText(key, "DisableCallWaiting");
    }
    // A damaged store dials the number as it stands.
    return DialingLocationValid(location) ? location : DialingLocation{};
}

bool SaveDialingLocation(const DialingLocation& location) {
    if (!DialingLocationValid(location)) return false;
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::HKEY_CURRENT_USER, CommonKeyPath(kLocationSection),
                                      platform::KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return false;
    }
    const auto put = [&](const char* name, const std::string& text) {
        return key.setValue(name, platform::REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    };
    return put("OutsideLine", location.outsideLine) && put("DisableCallWaiting", location.disableCallWaiting);
}

std::string TranslateNumber(const DialingLocation& location, const std::string& number) {
    std::string out;
    appendWithPause(out, location.outsideLine);
    appendWithPause(out, location.disableCallWaiting);
    return out + number;
}

}  // namespace telephony
