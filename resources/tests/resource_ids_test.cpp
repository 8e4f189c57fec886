// Every string and bitmap the program, the engine and the servers ask the
// language library for must be in it: a missing one shows an empty box or a
// blank button. The ids are collected from the sources, so a new id that
// nobody added to the library fails here.
//
// What counts as asking, in the scanned sources:
//  - a constant named kStr..., kString..., k...StringId, kReason... or IDS_...
//    (a string), or kBmp..., k...Bitmap, IDB_..., IDI_... or IDR_... (a bitmap),
//    given a number;
//  - UiString(n), ShowMessage(n), message(n) with a literal number (a string),
//    UiBitmap(n) and UiMaskedBitmap(n) (a bitmap);
//  - a comment "resource strings: a-b c" or "resource bitmaps: a-b c" where
//    the code computes the id or takes it from a table.

#include "resources/glossel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

struct AskedIds {
    std::set<UINT> strings;
    std::set<UINT> bitmaps;
};

void addList(const std::string& list, std::set<UINT>& into) {
    static const std::regex item(R"((\d+)(?:\s*-\s*(\d+))?)");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), item); it != std::sregex_iterator(); ++it) {
        const UINT first = static_cast<UINT>(std::stoul((*it)[1]));
        const UINT last = (*it)[2].matched ? static_cast<UINT>(std::stoul((*it)[2])) : first;
        for (UINT id = first; id <= last && last - first < 1000; ++id) into.insert(id);
    }
}

void scanLine(const std::string& text, AskedIds& ids);

// Only lines that can hold an id go through the patterns (they are slow).
void scanText(const std::string& text, AskedIds& ids) {
    static const char* const kHints[] = {"kStr", "kString", "StringId", "kReason", "IDS_", "IDB_", "IDI_",
                                         "IDR_", "Bitmap", "kBmp", "UiString(", "ShowMessage(", "message(",
                                         "resource strings:", "resource bitmaps:"};
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        for (const char* hint : kHints) {
            if (line.find(hint) != std::string_view::npos) {
                scanLine(std::string(line), ids);
                break;
            }
        }
        start = end + 1;
    }
}

void scanLine(const std::string& text, AskedIds& ids) {
    struct Rule {
        std::regex pattern;
        bool bitmap;
    };
    static const Rule rules[] = {
        {std::regex(R"(\bk(?:Str[A-Z]\w*|String[A-Z]\w*|\w+StringId)\s*=\s*(\d+))"), false},
        {std::regex(R"(\bkReason\w*\s*=\s*(\d+))"), false},
        {std::regex(R"(\bIDS_\w+\s*=\s*(\d+))"), false},
        {std::regex(R"(\b(?:UiString|ShowMessage|message)\(\s*(\d+))"), false},
        {std::regex(R"(\bk(?:Bmp[A-Z]\w*|\w+Bitmap)\s*=\s*(\d+))"), true},
        {std::regex(R"(\bID[BIR]_\w+\s*=\s*(\d+))"), true},
        {std::regex(R"(\bUi(?:Masked)?Bitmap\(\s*(\d+))"), true},
    };
    for (const Rule& rule : rules) {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), rule.pattern); it != std::sregex_iterator();
             ++it) {
            const UINT id = static_cast<UINT>(std::stoul((*it)[1]));
            if (id == 0) continue;  // "no message"
            (rule.bitmap ? ids.bitmaps : ids.strings).insert(id);
        }
    }
    static const std::regex strings(R"(resource strings:\s*([0-9][0-9 ,\-]*))");
    static const std::regex bitmaps(R"(resource bitmaps:\s*([0-9][0-9 ,\-]*))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), strings); it != std::sregex_iterator(); ++it) {
        addList((*it)[1], ids.strings);
    }
    for (auto it = std::sregex_iterator(text.begin(), text.end(), bitmaps); it != std::sregex_iterator(); ++it) {
        addList((*it)[1], ids.bitmaps);
    }
}

bool skipped(const fs::path& dir) {
    const std::string name = dir.filename().string();
    return name.rfind("build", 0) == 0 || name == ".git" || name == "tests" || name == "fuzz" ||
           name == "bench" || name == "scripts" || name == "docs" || name == "data" || name == "tools" ||
           name == "cmake" || name == "resources";
}

AskedIds scanSources() {
    AskedIds ids;
    const fs::path root = VELMOOR_SOURCE_DIR;
    auto scanFile = [&](const fs::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        scanText(text.str(), ids);
    };
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_directory()) {
            if (skipped(it->path())) it.disable_recursion_pending();
            continue;
        }
        const auto ext = it->path().extension();
        if (ext == ".cpp" || ext == ".h") scanFile(it->path());
    }
    // The numbers of the named bitmaps live with the library.
    scanFile(root / "resources" / "glossel_ids.h");
    return ids;
}

}  // namespace

TEST(ResourceIds, ScannerFindsEachWayOfAsking) {
    AskedIds ids;
    scanText("constexpr UINT kStrX = 5180; kNetStreamError = 2; kFormatBmp = 1; inline constexpr LPARAM kWrongPasswordStringId = 61416;\n"
             "UiString(10000); ShowMessage(5450, 0); message(5190, kind); kReasonNone = 0;\n"
             "constexpr UINT IDS_RTV = 65079; constexpr UINT kLogoBitmap = 288; UiMaskedBitmap(171);\n"
             "inline constexpr UINT IDB_BTN_ARMU = 6011;\n"
             "// resource strings: 61300-61302, 65010\n// resource bitmaps: 379-380 400\n",
             ids);
    EXPECT_EQ(ids.strings, (std::set<UINT>{5180, 5190, 5450, 10000, 61300, 61301, 61302, 61416, 65010, 65079}));
    EXPECT_EQ(ids.bitmaps, (std::set<UINT>{171, 288, 379, 380, 400, 6011}));
}

TEST(ResourceIds, EveryIdTheSourcesAskForIsInTheLibrary) {
    ASSERT_EQ(lngSetResourceDLL(), 1);
    const AskedIds ids = scanSources();
    // A scan that found (almost) nothing means the sources were not where the
    // test looked; that must not pass as "nothing missing".
    ASSERT_GT(ids.strings.size(), 100u);
    ASSERT_GT(ids.bitmaps.size(), 50u);
    std::string missingStrings, missingBitmaps;
    for (UINT id : ids.strings) {
        char text[512];
        if (lngLoadString(id, text, sizeof text) <= 0) missingStrings += " " + std::to_string(id);
    }
    for (UINT id : ids.bitmaps) {
        const BYTE* data = nullptr;
        DWORD bytes = 0;
        if (lngLoadBitmap(id, &data, &bytes) != 1 || bytes < 54 || data[0] != 'B' || data[1] != 'M') {
            missingBitmaps += " " + std::to_string(id);
        }
    }
    EXPECT_EQ(missingStrings, "") << "strings asked for but not in the language library";
    EXPECT_EQ(missingBitmaps, "") << "bitmaps asked for but not in the language library";
}

// The texts the main window's status line, its disconnect and refusal boxes
// show are among them, whatever the scan finds.
TEST(ResourceIds, StatusAndRefusalTextsArePresent) {
    constexpr UINT kIds[] = {61300, 61301, 61302, 61303, 61304, 61305, 61306, 61307, 61308, 61309, 61310,
                             5180,  5190,  5230,  5250,  5300,  5360,  5450,  61417, 65090, 65100, 65110,
                             65120};
    for (UINT id : kIds) {
        char text[512];
        EXPECT_GT(lngLoadString(id, text, sizeof text), 0) << id;
    }
}
