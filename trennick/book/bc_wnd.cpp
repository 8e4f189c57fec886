#include "trennick/book/bc_wnd.h"

#include "tavicore/ui/ui_window.h"

#include <QApplication>
#include <QStyle>

namespace {
constexpr int kTextSize = 10;
constexpr char kTextFace[] = "MS Serif 8,10,12,14,18,24";
constexpr int kFieldHeight = 20;
constexpr int kField3Height = 50;
}  // namespace

CBCWnd::CBCWnd(COLORREF background, int margin, int spacing)
    : CScrlWnd(background), m_margin(margin), m_spacing(spacing) {
    setWindowTitle(QStringLiteral("Site Information"));
    m_captionWnd = UiSetControlId(new CTextEditWnd("", kTextSize, kTextFace, this), kCaptionId);
    const int ids[3] = {kField1Id, kField2Id, kField3Id};
    for (int i = 0; i < 3; ++i) m_fieldWnd[i] = UiSetControlId(new CTextEditWnd("", kTextSize, kTextFace, this), ids[i]);
}

void CBCWnd::Create(int left, int top, int width, int height, QWidget* parent, bool framed) {
    setParent(parent);
    if (framed) {
        setGeometry(left + m_margin, top + m_margin, std::max(0, width - 2 * m_margin),
                    std::max(0, height - 2 * m_margin));
    } else {
        setGeometry(left, top, width, height);
    }
    show();
    Layout();
}

void CBCWnd::SetCaption(const std::string& text) {
    m_line1 = text;
    showCaption();
}

void CBCWnd::SetCaption2(const std::string& text) {
    m_line2 = text;
    showCaption();
}

void CBCWnd::showCaption() {
    if (!m_line1.empty() && !m_line2.empty()) {
        m_caption = m_line1 + "\r\n" + m_line2;
    } else {
        m_caption = m_line1.empty() ? m_line2 : m_line1;
    }
    m_captionWnd->SetText(m_caption);
}

void CBCWnd::setField(int index, const std::string& text) {
    m_fields[index] = text;
    m_fieldWnd[index]->SetText(text);
}

void CBCWnd::SetField1Text(const std::string& text) { setField(0, text); }
void CBCWnd::SetField2Text(const std::string& text) { setField(1, text); }
void CBCWnd::SetField3Text(const std::string& text) { setField(2, text); }

void CBCWnd::Layout(const RECT* area) {
    const RECT client{0, 0, width(), height()};
    const RECT r = area != nullptr ? *area : client;
    const int scrollBar = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int left = r.left + m_spacing;
    const int textWidth = std::max(0, (r.right - scrollBar - 2 * m_spacing) - left);
    const int captionTop = r.top + m_spacing + m_margin;
    const int captionHeight = m_margin + kFieldHeight;
    const int field1Top = captionTop + captionHeight + m_margin;
    const int field2Top = field1Top + kFieldHeight + m_margin;
    const int field3Top = field2Top + kFieldHeight + m_margin;
    m_captionWnd->setGeometry(left, captionTop, textWidth, captionHeight);
    m_fieldWnd[0]->setGeometry(left, field1Top, textWidth, kFieldHeight);
    m_fieldWnd[1]->setGeometry(left, field2Top, textWidth, kFieldHeight);
    m_fieldWnd[2]->setGeometry(left, field3Top, textWidth, kField3Height);
    ThumbTo(0);
    m_scrollRange = field3Top >= r.bottom ? (field3Top - r.bottom) / kStepPixels + 1 : 0;
    SetContentHeight(m_scrollRange > 0 ? height() + m_scrollRange * kStepPixels : 0);
    update();
}

void CBCWnd::resizeEvent(QResizeEvent* event) {
    CScrlWnd::resizeEvent(event);
    Layout();
}
