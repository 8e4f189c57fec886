// The link's services over the real platform and engine pieces: settings in
// the registry of the temporary home, this station's identity, the users
// manager's scrambling, and notices through a real message window.

#include "common/kc_reg.h"
#include "tavicore/users_manager.h"
#include "trennick/link/core_identity.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/testing/sink_transport.h"
#include "trennick/link/window_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace trennick;

TEST(LinkSettings, DefaultsAreWrittenBackAndChangesRead) {
    const LinkSettings first = readLinkSettings();
    EXPECT_FALSE(first.useOnlyQcif);
    EXPECT_TRUE(first.syncsVerification);
    EXPECT_TRUE(first.sendSyncs);

    CKcReg reg("Quennel", "Velmoor", "1.000.0", "Comms");
    DWORD value = 7;
    ASSERT_TRUE(reg.GetDword("Comms", "IsSendSyncs", &value));
    EXPECT_EQ(value, 1u);
    ASSERT_TRUE(reg.GetDword("Video", "Use Only QCIF Mode", &value));
    EXPECT_EQ(value, 0u);

    const DWORD off = 0;
    ASSERT_TRUE(reg.SetDword("Comms", "Syncs Verification", &off));
    EXPECT_FALSE(readLinkSettings().syncsVerification);
}

TEST(CoreLinkIdentity, KeepsOneStationGuidAndScramblesTexts) {
    CoreLinkIdentity identity;
    SiteInfoBlock first{}, second{};
    ASSERT_TRUE(identity.thisSiteInfo(first));
    ASSERT_TRUE(identity.thisSiteInfo(second));
    EXPECT_GT(strnlen(first.guid, sizeof first.guid), 30u);
    EXPECT_STREQ(first.guid, second.guid);  // created once, then read back
    EXPECT_STREQ(first.siteName, "Anonymous");

    const std::string scrambled = identity.encrypt("admin");
    EXPECT_NE(scrambled, "admin");
    EXPECT_LE(scrambled.size(), kUserTextFieldBytes);
    EXPECT_EQ(CUsersManager::Decrypt(scrambled), "admin");
}

class RecordingWindow : public platform::MessageWindow {
public:
    std::vector<std::pair<UINT, WPARAM>> received;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg >= platform::WM_USER) {
            received.emplace_back(msg, wParam);
            return 5;
        }
        return platform::MessageWindow::WindowProc(msg, wParam, lParam);
    }
};

class SinkLink : public CPacketConnection {
public:
    explicit SinkLink(const LinkServices& services) : CPacketConnection(services, makeSinkTransport(true)) {}
    void feed(std::string_view token) {
        CheckAcknowledgment(reinterpret_cast<const BYTE*>(token.data()), static_cast<DWORD>(token.size()));
    }
};

TEST(MessageWindowLink, NoticesArriveAtTheOwnerWindow) {
    RecordingWindow window;
    ASSERT_TRUE(window.create());
    MessageWindowLink owner(window.hwnd());
    LinkSettings settings;
    SinkLink link({&owner, nullptr, nullptr, {}, settings, 4096, {}});
    link.feed("<MEMORYFULL>");
    EXPECT_EQ(link.SendCommMessage(44, 0), 5);  // sent: answered at once on this thread
    QElapsedTimer guard;
    guard.start();
    while (window.received.size() < 2 && guard.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0], (std::pair<UINT, WPARAM>{0x040A, 44}));
    EXPECT_EQ(window.received[1], (std::pair<UINT, WPARAM>{kMsgMemoryFull, 98}));
}

}  // namespace
