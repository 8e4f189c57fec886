#include "common/kc_ini.h"

#include "platform/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

// Copies at most size - 1 characters of text and terminates.
void copyBounded(char* out, std::size_t size, const char* text) {
    std::size_t count = std::min(std::strlen(text), size - 1);
    std::memmove(out, text, count);
    out[count] = '\0';
}

// The value text cut to size - 1 characters; empty when missing.
std::string readText(const char* file, const char* section, const char* key, std::size_t size) {
    std::string text(size, '\0');
    std::size_t n = platform::iniReadString(file, section, key ? key : "", "", text);
    text.resize(n);
    return text;
}

// Number conversion with the 32-bit limits of the original platform's atol:
// leading blanks, a sign, decimal digits; out of range gives the nearest limit.
int atol32(const char* text) {
    errno = 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

// Hexadecimal digits up to the first other character; more than eight digits
// keep the low 32 bits.
int hexValue(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c >= '0' && c <= '9') {
            value = value * 16 + static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            value = value * 16 + static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
    }
    return static_cast<int>(value);
}

}  // namespace

void CKcIni::SetSection(const char* section) {
    char file[MAX_PATH];
    std::memcpy(file, m_fileName, sizeof file);
    Open(file, section);
}

void CKcIni::Open(const char* file, const char* section) {
    copyBounded(m_fileName, sizeof m_fileName, file ? file : "");
    copyBounded(m_section, sizeof m_section, section ? section : "");
}

int CKcIni::GetChar(const char* key, char* out, char defaultValue) {
    *out = defaultValue;
    std::string text = readText(m_fileName, m_section, key, 128);
    if (text.empty()) {
        return 0;
    }
    *out = text[0];
    return static_cast<unsigned char>(text[0]);
}

int CKcIni::GetInt(const char* key, int* out, int defaultValue) {
    *out = defaultValue;
    std::string text = readText(m_fileName, m_section, key, 128);
    if (text.empty()) {
        return 0;
    }
    *out = atol32(text.c_str());
    return *out;
}

int CKcIni::GetString(const char* key, char* buffer, int size, const char* defaultValue) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    // The default may be the caller's buffer itself: keep a copy before the
    // buffer is written.
    std::string_view fallback = defaultValue ? std::string_view(defaultValue) : std::string_view();
    std::string saved(fallback);
    copyBounded(buffer, static_cast<std::size_t>(size), saved.c_str());
    return static_cast<int>(platform::iniReadString(m_fileName, m_section, key ? key : "", saved,
                                                    std::span<char>(buffer, static_cast<std::size_t>(size))));
}

int CKcIni::GetHex(const char* key, int* out, int defaultValue) {
    *out = defaultValue;
    std::string text = readText(m_fileName, m_section, key, 32);
    if (text.empty()) {
        return 0;
    }
    *out = hexValue(text);
    return *out;
}

int CKcIni::GetBool(const char* key, int* out, int defaultValue) {
    *out = defaultValue;
    std::string text = readText(m_fileName, m_section, key, 128);
    if (text.empty()) {
        return 0;
    }
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (text == "true" || text == "yes" || text == "1") {
        *out = 1;
    } else if (text == "false" || text == "no" || text == "0") {
        *out = 0;
    }
    return *out;
}

BOOL CKcIni::WriteInt(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return WriteString(key, text);
}

BOOL CKcIni::WriteString(const char* key, const char* text) {
    return platform::iniWriteString(m_fileName, m_section, key, text) ? TRUE : FALSE;
}

BOOL CKcIni::WriteHex(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return WriteString(key, text);
}

BOOL CKcIni::WriteBool(const char* key, int value) { return WriteString(key, value ? "Yes" : "No"); }

int CKcIni::ReadWriteInt(const char* key, int* out, int defaultValue) {
    int result = GetInt(key, out, defaultValue);
    WriteInt(key, *out);
    return result;
}

int CKcIni::ReadWriteString(const char* key, char* buffer, int size, const char* defaultValue) {
    int result = GetString(key, buffer, size, defaultValue);
    if (buffer != nullptr && size > 0) {
        WriteString(key, buffer);
    }
    return result;
}

int CKcIni::ReadWriteHex(const char* key, int* out, int defaultValue) {
    int result = GetHex(key, out, defaultValue);
    WriteHex(key, *out);
    return result;
}

int CKcIni::ReadWriteBool(const char* key, int* out, int defaultValue) {
    int result = GetBool(key, out, defaultValue);
    WriteBool(key, *out);
    return result;
}

BOOL CKcIni::DeleteKey(const char* key) {
    // A null key would remove the whole section; a key removal never does that.
    if (key == nullptr) {
        return FALSE;
    }
    return WriteString(key, nullptr);
}

BOOL CKcIni::DeleteSection() { return WriteString(nullptr, nullptr); }

BOOL CKcIni::DeleteFile() {
    std::filesystem::path path = platform::resolveIniPath(m_fileName);
    Flush();
    std::error_code error;
    // Make it writable first, as a read-only settings file is still ours to delete.
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, error);
    return std::filesystem::remove(path, error) ? TRUE : FALSE;
}

BOOL CKcIni::Flush() { return platform::iniFlush(m_fileName) ? TRUE : FALSE; }

void CKcIni::GetFileName(char* buffer) { copyBounded(buffer, MAX_PATH, m_fileName); }

int CKcIni::HasSection(const char* section) {
    char list[256];
    return static_cast<int>(platform::iniReadSectionText(m_fileName, section ? section : "", list));
}
