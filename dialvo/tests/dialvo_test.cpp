#include "dialvo/dialvo.h"

#include "dialvo/testing/fake_nmcli.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string lastError() {
    char text[256] = "unchanged";
    EXPECT_EQ(DialvoGetErrorString(text, sizeof text), ZO_RDAS_OK);
    return text;
}

void addGsm(const std::string& name, const std::string& gateway = "10.64.0.1") {
    fakenm::addConnection(name, {{"connection.type", "gsm"},
                                 {"connection.uuid", "uuid-" + name},
                                 {"gsm.username", ""},
                                 {"gsm.password", ""},
                                 {"IP4.GATEWAY", gateway}});
}

}  // namespace

TEST(Dialvo, WithoutNmcliEveryFunctionIsUnsupported) {
    fakenm::removeFromPath();
    EXPECT_EQ(DialvoLink(), ZO_RDAS_NO_LIBRARY);
    EXPECT_EQ(lastError(), "Can't Load Library");
    EXPECT_EQ(lastError(), "") << "the text is emptied once read";

    char address[64];
    uint32_t count = 0;
    _Dialvo_Dial_Params params{};
    _ZoRsd_Entry_Name names[2];
    const struct {
        const char* name;
        Zo_Rdas_Ret_Enum result;
    } calls[] = {
        {"Connect", DialvoConnect("isp", 0)},
        {"ConnectAndGetAddress", DialvoConnectAndGetAddress("isp", address, sizeof address, 0)},
        {"HangUp", DialvoHangUp()},
        {"EnumEntries", DialvoEnumEntries(names, sizeof names, &count)},
        {"GetEntryDialParam", DialvoGetEntryDialParam("isp", &params)},
        {"SetEntryDialParam", DialvoSetEntryDialParam("isp", &params)},
        {"WizardCreateEntry", DialvoWizardCreateEntry()},
        {"EditEntry", DialvoEditEntry("isp")},
        {"DeleteEntry", DialvoDeleteEntry("isp")},
        {"RenameEntry", DialvoRenameEntry("isp", "other")},
        {"GetServerIp", DialvoGetServerIp("isp", address, sizeof address)},
        {"GetEntryProperties", DialvoGetEntryProperties("isp", address, sizeof address)},
        {"SetEntryProperties", DialvoSetEntryProperties("isp", "gsm.apn:x")},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result, ZO_RDAS_NO_FUNCTION);
    }
    EXPECT_EQ(lastError(), "Function Not supported ");
    EXPECT_EQ(DialvoUnLink(), ZO_RDAS_OK);
}

TEST(Dialvo, EnumeratesEntriesIntoTheRoomGiven) {
    fakenm::install();
    addGsm("Mobile");
    addGsm("Office:VPN");
    addGsm("Home");
    ASSERT_EQ(DialvoLink(), ZO_RDAS_OK);
    uint32_t count = 0;
    ASSERT_EQ(DialvoEnumEntries(nullptr, 0, &count), ZO_RDAS_OK);
    EXPECT_EQ(count, 3u);
    _ZoRsd_Entry_Name names[2];
    ASSERT_EQ(DialvoEnumEntries(names, sizeof names, &count), ZO_RDAS_OK);
    EXPECT_EQ(count, 2u);
    _ZoRsd_Entry_Name all[3];
    ASSERT_EQ(DialvoEnumEntries(all, sizeof all, &count), ZO_RDAS_OK);
    ASSERT_EQ(count, 3u);
    std::vector<std::string> listed;
    for (const auto& n : all) listed.emplace_back(n.szEntryName);
    EXPECT_NE(std::find(listed.begin(), listed.end(), "Office:VPN"), listed.end()) << "escaped colon";
}

TEST(Dialvo, DialsADisconnectedEntryOnlyAndHangsUpWhatItDialled) {
    fakenm::install();
    addGsm("isp", "10.64.0.1");
    addGsm("lan");
    fakenm::setActive("lan", "activated");
    ASSERT_EQ(DialvoLink(), ZO_RDAS_OK);

    // Connected already: nothing is dialled, and hanging up leaves it alone.
    EXPECT_EQ(DialvoConnect("LAN", 0), ZO_RDAS_OK);
    EXPECT_EQ(fakenm::calls("connection up"), 0);
    EXPECT_EQ(DialvoHangUp(), ZO_RDAS_OK);
    EXPECT_EQ(fakenm::calls("connection down"), 0);
    EXPECT_TRUE(fakenm::isActive("lan"));

    char address[64] = "stale";
    EXPECT_EQ(DialvoGetServerIp("isp", address, sizeof address), ZO_RDAS_FAILED);
    EXPECT_EQ(lastError(), "The line is disconnected");

    ASSERT_EQ(DialvoConnectAndGetAddress("isp", address, sizeof address, 0), ZO_RDAS_OK);
    EXPECT_STREQ(address, "10.64.0.1");
    EXPECT_EQ(fakenm::calls("connection up"), 1);
    char small[5];
    ASSERT_EQ(DialvoGetServerIp("isp", small, sizeof small), ZO_RDAS_OK);
    EXPECT_STREQ(small, "10.6");

    EXPECT_EQ(DialvoHangUp(), ZO_RDAS_OK);
    EXPECT_FALSE(fakenm::isActive("isp"));
    EXPECT_EQ(DialvoHangUp(), ZO_RDAS_OK);
    EXPECT_EQ(fakenm::calls("connection down"), 1);
}

TEST(Dialvo, DialFailuresGiveTheirTexts) {
    fakenm::install();
    addGsm("isp");
    ASSERT_EQ(DialvoLink(), ZO_RDAS_OK);
    EXPECT_EQ(DialvoConnect("nowhere", 0), ZO_RDAS_FAILED);
    EXPECT_EQ(lastError(), "One or more of the parameters are incorrect.");
    std::ofstream(fakenm::stateDir() / "fail_up") << "1";
    char address[32] = "stale";
    EXPECT_EQ(DialvoConnectAndGetAddress("isp", address, sizeof address, 1), ZO_RDAS_FAILED);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(lastError(), "There is a problem with the dial-up connection.");
    EXPECT_EQ(DialvoConnect(nullptr, 0), ZO_RDAS_FAILED);
    EXPECT_EQ(DialvoConnect(std::string(300, 'x').c_str(), 0), ZO_RDAS_FAILED);
}

TEST(Dialvo, DialParametersRoundTripWhereTheEntryHasThem) {
    fakenm::install();
    addGsm("isp");
    fakenm::addConnection("wired", {{"connection.type", "802-3-ethernet"}, {"connection.uuid", "u-w"}});
    ASSERT_EQ(DialvoLink(), ZO_RDAS_OK);
    _Dialvo_Dial_Params params{};
    std::snprintf(params.szUserName, sizeof params.szUserName, "%s", "alice");
    std::snprintf(params.szPassword, sizeof params.szPassword, "%s", "s3cret");
    ASSERT_EQ(DialvoSetEntryDialParam("isp", &params), ZO_RDAS_OK);
    _Dialvo_Dial_Params read{};
    ASSERT_EQ(DialvoGetEntryDialParam("isp", &read), ZO_RDAS_OK);
    EXPECT_STREQ(read.szUserName, "alice");
    EXPECT_STREQ(read.szPassword, "s3cret");
    EXPECT_STREQ(read.szDomain, "gsm");

    EXPECT_EQ(DialvoSetEntryDialParam("wired", &params), ZO_RDAS_FAILED);
    ASSERT_EQ(DialvoGetEntryDialParam("wired", &read), ZO_RDAS_OK);
    EXPECT_STREQ(read.szUserName, "");
    EXPECT_EQ(DialvoGetEntryDialParam("missing", &read), ZO_RDAS_FAILED);
    EXPECT_EQ(lastError(), "Error: missing - no such connection profile.");
}

TEST(Dialvo, RenamesAndDeletesEntries) {
    fakenm::install();
    addGsm("old");
    ASSERT_EQ(DialvoLink(), ZO_RDAS_OK);
    ASSERT_EQ(DialvoRenameEntry("old", "new"), ZO_RDAS_OK);
    uint32_t count = 0;
    _ZoRsd_Entry_Name names[1];
    ASSERT_EQ(DialvoEnumEntries(names, sizeof names, &count), ZO_RDAS_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(names[0].szEntryName, "new");
    char properties[512] = {};
    ASSERT_EQ(DialvoGetEntryProperties("new", properties, sizeof properties), ZO_RDAS_OK);
    EXPECT_NE(std::string(properties).find("connection.type:gsm"), std::string::npos);
    ASSERT_EQ(DialvoSetEntryProperties("new", "gsm.username:bob\n"), ZO_RDAS_OK);
    EXPECT_EQ(DialvoSetEntryProperties("new", "no colon here"), ZO_RDAS_FAILED);
    ASSERT_EQ(DialvoDeleteEntry("new"), ZO_RDAS_OK);
    ASSERT_EQ(DialvoEnumEntries(nullptr, 0, &count), ZO_RDAS_OK);
    EXPECT_EQ(count, 0u);
}
