#pragma once
// CBCWnd: a site's business card as a small scrolling child window titled
// "Site Information": a two-line caption and three read-only text fields on a
// plain background. The main frame shows the connected site's card in one, the
// address book the selected site's card in another. The card shows no picture.
// GUI thread only.

#include "platform/types.h"
#include "trennick/image/ctrl_windows.h"

#include <string>

class CBCWnd : public CScrlWnd {
public:
    static constexpr int kCaptionId = 65244;
    static constexpr int kField1Id = 65247;
    static constexpr int kField2Id = 65246;
    static constexpr int kField3Id = 65245;

    CBCWnd(COLORREF background, int margin, int spacing);
    // Creates the window inside the rectangle reduced by the margin on every
    // side (on the exact rectangle without the frame when `framed` is false),
    // then lays it out.
    void Create(int left, int top, int width, int height, QWidget* parent, bool framed = true);

    void SetCaption(const std::string& text);
    void SetCaption2(const std::string& text);
    void SetField1Text(const std::string& text);
    void SetField2Text(const std::string& text);
    void SetField3Text(const std::string& text);
    // The card shows no picture.
    void SetPicture(const std::string& /*path*/) {}

    // Places the text windows in `area` (the client rectangle when null) and
    // sets the scroll range: the steps of 20 pixels that field 3's top lies
    // below the area's bottom, plus one; 0 (arrows off) when it lies above.
    virtual void Layout(const RECT* area = nullptr);
    virtual void Changed() { m_changed = true; }

    std::string CaptionText() const { return m_caption; }
    const std::string& Field1() const { return m_fields[0]; }
    const std::string& Field2() const { return m_fields[1]; }
    const std::string& Field3() const { return m_fields[2]; }
    int ScrollRange() const { return m_scrollRange; }
    bool IsChanged() const { return m_changed; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showCaption();
    void setField(int index, const std::string& text);

    int m_margin;
    int m_spacing;
    std::string m_line1, m_line2, m_caption;
    std::string m_fields[3];
    CTextEditWnd* m_captionWnd = nullptr;
    CTextEditWnd* m_fieldWnd[3] = {};
    int m_scrollRange = 0;
    bool m_changed = false;
};
