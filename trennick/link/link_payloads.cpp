#include "trennick/link/link_payloads.h"

#include "trennick/link/common_base.h"
#include "trennick/link/prot_list.h"

#include <cstdlib>
#include <string>

namespace trennick {

WORD readLe16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD readLe32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}
void appendLe16(std::vector<BYTE>& out, WORD value) {
    out.push_back(static_cast<BYTE>(value & 0xFF));
    out.push_back(static_cast<BYTE>(value >> 8));
}
void appendLe32(std::vector<BYTE>& out, DWORD value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>((value >> (8 * i)) & 0xFF));
}

std::vector<BYTE> buildTokenPayload(WORD tokenId, const std::vector<BYTE>& body) {
    const std::string_view token = tokenText(tokenId);
    std::vector<BYTE> out(token.begin(), token.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<BYTE> buildGuardedPayload(std::string_view token, const BYTE* bytes, DWORD length) {
    if (length > 0xFFFF || (bytes == nullptr && length != 0)) {
        return {};
    }
    std::vector<BYTE> out(token.begin(), token.end());
    appendLe32(out, static_cast<DWORD>(WireChecksum({bytes, length})));
    appendLe16(out, static_cast<WORD>(length));
    if (length != 0) out.insert(out.end(), bytes, bytes + length);
    return out;
}

GuardedRecord parseGuardedPayload(const BYTE* body, DWORD length) {
    GuardedRecord r;
    if (body == nullptr || length < 6) {
        r.result = GuardedResult::Short;
        return r;
    }
    r.readChecksum = static_cast<LONG>(readLe32(body));
    r.length = readLe16(body + 4);
    if (r.length > length - 6) {
        r.result = GuardedResult::BadLength;
        return r;
    }
    r.bytes = body + 6;
    r.calcChecksum = WireChecksum({r.bytes, r.length});
    r.result = r.calcChecksum == r.readChecksum ? GuardedResult::Ok : GuardedResult::BadChecksum;
    return r;
}

std::optional<std::string_view> BracketFields::next(DWORD* start) {
    DWORD at = m_at;
    if (at < m_length && m_text[at] == '<') ++at;
    if (start != nullptr) *start = at;
    if (at >= m_length) return std::nullopt;
    DWORD close = at;
    while (close < m_length && m_text[close] != '>') ++close;
    if (close >= m_length) return std::nullopt;
    m_at = close + 1;
    return std::string_view(reinterpret_cast<const char*>(m_text + at), close - at);
}

std::optional<long> BracketFields::nextNumber(DWORD* start) {
    const auto field = next(start);
    if (!field) return std::nullopt;
    const std::string text(*field);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) return std::nullopt;
    return value;
}

}  // namespace trennick
