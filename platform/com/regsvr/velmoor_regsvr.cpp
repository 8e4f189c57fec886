// velmoor-regsvr: registers in-process server libraries in the user's registry.
//
//   velmoor-regsvr [/u] [--keep-going] [library.so ...]
//
// With no library named, every server library beside the program is registered.
// /u unregisters instead. The exit code is 0 when every library succeeded;
// with --keep-going (the build's own step: programs register again on a fresh
// home anyway) failures are reported but the exit code stays 0.

#include "platform/com/com.h"
#include "platform/folders.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    bool unregister = false;
    bool keepGoing = false;
    std::vector<std::string> libraries;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/u") == 0 || std::strcmp(argv[i], "-u") == 0) {
            unregister = true;
        } else if (std::strcmp(argv[i], "--keep-going") == 0) {
            keepGoing = true;
        } else {
            std::error_code error;
            auto path = std::filesystem::absolute(argv[i], error);
            libraries.push_back(error ? std::string(argv[i]) : path.string());
        }
    }
    if (libraries.empty()) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(platform::executableFolder(), error)) {
            if (entry.path().extension() == ".so" && platform::com::isServerLibrary(entry.path().string())) {
                libraries.push_back(entry.path().string());
            }
        }
    }
    int failures = 0;
    for (const auto& library : libraries) {
        HRESULT hr = unregister ? platform::com::unregisterServerLibrary(library)
                                : platform::com::registerServerLibrary(library);
        if (FAILED(hr)) {
            std::fprintf(stderr, "velmoor-regsvr: %s %s failed (%08X)\n",
                         unregister ? "DllUnregisterServer" : "DllRegisterServer", library.c_str(), unsigned(hr));
            ++failures;
        }
    }
    return failures == 0 || keepGoing ? 0 : 1;
}
