// The bitmaps of the program's user interface. They are drawn once, on first
// use, and kept as bitmap files in memory for the library's lifetime.

#include "resources/glossel.h"
#include "resources/glossel_ids.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <map>
#include <mutex>

namespace {

const QColor kMask(255, 0, 255);          // transparent colour of masked images
const QColor kLcdBack(0x9C, 0xB0, 0x86);  // liquid-crystal background
const QColor kLcdInk(0x20, 0x2C, 0x20);

// Text is drawn only when the process has a graphical application: fonts need it.
bool canDrawText() {
    return QGuiApplication::instance() != nullptr;
}

QFont labelFont(int pixelSize, bool bold) {
    QFont font("DejaVu Sans");
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void drawText(QPainter& p, const QRect& r, const QString& text, int pixelSize, bool bold = true,
              const QColor& colour = Qt::black) {
    if (!canDrawText()) {
        return;
    }
    p.setFont(labelFont(pixelSize, bold));
    p.setPen(colour);
    p.drawText(r, Qt::AlignCenter, text);
}

QImage badge(const QColor& fill, const QString& sign) {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(fill);
    p.setPen(QPen(fill.darker(150), 1.5));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    drawText(p, QRect(2, 2, 28, 28), sign, 20, true, Qt::white);
    return image;
}

QImage person(int size, const QColor& colour, const QColor& back) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(back);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const qreal s = size;
    p.drawEllipse(QRectF(s * 0.33, s * 0.08, s * 0.34, s * 0.34));
    p.drawChord(QRectF(s * 0.12, s * 0.48, s * 0.76, s * 0.9), 0, 180 * 16);
    return image;
}

QImage padlock() {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(13, 5, 22, 24), 0, 180 * 16);
    p.drawLine(QPointF(13, 17), QPointF(13, 22));
    p.drawLine(QPointF(35, 17), QPointF(35, 22));
    p.setPen(QPen(QColor(0x8A, 0x6D, 0x10), 1));
    p.setBrush(QColor(0xE8, 0xB8, 0x20));
    p.drawRoundedRect(QRectF(8, 21, 32, 23), 3, 3);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(21, 28, 6, 6));
    p.drawRect(QRectF(23, 32, 2, 7));
    return image;
}

// The video toolbar's strip: 25 images of 16 x 15 pixels. 0 to 15 the cameras
// by number, 16 a triggered camera, 17 and 18 a relay off and on, 19 and 20 the
// same for a relay of another type, 21 quad view, 22 automatic switching, 23 PTZ,
// 24 the second quad view when active.
QImage toolbarStrip() {
    constexpr int kImages = 25;
    QImage image(16 * kImages, 15, QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter p(&image);
    auto cell = [](int i) { return QRect(i * 16, 0, 16, 15); };
    for (int c = 0; c < 16; ++c) {
        p.fillRect(cell(c).adjusted(1, 2, -3, -2), QColor(0x30, 0x50, 0x90));
        p.fillRect(QRect(c * 16 + 13, 5, 2, 5), QColor(0x30, 0x50, 0x90));
        drawText(p, cell(c).adjusted(1, 2, -3, -2), QString::number(c + 1), 9, true, Qt::white);
    }
    p.fillRect(cell(16).adjusted(1, 2, -3, -2), QColor(0xD0, 0x20, 0x20));
    p.fillRect(QRect(16 * 16 + 13, 5, 2, 5), QColor(0xD0, 0x20, 0x20));
    drawText(p, cell(16).adjusted(1, 2, -3, -2), "!", 10, true, Qt::white);
    const QColor relayOff(0x50, 0x50, 0x50);
    const QColor relayOn(0x20, 0xC0, 0x20);
    for (int i = 0; i < 4; ++i) {
        QRect r = cell(17 + i).adjusted(3, 3, -3, -2);
        p.setPen(Qt::black);
        p.setBrush(i % 2 == 0 ? relayOff : relayOn);
        if (i < 2) {
            p.drawEllipse(r);
        } else {
            p.drawRect(r.adjusted(0, 0, -1, -1));
        }
    }
    for (int i : {21, 24}) {
        const QColor ink = i == 21 ? QColor(0x30, 0x50, 0x90) : QColor(0x90, 0x30, 0x50);
        QRect r = cell(i).adjusted(1, 1, -2, -1);
        p.fillRect(QRect(r.left(), r.top(), 6, 6), ink);
        p.fillRect(QRect(r.left() + 7, r.top(), 6, 6), ink);
        p.fillRect(QRect(r.left(), r.top() + 7, 6, 6), ink);
        p.fillRect(QRect(r.left() + 7, r.top() + 7, 6, 6), ink);
    }
    {
        QRect r = cell(22).adjusted(2, 2, -2, -2);
        p.setPen(QPen(QColor(0x30, 0x50, 0x90), 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(r, 30 * 16, 300 * 16);
        p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.top() + 5);
    }
    drawText(p, cell(23), "P", 11, true, QColor(0x30, 0x50, 0x90));
    return image;
}

QImage lcdBackground() {
    QImage image(190, 52, QImage::Format_RGB32);
    image.fill(kLcdBack);
    QPainter p(&image);
    p.setPen(kLcdBack.darker(115));
    p.drawRect(0, 0, 189, 51);
    p.drawLine(2, 19, 187, 19);
    p.drawLine(2, 35, 187, 35);
    return image;
}

QImage lcdLamp(int w, int h, const QString& label) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kLcdBack);
    QPainter p(&image);
    p.fillRect(QRect(0, 0, w, h), kLcdInk);
    drawText(p, QRect(0, 0, w, h), label, h - 3, true, kLcdBack);
    return image;
}

// A meter of `level` lit segments out of ten.
QImage lcdMeter(int w, int level) {
    QImage image(w, 10, QImage::Format_RGB32);
    image.fill(kLcdBack);
    QPainter p(&image);
    const int step = w / 10;
    for (int i = 0; i < 10; ++i) {
        QRect r(i * step + 1, 9 - (i * 8) / 9 - 1, step - 2, (i * 8) / 9 + 1);
        if (i < level) {
            p.fillRect(r, kLcdInk);
        } else {
            p.fillRect(QRect(r.left(), 8, r.width(), 1), kLcdBack.darker(125));
        }
    }
    return image;
}

QImage plain(int w, int h, const QColor& colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

enum class Face { Up, Down, Focus, Disabled };

// A picture button's face: raised, pressed, focused or greyed, with its label.
// With `fitLabel` the face is widened, when it must be, to hold its whole label.
QImage buttonFace(const QString& label, Face face, const QColor& ink, int kW = 36, int kH = 28, bool fitLabel = false) {
    const int pixelSize = kW < 30 ? 7 : 9;
    if (fitLabel && canDrawText()) {
        constexpr int kLabelMargin = 8;  // the border lines and the focus frame on both sides
        kW = std::max(kW, QFontMetrics(labelFont(pixelSize, true)).horizontalAdvance(label) + kLabelMargin);
    }
    QImage image(kW, kH, QImage::Format_RGB32);
    const QColor back(0xC0, 0xC0, 0xC0);
    image.fill(face == Face::Down ? back.darker(115) : back);
    QPainter p(&image);
    const bool down = face == Face::Down;
    p.setPen(down ? QColor(0x40, 0x40, 0x40) : Qt::white);
    p.drawLine(0, 0, kW - 1, 0);
    p.drawLine(0, 0, 0, kH - 1);
    p.setPen(down ? Qt::white : QColor(0x40, 0x40, 0x40));
    p.drawLine(kW - 1, 0, kW - 1, kH - 1);
    p.drawLine(0, kH - 1, kW - 1, kH - 1);
    if (face == Face::Focus) {
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        p.drawRect(3, 3, kW - 7, kH - 7);
    }
    const QColor colour = face == Face::Disabled ? QColor(0x80, 0x80, 0x80) : ink;
    const int shift = down ? 1 : 0;
    drawText(p, QRect(1 + shift, 1 + shift, kW - 2, kH - 2), label, pixelSize, true, colour);
    return image;
}

struct ButtonBitmap {
    UINT id;
    const char* label;
    Face face;
    unsigned ink;  // 0xRRGGBB
};

// The main window's button row, four faces per button (up, down, focus,
// disabled) where the button has them.
constexpr ButtonBitmap kButtonBitmaps[] = {
    {173, "Call", Face::Up, 0x206020},       {175, "Call", Face::Down, 0x206020},
    {176, "Call", Face::Focus, 0x206020},    {177, "Call", Face::Disabled, 0x206020},
    {344, "Phone", Face::Up, 0x206020},      {341, "Phone", Face::Down, 0x206020},
    {342, "Phone", Face::Focus, 0x206020},   {343, "Phone", Face::Disabled, 0x206020},
    {283, "Hang up", Face::Up, 0xA02020},    {280, "Hang up", Face::Down, 0xA02020},
    {281, "Hang up", Face::Focus, 0xA02020}, {282, "Hang up", Face::Disabled, 0xA02020},
    {180, "Video", Face::Up, 0x203080},      {178, "Video", Face::Down, 0x203080},
    {179, "Video", Face::Focus, 0x203080},   {181, "Video", Face::Disabled, 0x203080},
    {182, "Files", Face::Up, 0x203080},      {183, "Files", Face::Down, 0x203080},
    {184, "Files", Face::Focus, 0x203080},   {185, "Files", Face::Disabled, 0x203080},
    {186, "Chat", Face::Up, 0x203080},       {189, "Chat", Face::Down, 0x203080},
    {187, "Chat", Face::Focus, 0x203080},    {188, "Chat", Face::Disabled, 0x203080},
    {306, "Setup", Face::Up, 0x404040},      {301, "Setup", Face::Down, 0x404040},
    {302, "Setup", Face::Focus, 0x404040},   {304, "Setup", Face::Disabled, 0x404040},
    {206, "Less", Face::Up, 0x404040},       {207, "Less", Face::Down, 0x404040},
    {205, "More", Face::Up, 0x404040},       {204, "More", Face::Down, 0x404040},
    {231, "Cards", Face::Up, 0x604020},      {233, "Cards", Face::Down, 0x604020},
    {232, "Cards", Face::Focus, 0x604020},   {234, "Cards", Face::Disabled, 0x604020},
    {IDB_SMYIMAGEU, "My video", Face::Up, 0x203080},
    {IDB_SMYIMAGED, "My video", Face::Down, 0x203080},
    {IDB_SMYIMAGEF, "My video", Face::Focus, 0x203080},
    {IDB_SMYIMAGEX, "My video", Face::Disabled, 0x203080},
    {IDB_BTN_ARMU, "Arm", Face::Up, 0xA02020},
    {IDB_BTN_ARMD, "Arm", Face::Down, 0xA02020},
    {IDB_BTN_ARM_DISABLED, "Arm", Face::Disabled, 0xA02020},
    {IDB_BTN_DISARMU, "Arm", Face::Up, 0x206020},
    {IDB_BTN_AUDU, "Talk", Face::Up, 0x206020},
    {IDB_BTN_AUDD, "Talk", Face::Down, 0x206020},
    {IDB_BTN_AUDX, "Talk", Face::Disabled, 0x206020},
    {IDI_DEBRIEF, "Events", Face::Up, 0x203080},
};

// The remote camera window's small (22 x 22) buttons and status pictures.
constexpr ButtonBitmap kSmallBitmaps[] = {
    {227, "Menu", Face::Up, 0x404040},      {228, "Menu", Face::Down, 0x404040},
    {229, "Menu", Face::Focus, 0x404040},   {230, "Menu", Face::Disabled, 0x404040},
    {491, "Snap", Face::Up, 0x203080},      {488, "Snap", Face::Down, 0x203080},
    {489, "Snap", Face::Focus, 0x203080},   {490, "Snap", Face::Disabled, 0x203080},
    {423, "Rec", Face::Up, 0xA02020},       {421, "Rec", Face::Down, 0xA02020},
    {441, "Rec", Face::Disabled, 0xA02020}, {430, "Stop", Face::Up, 0x404040},
    {429, "Stop", Face::Down, 0x404040},    {108, "CIF", Face::Up, 0x206020},
    {106, "CIF", Face::Down, 0x206020},     {107, "CIF", Face::Focus, 0x206020},
    {109, "CIF", Face::Disabled, 0x206020}, {437, "QCIF", Face::Up, 0x206020},
    {440, "QCIF", Face::Down, 0x206020},    {439, "QCIF", Face::Focus, 0x206020},
    {438, "QCIF", Face::Disabled, 0x206020}, {434, "REC", Face::Up, 0xE02020},
    {435, "", Face::Up, 0x404040},          {312, "Stall", Face::Up, 0xA06000},
    {311, "", Face::Up, 0x404040},          {IDB_HOLD, "Hold", Face::Up, 0xA02020},
    {313, "Pause", Face::Up, 0x203080},     {309, "-", Face::Up, 0x404040},
    {310, "+", Face::Up, 0x404040},         {IDB_SMALL_LESS, "<<", Face::Up, 0x404040},
    {IDB_SMALL_LESS_DOWN, "<<", Face::Down, 0x404040}, {IDB_SMALL_MORE, ">>", Face::Up, 0x404040},
    {IDB_SMALL_MORE_DOWN, ">>", Face::Down, 0x404040}, {IDB_SMALL_HOLDU, "Hold", Face::Up, 0xA02020},
    {IDB_SMALL_HOLDD, "Hold", Face::Down, 0xA02020}, {IDB_SMALL_HOLDF, "Hold", Face::Focus, 0xA02020},
    {IDB_SMALL_HOLDX, "Hold", Face::Disabled, 0xA02020},
};

// The video toolbar's six check buttons: four single views, quad, automatic switching.
QImage videoToolbarStrip() {
    QImage image(16 * 6, 15, QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter p(&image);
    const char* labels[] = {"1", "2", "3", "4", "Q", "A"};
    for (int i = 0; i < 6; ++i) {
        p.fillRect(QRect(i * 16 + 1, 1, 14, 13), QColor(0x30, 0x50, 0x90));
        drawText(p, QRect(i * 16 + 1, 1, 14, 13), labels[i], 9, true, Qt::white);
    }
    return image;
}

// The picture of an empty video pane (176 x 144).
QImage videoIdle() {
    QImage image(176, 144, QImage::Format_RGB32);
    image.fill(QColor(0x20, 0x30, 0x50));
    QPainter p(&image);
    drawText(p, QRect(0, 50, 176, 30), "Velmoor", 22, true, Qt::white);
    drawText(p, QRect(0, 84, 176, 16), "no picture", 11, false, QColor(0xC0, 0xD0, 0xE0));
    return image;
}

QImage logo() {
    QImage image(505, 335, QImage::Format_RGB32);
    image.fill(QColor(0x20, 0x30, 0x50));
    QPainter p(&image);
    drawText(p, QRect(0, 100, 505, 80), "Velmoor", 56, true, Qt::white);
    drawText(p, QRect(0, 190, 505, 30), "Video surveillance and alarm verification", 16, false,
             QColor(0xC0, 0xD0, 0xE0));
    return image;
}

QImage drawBitmap(UINT id) {
    switch (id) {
    case 114: return badge(QColor(0x20, 0x60, 0xC0), "?");
    case 115: return badge(QColor(0x20, 0x60, 0xC0), "i");
    case 116: return badge(QColor(0xC0, 0x20, 0x20), "x");
    case IDI_MAINFRAME: return badge(QColor(0x20, 0x30, 0x50), "V");
    case 129: return toolbarStrip();
    case 167: return padlock();
    case 168: return person(48, QColor(0x30, 0x50, 0x90), QColor(0xC0, 0xC0, 0xC0));
    case 170: return person(48, QColor(0x40, 0x80, 0x40), QColor(0xC0, 0xC0, 0xC0));
    case 171: return person(16, QColor(0xC0, 0x20, 0x20), kMask);
    case 172: return person(16, QColor(0x70, 0x70, 0x70), kMask);
    case 174: return person(16, QColor(0x20, 0x60, 0xC0), kMask);
    case 288: return logo();
    case 476: return videoIdle();
    case 324: return plain(22, 22, QColor(0xC0, 0xC0, 0xC0));
    case IDR_VIDEO_TOOLBAR: return videoToolbarStrip();
    case 366: return lcdBackground();
    case 367: return lcdLamp(15, 10, "L");
    case 368: return lcdLamp(18, 9, "V");
    case 369: return lcdLamp(11, 11, "S");
    case 370: return lcdLamp(12, 11, "R");
    case 371: return lcdLamp(27, 11, "NET");
    case 372: return lcdLamp(18, 11, "A");
    case 373: return lcdLamp(15, 11, "9k");
    case 374: return lcdLamp(20, 11, "115");
    case 375: return lcdLamp(17, 11, "28k");
    case 376: return lcdLamp(20, 11, "56k");
    case 377: return lcdLamp(17, 11, "LAN");
    case 399: return lcdMeter(61, 0);
    case 400: return lcdMeter(62, 0);
    case 463: return lcdLamp(18, 11, "D");
    case 464: return lcdLamp(30, 11, "MK-B");
    case 465: return lcdLamp(30, 11, "MK-A");
    case 493: return lcdLamp(30, 11, "MK-C");
    case 496: return lcdLamp(30, 11, "MK-D");
    case 497: return lcdLamp(30, 11, "MK-E");
    case 502: return lcdLamp(18, 11, "B");
    default: break;
    }
    for (const ButtonBitmap& b : kButtonBitmaps) {
        if (b.id == id) return buttonFace(b.label, b.face, QColor::fromRgb(b.ink), 36, 28, true);
    }
    for (const ButtonBitmap& b : kSmallBitmaps) {
        if (b.id == id) return buttonFace(b.label, b.face, QColor::fromRgb(b.ink), 22, 22);
    }
    if (id >= 379 && id <= 388) {
        return lcdMeter(62, static_cast<int>(id - 378));  // line meter levels 1 to 10
    }
    if (id >= 389 && id <= 397) {
        return lcdMeter(61, static_cast<int>(id - 388));  // frame-rate meter levels 1 to 9
    }
    return {};
}

std::mutex g_lock;
std::map<UINT, QByteArray> g_files;  // id -> bitmap file bytes; empty when none

}  // namespace

GLOSSEL_API int lngLoadBitmap(UINT id, const BYTE** data, DWORD* bytes) {
    if (data == nullptr || bytes == nullptr) {
        return 0;
    }
    std::lock_guard lock(g_lock);
    auto it = g_files.find(id);
    if (it == g_files.end()) {
        QByteArray file;
        if (QImage image = drawBitmap(id); !image.isNull()) {
            QBuffer buffer(&file);
            buffer.open(QIODevice::WriteOnly);
            image.convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP");
        }
        it = g_files.emplace(id, file).first;
    }
    if (it->second.isEmpty()) {
        *data = nullptr;
        *bytes = 0;
        return 0;
    }
    *data = reinterpret_cast<const BYTE*>(it->second.constData());
    *bytes = static_cast<DWORD>(it->second.size());
    return 1;
}
