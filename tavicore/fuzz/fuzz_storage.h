#pragma once
// A private events storage folder for one fuzzing process, removed at exit.

#include "tavicore/event_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fuzzing {

inline const std::string& storage() {
    // Kept for the whole run (never destroyed), so the exit handler can use it.
    static const std::string* folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vlm-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        ::setenv("VELMOOR_HOME", pattern.c_str(), 1);
        evSetEventsStorageRoot(pattern.c_str());
        auto* kept = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(storage(), ignored);
        });
        return kept;
    }();
    return *folder;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

inline DWORD byteSum(const uint8_t* p, size_t n) {
    DWORD sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += p[i];
    }
    return sum;
}

}  // namespace fuzzing
