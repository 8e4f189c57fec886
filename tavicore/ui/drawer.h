#pragma once
// The frame drawer: turns the frames of an event into pictures.

#include "platform/com/oleauto.h"
#include "platform/types.h"
#include "ranvic/ranvic_lib.h"
#include "tavicore/stills_devices.h"
#include "tavicore/ui/tavicore_ui_api.h"
#include "tavicore/ui/text_bitmap.h"

#include <string>
#include <vector>

class QPainter;
class QWidget;

// The compression value of JPEG frames: "JPEG" as a little-endian word.
inline constexpr DWORD kCompressionJpeg = 0x4745504A;

// Decodes the frames of an event (uncompressed DIBs as they are, JPEG through
// the stills codec, H.263 through the decoder server), paints them stretched
// into a picture window, and saves or copies them with the frame's date
// stamped in. Belongs to the thread that created it (the window's). A missing
// codec or decoder leaves those frames undecoded; every failure is traced and
// the operation ends without an exception.
class TAVICORE_UI_API CDrawer {
public:
    CDrawer();
    virtual ~CDrawer();
    CDrawer(const CDrawer&) = delete;
    CDrawer& operator=(const CDrawer&) = delete;

    void SetDrawWindow(QWidget* owner, QWidget* picture);
    void ResizeWindow(const SIZE* size);
    // Takes the format of the frames to come; returns 1.
    int PrepareFrame(BITMAPINFOHEADER* format);
    // Takes one frame (header and data, kept by the caller while it is shown);
    // *ready becomes 0 when no new picture came of it. Returns 1.
    virtual int DecodeFrame(BITMAPINFOHEADER* frame, DWORD size, int* ready);
    // Paints the current picture stretched over the window (over the painter's
    // whole device when no window is given).
    void DrawFrame(QPainter* dc, BITMAPINFOHEADER* frame, QWidget* window);
    void SetBorder(int enabled, COLORREF colour);
    void SetFrameTime(SYSTEMTIME time);
    // Paints the no-video picture over the picture window (the painter's device
    // when there is none).
    void DrawMessageText(QPainter* dc);
    void CopyToClipboard(int noVideo);
    // format 1 BMP, 2 JPEG; TRUE when the file was written.
    BOOL SaveFrame(const char* path, WORD format);
    BOOL SaveNoVideoFrame(const char* path, WORD format);
    void ResetFrame();

    // What the drawer holds, for its owner and tests.
    bool HasDecoder() const { return m_decoder != nullptr; }
    bool HasStillsCodec() const { return m_stills[STILLCODEC_JPEG] != nullptr; }
    int ImageType() const { return m_imageType; }
    // The decoded picture: a 24-bit DIB (header, padded rows), or null.
    const BITMAPINFOHEADER* Picture() const;

    static constexpr WORD kFormatBmp = 1;
    static constexpr WORD kFormatJpeg = 2;
    static constexpr int kJpegQuality = 70;

protected:
    bool AllocDIBMem(std::size_t size);
    BOOL WriteBMPFrame(const char* path, int noVideo);
    BOOL WriteJPEGFrame(const char* path, int noVideo);
    int SetDateOnFrame(BITMAPINFOHEADER* image, int mode);
    void SetNoVidOnFrame(BITMAPINFOHEADER* image);
    const TextFont* getTimeFont();
    void DrawBorder(QPainter* dc, int width, int height, COLORREF colour);

private:
    // A copy of the current picture (header and pixels) to stamp and save.
    bool copyPicture(std::vector<BYTE>& out) const;
    BITMAPINFOHEADER* imageBlock();

    int m_width = 0;
    int m_height = 0;
    QWidget* m_owner = nullptr;
    QWidget* m_picture = nullptr;
    CStillsDevices m_stills;
    BITMAPINFOHEADER* m_frame = nullptr;
    COLORREF m_borderColour = 255;
    int m_border = 0;
    SYSTEMTIME m_frameTime{};
    bool m_timeFontMade = false;
    TextFont m_timeFont;
    IZOH263DEC* m_decoder = nullptr;
    bool m_comInitialised = false;
    char m_noVideoText[128] = {};
    DWORD m_noVideoTextVisible = 1;
    int m_imageType = 0;
    std::size_t m_imageSize = 0;
    DWORD m_jpegSize = 0;
    std::vector<BYTE> m_image;  // header and 24-bit pixels of the decoded picture
    DWORD m_stampDateWhenSaving = 1;
};
