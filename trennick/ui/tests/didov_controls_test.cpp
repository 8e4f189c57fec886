// The owner-drawn controls: the animation script step by step with every
// error it reports, the notices its parent gets, the border, the bar's text
// and the text box's fit.

#include "trennick/ui/didov_controls.h"

#include "tavicore/ui/ui_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <string>
#include <vector>

namespace {

QPixmap solid(Qt::GlobalColor colour) {
    QPixmap p(8, 8);
    p.fill(colour);
    return p;
}

// The parent's side: the control's notices as they arrive.
struct Parent {
    Parent()
        : target([this](UINT msg, WPARAM wParam, LPARAM lParam) {
              if (msg == kMsgDidovScriptError) {
                  errors.push_back(static_cast<int>(wParam));
                  errorText = reinterpret_cast<const char*>(lParam);
              } else if (msg == WM_COMMAND) {
                  ends.push_back({static_cast<int>(wParam), static_cast<long>(lParam)});
              }
              return 0;
          }) {}
    UiMessageTarget target;
    std::vector<int> errors;
    std::string errorText;
    std::vector<std::pair<int, long>> ends;
};

void deliverPosted() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Frames shown by `ticks` steps; -1 where the step ended the animation.
std::vector<int> run(CDidovAnimation& animation, int ticks) {
    std::vector<int> shown;
    animation.Start();
    for (int i = 0; i < ticks && animation.Running(); ++i) {
        animation.Step();
        shown.push_back(animation.Running() ? animation.Frame() : -1);
    }
    return shown;
}

}  // namespace

TEST(DidovAnimation, ScriptsStepOneFramePerTick) {
    struct Case {
        const char* script;
        int ticks;
        std::vector<int> frames;
        bool ends;
    };
    const Case cases[] = {
        {"(AB)", 6, {0, 1, 0, 1, 0, 1}, false},           // endless: one frame a tick
        {"(3AB)", 8, {0, 1, 0, 1, 0, 1, -1}, true},       // three turns, then the end
        {" A \n B ", 3, {0, 1, -1}, true},                 // blanks are ignored
        {"(2(2A)B)", 8, {0, 0, 1, 0, 0, 1, -1}, true},     // nested counted loops
        {"(>1)", 4, {0, 0, 0, 0}, false},                  // a frameless endless loop: a turn a tick
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Parent parent;
        CDidovAnimation animation;
        animation.AddFrame(solid(Qt::red));
        animation.AddFrame(solid(Qt::green));
        animation.SetNotify(parent.target.hwnd(), 1234);
        animation.SetScript(c.script);
        EXPECT_EQ(run(animation, c.ticks), c.frames);
        deliverPosted();
        EXPECT_TRUE(parent.errors.empty());
        if (c.ends) {
            ASSERT_EQ(parent.ends.size(), 1u);
            EXPECT_EQ(parent.ends[0].first, 1234);
            EXPECT_EQ(parent.ends[0].second, static_cast<long>(0x10000 + (animation.Handle() & 0xFFFF)));
        } else {
            EXPECT_TRUE(parent.ends.empty());
        }
    }
}

TEST(DidovAnimation, ScriptErrorsStopTheAnimationAndReachTheParent) {
    struct Case {
        const char* script;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"AC", kDidovNoSuchFrame, "2"},
        {"(1(1(1(1A))))", kDidovTooManyLoops, ""},
        {"(2(A))", kDidovEndlessInnerLoop, ""},
        {"A)", kDidovLoopEndWithoutLoop, ""},
        {"A!", kDidovUnknownCommand, "'!'"},
        {"a", kDidovUnknownCommand, "'a'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Parent parent;
        CDidovAnimation animation;
        animation.AddFrame(solid(Qt::red));
        animation.AddFrame(solid(Qt::green));
        animation.SetNotify(parent.target.hwnd(), 7);
        animation.SetScript(c.script);
        run(animation, 4);
        EXPECT_FALSE(animation.Running());
        EXPECT_EQ(parent.errors, std::vector<int>{c.code});
        EXPECT_EQ(parent.errorText, c.text);
        deliverPosted();
        EXPECT_TRUE(parent.ends.empty());
    }
}

TEST(DidovAnimation, CommandsMoveWrapHideAndRetime) {
    QWidget parent;
    parent.resize(200, 100);
    auto* animation = new CDidovAnimation(&parent);
    animation->AddFrame(solid(Qt::red));
    animation->resize(20, 20);
    animation->SetRange(QRect(0, 0, 100, 100));
    animation->Place(QRect(0, 0, 100, 100), 1 | 4);  // top left
    EXPECT_EQ(animation->geometry(), QRect(0, 0, 20, 20));
    animation->SetScript("~40 |2 :1 >90 A - B");
    animation->Step();
    EXPECT_EQ(animation->Interval(), 40);
    EXPECT_EQ(animation->BorderWidth(), 2);
    EXPECT_EQ(animation->BorderStyle(), 1);
    EXPECT_EQ(animation->x(), 0);  // moved past the right end: wrapped to the left
    animation->SetScript("*");
    animation->Step();
    EXPECT_EQ(animation->FrameCount(), 0);
    EXPECT_TRUE(animation->isHidden());
    EXPECT_EQ(animation->Interval(), 250);

    // Without a script the frames cycle for the counted turns.
    animation->SetScript("");
    animation->AddFrame(solid(Qt::red));
    animation->AddFrame(solid(Qt::green));
    animation->SetRepeats(2);
    EXPECT_EQ(run(*animation, 6), (std::vector<int>{1, 0, 1, -1}));
}

TEST(DidovControls, BorderBarAndTextBox) {
    QWidget parent;
    parent.resize(300, 100);
    auto* colour = new CDidovColour(&parent);
    colour->setGeometry(0, 0, 40, 20);
    colour->SetColour(0x0000FF);  // red as a Windows colour
    colour->SetBorder(0, 2);
    const QImage image = colour->grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(image.pixelColor(39, 19), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(image.pixelColor(20, 10), QColor(0xFF, 0, 0));
    colour->SetBorder(0, 0);
    EXPECT_EQ(colour->grab().toImage().pixelColor(0, 0), QColor(0xFF, 0, 0));

    auto* bar = new CDidovPercent(&parent);
    bar->setWindowTitle("Sending");
    bar->SetPercent(140, 0);
    EXPECT_EQ(bar->BarText(), "Sending   100%   ");
    bar->SetPercent(42, 3100);
    EXPECT_EQ(bar->BarText(), "Sending   42%   ( 3100 cps )");

    auto* text = new CDidovMessageControl(&parent);
    text->SetMultiLine(true);
    text->setGeometry(10, 10, 200, 10);
    text->SetText("A message long enough to need more than one line in a box this narrow.");
    text->FitToContent(200);
    EXPECT_EQ(text->x(), 10);
    EXPECT_LE(text->width(), 200);
    EXPECT_GT(text->height(), 2 * text->fontMetrics().height());
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    parent.grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/didov_controls.png");
}
