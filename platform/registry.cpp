#include "platform/registry.h"

#include "platform/registry_store.h"

#include <cstring>
#include <new>
#include <string>

namespace platform {
namespace {

// Catches what a call inside the registry may throw (only allocation) and turns it
// into the code the caller expects.
template <class Body>
LONG guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_CANTREAD;
    }
}

std::string_view nameOf(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

}  // namespace

RegistryBatch::RegistryBatch() noexcept
    : m_result(guarded([] { return RegistryStore::instance().beginBatch(); })) {}

RegistryBatch::~RegistryBatch() { (void)commit(); }

LONG RegistryBatch::commit() noexcept {
    if (m_result != ERROR_SUCCESS || m_done) {
        return m_result;
    }
    m_done = true;
    m_result = guarded([] { return RegistryStore::instance().endBatch(); });
    return m_result;
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = 0;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

RegistryKey::~RegistryKey() { close(); }

namespace {

LONG openInto(HKEY parent, std::string_view path, REGSAM access, bool create, RegistryKey& out,
              DWORD* disposition) {
    return guarded([&] {
        HKEY handle = 0;
        LONG rc = RegistryStore::instance().open(parent, path, access, create, &handle, disposition);
        if (rc == ERROR_SUCCESS) {
            out = RegistryKey(handle);
        }
        return rc;
    });
}

}  // namespace

LONG RegistryKey::open(HKEY parent, std::string_view path, REGSAM access, RegistryKey& out) {
    return openInto(parent, path, access, false, out, nullptr);
}

LONG RegistryKey::create(HKEY parent, std::string_view path, REGSAM access, RegistryKey& out,
                         DWORD* disposition) {
    return openInto(parent, path, access, true, out, disposition);
}

HKEY RegistryKey::release() noexcept {
    HKEY handle = m_handle;
    m_handle = 0;
    return handle;
}

LONG RegistryKey::close() noexcept {
    if (m_handle == 0) {
        return ERROR_SUCCESS;
    }
    HKEY handle = release();
    return guarded([&] { return RegistryStore::instance().close(handle); });
}

LONG RegistryKey::queryValue(std::string_view name, DWORD* type, BYTE* data, DWORD* size) const {
    return guarded([&] { return RegistryStore::instance().query(m_handle, name, type, data, size); });
}

LONG RegistryKey::readValue(std::string_view name, RegistryValue& out) const {
    return guarded([&] { return RegistryStore::instance().read(m_handle, name, out); });
}

LONG RegistryKey::setValue(std::string_view name, DWORD type, const BYTE* data, DWORD size) {
    return guarded([&] { return RegistryStore::instance().set(m_handle, name, type, data, size); });
}

LONG RegistryKey::deleteValue(std::string_view name) {
    return guarded([&] { return RegistryStore::instance().deleteValue(m_handle, name); });
}

LONG RegistryKey::deleteSubKey(std::string_view path) {
    return guarded([&] { return RegistryStore::instance().deleteKey(m_handle, path); });
}

LONG RegistryKey::subKeyName(std::string_view name, std::string& stored) const {
    return guarded([&] { return RegistryStore::instance().subKeyName(m_handle, name, stored); });
}

LONG RegistryKey::enumSubKey(DWORD index, std::string& name) const {
    return guarded([&] { return RegistryStore::instance().enumKey(m_handle, index, name); });
}

LONG RegistryKey::enumValue(DWORD index, std::string& name, RegistryValue* value) const {
    return guarded([&] { return RegistryStore::instance().enumValue(m_handle, index, name, value); });
}

LONG RegCreateKeyEx(HKEY hKey, const char* subKey, DWORD, char*, DWORD, REGSAM samDesired,
                    const void*, HKEY* result, DWORD* disposition) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&] {
        return RegistryStore::instance().open(hKey, nameOf(subKey), samDesired, true, result,
                                         disposition);
    });
}

LONG RegOpenKeyEx(HKEY hKey, const char* subKey, DWORD, REGSAM samDesired, HKEY* result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&] {
        return RegistryStore::instance().open(hKey, nameOf(subKey), samDesired, false, result, nullptr);
    });
}

LONG RegCloseKey(HKEY hKey) {
    return guarded([&] { return RegistryStore::instance().close(hKey); });
}

LONG RegQueryValueEx(HKEY hKey, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                     DWORD* cbData) {
    return guarded(
        [&] { return RegistryStore::instance().query(hKey, nameOf(valueName), type, data, cbData); });
}

LONG RegSetValueEx(HKEY hKey, const char* valueName, DWORD, DWORD type, const BYTE* data,
                   DWORD cbData) {
    return guarded(
        [&] { return RegistryStore::instance().set(hKey, nameOf(valueName), type, data, cbData); });
}

LONG RegDeleteValue(HKEY hKey, const char* valueName) {
    return guarded([&] { return RegistryStore::instance().deleteValue(hKey, nameOf(valueName)); });
}

LONG RegDeleteKey(HKEY hKey, const char* subKey) {
    return guarded([&] { return RegistryStore::instance().deleteKey(hKey, nameOf(subKey)); });
}

namespace {

// Copies a name into a character buffer of `*room` characters with its terminator.
LONG copyName(const std::string& name, char* out, DWORD* room) {
    if (name.size() + 1 > *room) {
        *room = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    *room = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegEnumKeyEx(HKEY hKey, DWORD index, char* name, DWORD* cchName, DWORD*, char* keyClass,
                  DWORD* cchClass, FILETIME* lastWriteTime) {
    if (name == nullptr || cchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&] {
        std::string found;
        LONG rc = RegistryStore::instance().enumKey(hKey, index, found);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (rc = copyName(found, name, cchName); rc != ERROR_SUCCESS) {
            return rc;
        }
        if (keyClass != nullptr && cchClass != nullptr && *cchClass > 0) {
            keyClass[0] = '\0';
        }
        if (cchClass != nullptr) {
            *cchClass = 0;
        }
        if (lastWriteTime != nullptr) {
            *lastWriteTime = FILETIME{0, 0};
        }
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY hKey, DWORD index, char* valueName, DWORD* cchValueName, DWORD*,
                  DWORD* type, BYTE* data, DWORD* cbData) {
    if (valueName == nullptr || cchValueName == nullptr || (data != nullptr && cbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return guarded([&] {
        std::string found;
        RegistryValue value;
        LONG rc = RegistryStore::instance().enumValue(hKey, index, found, &value);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (type != nullptr) {
            *type = value.type;
        }
        DWORD stored = static_cast<DWORD>(value.data.size());
        bool nameFits = found.size() + 1 <= *cchValueName;
        bool dataFits = data == nullptr || stored <= *cbData;
        if (!nameFits || !dataFits) {
            if (!nameFits) {
                *cchValueName = static_cast<DWORD>(found.size() + 1);
            }
            if (cbData != nullptr) {
                *cbData = stored;
            }
            return ERROR_MORE_DATA;
        }
        copyName(found, valueName, cchValueName);
        if (data != nullptr) {
            RegistryStore::placeValue(value.type, value.data.data(), stored, data, *cbData);
        }
        if (cbData != nullptr) {
            *cbData = stored;
        }
        return ERROR_SUCCESS;
    });
}

std::string TakeDamagedRegistryNotice() { return RegistryStore::takeDamagedNotice(); }

}  // namespace platform
