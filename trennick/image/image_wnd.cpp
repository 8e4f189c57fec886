#include "trennick/image/image_wnd.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "tavicore/stills_devices.h"
#include "tavicore/ui/text_bitmap.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

QColor colourOf(COLORREF c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

CKcReg mainSettings(const char* section) { return ProductKey(section); }

}  // namespace

// ---- CImageWnd

CImageWnd::CImageWnd(int maxWidth, int maxHeight, QWidget* parent)
    : CCntrlWnd(parent), m_maxWidth(maxWidth), m_maxHeight(maxHeight) {
    setWindowTitle("Event Image");
    setAutoFillBackground(false);
}

CImageWnd::~CImageWnd() { dropImage(); }

void CImageWnd::dropImage() {
    DestroyDIB(m_dib);
    m_dib = nullptr;
    m_imageWidth = 0;
    m_imageHeight = 0;
}

void CImageWnd::SetNoVideoText(const char* text) {
    std::snprintf(m_noVideoText, sizeof m_noVideoText, "%s", text != nullptr ? text : "");
}

void CImageWnd::SetImageText(int x, int y, const char* text, COLORREF colour) {
    m_textX = x;
    m_textY = y;
    m_text = text != nullptr ? text : "";
    m_textColour = colour;
    update();
}

void CImageWnd::takeImage(HDIB dib, BOOL noVideo) {
    m_dib = dib;
    m_noVideo = noVideo;
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(m_dib);
    if (!m_text.empty() && m_stampIntoImage) {
        TextFont font;
        font.face = "DejaVu Sans";
        font.height = 8;
        font.weight = 400;
        if (!CopyTextToBitmap(header, this, m_text.c_str(), m_textX, m_textY, &font, m_textColour)) {
            LUMO_TRACE(1, "CImageWnd::SetImageText CopyTextToBitmap failed");
        }
    }
    const DWORD size = DIBSize(m_dib);
    m_imageWidth = int(size & 0xFFFF);
    m_imageHeight = int(size >> 16);
    if (m_noVideoOption && m_noVideo) {
        TextFont font;
        font.face = "verdana";
        font.italic = true;
        font.height = 20;
        font.width = 12;
        const int length = int(std::strlen(m_noVideoText));
        if (!CopyTextToBitmap(header, this, m_noVideoText, m_imageWidth / 2 - (length / 2) * 14,
                              m_imageHeight / 2 - 10, &font, 0x2B15FD)) {
            LUMO_TRACE(1, "CImageWnd::SetNoVidOnFrame CopyTextToBitmap failed");
        }
    }
    update();
}

BOOL CImageWnd::LoadImageFile(const char* fileName, BOOL noVideo) {
    dropImage();
    HDIB dib = ReadDIBFile(fileName);
    if (dib == nullptr) {
        update();
        return FALSE;
    }
    takeImage(dib, noVideo);
    return TRUE;
}

BOOL CImageWnd::LoadImageData(const BITMAPINFOHEADER* dib, BOOL noVideo) {
    dropImage();
    if (dib == nullptr || dib->biSize != sizeof(BITMAPINFOHEADER) || dib->biBitCount != 24 ||
        dib->biWidth <= 0 || dib->biHeight == 0) {
        update();
        return FALSE;
    }
    // Header and padded rows: what a 24-bit DIB of that size holds.
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) +
                              DIBRowBytes(dib->biWidth, 24) * std::size_t(std::abs(dib->biHeight));
    HDIB copy = AllocDIB(bytes);
    if (copy == nullptr) {
        return FALSE;
    }
    std::memcpy(copy, dib, bytes);
    takeImage(copy, noVideo);
    return TRUE;
}

void CImageWnd::FitToImage(const RECT* rectangle) {
    const int width = std::min(m_imageWidth, m_maxWidth);
    const int height = std::min(m_imageHeight, m_maxHeight);
    if (rectangle != nullptr) {
        setGeometry(rectangle->left, rectangle->top, width, height);
    } else {
        resize(width, height);
    }
}

void CImageWnd::CopyToClipboard() {
    const QImage image = DIBToBitmap(this, m_dib);
    if (image.isNull() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QGuiApplication::clipboard()->setImage(image);
    QApplication::restoreOverrideCursor();
}

void CImageWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), colourOf(kBackground));
    const QImage image = DIBToBitmap(this, m_dib);
    if (image.isNull()) {
        return;
    }
    painter.drawImage(rect(), image);
    if (!m_text.empty() && !m_stampIntoImage) {
        painter.setPen(colourOf(m_textColour));
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.drawText(m_textX, m_textY + painter.fontMetrics().ascent(), QString::fromLocal8Bit(m_text.c_str()));
    }
}

// ---- CLocalImage

CLocalImage::CLocalImage(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setWindowTitle("Event");
    move(200, 100);
    setStyleSheet("background-color: rgb(192, 192, 192);");
    m_image = new CImageWnd(kMaxWidth, kMaxHeight, this);

    DWORD stamp = 1;
    mainSettings("General").GetDwordDefault(nullptr, "StampDateWhenSaveStill", &stamp);
    char text[128] = "NO VIDEO";
    DWORD size = sizeof text;
    CKcReg video = mainSettings("Video");
    video.GetStringDefault(nullptr, "NoVideoText", text, &size);
    text[sizeof text - 1] = '\0';
    DWORD visible = 1;
    video.GetDwordDefault(nullptr, "NoVideoTextVisible", &visible);
    m_image->SetStampIntoImage(stamp != 0);
    m_image->SetNoVideoText(text);
    m_image->SetNoVideoOption(visible != 0);

    m_save = new QPushButton("Save", this);
    m_copy = new QPushButton("Copy", this);
    m_save->setToolTip("Save the picture");
    m_copy->setToolTip("Copy the picture");
    connect(m_save, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(m_copy, &QPushButton::clicked, this, [this] { OnCopy(); });
    layOut();
}

CLocalImage::~CLocalImage() = default;

void CLocalImage::layOut() {
    const int width = std::max(std::min(m_image->ImageWidth(), kMaxWidth), 2 * 23);
    const int height = std::min(m_image->ImageHeight(), kMaxHeight);
    m_image->setGeometry(0, 0, width, height);
    m_save->setGeometry(width - 2 * 23, height + 4, 22, 22);
    m_copy->setGeometry(width - 23, height + 4, 22, 22);
    setFixedSize(width, height + kButtonRowHeight);
}

BOOL CLocalImage::ShowImageFile(const char* fileName, const char* caption, BOOL noVideo) {
    const BOOL ok = m_image->LoadImageFile(fileName, noVideo);
    layOut();
    setWindowTitle(QString::fromLocal8Bit(caption != nullptr ? caption : ""));
    show();
    return ok;
}

BOOL CLocalImage::ShowImageData(const BITMAPINFOHEADER* dib, const char* caption, BOOL noVideo) {
    const BOOL ok = m_image->LoadImageData(dib, noVideo);
    layOut();
    setWindowTitle(QString::fromLocal8Bit(caption != nullptr ? caption : ""));
    show();
    return ok;
}

BOOL CLocalImage::WriteBMPFrame(const char* path) {
    HDIB dib = m_image->Dib();
    if (dib == nullptr || DIBTotalBytes(dib) == 0) {
        LUMO_TRACE(5, "CLocalImage::WriteBMPFrame->Invalid Data pointer pImage");
        return FALSE;
    }
    std::unique_ptr<std::FILE, FileCloser> probe(path != nullptr ? std::fopen(path, "wb") : nullptr);
    if (!probe) {
        LUMO_TRACE(5, "CLocalImage::WriteBMPFrame->Can't Open File named %s", path != nullptr ? path : "");
        return FALSE;
    }
    probe.reset();
    if (!SaveDIB(path, dib)) {
        LUMO_TRACE(5, "CLocalImage::WriteBMPFrame->Error Writing BMP Frame to Disk ");
        return FALSE;
    }
    return TRUE;
}

BOOL CLocalImage::WriteJPEGFrame(const char* path) {
    CStillsDevices devices;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    if (devices.InitDevices(&kind, 1) != STILLS_NO_ERROR) {
        LUMO_TRACE(5, "CLocalImage::WriteJPEGFrame()->Error Loading Stills Devices ");
        return FALSE;
    }
    const QImage image = DIBToBitmap(this, m_image->Dib());
    if (image.isNull()) {
        LUMO_TRACE(5, "CLocalImage::WriteJPEGFrame->Memory Allocation for Still JPEG Failed\n");
        return FALSE;
    }
    // The stills codec reads bottom-up 24-bit rows without padding.
    const int width = image.width();
    const int height = image.height();
    std::vector<BYTE> source(sizeof(BITMAPINFOHEADER) + std::size_t(width) * height * 3);
    *reinterpret_cast<BITMAPINFOHEADER*>(source.data()) =
        BITMAPINFOHEADER{40, width, height, 1, 24, BI_RGB, DWORD(width * height * 3), 0, 0, 0, 0};
    for (int y = 0; y < height; ++y) {
        BYTE* row = source.data() + 40 + std::size_t(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x) {
            const QRgb c = image.pixel(x, y);
            row[3 * x] = BYTE(qBlue(c));
            row[3 * x + 1] = BYTE(qGreen(c));
            row[3 * x + 2] = BYTE(qRed(c));
        }
    }
    std::vector<BYTE> target(source.size() + 40);
    auto* compressed = reinterpret_cast<BITMAPINFOHEADER*>(target.data());
    if (devices[STILLCODEC_JPEG]->Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()), compressed,
                                           70) != STILLS_NO_ERROR) {
        LUMO_TRACE(5, "CLocalImage::WriteJPEGFrame->Error Write JPEG Frame to Disk ");
        return FALSE;
    }
    std::unique_ptr<std::FILE, FileCloser> file(path != nullptr ? std::fopen(path, "wb") : nullptr);
    if (!file) {
        LUMO_TRACE(5, "CLocalImage::WriteJPEGFrame->Can't Open File named %s", path != nullptr ? path : "");
        return FALSE;
    }
    if (std::fwrite(target.data() + 40, 1, compressed->biSizeImage, file.get()) != compressed->biSizeImage ||
        std::fclose(file.release()) != 0) {
        LUMO_TRACE(5, "CLocalImage::WriteJPEGFrame->Error Write JPEG Frame to Disk ");
        return FALSE;
    }
    return TRUE;
}

void CLocalImage::OnSave() {
    QWidget* main = window() != this ? window() : parentWidget();
    if (main != nullptr) {
        main->setEnabled(false);
    }
    QString chosenFilter;
    const QString path = QFileDialog::getSaveFileName(this, QString(), QString(),
                                                      " BMP files (*.BMP);; JPEG Files (*.JPG)",
                                                      &chosenFilter);
    if (main != nullptr) {
        main->setEnabled(true);
    }
    if (path.isEmpty()) {
        return;
    }
    const std::string local = path.toLocal8Bit().toStdString();
    if (chosenFilter.contains("JPG")) {
        WriteJPEGFrame(local.c_str());
    } else {
        WriteBMPFrame(local.c_str());
    }
}

void CLocalImage::OnCopy() { m_image->CopyToClipboard(); }
