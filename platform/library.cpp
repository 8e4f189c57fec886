#include "platform/library.h"

#include "platform/folders.h"

#include <algorithm>
#include <cctype>
#include <dlfcn.h>

namespace platform {
namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

bool isSharedObjectName(std::string_view base) {
    return base.size() > 3 && (base.substr(base.size() - 3) == ".so" || base.find(".so.") != std::string_view::npos);
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::vector<std::filesystem::path> libraryCandidates(std::string_view name) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string folder;
    std::string base = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        folder = path.substr(0, slash + 1);
        base = path.substr(slash + 1);
    }
    if (base.empty()) {
        return {};
    }

    std::vector<std::string> files;
    if (isSharedObjectName(base)) {
        files.push_back(base);
    } else {
        std::string stem = base;
        if (endsWithNoCase(stem, ".dll")) {
            stem.resize(stem.size() - 4);
        } else if (stem.find('.') != std::string::npos) {
            stem.clear();  // another extension: no library name of ours
        }
        if (stem.empty()) {
            files.push_back(base);
        } else {
            // Names from settings and Windows-era callers vary in case; the files are lower-case.
            files.push_back("lib" + stem + ".so");
            if (lowered(stem) != stem) {
                files.push_back("lib" + lowered(stem) + ".so");
            }
        }
    }

    std::vector<std::filesystem::path> candidates;
    for (const auto& file : files) {
        if (!folder.empty()) {
            candidates.emplace_back(folder + file);
        } else {
            candidates.push_back(executableFolder() / file);
        }
    }
    if (folder.empty()) {
        for (const auto& file : files) {
            candidates.emplace_back(file);
        }
    }
    return candidates;
}

HMODULE loadLibrary(std::string_view name, LibraryError* error) {
    std::string fileFailure;    // a library file that exists but would not load
    std::string searchFailure;  // the loader's search found nothing usable
    for (const auto& candidate : libraryCandidates(name)) {
        bool searched = !candidate.has_parent_path();
        std::error_code ignored;
        if (!searched && !std::filesystem::exists(candidate, ignored)) {
            continue;
        }
        if (HMODULE library = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return library;
        }
        const char* why = ::dlerror();
        std::string& failure = searched ? searchFailure : fileFailure;
        if (failure.empty()) {
            failure = why ? why : "unknown loader error";
        }
    }
    if (error) {
        error->code = fileFailure.empty() ? kErrorModuleNotFound : kErrorBadModule;
        error->text = !fileFailure.empty()     ? fileFailure
                      : !searchFailure.empty() ? searchFailure
                                               : "no library file for \"" + std::string(name) + "\"";
    }
    return nullptr;
}

void* librarySymbol(HMODULE library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(library, name);
}

bool freeLibrary(HMODULE library) { return library == nullptr || ::dlclose(library) == 0; }

}  // namespace platform
