#include "common/version_stamp.h"

#include "common/fixed_text.h"
#include "platform/ini_file.h"
#include "platform/module_version.h"
#include "platform/time_convert.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kStampFile = "Quennel.ini";
constexpr const char* kNotAvailable = "N/A";

}  // namespace

void RecordModuleVersion(const char* key, const void* module) {
    char description[MAX_PATH];
    char version[MAX_PATH];
    std::strcpy(description, kNotAvailable);
    std::strcpy(version, kNotAvailable);
    GetModuleVersionStrings(module, description, sizeof description, version, sizeof version);
    WriteVersionRecord(key, version);
}

BOOL GetModuleVersionStrings(const void* module, char* description, std::size_t descriptionSize, char* version,
                             std::size_t versionSize) {
    std::string file = platform::moduleFileOf(module).string();
    if (file.empty()) {
        return FALSE;
    }
    return GetFileVersionStrings(file.c_str(), description, descriptionSize, version, versionSize);
}

BOOL GetFileVersionStrings(const char* fileName, char* description, std::size_t descriptionSize, char* version,
                           std::size_t versionSize) {
    if (fileName == nullptr) {
        return FALSE;
    }
    auto found = platform::readModuleVersion(fileName);
    if (!found) {
        return FALSE;
    }
    fixed_text::Write(description, descriptionSize, found->description);
    fixed_text::Write(version, versionSize, found->version);
    return TRUE;
}

void WriteVersionRecord(const char* key, const char* version) {
    // A null key would remove the whole section, every module's record with it.
    if (key == nullptr) {
        return;
    }
    platform::iniWriteString(kStampFile, "Version", key, version ? version : kNotAvailable);
    platform::iniWriteString(kStampFile, "Last Access", key, GetTimeStampString());
}

const char* GetTimeStampString() {
    // One buffer per thread rather than one per module: a stamp taken on one
    // thread is never overwritten by another thread's call.
    thread_local char stamp[48];  // room for any field values, though real ones need 25
    SYSTEMTIME now = platform::currentLocalTime();
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d - %02d:%02d:%02d.%04d", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return stamp;
}
