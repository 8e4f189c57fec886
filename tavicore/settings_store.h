#pragma once
// Typed access to the settings database's registry values under the instance's
// product key, for the settings database's own sources.

#include "common/kc_reg.h"
#include "platform/types.h"

#include <string>

namespace settings_store {

// One group of reads and writes under the instance's product key
// (common/product_registry.h); the instance id is taken when the object is built. Failures are
// traced by the settings class and leave the caller's default.
class Store {
public:
    Store();

    // The stored number, or `def` when it cannot be read; nothing is written.
    DWORD readDword(const std::string& section, const char* name, DWORD def);
    // The stored number, or `def` written in its place when it cannot be read,
    // so the value exists afterwards.
    DWORD readDwordBack(const std::string& section, const char* name, DWORD def);
    void writeDword(const std::string& section, const char* name, DWORD value);
    // Reads a text into a field of `fieldBytes` holding at most `maxChars`
    // characters (zero-filled behind the text). A longer stored text is cut; a
    // missing one gives `def`, cut the same way.
    void readText(const std::string& section, const char* name, char* field, std::size_t fieldBytes,
                  std::size_t maxChars, const char* def);
    // Writes at most `maxChars` characters of a field.
    void writeText(const std::string& section, const char* name, const char* field, std::size_t maxChars);
    bool readBinary(const std::string& section, const char* name, void* data, DWORD size);
    void writeBinary(const std::string& section, const char* name, const void* data, DWORD size);
    // Opens the section's key, creating it when missing.
    void createKey(const std::string& section);

private:
    std::string m_instanceId;
    CKcReg m_reg;
};

// "<base>\<index>".
std::string sub(const std::string& base, int index);

}  // namespace settings_store
