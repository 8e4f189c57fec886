// The history dialog's columns keep their widths from one opening to the next.

#include "panels_test_support.h"
#include "trennick/panels/file_history_dlg.h"
#include "trennick/panels/w95_list_view.h"

#include <gtest/gtest.h>

using namespace trennick;
using namespace panelstest;

TEST(FileHistory, ColumnWidthsAreKeptAndLinesCutToTheirFields) {
    const auto file = platform::homeFolder() / "hist" / "KivSFile.kiv";
    writeFile(file, "/a/one.txt;Text;North Gate;1.2.2026  10:00\r\n" + std::string(260, 'p') + ";" +
                        std::string(100, 't') + ";" + std::string(100, 's') + ";" + std::string(40, 'd') + "\n" +
                        ";no path;x;y\n");
    CW95ListView queue;
    queue.InsertColumn(0, 100, "File");
    queue.InsertColumn(1, 100, "Type");
    std::array<LONG, 4> widths{80, 90, 200, 120};  // type, station, path, date
    for (int opening = 0; opening < 2; ++opening) {
        CFileHistory dialog(nullptr, file.string(), false, queue, widths);
        ASSERT_EQ(dialog.List().GetItemCount(), 2);
        EXPECT_EQ(dialog.List().GetColumnWidth(3), 120) << "opening " << opening;
        EXPECT_EQ(dialog.List().GetItemText(1, 0).size(), 255u);
        EXPECT_EQ(dialog.List().GetItemText(1, 2).size(), 63u);
        EXPECT_EQ(dialog.List().GetItemText(1, 3).size(), 31u);
        dialog.OnCommand(ID_HIST_CLOSE);
        EXPECT_EQ(widths, (std::array<LONG, 4>{80, 90, 200, 120}));
    }
    // Putting a row back into the queue asks first (no presenter: no) and
    // leaves the queue alone.
    CFileHistory dialog(nullptr, file.string(), false, queue, widths);
    dialog.List().SelectItem(0);
    dialog.OnCommand(ID_HIST_QUEUE);
    EXPECT_EQ(queue.GetItemCount(), 0);
    // Removing with nothing selected changes nothing.
    dialog.List().clearSelection();
    dialog.OnCommand(ID_HIST_REMOVE);
    EXPECT_EQ(dialog.List().GetItemCount(), 2);
}
