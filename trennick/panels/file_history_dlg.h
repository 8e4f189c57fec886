#pragma once
// CFileHistory: the dialog that lists the files sent or received, from the
// history file that the transfer window appends to. The operator opens files,
// removes entries and puts files back into the send queue; at close the
// column widths are kept in the transfer window's placement, and the lines the
// operator removed are taken out of the history file as it is then, so lines
// appended while the dialog was open stay.
//
// Shown window-modal without a nested loop, so nothing waits on it when no one
// can answer. User-interface thread only. A history file that cannot be
// rewritten is told to the user and left as it was.

#include "platform/types.h"
#include "trennick/link/common_base.h"

#include <QDialog>
#include <array>
#include <string>
#include <vector>

class QPushButton;

namespace trennick {

class CW95ListView;

inline constexpr int kHistoryListId = 1061;
inline constexpr WPARAM ID_HIST_REMOVE = 1057;
inline constexpr WPARAM ID_HIST_QUEUE = 1058;
inline constexpr WPARAM ID_HIST_OPEN = 1059;
inline constexpr WPARAM ID_HIST_CLOSE = 1060;
inline constexpr WPARAM ID_HIST_QUEUE_CTX = 1053;
inline constexpr WPARAM ID_HIST_HELP = 57670;
inline constexpr UINT kStrAddSelectedToQueue = 5200;

// One history line: path ";" type ";" station ";" date and time.
struct HistoryLine {
    std::string path, type, station, stamp;
};
// Splits a line (at most 510 characters are read, fields cut to 255, 63, 63
// and 31 characters); false for a line without a path.
bool ParseHistoryLine(const std::string& line, HistoryLine& out);
std::string FormatHistoryLine(const HistoryLine& line);

class CFileHistory : public QDialog {
public:
    // widths: the four stored column widths (type, station, path, date), kept
    // there at close. queue: the transfer window's send queue.
    CFileHistory(QWidget* parent, std::string historyFile, bool received, CW95ListView& queue,
                 std::array<LONG, 4>& widths);

    void OnCommand(WPARAM id);
    CW95ListView& List() { return *m_list; }
    // Writes the widths back and takes the removed lines out of the history
    // file; false when it could not be rewritten.
    bool SaveAndClose();
    void done(int result) override;

private:
    void load();
    void enableButtons();
    void removeSelected();
    bool rewriteWithoutRemoved();

    std::string m_file;
    bool m_received;
    CW95ListView& m_queue;
    std::array<LONG, 4>& m_widths;
    CW95ListView* m_list = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_toQueue = nullptr;
    QPushButton* m_open = nullptr;
    CCommon m_common;
    bool m_saved = false;
    std::vector<std::string> m_rowLines;  // each row's line as the file held it
    std::vector<std::string> m_removed;   // the lines of the rows the operator removed
};

}  // namespace trennick
