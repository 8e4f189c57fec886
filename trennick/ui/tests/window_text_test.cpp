#include "trennick/ui/window_text.h"

#include "tavicore/ui/testing/ui_test_support.h"

#include <QLabel>
#include <QPaintEvent>

namespace {

// Counts its paints, so a test sees whether setting the text redrew it.
template <class Base>
class Counted : public Base {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        Base::paintEvent(event);
    }
};

}  // namespace

TEST(WindowText, ALabelIsRedrawnOnlyWhenItsTextChanges) {
    Counted<QLabel> label;
    label.setText("Ready");
    label.show();
    QCoreApplication::processEvents();
    const int before = label.paints;

    EXPECT_FALSE(trennick::SetWindowTextIfChanged(&label, "Ready"));
    EXPECT_EQ(label.paints, before);

    EXPECT_TRUE(trennick::SetWindowTextIfChanged(&label, "Connected 33600"));
    EXPECT_EQ(label.text().toStdString(), "Connected 33600");
    // Redrawn at once, without waiting for the event loop.
    EXPECT_GT(label.paints, before);
    EXPECT_EQ(trennick::WindowText(&label), "Connected 33600");
}

TEST(WindowText, AnyOtherWindowHasItsTitleSet) {
    Counted<QWidget> window;
    window.setWindowTitle("Velmoor");
    EXPECT_FALSE(trennick::SetWindowTextIfChanged(&window, "Velmoor"));
    EXPECT_TRUE(trennick::SetWindowTextIfChanged(&window, "Velmoor-North gate"));
    EXPECT_EQ(window.windowTitle().toStdString(), "Velmoor-North gate");
    EXPECT_EQ(trennick::WindowText(&window), "Velmoor-North gate");
}

TEST(WindowText, ANullWindowIsLeftAlone) {
    EXPECT_FALSE(trennick::SetWindowTextIfChanged(nullptr, "x"));
    EXPECT_EQ(trennick::WindowText(nullptr), "");
}
