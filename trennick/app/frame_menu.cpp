#include "trennick/app/frame_menu.h"

#include "trennick/station/station_messages.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace trennick {

CFrameMenu::CFrameMenu(QMainWindow& frame, CommandSink sink, UpdateHandler update)
    : m_frame(frame), m_sink(std::move(sink)), m_update(std::move(update)) {}

QMenu* CFrameMenu::addMenu(const char* title) {
    QMenu* menu = m_frame.menuBar()->addMenu(QString::fromLatin1(title));
    QObject::connect(menu, &QMenu::aboutToShow, menu, [this, menu] { update(menu); });
    return menu;
}

void CFrameMenu::addItem(QMenu* menu, WPARAM id, const char* text) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(QVariant::fromValue<qulonglong>(id));
    QObject::connect(action, &QAction::triggered, action, [this, id] { m_sink(id); });
    m_actions[id] = action;
}

void CFrameMenu::Build() {
    QMenu* file = addMenu("&File");
    addItem(file, ID_CONNECT_CONNECT, "&Connect");
    addItem(file, ID_CONNECT_DISCONNECT, "&Disconnect");
    addItem(file, ID_LISTEN, "&Listen for calls");
    addItem(file, ID_CALL_STORED, "Call the &stored number");
    addItem(file, ID_DIAL_40, "Call number &40");
    addItem(file, ID_SITE_BOOK, "Site &book...");
    file->addSeparator();
    addItem(file, ID_FILE_TRANSFER, "&File transfer...");
    addItem(file, ID_OPEN_CHAT, "C&hat...");
    addItem(file, ID_SEND_SITE_INFO, "Send my &card");
    addItem(file, ID_ADDRESS_BOOK, "&Address book...");
    file->addSeparator();
    addItem(file, ID_APP_EXIT_CMD, "E&xit");

    QMenu* site = addMenu("&Site");
    addItem(site, ID_TOGGLE_ARM, "&Arm or disarm");
    addItem(site, ID_LOCK_SITE, "&Lock the site");
    addItem(site, ID_UNLOCK_SITE, "&Unlock the site");
    addItem(site, ID_RECORD_START, "&Record");
    addItem(site, ID_RECORD_STOP, "&Stop recording");
    addItem(site, ID_OPEN_DEBRIEF, "&Events...");
    addItem(site, ID_LINK_REQUEST, "Link &request");
    addItem(site, ID_UPGRADE_SITE, "&Upgrade the site...");
    addItem(site, ID_GET_LOG_FILES, "Get the site's &log files");
    addItem(site, 32104, "Record an &event");
    addItem(site, 32145, "&Snapshot");
    addItem(site, 32883, "Site &information");
    addItem(site, ID_ARM, "A&rm");
    addItem(site, ID_DISARM, "&Disarm");
    addItem(site, ID_REMOTE_SETTINGS, "Remote se&ttings...");
    addItem(site, ID_REQUEST_SNAPSHOT, "Request a sna&pshot...");
    addItem(site, ID_SNAPSHOT_STORED, "Snapshot as &before");
    addItem(site, ID_TALK, "Send au&dio");

    QMenu* view = addMenu("&View");
    addItem(view, ID_HOLD_CALL, "&Hold the call");
    addItem(view, ID_RESTART_VIDEO, "&Restart the video");
    addItem(view, ID_DISPLAY_ON, "Video display &on");
    addItem(view, ID_DISPLAY_OFF, "Video display o&ff");
    addItem(view, ID_FULL_SCREEN, "F&ull screen");
    addItem(view, ID_SEQUENCE_ON, "Camera se&quence");
    addItem(view, ID_QUAD_SETTINGS, "Se&quence settings...");
    addItem(view, ID_COLLAPSE, "Show &less");
    addItem(view, ID_EXPAND, "Show &more");
    view->addSeparator();
    addItem(view, ID_START_PROFILE, "&Link statistics");
    addItem(view, ID_END_PROFILE, "&Close the link statistics");
    addItem(view, ID_STATISTICS, "&Statistics...");

    QMenu* tools = addMenu("&Tools");
    addItem(tools, ID_OPTIONS, "&Options...");
    addItem(tools, ID_OPTIONS_PAGE4, "&Link options...");
    addItem(tools, ID_SETUP_WIZARD, "Setup &wizard...");
    addItem(tools, ID_USERS, "&Users...");
    addItem(tools, ID_CHRONVIEW, "Activity lo&g...");

    QMenu* help = addMenu("&Help");
    addItem(help, ID_HELP, "&Help");
    addItem(help, ID_APP_ABOUT, "&About Velmoor...");
}

void CFrameMenu::Remove(std::span<const WPARAM> ids) {
    for (WPARAM id : ids) {
        auto it = m_actions.find(id);
        if (it == m_actions.end()) continue;
        if (auto* menu = qobject_cast<QMenu*>(it->second->parent())) menu->removeAction(it->second);
        delete it->second;
        m_actions.erase(it);
    }
}

QAction* CFrameMenu::Action(WPARAM id) const {
    auto it = m_actions.find(id);
    return it != m_actions.end() ? it->second : nullptr;
}

std::vector<WPARAM> CFrameMenu::Ids() const {
    std::vector<WPARAM> ids;
    for (const auto& [id, action] : m_actions) ids.push_back(id);
    return ids;
}

void CFrameMenu::update(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        const WPARAM id = static_cast<WPARAM>(action->data().toULongLong());
        const CommandUi state = m_update(id);
        action->setEnabled(state.enabled);
        action->setCheckable(state.checkable);
        if (state.checkable) action->setChecked(state.checked);
        if (!state.text.empty()) action->setText(QString::fromStdString(state.text));
    }
}

void CFrameMenu::UpdateAll() {
    for (QMenu* menu : m_frame.menuBar()->findChildren<QMenu*>()) update(menu);
}

}  // namespace trennick
