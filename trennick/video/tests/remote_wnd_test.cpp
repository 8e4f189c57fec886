// The remote station window's controls and its answers to the link: the lower
// panel and the window's size limit, the frame-rate bounds, the hosted count,
// the context menu's states, the picture-size token of each peer, and the
// trigger notification, which marks the triggered cameras and never reads
// past its table, whatever the site's profile claims.

#include "common/kc_reg.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_toolbar.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/clients/testing/fake_ptz_box.h"
#include "trennick/clients/zo_ptz_ui.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/testing/link_fakes.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/video/remote_wnd.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSlider>
#include <cstring>

using namespace trennick;
using namespace linktest;

namespace {

using nettest::pumpUntil;

class FakeRemoteHost : public RemoteWndHost {
public:
    void frameCommand(WPARAM id) override { commands.push_back(id); }
    void toggleHold() override { ++holdToggles; }
    bool isRecording() override { return recording; }
    void playEventSound(int kind) override {
        sounds.push_back(kind);
        if (onSound) onSound();
    }
    void videoOpened() override {}
    void pointerActivity() override {}
    void filesDropped(const std::vector<std::string>&) override {}
    bool remoteVersion(int& kind, std::string& text) override {
        kind = peerKind;
        text = peerVersion;
        return peerKind != 0;
    }
    std::string instanceId() override { return {}; }
    QToolBar* adaptersToolBar() override { return nullptr; }
    void showVideoLamp(bool) override {}
    void setFrameRateMeter(double) override {}
    void showRemoteImage(bool) override {}
    bool splitMode() override { return split; }
    void setSplitMode(bool on) override { split = on; }
    void inputSwitchDone() override { ++switchesDone; }

    std::vector<WPARAM> commands;
    int holdToggles = 0;
    int switchesDone = 0;
    bool recording = false;
    bool split = false;
    int peerKind = 0;
    std::string peerVersion;
    std::vector<int> sounds;
    std::function<void()> onSound;
};

// A settings database whose profile is handed out as it was given, counts
// and all, as one filled from elsewhere might be.
class ProfileDb : public CDBLumoRemote {
public:
    int GetHWProfiles(tagHWProfile* out, int) override {
        *out = profile;
        return 1;
    }
    int GetCurrentAdapter(WORD* out, int) override {
        *out = 0;
        return 1;
    }
    tagHWProfile profile{};
};

struct PanelCase {
    DWORD largePanel;
    int growth;
};

TEST(RemoteWndPanel, OpenPanelGrowsTheWindowExactlyToItsLimit) {
    for (const PanelCase c : {PanelCase{0, kPanelHeight}, PanelCase{1, kLargePanelHeight}}) {
        SCOPED_TRACE(c.largePanel);
        RemoteVideoSettings settings;
        settings.largePanel = c.largePanel;
        CRemoteWnd window;
        window.SetConnection(nullptr, nullptr, &settings);
        const int closed = window.height();
        EXPECT_EQ(closed, kIdleHeight + kButtonRowHeight);
        window.OnCommand(ID_RW_PANEL_OPEN);
        EXPECT_TRUE(window.PanelOpen());
        EXPECT_EQ(window.height(), closed + c.growth);
        // The limit the operator may drag to is the panel's own height: a
        // smaller one would cut off the panel's bottom.
        EXPECT_EQ(window.MaximumWindowSize(), window.size());
        EXPECT_EQ(window.maximumHeight(), window.height());
        auto* slider = UiControl<QSlider>(&window, int(ID_RW_SLIDER));
        ASSERT_NE(slider, nullptr);
        EXPECT_FALSE(slider->isHidden());
        EXPECT_LE(slider->geometry().bottom(), window.height());
        window.OnCommand(ID_RW_PANEL_CLOSE);
        EXPECT_EQ(window.height(), closed);
        EXPECT_TRUE(slider->isHidden());
        EXPECT_EQ(settings.largePanel, 0u) << "closing forgets the large panel";
    }
}

TEST(RemoteWndSettings, FrameRateTakesTheLowWordAndStaysWithinHundred) {
    struct RateCase {
        int given;
        DWORD kept;
    };
    const RateCase cases[] = {{101, 50}, {100, 100}, {0, 0}, {0x10064, 100}, {-1, 50}, {37, 37}};
    RemoteVideoSettings settings;
    settings.frameRate = 20;
    CRemoteWnd window;
    window.SetConnection(nullptr, nullptr, &settings);
    auto* slider = UiControl<QSlider>(&window, int(ID_RW_SLIDER));
    ASSERT_NE(slider, nullptr);
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.given);
        window.SetFrameRate(c.given);
        EXPECT_EQ(settings.frameRate, c.kept);
        EXPECT_EQ(slider->value(), int(c.kept));
    }
}

TEST(RemoteWndSettings, HostedCountNeverGoesBelowZero) {
    CRemoteWnd window;
    window.SetHostedMode(FALSE);
    EXPECT_EQ(window.HostedCount(), 0u);
    window.SetHostedMode(TRUE);
    window.SetHostedMode(TRUE);
    window.SetHostedMode(FALSE);
    EXPECT_EQ(window.HostedCount(), 1u);
}

QAction* item(QMenu& menu, WPARAM id) {
    for (QAction* action : menu.actions()) {
        if (action->data().toULongLong() == id) return action;
    }
    return nullptr;
}

TEST(RemoteWndMenu, ItemsFollowTheLinkTheStateAndTheToggles) {
    RemoteVideoSettings settings;
    FakeRemoteHost host;
    CRemoteWnd window;
    window.SetConnection(nullptr, nullptr, &settings);
    window.SetHost(&host, nullptr, nullptr);
    const bool tracking = window.AutoTriggerTracking();
    {
        std::unique_ptr<QMenu> menu = window.BuildContextMenu();
        // No link, no video: nothing that needs either is offered.
        for (WPARAM id : {ID_RW_PAUSE, ID_RW_HOLD, ID_RW_SNAPSHOT_DIALOG, ID_RW_QUAD_SETTINGS, ID_RW_FRAME_32822,
                          ID_RW_FRAME_32826}) {
            ASSERT_NE(item(*menu, id), nullptr) << id;
            EXPECT_FALSE(item(*menu, id)->isEnabled()) << id;
        }
        EXPECT_TRUE(item(*menu, ID_RW_DOUBLE)->isEnabled());
        EXPECT_FALSE(item(*menu, ID_RW_ON_TOP)->isChecked());
        EXPECT_EQ(item(*menu, ID_RW_TRACKING)->isChecked(), tracking);
        EXPECT_EQ(menu->actions().back(), item(*menu, ID_RW_TRACKING)) << "tracking comes last";
    }
    window.OnCommand(ID_RW_TRACKING);
    window.OnCommand(ID_RW_ON_TOP);
    window.OnCommand(ID_RW_DOUBLE);
    // The quad settings need a peer whose release has them.
    host.peerKind = 2;
    host.peerVersion = "Velmoor site 2.1.4";
    std::unique_ptr<QMenu> menu = window.BuildContextMenu();
    EXPECT_NE(item(*menu, ID_RW_TRACKING)->isChecked(), tracking);
    EXPECT_TRUE(item(*menu, ID_RW_ON_TOP)->isChecked());
    EXPECT_TRUE(item(*menu, ID_RW_DOUBLE)->isChecked());
    EXPECT_EQ(settings.alwaysOnTop, 1u);
    EXPECT_FALSE(item(*menu, ID_RW_QUAD_SETTINGS)->isEnabled()) << "an older release";
    host.peerVersion = "Velmoor site 4.2.0";
    menu = window.BuildContextMenu();
    EXPECT_TRUE(item(*menu, ID_RW_QUAD_SETTINGS)->isEnabled());
    // Triggering an item runs its command.
    item(*menu, ID_RW_TRACKING)->trigger();
    EXPECT_EQ(window.AutoTriggerTracking(), tracking);
}

// The commands the main window serves are handed to it, each only while its
// condition holds: the event command needs a connected site, the snapshot
// request a link, the quad settings a peer whose release has them.
TEST(RemoteWndCommands, MainWindowCommandsAreHandedOnWhileTheirConditionHolds) {
    struct ForwardCase {
        WPARAM command;
        WPARAM frameCommand;
        bool withoutLink;  // handed on with no link at all
    };
    const ForwardCase cases[] = {
        {ID_RW_TITLE, 57347, true},
        {ID_RW_STOP, ID_RW_STOP, true},
        {ID_RW_HELP, ID_RW_HELP, true},
        {ID_RW_SNAPSHOT, ID_RW_SNAPSHOT, true},
        {ID_RW_FRAME_32104, ID_RW_FRAME_32104, false},
        {ID_RW_SNAPSHOT_DIALOG, ID_RW_SNAPSHOT_DIALOG, false},
    };
    RemoteVideoSettings settings;
    LinkPair pair;
    for (bool linked : {false, true}) {
        if (linked) {
            pair.a->linkUp = true;
            pair.helloBothWays();
        }
        FakeRemoteHost host;
        CRemoteWnd window;
        window.SetConnection(nullptr, linked ? pair.a.get() : nullptr, &settings);
        window.SetHost(&host, nullptr, nullptr);
        for (const ForwardCase& c : cases) {
            SCOPED_TRACE(std::to_string(c.command) + (linked ? " linked" : " no link"));
            host.commands.clear();
            window.OnCommand(c.command);
            if (linked || c.withoutLink) {
                EXPECT_EQ(host.commands, std::vector<WPARAM>{c.frameCommand});
            } else {
                EXPECT_TRUE(host.commands.empty());
            }
        }
        // The quad settings: refused for an older release, handed on otherwise.
        host.commands.clear();
        host.peerKind = 1;
        host.peerVersion = "Site 4.1.9";
        window.OnCommand(ID_RW_QUAD_SETTINGS);
        EXPECT_TRUE(host.commands.empty());
        host.peerVersion = "Site 4.2.0";
        window.OnCommand(ID_RW_QUAD_SETTINGS);
        EXPECT_EQ(host.commands, std::vector<WPARAM>{ID_RW_QUAD_SETTINGS});
        // The picture commands need received video.
        host.commands.clear();
        window.OnCommand(ID_RW_FRAME_32822);
        window.OnCommand(ID_RW_FRAME_32826);
        EXPECT_TRUE(host.commands.empty());
        // The window's own commands stay with it.
        host.commands.clear();
        window.OnCommand(ID_RW_ON_TOP);
        window.OnCommand(ID_RW_TRACKING);
        EXPECT_TRUE(host.commands.empty());
        window.OnCommand(ID_RW_TRACKING);
    }
}

TEST(RemoteWndPictureSize, TokenFollowsTheCommandTheModeAndThePeersRelease) {
    struct SizeCase {
        WPARAM command;
        bool qcifOnly;
        const char* version;
        WORD token;
    };
    const SizeCase cases[] = {
        {ID_RW_CIF, false, "Site 4.2.0", kTokCiff},  {ID_RW_CIF, false, "Site 3.0.9", kTokQcif},
        {ID_RW_CIF, true, "Site 4.2.0", kTokQcif},   {ID_RW_CIF, true, "Site 3.0.9", kTokCiff},
        {ID_RW_QCIF, false, "Site 4.2.0", kTokQcif}, {ID_RW_QCIF, true, "Site 4.2.0", kTokQcif},
        {ID_RW_QCIF, false, "Site 3.0.9", kTokCiff}, {ID_RW_QCIF, true, "", kTokQcif},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + (c.qcifOnly ? " qcif only " : " ") + c.version);
        EXPECT_EQ(PictureSizeToken(c.command, c.qcifOnly, c.version), c.token);
    }
}

// The site (link b) sends a trigger list; the operator's link (a) keeps the
// notification and tells the window.
struct TriggerRig {
    TriggerRig() {
        pair.helloBothWays();
        window.SetConnection(nullptr, pair.a.get(), &settings);
        window.SetHost(&host, nullptr, &db);
    }
    void sendTriggers(std::initializer_list<std::pair<WORD, WORD>> cameras) {
        std::vector<BYTE> list;
        for (const auto& [adapter, input] : cameras) {
            for (WORD v : {WORD(12), WORD(1), adapter, input, WORD(1), WORD(0)}) {
                list.push_back(BYTE(v & 0xFF));
                list.push_back(BYTE(v >> 8));
            }
        }
        const auto payload =
            buildGuardedPayload(tokenText(ID_DSVD_TRIGGERNOTIFICATION), list.data(), DWORD(list.size()));
        EXPECT_NE(pair.b->SendBucket(kTokenBucket, payload.data(), DWORD(payload.size())), 0);
        pair.pump();
    }
    LinkPair pair;
    RemoteVideoSettings settings;
    FakeRemoteHost host;
    ProfileDb db;
    CRemoteWnd window;
};

TEST(RemoteWndTriggers, TriggeredCamerasAreMarkedOnTheToolbarAndRingOnce) {
    TriggerRig rig;
    rig.db.profile.adaptersNumber = 2;
    rig.db.profile.adapters[0].camerasNumber = 4;
    rig.db.profile.adapters[1].camerasNumber = 4;
    rig.window.CreateLumoraBar();
    ASSERT_NE(rig.window.LumoraBar(), nullptr);
    rig.sendTriggers({{0, 2}, {1, 3}});
    ASSERT_TRUE(pumpUntil([&] { return rig.window.TriggersHandled() == 1; }));
    EXPECT_EQ(rig.window.LastTriggeredCameras(), (std::vector<std::pair<int, int>>{{0, 2}, {1, 3}}));
    EXPECT_EQ(rig.host.sounds, std::vector<int>{1});
    // Tracking off: the toolbar of the current adapter is marked only when
    // the last triggered adapter is the current one (here it is not).
    CQbBar* bar = rig.window.LumoraBar()->GetToolBar();
    UINT id = 0, style = 0;
    int image = 0;
    bar->GetButtonInfo(bar->CommandToIndex(kCmdFirstCamera + 2), id, style, image);
    EXPECT_NE(image, kImageTriggered);

    rig.sendTriggers({{0, 2}});
    ASSERT_TRUE(pumpUntil([&] { return rig.window.TriggersHandled() == 2; }));
    bar->GetButtonInfo(bar->CommandToIndex(kCmdFirstCamera + 2), id, style, image);
    EXPECT_EQ(image, kImageTriggered);
    bar->GetButtonInfo(bar->CommandToIndex(kCmdFirstCamera + 1), id, style, image);
    EXPECT_EQ(image, 1) << "an untriggered camera keeps its own picture";
    // A camera beyond the adapter's count is not one of the site's cameras.
    rig.sendTriggers({{0, 9}});
    ASSERT_TRUE(pumpUntil([&] { return rig.window.TriggersHandled() == 3; }));
    EXPECT_TRUE(rig.window.LastTriggeredCameras().empty());
    EXPECT_EQ(rig.host.sounds.size(), 2u);
}

TEST(RemoteWndTriggers, NotificationIsReadWithinItsTableWhateverTheProfileClaims) {
    TriggerRig rig;
    // A profile that claims more adapters and cameras than a notification holds.
    rig.db.profile.adaptersNumber = 9;
    for (tagAdapterBlock& adapter : rig.db.profile.adapters) adapter.camerasNumber = 40;
    rig.sendTriggers({{5, 15}, {0, 0}});
    ASSERT_TRUE(pumpUntil([&] { return rig.window.TriggersHandled() == 1; }));
    EXPECT_EQ(rig.window.LastTriggeredCameras(), (std::vector<std::pair<int, int>>{{0, 0}, {5, 15}}));
}

TEST(RemoteWndTriggers, ASecondNotificationWhileTheFirstRingsIsDropped) {
    TriggerRig rig;
    rig.db.profile.adaptersNumber = 1;
    rig.db.profile.adapters[0].camerasNumber = 4;
    // The sound's own message loop delivers a second notification.
    rig.host.onSound = [&] { rig.window.OnMessage(kMsgTriggerNotified, 0, 0); };
    rig.sendTriggers({{0, 1}});
    ASSERT_TRUE(pumpUntil([&] { return rig.window.TriggersHandled() >= 1; }));
    EXPECT_EQ(rig.window.TriggersHandled(), 1u);
    EXPECT_EQ(rig.host.sounds.size(), 1u);
    // Once the first is done, the next one is handled again.
    rig.host.onSound = nullptr;
    rig.window.OnMessage(kMsgTriggerNotified, 0, 0);
    EXPECT_EQ(rig.window.TriggersHandled(), 2u);
}

TEST(RemoteWndBlink, RecordingMarkChangesAtMostOnceASecond) {
    DWORD clock = 50000;
    CRemoteWnd window;
    window.SetClock([&] { return clock; });
    struct BlinkStep {
        DWORD atMs;
        bool lit;
    };
    // 999 ms after a change is too early; 1000 ms is time.
    for (const BlinkStep step : {BlinkStep{50000, true}, BlinkStep{50999, true}, BlinkStep{51000, false},
                                 BlinkStep{51500, false}, BlinkStep{52100, true}}) {
        SCOPED_TRACE(step.atMs);
        clock = step.atMs;
        window.BlinkIndicator();
        EXPECT_EQ(window.BlinkLit(), step.lit);
    }
}

// The PTZ panel: the box's window stands in for the box program.
TEST(RemoteWndPtz, PanelIsStartedPlacedShownWithTheCameraAndHidden) {
    const DWORD on = 1, off = 0;
    ProductKey("Ptz").SetDword(nullptr, "PtzEnabled", &on);
    ptztest::FakeBox box;
    ASSERT_TRUE(box.create("PtzBox", "Ptz"));
    {
        FakeRemoteHost host;
        ProfileDb db;
        db.profile.adaptersNumber = 1;
        db.profile.adapters[0].camerasNumber = 4;
        db.profile.adapters[0].selectedInput = 2;
        std::strcpy(db.profile.adapters[0].cameras[2].name, "Gate");
        RemoteVideoSettings settings;
        CRemoteWnd window;
        window.SetConnection(nullptr, nullptr, &settings);
        window.SetHost(&host, nullptr, &db);
        window.show();
        window.CreateLumoraBar();
        ASSERT_NE(window.PtzPanel(), nullptr);
        EXPECT_TRUE(window.PtzPanel()->Started());
        ASSERT_FALSE(box.messages.empty());
        EXPECT_EQ(box.messages.back().kind, kPtzBoxMove);

        auto kindsFrom = [&](std::size_t first) {
            std::vector<platform::ULONG_PTR> kinds;
            for (std::size_t i = first; i < box.messages.size(); ++i) kinds.push_back(box.messages[i].kind);
            return kinds;
        };
        std::size_t seen = box.messages.size();
        window.OnCommand(ID_RW_PTZ);
        EXPECT_TRUE(window.PtzPanelShown());
        EXPECT_EQ(kindsFrom(seen), (std::vector<platform::ULONG_PTR>{kPtzBoxCommandText, kPtzBoxMove, kPtzBoxCamera}));
        const auto& text = box.messages[seen].data;
        DWORD camera = 99;
        std::memcpy(&camera, text.data(), 4);
        EXPECT_EQ(camera, 2u);
        EXPECT_STREQ(reinterpret_cast<const char*>(text.data() + 4), "Gate");
        EXPECT_EQ(window.PtzPanel()->LastCamera(), 1u) << "shown";
        // Left of the window, at its top.
        LONG x = 0, y = 0;
        std::memcpy(&x, box.messages[seen + 1].data.data(), 4);
        std::memcpy(&y, box.messages[seen + 1].data.data() + 4, 4);
        EXPECT_EQ(x, window.frameGeometry().left() - kPtzPanelOffset);
        EXPECT_EQ(y, window.frameGeometry().top());

        seen = box.messages.size();
        window.OnCommand(ID_RW_PTZ);
        EXPECT_FALSE(window.PtzPanelShown());
        EXPECT_EQ(kindsFrom(seen), std::vector<platform::ULONG_PTR>{kPtzBoxCamera});
        EXPECT_EQ(window.PtzPanel()->LastCamera(), 0u) << "hidden";

        // Closing the video takes the toolbar and the panel away.
        window.StopVideoWnd();
        EXPECT_EQ(window.PtzPanel(), nullptr);
        EXPECT_EQ(window.LumoraBar(), nullptr);
        EXPECT_EQ(box.messages.back().kind, kPtzBoxClose);
    }
    ProductKey("Ptz").SetDword(nullptr, "PtzEnabled", &off);
}

}  // namespace

// The site's answer to an input switch (a returned remote call of kind 1 or
// 5) ends the split view's wait for that input; other kinds do not.
TEST(RemoteWndRemoteCalls, SelectedInputEndsThePendingSwitch) {
    FakeRemoteHost host;
    CRemoteWnd window;
    window.SetHost(&host, nullptr, nullptr);
    const std::pair<WPARAM, int> cases[] = {{1, 1}, {2, 1}, {5, 2}, {3, 2}};
    for (const auto& [kind, done] : cases) {
        SCOPED_TRACE(kind);
        window.OnMessage(kMsgRpcDone, kind, 0);
        EXPECT_EQ(host.switchesDone, done);
    }
    // Not while the kit hosts the video.
    window.SetHostedMode(TRUE);
    window.OnMessage(kMsgRpcDone, 1, 0);
    EXPECT_EQ(host.switchesDone, 2);
}
