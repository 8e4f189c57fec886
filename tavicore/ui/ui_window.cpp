#include "tavicore/ui/ui_window.h"

#include "common/lumo_deb.h"
#include "tavicore/frame_rtv.h"
#include "tavicore/ui/ui_resources.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <atomic>
#include <cstdio>

UiMessageTarget::UiMessageTarget(Handler handler) : m_handler(std::move(handler)) {
    create();
}

UiMessageTarget::~UiMessageTarget() {
    destroy();
}

// Every message goes to the owner, WM_CLOSE included: the owner widget decides
// when it goes, and the target lives exactly as long as it.
LRESULT UiMessageTarget::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return m_handler ? m_handler(msg, wParam, lParam) : 0;
}

QString UiControlName(int controlId) {
    return QStringLiteral("id%1").arg(controlId);
}

namespace {
std::atomic<bool> g_unattended{false};

// The player's failures: a box for its user; written out instead when nobody
// can answer one, and only traced where there is no widget application at all.
void showRtvNotice(UINT textId, const char* text) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    UiMessageBox(nullptr, UiString(textId, text), UiString(10000, "Velmoor"), MB_OK | MB_ICONEXCLAMATION);
}

[[maybe_unused]] const bool g_rtvNoticeShown = (SetRtvNoticePresenter(&showRtvNotice), true);
}  // namespace

void UiSetUnattended(bool unattended) { g_unattended = unattended; }

bool UiUnattended() { return g_unattended; }

bool UiPlatformHasNoDisplay() {
    const QString name = QGuiApplication::platformName();
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr ||
           name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

void UiReportBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    LUMO_TRACE(1, "%s: %s", caption.c_str(), text.c_str());
}

int UiMessageBox(QWidget* parent, const std::string& text, const std::string& caption, UINT type) {
    const bool yesNoBox = (type & 0x0F) == MB_YESNO;
    if ((type & 0xF0) == MB_ICONSTOP || g_unattended) {
        UiReportBox(text, caption);
    }
    if (g_unattended) {
        if (yesNoBox) {
            return IDNO;
        }
        return (type & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    QMessageBox box(parent);
    box.setObjectName(kUiMessageBoxName);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (type & 0xF0) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    const bool yesNo = (type & 0x0F) == MB_YESNO;
    if (yesNo) {
        UiSetControlId(box.addButton(QMessageBox::Yes), IDYES);
        UiSetControlId(box.addButton(QMessageBox::No), IDNO);
        box.setEscapeButton(QMessageBox::No);
    } else {
        UiSetControlId(box.addButton(QMessageBox::Ok), IDOK);
        if ((type & 0x0F) == MB_OKCANCEL) {
            UiSetControlId(box.addButton(QMessageBox::Cancel), IDCANCEL);
            box.setEscapeButton(QMessageBox::Cancel);
        }
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return yesNo ? IDNO : IDCANCEL;
    }
}

void UiCentreOnDesktop(QWidget* widget) {
    if (widget == nullptr) {
        return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    widget->adjustSize();
    QRect frame = widget->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    widget->move(frame.topLeft());
}
