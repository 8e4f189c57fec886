#pragma once
// CDib: the renderer of the live video view. It keeps the decoded picture as
// one packed 24-bit bitmap with room for the largest picture (352 x 288),
// whose header describes the picture's actual size, and paints it into a draw
// rectangle with a frame line, an optional camera label and, for a frame the
// site marked as having no signal, the no-video text.
//
// Threads: the user-interface thread only. Failures: a picture that cannot be
// allocated leaves the renderer without one, and painting then does nothing.

#include "platform/types.h"
#include "trennick/image/dib.h"

#include <QFont>
#include <string>

class QPainter;
class QWidget;

// The largest picture the view takes.
inline constexpr int kMaxPictureWidth = 352;
inline constexpr int kMaxPictureHeight = 288;
// Header and colour table room, then the 24-bit rows of the largest picture.
inline constexpr DWORD kPictureHeadBytes = 1064;
inline constexpr DWORD kPictureBitsBytes = kMaxPictureWidth * kMaxPictureHeight * 3;
inline constexpr DWORD kPictureBlockBytes = kPictureHeadBytes + kPictureBitsBytes;

inline constexpr COLORREF kVideoFrameColour = 0x26A0F7;   // RGB(247, 160, 38)
inline constexpr COLORREF kNoVideoTextColour = 0x2B15FD;  // RGB(253, 21, 43)
inline constexpr int kVideoLogoBitmap = 476;

class CDib {
public:
    CDib();
    ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Allocates the picture block (when absent) and describes width x height
    // at `bits` bits; FALSE when the size is not a picture the view takes.
    BOOL CreatePicture(int width, int height, int bits, QWidget* target);
    // Refills the header of the existing block for a new size; FALSE (and the
    // header unchanged) for a size beyond 352 x 288 or not positive.
    BOOL ResizePicture(int width, int height, int bits);
    void FreePicture();
    void BeginDraw();
    void EndDraw();
    // Zeroes the rows of the current size.
    void ClearPicture();
    void SetDrawRect(const RECT& rectangle, const char* label);
    void DrawFrameRect(QPainter& dc, const RECT& rectangle, int penWidth, COLORREF colour);
    // Paints a packed bitmap (the picture or a tile) into the draw rectangle.
    void DrawVideoBitmap(HDIB picture, QPainter& dc, BOOL noVideo);
    // Paints a packed bitmap into another rectangle with its own label (a
    // pane of the split view), keeping the draw rectangle and label.
    void DrawVideoBitmapIn(HDIB picture, QPainter& dc, const RECT& rectangle, const std::string& label,
                           BOOL noVideo);
    // The logo in the rectangle, keeping the draw rectangle and label.
    void DrawLogo(QPainter& dc, const RECT& rectangle);

    HDIB Picture() const { return m_picture; }
    BYTE* Bits() const;
    int Width() const;
    int Height() const;
    void SetTarget(QWidget* target) { m_target = target; }
    QWidget* Target() const { return m_target; }
    const RECT& DrawRect() const { return m_drawRect; }
    const std::string& NoVideoText() const { return m_noVideoText; }

    BOOL m_bEnablePainting = TRUE;

private:
    QFont m_labelFont;
    QFont m_secondFont;
    RECT m_drawRect{};
    std::string m_label;
    bool m_drawing = false;
    bool m_firstDraw = true;
    HDIB m_picture = nullptr;
    QWidget* m_target = nullptr;
    std::string m_noVideoText;
    DWORD m_noVideoVisible = 1;
};

// Fills a 40-byte header for a picture of that size and depth (the colour
// count and image size as a packed bitmap has them).
void FillPictureHeader(BITMAPINFOHEADER& header, int width, int height, int bits);
