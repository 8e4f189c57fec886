#pragma once
// Helpers of the window tests: the language library installed, modal windows
// answered as a user would, a guard that ends a hung modal loop, and pictures
// of the windows saved under the build tree.

#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace uitest {

inline void installLanguage() {
    ASSERT_EQ(UiInstallLanguageLibrary(), 1) << "libglossel.so must lie beside the test program";
}

// Saves a picture of the widget as <screenshots>/<name>.png.
inline void saveScreenshot(QWidget* widget, const char* name) {
#ifdef VELMOOR_SCREENSHOT_DIR
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    const QString file = QStringLiteral(VELMOOR_SCREENSHOT_DIR "/%1.png").arg(name);
    EXPECT_TRUE(widget->grab().save(file)) << file.toStdString();
#endif
}

// Runs `action` on the next modal window that is not `except`, once it is up.
inline void whenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action = std::move(action), except] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == except || !modal->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        action(modal);
    });
    poll->start();
}

// Fails the test and closes every modal window if the test is still running
// after `seconds`, so a dialog that never ends cannot hang the test.
class Guard {
public:
    explicit Guard(int seconds = 20) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            ADD_FAILURE() << "guard timer fired: a window did not end";
            while (QWidget* modal = QApplication::activeModalWidget()) {
                modal->hide();
                QApplication::processEvents();
                if (QApplication::activeModalWidget() == modal) {
                    break;
                }
            }
            QApplication::exit(1);
        });
        m_timer.start(seconds * 1000);
    }

private:
    QTimer m_timer;
};

}  // namespace uitest
