#pragma once
// The plain child windows of the main window's family: CCntrlWnd, the base
// that can skip one background erase after its content changed (so a
// window that repaints itself whole does not flicker); CScrlWnd, a panel of
// one colour that scrolls vertically in steps of 20 pixels; and
// CTextEditWnd, a read-only multi-line text field with its own font on light
// grey (a CR-LF in its text starts a new line).
// GUI thread only; nothing fails.

#include "platform/types.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <string>

class CCntrlWnd : public QWidget {
public:
    explicit CCntrlWnd(QWidget* parent = nullptr);
    // The content changed: the next background erase is skipped.
    virtual void OnContentChanged();
    // The erase of the background: false (nothing painted) once after a
    // content change, else paints the background colour and returns true.
    bool EraseBackground(QPainter& painter);
    bool SkipsNextErase() const { return m_skipErase; }
    void SetBackground(COLORREF colour) { m_background = colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_skipErase = false;
    COLORREF m_background = 0xC0C0C0;
};

class CScrlWnd : public CCntrlWnd {
public:
    static constexpr int kStepPixels = 20;
    CScrlWnd(COLORREF background, QWidget* parent = nullptr);
    // The height of the content; the position stays within it.
    void SetContentHeight(int pixels);
    void LineUp() { scrollTo(m_position - kStepPixels); }
    void LineDown() { scrollTo(m_position + kStepPixels); }
    void PageUp() { scrollTo(m_position - pageSteps() * kStepPixels); }
    void PageDown() { scrollTo(m_position + pageSteps() * kStepPixels); }
    void ThumbTo(int position) { scrollTo(position); }
    int Position() const { return m_position; }
    int Range() const;

private:
    int pageSteps() const;
    void scrollTo(int position);

    int m_contentHeight = 0;
    int m_position = 0;
};

class CTextEditWnd : public QPlainTextEdit {
public:
    CTextEditWnd(const std::string& text, int pointSize, const char* faceName, QWidget* parent = nullptr);
    void SetText(const std::string& text);
    const std::string& Text() const { return m_text; }
    // Moves the window to the rectangle, or over its parent's client area
    // when none is given, and repaints it.
    void MoveToRect(const RECT* rectangle = nullptr);

private:
    std::string m_text;
};
