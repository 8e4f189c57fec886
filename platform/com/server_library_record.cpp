#include "platform/com/server_library_record.h"

#include "platform/com/com_server.h"
#include "platform/registry.h"

#include <filesystem>
#include <sys/stat.h>

namespace platform::com {
namespace {

constexpr const char* kPathValue = "Path";
constexpr const char* kFileValue = "File";
constexpr const char* kClassesValue = "Classes";

std::string fileStamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_size) + ' ' + std::to_string(info.st_mtim.tv_sec) + '.' +
           std::to_string(info.st_mtim.tv_nsec) + ' ' + std::to_string(info.st_ino);
}

std::string readText(const RegistryKey& key, const char* name) {
    RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS || value.type != REG_SZ) {
        return {};
    }
    return std::string(value.data.begin(), value.data.end());
}

LONG writeText(RegistryKey& key, const char* name, const std::string& text) {
    return key.setValue(name, REG_SZ, reinterpret_cast<const BYTE*>(text.data()), DWORD(text.size()));
}

}  // namespace

ServerLibraryRecord::ServerLibraryRecord(std::string path)
    : m_path(std::move(path)),
      m_key("ServerLibraries\\" + std::filesystem::path(m_path).filename().string()),
      m_file(fileStamp(m_path)) {}

bool ServerLibraryRecord::current() const {
    RegistryKey key;
    if (m_file.empty() || RegistryKey::open(HKEY_CLASSES_ROOT, m_key, KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
        readText(key, kPathValue) != m_path || readText(key, kFileValue) != m_file) {
        return false;
    }
    // The classes, each as its 38-character braced text, one after the other.
    const std::string classes = readText(key, kClassesValue);
    constexpr std::size_t kGuidChars = 38;
    if (classes.size() % kGuidChars != 0) {
        return false;
    }
    for (std::size_t at = 0; at < classes.size(); at += kGuidChars) {
        GUID clsid{};
        if (!guidFromString(std::string_view(classes).substr(at, kGuidChars), clsid) ||
            inprocServerPath(clsid) != m_path) {
            return false;
        }
    }
    return true;
}

void ServerLibraryRecord::remember(std::span<const ServerClass> classes) const {
    if (m_file.empty()) {
        return;
    }
    std::string names;
    for (const ServerClass& entry : classes) {
        names += guidToString(*entry.clsid);
    }
    RegistryBatch batch;
    RegistryKey key;
    if (RegistryKey::create(HKEY_CLASSES_ROOT, m_key, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return;
    }
    // Without its path and classes the record keeps no file, so it is never
    // taken as current.
    if (writeText(key, kPathValue, m_path) != ERROR_SUCCESS || writeText(key, kClassesValue, names) != ERROR_SUCCESS) {
        (void)key.deleteValue(kFileValue);
        return;
    }
    (void)writeText(key, kFileValue, m_file);
}

}  // namespace platform::com
