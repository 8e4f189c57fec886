#include "tavicore/ui/drawer.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "tavicore/product_key.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr COLORREF kNoVideoColour = 0x2B15FD;
constexpr std::size_t kHeaderBytes = sizeof(BITMAPINFOHEADER);

// The number of rows of a DIB height (negative: top-down), the lowest height
// included.
std::size_t rowsOf(LONG height) {
    return height < 0 ? std::size_t(-std::int64_t(height)) : std::size_t(height);
}

std::size_t rowBytes24(int width) { return ((std::size_t(width) * 24 + 31) / 32) * 4; }

BYTE* pixelsOf(BITMAPINFOHEADER* dib) { return reinterpret_cast<BYTE*>(dib) + kHeaderBytes; }

// Bytes of a DIB's pixels by its header (biSizeImage may be 0 for BI_RGB).
std::size_t dibImageBytes(const BITMAPINFOHEADER* dib) {
    const std::size_t stride = DibRowBytes(dib);
    const std::size_t computed = stride * rowsOf(dib->biHeight);
    return computed;
}

// Whether a frame of `size` bytes holds what its header says: a header of its
// own size inside the frame, then the JPEG bytes, or the pixels of a 24- or
// 32-bit picture.
bool frameFitsItsSize(const BITMAPINFOHEADER* frame, DWORD size) {
    if (size < kHeaderBytes || frame->biSize < kHeaderBytes || frame->biSize > size) {
        return false;
    }
    const std::size_t room = size - frame->biSize;
    if (frame->biCompression == kCompressionJpeg) {
        return frame->biSizeImage <= room;
    }
    const std::size_t stride = DibRowBytes(frame);
    if (stride == 0 || frame->biHeight == 0) {
        return false;
    }
    const std::size_t rows = rowsOf(frame->biHeight);
    return rows <= room / stride;
}

// A top-down QImage of a 24- or 32-bit DIB.
QImage imageOfDib(const BITMAPINFOHEADER* dib) {
    const std::size_t stride = DibRowBytes(dib);
    if (stride == 0 || dib->biHeight == 0) {
        return {};
    }
    const int height = std::abs(dib->biHeight);
    const QImage rows(reinterpret_cast<const uchar*>(dib) + dib->biSize, dib->biWidth, height,
                      qsizetype(stride),
                      dib->biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    return dib->biHeight > 0 ? rows.mirrored(false, true) : rows.copy();
}

// Rows of w x 3 bytes (the stills codec's records) spread to padded DIB rows,
// in place; the buffer holds the padded size.
void padRows(BYTE* pixels, int width, int height) {
    const std::size_t packed = std::size_t(width) * 3;
    const std::size_t padded = rowBytes24(width);
    if (packed == padded) {
        return;
    }
    for (int row = height - 1; row >= 0; --row) {
        std::memmove(pixels + std::size_t(row) * padded, pixels + std::size_t(row) * packed, packed);
        std::memset(pixels + std::size_t(row) * padded + packed, 0, padded - packed);
    }
}

// A 24-bit record without row padding, as the stills codec reads it.
std::vector<BYTE> packedRecord(const BITMAPINFOHEADER* dib) {
    const int width = dib->biWidth;
    const int height = std::abs(dib->biHeight);
    const std::size_t packed = std::size_t(width) * 3;
    const std::size_t stride = DibRowBytes(dib);
    std::vector<BYTE> out(kHeaderBytes + packed * height);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
    *header = *dib;
    header->biSize = kHeaderBytes;
    header->biHeight = height;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    header->biSizeImage = DWORD(packed * height);
    const BYTE* from = reinterpret_cast<const BYTE*>(dib) + dib->biSize;
    const int bytesPerPixel = dib->biBitCount / 8;
    for (int y = 0; y < height; ++y) {
        // Records are bottom-up: row 0 is the bottom row.
        const int sourceRow = dib->biHeight > 0 ? y : height - 1 - y;
        const BYTE* src = from + std::size_t(sourceRow) * stride;
        BYTE* dst = out.data() + kHeaderBytes + std::size_t(y) * packed;
        for (int x = 0; x < width; ++x) {
            std::memcpy(dst + 3 * x, src + bytesPerPixel * x, 3);
        }
    }
    return out;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

CKcReg mainSettings(const char* section) { return ProductKey(section); }

}  // namespace

CDrawer::CDrawer() {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    void* decoder = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_ZOH263DEC, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IZOH263DEC, &decoder);
    if (FAILED(hr) || decoder == nullptr) {
        LUMO_TRACE(5, "CDrawer::CDrawer()  Failed!!! CoCreateInstance CLSID_ZOH263 Failed!!!");
        if (hr == REGDB_E_CLASSNOTREG) {
            LUMO_TRACE(5, "CDrawer::CDrawer()  #2 Failed!!! CoCreateInstance CLSID_ZOH263 Failed!!!! REGDB_E_CLASSNOTREG !!!");
        } else if (hr == CLASS_E_NOAGGREGATION) {
            LUMO_TRACE(5, "CDrawer::CDrawer()  #3 Failed!!! CoCreateInstance CLSID_ZOH263 Failed!!! CLASS_E_NOAGGREGATION ");
        } else if (hr == E_NOINTERFACE) {
            LUMO_TRACE(5, "CDrawer::CDrawer()  #3 Failed!!! CoCreateInstance CLSID_ZOH263 Failed!!! E_NOINTERFACE");
        }
    } else {
        m_decoder = static_cast<IZOH263DEC*>(decoder);
    }

    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    if (m_stills.InitDevices(&kind, 1) != STILLS_NO_ERROR) {
        char text[513] = {};
        m_stills.GetLastError(text, sizeof text);
        LUMO_TRACE(5, "CDrawer::CDrawer()->Error Loading Stills Devices %s", text);
    }

    CKcReg general = mainSettings("General");
    m_stampDateWhenSaving = 1;
    general.GetDwordDefault(nullptr, "StampDateWhenSaveStill", &m_stampDateWhenSaving);
    CKcReg video = mainSettings("Video");
    std::snprintf(m_noVideoText, sizeof m_noVideoText, "%s", "NO VIDEO");
    DWORD size = sizeof m_noVideoText;
    video.GetStringDefault(nullptr, "NoVideoText", m_noVideoText, &size);
    m_noVideoText[sizeof m_noVideoText - 1] = '\0';
    m_noVideoTextVisible = 1;
    video.GetDwordDefault(nullptr, "NoVideoTextVisible", &m_noVideoTextVisible);
}

CDrawer::~CDrawer() {
    if (m_decoder != nullptr) {
        m_decoder->Finish();
        m_decoder->Release();
        m_decoder = nullptr;
    }
    if (m_comInitialised) {
        CoUninitialize();
    }
}

void CDrawer::SetDrawWindow(QWidget* owner, QWidget* picture) {
    m_owner = owner;
    m_picture = picture;
}

void CDrawer::ResizeWindow(const SIZE* size) {
    if (size == nullptr) {
        return;
    }
    m_width = size->cx;
    m_height = size->cy;
    if (m_picture != nullptr) {
        m_picture->setGeometry(0, 0, m_width, m_height);
        m_picture->show();
    }
}

BITMAPINFOHEADER* CDrawer::imageBlock() {
    return m_image.size() >= kHeaderBytes ? reinterpret_cast<BITMAPINFOHEADER*>(m_image.data())
                                          : nullptr;
}

const BITMAPINFOHEADER* CDrawer::Picture() const {
    if (m_imageType == 1) {
        return m_frame;
    }
    return m_image.size() >= kHeaderBytes ? reinterpret_cast<const BITMAPINFOHEADER*>(m_image.data())
                                          : nullptr;
}

bool CDrawer::AllocDIBMem(std::size_t size) {
    try {
        std::vector<BYTE>(size, 0).swap(m_image);
        return true;
    } catch (const std::bad_alloc&) {
        m_image.clear();
        return false;
    }
}

int CDrawer::PrepareFrame(BITMAPINFOHEADER* format) {
    if (format == nullptr) {
        return 1;
    }
    const std::size_t width = std::size_t(std::max<LONG>(format->biWidth, 0));
    const std::size_t height = rowsOf(format->biHeight);
    if (format->biCompression == 3 || format->biCompression == 4) {
        m_imageType = int(format->biCompression);
        AllocDIBMem(width * height * 4 + kHeaderBytes);
        if (m_decoder != nullptr && !m_image.empty()) {
            m_decoder->Init(m_imageType == 3 ? 0 : 1);
            m_decoder->SetAttribute(SHORT(width), SHORT(height));
            m_decoder->Go();
            m_decoder->GetData(m_image.data(), DWORD(kHeaderBytes));
        }
        m_imageSize = width * height * 4;
    } else if (format->biCompression == kCompressionJpeg) {
        m_imageType = 2;
        AllocDIBMem(width * height * 4 + kHeaderBytes);
        m_imageSize = format->biSizeImage;
    } else {
        m_imageType = 1;
        m_imageSize = format->biSizeImage != 0 ? format->biSizeImage : dibImageBytes(format);
    }
    return 1;
}

int CDrawer::DecodeFrame(BITMAPINFOHEADER* frame, DWORD size, int* ready) {
    int unused = 0;
    int& isReady = ready != nullptr ? *ready : unused;
    isReady = 1;
    if (frame == nullptr) {
        isReady = 0;
        return 1;
    }
    if (m_imageType != 3 && m_imageType != 4) {
        // The frame's own header is believed only as far as the frame's real
        // size holds what it claims: nothing is copied or drawn past the block.
        if (!frameFitsItsSize(frame, size)) {
            LUMO_TRACE(5, "CDrawer::DecodeFrame() the frame's header claims more than its %lu bytes",
                       static_cast<unsigned long>(size));
            m_frame = nullptr;
            m_imageSize = 0;
            m_jpegSize = 0;
            isReady = 0;
            return 1;
        }
        m_frame = frame;
        if (frame->biCompression != kCompressionJpeg) {
            if (m_imageType == 1) {
                m_imageSize = dibImageBytes(frame);
            }
            return 1;
        }
        m_jpegSize = frame->biSizeImage;
        CStillsCodecInterface* codec = m_stills[STILLCODEC_JPEG];
        if (codec == nullptr || frame->biWidth <= 0 || frame->biHeight <= 0) {
            return 1;
        }
        // The picture must fit the block: grow it for a frame larger than the
        // prepared format (the codec itself refuses a stream larger than the
        // frame's header says).
        const std::size_t width = std::size_t(frame->biWidth);
        const std::size_t height = std::size_t(frame->biHeight);
        const std::size_t needed = kHeaderBytes + rowBytes24(int(width)) * height;
        if (m_image.size() < needed && !AllocDIBMem(width * height * 4 + kHeaderBytes)) {
            LUMO_TRACE(5, "CDrawer::DecodeFrame->Memory Allocation Failed");
            return 1;
        }
        // The codec reads the frame as a 24-bit record; the caller's header is
        // given back unchanged afterwards.
        const BITMAPINFOHEADER saved = *frame;
        frame->biBitCount = 24;
        frame->biCompression = BI_RGB;
        const tagSTILLSERROR result = codec->Decompress(frame, imageBlock());
        *frame = saved;
        BITMAPINFOHEADER* block = imageBlock();
        if (result != STILLS_NO_ERROR) {
            std::memset(block, 0, kHeaderBytes);
            m_imageSize = 0;
            return 1;
        }
        padRows(pixelsOf(block), block->biWidth, block->biHeight);
        block->biSize = kHeaderBytes;
        block->biBitCount = 24;
        block->biCompression = BI_RGB;
        m_imageSize = rowBytes24(block->biWidth) * std::size_t(block->biHeight);
        block->biSizeImage = DWORD(m_imageSize);
        return 1;
    }
    if (m_decoder == nullptr || m_image.empty()) {
        isReady = 0;
        return 1;
    }
    m_decoder->AddBuffer(reinterpret_cast<BYTE*>(frame), size);
    DWORD updated = 0;
    m_decoder->IsUpdated(&updated);
    const BITMAPINFOHEADER* block = imageBlock();
    m_imageSize = std::size_t(std::max<LONG>(block->biWidth, 0)) *
                  rowsOf(block->biHeight) * 3;
    if (updated != 0) {
        m_decoder->GetData(m_image.data(), DWORD(std::min(m_imageSize + kHeaderBytes, m_image.size())));
    } else {
        isReady = 0;
    }
    return 1;
}

void CDrawer::DrawFrame(QPainter* dc, BITMAPINFOHEADER* frame, QWidget* window) {
    if (m_imageType == 0) {
        LUMO_TRACE(5, "CDrawer::DrawFrame()->Not A Valid Image Type");
        return;
    }
    if (dc == nullptr) {
        return;
    }
    // An uncompressed frame is drawn only as the one whose size was checked.
    const BITMAPINFOHEADER* picture = m_imageType == 1 ? m_frame : imageBlock();
    if (picture == nullptr || (m_imageType == 1 && frame != m_frame)) {
        LUMO_TRACE(5, "CDrawer::DrawFrame()->no checked frame to draw");
        return;
    }
    const QImage image = imageOfDib(picture);
    if (image.isNull()) {
        return;
    }
    QRect target;
    if (window != nullptr) {
        target = window->rect();
    } else if (dc->device() != nullptr) {
        target = QRect(0, 0, dc->device()->width(), dc->device()->height());
    }
    dc->drawImage(target, image);
    if (m_border) {
        const int width = m_picture != nullptr ? m_picture->width() : target.width();
        const int height = m_picture != nullptr ? m_picture->height() : target.height();
        DrawBorder(dc, width, height, m_borderColour);
    }
}

void CDrawer::DrawBorder(QPainter* dc, int width, int height, COLORREF colour) {
    QPen pen(QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)));
    pen.setWidth(4);
    dc->save();
    dc->setPen(pen);
    dc->setBrush(Qt::NoBrush);
    QPolygon box;
    box << QPoint(2, 2) << QPoint(width - 2, 2) << QPoint(width - 2, height - 2)
        << QPoint(2, height - 2);
    dc->drawPolygon(box);
    dc->restore();
}

void CDrawer::SetBorder(int enabled, COLORREF colour) {
    m_border = enabled;
    m_borderColour = colour;
}

void CDrawer::SetFrameTime(SYSTEMTIME time) {
    m_frameTime = time;
    m_frameTime.wMilliseconds = 0;
}

const TextFont* CDrawer::getTimeFont() {
    if (!m_timeFontMade) {
        m_timeFont.face = "DejaVu Sans";
        m_timeFont.height = 12;
        m_timeFont.weight = 900;  // the heaviest weight there is
        m_timeFont.italic = false;
        m_timeFontMade = true;
    }
    return &m_timeFont;
}

int CDrawer::SetDateOnFrame(BITMAPINFOHEADER* image, int mode) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d %.2d/%.2d/%.4d", m_frameTime.wHour,
                  m_frameTime.wMinute, m_frameTime.wSecond, m_frameTime.wDay, m_frameTime.wMonth,
                  m_frameTime.wYear);
    const TextFont* font = getTimeFont();
    if (font == nullptr) {
        LUMO_TRACE(5, "CDrawer::SetDateOnFrame getTimeFont failed\n");
    }
    BOOL ok = mode == 1 ? CopyTextToBitmap2(image, m_picture, text, 5, 5, font, 0xFAFAFA, 0xF0F0F0, 0)
                        : CopyTextToBitmap(image, m_picture, text, 5, 5, font);
    if (!ok) {
        LUMO_TRACE(5, "CDrawer::SetDateOnFrame CopyTextToBitmap failed\n");
    }
    return 1;
}

void CDrawer::SetNoVidOnFrame(BITMAPINFOHEADER* image) {
    if (image == nullptr) {
        return;
    }
    TextFont font;
    font.face = "verdana";
    font.height = 20;
    font.width = 12;
    font.italic = true;
    FillBmpWithColor(image, m_picture, 0);
    if (m_noVideoTextVisible) {
        const int length = int(std::strlen(m_noVideoText));
        const int x = image->biWidth / 2 - (length / 2) * 14;
        const int y = std::abs(image->biHeight) / 2 - 10;
        if (!CopyTextToBitmap2(image, m_picture, m_noVideoText, x, y, &font, 0, kNoVideoColour, 0)) {
            LUMO_TRACE(1, "CDrawer::SetNoVidOnFrame CopyTextToBitmap failed");
        }
    }
}

void CDrawer::DrawMessageText(QPainter* dc) {
    if (dc == nullptr) {
        return;
    }
    QRect client;
    if (m_picture != nullptr) {
        client = m_picture->rect();
    } else if (dc->device() != nullptr) {
        client = QRect(0, 0, dc->device()->width(), dc->device()->height());
    }
    dc->fillRect(client, Qt::black);
    if (!m_noVideoTextVisible || m_noVideoText[0] == '\0' ||
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;  // text needs the fonts of a GUI application
    }
    QFont font("verdana");
    font.setPixelSize(20);
    font.setItalic(true);
    dc->save();
    dc->setFont(font);
    dc->setBackgroundMode(Qt::OpaqueMode);
    dc->setBackground(Qt::black);
    dc->setPen(QColor(0xFD, 0x15, 0x2B));
    const QString text = QString::fromLocal8Bit(m_noVideoText).left(100);
    dc->drawText(QRect(client.left(), client.height() / 2 - 10, client.width(), client.height()),
                 Qt::AlignHCenter | Qt::AlignTop, text);
    dc->restore();
}

bool CDrawer::copyPicture(std::vector<BYTE>& out) const {
    const BITMAPINFOHEADER* picture = Picture();
    if (picture == nullptr || DibRowBytes(picture) == 0 || picture->biHeight == 0) {
        return false;
    }
    const std::size_t bytes = picture->biSize + dibImageBytes(picture);
    if (picture == m_frame) {
        // The caller's frame: its header says how much is there.
        out.assign(reinterpret_cast<const BYTE*>(picture), reinterpret_cast<const BYTE*>(picture) + bytes);
    } else {
        if (bytes > m_image.size()) {
            return false;
        }
        out.assign(m_image.begin(), m_image.begin() + long(bytes));
    }
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
    header->biSizeImage = DWORD(dibImageBytes(header));
    return true;
}

void CDrawer::CopyToClipboard(int noVideo) {
    std::vector<BYTE> copy;
    if (!copyPicture(copy)) {
        LUMO_TRACE(5, "CDrawer::CopyToClipboard()->Buff Null");
        return;
    }
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    QClipboard* clipboard = gui != nullptr ? QGuiApplication::clipboard() : nullptr;
    if (clipboard == nullptr) {
        LUMO_TRACE(5, "CDrawer::CopyToClipboard()->Can't Open ClipBoardn");
        return;
    }
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(copy.data());
    if (noVideo) {
        SetNoVidOnFrame(header);
    }
    if (!SetDateOnFrame(header, 1)) {
        LUMO_TRACE(5, "CDrawer::CopyToClipboard->SetDateOnFrame failed");
    }
    clipboard->setImage(imageOfDib(header));
}

BOOL CDrawer::SaveFrame(const char* path, WORD format) {
    if (format == kFormatBmp) {
        return WriteBMPFrame(path, 0);
    }
    if (format == kFormatJpeg) {
        return WriteJPEGFrame(path, 0);
    }
    LUMO_TRACE(5, "CDrawer::SaveFrame->Unsupported FORMAT");
    return FALSE;
}

BOOL CDrawer::SaveNoVideoFrame(const char* path, WORD format) {
    if (format == kFormatBmp) {
        return WriteBMPFrame(path, 1);
    }
    if (format == kFormatJpeg) {
        return WriteJPEGFrame(path, 1);
    }
    LUMO_TRACE(5, "CDrawer::SaveFrame->Unsupported FORMAT");
    return FALSE;
}

BOOL CDrawer::WriteBMPFrame(const char* path, int noVideo) {
    std::vector<BYTE> copy;
    if (!copyPicture(copy)) {
        LUMO_TRACE(5, "CDrawer::WriteBMPFrame()->Memory Allocation Failed");
        return FALSE;
    }
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(copy.data());
    if (noVideo == 1) {
        SetNoVidOnFrame(header);
    }
    if (!SetDateOnFrame(header, noVideo)) {
        LUMO_TRACE(5, "CDrawer::WriteBMPFrame->SetDateOnFrame failed");
    }
    File file(path != nullptr ? std::fopen(path, "wb") : nullptr);
    if (!file) {
        LUMO_TRACE(5, "CDrawer::WriteBMPFrame->Can't Open File named %s", path != nullptr ? path : "");
        return FALSE;
    }
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = kBitmapFileType;
    fileHeader.bfOffBits = DWORD(sizeof(BITMAPFILEHEADER) + header->biSize);
    fileHeader.bfSize = DWORD(fileHeader.bfOffBits + header->biSizeImage);
    const bool written = std::fwrite(&fileHeader, sizeof fileHeader, 1, file.get()) == 1 &&
                         std::fwrite(copy.data(), 1, copy.size(), file.get()) == copy.size() &&
                         std::fclose(file.release()) == 0;
    if (!written) {
        LUMO_TRACE(5, "CDrawer::WriteBMPFrame->Error Writing BMP Frame to Disk - %s", std::strerror(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL CDrawer::WriteJPEGFrame(const char* path, int noVideo) {
    File file(path != nullptr ? std::fopen(path, "wb") : nullptr);
    if (!file) {
        LUMO_TRACE(5, "CDrawer::WriteJPEGFrame->Can't Open File named %s", path != nullptr ? path : "");
        return FALSE;
    }
    bool written = false;
    if (m_imageType == 2 && !m_stampDateWhenSaving && !noVideo && m_frame != nullptr &&
        m_frame->biCompression == kCompressionJpeg) {
        // The received stream as it came.
        written = std::fwrite(pixelsOf(m_frame), 1, m_jpegSize, file.get()) == m_jpegSize;
    } else {
        std::vector<BYTE> copy;
        CStillsCodecInterface* codec = m_stills[STILLCODEC_JPEG];
        if (codec == nullptr || !copyPicture(copy)) {
            LUMO_TRACE(5, "CDrawer::WriteJPEGFrame->Memory Allocation for Still JPEG Failed\n");
            return FALSE;
        }
        auto* header = reinterpret_cast<BITMAPINFOHEADER*>(copy.data());
        if (noVideo) {
            SetNoVidOnFrame(header);
        }
        if (!SetDateOnFrame(header, noVideo)) {
            LUMO_TRACE(5, "CDrawer::WriteJPEGFrame SetDateOnFrame failed\n");
        }
        std::vector<BYTE> source = packedRecord(header);
        std::vector<BYTE> compressed(source.size() + kHeaderBytes);
        auto* target = reinterpret_cast<BITMAPINFOHEADER*>(compressed.data());
        if (codec->Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()), target, kJpegQuality) !=
            STILLS_NO_ERROR) {
            return FALSE;
        }
        written = std::fwrite(compressed.data() + kHeaderBytes, 1, target->biSizeImage, file.get()) ==
                  target->biSizeImage;
    }
    if (std::fclose(file.release()) != 0) {
        written = false;
    }
    return written ? TRUE : FALSE;
}

void CDrawer::ResetFrame() {
    if (m_decoder != nullptr) {
        m_decoder->Clean();
        m_decoder->Go();
    }
    if (m_image.size() > kHeaderBytes) {
        const std::size_t bytes = std::min(m_imageSize, m_image.size() - kHeaderBytes);
        std::memset(m_image.data() + kHeaderBytes, 0, bytes);
    }
}
