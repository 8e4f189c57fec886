#include "trennick/link/cards.h"

#include "common/fixed_text.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_payloads.h"

#include <cstring>

namespace trennick {

std::vector<BYTE> buildCardBody(const tagBusinessCard& card) {
    const std::string picture = card.picture[0] != 0
                                    ? CCommon::GetFileNameFromPath(fixed_text::Read(card.picture),
                                                                   CCommon::kBaseName | CCommon::kExtension)
                                    : std::string();
    const std::string texts[4] = {fixed_text::Read(card.name), fixed_text::Read(card.text2),
                                  fixed_text::Read(card.text3), picture};
    std::vector<BYTE> out;
    for (int i = 0; i < 4; ++i) {
        out.push_back(i == 0 ? '<' : '<');
        out.insert(out.end(), texts[i].begin(), texts[i].end());
        out.push_back(0);
        out.push_back('>');
    }
    return out;
}

std::optional<CardTexts> parseCardBody(const BYTE* body, DWORD length) {
    if (body == nullptr) return std::nullopt;
    std::string* fields[4];
    CardTexts texts;
    fields[0] = &texts.name;
    fields[1] = &texts.text2;
    fields[2] = &texts.text3;
    fields[3] = &texts.picture;
    DWORD at = 0;
    for (std::string* field : fields) {
        const BYTE* open = at < length ? static_cast<const BYTE*>(std::memchr(body + at, '<', length - at)) : nullptr;
        if (open == nullptr) return std::nullopt;
        const DWORD start = static_cast<DWORD>(open - body) + 1;
        const BYTE* end = start < length ? static_cast<const BYTE*>(std::memchr(body + start, 0, length - start)) : nullptr;
        if (end == nullptr) return std::nullopt;
        field->assign(reinterpret_cast<const char*>(body + start), static_cast<std::size_t>(end - (body + start)));
        at = static_cast<DWORD>(end - body) + 1;
    }
    return texts;
}

std::vector<BYTE> buildSnapshotRequest(WORD first, DWORD second, WORD third) {
    std::vector<BYTE> request;
    appendLe16(request, 10);
    appendLe16(request, first);
    appendLe32(request, second);
    appendLe16(request, third);
    std::vector<BYTE> out;
    appendLe32(out, static_cast<DWORD>(WireChecksum(request)));
    out.insert(out.end(), request.begin(), request.end());
    return out;
}

std::optional<SnapshotRequest> parseSnapshotRequest(const BYTE* body, DWORD length) {
    constexpr DWORD kRequestBytes = 10;
    if (body == nullptr || length < 4 + kRequestBytes) return std::nullopt;
    const BYTE* request = body + 4;
    DWORD checksum = 0;
    WORD size = 0;
    std::memcpy(&checksum, body, 4);
    std::memcpy(&size, request, 2);
    if (size != kRequestBytes || LONG(checksum) != WireChecksum(std::span<const BYTE>(request, kRequestBytes))) {
        return std::nullopt;
    }
    SnapshotRequest r;
    std::memcpy(&r.first, request + 2, 2);
    std::memcpy(&r.second, request + 4, 4);
    std::memcpy(&r.third, request + 8, 2);
    return r;
}

NotificationParse parseNotificationRequest(const BYTE* body, DWORD length, NotificationRequest& out,
                                           DWORD& failedAt) {
    BracketFields fields(body, body != nullptr ? length : 0);
    const auto type = fields.nextNumber(&failedAt);
    if (!type) return NotificationParse::Malformed;
    const auto code = fields.nextNumber(&failedAt);
    if (!code) return failedAt >= length ? NotificationParse::NoCode : NotificationParse::Malformed;
    const auto value = fields.nextNumber(&failedAt);
    if (!value) return failedAt >= length ? NotificationParse::NoValue : NotificationParse::Malformed;
    out = {*type, *code, *value};
    return NotificationParse::Ok;
}

}  // namespace trennick
