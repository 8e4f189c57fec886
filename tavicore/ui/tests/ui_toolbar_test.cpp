#include "tavicore/ui/ui_toolbar.h"

#include "common/kc_reg.h"
#include "tavicore/capture_base.h"
#include "tavicore/testing/card_test_support.h"
#include "tavicore/db_lumo.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/testing/ui_test_support.h"

#include <QTest>
#include <QToolButton>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

// A card that records what the toolbar asks of it; every other operation fails.
class RecordingCard : public cardtest::FakeCard {
public:
    RecordingCard() { m_cardDetected = 1; }
    std::vector<std::tuple<WORD, WORD, int>> inputs;
    std::vector<std::tuple<WORD, WORD, int>> relays;

    int SetVideoInput(WORD a, WORD c, int f) override {
        inputs.emplace_back(a, c, f);
        return 1;
    }
    int SetDigitalOutput(WORD a, WORD r, int s) override {
        relays.emplace_back(a, r, s);
        return 1;
    }
};

void setName(char (&field)[kSettingsNameBytes], const char* text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field));
}

class Toolbar : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::installLanguage();
        db = std::make_unique<CDBLumoLocal>(&card, 0);
        profile = std::make_unique<tagHWProfile>();
        db->GetHWProfiles(profile.get());
        auto& a = profile->adapters[0];
        a.camerasNumber = 4;
        a.relaysNumber = 2;
        setName(a.name, "Front yard");
        setName(a.cameras[0].name, "Gate");
        setName(a.cameras[1].name, "Parking place");  // 13: kept whole
        setName(a.cameras[2].name, "Loading bay 12");  // 14: cut
        setName(a.cameras[3].name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");  // fills all 30
        a.relays[0] = {};
        setName(a.relays[0].name, "Siren");
        a.relays[0].state = 0;  // toggle
        a.relays[1] = {};
        setName(a.relays[1].name, "Door opener");
        a.relays[1].state = 1;  // pulse
        profile->adapters[1].camerasNumber = 0;
        profile->adapters[1].relaysNumber = 1;
        profile->adapters[1].relays[0] = {};
        setName(profile->adapters[1].name, "Back yard");
        ASSERT_EQ(db->UpdateHWProfiles(profile.get(), nullptr), 1);
        setSplit(0);
    }

    void setSplit(DWORD enable) {
        tagSplitProfiles split{};
        db->GetSplitProfiles(&split);
        for (auto& e : split.splitEnable) {
            e = enable;
        }
        db->UpdateSplitProfiles(&split);
    }

    std::unique_ptr<CLumoraToolBarControl> makeControl(WORD adapter = 0, int ptz = 0, WORD mode = 0) {
        auto control = std::make_unique<CLumoraToolBarControl>(0, adapter, &card, db.get(), ptz, mode);
        EXPECT_EQ(control->CreateToolBar(0), 1);
        control->show();
        card.relays.clear();  // the set-up's own relay commands
        return control;
    }

    tagRelayBlock relay(int r) {
        db->GetHWProfiles(profile.get());
        return profile->adapters[0].relays[r];
    }

    std::vector<UINT> barIds(CQbBar* bar) {
        std::vector<UINT> ids;
        for (int i = 0; i < bar->GetCount(); ++i) {
            UINT id, style;
            int image;
            bar->GetButtonInfo(i, id, style, image);
            ids.push_back(id);
        }
        return ids;
    }

    RecordingCard card;
    std::unique_ptr<CDBLumoLocal> db;
    std::unique_ptr<tagHWProfile> profile;
    uitest::Guard guard;
};

}  // namespace

TEST_F(Toolbar, ButtonsFollowTheAdapterInBarOrder) {
    auto control = makeControl(0, 1, 2);
    EXPECT_EQ(control->commandIds(),
              (std::vector<UINT>{65122, 65123, 65124, 65125, 65139, 65140, 32149, 32078, 32923}));
    CQbBar* bar = control->GetToolBar();
    EXPECT_EQ(barIds(bar), (std::vector<UINT>{65122, 65123, 65124, 65125, 32149, 32078, 65139, 65140, 32923}));
    EXPECT_TRUE(bar->IsButtonPressed(32149));
    EXPECT_EQ(control->IsVideoModeActive(), 1);
    // Large buttons (the default) carry the names, cut after 12 characters past 13.
    EXPECT_EQ(bar->GetButtonText(0), " Gate");
    EXPECT_EQ(bar->GetButtonText(1), " Parking place");
    EXPECT_EQ(bar->GetButtonText(2), " Loading bay ..");
    EXPECT_EQ(bar->GetButtonText(6), " Siren");
    EXPECT_EQ(bar->GetButtonText(8), "Ptz");
    uitest::saveScreenshot(control.get(), "video_toolbar");

    // An adapter without cameras: only the mode button and the relays.
    EXPECT_EQ(control->SetAdapter(1), 1);
    EXPECT_EQ(barIds(bar), (std::vector<UINT>{32149, 32078, 65139, 32923}));
    EXPECT_EQ(control->windowTitle(), "Back yard");
}

TEST_F(Toolbar, CameraButtonSwitchesTheInputAndPopsTheModeButton) {
    auto control = makeControl();
    WORD pressed = 77;
    EXPECT_EQ(control->GetPressedCamera(&pressed), 0);
    EXPECT_EQ(pressed, 77);  // left alone
    QTest::mouseClick(control->GetToolBar()->buttonWidget(65124), Qt::LeftButton);
    EXPECT_EQ(control->GetPressedCamera(&pressed), 1);
    EXPECT_EQ(pressed, 2);
    ASSERT_EQ(card.inputs.size(), 1u);
    EXPECT_EQ(card.inputs[0], std::make_tuple(WORD{0}, WORD{2}, 0));
    EXPECT_EQ(relay(0).state, 0);  // profile re-read
    EXPECT_EQ(profile->adapters[0].selectedInput, 2);
    EXPECT_EQ(control->IsVideoModeActive(), 0);
    EXPECT_TRUE(control->GetToolBar()->buttonWidget(65124)->isChecked());
    EXPECT_FALSE(control->GetToolBar()->buttonWidget(65122)->isChecked());

    control->PushModeButton();
    EXPECT_EQ(control->GetPressedCamera(&pressed), 0);
    EXPECT_EQ(control->IsVideoModeActive(), 1);
}

TEST_F(Toolbar, ToggleRelaySwitchesOnAndOff) {
    auto control = makeControl();
    QToolButton* siren = control->GetToolBar()->buttonWidget(65139);
    QTest::mouseClick(siren, Qt::LeftButton);
    EXPECT_EQ(relay(0).status, 1u);
    EXPECT_TRUE(siren->isChecked());
    QTest::mouseClick(siren, Qt::LeftButton);
    EXPECT_EQ(relay(0).status, 0u);
    EXPECT_FALSE(siren->isChecked());
    EXPECT_EQ(card.relays, (std::vector<std::tuple<WORD, WORD, int>>{{0, 0, 1}, {0, 0, 0}}));
}

TEST_F(Toolbar, PulseRelayFiresOnPressAndFallsOnRelease) {
    auto control = makeControl();
    QToolButton* door = control->GetToolBar()->buttonWidget(65140);
    QTest::mousePress(door, Qt::LeftButton);
    EXPECT_EQ(relay(1).status, 1u);
    EXPECT_EQ(card.relays, (std::vector<std::tuple<WORD, WORD, int>>{{0, 1, 1}}));
    QTest::mouseRelease(door, Qt::LeftButton);
    EXPECT_EQ(relay(1).status, 0u);
    EXPECT_EQ(card.relays, (std::vector<std::tuple<WORD, WORD, int>>{{0, 1, 1}, {0, 1, 0}}));

    // A press on a camera button, away from every relay button, fires nothing.
    card.relays.clear();
    QTest::mouseClick(control->GetToolBar()->buttonWidget(65122), Qt::LeftButton);
    EXPECT_TRUE(card.relays.empty());
}

TEST_F(Toolbar, RelayTimerSwitchesTheRelayOff) {
    auto control = makeControl();
    QTest::mouseClick(control->GetToolBar()->buttonWidget(65139), Qt::LeftButton);
    ASSERT_EQ(relay(0).status, 1u);
    platform::SetTimer(control->messageHandle(), 65139, 20);
    while (relay(0).status != 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_EQ(card.relays.back(), std::make_tuple(WORD{0}, WORD{0}, 0));
    EXPECT_FALSE(control->GetToolBar()->buttonWidget(65139)->isChecked());
}

TEST_F(Toolbar, ToolTipsComeFromNamesAndStrings) {
    auto control = makeControl(0, 1);
    CQbBar* bar = control->GetToolBar();
    struct Case {
        UINT id;
        std::string text;
    } cases[] = {
        {65122, "Gate"},
        {65125, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},  // all 30 characters
        {65140, "Door opener"},
        {32149, UiString(59419)},
        {32078, UiString(65264)},
        {32923, UiString(324)},
        {32077, UiString(59418)},  // quad word 0
        {1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        char text[kToolTipTextBytes];
        std::memset(text, 'x', sizeof text);
        bar->GetToolTipText(c.id, text);
        EXPECT_EQ(std::string(text), c.text);
    }
}

TEST(ToolTipText, IsCutSoThatItsTerminatorFits) {
    for (std::size_t length : {0u, 79u, 80u, 200u}) {
        SCOPED_TRACE(length);
        char field[kToolTipTextBytes + 1];
        field[kToolTipTextBytes] = '#';  // a guard byte just past the field
        auto& exact = *reinterpret_cast<char(*)[kToolTipTextBytes]>(field);
        CopyToolTipText(exact, std::string(length, 'a'));
        EXPECT_EQ(std::strlen(field), std::min<std::size_t>(length, 79));
        EXPECT_EQ(field[kToolTipTextBytes], '#');
    }
}

TEST_F(Toolbar, TriggeredCamerasGetTheirMarkAndSameAdapterChangesNothing) {
    auto control = makeControl();
    CQbBar* bar = control->GetToolBar();
    std::vector<tagTriggerEntry> triggers(kMaxAdapters * kCamerasPerAdapter);
    triggers[1].state = 1;
    triggers[2].state = 5;  // other values leave the button alone
    control->SetTriggerIdentification(triggers.data(), 0);
    UINT id, style;
    int image;
    bar->GetButtonInfo(1, id, style, image);
    EXPECT_EQ(image, kImageTriggered);
    bar->GetButtonInfo(2, id, style, image);
    EXPECT_EQ(image, 2);
    triggers[1].state = 0;
    control->SetTriggerIdentification(triggers.data(), 0);
    bar->GetButtonInfo(1, id, style, image);
    EXPECT_EQ(image, 1);

    card.inputs.clear();
    EXPECT_EQ(control->SetAdapter(0), 1);
    EXPECT_TRUE(card.inputs.empty());
    EXPECT_EQ(bar->GetCount(), 7);
}

TEST_F(Toolbar, SplitAdapterShowsTheQuadButtons) {
    setSplit(1);
    auto control = makeControl(0, 0, 2);
    CQbBar* bar = control->GetToolBar();
    EXPECT_EQ(barIds(bar), (std::vector<UINT>{65122, 65123, 65124, 65125, 32077, 32078, 65139, 65140}));
    EXPECT_EQ(bar->GetButtonText(4), QString::fromStdString(UiString(65266)) + " 1");
    EXPECT_EQ(bar->GetButtonText(5), QString::fromStdString(UiString(65266)) + " 2");
    QTest::mouseClick(bar->buttonWidget(32078), Qt::LeftButton);
    EXPECT_TRUE(bar->IsButtonPressed(32078));
    EXPECT_FALSE(bar->IsButtonPressed(32077));
    tagSplitProfiles split{};
    db->GetSplitProfiles(&split);
    EXPECT_EQ(split.quadOrSplitActive[0], 1u);
    QTest::mouseClick(bar->buttonWidget(65123), Qt::LeftButton);
    EXPECT_FALSE(bar->IsButtonPressed(32078));
    db->GetSplitProfiles(&split);
    EXPECT_EQ(split.quadOrSplitActive[0], 0u);
    uitest::saveScreenshot(control.get(), "video_toolbar_split");
}

TEST_F(Toolbar, SmallButtonsWithoutTexts) {
    const DWORD off = 0;
    CKcReg("Quennel", "Velmoor", "1.000.0", "General").SetDword(nullptr, "UseLargeToolbar", &off);
    auto control = makeControl();
    EXPECT_FALSE(control->largeButtons());
    EXPECT_TRUE(control->GetToolBar()->GetButtonText(0).isEmpty());
    uitest::saveScreenshot(control.get(), "video_toolbar_small");
}

TEST_F(Toolbar, PrivateMessagesQuadButtonAndBarState) {
    auto control = makeControl();
    CQbBar* bar = control->GetToolBar();
    platform::PostMessage(control->messageHandle(), kMsgPushCameraButton, 3, 0);
    WORD pressed = 0;
    while (control->GetPressedCamera(&pressed) == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    EXPECT_EQ(pressed, 3);

    // SetQuadButton puts the button at the mode position and presses it as a user would.
    control->SetQuadButton(1);
    EXPECT_EQ(bar->CommandToIndex(kCmdQuad), 4);
    EXPECT_TRUE(bar->IsButtonPressed(kCmdQuad));
    EXPECT_EQ(control->GetPressedCamera(&pressed), 0);
    tagSplitProfiles split{};
    db->GetSplitProfiles(&split);
    EXPECT_EQ(split.quadOrSplitActive[0], 1u);

    control->HideQuadSwitchButton();
    EXPECT_TRUE(bar->GetItemRect(4).isEmpty());

    control->move(40, 50);
    control->HideControlBar();
    EXPECT_FALSE(control->isVisible());
    auto other = makeControl();
    other->move(0, 0);
    other->hide();
    other->RestoreToolBar(nullptr, 1);
    EXPECT_TRUE(other->isVisible());
    EXPECT_EQ(other->pos(), QPoint(40, 50));
}

// The bar's place is kept per instance: another instance's bar does not move to
// where this one was left, and each finds its own again.
TEST_F(Toolbar, BarStateIsKeptPerInstance) {
    const std::string saved = gcsVlmInsID;
    struct Instance {
        const char* id;
        QPoint place;
    };
    const Instance instances[] = {{"\\Velmoor31", QPoint(40, 50)}, {"\\Velmoor32", QPoint(70, 20)}};
    for (const Instance& i : instances) {
        gcsVlmInsID = i.id;
        auto control = makeControl();
        control->show();
        control->move(i.place);
        control->HideControlBar();
    }
    for (const Instance& i : instances) {
        SCOPED_TRACE(i.id);
        gcsVlmInsID = i.id;
        auto control = makeControl();
        control->move(0, 0);
        control->RestoreToolBar(nullptr, 1);
        EXPECT_TRUE(control->isVisible());
        EXPECT_EQ(control->pos(), i.place);
    }
    gcsVlmInsID = saved;
}
