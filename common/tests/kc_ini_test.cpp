#include "common/kc_ini.h"

#include "platform/folders.h"
#include "platform/ini_file.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* kFile = "kcini.ini";

void setRaw(const char* key, const char* value) {
    ASSERT_TRUE(platform::iniWriteString(kFile, "Test", key, value));
}

std::string raw(const char* key) {
    return platform::iniReadValue(kFile, "Test", key).value_or("<missing>");
}

}  // namespace

TEST(CKcIni, NumbersFromText) {
    struct Case {
        const char* text;  // nullptr: key missing
        int def;
        int intValue, intResult;
        int hexValue, hexResult;
    };
    const Case cases[] = {
        {"42", 7, 42, 42, 0x42, 0x42},
        {"-12abc", 7, -12, -12, 0, 0},         // atol stops at the first non-digit; '-' ends hex
        {"  99", 7, 99, 99, 0x99, 0x99},       // blanks around values are not part of them
        {"1f", 7, 1, 1, 31, 31},
        {"0x1F", 7, 0, 0, 0, 0},               // no prefix is understood
        {"12G4", 7, 12, 12, 18, 18},
        {"ff", 7, 0, 0, 255, 255},
        {"FFFFFFFF", 7, 0, 0, -1, -1},
        {"99999999999", 7, 2147483647, 2147483647, -1717986919, -1717986919},  // hex keeps low 32 bits
        {"", 7, 7, 0, 7, 0},                   // empty: the default, result 0
        {nullptr, 7, 7, 0, 7, 0},              // missing: the default, result 0
    };
    CKcIni ini(kFile, "Test");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        setRaw("n", c.text);
        int value = 12345;
        EXPECT_EQ(ini.GetInt("n", &value, c.def), c.intResult);
        EXPECT_EQ(value, c.intValue);
        value = 12345;
        EXPECT_EQ(ini.GetHex("n", &value, c.def), c.hexResult);
        EXPECT_EQ(value, c.hexValue);
    }
}

TEST(CKcIni, BooleanForms) {
    struct Case {
        const char* text;
        int def;
        int value;
        int result;
    };
    const Case cases[] = {
        {"TRUE", 0, 1, 1}, {"yes", 0, 1, 1},  {"1", 0, 1, 1},   {"Yes", 0, 1, 1},
        {"false", 1, 0, 0}, {"NO", 1, 0, 0},  {"0", 1, 0, 0},
        {"Off", 1, 1, 1},   {"Off", 0, 0, 0}, {"2", 5, 5, 5},  // none of the forms: default kept
        {"", 1, 1, 0},      {nullptr, 1, 1, 0},
    };
    CKcIni ini(kFile, "Test");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        setRaw("b", c.text);
        int value = -1;
        EXPECT_EQ(ini.GetBool("b", &value, c.def), c.result);
        EXPECT_EQ(value, c.value);
    }
}

TEST(CKcIni, WritesTheirForms) {
    CKcIni ini(kFile, "Test");
    EXPECT_TRUE(ini.WriteHex("h", 255));
    EXPECT_EQ(raw("h"), "FF");
    EXPECT_TRUE(ini.WriteHex("h", -1));
    EXPECT_EQ(raw("h"), "FFFFFFFF");
    EXPECT_TRUE(ini.WriteInt("i", -17));
    EXPECT_EQ(raw("i"), "-17");
    EXPECT_TRUE(ini.WriteBool("b", 1));
    EXPECT_EQ(raw("b"), "Yes");
    int value = 0;
    EXPECT_EQ(ini.GetBool("b", &value, 0), 1);
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(ini.WriteBool("b", 0));
    EXPECT_EQ(raw("b"), "No");
    EXPECT_TRUE(ini.WriteBool("b", -5));
    EXPECT_EQ(raw("b"), "Yes");
}

TEST(CKcIni, CharAndString) {
    CKcIni ini(kFile, "Test");
    setRaw("c", "xyz");
    char c = '?';
    EXPECT_EQ(ini.GetChar("c", &c, 'd'), 'x');
    EXPECT_EQ(c, 'x');
    setRaw("c", "");
    EXPECT_EQ(ini.GetChar("c", &c, 'd'), 0);
    EXPECT_EQ(c, 'd');

    setRaw("s", "abcdef");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ini.GetString("s", buffer, 4, "default"), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');  // never past size
    EXPECT_EQ(ini.GetString("missing", buffer, 8, nullptr), 0);
    EXPECT_STREQ(buffer, "");
    // A default longer than the buffer is cut, never written past it.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ini.GetString("missing", buffer, 5, "0123456789"), 4);
    EXPECT_STREQ(buffer, "0123");
    EXPECT_EQ(buffer[5], '#');
    // The default may be the buffer itself (callers use the key text as its own default).
    std::strcpy(buffer, "Self");
    EXPECT_EQ(ini.GetString("missing", buffer, 8, buffer), 4);
    EXPECT_STREQ(buffer, "Self");
    EXPECT_EQ(ini.GetString("s", buffer, 0, "x"), 0);
}

TEST(CKcIni, ReadWriteLeavesTheDefaultInTheFile) {
    CKcIni ini(kFile, "Test");
    int value = 0;
    EXPECT_EQ(ini.ReadWriteInt("ri", &value, 30), 0);
    EXPECT_EQ(value, 30);
    EXPECT_EQ(raw("ri"), "30");
    EXPECT_EQ(ini.ReadWriteHex("rh", &value, 255), 0);
    EXPECT_EQ(raw("rh"), "FF");
    EXPECT_EQ(ini.ReadWriteBool("rb", &value, 1), 0);
    EXPECT_EQ(raw("rb"), "Yes");
    setRaw("rb2", "true");
    EXPECT_EQ(ini.ReadWriteBool("rb2", &value, 0), 1);
    EXPECT_EQ(raw("rb2"), "Yes");  // booleans are always written back as Yes or No
    char buffer[16];
    EXPECT_EQ(ini.ReadWriteString("rs", buffer, sizeof buffer, "Station"), 7);
    EXPECT_EQ(raw("rs"), "Station");
    setRaw("rs", "Existing");
    EXPECT_EQ(ini.ReadWriteString("rs", buffer, sizeof buffer, "Station"), 8);
    EXPECT_EQ(raw("rs"), "Existing");
    // A second run reads what the first wrote.
    EXPECT_EQ(ini.ReadWriteInt("ri", &value, 99), 30);
    EXPECT_EQ(value, 30);
}

TEST(CKcIni, DeletesKeysSectionsAndTheFile) {
    CKcIni ini(kFile, "Test");
    ASSERT_TRUE(ini.WriteString("a", "1"));
    ASSERT_TRUE(ini.WriteString("b", "2"));
    ini.SetSection("Other");
    ASSERT_TRUE(ini.WriteString("o", "x"));
    ini.SetSection("Test");

    EXPECT_TRUE(ini.WriteString("a", nullptr));
    EXPECT_EQ(raw("a"), "<missing>");
    EXPECT_FALSE(ini.DeleteKey(nullptr));  // must not take the section with it
    EXPECT_EQ(raw("b"), "2");
    EXPECT_TRUE(ini.DeleteKey("b"));
    EXPECT_EQ(raw("b"), "<missing>");
    ASSERT_TRUE(ini.WriteString("c", "3"));
    EXPECT_GT(ini.HasSection("Test"), 0);
    EXPECT_TRUE(ini.DeleteSection());
    EXPECT_EQ(ini.HasSection("Test"), 0);
    EXPECT_EQ(ini.HasSection("other"), 4);  // "o=x" and its terminator

    fs::path path = platform::windowsFolder() / kFile;
    ASSERT_TRUE(fs::exists(path));
    fs::permissions(path, fs::perms::owner_read);  // read-only is still deletable
    EXPECT_TRUE(ini.Flush());
    EXPECT_TRUE(ini.DeleteFile());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(ini.DeleteFile());  // nothing left to delete
}

TEST(CKcIni, HasSectionCountsWhatFits) {
    CKcIni ini(kFile, "Empty");
    std::ofstream(platform::windowsFolder() / kFile) << "[Empty]\n[Big]\n";
    EXPECT_EQ(ini.HasSection("Empty"), 0);
    EXPECT_EQ(ini.HasSection("Missing"), 0);
    ini.SetSection("Big");
    ASSERT_TRUE(ini.WriteString("k", std::string(300, 'v').c_str()));
    EXPECT_EQ(ini.HasSection("Big"), 254);  // a 256-byte list, cut
}

TEST(CKcIni, FileNameIsBounded) {
    std::string longName(400, 'n');
    CKcIni ini(longName.c_str(), "S");
    char buffer[MAX_PATH + 8];
    std::memset(buffer, '#', sizeof buffer);
    ini.GetFileName(buffer);
    EXPECT_EQ(std::strlen(buffer), MAX_PATH - 1);
    EXPECT_EQ(buffer[MAX_PATH], '#');

    CKcIni other("Quennel.ini", "Version");
    other.GetFileName(buffer);
    EXPECT_STREQ(buffer, "Quennel.ini");
    other.SetSection("Last Access");
    other.GetFileName(buffer);
    EXPECT_STREQ(buffer, "Quennel.ini");  // SetSection keeps the file
    ASSERT_TRUE(other.WriteString("k", "v"));
    EXPECT_EQ(platform::iniReadValue("Quennel.ini", "Last Access", "k"), std::optional<std::string>("v"));
}
