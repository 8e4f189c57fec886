#include "trennick/link/common_base.h"
#include "trennick/link/station_info.h"

#include "common/fixed_text.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

using namespace trennick;

StationInfoBlock sampleBlock() {
    StationInfoBlock b{};
    b.length = kStationInfoBytes;
    fixed_text::Write(b.title, sizeof b.title, "Velmoor");
    fixed_text::Write(b.versionText, sizeof b.versionText, "Velmoor 1.0");
    b.protocolNumber = 8;
    b.versionNumber = 1;
    for (DWORD i = 0; i < kUserRecordBytes; ++i) b.userRecord[i] = static_cast<BYTE>(i + 3);
    for (DWORD i = 0; i < kStationDataBytes; ++i) b.stationData[i] = static_cast<BYTE>(i * 5);
    b.stationByte = 9;
    b.capabilities = kCapNewLayout | kCapAudio;
    return b;
}

std::vector<BYTE> bodyOf(const std::vector<BYTE>& payload, std::string_view token) {
    return std::vector<BYTE>(payload.begin() + static_cast<long>(token.size()), payload.end());
}

TEST(Hello, BothBlockFormsRoundTrip) {
    const StationInfoBlock block = sampleBlock();
    const auto newBody = bodyOf(buildHelloPayload("<HELLO V1.2>", block, true), "<HELLO V1.2>");
    ASSERT_EQ(newBody.size(), 4u + 1609);
    const HelloParse a = parseHelloBody(newBody.data(), static_cast<DWORD>(newBody.size()));
    ASSERT_EQ(a.form, HelloForm::NewLayout);
    EXPECT_EQ(std::memcmp(&a.block, &block, sizeof block), 0);

    const auto oldBody = bodyOf(buildHelloPayload("<HELLO V1.2>", block, false), "<HELLO V1.2>");
    ASSERT_EQ(oldBody.size(), 4u + 1612);
    const HelloParse b = parseHelloBody(oldBody.data(), static_cast<DWORD>(oldBody.size()));
    ASSERT_EQ(b.form, HelloForm::OldLayout);
    EXPECT_EQ(WORD{b.block.length}, kStationInfoBytes);
    EXPECT_EQ(LONG{b.block.protocolNumber}, 8);
    EXPECT_EQ(WORD{b.block.capabilities}, WORD{block.capabilities});
    EXPECT_EQ(std::memcmp(b.block.stationData, block.stationData, kStationDataBytes), 0);
    // The user record does not survive the conversion from the older layout.
    for (BYTE byte : b.block.userRecord) ASSERT_EQ(byte, 0);
    EXPECT_EQ(std::memcmp(b.oldBlock.userRecord, block.userRecord, kUserRecordBytes), 0);
}

TEST(Hello, OldLayoutOffsets) {
    const OldStationInfoBlock old = toOldLayout(sampleBlock());
    const auto* raw = reinterpret_cast<const BYTE*>(&old);
    EXPECT_EQ(raw[0] | (raw[1] << 8), 1612);
    EXPECT_EQ(raw[516], 8);     // P
    EXPECT_EQ(raw[520], 1);     // V
    EXPECT_EQ(raw[524], 3);     // user record
    EXPECT_EQ(raw[1608], 9);    // station byte
    EXPECT_EQ(raw[1610] | (raw[1611] << 8), kCapNewLayout | kCapAudio);
}

TEST(Hello, RejectsWhatFailsBothChecks) {
    const StationInfoBlock block = sampleBlock();
    auto body = bodyOf(buildHelloPayload("<HELLO V1.2>", block, true), "<HELLO V1.2>");
    struct Case {
        const char* name;
        std::vector<BYTE> body;
    };
    auto flipped = body;
    flipped[100] ^= 1;
    auto wrongLength = block;
    wrongLength.length = 1600;
    auto lengthBody = bodyOf(buildHelloPayload("<HELLO V1.2>", wrongLength, true), "<HELLO V1.2>");
    const std::vector<Case> cases = {
        {"empty", {}},
        {"checksum only", {body.begin(), body.begin() + 4}},
        {"cut one byte short", {body.begin(), body.end() - 1}},
        {"one bit flipped", flipped},
        {"length field wrong", lengthBody},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseHelloBody(c.body.data(), static_cast<DWORD>(c.body.size())).form, HelloForm::Invalid);
    }
}

TEST(Hello, PeerTextsEndWithinTheirFields) {
    StationInfoBlock block = sampleBlock();
    std::memset(block.title, 'T', sizeof block.title);
    std::memset(block.versionText, 'V', sizeof block.versionText);
    for (bool newLayout : {true, false}) {
        const auto body = bodyOf(buildHelloPayload("<HELLO V1.2>", block, newLayout), "<HELLO V1.2>");
        const HelloParse p = parseHelloBody(body.data(), static_cast<DWORD>(body.size()));
        ASSERT_NE(p.form, HelloForm::Invalid);
        EXPECT_EQ(strnlen(p.block.title, sizeof p.block.title), 255u);
        EXPECT_EQ(strnlen(p.block.versionText, sizeof p.block.versionText), 255u);
    }
}

TEST(SiteInfo, ParsesOrRefuses) {
    SiteInfoBlock site{};
    fixed_text::Write(site.guid, sizeof site.guid, "{GUID}");
    fixed_text::Write(site.siteName, sizeof site.siteName, "Depot");
    std::memset(site.sitePhone, 'p', sizeof site.sitePhone);  // unterminated
    const auto body = bodyOf(buildSiteInfoPayload("<SiteInfo>", site), "<SiteInfo>");
    ASSERT_EQ(body.size(), 4u + 2 + 768);

    const SiteInfoParse ok = parseSiteInfoBody(body.data(), static_cast<DWORD>(body.size()));
    ASSERT_EQ(ok.result, SiteInfoResult::Ok);
    EXPECT_STREQ(ok.block.siteName, "Depot");
    EXPECT_EQ(strnlen(ok.block.sitePhone, sizeof ok.block.sitePhone), 255u);

    auto shortLength = body;
    shortLength[4] = 0xFF;  // 767
    shortLength[5] = 0x02;
    auto badSum = body;
    badSum[50] ^= 0x40;
    struct Case {
        const char* name;
        std::vector<BYTE> body;
        SiteInfoResult result;
    };
    const std::vector<Case> cases = {
        {"length field 767", shortLength, SiteInfoResult::BadLength},
        {"bytes cut short", {body.begin(), body.end() - 1}, SiteInfoResult::BadLength},
        {"no length field", {body.begin(), body.begin() + 5}, SiteInfoResult::BadLength},
        {"checksum mismatch", badSum, SiteInfoResult::BadChecksum},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseSiteInfoBody(c.body.data(), static_cast<DWORD>(c.body.size())).result, c.result);
    }
}

}  // namespace
