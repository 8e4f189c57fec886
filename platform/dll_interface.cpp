#include "platform/dll_interface.h"

#include <cstdio>

namespace {

using GetApiVersion = DWORD (*)();
using GetApi = void* (*)();

void setText(char* errorText, const char* format, auto... args) {
    if (errorText != nullptr) {
        std::snprintf(errorText, kDllErrorTextBytes, format, args...);
    }
}

// Refuses the bind: the text is already set; the library goes again.
void* refuse(HMODULE* module) {
    FreeDllInterface(module);
    return nullptr;
}

}  // namespace

void* LoadDllInterface(const char* file, HMODULE* module, DWORD expectedVersion,
                                    char* errorText) {
    if (errorText != nullptr) {
        errorText[0] = '\0';
    }
    HMODULE local = nullptr;
    HMODULE* handle = module != nullptr ? module : &local;
    *handle = nullptr;
    if (file == nullptr) {
        setText(errorText, "LoadLibrary failed (syserr:%X)", unsigned(platform::kErrorModuleNotFound));
        return nullptr;
    }
    platform::LibraryError error;
    *handle = platform::loadLibrary(file, &error);
    if (*handle == nullptr) {
        setText(errorText, "LoadLibrary failed (syserr:%X)", unsigned(error.code));
        return nullptr;
    }
    if (expectedVersion != kAnyDllApiVersion) {
        auto version = reinterpret_cast<GetApiVersion>(platform::librarySymbol(*handle, "DLLGetApiVer"));
        if (version == nullptr) {
            setText(errorText, "Can't locate exported function \"%s\"", "DLLGetApiVer");
            return refuse(handle);
        }
        const DWORD found = version();
        if (found != expectedVersion) {
            setText(errorText, "Wrong API version, excpected v%d - found v%d", int(expectedVersion),
                    int(found));
            return refuse(handle);
        }
    }
    auto getApi = reinterpret_cast<GetApi>(platform::librarySymbol(*handle, "DLLGetApi"));
    if (getApi == nullptr) {
        setText(errorText, "Can't locate exported function \"%s\"", "DLLGetApi");
        return refuse(handle);
    }
    void* api = getApi();
    if (api == nullptr) {
        setText(errorText, "%s", "Unknown! DLLGetApi return NULL");
        return refuse(handle);
    }
    return api;
}

void FreeDllInterface(HMODULE* module) {
    if (module != nullptr && *module != nullptr) {
        platform::freeLibrary(*module);
        *module = nullptr;
    }
}
