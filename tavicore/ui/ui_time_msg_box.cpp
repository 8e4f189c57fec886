#include "tavicore/ui/ui_time_msg_box.h"

#include "tavicore/ui/ui_resources.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

CTimeMsgBox::CTimeMsgBox(QWidget* parent) : QDialog(parent) {
    setModal(false);
    setFixedSize(360, 150);
    // The icon: a 32 x 32 picture at (30, 30) with the system's information icon.
    m_icon = UiSetControlId(new QLabel(this), kIconId);
    m_icon->setGeometry(30, 30, 32, 32);
    m_icon->setAlignment(Qt::AlignCenter);
    m_icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    m_text = UiSetControlId(new QLabel(this), kTextId);
    m_text->setGeometry(80, 24, 260, 70);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* ok = UiSetControlId(new QPushButton(UiDialogText(kDialogId, IDOK, "OK"), this), IDOK);
    ok->setGeometry(140, 108, 80, 28);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });
    setWindowTitle(QString::fromStdString(UiString(kDefaultCaptionId)));
    UiCentreOnDesktop(this);
}

CTimeMsgBox::~CTimeMsgBox() {
    platform::KillTimer(m_target->hwnd(), kTimerId);
}

int CTimeMsgBox::DisplayMessage(const QString& text, const QString& caption, UINT, DWORD milliseconds) {
    m_message = text;
    m_caption = QString::fromStdString(UiString(kDefaultCaptionId));
    if (!caption.isEmpty()) {
        m_caption = caption;
    }
    setWindowTitle(m_caption);
    m_displayMs = milliseconds;
    m_text->setText(m_message);
    show();
    raise();
    // Restarts a timer already running under the same id.
    platform::SetTimer(m_target->hwnd(), kTimerId, milliseconds);
    return 1;
}

void CTimeMsgBox::HideMessage() {
    hide();
}

void CTimeMsgBox::OnOK() {
    platform::KillTimer(m_target->hwnd(), kTimerId);
    hide();  // not destroyed: the object shows the next message
}

void CTimeMsgBox::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnOK();
}

void CTimeMsgBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

LRESULT CTimeMsgBox::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER && wParam == kTimerId) {
        // The time-out takes the same road as the OK button.
        platform::PostMessage(m_target->hwnd(), WM_COMMAND, IDOK, 0);
    } else if (msg == WM_COMMAND && wParam == static_cast<WPARAM>(IDOK)) {
        OnOK();
    }
    return 0;
}
