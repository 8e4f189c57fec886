#include "trennick/link/common_base.h"

#include <gtest/gtest.h>
#include <string>
#include <zlib.h>

namespace {

std::span<const BYTE> bytesOf(std::string_view s) {
    return {reinterpret_cast<const BYTE*>(s.data()), s.size()};
}

TEST(WireChecksum, MatchesKnownVectors) {
    EXPECT_EQ(WireChecksum(bytesOf("")), -1);
    EXPECT_EQ(WireChecksum(bytesOf("abc")), -1821220162);
}

// The sum adds each step; CRC-32 assigns it. Peers compute the added form,
// so the two must differ as soon as there is more than one byte.
TEST(WireChecksum, IsNotCrc32) {
    const std::string_view text = "abc";
    const LONG crcNoFinalXor = static_cast<LONG>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())) ^ 0xFFFFFFFFu);
    EXPECT_NE(WireChecksum(bytesOf(text)), crcNoFinalXor);
}

TEST(WireChecksum, StepIsAddedToTheSum) {
    DWORD sum = 0xFFFFFFFFu;
    for (char c : std::string_view("abc")) {
        sum += CCommon::UpdateCrc32(sum, static_cast<BYTE>(c));
    }
    EXPECT_EQ(static_cast<LONG>(sum), -1821220162);
    EXPECT_EQ(CCommon::UpdateCrc32(0, 1), 0x77073096u);
}

TEST(CCommon, FindStringNoCase) {
    struct Case {
        const char* pattern;
        const char* text;
        LONG index;
    };
    constexpr Case kCases[] = {
        {"<okhello>", "xx<OKHello>", 2},
        {"<OKHello>", "<OKHello>", 0},
        {"<OKHello>x", "<OKHello>", -1},  // longer than the text
        {"<Line Sync>", "<Line Syn", -1},
        {"b", "aab", 2},
        {"<SiteInfo>", "<siteinfo><SITEINFO>", 0},
        {"abd", "ababd", 2},  // a false start is passed over
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pattern) + " in " + c.text);
        EXPECT_EQ(CCommon::FindStringNoCase(c.pattern, c.text), c.index);
    }
}

TEST(CCommon, FindDataNoCaseStaysWithinTheBuffer) {
    const BYTE buffer[] = {'x', '<', 'o', 'k', 0, '>', 'z'};
    const BYTE pattern[] = {'<', 'O', 'K', 0, '>'};
    EXPECT_EQ(CCommon::FindDataNoCase(pattern, buffer, 5, 7), 1);
    EXPECT_EQ(CCommon::FindDataNoCase(pattern, buffer, 5, 5), -1);  // would run past the given length
    EXPECT_EQ(CCommon::FindDataNoCase(pattern, buffer, 5, 3), -1);  // buffer shorter than pattern
}

TEST(CCommon, SplitFieldsKeepsEmptyFieldsAndStopsAtTheCount) {
    std::vector<std::string> fields;
    EXPECT_EQ(CCommon::SplitFields("one;;three", fields, 8, 0), 3);
    EXPECT_EQ(fields, (std::vector<std::string>{"one", "", "three"}));
    EXPECT_EQ(CCommon::SplitFields("a,b,c,d", fields, 2, ','), 2);
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b,c,d"}));  // the last field takes the rest
}

TEST(CCommon, GetFileNameFromPathSelectsParts) {
    const char* path = "C:\\Events\\Cam 1\\alarm.trigger";
    EXPECT_EQ(CCommon::GetFileNameFromPath(path, CCommon::kDrive), "C:");
    EXPECT_EQ(CCommon::GetFileNameFromPath(path, CCommon::kFolder), "\\Events\\Cam 1\\");
    EXPECT_EQ(CCommon::GetFileNameFromPath(path, CCommon::kBaseName | CCommon::kExtension), "alarm.tri");
    EXPECT_EQ(CCommon::GetFileNameFromPath("name", CCommon::kBaseName | CCommon::kExtension), "name");
}

TEST(CCommon, ClipboardNamesMapBothWays) {
    EXPECT_EQ(CCommon::AppendClipboardFileName(1), "Text.clp");
    EXPECT_EQ(CCommon::AppendClipboardFileName(131), "DMETPICT.clp");
    EXPECT_EQ(CCommon::AppendClipboardFileName(77), "private.clp");
    EXPECT_EQ(CCommon::GetClipboardFormatOfFile("C:\\dump\\dib.CLP"), 8u);
    EXPECT_EQ(CCommon::GetClipboardFormatOfFile("wave.clp"), 12u);
}

TEST(CCommon, H263KeyFrameAndSourceFormat) {
    CCommon common;
    const BYTE key[] = {0, 0, 0x81, 0x00, 0x08 /* format 2, intra */};
    const BYTE inter[] = {0, 0, 0x81, 0x00, 0x0A};
    EXPECT_TRUE(common.IsKeyFrameH263(key, 5));
    EXPECT_FALSE(common.IsKeyFrameH263(key, 4));  // 4 bytes are never a key frame
    EXPECT_FALSE(common.IsKeyFrameH263(inter, 5));
    int format = -1;
    EXPECT_TRUE(CCommon::GetH263SourceFormat(inter, 5, format));
    EXPECT_EQ(format, 2);
    const BYTE noStart[] = {0, 1, 0x81, 0, 0};
    EXPECT_FALSE(CCommon::GetH263SourceFormat(noStart, 5, format));
}

TEST(CCommon, ShowMessageFormatsThroughThePresenterUnlessSwitchedOff) {
    std::vector<std::string> shown;
    CCommon::setStringLoader([](UINT id) { return id == 5000 ? std::string("stopped after %d blocks") : std::string(); });
    CCommon::setMessagePresenter([&](UINT id, UINT, const std::string& text) {
        shown.push_back(std::to_string(id) + ":" + text);
        return 16;
    });
    CCommon common;
    EXPECT_EQ(common.ShowMessage(5000, 0, 12), 16);
    common.m_nEnableMessage = FALSE;
    EXPECT_EQ(common.ShowMessage(5000, 0, 13), 0);
    EXPECT_EQ(shown, (std::vector<std::string>{"5000:stopped after 12 blocks"}));
    CCommon::setMessagePresenter(nullptr);
    CCommon::setStringLoader(nullptr);
}

TEST(CCommon, CompactPathDropsLeadingFolders) {
    auto width = [](std::string_view text) { return static_cast<int>(text.size()); };
    const char* path = "C:\\Velmoor\\Events\\Camera 01\\alarm.trg";
    EXPECT_EQ(CCommon::CompactPathToWindow(path, 100, width), path);
    EXPECT_EQ(CCommon::CompactPathToWindow(path, 30, width), "C:\\...\\Camera 01\\alarm.trg");
    EXPECT_EQ(CCommon::CompactPathToWindow(path, 5, width), "C:\\...\\alarm.trg");  // nothing fits: shortest
}

TEST(CCommon, LanguageFontFromResources) {
    CCommon::setStringLoader([](UINT id) { return id == 311 ? std::string("Sans") : id == 321 ? std::string("11") : std::string(); });
    const auto font = CCommon::CreateLanguageFont(0, true);
    EXPECT_EQ(font.face, "Sans");
    EXPECT_EQ(font.height, 11);
    EXPECT_EQ(font.weight, 700);
    EXPECT_EQ(CCommon::CreateLanguageFont(14, false).height, 14);
    CCommon::setStringLoader(nullptr);
    EXPECT_EQ(CCommon::CreateLanguageFont(0, false).height, 8);
}

TEST(CCommon, FileExceptionTexts) {
    EXPECT_STREQ(GetFileExceptionText(0), "No Error Occured");
    EXPECT_STREQ(GetFileExceptionText(13), "The disk is full.");
    std::string out;
    EXPECT_STREQ(GetFileExceptionText(99, &out), "Uknown error");
    EXPECT_EQ(out, "Uknown error");
}

TEST(CCommon, GlobalMemoryBlocks) {
    auto* block = static_cast<BYTE*>(GlobalMemReAlloc(nullptr, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
    block[63] = 7;
    block = static_cast<BYTE*>(GlobalMemReAlloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[63], 7);
    EXPECT_EQ(GlobalMemReAlloc(block, 0), nullptr);
}

}  // namespace
