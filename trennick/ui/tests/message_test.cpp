#include "trennick/ui/message.h"

#include "common/kc_reg.h"
#include "tavicore/ui/testing/ui_test_support.h"

#include <QLabel>

#include "trennick/ui/didov_controls.h"
#include <QPushButton>
#include <QTest>
#include <vector>

namespace {

void setTimeoutMs(DWORD ms) {
    CKcReg("Quennel", "Velmoor", "1.000.0", "General").SetDword(nullptr, "TimeOutForMesageBoxesMS", &ms);
}

std::vector<int> shownButtons(QWidget* box) {
    std::vector<int> ids;
    for (int id : {IDYES, IDNO, IDOK, 1046, 1042, 1048, IDCANCEL, 57670}) {
        if (UiControl<QPushButton>(box, id)->isVisible()) {
            ids.push_back(id);
        }
    }
    return ids;
}

// Runs the box and, once it is up, lets `act` answer it.
int runBox(UINT type, const std::function<void(CMessage&)>& act, const char* screenshot = nullptr) {
    CMessage box;
    QTimer::singleShot(0, [&] {
        if (screenshot != nullptr) {
            uitest::saveScreenshot(&box, screenshot);
        }
        act(box);
    });
    return box.SetMessage(7, "The remote station did not answer.", "Velmoor", type);
}

class Message : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::installLanguage();
        setTimeoutMs(600000);
    }
    uitest::Guard guard;
};

}  // namespace

TEST_F(Message, InformationShowsItsIconAndOnlyOk) {
    std::vector<int> buttons;
    QImage icon;
    const int result = runBox(514, [&](CMessage& box) {
        buttons = shownButtons(&box);
        icon = UiControl<QLabel>(&box, 1038)->pixmap().toImage();
        EXPECT_EQ(box.windowTitle(), "Velmoor");
        EXPECT_EQ(box.helpContextId(), 7u);
        QTest::mouseClick(UiControl<QPushButton>(&box, IDOK), Qt::LeftButton);
    }, "message_information");
    EXPECT_EQ(result, 512);
    EXPECT_EQ(buttons, (std::vector<int>{IDOK}));
    EXPECT_EQ(icon, UiBitmap(115).toImage());
}

TEST_F(Message, EveryWayOutHasItsResult) {
    struct Case {
        UINT type;
        int press;  // 0: the close box
        int result;
    } cases[] = {
        {kMsgYes | kMsgNo, IDYES, 512}, {kMsgYes | kMsgNo, IDNO, 16},   {kMsgOk | kMsgCancel, IDCANCEL, 16},
        {kMsgOk | kMsgCancel, 0, 16},   {kMsgButton1042, 1042, 32},       {kMsgButton1048, 1048, 64},
        {kMsgButton1046, 1046, 128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.press);
        const int result = runBox(c.type, [&](CMessage& box) {
            if (c.press == 0) {
                box.close();
            } else {
                QTest::mouseClick(UiControl<QPushButton>(&box, c.press), Qt::LeftButton);
            }
        });
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(Message, YesStandsLeftOfNoAndTheButtonsFollowTheText) {
    runBox(kMsgYes | kMsgNo | kMsgHelp | kMsgIconQuestion, [&](CMessage& box) {
        auto* yes = UiControl<QPushButton>(&box, IDYES);
        auto* no = UiControl<QPushButton>(&box, IDNO);
        auto* help = UiControl<QPushButton>(&box, 57670);
        EXPECT_LT(yes->x(), no->x());
        EXPECT_LT(no->x(), help->x());
        EXPECT_EQ(shownButtons(&box), (std::vector<int>{IDYES, IDNO, 57670}));
        QTest::mouseClick(help, Qt::LeftButton);  // help does not end the box
        EXPECT_TRUE(box.isVisible());
        auto* text = UiControl<CDidovMessageControl>(&box, 1039);
        EXPECT_FALSE(text->Text().isEmpty());
        auto* line = UiControl<QWidget>(&box, 230);
        EXPECT_TRUE(line->isVisible());
        EXPECT_GT(line->y(), text->geometry().bottom());  // no extra rows between them
        EXPECT_GT(yes->y(), line->y());
        QTest::mouseClick(yes, Qt::LeftButton);
    }, "message_question");
}

TEST_F(Message, TimeOutAnswersAsCancel) {
    for (DWORD timeout : {0u, 40u}) {
        SCOPED_TRACE(timeout);
        setTimeoutMs(timeout);
        CMessage box;
        EXPECT_EQ(box.SetMessage(0, "text", "caption", 514), 16);
        EXPECT_EQ(box.result(), 16);
    }
}

TEST_F(Message, QuestionKindsAskYesOrNoAndKeepTheirAnswers) {
    EXPECT_EQ(MessageTypeForKind(kMessageKindError), 516u);
    EXPECT_EQ(MessageTypeForKind(kMessageKindInformation), 514u);
    for (UINT kind : {kMessageKindQuestion, kMessageKindQuestion2}) {
        for (int answer : {IDYES, IDNO}) {
            SCOPED_TRACE(answer);
            std::vector<int> buttons;
            QString caption;
            uitest::whenModal([&](QWidget* box) {
                buttons = shownButtons(box);
                caption = box->windowTitle();
                QTest::mouseClick(UiControl<QPushButton>(box, answer), Qt::LeftButton);
            });
            const int result = ShowKindMessage(nullptr, kind, "Accept the video of the remote station?");
            EXPECT_EQ(buttons, (std::vector<int>{IDYES, IDNO}));
            EXPECT_EQ(caption.toStdString(), UiString(307));
            EXPECT_EQ(result, answer == IDYES ? 512 : 16);
        }
    }
}
