#include "platform/shipped_defaults.h"

#include "platform/folders.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path shippedDataFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (const char* env = std::getenv("VELMOOR_DATA"); env && *env) {
        return fs::is_directory(env, ec) ? fs::path(env) : fs::path();
    }
    const fs::path exe = executableFolder();
    for (const fs::path& candidate : {exe / "data", exe / ".." / "share" / "velmoor" / "data"}) {
        if (fs::is_directory(candidate, ec)) return candidate.lexically_normal();
    }
    return {};
}

int installShippedDefaults() {
    namespace fs = std::filesystem;
    const fs::path source = shippedDataFolder();
    if (source.empty()) return -1;
    const fs::path target = programFolder();
    std::error_code ec;
    int copied = 0;
    bool failed = false;
    for (auto it = fs::recursive_directory_iterator(source, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const fs::path relative = fs::relative(it->path(), source, ec);
        if (ec) {
            failed = true;
            break;
        }
        const fs::path destination = target / relative;
        if (fs::exists(destination, ec)) continue;
        fs::create_directories(destination.parent_path(), ec);
        // Copy under a temporary name and rename, so that a crash never leaves
        // a half file that a later start would take for the user's own.
        const fs::path partial = destination.string() + ".partial";
        if (!fs::copy_file(it->path(), partial, fs::copy_options::overwrite_existing, ec)) {
            failed = true;
            continue;
        }
        fs::rename(partial, destination, ec);
        if (ec) {
            fs::remove(partial, ec);
            failed = true;
            continue;
        }
        ++copied;
    }
    if (ec) failed = true;
    return failed ? -1 : copied;
}

}  // namespace platform
