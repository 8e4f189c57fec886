#include "tavicore/ui/ui_window.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

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

int UiMessageBox(QWidget* parent, const std::string& text, const std::string& caption, UINT type) {
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
