#include "common/kc_reg.h"

#include "common/tests/trace_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr const char* kCompany = "Quennel";
constexpr const char* kProduct = "Velmoor";
constexpr const char* kVersion = "1.000.0";

// Whether the key exists with exactly this spelling, component by component.
bool keyExistsExactly(HKEY root, const std::string& path) {
    RegistryKey current;
    if (RegistryKey::open(root, "", KEY_READ, current) != ERROR_SUCCESS) {
        return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        bool found = false;
        std::string name;
        for (DWORD i = 0; current.enumSubKey(i, name) == ERROR_SUCCESS; ++i) {
            found = found || name == part;
        }
        if (!found || RegistryKey::open(current.handle(), part, KEY_READ, current) != ERROR_SUCCESS) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// The stored value, read straight from the registry.
bool stored(HKEY root, const std::string& path, const char* name, RegistryValue& value) {
    RegistryKey key;
    return RegistryKey::open(root, path, KEY_READ, key) == ERROR_SUCCESS &&
           key.readValue(name, value) == ERROR_SUCCESS;
}

void store(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.setValue(name, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

const std::string kGeneral = "Software\\Quennel\\Velmoor\\1.000.0\\General";

}  // namespace

TEST(CKcReg, KeyPathIsBuiltFromItsParts) {
    struct PathCase {
        const char* company;
        const char* product;
        const char* version;
        const char* section;
        HKEY root;
        std::string expected;
    };
    const PathCase cases[] = {
        // The product word carries the instance id directly behind it.
        {"Quennel", "Velmoor7", "1.000.0", "Comms\\NULLModem", HKEY_CURRENT_USER,
         "Software\\Quennel\\Velmoor7\\1.000.0\\Comms\\NULLModem"},
        {nullptr, nullptr, nullptr, "Section", HKEY_CURRENT_USER, "Software\\Halvorin\\Ostrel\\Section"},
        {"Quennel", "Velmoor", "Common", "Storage", HKEY_CURRENT_USER,
         "Software\\Quennel\\Velmoor\\Common\\Storage"},
        // An empty section is the product key itself.
        {"Quennel", "ZOH263DEC", nullptr, "", HKEY_LOCAL_MACHINE, "Software\\Quennel\\ZOH263DEC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        CKcReg reg(c.company, c.product, c.version, c.section, c.root);
        DWORD value = 5;
        ASSERT_TRUE(reg.SetDword(nullptr, "Probe", &value));
        EXPECT_TRUE(keyExistsExactly(c.root, c.expected));
        RegistryValue probe;
        ASSERT_TRUE(stored(c.root, c.expected, "Probe", probe));
        EXPECT_EQ(probe.type, REG_DWORD);
    }
    RegistryKey wrongRoot;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "Software\\Quennel\\ZOH263DEC", KEY_READ, wrongRoot),
              ERROR_FILE_NOT_FOUND);
}

TEST(CKcReg, SectionAndValueNamesKeep127Characters) {
    std::string longSection(200, 's');
    std::string longName(200, 'n');
    CKcReg reg(kCompany, kProduct, kVersion, longSection.c_str());
    reg.SetValueName(longName.c_str());
    ASSERT_TRUE(reg.Write(DWORD{9}));
    RegistryValue value;
    std::string path = "Software\\Quennel\\Velmoor\\1.000.0\\" + longSection.substr(0, 127);
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, path, longName.substr(0, 127).c_str(), value));
    EXPECT_EQ(value.data, (std::vector<BYTE>{9, 0, 0, 0}));
}

TEST(CKcReg, GetDwordDefaultWritesAMissingValue) {
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    DWORD value = 300;
    EXPECT_TRUE(reg.GetDwordDefault(nullptr, "MaxSize", &value));
    EXPECT_EQ(value, 300u);
    RegistryValue written;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "MaxSize", written));
    EXPECT_EQ(written.type, REG_DWORD);
    EXPECT_EQ(written.data, (std::vector<BYTE>{0x2C, 0x01, 0, 0}));

    // A second call reads the stored value, not its own default.
    value = 7;
    EXPECT_TRUE(reg.GetDwordDefault(nullptr, "MaxSize", &value));
    EXPECT_EQ(value, 300u);
}

TEST(CKcReg, ValueOfAnotherTypeFailsAndIsReplacedByTheDefault) {
    store(kGeneral, "Number", REG_SZ, "12", 3);
    store(kGeneral, "Text", REG_DWORD, "\x01\x02\x03\x04", 4);
    store(kGeneral, "Short", REG_DWORD, "\x01\x02", 2);
    CKcReg reg(kCompany, kProduct, kVersion, "General");

    DWORD number = 77;
    EXPECT_FALSE(reg.GetDword(nullptr, "Number", &number));
    EXPECT_EQ(number, 77u);
    EXPECT_FALSE(reg.GetDword(nullptr, "Short", &number));
    EXPECT_EQ(number, 77u);
    EXPECT_TRUE(reg.GetDwordDefault(nullptr, "Number", &number));
    EXPECT_EQ(number, 77u);
    RegistryValue value;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Number", value));
    EXPECT_EQ(value.type, REG_DWORD);
    EXPECT_EQ(value.data, (std::vector<BYTE>{77, 0, 0, 0}));

    char text[16] = "dflt";
    DWORD size = sizeof text;
    EXPECT_FALSE(reg.GetString(nullptr, "Text", text, &size));
    EXPECT_STREQ(text, "dflt");
    EXPECT_EQ(size, sizeof text);
    EXPECT_TRUE(reg.GetStringDefault(nullptr, "Text", text, &size));
    EXPECT_STREQ(text, "dflt");
    EXPECT_EQ(size, 5u);
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Text", value));
    EXPECT_EQ(value.type, REG_SZ);
    EXPECT_EQ(value.data, (std::vector<BYTE>{'d', 'f', 'l', 't', 0}));
}

TEST(CKcReg, StringSizesWrittenAndRead) {
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    ASSERT_TRUE(reg.SetString(nullptr, "Plain", "abc"));
    char text[8] = "abc";
    DWORD size = sizeof text;
    EXPECT_TRUE(reg.GetStringDefault(nullptr, "Defaulted", text, &size));
    EXPECT_EQ(size, 4u);

    RegistryValue value;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Plain", value));
    EXPECT_EQ(value.data.size(), 3u);
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Defaulted", value));
    EXPECT_EQ(value.data.size(), 4u);

    // Both read back as the same text.
    for (const char* name : {"Plain", "Defaulted"}) {
        SCOPED_TRACE(name);
        char out[8];
        std::memset(out, 'x', sizeof out);
        size = sizeof out;
        ASSERT_TRUE(reg.GetString(nullptr, name, out, &size));
        EXPECT_STREQ(out, "abc");
        EXPECT_EQ(size, 4u);
    }
}

TEST(CKcReg, TextReadStaysInsideTheBufferAndIsTerminated) {
    struct ReadCase {
        const char* what;
        std::string stored;  // bytes as stored
        std::string expected;
    };
    const std::string longText(300, 'L');
    const ReadCase cases[] = {
        {"empty", "", ""},
        {"short", "hello", "hello"},
        {"short with terminator", std::string("hello\0", 6), "hello"},
        {"fills the room", "123456789", "123456789"},
        {"one too long", "1234567890", "123456789"},
        {"one too long with terminator", std::string("1234567890\0", 11), "123456789"},
        {"much too long", longText, longText.substr(0, 9)},
        {"terminator inside", std::string("ab\0cd", 5), "ab"},
    };
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        store(kGeneral, "Text", REG_SZ, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        char room[10 + 6];
        std::memset(room, '#', sizeof room);
        DWORD size = 10;
        ASSERT_TRUE(reg.GetString(nullptr, "Text", room, &size));
        EXPECT_STREQ(room, c.expected.c_str());
        EXPECT_EQ(size, c.expected.size() + 1);
        EXPECT_EQ(std::string(room + 10, 6), "######") << "wrote past the buffer";

        // The read with a default takes the cut text and leaves the stored one alone.
        std::memset(room, '#', sizeof room);
        std::strcpy(room, "dflt");
        size = 10;
        ASSERT_TRUE(reg.GetStringDefault(nullptr, "Text", room, &size));
        EXPECT_STREQ(room, c.expected.c_str());
        EXPECT_EQ(std::string(room + 10, 6), "######");
        RegistryValue value;
        ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Text", value));
        EXPECT_EQ(std::string(value.data.begin(), value.data.end()), c.stored);
    }

    // A room of one byte holds only the terminator; no room at all is refused.
    char one = 'x';
    DWORD size = 1;
    EXPECT_TRUE(reg.GetString(nullptr, "Text", &one, &size));
    EXPECT_EQ(one, '\0');
    size = 0;
    EXPECT_FALSE(reg.GetString(nullptr, "Text", &one, &size));
    EXPECT_FALSE(reg.GetStringDefault(nullptr, "Text", &one, &size));
}

TEST(CKcReg, StringDefaultIsCutToTheRoom) {
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    char room[6 + 4];
    std::memcpy(room, "abcdefghi", 10);  // a default not terminated inside the room of 6
    DWORD size = 6;
    ASSERT_TRUE(reg.GetStringDefault(nullptr, "Missing", room, &size));
    EXPECT_STREQ(room, "abcde");
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::string(room + 6, 3), "ghi");
    RegistryValue value;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Missing", value));
    EXPECT_EQ(std::string(value.data.begin(), value.data.end()), std::string("abcde\0", 6));
}

TEST(CKcReg, BinaryReadsAndDefaults) {
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    const BYTE position[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(reg.SetBinary(nullptr, "Position", position, sizeof position));

    BYTE out[12] = {};
    DWORD size = sizeof out;
    ASSERT_TRUE(reg.GetBinary(nullptr, "Position", out, &size));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::memcmp(out, position, 8), 0);

    // Too little room: the read fails and leaves the buffer alone.
    BYTE small[4] = {9, 9, 9, 9};
    size = sizeof small;
    EXPECT_FALSE(reg.GetBinary(nullptr, "Position", small, &size));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(small[0], 9);

    // Missing: the default is written with the size given on entry.
    BYTE record[44];
    for (BYTE i = 0; i < sizeof record; ++i) {
        record[i] = i;
    }
    size = sizeof record;
    ASSERT_TRUE(reg.GetBinaryDefault(nullptr, "Debrief Profiles", record, &size));
    EXPECT_EQ(size, 44u);
    RegistryValue value;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Debrief Profiles", value));
    EXPECT_EQ(value.type, REG_BINARY);
    EXPECT_EQ(value.data, std::vector<BYTE>(record, record + 44));

    // Of another type: replaced by the default.
    store(kGeneral, "Blob", REG_SZ, "text", 4);
    size = 4;
    BYTE fallback[4] = {4, 3, 2, 1};
    ASSERT_TRUE(reg.GetBinaryDefault(nullptr, "Blob", fallback, &size));
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, kGeneral, "Blob", value));
    EXPECT_EQ(value.type, REG_BINARY);
    EXPECT_EQ(value.data, (std::vector<BYTE>{4, 3, 2, 1}));
}

TEST(CKcReg, MissingKeyFailsReadsAndWritesCreateIt) {
    CKcReg reg(kCompany, kProduct, kVersion, "Nowhere");
    DWORD number = 3;
    EXPECT_FALSE(reg.GetDword(nullptr, "Value", &number));
    char text[8] = "keep";
    DWORD size = sizeof text;
    EXPECT_FALSE(reg.GetString(nullptr, "Value", text, &size));
    EXPECT_STREQ(text, "keep");
    RegistryKey key;
    EXPECT_EQ(RegistryKey::open(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\1.000.0\\Nowhere",
                                KEY_READ, key),
              ERROR_FILE_NOT_FOUND)
        << "a read must not create the key";

    // An explicit section goes past the current one.
    EXPECT_TRUE(reg.SetDword("Elsewhere\\Deeper", "Value", &number));
    RegistryValue value;
    EXPECT_TRUE(stored(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\1.000.0\\Elsewhere\\Deeper",
                       "Value", value));
}

TEST(CKcReg, SectionKeyDeletedUnderItIsLookedUpAgain) {
    // The object keeps its section's key open between calls; a key deleted
    // meanwhile (here, as by another program) reads as missing and a write
    // makes it again, never a write into the deleted key.
    CKcReg reg(kCompany, kProduct, kVersion, "Kept");
    DWORD number = 7;
    ASSERT_TRUE(reg.SetDword(nullptr, "Value", &number));
    ASSERT_TRUE(reg.GetDword(nullptr, "Value", &number));
    ASSERT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\1.000.0\\Kept"), ERROR_SUCCESS);
    EXPECT_FALSE(reg.GetDword(nullptr, "Value", &number));
    DWORD fallback = 9;
    EXPECT_TRUE(reg.GetDwordDefault(nullptr, "Value", &fallback));
    RegistryValue value;
    ASSERT_TRUE(stored(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\1.000.0\\Kept", "Value", value));
    EXPECT_EQ(value.data, (std::vector<BYTE>{9, 0, 0, 0}));
    // Another section of the same object has its own key.
    EXPECT_TRUE(reg.SetDword("Other", "Value", &number));
    EXPECT_TRUE(reg.GetDword(nullptr, "Value", &number));
    EXPECT_EQ(number, 9u);
}

TEST(CKcReg, CurrentValueOperations) {
    CKcReg reg(kCompany, kProduct, kVersion, "Video");
    reg.SetValueName("NoVideoText");
    reg.SetDefault("NO VIDEO").SetDefault(DWORD{12});

    // Reads of a missing value give the defaults and write nothing.
    EXPECT_STREQ(reg.ReadString(), "NO VIDEO");
    EXPECT_EQ(reg.ReadDword(), 12u);
    RegistryValue value;
    EXPECT_FALSE(stored(HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\1.000.0\\Video",
                        "NoVideoText", value));

    EXPECT_TRUE(reg.Write("Camera lost"));
    EXPECT_STREQ(reg.ReadString(), "Camera lost");
    std::string copy = reg;
    EXPECT_EQ(copy, "Camera lost");
    // A text where a number is expected: the default number.
    EXPECT_EQ(reg.ReadDword(), 12u);

    reg.SetSection("Comms");
    reg.SetValueName("IsSendSyncs");
    EXPECT_TRUE(reg.Write(1));
    int asInt = reg;
    EXPECT_EQ(asInt, 1);
    // A number where a text is expected: the default text.
    EXPECT_STREQ(reg.ReadString(), "NO VIDEO");

    // A default longer than 255 characters keeps 255.
    std::string longDefault(400, 'd');
    reg.SetValueName("Absent");
    reg.SetDefault(longDefault);
    EXPECT_EQ(std::string(reg.ReadString()), longDefault.substr(0, 255));

    // A stored text longer than the read buffer is cut to 255 characters.
    reg.SetValueName("Long");
    ASSERT_TRUE(reg.Write(std::string(300, 'x')));
    EXPECT_EQ(std::string(reg.ReadString()), std::string(255, 'x'));
}

TEST(CKcReg, NarrowNumbersAreExtendedByTheirType) {
    struct NumberCase {
        const char* what;
        BOOL (*write)(CKcReg&);
        DWORD stored;
    };
    const NumberCase cases[] = {
        {"short -2", [](CKcReg& r) { return r.Write(static_cast<short>(-2)); }, 0xFFFFFFFE},
        {"unsigned short", [](CKcReg& r) { return r.Write(static_cast<unsigned short>(65535)); }, 0xFFFF},
        {"signed char -1", [](CKcReg& r) { return r.Write(static_cast<signed char>(-1)); }, 0xFFFFFFFF},
        {"char -3", [](CKcReg& r) { return r.Write(static_cast<char>(-3)); }, 0xFFFFFFFD},
        {"unsigned char", [](CKcReg& r) { return r.Write(static_cast<unsigned char>(200)); }, 200},
        {"long keeps low bits", [](CKcReg& r) { return r.Write(0x100000005L); }, 5},
        {"int -1", [](CKcReg& r) { return r.Write(-1); }, 0xFFFFFFFF},
    };
    CKcReg reg(kCompany, kProduct, kVersion, "Numbers");
    reg.SetValueName("N");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.write(reg));
        EXPECT_EQ(reg.ReadDword(), c.stored);
    }

    reg.SetValueName("Missing");
    EXPECT_EQ(reg.SetDefault(static_cast<short>(-2)).ReadDword(), 0xFFFFFFFEu);
    EXPECT_EQ(reg.SetDefault(static_cast<unsigned char>(255)).ReadDword(), 255u);
    EXPECT_EQ(reg.SetDefault(static_cast<char>(-1)).ReadDword(), 0xFFFFFFFFu);

    reg.SetValueName("N");
    ASSERT_TRUE(reg.Write(-1));
    short asShort = reg;
    unsigned char asByte = reg;
    long asLong = reg;
    EXPECT_EQ(asShort, -1);
    EXPECT_EQ(asByte, 255);
    EXPECT_EQ(asLong, -1);
}

TEST(CKcReg, FailuresAreTracedAtLevelOne) {
    store(kGeneral, "Text", REG_SZ, "12", 3);
    ScopedTraceCapture capture;
    CKcReg reg(kCompany, kProduct, kVersion, "General");
    DWORD number = 0;
    char text[8] = "";
    DWORD size = sizeof text;
    const BYTE block[2] = {1, 2};

    EXPECT_FALSE(reg.GetDword("Missing", "Value", &number));
    EXPECT_FALSE(reg.GetDword(nullptr, "Absent", &number));
    EXPECT_FALSE(reg.GetDword(nullptr, "Text", &number));
    EXPECT_FALSE(reg.GetString(nullptr, "Absent", text, &size));
    EXPECT_FALSE(reg.SetBinary("\\bad", "Blob", block, 2));
    std::string hugeName(20000, 'n');
    EXPECT_FALSE(reg.SetDword(nullptr, hugeName.c_str(), &number));
    RegistryKey readOnly;
    ASSERT_EQ(RegistryKey::open(HKEY_CURRENT_USER, kGeneral, KEY_READ, readOnly), ERROR_SUCCESS);
    reg.SetRootKey(readOnly.handle());
    reg.SetSection("");
    EXPECT_FALSE(reg.SetBinary("", "Blob", block, 2)) << "a key opened for reading takes no value";

    // The texts of the system, each handed to the trace object as its own line.
    const std::vector<std::string> expected = {
        "RegOpen failed (2)\n",
        "RegQueryValueEx failed(2) Name=\"Absent\" VarType=00000000, VarSize=4\n",
        "RegQueryValueEx failed(0) Name=\"Text\" VarType=00000001, VarSize=3\n",
        "RegQueryValueEx failed(2) Name=\"Absent\" VarType=00000000, VarSize=8\n",
        "RegCreate failed (57)\n",
        "RegSetValueEx failed(57) Name=\"nnnnnnnn",  // the line is cut to 512 characters
    };
    std::vector<std::string> lines = capture->lines();
    ASSERT_GE(lines.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i]);
        EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
    }
    EXPECT_EQ(lines.back().rfind("RegCreate failed (5)\n", 0), 0u) << lines.back();
    EXPECT_EQ(lines[5].size(), 511u + 1u) << "511 characters of the cut text and the line end";
}
