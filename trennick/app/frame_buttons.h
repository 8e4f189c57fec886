#pragma once
// CFrameButtonRow: the main window's row of picture buttons. Each button shows
// the language library's bitmaps for its up, down, focus and disabled faces
// (a face the library lacks falls back to the up face, a button with no
// bitmaps at all to a text), sends its command id when clicked, and is shown,
// hidden, enabled and disabled by that id.
//
// Thread: the user-interface thread. Failure: a missing bitmap is traced and
// the button keeps working with what it has.

#include "platform/types.h"
#include "trennick/image/bitmap_button.h"

#include <QPixmap>
#include <QPushButton>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QWidget;

namespace trennick {

class CFrameButtonRow {
public:
    using CommandSink = std::function<void(WPARAM)>;
    // The text of a button's tool tip, asked each time the tip is about to show.
    using ToolTipSource = std::function<std::string(WPARAM)>;
    CFrameButtonRow(QWidget* parent, CommandSink sink);
    ~CFrameButtonRow();
    void SetToolTipSource(ToolTipSource source) { m_toolTips = std::move(source); }
    // Gives the button the tool tip its source names now.
    void RefreshToolTip(WPARAM id);

    // Builds the row with its initial states; `speakerphone`: the line has
    // one (its phone button replaces the connect button); `expanded`: the
    // stored expand toggle.
    void Build(bool speakerphone, bool expanded);

    CBitmapButton* Button(WPARAM id) const;
    // Shows (and enables) or hides (and disables) a button.
    void ShowEnabled(WPARAM id, bool on);
    void Enable(WPARAM id, bool on);
    bool IsEnabled(WPARAM id) const;
    bool IsShown(WPARAM id) const;
    // The arm button's faces: armed or disarmed.
    void SetArmFaces(bool armed);
    const std::map<WPARAM, CBitmapButton*>& Buttons() const { return m_buttons; }

private:
    CBitmapButton* add(WPARAM id, const char* text, const ButtonBitmaps& bitmaps);

    class ToolTipFilter;
    QWidget* m_parent;
    CommandSink m_sink;
    ToolTipSource m_toolTips;
    std::unique_ptr<ToolTipFilter> m_toolTipFilter;
    std::map<WPARAM, CBitmapButton*> m_buttons;
};

}  // namespace trennick
