#include "tavicore/settings_store.h"

#include "common/product_registry.h"
#include "tavicore/tavicore_globals.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace settings_store {

Store::Store() : m_instanceId(gcsVlmInsID), m_reg(InstanceKey(m_instanceId, "")) {}

DWORD Store::readDword(const std::string& section, const char* name, DWORD def) {
    DWORD value = def;
    if (!m_reg.GetDword(section.c_str(), name, &value)) {
        value = def;
    }
    return value;
}

DWORD Store::readDwordBack(const std::string& section, const char* name, DWORD def) {
    DWORD value = def;
    m_reg.GetDwordDefault(section.c_str(), name, &value);
    return value;
}

void Store::writeDword(const std::string& section, const char* name, DWORD value) {
    m_reg.SetDword(section.c_str(), name, &value);
}

void Store::readText(const std::string& section, const char* name, char* field, std::size_t fieldBytes,
                     std::size_t maxChars, const char* def) {
    maxChars = std::min(maxChars, fieldBytes);
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    const char* text = def ? def : "";
    if (m_reg.GetString(section.c_str(), name, buffer.data(), &size)) {
        text = buffer.data();
    }
    std::memset(field, 0, fieldBytes);
    std::memcpy(field, text, ::strnlen(text, maxChars));
}

void Store::writeText(const std::string& section, const char* name, const char* field, std::size_t maxChars) {
    const std::string text(field, ::strnlen(field, maxChars));
    m_reg.SetString(section.c_str(), name, text.c_str());
}

bool Store::readBinary(const std::string& section, const char* name, void* data, DWORD size) {
    std::vector<BYTE> buffer(size);
    DWORD got = size;
    if (!m_reg.GetBinary(section.c_str(), name, buffer.data(), &got) || got != size) {
        return false;
    }
    std::memcpy(data, buffer.data(), size);
    return true;
}

void Store::writeBinary(const std::string& section, const char* name, const void* data, DWORD size) {
    m_reg.SetBinary(section.c_str(), name, static_cast<const BYTE*>(data), size);
}

void Store::createKey(const std::string& section) {
    platform::RegistryKey key;
    (void)platform::RegistryKey::create(platform::HKEY_CURRENT_USER, InstanceKeyPath(m_instanceId, section),
                                        platform::KEY_ALL_ACCESS, key);
}

std::string sub(const std::string& base, int index) { return base + "\\" + std::to_string(index); }

}  // namespace settings_store
