#pragma once
// The business card two stations hand each other, the snapshot request and
// the notification request: records, payloads and parsers. The parsers keep
// every text inside its field and refuse a payload whose fields are missing.

#include "platform/types.h"

#include <optional>
#include <string>
#include <vector>

namespace trennick {

#pragma pack(push, 1)
struct tagBusinessCard {
    BYTE lead[8];
    char name[64];
    char text2[32];
    char text3[512];
    char picture[260];   // path of the card's picture file
    BYTE status;
};
static_assert(sizeof(tagBusinessCard) == 877);
static_assert(offsetof(tagBusinessCard, picture) == 616);
#pragma pack(pop)

// Status bits. The peer's card: received, picture received. Our card:
// confirmed by the peer, sent and not yet confirmed, picture sent.
inline constexpr WORD kCardReceived = 0x01;
inline constexpr WORD kCardPictureReceived = 0x04;
inline constexpr WORD kCardConfirmed = 0x01;
inline constexpr WORD kCardSent = 0x02;
inline constexpr WORD kCardPictureSent = 0x04;

// Behind "<My Card>": "<" name 0x00 "><" text2 0x00 "><" text3 0x00 "><" picture name 0x00 ">".
std::vector<BYTE> buildCardBody(const tagBusinessCard& card);
struct CardTexts {
    std::string name, text2, text3, picture;
};
// nullopt when a field is missing or not ended by its 0x00 byte.
std::optional<CardTexts> parseCardBody(const BYTE* body, DWORD length);

// Behind "<GETSNAP>": the wire checksum of the 10-byte request, then u16 10,
// u16 first, u32 second, u16 third.
std::vector<BYTE> buildSnapshotRequest(WORD first, DWORD second, WORD third);
struct SnapshotRequest {
    WORD first = 0;
    DWORD second = 0;
    WORD third = 0;
};
// The request behind the token; nullopt when it is short, its length field is
// not 10 or its checksum does not match.
std::optional<SnapshotRequest> parseSnapshotRequest(const BYTE* body, DWORD length);

struct NotificationRequest {
    long type = 0;
    long code = 0;
    long value = 0;
};
enum class NotificationParse { Ok, NoCode, NoValue, Malformed };
// "<type><code><value>" behind "<NOTIFYRPC>"; `failedAt` gets the position a
// missing field would start at.
NotificationParse parseNotificationRequest(const BYTE* body, DWORD length, NotificationRequest& out,
                                           DWORD& failedAt);

}  // namespace trennick
