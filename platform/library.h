#pragma once
// Run-time binding of the system's shared libraries. A library is named as the
// system's code names it: "qel.dll" (or "qel") stands for libqel.so, looked for
// first beside the program and then along the loader's path; a name with a
// folder ("plugins\zocodec.dll") is that file in that folder only. A name that
// already ends in ".so" (or ".so.N") is taken as it is. Safe from any thread.

#include "platform/types.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A loaded library (the loader's handle); null when none.
using HMODULE = void*;

namespace platform {

// Error codes a failed load reports, as the system's traces show them.
inline constexpr DWORD kErrorModuleNotFound = 126;  // no such library file
inline constexpr DWORD kErrorBadModule = 193;       // found, but it would not load

struct LibraryError {
    DWORD code = 0;
    std::string text;  // the loader's own explanation
};

// The files a library name may stand for, in the order they are tried. A
// candidate without a folder is left to the loader's search.
std::vector<std::filesystem::path> libraryCandidates(std::string_view name);

// Loads the library (all its symbols bound at once, kept to itself); null on
// failure, with the reason in `error` when given. Each successful load must be
// matched by freeLibrary.
HMODULE loadLibrary(std::string_view name, LibraryError* error = nullptr);

// The address of an exported symbol; null when the library does not export it.
void* librarySymbol(HMODULE library, const char* name);

// Releases a load; a null handle is ignored. Returns false when the loader
// refuses.
bool freeLibrary(HMODULE library);

}  // namespace platform
