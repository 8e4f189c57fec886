#include "trennick/image/my_controls.h"

#include "tavicore/ui/ui_resources.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

const QColor kLightGrey(192, 192, 192);

void paintLightGrey(QWidget* widget) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, kLightGrey);
    p.setColor(QPalette::Button, kLightGrey);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

QFont languageFont() {
    QFont font(QString::fromStdString(UiString(311, "DejaVu Sans")));
    const int points = std::atoi(UiString(321, "8").c_str());
    font.setPointSize(points > 0 ? points : 8);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

// ---- CMyImageCtrl ---------------------------------------------------------------

CMyImageCtrl::CMyImageCtrl(QWidget* parent) : QWidget(parent) {}

CMyImageCtrl::~CMyImageCtrl() { DestroyDIB(m_dib); }

void CMyImageCtrl::noteHome() {
    if (m_home.isNull()) m_home = geometry();
}

void CMyImageCtrl::LoadImageFile(const std::string& fileName) {
    if (!m_name.empty() && ::strcasecmp(fileName.c_str(), m_name.c_str()) == 0) return;
    noteHome();
    FreeImage(false);
    m_dib = ReadDIBFile(fileName.c_str());
    if (m_dib == nullptr) return;
    m_name = fileName.substr(0, 259);
    buildPalette();
    fit();
}

void CMyImageCtrl::LoadImageResource(UINT bitmapId) {
    const QPixmap bitmap = UiBitmap(bitmapId);
    if (bitmap.isNull()) return;
    noteHome();
    FreeImage(false);
    m_dib = BitmapToDIB(bitmap.toImage());
    if (m_dib == nullptr) return;
    m_name = "A";
    buildPalette();
    fit();
}

void CMyImageCtrl::FreeImage(bool restore) {
    DestroyDIB(m_dib);
    m_dib = nullptr;
    m_name.clear();
    m_palette.clear();
    if (restore && !m_home.isNull()) setGeometry(m_home);
    m_overlay.clear();
    update();
}

void CMyImageCtrl::SetOverlayText(const QString& text, const QPoint& at) {
    m_overlay = text;
    m_overlayAt = at;
    update();
}

void CMyImageCtrl::buildPalette() {
    m_palette.clear();
    const WORD colours = DIBNumColors(m_dib);
    if (colours == 0) return;
    DWORD headerBytes = 0;
    std::memcpy(&headerBytes, m_dib, sizeof headerBytes);
    // Four-byte entries after an info header, three-byte after a core header.
    const std::size_t entryBytes = headerBytes == 40 ? 4 : 3;
    const BYTE* table = m_dib + headerBytes;
    for (WORD i = 0; i < colours; ++i) {
        const BYTE* e = table + i * entryBytes;
        m_palette.push_back(qRgb(e[2], e[1], e[0]));
    }
}

void CMyImageCtrl::fit() {
    const DWORD size = DIBSize(m_dib);
    const int width = std::min<int>(size & 0xFFFF, m_home.width());
    const int height = std::min<int>(size >> 16, m_home.height());
    const QRect shown(m_home.left() + (m_home.width() - width) / 2, m_home.top() + (m_home.height() - height) / 2,
                      width, height);
    if (shown != geometry()) setGeometry(shown);
    update();
}

void CMyImageCtrl::paintEvent(QPaintEvent*) {
    if (m_dib == nullptr || m_name.empty()) return;
    QPainter painter(this);
    const QImage image = DIBToBitmap(this, m_dib);
    if (image.isNull()) return;
    painter.drawImage(rect(), image, QRect(0, 0, std::min(image.width(), width()), std::min(image.height(), height())));
    if (!m_overlay.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(m_overlayAt, m_overlay);
    }
}

QMenu* CMyImageCtrl::BuildContextMenu(QWidget* owner) {
    auto* menu = new QMenu(owner);
    QAction* copy = menu->addAction(QStringLiteral("Copy"), this, [this] { CopyToClipboard(); });
    copy->setData(kCmdCopy);
    copy->setEnabled(HasPicture());
    return menu;
}

void CMyImageCtrl::CopyToClipboard() {
    if (m_dib == nullptr) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QGuiApplication::clipboard()->setImage(DIBToBitmap(this, m_dib));
    QGuiApplication::restoreOverrideCursor();
}

void CMyImageCtrl::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildContextMenu(this);
    menu->exec(event->globalPos());
    delete menu;
}

// ---- CMyStaticText --------------------------------------------------------------

CMyStaticText::CMyStaticText(QWidget* parent) : QWidget(parent) { setFont(languageFont()); }

void CMyStaticText::SetText(const QString& text) {
    m_text = text;
    update();
}

void CMyStaticText::SetStyle(int style) {
    m_style = style;
    update();
}

void CMyStaticText::paintEvent(QPaintEvent*) {
    if (m_text.isEmpty()) return;
    QPainter painter(this);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    switch (m_style) {
    case 1:
        painter.fillRect(rect(), QColor(128, 128, 128));
        painter.setPen(Qt::black);
        painter.drawText(rect(), flags, m_text);
        painter.setPen(Qt::white);
        painter.drawText(rect().translated(1, 1), flags, m_text);
        break;
    case 2:
        painter.fillRect(rect(), Qt::black);
        painter.setPen(QColor(0, 255, 0));
        painter.drawText(rect(), flags, m_text);
        break;
    default:
        painter.fillRect(rect(), kLightGrey);
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, m_text);
        break;
    }
}

// ---- light-grey controls ----------------------------------------------------------

CMyAnimCtrl::CMyAnimCtrl(QWidget* parent) : QLabel(parent) { paintLightGrey(this); }

CMySliderCtrl::CMySliderCtrl(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {
    paintLightGrey(this);
}

// ---- CCutTextCtrl ------------------------------------------------------------------

CCutTextCtrl::CCutTextCtrl(int maxShownChars, QWidget* parent) : QLabel(parent), m_maxShown(std::max(0, maxShownChars)) {}

void CCutTextCtrl::SetText(const QString& text, const QString& second) {
    m_full = text;
    m_second = second;
    setText(m_full.left(m_maxShown));
}

QMenu* CCutTextCtrl::BuildContextMenu(QWidget* owner) {
    auto* menu = new QMenu(owner);
    QAction* act = menu->addAction(QStringLiteral("Open"), this, [this] { OnDo(); });
    act->setData(kCmdDo);
    QAction* clear = menu->addAction(QStringLiteral("Clear"), this, [this] { SetText(QString(), QString()); });
    clear->setData(kCmdClear);
    clear->setEnabled(!m_full.isEmpty());
    return menu;
}

void CCutTextCtrl::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildContextMenu(this);
    menu->exec(event->globalPos());
    delete menu;
}
