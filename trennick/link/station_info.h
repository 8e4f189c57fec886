#pragma once
// The records carried by the hello and the site info, and their parsers.
// Both parsers take the bytes behind the token and trust nothing in them.

#include "platform/types.h"

#include <bit>
#include <string_view>
#include <vector>

namespace trennick {

static_assert(std::endian::native == std::endian::little, "wire records are little-endian");

inline constexpr WORD kStationInfoBytes = 1609;
inline constexpr WORD kOldStationInfoBytes = 1612;
inline constexpr DWORD kUserRecordBytes = 208;
inline constexpr DWORD kUserNameOffset = 0;
inline constexpr DWORD kUserPasswordOffset = 90;
inline constexpr DWORD kUserTextFieldBytes = 90;
// 16-bit lengths of the scrambled name and password, as the users file keeps them.
inline constexpr DWORD kUserNameLengthOffset = 180;
inline constexpr DWORD kUserPasswordLengthOffset = 182;
inline constexpr DWORD kStationDataBytes = 876;
inline constexpr WORD kSiteInfoBytes = 768;

// Capability bits of the station-info block.
inline constexpr WORD kCapMainFrameFlag = 0x0004;      // copied into the main frame
inline constexpr WORD kCapRefusesStationCalls = 0x0001; // with P > 3: no station-to-station calls
inline constexpr WORD kCapNewLayout = 0x0020;           // 1,609-byte layout, protocol version 2
inline constexpr WORD kCapAudio = 0x4000;               // takes audio

// The protocol number this program sends in its hello, and its version number.
inline constexpr LONG kOwnProtocolNumber = 8;
inline constexpr LONG kOwnVersionNumber = 1;

#pragma pack(push, 1)

// Station-info block of the hello, current layout.
struct StationInfoBlock {
    WORD length;                    // 1609
    char title[256];
    char versionText[256];          // "<title> <version>"
    LONG protocolNumber;            // "P"
    LONG versionNumber;             // "V"
    BYTE userRecord[kUserRecordBytes];  // name and password scrambled
    BYTE stationData[kStationDataBytes];
    BYTE stationByte;
    WORD capabilities;
};
static_assert(sizeof(StationInfoBlock) == 1609);

// The older layout, used towards and accepted from peers without kCapNewLayout.
struct OldStationInfoBlock {
    WORD length;                    // 1612
    char title[256];
    char versionText[256];
    BYTE unused1[2];
    LONG protocolNumber;
    LONG versionNumber;
    BYTE userRecord[kUserRecordBytes];
    BYTE stationData[kStationDataBytes];
    BYTE stationByte;
    BYTE unused2;
    WORD capabilities;
};
static_assert(sizeof(OldStationInfoBlock) == 1612);

// This station's permanent identity, sent right after the hello.
struct SiteInfoBlock {
    char guid[256];
    char siteName[256];
    char sitePhone[256];
};
static_assert(sizeof(SiteInfoBlock) == kSiteInfoBytes);

#pragma pack(pop)

OldStationInfoBlock toOldLayout(const StationInfoBlock& block);
// Copies every field except the user record, which is zeroed.
StationInfoBlock fromOldLayout(const OldStationInfoBlock& block);

// Forces each text field of a received block to end within its field.
void terminateTexts(StationInfoBlock& block);
void terminateTexts(SiteInfoBlock& block);

// The hello payload: the token, the 4-byte wire checksum of the block as sent,
// then the block (1,609 bytes, or the 1,612-byte older layout).
std::vector<BYTE> buildHelloPayload(std::string_view token, const StationInfoBlock& block,
                                    bool newLayout);

enum class HelloForm { NewLayout, OldLayout, Invalid };
struct HelloParse {
    HelloForm form = HelloForm::Invalid;
    StationInfoBlock block{};  // the 1,609-byte form, texts terminated
    OldStationInfoBlock oldBlock{};  // as received, when the form is OldLayout
    LONG readChecksum = 0;     // the checksum field as received (0 when missing)
    LONG calcChecksum = 0;     // the checksum computed over 1,609 bytes (0 when missing)
};
// Parses the bytes behind "<HELLO V1.2>".
HelloParse parseHelloBody(const BYTE* body, DWORD length);

// The site-info payload: the token, the 4-byte checksum of the block, the
// 16-bit block length (768), the block.
std::vector<BYTE> buildSiteInfoPayload(std::string_view token, const SiteInfoBlock& block);

enum class SiteInfoResult { Ok, BadLength, BadChecksum };
struct SiteInfoParse {
    SiteInfoResult result = SiteInfoResult::BadLength;
    SiteInfoBlock block{};
    LONG readChecksum = 0;
    LONG calcChecksum = 0;
};
// Parses the bytes behind "<SiteInfo>".
SiteInfoParse parseSiteInfoBody(const BYTE* body, DWORD length);


}  // namespace trennick
