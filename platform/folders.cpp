#include "platform/folders.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace platform {
namespace {

std::filesystem::path ensured(std::filesystem::path folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::filesystem::path fromEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value && *value) ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

std::filesystem::path homeFolder() {
    if (auto home = fromEnv("VELMOOR_HOME"); !home.empty()) {
        return ensured(home);
    }
    if (auto data = fromEnv("XDG_DATA_HOME"); !data.empty()) {
        return ensured(data / "velmoor");
    }
    if (auto user = fromEnv("HOME"); !user.empty()) {
        return ensured(user / ".local" / "share" / "velmoor");
    }
    return ensured(std::filesystem::temp_directory_path() / "velmoor");
}

std::filesystem::path windowsFolder() { return ensured(homeFolder() / "windows"); }

std::filesystem::path programFolder() { return ensured(homeFolder() / "program"); }

std::filesystem::path runtimeFolder() { return ensured(homeFolder() / "run"); }

std::filesystem::path executableFolder() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

}  // namespace platform
