#pragma once
// CW95ListView: the report list of the transfer window's send queue and of the
// file history dialog: columns, and one small icon per row that each added row
// brings with it. User-interface thread only; bad row or column indexes are
// ignored.

#include <QIcon>
#include <QTreeWidget>
#include <string>
#include <vector>

namespace trennick {

inline constexpr int kListViewId = 32145;

class CW95ListView : public QTreeWidget {
public:
    explicit CW95ListView(QWidget* parent = nullptr);

    // Places the list in its parent at the rectangle.
    void Create(QWidget* parent, const QRect& rect);
    void InitImageList();
    void InsertColumn(int column, int width, const std::string& text);
    // Row -1: at the end. Returns the row index.
    int InsertItemWithIcon(int row, const std::string& text, const QIcon& icon);
    void SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    // A row index deletes that row; -1 deletes the selected rows and selects
    // the row that then stands where the last one was. With nothing selected
    // nothing changes.
    void DeleteItems(int row);
    // The next selected row after `start` (-1: from the first), or -1.
    int GetNextSelected(int start) const;
    // Gives the row the focus and the selection; a row beyond the end selects nothing.
    void SelectItem(int row);
    int GetItemCount() const { return topLevelItemCount(); }
    int GetSelectedCount() const;
    int GetColumnWidth(int column) const { return columnWidth(column); }
    // The rectangle of a row in the list's viewport.
    QRect GetItemRect(int row) const;
    // Images taken by the rows so far.
    int ImageCount() const { return static_cast<int>(m_images.size()); }

private:
    std::vector<QIcon> m_images;
};

}  // namespace trennick
