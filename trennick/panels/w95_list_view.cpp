#include "trennick/panels/w95_list_view.h"

#include "tavicore/ui/ui_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyle>

namespace trennick {

CW95ListView::CW95ListView(QWidget* parent) : QTreeWidget(parent) {
    UiSetControlId(this, kListViewId);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    InitImageList();
}

void CW95ListView::Create(QWidget* parent, const QRect& rect) {
    if (parent != nullptr && parentWidget() != parent) setParent(parent);
    setGeometry(rect);
    setVisible(true);
}

void CW95ListView::InitImageList() {
    m_images.clear();
    m_images.push_back(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
}

void CW95ListView::InsertColumn(int column, int width, const std::string& text) {
    const int count = columnCount();
    if (column < 0 || column > count) column = count;
    setColumnCount(count + 1);
    QTreeWidgetItem* head = headerItem();
    for (int c = count; c > column; --c) head->setText(c, head->text(c - 1));
    head->setText(column, QString::fromStdString(text));
    head->setTextAlignment(column, Qt::AlignLeft);
    setColumnWidth(column, width);
}

int CW95ListView::InsertItemWithIcon(int row, const std::string& text, const QIcon& icon) {
    m_images.push_back(icon);
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(text));
    item->setIcon(0, icon);
    if (row < 0 || row > topLevelItemCount()) row = topLevelItemCount();
    insertTopLevelItem(row, item);
    return row;
}

void CW95ListView::SetItemText(int row, int column, const std::string& text) {
    if (QTreeWidgetItem* item = topLevelItem(row); item != nullptr && column >= 0 && column < columnCount()) {
        item->setText(column, QString::fromStdString(text));
    }
}

std::string CW95ListView::GetItemText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? item->text(column).toStdString() : std::string();
}

void CW95ListView::DeleteItems(int row) {
    if (row >= 0) {
        delete takeTopLevelItem(row);
        return;
    }
    // Nothing selected: nothing to delete, and the selection stays as it is.
    if (GetSelectedCount() == 0) return;
    int last = -1;
    for (int r = topLevelItemCount() - 1; r >= 0; --r) {
        if (topLevelItem(r)->isSelected()) {
            if (last < 0) last = r;
            delete takeTopLevelItem(r);
            if (r < last) --last;
        }
    }
    SelectItem(last);
}

int CW95ListView::GetNextSelected(int start) const {
    for (int r = start + 1; r < topLevelItemCount(); ++r) {
        if (topLevelItem(r)->isSelected()) return r;
    }
    return -1;
}

void CW95ListView::SelectItem(int row) {
    clearSelection();
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr) return;
    setCurrentItem(item);
    item->setSelected(true);
}

int CW95ListView::GetSelectedCount() const {
    int count = 0;
    for (int r = 0; r < topLevelItemCount(); ++r) count += topLevelItem(r)->isSelected() ? 1 : 0;
    return count;
}

QRect CW95ListView::GetItemRect(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? visualItemRect(item) : QRect();
}

}  // namespace trennick
