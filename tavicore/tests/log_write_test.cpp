#include "tavicore/log_write.h"

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The entry lines of a log (121 characters), split into their fields.
std::vector<std::vector<std::string>> entries(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::vector<std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() != 121) continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (int i = 0; i < 7; ++i) {
            std::size_t comma = line.find(',', start);
            fields.push_back(line.substr(start, comma - start));
            start = comma + 1;
        }
        std::string info = line.substr(start);
        info.erase(info.find_last_not_of(' ') + 1);
        fields.push_back(info);
        out.push_back(fields);
    }
    return out;
}

std::vector<std::string> headerLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (lines.size() < 8 && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class LogWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        folder = (platform::homeFolder() / "logs").string();
        fs::create_directories(folder);
    }
    void TearDown() override { CoUninitialize(); }
    std::string folder;
};

}  // namespace

TEST(CLogWriteUnregistered, EntriesFailQuietly) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_zo_LogWrite, nullptr, CLSCTX_INPROC_SERVER, IID_Izo_LogWrite, &object),
              REGDB_E_CLASSNOTREG);
    const std::string folder = platform::homeFolder().string();
    CLogWrite log(folder.c_str(), "VelmoorA.log", "Recorder");
    EXPECT_EQ(log.AddEntryEx(nullptr, LOGEVENTID_CONNECT, 0, "anna", 0, "x"), 1);
    EXPECT_FALSE(fs::exists(platform::homeFolder() / "VelmoorA.log"));
    CoUninitialize();
}

TEST_F(LogWriteTest, EveryEntryGoesToTheLogAndItsBackup) {
    CLogWrite log((folder + "/").c_str(), "VelmoorA.log", "Recorder");
    char text[260];
    log.GetLogFileName(text);
    EXPECT_STREQ(text, "VelmoorA.log");
    log.GetLogWorkingDir(text);
    EXPECT_EQ(std::string(text), folder + "/");
    char computer[260];
    ASSERT_EQ(log.GetComputerID(computer), 1);

    EXPECT_EQ(log.AddEntryEx("", LOGEVENTID_USER_LOGIN, 1, "anna", 5, "logged in"), 1);
    EXPECT_EQ(log.AddEntryEx(nullptr, LOGEVENTID_DIAL_REASON, 0, std::string(31, 'u').c_str(), 0,
                             std::string(40, 'i').c_str()), 1);
    EXPECT_EQ(log.AddEntryEx(nullptr, LOGEVENTID_MAX_EVENTID, 0, "anna", 0, "refused"), 1);

    // No doubled separator after a folder that ends with one.
    const std::string current = folder + "/VelmoorA.log";
    const std::string backup = folder + "/VelmoorB.log";
    for (const std::string& path : {current, backup}) {
        SCOPED_TRACE(path);
        auto header = headerLines(path);
        ASSERT_EQ(header.size(), 8u);
        EXPECT_EQ(header[2], "Activities Log");
        EXPECT_EQ(header[5], "300");  // MaxSize
        auto e = entries(path);
        ASSERT_EQ(e.size(), 2u);
        EXPECT_EQ(e[0][1], "43");
        EXPECT_EQ(e[0][4], "1");  // status 5 is logged as 1
        EXPECT_EQ(e[0][5], "1");
        EXPECT_EQ(e[0][6], ("\\" + std::string(computer) + "\\Recorder\\anna").substr(0, 30));
        EXPECT_EQ(e[0][7], "logged in");
        EXPECT_EQ(e[1][1], "46");
        EXPECT_EQ(e[1][6], std::string(30, 'u'));  // no prefix
        EXPECT_EQ(e[1][7], std::string(30, 'i'));
    }
}

TEST_F(LogWriteTest, SettingsAreStoredAndUsed) {
    {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\Common\\Log",
                                                platform::KEY_ALL_ACCESS, key),
                  ERROR_SUCCESS);
        DWORD size = 7;
        ASSERT_EQ(key.setValue("MaxSize", platform::REG_DWORD, reinterpret_cast<const BYTE*>(&size), 4),
                  ERROR_SUCCESS);
    }
    CLogWrite log(folder.c_str(), "Main.log", "Src");
    log.AddEntryEx(nullptr, 1, 0, "u", 0, "i");
    EXPECT_EQ(headerLines(folder + "/Main.log")[5], "7");
    EXPECT_TRUE(fs::exists(folder + "/VelmoorB.log"));
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::open(platform::HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor\\Common\\Log",
                                          platform::KEY_READ, key),
              ERROR_SUCCESS);
    platform::RegistryValue value;
    ASSERT_EQ(key.readValue("BackUpLogName", value), ERROR_SUCCESS);
    EXPECT_EQ(std::string(value.data.begin(), value.data.end()).substr(0, 12), "VelmoorB.log");
}

// A process of the recorder: its own log client, entries into one log that
// may not exist yet.
VELMOOR_TEST_CHILD(log_client) {
    if (args.size() != 3 || CoInitialize(nullptr) != S_OK) return 2;
    {
        CLogWrite log(args[0].c_str(), "Shared.log", ("P" + args[1]).c_str());
        const int count = std::stoi(args[2]);
        for (int i = 0; i < count; ++i) {
            log.AddEntryEx(nullptr, LOGEVENTID_CONNECT, 0, "u", 0, (args[1] + " " + std::to_string(i)).c_str());
        }
    }
    CoUninitialize();
    return 0;
}

TEST_F(LogWriteTest, ProcessesThatFindTheLogMissingNeverEmptyEachOther) {
    std::vector<velmoor::testing::ChildProcess> children;
    for (int p = 0; p < 4; ++p) {
        children.push_back(velmoor::testing::ChildProcess::start("log_client", {folder, std::to_string(p), "150"}));
    }
    for (auto& child : children) {
        EXPECT_EQ(child.wait(std::chrono::seconds(90)), 0);
    }
    for (const char* name : {"/Shared.log", "/VelmoorB.log"}) {
        SCOPED_TRACE(name);
        std::set<std::string> seen;
        for (const auto& e : entries(folder + name)) {
            seen.insert(e[7]);
        }
        EXPECT_EQ(seen.size(), 600u);
    }
}
