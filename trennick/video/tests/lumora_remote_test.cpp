// The remote capture object turns input and output requests into remote-call
// texts for the site, and says whether the link sent them.

#include "tools/site/site_station.h"
#include "trennick/net/inet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/lumora_remote.h"

#include <gtest/gtest.h>

namespace {

using namespace trennick;

TEST(LumoraRemote, TextsAsTheSiteReadsThem) {
    // Numbers are right-aligned in two (or three) places and widen when larger.
    EXPECT_EQ(LumoraRpcText({" 1", " 5", "12"}), "< 1>< 5><12>");
    EXPECT_EQ(LumoraRpcText({std::string(200, 'x')}), "") << "a text beyond 128 bytes is not built";
}

LinkServices quiet() {
    LinkServices services;
    services.settings = LinkSettings{};
    return services;
}

TEST(LumoraRemote, ReturnsWhatTheSendDid) {
    CLumoraRemote capture;
    EXPECT_FALSE(capture.SetVideoInput(0, 3, 0)) << "no link object yet";

    // A link that is not connected writes nothing: the request is not reported as sent.
    CInetConnection idle(quiet(), InetOptions{std::to_string(nettest::freePort()), "", nullptr});
    capture.SetCommunicationObject(&idle);
    EXPECT_FALSE(capture.SetVideoInput(0, 3, 0));
    EXPECT_FALSE(capture.SetDigitalOutput(0, 1, 1));

    site::SiteOptions options;
    options.port = nettest::freePort();
    options.video = false;
    site::SiteStation site(options);
    ASSERT_TRUE(site.Open());
    CInetConnection op(quiet(), InetOptions{std::to_string(nettest::freePort()), "", nullptr});
    ASSERT_TRUE(op.ConnectToLan());
    const std::string address = "127.0.0.1:" + std::to_string(site.ListenPort());
    op.ConnectToRemote(address.c_str(), "site");
    ASSERT_TRUE(nettest::pumpUntil([&] {
        site.Pass();
        if (op.TimeToRead() == -3) {
            EXPECT_NE(op.SendHello(), 0);
        }
        return op.IsConnected() && site.Connected();
    }));
    capture.SetCommunicationObject(&op);
    EXPECT_TRUE(capture.SetVideoInput(0, 12, 0));
    EXPECT_TRUE(capture.SetVideoInput(0, 2, 1));
    EXPECT_TRUE(capture.SetDigitalOutput(0, 1, 1));
    EXPECT_TRUE(capture.SendRpc3(1, 2, 3, 4, 5));
    EXPECT_TRUE(nettest::pumpUntil([&] {
        site.Pass();
        op.TimeToRead();
        return site.Counters().inputRequests == 2 && site.Counters().relayRequests == 1;
    }));
    EXPECT_EQ(site.Profile().adapters[0].selectedInput, 12);
    op.SetNotConnected(TRUE);
}

}  // namespace
