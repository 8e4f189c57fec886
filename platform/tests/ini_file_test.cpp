#include "platform/ini_file.h"

#include "platform/folders.h"
#include "platform/testing/child_process.h"

#include <array>
#include <fstream>
#include <gtest/gtest.h>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::iniReadSection;
using platform::iniReadSectionText;
using platform::iniReadString;
using platform::iniReadValue;
using platform::iniSectionNames;
using platform::iniWriteString;

namespace {

fs::path writeFile(const std::string& name, const std::string& content) {
    fs::path path = platform::windowsFolder() / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string readString(std::string_view file, std::string_view section, std::string_view key,
                       std::string_view def = "", std::size_t size = 256) {
    std::string out(size, '#');
    std::size_t n = iniReadString(file, section, key, def, std::span<char>(out.data(), size));
    if (size == 0) {
        return "<" + std::to_string(n) + ">";
    }
    EXPECT_EQ(out[n], '\0');
    return out.substr(0, n);
}

}  // namespace

TEST(IniFile, BareNamesLieInTheWindowsFolder) {
    EXPECT_EQ(platform::resolveIniPath("Quennel.ini"), platform::windowsFolder() / "Quennel.ini");
    EXPECT_EQ(platform::resolveIniPath("/tmp/x/a.ini"), fs::path("/tmp/x/a.ini"));
    EXPECT_EQ(platform::resolveIniPath("db\\stations\\A1.ini"), fs::path("db/stations/A1.ini"));
}

TEST(IniFile, ReadsWithWindowsRules) {
    writeFile("read.ini",
              "; leading comment\r\n"
              "orphan=before any section\r\n"
              "[General]\r\n"
              "  Name  =  Velmoor Station  \r\n"
              "Empty=\r\n"
              "Quoted=\"  spaced  \"\r\n"
              "Single='x'\r\n"
              "Half=\"x\r\n"
              "Eq=a=b\r\n"
              "[ Spaced Section ]\r\n"
              "k=v\r\n"
              "[general]\r\n"
              "Late=second copy\r\n"
              "name=shadowed\r\n");
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        const char* expected;
    };
    const Case cases[] = {
        {"General", "Name", "", "Velmoor Station"},
        {"GENERAL", "name", "", "Velmoor Station"},       // case-insensitive both ways
        {"General", " Name ", "", "Velmoor Station"},     // caller's blanks ignored
        {"General", "Empty", "dflt", ""},                 // present but empty: not the default
        {"General", "Quoted", "", "  spaced  "},          // one pair of quotes dropped
        {"General", "Single", "", "x"},
        {"General", "Half", "", "\"x"},                   // unmatched quote kept
        {"General", "Eq", "", "a=b"},                     // first '=' splits
        {"General", "Missing", "fallback  ", "fallback"}, // default loses trailing blanks
        {"General", "Late", "", "second copy"},           // repeated section header merges
        {"Spaced Section", "k", "", "v"},
        {"Nope", "k", "d", "d"},
        {"General", "orphan", "", ""},                    // keys before any section unreachable
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(readString("read.ini", c.section, c.key, c.def), c.expected);
    }
    EXPECT_FALSE(iniReadValue("read.ini", "General", "Missing").has_value());
    EXPECT_EQ(iniReadValue("read.ini", "General", "Empty"), std::optional<std::string>(""));
}

TEST(IniFile, TruncatesToTheBuffer) {
    ASSERT_TRUE(iniWriteString("trunc.ini", "S", "k", "abcdef"));
    EXPECT_EQ(readString("trunc.ini", "S", "k", "", 4), "abc");
    EXPECT_EQ(readString("trunc.ini", "S", "k", "", 7), "abcdef");
    EXPECT_EQ(readString("trunc.ini", "S", "k", "", 1), "");
    EXPECT_EQ(readString("trunc.ini", "S", "k", "", 0), "<0>");  // nothing written
    EXPECT_EQ(readString("trunc.ini", "S", "none", "123456", 3), "12");
}

TEST(IniFile, MissingFileReadsAsEmpty) {
    EXPECT_EQ(readString("absent.ini", "S", "k", "d"), "d");
    EXPECT_TRUE(iniReadSection("absent.ini", "S").empty());
    EXPECT_TRUE(iniSectionNames("absent.ini").empty());
    // Removing from a missing file succeeds and does not create it.
    EXPECT_TRUE(iniWriteString("absent.ini", "S", "k", nullptr));
    EXPECT_TRUE(iniWriteString("absent.ini", "S", nullptr, nullptr));
    EXPECT_FALSE(fs::exists(platform::windowsFolder() / "absent.ini"));
}

TEST(IniFile, WritesKeepCaseCommentsAndOrder) {
    fs::path path = writeFile("keep.ini",
                              "; settings of the station\r\n"
                              "[Video]\r\n"
                              "Width=320\r\n"
                              "; the height follows\r\n"
                              "Height=240\r\n"
                              "\r\n"
                              "; audio below\r\n"
                              "[Audio]\r\n"
                              "Rate=8000\r\n");
    ASSERT_TRUE(iniWriteString("keep.ini", "VIDEO", "WIDTH", "640"));   // existing spelling kept
    ASSERT_TRUE(iniWriteString("keep.ini", "video", "Depth", "24"));    // after the last entry
    ASSERT_TRUE(iniWriteString("keep.ini", "Comms", "Port", "COM1"));   // new section at the end
    EXPECT_EQ(fileText(path),
              "; settings of the station\r\n"
              "[Video]\r\n"
              "Width=640\r\n"
              "; the height follows\r\n"
              "Height=240\r\n"
              "Depth=24\r\n"
              "\r\n"
              "; audio below\r\n"
              "[Audio]\r\n"
              "Rate=8000\r\n"
              "\r\n"
              "[Comms]\r\n"
              "Port=COM1\r\n");
}

TEST(IniFile, NullValueRemovesKeyNullKeyRemovesSection) {
    fs::path path = writeFile("remove.ini",
                              "[A]\n"
                              "x=1\n"
                              "; about y\n"
                              "y=2\n"
                              "\n"
                              "; about B\n"
                              "[B]\n"
                              "z=3\n"
                              "[a]\n"
                              "X=again\n");
    ASSERT_TRUE(iniWriteString("remove.ini", "a", "X", nullptr));  // every copy of the key
    EXPECT_FALSE(iniReadValue("remove.ini", "A", "x"));
    EXPECT_EQ(iniReadValue("remove.ini", "A", "y"), std::optional<std::string>("2"));
    ASSERT_TRUE(iniWriteString("remove.ini", "A", nullptr, nullptr));
    EXPECT_EQ(fileText(path), "\n; about B\n[B]\nz=3\n");  // LF files stay LF
    EXPECT_EQ(iniSectionNames("remove.ini"), std::vector<std::string>{"B"});
}

TEST(IniFile, KeepsAByteOrderMark) {
    fs::path path = writeFile("bom.ini", "\xEF\xBB\xBF[S]\r\na=1\r\n");
    EXPECT_EQ(readString("bom.ini", "S", "a"), "1");
    ASSERT_TRUE(iniWriteString("bom.ini", "S", "b", "2"));
    EXPECT_EQ(fileText(path), "\xEF\xBB\xBF[S]\r\na=1\r\nb=2\r\n");
}

TEST(IniFile, RefusesTextThatWouldBreakTheFile) {
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"S", "k", "line\nInjected=1"}, {"S", "k\r", "v"},  {"S", "a=b", "v"},
        {"S", "[T]", "v"},              {"S", ";c", "v"},   {"S]", "k", "v"},
        {"", "k", "v"},                 {"  ", "k", "v"},   {"S", "", "v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "|" + c.key + "|" + c.value);
        EXPECT_FALSE(iniWriteString("bad.ini", c.section, c.key, c.value));
    }
    EXPECT_FALSE(fs::exists(platform::windowsFolder() / "bad.ini"));
}

TEST(IniFile, ReadsAWholeSection) {
    writeFile("section.ini", "[S]\r\na = 1\r\n; note\r\nb=\r\nflag\r\n[T]\r\n[U]\r\n; only a comment\r\n");
    auto entries = iniReadSection("section.ini", "s");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].key, "a");
    EXPECT_EQ(entries[0].value, "1");
    EXPECT_EQ(entries[2].key, "flag");
    EXPECT_EQ(entries[2].value, "");

    std::array<char, 64> out{};
    std::size_t n = iniReadSectionText("section.ini", "S", out);
    EXPECT_EQ(std::string(out.data(), n + 1), std::string("a=1\0b=\0flag=\0", 14));
    EXPECT_EQ(n, 13u);
    EXPECT_EQ(iniReadSectionText("section.ini", "T", out), 0u);
    EXPECT_EQ(iniReadSectionText("section.ini", "U", out), 0u);
    EXPECT_EQ(iniReadSectionText("section.ini", "Missing", out), 0u);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '\0');

    // Cut short: size - 2 characters and a double terminator.
    std::array<char, 7> small{};
    small.fill('#');
    EXPECT_EQ(iniReadSectionText("section.ini", "S", small), 5u);
    EXPECT_EQ(std::string(small.data(), 7), std::string("a=1\0b\0\0", 7));

    EXPECT_EQ(iniSectionNames("section.ini"), (std::vector<std::string>{"S", "T", "U"}));
}

TEST(IniFile, SectionTextStaysInsideEveryBufferSize) {
    writeFile("cut.ini", "[S]\na=1\nb=\nflag=\n");
    const std::string full("a=1\0b=\0flag=\0\0", 14);
    for (std::size_t size = 2; size <= 16; ++size) {
        SCOPED_TRACE(size);
        // Guard bytes after the buffer catch a copy past its end.
        std::vector<char> room(size + 8, '#');
        std::size_t n = iniReadSectionText("cut.ini", "S", std::span<char>(room.data(), size));
        EXPECT_EQ(std::string(room.data() + size, 8), std::string(8, '#'));
        if (size >= full.size()) {
            EXPECT_EQ(n, 13u);
            EXPECT_EQ(std::string(room.data(), full.size()), full);
        } else {
            // Cut short: size - 2 characters of the list, then two terminators.
            EXPECT_EQ(n, size - 2);
            EXPECT_EQ(std::string(room.data(), size - 2), full.substr(0, size - 2));
            EXPECT_EQ(room[size - 2], '\0');
            EXPECT_EQ(room[size - 1], '\0');
        }
    }
}

TEST(IniFile, WriteLeavesNoTemporaryFiles) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(iniWriteString("clean.ini", "S", ("k" + std::to_string(i)).c_str(), "v"));
    }
    for (const auto& entry : fs::directory_iterator(platform::windowsFolder())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "clean.ini" || name == ".clean.ini.lock") << name;
    }
    EXPECT_EQ(iniReadSection("clean.ini", "S").size(), 5u);
}

TEST(IniFile, FailsWhereTheFolderIsMissing) {
    std::string path = (platform::homeFolder() / "no" / "such" / "folder.ini").string();
    EXPECT_FALSE(iniWriteString(path, "S", "k", "v"));
    EXPECT_EQ(readString(path, "S", "k", "d"), "d");
}

// Each writer adds its own keys to one file; a writer that read the file before
// another's rename and wrote after it would drop the other's keys.
VELMOOR_TEST_CHILD(ini_writer) {
    const std::string& who = args.at(0);
    for (int i = 0; i < 100; ++i) {
        std::string key = who + "_" + std::to_string(i);
        if (!iniWriteString("shared.ini", "Keys", key.c_str(), std::to_string(i).c_str())) {
            return 1;
        }
    }
    return 0;
}

TEST(IniFile, ConcurrentWritersLoseNothing) {
    auto first = velmoor::testing::ChildProcess::start("ini_writer", {"a"});
    auto second = velmoor::testing::ChildProcess::start("ini_writer", {"b"});
    // This process writes too, in a third section of the same file.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(iniWriteString("shared.ini", "Own", ("c_" + std::to_string(i)).c_str(), "x"));
    }
    EXPECT_EQ(first.wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(second.wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(iniReadSection("shared.ini", "Keys").size(), 200u);
    EXPECT_EQ(iniReadSection("shared.ini", "Own").size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(iniReadValue("shared.ini", "keys", "b_" + std::to_string(i)), std::to_string(i));
    }
}

TEST(IniFile, WholeFileWriteReadsBackAndRefusesBrokenText) {
    const std::string name = "whole.ini";
    const std::vector<platform::IniSection> sections = {
        {"First", {{"A", "1"}, {"Name", "\"quoted\""}}},
        {"Second#2", {{"Empty", ""}}},
    };
    ASSERT_TRUE(platform::iniWriteFile(name, sections));
    EXPECT_EQ(fileText(platform::windowsFolder() / name), "[First]\r\nA=1\r\nName=\"quoted\"\r\n\r\n[Second#2]\r\nEmpty=\r\n");
    auto back = platform::iniReadFile(name);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].name, "First");
    ASSERT_EQ(back[0].entries.size(), 2u);
    EXPECT_EQ(back[0].entries[1].value, "quoted");  // as iniReadValue reads it
    EXPECT_EQ(back[1].entries[0].key, "Empty");
    EXPECT_EQ(iniReadValue(name, "second#2", "empty"), std::optional<std::string>(""));

    // A line break in a value or '=' in a key would change the file's
    // structure: refused, and the file written before stays as it was.
    const std::string before = fileText(platform::windowsFolder() / name);
    EXPECT_FALSE(platform::iniWriteFile(name, {{"S", {{"K", "a\r\nB=2"}}}}));
    EXPECT_FALSE(platform::iniWriteFile(name, {{"S", {{"K=1", "v"}}}}));
    EXPECT_FALSE(platform::iniWriteFile(name, {{"", {}}}));
    EXPECT_EQ(fileText(platform::windowsFolder() / name), before);
    // A folder that cannot be written to reports the failure.
    EXPECT_FALSE(platform::iniWriteFile((platform::homeFolder() / "missing" / "x.ini").string(), sections));
}
