#include "trennick/panels/file_history_dlg.h"

#include "common/lumo_deb.h"
#include "platform/replace_file.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/w95_list_view.h"

#include <QContextMenuEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

namespace trennick {

namespace {

constexpr std::size_t kLineChars = 510;
constexpr std::size_t kFieldChars[] = {255, 63, 63, 31};

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

bool ParseHistoryLine(const std::string& text, HistoryLine& out) {
    const std::string line = withoutLineEnd(text.substr(0, kLineChars));
    std::vector<std::string> fields;
    CCommon::SplitFields(line, fields, 4, ';');
    fields.resize(4);
    for (std::size_t i = 0; i < 4; ++i) {
        if (fields[i].size() > kFieldChars[i]) fields[i].resize(kFieldChars[i]);
    }
    out = {fields[0], fields[1], fields[2], fields[3]};
    return !out.path.empty();
}

std::string FormatHistoryLine(const HistoryLine& line) {
    return line.path + ";" + line.type + ";" + line.station + ";" + line.stamp + "\r\n";
}

CFileHistory::CFileHistory(QWidget* parent, std::string historyFile, bool received, CW95ListView& queue,
                           std::array<LONG, 4>& widths)
    : QDialog(parent), m_file(std::move(historyFile)), m_received(received), m_queue(queue), m_widths(widths) {
    setWindowTitle(QString::fromStdString(UiString(received ? 310 : 309, received ? "Received files" : "Sent files")));
    m_list = new CW95ListView(this);
    UiSetControlId(m_list, kHistoryListId);
    m_list->setContextMenuPolicy(Qt::DefaultContextMenu);
    m_remove = UiSetControlId(new QPushButton("&Remove", this), ID_HIST_REMOVE);
    m_toQueue = UiSetControlId(new QPushButton("&Queue", this), ID_HIST_QUEUE);
    m_open = UiSetControlId(new QPushButton("&Open", this), ID_HIST_OPEN);
    auto* close = UiSetControlId(new QPushButton("&Close", this), ID_HIST_CLOSE);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_remove, m_toQueue, m_open, close}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    connect(m_remove, &QPushButton::clicked, this, [this] { OnCommand(ID_HIST_REMOVE); });
    connect(m_toQueue, &QPushButton::clicked, this, [this] { OnCommand(ID_HIST_QUEUE); });
    connect(m_open, &QPushButton::clicked, this, [this] { OnCommand(ID_HIST_OPEN); });
    connect(close, &QPushButton::clicked, this, [this] { OnCommand(ID_HIST_CLOSE); });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const int last = m_list->GetItemCount() - 1;
        if (last < 0 || at.y() > m_list->GetItemRect(last).bottom()) return;
        QMenu menu;
        menu.addAction("&Remove", [this] { OnCommand(ID_HIST_REMOVE); });
        menu.addAction("&Open", [this] { OnCommand(ID_HIST_OPEN); });
        menu.addAction("Add to &queue", [this] { OnCommand(ID_HIST_QUEUE); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    resize(560, 300);
    load();
}

void CFileHistory::load() {
    // Stored widths: type, station, path, date. The date column keeps the
    // width it had, so it does not grow each time the dialog opens.
    int type = m_widths[0], station = m_widths[1], path = m_widths[2], date = m_widths[3];
    if (type == -1) {
        const int client = std::max(120, m_list->viewport()->width() > 100 ? m_list->viewport()->width() : 520);
        path = station = client * 4 / 12;
        type = client * 2 / 12;
        date = client - path - station - type;
    }
    m_list->InsertColumn(0, path, UiString(300, "File"));
    m_list->InsertColumn(1, type, UiString(301, "Type"));
    m_list->InsertColumn(2, station, UiString(m_received ? 305 : 304, m_received ? "From" : "To"));
    m_list->InsertColumn(3, date, UiString(m_received ? 303 : 302, m_received ? "Received" : "Sent"));
    std::ifstream in(m_file, std::ios::binary);
    std::string text;
    while (std::getline(in, text)) {
        HistoryLine line;
        if (!ParseHistoryLine(text, line)) continue;
        m_rowLines.push_back(withoutLineEnd(text));
        const int row = m_list->InsertItemWithIcon(-1, line.path, ShellIcon(line.path));
        m_list->SetItemText(row, 1, ShellTypeName(line.path));
        m_list->SetItemText(row, 2, line.station);
        m_list->SetItemText(row, 3, line.stamp);
    }
    enableButtons();
}

void CFileHistory::enableButtons() {
    const bool any = m_list->GetItemCount() > 0;
    for (QPushButton* b : {m_remove, m_toQueue, m_open}) b->setEnabled(any);
}

void CFileHistory::OnCommand(WPARAM id) {
    switch (id) {
    case ID_HIST_CLOSE:
        done(IDOK);
        break;
    case ID_HIST_REMOVE:
    case ID_FT_REMOVE_CTX:
    case ID_FT_REMOVE:
        removeSelected();
        break;
    case ID_HIST_QUEUE:
    case ID_HIST_QUEUE_CTX: {
        const int selected = m_list->GetSelectedCount();
        if (selected == 0) break;
        if (m_common.ShowMessage(kStrAddSelectedToQueue, 2, selected) != 512) break;
        for (int r = m_list->GetNextSelected(-1); r >= 0; r = m_list->GetNextSelected(r)) {
            const std::string path = m_list->GetItemText(r, 0);
            const int row = m_queue.InsertItemWithIcon(-1, path, ShellIcon(path));
            m_queue.SetItemText(row, 1, ShellTypeName(path));
        }
        break;
    }
    case ID_HIST_OPEN:
    case ID_FT_OPEN_CTX:
        for (int r = m_list->GetNextSelected(-1); r >= 0; r = m_list->GetNextSelected(r)) {
            CCommon::ShellOpen(m_list->GetItemText(r, 0));
        }
        break;
    case ID_HIST_HELP:
        LUMO_TRACE(3, "CFileHistory: help");
        break;
    default:
        break;
    }
}

void CFileHistory::removeSelected() {
    for (int r = m_list->GetNextSelected(-1); r >= 0; r = m_list->GetNextSelected(r)) {
        if (static_cast<std::size_t>(r) < m_rowLines.size()) m_removed.push_back(m_rowLines[std::size_t(r)]);
    }
    std::vector<std::string> kept;
    for (int r = 0; r < m_list->GetItemCount(); ++r) {
        if (!m_list->topLevelItem(r)->isSelected() && std::size_t(r) < m_rowLines.size()) {
            kept.push_back(m_rowLines[std::size_t(r)]);
        }
    }
    m_list->DeleteItems(-1);
    m_rowLines = std::move(kept);
    enableButtons();
}

bool CFileHistory::SaveAndClose() {
    if (m_saved) return true;
    m_saved = true;
    m_widths = {m_list->GetColumnWidth(1), m_list->GetColumnWidth(2), m_list->GetColumnWidth(0),
                m_list->GetColumnWidth(3)};
    return m_removed.empty() || rewriteWithoutRemoved();
}

bool CFileHistory::rewriteWithoutRemoved() {
    // The file as it is now: the transfer window may have appended lines since
    // the dialog loaded it. Each removed line takes out one line equal to it.
    std::vector<std::string> lines;
    {
        std::ifstream in(m_file, std::ios::binary);
        std::string text;
        while (std::getline(in, text)) {
            text = withoutLineEnd(std::move(text));
            const auto removed = std::find(m_removed.begin(), m_removed.end(), text);
            if (removed != m_removed.end()) {
                m_removed.erase(removed);
            } else if (!text.empty()) {
                lines.push_back(std::move(text));
            }
        }
    }
    std::string content;
    for (const std::string& line : lines) content += line + "\r\n";
    // A failure leaves the old history as it was.
    const int error = platform::ReplaceFileContent(m_file, content);
    if (error != 0) {
        m_common.ShowMessage(error == EMFILE || error == ENFILE ? 4110 : 4080, 0, m_file.c_str());
        return false;
    }
    return true;
}

void CFileHistory::done(int result) {
    SaveAndClose();
    QDialog::done(result);
}

}  // namespace trennick
