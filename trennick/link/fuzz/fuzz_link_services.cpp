// Fuzzes the parsers of what a peer sends to the link's services: file
// announcements, event requests, cards, notification and text requests,
// guarded records, the trigger list, the hardware-profile list and the
// serial-out answers. The first byte picks the parser.

#include "trennick/link/cards.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/serial_out_command.h"
#include "trennick/link/trigger_list.h"

#include <cstring>

using namespace trennick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 0x20000) {
        return 0;
    }
    const BYTE* body = data + 1;
    const DWORD length = static_cast<DWORD>(size - 1);
    switch (data[0] % 9) {
    case 0:
        if (auto a = parseAnnouncement(body, length)) (void)isSafeWireFileName(a->name);
        break;
    case 1:
        (void)parseEventListRequest(body, length);
        (void)parseEventFileRequest(body, length);
        break;
    case 2:
        (void)parseCardBody(body, length);
        break;
    case 3: {
        NotificationRequest request;
        DWORD at = 0;
        (void)parseNotificationRequest(body, length, request, at);
        BracketFields fields(body, length);
        while (fields.next()) {
        }
        break;
    }
    case 4:
        (void)parseGuardedPayload(body, length);
        (void)readFileChecksum(body, length);
        break;
    case 5: {
        CTRiggerList list;
        tagTrigger out{};
        list.DispatchTriggerList(body, length, &out, data[0] & 0x10);
        break;
    }
    case 6: {
        CHWProfileList list([](const SiteInfoBlock&) { return true; });
        static tagHWProfile profile;
        list.DispatchHWProfileList(body, static_cast<LONG>(length), &profile);
        break;
    }
    case 7: {
        CSerialOutCommand command;
        SerialOutMessage message;
        command.DispatchSerialOutMessage(body, length, message);
        break;
    }
    default: {
        std::vector<BYTE> unescaped;
        unescapeBlock(body, length, unescaped);
        std::vector<BYTE> escaped(unescaped.size() * 2 + 2);
        DWORD used = 0;
        LONG checksum = 0;
        escapeBlock(unescaped.data(), static_cast<DWORD>(unescaped.size()), static_cast<DWORD>(unescaped.size()),
                    escaped.data(), used, checksum);
        break;
    }
    }
    return 0;
}
