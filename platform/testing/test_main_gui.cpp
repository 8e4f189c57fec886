// The main of test programs that build windows: the same as the headless main,
// with a widget application on the off-screen platform, so dialogs and controls
// are created, driven by key and mouse events and grabbed without a display.

#include "platform/testing/test_main_common.h"

#include <QApplication>

int main(int argc, char** argv) {
    return velmoor::testing::runTestMain(argc, argv, [](int& count, char** values) {
        return std::unique_ptr<QCoreApplication>(std::make_unique<QApplication>(count, values));
    });
}
