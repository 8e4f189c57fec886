// The TCP link's dial-up hooks over the dial-up library, with a fake nmcli.

#include "trennick/net/inet_connection.h"

#include "dialvo/testing/fake_nmcli.h"
#include "trennick/net/testing/link_station.h"

#include <gtest/gtest.h>

using namespace trennick;
using namespace nettest;

TEST(InetDialUp, DialsTheEntryAndCallsTheAddressItGave) {
    fakenm::install();
    fakenm::addConnection("isp", {{"connection.type", "gsm"},
                                  {"connection.uuid", "u1"},
                                  {"gsm.username", ""},
                                  {"gsm.password", ""},
                                  {"IP4.GATEWAY", "127.0.0.1"}});
    const WORD port = freePort();
    Station listener(true, port);
    ASSERT_TRUE(listener.open());

    RecordingWindow window;
    CInetConnection caller(servicesFor(&window), InetOptions{"", std::to_string(port), nullptr});
    CommsSettingsRecord comms{};
    comms.UseDialUp = 1;
    comms.UseServerIp = 1;
    std::snprintf(comms.PhoneBookName, sizeof comms.PhoneBookName, "%s", "isp");
    caller.SetCommsSettings(&comms);
    ASSERT_TRUE(caller.ConnectToLan());
    ASSERT_EQ(caller.LinkDialUp(), 1);
    EXPECT_TRUE(caller.IsDialUpLinked());

    caller.ConnectToRemote("typed.example:1", "remote");
    EXPECT_TRUE(fakenm::isActive("isp"));
    EXPECT_EQ(caller.GetCallHost(), "127.0.0.1");
    EXPECT_EQ(caller.GetCallPort(), port);
    ASSERT_TRUE(listener.runUntil([&] {
        caller.TimeToRead();
        return listener.callsUp == 1;
    }));
    EXPECT_EQ(caller.HangUpDialUp(), 1);
    EXPECT_FALSE(fakenm::isActive("isp"));
}

TEST(InetDialUp, FailedDialPlacesNoCall) {
    fakenm::install();
    fakenm::addConnection("isp", {{"connection.type", "gsm"}, {"connection.uuid", "u1"}});
    std::ofstream(fakenm::stateDir() / "fail_up") << "1";
    RecordingWindow window;
    CInetConnection caller(servicesFor(&window));
    CommsSettingsRecord comms{};
    comms.UseDialUp = 1;
    std::snprintf(comms.PhoneBookName, sizeof comms.PhoneBookName, "%s", "isp");
    caller.SetCommsSettings(&comms);
    ASSERT_EQ(caller.LinkDialUp(), 1);
    caller.ConnectToRemote("127.0.0.1:9", "");
    EXPECT_TRUE(caller.IsLinkDown()) << "a failed dial must not leave the link connecting";
    EXPECT_GE(caller.TimeToRead(), 0);
    EXPECT_TRUE(caller.IsLinkDown());
}

TEST(InetDialUp, EntriesAreAddedOnceAndParametersKept) {
    fakenm::install();
    for (const char* name : {"Work", "Work VPN", "home"}) {
        fakenm::addConnection(name, {{"connection.type", "pppoe"},
                                     {"connection.uuid", name},
                                     {"pppoe.username", ""},
                                     {"pppoe.password", ""}});
    }
    RecordingWindow window;
    CInetConnection link(servicesFor(&window));
    ASSERT_EQ(link.LinkDialUp(), 1);
    std::vector<std::string> names = {"HOME", "Work VPN"};
    ASSERT_EQ(link.FillDialUpEntries(names), 1);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"HOME", "Work", "Work VPN"}));

    const std::string longUser(300, 'u');
    ASSERT_EQ(link.SetDialUpEntryParams("Work", longUser.c_str(), "pw"), 1);
    std::string user;
    std::string password;
    ASSERT_EQ(link.GetDialUpEntryParams("Work", user, password), 1);
    EXPECT_EQ(user, std::string(255, 'u'));
    EXPECT_EQ(password, "pw");
}

TEST(InetDialUp, WithoutTheServiceTheHooksFail) {
    fakenm::removeFromPath();
    RecordingWindow window;
    CInetConnection link(servicesFor(&window));
    EXPECT_EQ(link.LinkDialUp(), 0);
    EXPECT_FALSE(link.IsDialUpLinked());
    std::vector<std::string> names;
    EXPECT_EQ(link.FillDialUpEntries(names), 0);
    EXPECT_EQ(link.CreateDialUpEntry(), 0);
    EXPECT_EQ(link.HangUpDialUp(), 0);
}
