#include "trennick/image/ctrl_windows.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace {
QColor fromColorRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
}  // namespace

CCntrlWnd::CCntrlWnd(QWidget* parent) : QWidget(parent) {}

void CCntrlWnd::OnContentChanged() { m_skipErase = true; }

bool CCntrlWnd::EraseBackground(QPainter& painter) {
    if (m_skipErase) {
        m_skipErase = false;
        return false;
    }
    painter.fillRect(rect(), fromColorRef(m_background));
    return true;
}

void CCntrlWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    EraseBackground(painter);
}

CScrlWnd::CScrlWnd(COLORREF background, QWidget* parent) : CCntrlWnd(parent) { SetBackground(background); }

void CScrlWnd::SetContentHeight(int pixels) {
    m_contentHeight = std::max(0, pixels);
    scrollTo(m_position);
}

int CScrlWnd::Range() const { return std::max(0, m_contentHeight - height()); }

int CScrlWnd::pageSteps() const { return std::max(1, height() / kStepPixels); }

void CScrlWnd::scrollTo(int position) {
    const int bounded = std::clamp(position, 0, Range());
    if (bounded == m_position) return;
    const int delta = m_position - bounded;
    m_position = bounded;
    OnContentChanged();
    scroll(0, delta);
    update();
}

CTextEditWnd::CTextEditWnd(const std::string& text, int pointSize, const char* faceName, QWidget* parent)
    : QPlainTextEdit(parent) {
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(0);
    QFont font(QString::fromLatin1(faceName != nullptr ? faceName : ""));
    font.setPointSize(std::max(1, pointSize));
    setFont(font);
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    setPalette(p);
    SetText(text);
}

void CTextEditWnd::SetText(const std::string& text) {
    m_text = text;
    setPlainText(QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void CTextEditWnd::MoveToRect(const RECT* rectangle) {
    if (rectangle != nullptr) {
        setGeometry(rectangle->left, rectangle->top, rectangle->right - rectangle->left,
                    rectangle->bottom - rectangle->top);
    } else if (QWidget* p = parentWidget()) {
        setGeometry(p->rect());
    }
    update();
}
