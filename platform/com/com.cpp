#include "platform/com/com.h"

#include "platform/com/com_ptr.h"
#include "platform/com/com_server.h"
#include "platform/com/server_library_record.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/uuid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();
using RegisterFn = HRESULT (*)();
using ClassListFn = platform::com::ServerClassList (*)();

thread_local int t_initCount = 0;

// Server libraries loaded by CoCreateInstance, by path. They stay loaded until
// CoFreeUnusedLibraries finds them idle.
struct LoadedLibrary {
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<std::string, LoadedLibrary>& loadedLibraries() {
    static auto* table = new std::map<std::string, LoadedLibrary>;  // lives past exit handlers
    return *table;
}

std::string readDefaultText(platform::HKEY root, const std::string& path, std::string_view name = {}) {
    platform::RegistryKey key;
    if (platform::RegistryKey::open(root, path, platform::KEY_QUERY_VALUE, key) != ERROR_SUCCESS) {
        return {};
    }
    platform::RegistryValue value;
    if (key.readValue(name, value) != ERROR_SUCCESS || value.type != platform::REG_SZ) {
        return {};
    }
    std::string text(value.data.begin(), value.data.end());
    if (auto nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

LONG writeText(platform::HKEY root, const std::string& path, std::string_view name, std::string_view text) {
    platform::RegistryKey key;
    LONG rc = platform::RegistryKey::create(root, path, platform::KEY_ALL_ACCESS, key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::string stored(text);
    return key.setValue(name, platform::REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                        DWORD(stored.size() + 1));
}

std::string canonicalPath(const std::string& path) {
    std::error_code error;
    auto canonical = std::filesystem::canonical(path, error);
    return error ? path : canonical.string();
}

// Loads (or finds loaded) the server library at path.
HRESULT loadServer(const std::string& path, LoadedLibrary& out) {
    std::lock_guard lock(libraryMutex());
    auto& table = loadedLibraries();
    if (auto found = table.find(path); found != table.end()) {
        out = found->second;
        return S_OK;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        return CO_E_DLLNOTFOUND;
    }
    LoadedLibrary loaded;
    loaded.handle = handle;
    loaded.getClassObject = reinterpret_cast<GetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    loaded.canUnloadNow = reinterpret_cast<CanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
    if (!loaded.getClassObject) {
        ::dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    table[path] = loaded;
    out = loaded;
    return S_OK;
}

// Reads `size` bytes at `offset`; false when the file is shorter.
bool readAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(offset + done));
        if (n <= 0) {
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

// Registration loads a library only to call one entry point, but the library
// stays mapped for the rest of the process (RTLD_NODELETE): unloading a
// library whose code ran leaves thread-local blocks behind that a leak
// checker at exit may read after they are gone.
constexpr int kRegistrationLoadFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

HRESULT callEntry(const std::string& path, const char* entry) {
    void* handle = ::dlopen(path.c_str(), kRegistrationLoadFlags);
    if (!handle) {
        return CO_E_DLLNOTFOUND;
    }
    auto function = reinterpret_cast<RegisterFn>(::dlsym(handle, entry));
    HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    ::dlclose(handle);
    return hr;
}

}  // namespace

std::string guidToString(const GUID& guid) { return platform::uuidToString(guid); }

bool guidFromString(std::string_view text, GUID& guid) {
    auto parsed = platform::uuidFromString(text);
    if (!parsed) {
        return false;
    }
    guid = *parsed;
    return true;
}

int StringFromGUID2(REFGUID guid, char* buffer, int size) {
    std::string text = guidToString(guid);
    if (!buffer || size < int(text.size() + 1)) {
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return int(text.size() + 1);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!text || !clsid) {
        return E_INVALIDARG;
    }
    return guidFromString(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (!text || !iid) {
        return E_INVALIDARG;
    }
    return guidFromString(text, *iid) ? S_OK : E_INVALIDARG;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (t_initCount > 0) {
        --t_initCount;
    }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (t_initCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) {
        return REGDB_E_CLASSNOTREG;  // only in-process servers exist
    }
    std::string path = platform::com::inprocServerPath(clsid);
    if (path.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    LoadedLibrary library;
    if (HRESULT hr = loadServer(path, library); FAILED(hr)) {
        return hr;
    }
    return library.getClassObject(clsid, riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    platform::com::ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(outer, riid, object);
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid || !*progId) {
        return E_INVALIDARG;
    }
    std::string text = readDefaultText(platform::HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID");
    if (text.empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    return guidFromString(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(libraryMutex());
    auto& table = loadedLibraries();
    for (auto it = table.begin(); it != table.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            ::dlclose(it->second.handle);
            it = table.erase(it);
        } else {
            ++it;
        }
    }
}

namespace platform::com {

std::string inprocServerPath(REFCLSID clsid) {
    return readDefaultText(HKEY_CLASSES_ROOT, "CLSID\\" + guidToString(clsid) + "\\InprocServer32");
}

HRESULT registerClasses(const char* libraryPath, std::span<const ServerClass> classes) {
    for (const ServerClass& entry : classes) {
        const std::string id = guidToString(*entry.clsid);
        const std::string key = "CLSID\\" + id;
        LONG rc = writeText(HKEY_CLASSES_ROOT, key, "", entry.description ? entry.description : "");
        if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", libraryPath);
        if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel", "Apartment");
        if (rc == ERROR_SUCCESS && entry.progId) {
            rc = writeText(HKEY_CLASSES_ROOT, key + "\\ProgID", "", entry.progId);
            if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, std::string(entry.progId), "", entry.description ? entry.description : "");
            if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, std::string(entry.progId) + "\\CLSID", "", id);
        }
        if (rc == ERROR_SUCCESS && entry.versionIndependentProgId) {
            const std::string vi = entry.versionIndependentProgId;
            rc = writeText(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID", "", vi);
            if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, vi, "", entry.description ? entry.description : "");
            if (rc == ERROR_SUCCESS) rc = writeText(HKEY_CLASSES_ROOT, vi + "\\CLSID", "", id);
            if (rc == ERROR_SUCCESS && entry.progId) rc = writeText(HKEY_CLASSES_ROOT, vi + "\\CurVer", "", entry.progId);
        }
        if (rc != ERROR_SUCCESS) {
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT unregisterClasses(std::span<const ServerClass> classes) {
    RegistryKey root(HKEY_CLASSES_ROOT);
    for (const ServerClass& entry : classes) {
        // A missing key is fine: unregistering twice is harmless.
        (void)root.deleteSubKey("CLSID\\" + guidToString(*entry.clsid));
        if (entry.progId) (void)root.deleteSubKey(entry.progId);
        if (entry.versionIndependentProgId) (void)root.deleteSubKey(entry.versionIndependentProgId);
    }
    (void)root.release();
    return S_OK;
}

HRESULT getClassObjectFrom(std::span<const ServerClass> classes, REFCLSID clsid, REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    for (const ServerClass& entry : classes) {
        if (*entry.clsid == clsid) {
            return entry.getClassObject(riid, object);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

std::string libraryPathOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) {
        return {};
    }
    return canonicalPath(info.dli_fname);
}

HRESULT registerServerLibrary(const std::string& path) { return callEntry(path, "DllRegisterServer"); }

HRESULT unregisterServerLibrary(const std::string& path) { return callEntry(path, "DllUnregisterServer"); }

bool isServerLibrary(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    Elf64_Ehdr header{};
    if (!readAt(fd, 0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_type != ET_DYN ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 || header.e_shnum > 4096) {
        return false;
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!readAt(fd, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) {
        return false;
    }
    constexpr std::uint64_t kMaxTable = 64u << 20;
    for (const Elf64_Shdr& symbols : sections) {
        if (symbols.sh_type != SHT_DYNSYM || symbols.sh_link >= sections.size() ||
            symbols.sh_entsize != sizeof(Elf64_Sym) || symbols.sh_size > kMaxTable) {
            continue;
        }
        const Elf64_Shdr& strings = sections[symbols.sh_link];
        if (strings.sh_size > kMaxTable) {
            continue;
        }
        std::vector<Elf64_Sym> table(symbols.sh_size / sizeof(Elf64_Sym));
        std::vector<char> names(strings.sh_size + 1, '\0');
        if (!readAt(fd, symbols.sh_offset, table.data(), table.size() * sizeof(Elf64_Sym)) ||
            !readAt(fd, strings.sh_offset, names.data(), strings.sh_size)) {
            return false;
        }
        for (const Elf64_Sym& symbol : table) {
            if (symbol.st_name < strings.sh_size && symbol.st_shndx != SHN_UNDEF &&
                ELF64_ST_TYPE(symbol.st_info) == STT_FUNC &&
                std::strcmp(names.data() + symbol.st_name, "DllRegisterServer") == 0) {
                return true;
            }
        }
    }
    return false;
}

int ensureServersRegistered() {
    std::error_code error;
    int registered = 0;
    for (const auto& entry : std::filesystem::directory_iterator(platform::executableFolder(), error)) {
        if (!entry.is_regular_file(error) || entry.path().extension() != ".so") {
            continue;
        }
        const std::string path = canonicalPath(entry.path().string());
        const ServerLibraryRecord record(path);
        if (record.current()) {
            continue;
        }
        if (!isServerLibrary(path)) {
            record.remember({});
            continue;
        }
        void* handle = ::dlopen(path.c_str(), kRegistrationLoadFlags);
        if (!handle) {
            continue;
        }
        // Only a library that lists its classes can be checked without calling
        // its registration; one that does not is registered at every start.
        auto list = reinterpret_cast<ClassListFn>(::dlsym(handle, "VelmoorComClasses"));
        const ServerClassList classes = list ? list() : ServerClassList{};
        const std::span<const ServerClass> listed(classes.classes, classes.count);
        auto registeredHere = [&] {
            return !listed.empty() && std::all_of(listed.begin(), listed.end(), [&](const ServerClass& c) {
                       return inprocServerPath(*c.clsid) == path &&
                              (!c.progId || !readDefaultText(HKEY_CLASSES_ROOT, std::string(c.progId) + "\\CLSID").empty());
                   });
        };
        bool current = registeredHere();
        if (!current) {
            if (auto reg = reinterpret_cast<RegisterFn>(::dlsym(handle, "DllRegisterServer")); reg && SUCCEEDED(reg())) {
                ++registered;
                current = registeredHere();
            }
        }
        if (current) {
            record.remember(listed);
        }
        ::dlclose(handle);
    }
    return registered;
}

}  // namespace platform::com
