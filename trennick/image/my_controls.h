#pragma once
// Small controls that give the program's windows their look: CMyImageCtrl, a
// picture from a bitmap file or resource sized to fit the control's home
// rectangle, with its own palette, an overlay text and a copy command;
// CMyStaticText, a text in the user-interface font painted in one of two
// styles; CMyAnimCtrl and CMySliderCtrl on light grey; CCutTextCtrl, a text
// shown cut to a maximum length with a clear command. GUI thread only.

#include "platform/types.h"
#include "trennick/image/dib.h"

#include <QLabel>
#include <QSlider>
#include <QWidget>

#include <string>
#include <vector>

class QMenu;

class CMyImageCtrl : public QWidget {
public:
    static constexpr int kCmdCopy = 32844;

    explicit CMyImageCtrl(QWidget* parent = nullptr);
    ~CMyImageCtrl() override;

    // Nothing when the name is the one shown (case ignored) or the file holds
    // no bitmap; else shows it, sized to fit.
    void LoadImageFile(const std::string& fileName);
    void LoadImageResource(UINT bitmapId);
    // Drops the picture; with `restore`, moves the control back to its home.
    void FreeImage(bool restore);
    void SetOverlayText(const QString& text, const QPoint& at);

    bool HasPicture() const { return m_dib != nullptr; }
    const std::string& SourceName() const { return m_name; }
    const std::vector<QRgb>& Palette() const { return m_palette; }
    QRect HomeRect() const { return m_home; }
    // The context menu as it would open now.
    QMenu* BuildContextMenu(QWidget* owner);
    void CopyToClipboard();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void noteHome();
    void buildPalette();
    void fit();

    HDIB m_dib = nullptr;
    std::string m_name;
    std::vector<QRgb> m_palette;
    QRect m_home;
    QString m_overlay;
    QPoint m_overlayAt;
};

class CMyStaticText : public QWidget {
public:
    explicit CMyStaticText(QWidget* parent = nullptr);
    void SetText(const QString& text);
    const QString& Text() const { return m_text; }
    // 1: black on grey with a white shadow; 2: green on black; else plain.
    void SetStyle(int style);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text = QStringLiteral(" ");
    int m_style = 1;
};

class CMyAnimCtrl : public QLabel {
public:
    explicit CMyAnimCtrl(QWidget* parent = nullptr);
};

class CMySliderCtrl : public QSlider {
public:
    explicit CMySliderCtrl(Qt::Orientation orientation, QWidget* parent = nullptr);
};

class CCutTextCtrl : public QLabel {
public:
    static constexpr int kCmdDo = 32873, kCmdClear = 32874;

    explicit CCutTextCtrl(int maxShownChars, QWidget* parent = nullptr);
    void SetText(const QString& text, const QString& second);
    const QString& FullText() const { return m_full; }
    const QString& SecondText() const { return m_second; }
    QMenu* BuildContextMenu(QWidget* owner);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The derived control's own command.
    virtual void OnDo() {}

private:
    QString m_second;
    QString m_full;
    int m_maxShown;
};
