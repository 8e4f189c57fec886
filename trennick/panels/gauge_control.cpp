#include "trennick/panels/gauge_control.h"

#include "tavicore/ui/ui_window.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPalette>
#include <QToolTip>
#include <cstdio>

namespace trennick {

CGaugeControl::CGaugeControl(QWidget* owner) : QProgressBar(owner) {
    // The erase of the background: light grey, RGB(192, 192, 192).
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::Base, QColor(192, 192, 192));
    setPalette(palette);
    setAutoFillBackground(true);
    setTextVisible(false);
}

void CGaugeControl::Create(QWidget* owner, const QRect& rect, int id) {
    if (owner != nullptr && parentWidget() != owner) setParent(owner);
    m_owner = owner;
    m_id = id;
    UiSetControlId(this, id);
    setGeometry(rect);
    HideGauge();
}

void CGaugeControl::ShowGauge() {
    setVisible(true);
    setEnabled(true);
    SetPos(0);
}

void CGaugeControl::HideGauge() {
    setVisible(false);
    setEnabled(false);
    SetPos(0);
}

void CGaugeControl::SetRange(SHORT low, SHORT high) { setRange(low, high); }

void CGaugeControl::SetCaption(const std::string& caption) {
    m_caption = caption.substr(0, kGaugeCaptionChars);
    setWindowTitle(QString::fromStdString(m_caption));
}

void CGaugeControl::SetPos(LONG position) {
    if (position == m_position && position != 0) return;
    m_position = position;
    setValue(static_cast<int>(position));
}

std::string CGaugeControl::GetTipText(std::size_t bufferChars) const {
    if (bufferChars == 0) return {};
    std::string text = m_caption + " " + std::to_string(m_position) + "%";
    if (text.size() > bufferChars - 1) text.resize(bufferChars - 1);
    return text;
}

bool CGaugeControl::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), QString::fromStdString(GetTipText()), this);
        return true;
    }
    return QProgressBar::event(event);
}

}  // namespace trennick
