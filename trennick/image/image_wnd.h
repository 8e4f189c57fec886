#pragma once
// Small windows that show single still images.

#include "platform/types.h"
#include "trennick/image/ctrl_windows.h"
#include "trennick/image/dib.h"

#include <QWidget>

#include <string>

class QPushButton;

// Shows one DIB, stretched to the window, with optional text stamped into it
// or drawn over it, and the no-video text. GUI thread only. A file that cannot
// be read leaves the window empty.
class CImageWnd : public CCntrlWnd {
public:
    CImageWnd(int maxWidth, int maxHeight, QWidget* parent = nullptr);
    ~CImageWnd() override;
    CImageWnd(const CImageWnd&) = delete;
    CImageWnd& operator=(const CImageWnd&) = delete;

    // Drops the current image and shows the bitmap file; FALSE when it cannot be read.
    BOOL LoadImageFile(const char* fileName, BOOL noVideo);
    // The same with a copy of a 24-bit DIB (header and padded rows).
    BOOL LoadImageData(const BITMAPINFOHEADER* dib, BOOL noVideo);
    void SetImageText(int x, int y, const char* text, COLORREF colour);
    // Sizes the window to the image, at most the largest size; at the given
    // rectangle's position when there is one.
    void FitToImage(const RECT* rectangle = nullptr);
    void CopyToClipboard();

    void SetStampIntoImage(BOOL stamp) { m_stampIntoImage = stamp; }
    void SetNoVideoOption(BOOL option) { m_noVideoOption = option; }
    void SetNoVideoText(const char* text);

    HDIB Dib() const { return m_dib; }
    int ImageWidth() const { return m_imageWidth; }
    int ImageHeight() const { return m_imageHeight; }

    static constexpr COLORREF kBackground = 0xC0C0C0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void dropImage();
    void takeImage(HDIB dib, BOOL noVideo);

    HDIB m_dib = nullptr;
    int m_maxWidth;
    int m_maxHeight;
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    std::string m_text;
    int m_textX = 0;
    int m_textY = 0;
    COLORREF m_textColour = 0xFFFFFF;
    BOOL m_stampIntoImage = TRUE;
    BOOL m_noVideoOption = FALSE;
    BOOL m_noVideo = FALSE;
    char m_noVideoText[128] = "NO VIDEO";
};

// A floating window around an image window of at most 176 x 144, with save
// and copy buttons under the picture. GUI thread only.
class CLocalImage : public QWidget {
public:
    explicit CLocalImage(QWidget* parent = nullptr);
    ~CLocalImage() override;

    BOOL ShowImageFile(const char* fileName, const char* caption, BOOL noVideo);
    BOOL ShowImageData(const BITMAPINFOHEADER* dib, const char* caption, BOOL noVideo);
    // Writes the shown picture as a bitmap file or through the stills codec as
    // JPEG (quality 70); FALSE on failure (traced).
    BOOL WriteBMPFrame(const char* path);
    BOOL WriteJPEGFrame(const char* path);
    // The save button's dialog and choice.
    void OnSave();
    void OnCopy();

    CImageWnd* ImageWindow() const { return m_image; }

    static constexpr int kMaxWidth = 176;
    static constexpr int kMaxHeight = 144;
    static constexpr int kButtonRowHeight = 32;

private:
    void layOut();

    CImageWnd* m_image;
    QPushButton* m_save;
    QPushButton* m_copy;
};
