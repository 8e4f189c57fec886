#include "trennick/image/bitmap_button.h"

#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"

#include <QPainter>

namespace trennick {

CBitmapButton::CBitmapButton(WPARAM id, const char* fallbackText, QWidget* parent)
    : QPushButton(QString::fromLatin1(fallbackText), parent), m_id(id) {
    UiSetControlId(this, static_cast<int>(id));
    setToolTip(QString::fromStdString(UiString(static_cast<UINT>(id), fallbackText)));
}

bool CBitmapButton::LoadBitmaps(const ButtonBitmaps& bitmaps) {
    m_bitmaps = bitmaps;
    m_up = bitmaps.up != 0 ? UiBitmap(bitmaps.up) : QPixmap();
    m_down = bitmaps.down != 0 ? UiBitmap(bitmaps.down) : QPixmap();
    m_focus = bitmaps.focus != 0 ? UiBitmap(bitmaps.focus) : QPixmap();
    m_disabled = bitmaps.disabled != 0 ? UiBitmap(bitmaps.disabled) : QPixmap();
    if (!m_up.isNull()) setFixedSize(m_up.size());
    update();
    return !m_up.isNull();
}

void CBitmapButton::paintEvent(QPaintEvent* event) {
    if (m_up.isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    const QPixmap* face = &m_up;
    if (!isEnabled() && !m_disabled.isNull()) {
        face = &m_disabled;
    } else if ((isDown() || isChecked()) && !m_down.isNull()) {
        face = &m_down;
    } else if (hasFocus() && !m_focus.isNull()) {
        face = &m_focus;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, *face);
}

}  // namespace trennick
