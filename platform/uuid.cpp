#include "platform/uuid.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/random.h>

namespace platform {

bool newUuid(GUID& out) {
    BYTE bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    GUID id;
    std::memcpy(&id, bytes, sizeof id);
    id.Data3 = static_cast<WORD>((id.Data3 & 0x0FFF) | 0x4000);          // version 4
    id.Data4[0] = static_cast<BYTE>((id.Data4[0] & 0x3F) | 0x80);        // RFC 4122 variant
    out = id;
    return true;
}

std::string uuidToString(const GUID& id, UuidBraces braces) {
    char text[40];
    std::snprintf(text, sizeof text, "%s%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X%s",
                  braces == UuidBraces::With ? "{" : "", static_cast<unsigned>(id.Data1),
                  static_cast<unsigned>(id.Data2), static_cast<unsigned>(id.Data3), id.Data4[0], id.Data4[1],
                  id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7],
                  braces == UuidBraces::With ? "}" : "");
    return text;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads `digits` hex digits from text at pos; false on any non-digit.
bool readHex(std::string_view text, std::size_t pos, std::size_t digits, std::uint32_t& value) {
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        int d = hexDigit(text[pos + i]);
        if (d < 0) {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

}  // namespace

std::optional<GUID> uuidFromString(std::string_view text) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') {
            return std::nullopt;
        }
        text = text.substr(1, 36);
    }
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
        return std::nullopt;
    }
    GUID id{};
    std::uint32_t value = 0;
    if (!readHex(text, 0, 8, value)) {
        return std::nullopt;
    }
    id.Data1 = value;
    if (!readHex(text, 9, 4, value)) {
        return std::nullopt;
    }
    id.Data2 = static_cast<WORD>(value);
    if (!readHex(text, 14, 4, value)) {
        return std::nullopt;
    }
    id.Data3 = static_cast<WORD>(value);
    static constexpr std::size_t kBytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!readHex(text, kBytePos[i], 2, value)) {
            return std::nullopt;
        }
        id.Data4[i] = static_cast<BYTE>(value);
    }
    return id;
}

}  // namespace platform
