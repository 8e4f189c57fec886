#include "trennick/link/event_requests.h"

#include "common/fixed_text.h"
#include "trennick/link/link_payloads.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace trennick {

std::vector<BYTE> buildEventListRequest(const EventListRequest& request, int peerProtocolVersion) {
    std::vector<BYTE> out;
    if (peerProtocolVersion == 2) {
        appendLe32(out, request.eventType);
        appendLe16(out, request.adapter);
        appendLe16(out, request.selectedInput);
        return out;
    }
    char text[64];
    const int n = std::snprintf(text, sizeof text, "<%016lu><%2u><%2u>", static_cast<unsigned long>(request.eventType),
                                static_cast<unsigned>(request.adapter), static_cast<unsigned>(request.selectedInput));
    out.assign(text, text + n);
    return out;
}

std::optional<EventListRequest> parseEventListRequest(const BYTE* body, DWORD length) {
    if (body == nullptr) return std::nullopt;
    EventListRequest r;
    if (length == 8) {
        r.eventType = readLe32(body);
        r.adapter = readLe16(body + 4);
        r.selectedInput = readLe16(body + 6);
        return r;
    }
    BracketFields fields(body, length);
    const auto type = fields.next();
    const auto adapter = fields.nextNumber();
    const auto input = fields.nextNumber();
    if (!type || !adapter || !input || *adapter < 0 || *adapter > 0xFFFF || *input < 0 || *input > 0xFFFF) {
        return std::nullopt;
    }
    const std::string typeText(*type);
    char* end = nullptr;
    const unsigned long long value = std::strtoull(typeText.c_str(), &end, 10);
    if (end == typeText.c_str() || value > 0xFFFFFFFFull) return std::nullopt;
    r.eventType = static_cast<DWORD>(value);
    r.adapter = static_cast<WORD>(*adapter);
    r.selectedInput = static_cast<WORD>(*input);
    return r;
}

std::vector<BYTE> buildEventFileRequest(const tagEventHeader& header) {
    std::vector<BYTE> out;
    out.push_back('<');
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&header);
    out.insert(out.end(), bytes, bytes + sizeof header);
    out.push_back('>');
    return out;
}

std::optional<tagEventHeader> parseEventFileRequest(const BYTE* body, DWORD length) {
    if (body == nullptr) return std::nullopt;
    tagEventHeader header{};
    if (length >= sizeof header + 2 && body[0] == '<' && body[sizeof header + 1] == '>') {
        std::memcpy(&header, body + 1, sizeof header);
        return header;
    }
    const BYTE* open = static_cast<const BYTE*>(std::memchr(body, '<', length));
    if (open == nullptr) return std::nullopt;
    const DWORD start = static_cast<DWORD>(open - body) + 1;
    const BYTE* close = static_cast<const BYTE*>(std::memchr(body + start, '>', length - start));
    if (close == nullptr) return std::nullopt;
    const DWORD n = std::min<DWORD>(static_cast<DWORD>(close - (body + start)), sizeof header);
    std::memcpy(&header, body + start, n);
    return header;
}

ServedEventList PrepareServedEventList(const BYTE* record) {
    ServedEventList served;
    if (record == nullptr) return served;
    tagEventDirListCamera request{};
    CEventFile::evListRecordFromBytes(record, &request);
    tagEventDirListCamera list{};
    list.dwType = request.dwType & 0xFFFF;
    list.wAdapter = request.wAdapter;
    list.wCamera = request.wCamera;
    CEventFile scan;
    scan.evFillEventDirList(&list, 0, "", nullptr, 0, 0, 1);
    served.count = list.dwEventCount;
    served.path = fixed_text::Read(list.szListFile, sizeof list.szListFile);
    served.kind = list.dwType;
    served.adapter = list.wAdapter;
    served.camera = list.wCamera;
    CEventFile::evFree(&list.localList);
    CEventFile::evFree(&list.remoteList);
    return served;
}

}  // namespace trennick
