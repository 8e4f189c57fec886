#pragma once
// CBitmapButton: a push button drawn with the language library's bitmaps for
// its up, down, focus and disabled faces (a face the library lacks falls back
// to the up face, a button with no bitmaps at all to its text). It carries its
// command id as its control id.
//
// Thread: the user-interface thread. Failure: a missing bitmap leaves the
// button working with what it has.

#include "platform/types.h"

#include <QPixmap>
#include <QPushButton>

class QWidget;

namespace trennick {

// The four faces of a picture button; 0: none.
struct ButtonBitmaps {
    UINT up = 0, down = 0, focus = 0, disabled = 0;
};

// A push button drawn with bitmaps.
class CBitmapButton : public QPushButton {
public:
    CBitmapButton(WPARAM id, const char* fallbackText, QWidget* parent);
    // Loads the faces; false when the up face is missing.
    bool LoadBitmaps(const ButtonBitmaps& bitmaps);
    WPARAM Id() const { return m_id; }
    const ButtonBitmaps& Bitmaps() const { return m_bitmaps; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    WPARAM m_id;
    ButtonBitmaps m_bitmaps;
    QPixmap m_up, m_down, m_focus, m_disabled;
};

}  // namespace trennick
