#pragma once
// The address book's dialogs: CAddressBook, the book as a tree of groups and
// sites beside the selected site's card; CEditAddrBook, one site entry;
// CEditName, a group's name; CAddBCDlg, which files a card received from a
// site into a group. Each control carries its resource number as its object
// name. Changes the user makes are written to the activity log (13 added,
// 14 deleted, 15 edited, with the site's name). GUI thread only.

#include "platform/types.h"
#include "trennick/book/addr_book_file.h"

#include <QDialog>

#include <functional>
#include <string>

class CBCWnd;
class CMyImageCtrl;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace trennick {

// Whether someone can answer a dialog: not when the program runs unattended
// or without a display, where a dialog would wait for ever.
bool AddrBookCanAsk();

// The address book's messages and dialogs, for CAddrBookFile::SetUi: the
// messages through CCommon's message boxes, the dialogs below, and what was
// done without asking to standard error and the trace.
AddrBookUi& AddrBookDialogUi();

// Where the entry editor's Capture button takes a picture from: the video
// display's current picture, written to a new picture file whose path it
// answers (empty when there is no picture to take). Set by the program while
// its video display exists; without it the button is off.
using AddrBookCapture = std::function<std::string()>;
void SetAddrBookCapture(AddrBookCapture capture);

// The dialog result of CEditAddrBook's Apply.
inline constexpr int kAddrBookApply = 3;

class CEditAddrBook : public QDialog {
public:
    static constexpr int kNameId = 353, kPhoneId = 1193, kInfoId = 1088, kPictureId = 1199;
    static constexpr int kBrowseId = 1076, kCaptureId = 1221, kFlagId = 1223, kApplyId = 3;

    // Edits `entry`; `flag`, when given, is shown as a check box and makes
    // Apply appear. OK and Apply copy the texts (and the flag) back.
    CEditAddrBook(const QString& title, AddrBookEntry& entry, bool* flag, QWidget* parent);
    int DoModal();
    // The picture the entry will keep (empty: none).
    const QString& PicturePath() const { return m_picturePath; }

private:
    void copyBack();
    void showPicture(const QString& path);

    AddrBookEntry& m_entry;
    bool* m_flag;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_phone = nullptr;
    QPlainTextEdit* m_info = nullptr;
    CMyImageCtrl* m_picture = nullptr;
    QString m_picturePath;
    QCheckBox* m_flagBox = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_apply = nullptr;
};

class CEditName : public QDialog {
public:
    static constexpr int kNameId = 1034;
    CEditName(std::string& name, QWidget* parent);
    int DoModal();

private:
    std::string& m_name;
    QLineEdit* m_edit = nullptr;
};

class CAddBCDlg : public QDialog {
public:
    static constexpr int kGroupId = 1233, kNameId = 353, kPhoneId = 1193;
    // Files `card` into the book: preselects `group`, or the first group.
    CAddBCDlg(CAddrBookFile& book, const AddrBookEntry& card, const std::string& group, QWidget* parent);
    int DoModal();
    // What OK does, without asking: the card goes into the group shown.
    int AcceptAsProposed();
    const std::string& ChosenGroup() const { return m_chosen; }

private:
    void file();

    CAddrBookFile& m_book;
    AddrBookEntry m_card;
    QComboBox* m_group = nullptr;
    std::string m_chosen;
};

class CAddressBook : public QDialog {
public:
    static constexpr int kTreeId = 1180, kAddId = 1201, kEditId = 1216, kDeleteId = 1057, kCardId = 1336;
    // Menu commands of the tree's context menus.
    static constexpr int kCmdAddGroup = 32828, kCmdDeleteSite = 32829, kCmdRenameGroup = 32830,
                         kCmdDeleteGroup = 32831, kCmdEditSite = 32835, kCmdAddSite = 32836;

    CAddressBook(CAddrBookFile& book, AddrBookEntry* select, AddrBookEntry* buffer, QWidget* parent);
    ~CAddressBook() override;
    int DoModal();

    // The commands of the buttons, keys and menus.
    void AddSite();
    void EditSite();
    void AddGroup();
    void RenameGroup();
    // Asks first (message 5150); true when the item went.
    bool DeleteSelected();
    void OnCommand(int command);

    QTreeWidget* Tree() const { return m_tree; }
    CBCWnd* Card() const { return m_card; }
    AddrBookEntry* ShownEntry() const { return m_shown; }
    // Selects the tree item of the entry (or of the group at that index).
    void SelectEntry(AddrBookEntry* entry);
    void SelectGroup(std::size_t groupIndex);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillTree();
    QTreeWidgetItem* addGroupItem(std::size_t groupIndex);
    QTreeWidgetItem* addSiteItem(QTreeWidgetItem* groupItem, AddrBookEntry* entry);
    void onSelectionChanged();
    void showSite(AddrBookEntry* entry);
    void clearCard();
    void onOk();
    void openContextMenu(const QPoint& at);
    void log(short eventId, const std::string& site) const;
    // The group index and entry of an item (entry null for a group item).
    static std::size_t groupOf(const QTreeWidgetItem* item);
    static AddrBookEntry* entryOf(const QTreeWidgetItem* item);

    CAddrBookFile& m_book;
    AddrBookEntry* m_select;
    AddrBookEntry* m_buffer;
    AddrBookEntry* m_shown = nullptr;
    QTreeWidget* m_tree = nullptr;
    CBCWnd* m_card = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
};

}  // namespace trennick
