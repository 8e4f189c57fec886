#pragma once
// What the benchmarks share: temporary folders that live for the whole run and
// are removed when the program exits, and the run's home among them. All the
// benchmarks run in one program, so they share one home. Call from the
// benchmark thread; a folder that cannot be made ends the program (a benchmark
// without its folder would measure nothing).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

// Never destroyed, so the exit handler can still walk it.
inline std::vector<std::string>& madeFolders() {
    static auto* folders = new std::vector<std::string>;
    return *folders;
}

// A fresh folder "<prefix>-XXXXXX" under the temporary directory.
inline std::string temporaryFolder(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    static const bool removeAtExit = (std::atexit([] {
                                          for (const auto& folder : madeFolders()) {
                                              std::error_code ignored;
                                              std::filesystem::remove_all(folder, ignored);
                                          }
                                      }),
                                      true);
    (void)removeAtExit;
    madeFolders().push_back(pattern);
    return pattern;
}

// The run's home: a temporary folder that VELMOOR_HOME points at from the first
// call on.
inline const std::string& temporaryHome() {
    static const std::string* home = [] {
        auto* folder = new std::string(temporaryFolder("vlm-bench"));
        ::setenv("VELMOOR_HOME", folder->c_str(), 1);
        return folder;
    }();
    return *home;
}

}  // namespace bench
