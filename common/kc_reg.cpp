#include "common/kc_reg.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

using namespace platform;

namespace {

constexpr const char* kDefaultCompany = "Halvorin";
constexpr const char* kDefaultProduct = "Ostrel";
constexpr int kTraceLevel = 1;
constexpr std::size_t kTraceBytes = 512;

// Formats one trace line of this class into 512 characters and hands it to the
// module's trace object at level 1.
void traceFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
void traceFailure(const char* format, ...) {
    if (!gpLumoDeb->IsLevelOn(kTraceLevel)) {
        return;
    }
    char line[kTraceBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    gpLumoDeb->Trace(kTraceLevel, "%s", line);
}

// Copies at most `room - 1` characters of a text and terminates it.
void copyCut(char* out, std::size_t room, const char* text) {
    if (room == 0) {
        return;
    }
    std::size_t length = text != nullptr ? strnlen(text, room - 1) : 0;
    std::memcpy(out, text != nullptr ? text : "", length);
    out[length] = '\0';
}

const char* nameText(const char* name) { return name != nullptr ? name : ""; }

}  // namespace

CKcReg::CKcReg(const char* company, const char* product, const char* version,
               const char* section, HKEY rootKey)
    : m_rootKey(rootKey) {
    m_keyPath = "Software\\";
    m_keyPath += company != nullptr ? company : kDefaultCompany;
    m_keyPath += '\\';
    m_keyPath += product != nullptr ? product : kDefaultProduct;
    if (version != nullptr && *version != '\0') {
        m_keyPath += '\\';
        m_keyPath += version;
    }
    copyCut(m_section, sizeof m_section, section);
}

CKcReg::~CKcReg() = default;

std::string CKcReg::sectionPath(const char* section) const {
    std::string path = m_keyPath;
    path += '\\';
    path += section != nullptr ? section : m_section;
    return path;
}

bool CKcReg::keptKeyIs(const char* section) const {
    if (!m_open.key.isOpen() || m_open.root != m_rootKey) {
        return false;
    }
    // Compared part by part: this runs at every read and write.
    const std::string_view path = m_open.path;
    const std::string_view name = section != nullptr ? section : m_section;
    return path.size() == m_keyPath.size() + 1 + name.size() && path.starts_with(m_keyPath) &&
           path[m_keyPath.size()] == '\\' && path.ends_with(name);
}

RegistryKey* CKcReg::openKey(const char* section, bool create) const {
    if (keptKeyIs(section)) {
        return &m_open.key;
    }
    std::string path = sectionPath(section);
    m_open.key.close();
    m_open.path.clear();
    RegistryKey key;
    LONG rc = create ? RegistryKey::create(m_rootKey, path, KEY_ALL_ACCESS, key)
                     : RegistryKey::open(m_rootKey, path, KEY_ALL_ACCESS, key);
    if (rc != ERROR_SUCCESS) {
        traceFailure("%s failed (%X)\n", create ? "RegCreate" : "RegOpen", static_cast<unsigned>(rc));
        return nullptr;
    }
    m_open.key = std::move(key);
    m_open.path = std::move(path);
    m_open.root = m_rootKey;
    return &m_open.key;
}

bool CKcReg::forgetIfStale(LONG code) const {
    // Deleted by another process, or the registry was opened again (another
    // home): the path is looked up afresh.
    if (code != ERROR_KEY_DELETED && code != ERROR_INVALID_HANDLE) {
        return false;
    }
    m_open.key.close();
    m_open.path.clear();
    return true;
}

void CKcReg::traceQueryFailure(LONG code, const char* name, DWORD type, DWORD size) {
    traceFailure("RegQueryValueEx failed(%X) Name=\"%s\" VarType=%08X, VarSize=%d\n",
                 static_cast<unsigned>(code), nameText(name), type, static_cast<int>(size));
}

BOOL CKcReg::setTyped(const char* section, const char* name, DWORD type, const BYTE* data,
                      DWORD size) const {
    RegistryKey* key = openKey(section, true);
    if (key == nullptr) {
        return FALSE;
    }
    LONG rc = key->setValue(nameText(name), type, data, size);
    if (forgetIfStale(rc)) {
        key = openKey(section, true);
        rc = key != nullptr ? key->setValue(nameText(name), type, data, size) : rc;
    }
    if (rc != ERROR_SUCCESS) {
        traceFailure("RegSetValueEx failed(%X) Name=\"%s\", VarType=%08X, VarSize=%d\n",
                     static_cast<unsigned>(rc), nameText(name), type, static_cast<int>(size));
        return FALSE;
    }
    return TRUE;
}

BOOL CKcReg::GetBinary(const char* section, const char* name, BYTE* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) {
        return FALSE;
    }
    // Read the whole value first: the caller's buffer is touched only by a value of
    // the right type that fits.
    RegistryKey* key = openKey(section, false);
    if (key == nullptr) {
        return FALSE;
    }
    RegistryValue value;
    LONG rc = key->readValue(nameText(name), value);
    if (forgetIfStale(rc)) {
        key = openKey(section, false);
        if (key == nullptr) {
            return FALSE;
        }
        rc = key->readValue(nameText(name), value);
    }
    DWORD stored = rc == ERROR_SUCCESS ? static_cast<DWORD>(value.data.size()) : *size;
    if (rc == ERROR_SUCCESS && value.type == REG_BINARY && stored > *size) {
        rc = ERROR_MORE_DATA;
    }
    if (rc != ERROR_SUCCESS || value.type != REG_BINARY) {
        traceQueryFailure(rc, name, value.type, stored);
        return FALSE;
    }
    if (stored > 0) {
        std::memcpy(buffer, value.data.data(), stored);
    }
    *size = stored;
    return TRUE;
}

BOOL CKcReg::GetString(const char* section, const char* name, char* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr || *size == 0) {
        return FALSE;
    }
    RegistryKey* key = openKey(section, false);
    if (key == nullptr) {
        return FALSE;
    }
    // Read into our own room first: a value of another type must not reach the
    // caller's buffer, and a long text is cut to the caller's room.
    BYTE local[kTextBytes];
    DWORD stored = sizeof local;
    DWORD type = REG_NONE;
    const BYTE* text = local;
    RegistryValue whole;
    LONG rc = key->queryValue(nameText(name), &type, local, &stored);
    if (forgetIfStale(rc)) {
        key = openKey(section, false);
        if (key == nullptr) {
            return FALSE;
        }
        stored = sizeof local;
        type = REG_NONE;
        rc = key->queryValue(nameText(name), &type, local, &stored);
    }
    if (rc == ERROR_MORE_DATA && type == REG_SZ) {
        rc = key->readValue(nameText(name), whole);
        type = whole.type;
        stored = static_cast<DWORD>(whole.data.size());
        text = whole.data.data();
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ) {
        bool found = rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
        traceQueryFailure(rc, name, type, found ? stored : *size);
        return FALSE;
    }
    // The text ends at its first terminator or at the stored size.
    const BYTE* end = std::find(text, text + stored, BYTE{0});
    std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(end - text), *size - 1);
    if (length > 0) {
        std::memcpy(buffer, text, length);
    }
    buffer[length] = '\0';
    *size = static_cast<DWORD>(length + 1);
    return TRUE;
}

BOOL CKcReg::GetDword(const char* section, const char* name, DWORD* value) {
    if (value == nullptr) {
        return FALSE;
    }
    RegistryKey* key = openKey(section, false);
    if (key == nullptr) {
        return FALSE;
    }
    DWORD number = 0;
    DWORD size = sizeof number;
    DWORD type = REG_NONE;
    LONG rc = key->queryValue(nameText(name), &type, reinterpret_cast<BYTE*>(&number), &size);
    if (forgetIfStale(rc)) {
        key = openKey(section, false);
        if (key == nullptr) {
            return FALSE;
        }
        size = sizeof number;
        type = REG_NONE;
        rc = key->queryValue(nameText(name), &type, reinterpret_cast<BYTE*>(&number), &size);
    }
    // A number of another size (written by someone else) is no number of ours.
    if (rc == ERROR_SUCCESS && type == REG_DWORD && size != sizeof number) {
        rc = ERROR_INVALID_DATA;
    }
    if (rc != ERROR_SUCCESS || type != REG_DWORD) {
        traceQueryFailure(rc, name, type, size);
        return FALSE;
    }
    *value = number;
    return TRUE;
}

BOOL CKcReg::SetString(const char* section, const char* name, const char* text) {
    if (text == nullptr) {
        return FALSE;
    }
    return setTyped(section, name, REG_SZ, reinterpret_cast<const BYTE*>(text),
                    static_cast<DWORD>(std::strlen(text)));
}

BOOL CKcReg::SetBinary(const char* section, const char* name, const BYTE* data, DWORD size) {
    return setTyped(section, name, REG_BINARY, data, size);
}

BOOL CKcReg::SetDword(const char* section, const char* name, const DWORD* value) {
    if (value == nullptr) {
        return FALSE;
    }
    return setTyped(section, name, REG_DWORD, reinterpret_cast<const BYTE*>(value), sizeof *value);
}

BOOL CKcReg::GetStringDefault(const char* section, const char* name, char* text, DWORD* size) {
    if (text == nullptr || size == nullptr || *size == 0) {
        return FALSE;
    }
    std::string fallback = fixed_text::Read(text, *size - 1);
    if (GetString(section, name, text, size)) {
        return TRUE;
    }
    setTyped(section, name, REG_SZ, reinterpret_cast<const BYTE*>(fallback.c_str()),
             static_cast<DWORD>(fallback.size() + 1));
    std::memcpy(text, fallback.c_str(), fallback.size() + 1);
    *size = static_cast<DWORD>(fallback.size() + 1);
    return TRUE;
}

BOOL CKcReg::GetBinaryDefault(const char* section, const char* name, BYTE* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) {
        return FALSE;
    }
    std::vector<BYTE> fallback(buffer, buffer + *size);
    if (GetBinary(section, name, buffer, size)) {
        return TRUE;
    }
    *size = static_cast<DWORD>(fallback.size());
    setTyped(section, name, REG_BINARY, fallback.data(), *size);
    if (!fallback.empty()) {
        std::memcpy(buffer, fallback.data(), fallback.size());
    }
    return TRUE;
}

BOOL CKcReg::GetDwordDefault(const char* section, const char* name, DWORD* value) {
    if (value == nullptr) {
        return FALSE;
    }
    DWORD fallback = *value;
    if (GetDword(section, name, value)) {
        return TRUE;
    }
    *value = fallback;
    SetDword(section, name, &fallback);
    return TRUE;
}

void CKcReg::SetRootKey(HKEY rootKey) { m_rootKey = rootKey; }

void CKcReg::SetSection(const char* section) { copyCut(m_section, sizeof m_section, section); }

void CKcReg::SetValueName(const char* name) { copyCut(m_valueName, sizeof m_valueName, name); }

CKcReg& CKcReg::SetDefault(const std::string& text) { return SetDefault(text.c_str()); }
CKcReg& CKcReg::SetDefault(char* text) { return SetDefault(static_cast<const char*>(text)); }
CKcReg& CKcReg::SetDefault(const unsigned char* text) {
    return SetDefault(reinterpret_cast<const char*>(text));
}
CKcReg& CKcReg::SetDefault(unsigned char* text) {
    return SetDefault(reinterpret_cast<const char*>(text));
}
CKcReg& CKcReg::SetDefault(int value) { return SetDefault(static_cast<DWORD>(value)); }
CKcReg& CKcReg::SetDefault(long value) { return SetDefault(static_cast<DWORD>(value)); }
CKcReg& CKcReg::SetDefault(unsigned long value) { return SetDefault(static_cast<DWORD>(value)); }
CKcReg& CKcReg::SetDefault(unsigned short value) { return SetDefault(static_cast<DWORD>(value)); }
CKcReg& CKcReg::SetDefault(short value) {
    return SetDefault(static_cast<DWORD>(static_cast<std::int32_t>(value)));
}
CKcReg& CKcReg::SetDefault(char value) {
    return SetDefault(static_cast<DWORD>(static_cast<std::int32_t>(static_cast<signed char>(value))));
}
CKcReg& CKcReg::SetDefault(unsigned char value) { return SetDefault(static_cast<DWORD>(value)); }
CKcReg& CKcReg::SetDefault(signed char value) {
    return SetDefault(static_cast<DWORD>(static_cast<std::int32_t>(value)));
}
CKcReg& CKcReg::SetDefault(const char* text) {
    copyCut(m_defaultText, sizeof m_defaultText, text);
    return *this;
}
CKcReg& CKcReg::SetDefault(DWORD value) {
    m_defaultNumber = value;
    return *this;
}

BOOL CKcReg::Write(const std::string& text) { return Write(text.c_str()); }
BOOL CKcReg::Write(char* text) { return Write(static_cast<const char*>(text)); }
BOOL CKcReg::Write(const unsigned char* text) { return Write(reinterpret_cast<const char*>(text)); }
BOOL CKcReg::Write(int value) { return Write(static_cast<DWORD>(value)); }
BOOL CKcReg::Write(long value) { return Write(static_cast<DWORD>(value)); }
BOOL CKcReg::Write(unsigned long value) { return Write(static_cast<DWORD>(value)); }
BOOL CKcReg::Write(unsigned short value) { return Write(static_cast<DWORD>(value)); }
BOOL CKcReg::Write(short value) { return Write(static_cast<DWORD>(static_cast<std::int32_t>(value))); }
BOOL CKcReg::Write(char value) {
    return Write(static_cast<DWORD>(static_cast<std::int32_t>(static_cast<signed char>(value))));
}
BOOL CKcReg::Write(unsigned char value) { return Write(static_cast<DWORD>(value)); }
BOOL CKcReg::Write(signed char value) {
    return Write(static_cast<DWORD>(static_cast<std::int32_t>(value)));
}
BOOL CKcReg::Write(const char* text) { return SetString(nullptr, m_valueName, text); }
BOOL CKcReg::Write(DWORD value) { return SetDword(nullptr, m_valueName, &value); }

DWORD CKcReg::ReadDword() {
    DWORD value = 0;
    return GetDword(nullptr, m_valueName, &value) ? value : m_defaultNumber;
}

const char* CKcReg::ReadString() {
    DWORD size = sizeof m_readBuffer;
    if (!GetString(nullptr, m_valueName, m_readBuffer, &size)) {
        // A failed read leaves the buffer as it was: the default goes there.
        std::memcpy(m_readBuffer, m_defaultText, strnlen(m_defaultText, sizeof m_defaultText - 1) + 1);
    }
    return m_readBuffer;
}

CKcReg::operator int() { return static_cast<int>(ReadDword()); }
CKcReg::operator unsigned int() { return ReadDword(); }
CKcReg::operator long() { return static_cast<long>(static_cast<std::int32_t>(ReadDword())); }
CKcReg::operator unsigned long() { return ReadDword(); }
CKcReg::operator short() { return static_cast<short>(ReadDword()); }
CKcReg::operator unsigned short() { return static_cast<unsigned short>(ReadDword()); }
CKcReg::operator char() { return static_cast<char>(ReadDword()); }
CKcReg::operator unsigned char() { return static_cast<unsigned char>(ReadDword()); }
CKcReg::operator const char*() { return ReadString(); }
CKcReg::operator const unsigned char*() {
    return reinterpret_cast<const unsigned char*>(ReadString());
}
CKcReg::operator std::string() { return ReadString(); }
