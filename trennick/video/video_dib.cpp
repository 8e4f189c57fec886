#include "trennick/video/video_dib.h"

#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <cstring>

namespace {

constexpr DWORD kNoVideoTextChars = 126;

QColor colour(COLORREF c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

bool pictureSizeTaken(int width, int height, int bits) {
    return width > 0 && height > 0 && width <= kMaxPictureWidth && height <= kMaxPictureHeight &&
           (bits == 24 || bits == 8 || bits == 4);
}

}  // namespace

void FillPictureHeader(BITMAPINFOHEADER& header, int width, int height, int bits) {
    header = BITMAPINFOHEADER{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = WORD(bits);
    header.biSizeImage = DWORD(((width * bits / 8 + 3) & ~3) * height);
    header.biClrUsed = bits == 4 ? 16 : bits == 8 ? 256 : 0;
}

CDib::CDib() {
    m_labelFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    m_labelFont.setBold(true);
    m_secondFont = m_labelFont;
    m_secondFont.setPixelSize(18);
    CKcReg reg = ProductKey("Video");
    char text[kNoVideoTextChars + 2] = "NO VIDEO";
    DWORD size = sizeof text;
    reg.GetStringDefault(nullptr, "NoVideoText", text, &size);
    text[kNoVideoTextChars] = '\0';
    m_noVideoText = text;
    reg.GetDwordDefault(nullptr, "NoVideoTextVisible", &m_noVideoVisible);
}

CDib::~CDib() { FreePicture(); }

BOOL CDib::CreatePicture(int width, int height, int bits, QWidget* target) {
    if (!pictureSizeTaken(width, height, bits)) return FALSE;
    if (m_picture == nullptr) m_picture = AllocDIB(kPictureBlockBytes);
    if (m_picture == nullptr) return FALSE;
    m_target = target;
    return ResizePicture(width, height, bits);
}

BOOL CDib::ResizePicture(int width, int height, int bits) {
    if (m_picture == nullptr || !pictureSizeTaken(width, height, bits)) return FALSE;
    BITMAPINFOHEADER header;
    FillPictureHeader(header, width, height, bits);
    std::memcpy(m_picture, &header, sizeof header);
    // The 16 standard colours, repeated to fill the table.
    static const BYTE kColours[16][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                         {0, 0, 128},   {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                         {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
                                         {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    BYTE* table = m_picture + sizeof header;
    for (DWORD i = 0; i < header.biClrUsed; ++i) {
        const BYTE* c = kColours[i % 16];
        table[i * 4] = c[2];
        table[i * 4 + 1] = c[1];
        table[i * 4 + 2] = c[0];
        table[i * 4 + 3] = 0;
    }
    BeginDraw();
    return TRUE;
}

void CDib::FreePicture() {
    if (m_picture != nullptr) DestroyDIB(m_picture);
    m_picture = nullptr;
}

void CDib::BeginDraw() {
    EndDraw();
    m_drawing = true;
    m_firstDraw = true;
}

void CDib::EndDraw() { m_drawing = false; }

BYTE* CDib::Bits() const { return m_picture != nullptr ? FindDIBBits(m_picture) : nullptr; }

int CDib::Width() const {
    if (m_picture == nullptr) return 0;
    BITMAPINFOHEADER header;
    std::memcpy(&header, m_picture, sizeof header);
    return header.biWidth;
}

int CDib::Height() const {
    if (m_picture == nullptr) return 0;
    BITMAPINFOHEADER header;
    std::memcpy(&header, m_picture, sizeof header);
    return header.biHeight;
}

void CDib::ClearPicture() {
    if (m_picture == nullptr) return;
    std::memset(Bits(), 0, std::size_t(Width()) * std::size_t(Height()) * 3);
}

void CDib::SetDrawRect(const RECT& rectangle, const char* label) {
    m_drawRect = rectangle;
    m_label = label != nullptr ? std::string(label).substr(0, 256) : std::string();
}

void CDib::DrawFrameRect(QPainter& dc, const RECT& r, int penWidth, COLORREF c) {
    dc.setPen(QPen(colour(c), penWidth));
    dc.setBrush(Qt::NoBrush);
    const QPoint points[5] = {{r.left, r.top}, {r.right - 1, r.top}, {r.right - 1, r.bottom - 1},
                              {r.left, r.bottom - 1}, {r.left, r.top}};
    dc.drawPolyline(points, 5);
}

void CDib::DrawVideoBitmap(HDIB picture, QPainter& dc, BOOL noVideo) {
    if (picture == nullptr) return;
    if (!m_bEnablePainting) {
        LUMO_TRACE(1, "CDib::DrawVideoBitmap() m_bEnablePainting = FALSE");
        return;
    }
    RECT to = m_drawRect;
    to.right -= 1;
    PaintDIB(&dc, &to, picture, nullptr, 0);
    m_firstDraw = false;
    DrawFrameRect(dc, m_drawRect, 1, kVideoFrameColour);
    if (!m_label.empty()) {
        dc.setFont(m_labelFont);
        const QString text = QString::fromStdString(m_label);
        const int baseline = m_drawRect.top + 5 + dc.fontMetrics().ascent();
        dc.setPen(Qt::white);
        for (int dx = -1; dx <= 2; ++dx) {
            for (int dy = -1; dy <= 2; ++dy) dc.drawText(m_drawRect.left + 5 + dx, baseline + dy, text);
        }
        dc.setPen(Qt::black);
        dc.drawText(m_drawRect.left + 5, baseline, text);
    }
    if (noVideo && m_noVideoVisible == 1) {
        QFont font("verdana");
        font.setItalic(true);
        font.setPixelSize(20);
        dc.setFont(font);
        dc.setPen(colour(kNoVideoTextColour));
        const int cx = (m_drawRect.left + m_drawRect.right) / 2;
        const int cy = (m_drawRect.top + m_drawRect.bottom) / 2;
        const int x = cx - int(m_noVideoText.size() / 2) * 14;
        dc.drawText(x, cy - 10 + dc.fontMetrics().ascent(), QString::fromStdString(m_noVideoText));
    }
}

void CDib::DrawVideoBitmapIn(HDIB picture, QPainter& dc, const RECT& rectangle, const std::string& label,
                             BOOL noVideo) {
    const RECT keptRect = m_drawRect;
    std::string keptLabel = std::move(m_label);
    SetDrawRect(rectangle, label.c_str());
    DrawVideoBitmap(picture, dc, noVideo);
    m_drawRect = keptRect;
    m_label = std::move(keptLabel);
}

void CDib::DrawLogo(QPainter& dc, const RECT& r) {
    const QPixmap logo = UiBitmap(kVideoLogoBitmap);
    const QRect to(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (logo.isNull()) {
        dc.fillRect(to, QColor(0xC0, 0xC0, 0xC0));
    } else {
        dc.drawPixmap(to, logo);
    }
    DrawFrameRect(dc, r, 1, kVideoFrameColour);
}
