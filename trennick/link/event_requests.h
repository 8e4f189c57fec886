#pragma once
// The event requests a verifying station sends a recorder (the event list of
// one camera, one event file) and the trigger notification a recorder sends
// back: their payloads and parsers. The parsers take the bytes behind the
// token and check every field against the bytes present.

#include "platform/types.h"
#include "tavicore/event_file.h"

#include <optional>
#include <string>
#include <vector>

namespace trennick {

struct EventListRequest {
    DWORD eventType = 0;
    WORD adapter = 0;
    WORD selectedInput = 0;
};

// Behind "<REFRESHDEBRIEF>": three bracketed decimal fields for a protocol-1
// peer ("<%016lu>", "<%2u>", "<%2u>"), the 8 binary bytes for a protocol-2 peer.
std::vector<BYTE> buildEventListRequest(const EventListRequest& request, int peerProtocolVersion);
// Reads either form: exactly 8 bytes are the binary form (the text form
// needs at least 9); anything else must be three closed decimal fields.
std::optional<EventListRequest> parseEventListRequest(const BYTE* body, DWORD length);

// Behind "<GETEVNTFILE>": "<", the 86 header bytes, ">".
std::vector<BYTE> buildEventFileRequest(const tagEventHeader& header);
// Takes the 86 bytes by length when the body is "<" + 86 bytes + ">";
// otherwise the bytes between the first "<" and the first ">" behind it (at
// most 86, zero-filled), as older stations frame it.
std::optional<tagEventHeader> parseEventFileRequest(const BYTE* body, DWORD length);

// The list a station serves for a peer's event-list request (the 576-byte
// record the link posts): this station's events of the record's kind
// (without the request bit 0x20000), adapter and camera, written into a list
// file. An empty path or a count of 0: there are none to send.
struct ServedEventList {
    std::string path;
    DWORD count = 0;
    DWORD kind = 0;
    WORD adapter = 0;
    WORD camera = 0;
};
ServedEventList PrepareServedEventList(const BYTE* record);

}  // namespace trennick
