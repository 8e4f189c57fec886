#include "trennick/ui/didov_controls.h"

#include "common/lumo_deb.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"

#include <QPainter>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

constexpr platform::UINT_PTR kStepTimer = 1;
constexpr int kMessageInset = 4;
constexpr int kBlankInterval = 250;

QColor fromColorRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

// ---- CDidovControl -----------------------------------------------------------

CDidovControl::CDidovControl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // never erases its background
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });
    show();
}

CDidovControl::~CDidovControl() { platform::KillTimer(m_target->hwnd(), kStepTimer); }

platform::HWND CDidovControl::Handle() const { return m_target->hwnd(); }

void CDidovControl::SetBorder(int style, int widthPx) {
    m_borderStyle = style;
    m_borderWidth = std::max(0, widthPx);
    update();
}

void CDidovControl::SetNotify(platform::HWND window, int controlId) {
    m_notify = window;
    m_controlId = controlId;
}

QRect CDidovControl::insideRect() const {
    return rect().adjusted(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
}

void CDidovControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = m_borderWidth;
    if (w > 0) {
        const QColor grey(0x80, 0x80, 0x80), white(0xFF, 0xFF, 0xFF);
        const QColor topLeft = m_borderStyle != 0 ? white : grey;
        const QColor bottomRight = m_borderStyle != 0 ? grey : white;
        painter.fillRect(0, 0, width(), w, topLeft);
        painter.fillRect(0, 0, w, height(), topLeft);
        painter.fillRect(0, height() - w, width(), w, bottomRight);
        painter.fillRect(width() - w, 0, w, height(), bottomRight);
    }
    const QRect area = insideRect();
    if (area.isValid()) paintInside(painter, area);
}

void CDidovControl::paintInside(QPainter&, const QRect&) {}

void CDidovControl::notifyEnd() {
    if (m_notify == 0) return;
    platform::PostMessage(m_notify, WM_COMMAND, static_cast<WPARAM>(m_controlId),
                          static_cast<LPARAM>(0x10000 + (Handle() & 0xFFFF)));
}

void CDidovControl::notifyError(int code, const std::string& text) {
    LUMO_TRACE(3, "CDidovControl: script error %d %s", code, text.c_str());
    if (m_notify == 0) return;
    platform::SendMessage(m_notify, kMsgDidovScriptError, static_cast<WPARAM>(code),
                          reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT CDidovControl::onMessage(UINT, WPARAM, LPARAM) { return 0; }

// ---- text controls -------------------------------------------------------------

void CDidovControlWithFont::SetText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    update();
}

int CDidovMessageControl::textFlags() const {
    const int wrap = m_multiLine ? int(Qt::TextWordWrap) : int(Qt::AlignHCenter);
    return int(Qt::AlignVCenter) | int(Qt::TextHideMnemonic) | wrap;
}

void CDidovMessageControl::paintInside(QPainter& painter, const QRect& area) {
    // The dialog's own background, then the text inset by 4 pixels.
    QWidget* dialog = parentWidget() != nullptr ? parentWidget() : this;
    painter.fillRect(area, dialog->palette().brush(QPalette::Window));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect text = area.adjusted(kMessageInset, kMessageInset, -kMessageInset, -kMessageInset);
    painter.drawText(text, textFlags() & ~Qt::AlignHCenter, m_text);
}

void CDidovMessageControl::FitToContent(int maxWidthPx) {
    const int grow = kMessageInset + BorderWidth();
    const QRect bounds(0, 0, std::max(1, maxWidthPx - 2 * grow), 10000);
    const QRect measured = fontMetrics().boundingRect(bounds, textFlags() & ~Qt::AlignVCenter, m_text);
    const QSize size(measured.width() + 2 * grow, measured.height() + 2 * grow);
    QRect target(geometry().topLeft(), size);
    if (!m_multiLine) target.moveLeft(geometry().center().x() - size.width() / 2);
    setGeometry(target);
}

// ---- painted variants -----------------------------------------------------------

void CDidovBitmap::SetBitmap(const QPixmap& bitmap) {
    m_bitmap = bitmap;
    update();
}

void CDidovBitmap::paintInside(QPainter& painter, const QRect& area) {
    if (m_bitmap.isNull()) return;
    QPoint at = area.topLeft();
    if (m_bitmap.width() < area.width() && m_bitmap.height() < area.height()) {
        at += QPoint((area.width() - m_bitmap.width()) / 2, (area.height() - m_bitmap.height()) / 2);
    }
    painter.setClipRect(area);
    painter.drawPixmap(at, m_bitmap);
}

void CDidovPercent::SetPercent(int percent, DWORD ratePerSecond) {
    m_percent = std::clamp(percent, 0, 100);
    m_rate = ratePerSecond;
    update();
}

QString CDidovPercent::BarText() const {
    QString text = windowTitle() + QStringLiteral("   %1%   ").arg(m_percent);
    if (m_rate != 0) text += QStringLiteral("( %1 cps )").arg(m_rate);
    return text;
}

void CDidovPercent::paintInside(QPainter& painter, const QRect& area) {
    QPixmap off(area.size());
    off.fill(QColor(192, 192, 192));
    QPainter bar(&off);
    bar.fillRect(0, 0, area.width() * m_percent / 100, area.height(), QColor(0, 0, 0xFF));
    bar.setFont(parentWidget() != nullptr ? parentWidget()->font() : font());
    bar.setPen(Qt::white);
    bar.drawText(off.rect(), Qt::AlignCenter | Qt::TextSingleLine, BarText());
    bar.end();
    painter.drawPixmap(area.topLeft(), off);
}

void CDidovColour::SetColour(COLORREF colour) {
    m_colour = fromColorRef(colour);
    update();
}

void CDidovColour::paintInside(QPainter& painter, const QRect& area) { painter.fillRect(area, m_colour); }

// ---- animation ---------------------------------------------------------------------

void CDidovAnimation::SetScript(const std::string& script) {
    m_script = script;
    m_at = 0;
    m_depth = 0;
}

void CDidovAnimation::SetInterval(int ms) {
    m_intervalMs = std::max(10, ms);
    if (m_running) platform::SetTimer(Handle(), kStepTimer, static_cast<UINT>(m_intervalMs));
}

void CDidovAnimation::Start() {
    m_running = true;
    platform::SetTimer(Handle(), kStepTimer, static_cast<UINT>(m_intervalMs));
}

void CDidovAnimation::Stop() {
    m_running = false;
    platform::KillTimer(Handle(), kStepTimer);
}

LRESULT CDidovAnimation::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER && wParam == kStepTimer && m_running) Step();
    return 0;
}

void CDidovAnimation::Place(const QRect& area, int flags) {
    m_placeArea = area;
    m_placeFlags = flags;
    QRect r = area;
    if (flags & 0x10) r.setBottom(r.top() + r.height() / 2 - 1);
    if (flags & 0x20) r.setTop(r.top() + r.height() / 2);
    if (flags & 0x40) r.setRight(r.left() + r.width() / 2 - 1);
    if (flags & 0x80) r.setLeft(r.left() + r.width() / 2);
    const QSize size = this->size().boundedTo(r.size());
    int x = r.left() + (r.width() - size.width()) / 2;
    int y = r.top() + (r.height() - size.height()) / 2;
    if (flags & 1) y = r.top();
    if (flags & 2) y = r.bottom() + 1 - size.height();
    if (flags & 4) x = r.left();
    if (flags & 8) x = r.right() + 1 - size.width();
    setGeometry(x, y, size.width(), size.height());
}

void CDidovAnimation::move(int dx, int dy) {
    QRect g = geometry().translated(dx, dy);
    if (m_range.isValid()) {
        if (g.left() < m_range.left()) g.moveRight(m_range.right());
        if (g.right() > m_range.right()) g.moveLeft(m_range.left());
        if (g.top() < m_range.top()) g.moveBottom(m_range.bottom());
        if (g.bottom() > m_range.bottom()) g.moveTop(m_range.top());
    }
    setGeometry(g);
}

void CDidovAnimation::Step() {
    if (m_script.empty()) {
        stepFrames();
    } else {
        stepScript();
    }
    update();
}

void CDidovAnimation::stepFrames() {
    if (m_frames.empty()) return;
    if (++m_frame < FrameCount()) return;
    m_frame = 0;
    if (m_repeats == -1) return;
    if (--m_repeats <= 0) finish();
}

void CDidovAnimation::finish() {
    Stop();
    notifyEnd();
}

void CDidovAnimation::fail(int code, const std::string& text) {
    Stop();
    notifyError(code, text);
}

int CDidovAnimation::readNumber(bool* found) {
    long value = 0;
    bool any = false;
    while (m_at < m_script.size() && std::isdigit(static_cast<unsigned char>(m_script[m_at]))) {
        value = std::min(value * 10 + (m_script[m_at] - '0'), 0x7FFFFFFFL);
        ++m_at;
        any = true;
    }
    if (found != nullptr) *found = any;
    return static_cast<int>(value);
}

void CDidovAnimation::stepScript() {
    while (m_at < m_script.size()) {
        const char c = m_script[m_at++];
        if (static_cast<unsigned char>(c) <= ' ') continue;
        if (c >= 'A' && c <= 'Z') {
            const int frame = c - 'A';
            if (frame >= FrameCount()) {
                fail(kDidovNoSuchFrame, std::to_string(frame));
                return;
            }
            m_frame = frame;
            for (int level = 0; level < m_depth; ++level) m_loops[level].framed = true;
            return;
        }
        switch (c) {
        case '*':
            m_frames.clear();
            m_frame = 0;
            hide();
            SetInterval(kBlankInterval);
            break;
        case '#': {
            const int id = readNumber();
            const QPixmap bitmap = id > 0 ? UiBitmap(static_cast<UINT>(id)) : QPixmap();
            if (!bitmap.isNull()) {
                m_frames.push_back(bitmap);
            } else {
                LUMO_TRACE(3, "CDidovAnimation: no bitmap %d", id);
            }
            break;
        }
        case '(': {
            if (m_depth >= kMaxLoops) {
                fail(kDidovTooManyLoops, std::string());
                return;
            }
            const int count = readNumber();
            if (count == 0 && m_depth > 0) {
                fail(kDidovEndlessInnerLoop, std::string());
                return;
            }
            m_loops[m_depth++] = Loop{count == 0 ? -1 : count, m_at, false};
            break;
        }
        case ')': {
            if (m_depth == 0) {
                fail(kDidovLoopEndWithoutLoop, std::string());
                return;
            }
            Loop& loop = m_loops[m_depth - 1];
            if (loop.remaining == -1 || --loop.remaining > 0) {
                m_at = loop.start;
                const bool framed = std::exchange(loop.framed, false);
                // A turn that showed no frame: the next turn waits for the
                // next tick, so a frameless endless loop never holds the thread.
                if (!framed) return;
                break;
            }
            --m_depth;
            break;
        }
        case '+':
            show();
            break;
        case '-':
            hide();
            break;
        case ':':
            SetBorder(readNumber(), BorderWidth());
            break;
        case '|':
            SetBorder(BorderStyle(), readNumber());
            break;
        case '@':
            Place(m_placeArea.isValid() ? m_placeArea : geometry(), readNumber());
            break;
        case '<':
            move(-readNumber(), 0);
            break;
        case '>':
            move(readNumber(), 0);
            break;
        case '^':
            move(0, -readNumber());
            break;
        case 'v':
            move(0, readNumber());
            break;
        case '~':
            SetInterval(readNumber());
            break;
        default:
            fail(kDidovUnknownCommand, std::string("'") + c + "'");
            return;
        }
    }
    finish();
}

void CDidovAnimation::paintInside(QPainter& painter, const QRect& area) {
    if (m_frame < 0 || m_frame >= FrameCount()) return;
    const QPixmap& frame = m_frames[static_cast<std::size_t>(m_frame)];
    painter.setClipRect(area.intersected(QRect(area.topLeft(), frame.size())));
    painter.drawPixmap(area.topLeft(), frame);
}
