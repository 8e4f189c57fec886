#include "trennick/link/file_transfer.h"

#include "trennick/link/common_base.h"
#include "trennick/link/prot_list.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace trennick {

int FileKindOfTypeText(std::string_view typeText) {
    if (typeText == "Event File") return kFileKindEvent;
    if (typeText == "Event List") return kFileKindEventList;
    if (typeText == "Set List") return kFileKindRemoteSettings;
    if (typeText == "Set Sys List") return kFileKindSystemSettings;
    return kFileKindAny;
}

WORD announcementToken(int kind, bool peerNewLayout) {
    switch (kind) {
    case kFileKindAny: return ID_DSVD_SEND_NF;
    case kFileKindEvent: return peerNewLayout ? ID_DSVD_SEND_EV : ID_DSVD_SNDEVNT;
    case kFileKindEventList: return ID_DSVD_SNDEVLT;
    case kFileKindRemoteSettings: return ID_DSVD_SEND_RS;
    case kFileKindSystemSettings: return ID_DSVD_SENDRSS;
    case kFileKindCardPicture: return ID_DSVD_SEND_CF;
    default: return ID_DSVD_SEND_CB;
    }
}

std::vector<BYTE> buildAnnouncement(WORD tokenId, std::string_view name, ULONGLONG length,
                                    ULONGLONG lastWriteFileTime) {
    std::string text(tokenText(tokenId));
    text += tokenText(ID_DSVD_NAME);
    text += "<";
    text += name;
    text += ">";
    text += tokenText(ID_DSVD_SIZE);
    char field[64];
    std::snprintf(field, sizeof field, "<%8llu>", static_cast<unsigned long long>(length));
    text += field;
    text += tokenText(ID_DSVD_DATE);
    std::snprintf(field, sizeof field, "<%16ld,%16ld>",
                  static_cast<long>(static_cast<LONG>(lastWriteFileTime >> 32)),
                  static_cast<long>(static_cast<LONG>(lastWriteFileTime & 0xFFFFFFFFu)));
    text += field;
    return std::vector<BYTE>(text.begin(), text.end());
}

namespace {

// The "<value>" behind a field token; nullopt when absent or not closed.
std::optional<std::string_view> fieldValue(std::string_view body, WORD fieldToken) {
    const LONG at = CCommon::FindStringNoCase(tokenText(fieldToken), body);
    if (at < 0) return std::nullopt;
    std::size_t pos = static_cast<std::size_t>(at) + tokenText(fieldToken).size();
    if (pos >= body.size() || body[pos] != '<') return std::nullopt;
    const std::size_t close = body.find('>', pos + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return body.substr(pos + 1, close - pos - 1);
}

}  // namespace

std::optional<Announcement> parseAnnouncement(const BYTE* body, DWORD length) {
    if (body == nullptr) return std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(body), length);
    const auto name = fieldValue(text, ID_DSVD_NAME);
    const auto size = fieldValue(text, ID_DSVD_SIZE);
    if (!name || !size) return std::nullopt;
    // The size is written right-aligned ("%8lu"): spaces, then at least one
    // digit, and nothing else ("-5", "abc", "12abc" and a size past 64 bits
    // are no size).
    std::string_view digits = *size;
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 20) return std::nullopt;
    ULONGLONG value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        const ULONGLONG digit = static_cast<ULONGLONG>(c - '0');
        if (value > (~0ull - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    Announcement out;
    out.name = std::string(*name);
    out.size = value;
    return out;
}

bool isSafeWireFileName(std::string_view name) {
    if (name.empty() || name.size() > 200 || name == "." || name.find("..") != std::string_view::npos) {
        return false;
    }
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
            c == '"' || c == '<' || c == '>' || c == '|') {
            return false;
        }
    }
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
    for (const char* device : kDevices) {
        if (base == device) return false;
    }
    if (base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
        base[3] <= '9') {
        return false;
    }
    return true;
}

DWORD escapeBlock(const BYTE* in, DWORD available, DWORD limit, BYTE* out, DWORD& used, LONG& checksum) {
    // The bytes are summed as they are copied: the sum's chain of steps sets
    // the pace, and the copying fits in beside it.
    WireChecksumSum sum;
    DWORD written = 0;
    used = 0;
    while (used < available && written < limit) {
        const BYTE b = in[used++];
        sum.add(b);
        out[written++] = b;
        if (b == 0x01) {
            out[written++] = 0x01;
        }
    }
    checksum = sum.value();
    return written;
}

DWORD unescapeBlock(const BYTE* in, DWORD length, BYTE* out, LONG& checksum) {
    WireChecksumSum sum;
    DWORD written = 0;
    for (DWORD i = 0; i < length; ++i) {
        sum.add(in[i]);
        out[written++] = in[i];
        if (in[i] == 0x01 && i + 1 < length && in[i + 1] == 0x01) {
            ++i;
        }
    }
    checksum = sum.value();
    return written;
}

void unescapeBlock(const BYTE* in, DWORD length, std::vector<BYTE>& out) {
    out.resize(length);
    LONG checksum = 0;
    out.resize(unescapeBlock(in, length, out.data(), checksum));
}

std::string fileChecksumText(DWORD checksum) {
    char text[32];
    std::snprintf(text, sizeof text, "%16ld", static_cast<long>(static_cast<LONG>(checksum)));
    return text;
}

std::optional<DWORD> readFileChecksum(const BYTE* body, DWORD length) {
    char text[17] = {};
    std::memcpy(text, body, std::min<DWORD>(length, 16));
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text) return std::nullopt;
    // Either sign convention of the sender reads back to the same 32 bits.
    return static_cast<DWORD>(static_cast<unsigned long long>(value) & 0xFFFFFFFFu);
}

LONG sendRate(RateInterval& interval, DWORD nowMs) {
    const DWORD elapsed = nowMs - interval.startMs;
    if (elapsed < kRateIntervalMs || interval.bytes == 0) {
        return -1;
    }
    const LONG rate = static_cast<LONG>(interval.bytes * 1000 / elapsed);
    interval.startMs = nowMs;
    interval.bytes = 0;
    return rate;
}

void receiveRate(RateInterval& interval, DWORD nowMs, LONG& rate) {
    const DWORD elapsed = nowMs - interval.startMs;
    if (elapsed < kRateIntervalMs) {
        return;
    }
    if (interval.bytes == 0) {
        rate = -1;
        return;
    }
    rate = static_cast<LONG>(interval.bytes / (elapsed / 1000));
    interval.startMs = nowMs;
    interval.bytes = 0;
}

}  // namespace trennick
