#pragma once
// CFrameMenu: the main window's menu bar. Each item sends its command id to
// the frame; before a menu opens, each of its items asks the frame's update
// handler for its state (enabled, checked, text), as the toolbar and the
// buttons do on every status update.
//
// Thread: the user-interface thread.

#include "platform/types.h"

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

class QAction;
class QMainWindow;
class QMenu;

namespace trennick {

// What an update handler says about a command.
struct CommandUi {
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    std::string text;  // empty: keep the item's text
};

class CFrameMenu {
public:
    using CommandSink = std::function<void(WPARAM)>;
    using UpdateHandler = std::function<CommandUi(WPARAM)>;

    CFrameMenu(QMainWindow& frame, CommandSink sink, UpdateHandler update);
    // Builds the menu bar with every item.
    void Build();
    // Takes the items out of the menu (their commands still work when sent).
    void Remove(std::span<const WPARAM> ids);
    // The item of a command; null when the menu has none.
    QAction* Action(WPARAM id) const;
    // Asks the update handler for every item of the menu now.
    void UpdateAll();
    // The ids of the items the menu holds.
    std::vector<WPARAM> Ids() const;

private:
    QMenu* addMenu(const char* title);
    void addItem(QMenu* menu, WPARAM id, const char* text);
    void update(QMenu* menu);

    QMainWindow& m_frame;
    CommandSink m_sink;
    UpdateHandler m_update;
    std::map<WPARAM, QAction*> m_actions;
};

}  // namespace trennick
