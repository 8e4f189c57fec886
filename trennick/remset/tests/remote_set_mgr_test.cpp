#include "trennick/remset/remote_set_mgr.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace trennick;

namespace {

struct NoticeHost : RemoteSetMgrHost {
    NoticeHost() : RemoteSetMgrHost(nullptr, {}) {}
    void showNotice(const std::string& text) override { notices.push_back(text); }
    std::string text(UINT id) override { return "text " + std::to_string(id); }
    std::vector<std::string> notices;
};

TEST(RemoteSetMgr, ErrorListsAreReadInWholeEntriesAndShownByTheirCodes) {
    NoticeHost host;
    CRemoteSetMgr mgr(host);
    // Two 8-byte entries: codes 5 and 16 (high 16 bits of the first word), and
    // a tail shorter than an entry, which is not read.
    const BYTE list[] = {0, 0, 5, 0, 1, 0, 2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 9, 0};
    mgr.OnReceivedSettingsErr(list, sizeof list, 8);
    EXPECT_EQ(host.notices, (std::vector<std::string>{"text 65146", "text 65157"}));

    // Codes 13 and 81 and a code without a message (2) are traced, not shown.
    host.notices.clear();
    const BYTE quiet[] = {0, 0, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 81, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    mgr.OnReceivedSettingsErr(quiet, sizeof quiet, 12);
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(CRemoteSetMgr::MessageId(2), kStrRemoteSettingsUnknown);
    EXPECT_EQ(CRemoteSetMgr::MessageId(89), 65236u);
    EXPECT_EQ(CRemoteSetMgr::MessageId(103), 65250u);
    EXPECT_EQ(CRemoteSetMgr::MessageId(90), 65228u);
}

TEST(RemoteSetMgr, WithoutALinkTransfersEndWithTheNotConnectedMessage) {
    NoticeHost host;
    CRemoteSetMgr mgr(host);
    EXPECT_EQ(mgr.DownloadSettings(), 0);
    EXPECT_EQ(mgr.GetProfileFromSite("/tmp/x"), 0);
    EXPECT_TRUE(mgr.KitPath().empty());  // kept only for a request really sent
    EXPECT_EQ(host.notices, (std::vector<std::string>{"text 65144", "text 65144"}));
    DWORD percent = 0;
    EXPECT_EQ(mgr.GetProfileTransferProgress(true, percent), 1);
    EXPECT_EQ(percent, 0xFFFFu);
}

}  // namespace
