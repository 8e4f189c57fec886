#pragma once
// The owner-drawn child controls of the program's dialogs and windows: a base
// that paints its own bevelled border (CDidovControl), a text box
// (CDidovMessageControl), and four painted variants: a bitmap, a frame
// animation driven by a small script, a percentage bar with a rate, and a
// plain colour field. None erases its background.
//
// The animation script, read one step per timer tick:
//   A-Z  show that frame (the step ends)      *   drop the frames, hide, 250 ms
//   #n   add bitmap resource n as a frame     (n  open a loop of n (none or 0: endless, outermost only)
//   )    close the innermost loop             + / -  show / hide
//   :n   border style   |n border width       @n  placement flags
//   <n >n ^n vn  move by n pixels, wrapping inside the movement range
//   ~n   step interval in ms                  characters up to the blank are ignored
// A script's end, or a counted repetition's, posts WM_COMMAND (wParam the
// control id, lParam 0x10000 + the low word of the control's handle) to the
// notify window; an error stops the animation and is sent as message 4999
// (wParam 2001-2005, lParam the error's text). A loop that comes round again
// without showing a frame ends the step, so a frameless endless loop moves
// one turn per tick instead of hanging.
// GUI thread only.

#include "platform/message_window.h"
#include "platform/types.h"

#include <QPixmap>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class UiMessageTarget;

inline constexpr UINT kMsgDidovScriptError = 4999;

enum DidovScriptError : int {
    kDidovNoSuchFrame = 2001,
    kDidovTooManyLoops = 2002,
    kDidovEndlessInnerLoop = 2003,
    kDidovLoopEndWithoutLoop = 2004,
    kDidovUnknownCommand = 2005,
};

class CDidovControl : public QWidget {
public:
    explicit CDidovControl(QWidget* parent = nullptr);
    ~CDidovControl() override;

    void SetBorder(int style, int widthPx);
    int BorderStyle() const { return m_borderStyle; }
    int BorderWidth() const { return m_borderWidth; }
    // Where the end and error notices go (0: nowhere), and the id they carry.
    void SetNotify(platform::HWND window, int controlId);
    // The control's own handle: its timer and the low word of its notices.
    platform::HWND Handle() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Paints the variant inside the border.
    virtual void paintInside(QPainter& painter, const QRect& area);
    QRect insideRect() const;
    void notifyEnd();
    void notifyError(int code, const std::string& text);
    virtual LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    std::unique_ptr<UiMessageTarget> m_target;

private:
    int m_borderStyle = 0;
    int m_borderWidth = 0;
    platform::HWND m_notify = 0;
    int m_controlId = 0;
};

class CDidovControlWithFont : public CDidovControl {
public:
    using CDidovControl::CDidovControl;
    void SetText(const QString& text);
    const QString& Text() const { return m_text; }
    void SetMultiLine(bool multiLine) { m_multiLine = multiLine; }
    bool MultiLine() const { return m_multiLine; }

protected:
    QString m_text;
    bool m_multiLine = false;
};

class CDidovMessageControl : public CDidovControlWithFont {
public:
    using CDidovControlWithFont::CDidovControlWithFont;
    // Sizes the control to its text (measured as it is painted), grown by 4
    // pixels and the border width, keeping its top-left corner; a single line
    // is centred horizontally on the old rectangle.
    virtual void FitToContent(int maxWidthPx);

protected:
    void paintInside(QPainter& painter, const QRect& area) override;

private:
    int textFlags() const;
};

class CDidovBitmap : public CDidovControl {
public:
    using CDidovControl::CDidovControl;
    void SetBitmap(const QPixmap& bitmap);

protected:
    void paintInside(QPainter& painter, const QRect& area) override;

private:
    QPixmap m_bitmap;
};

class CDidovPercent : public CDidovControl {
public:
    using CDidovControl::CDidovControl;
    // The percentage is clamped to 0-100; a rate of 0 shows none.
    void SetPercent(int percent, DWORD ratePerSecond);
    int Percent() const { return m_percent; }
    // The line painted on the bar.
    QString BarText() const;

protected:
    void paintInside(QPainter& painter, const QRect& area) override;

private:
    int m_percent = 0;
    DWORD m_rate = 0;
};

class CDidovColour : public CDidovControl {
public:
    using CDidovControl::CDidovControl;
    void SetColour(COLORREF colour);

protected:
    void paintInside(QPainter& painter, const QRect& area) override;

private:
    QColor m_colour{192, 192, 192};
};

class CDidovAnimation : public CDidovControl {
public:
    static constexpr int kMaxLoops = 3;

    using CDidovControl::CDidovControl;
    void AddFrame(const QPixmap& frame) { m_frames.push_back(frame); }
    // Without a script the frames cycle; `repeats` turns (-1: endless).
    void SetRepeats(int repeats) { m_repeats = repeats; }
    void SetScript(const std::string& script);
    void SetInterval(int ms);
    // The rectangle and flags the control is placed by, and its movement range.
    void Place(const QRect& area, int flags);
    void SetRange(const QRect& range) { m_range = range; }
    void Start();
    void Stop();
    // One tick: a step, then a repaint.
    void Step();

    int Frame() const { return m_frame; }
    int FrameCount() const { return static_cast<int>(m_frames.size()); }
    int Interval() const { return m_intervalMs; }
    bool Running() const { return m_running; }

protected:
    void paintInside(QPainter& painter, const QRect& area) override;
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void stepFrames();
    void stepScript();
    // The decimal number at the read position (0 when none); `found` tells.
    int readNumber(bool* found = nullptr);
    void fail(int code, const std::string& text);
    void finish();
    void move(int dx, int dy);

    std::vector<QPixmap> m_frames;
    int m_frame = 0;
    int m_repeats = -1;
    std::string m_script;
    std::size_t m_at = 0;
    struct Loop {
        int remaining = 0;  // -1: endless
        std::size_t start = 0;
        bool framed = false;  // the current turn showed a frame
    };
    Loop m_loops[kMaxLoops];
    int m_depth = 0;
    int m_intervalMs = 250;
    bool m_running = false;
    QRect m_placeArea;
    int m_placeFlags = 0;
    QRect m_range;
};
