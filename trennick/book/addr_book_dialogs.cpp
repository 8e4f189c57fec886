#include "trennick/book/addr_book_dialogs.h"

#include "common/lumo_deb.h"
#include "tavicore/log_write.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/image/my_controls.h"
#include "trennick/link/common_base.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace trennick {

namespace {

constexpr UINT kAddressBookDialog = 198;
constexpr UINT kEditEntryDialog = 211;
constexpr UINT kEditNameDialog = 221;
constexpr UINT kAddCardDialog = 237;
constexpr UINT kMsgDeleteItem = 5150;
constexpr int kMsgKindQuestion = 2;
constexpr int kAnswerYes = 512;
constexpr short kLogAdded = 13, kLogDeleted = 14, kLogEdited = 15;

constexpr int kNameChars = 60, kPhoneChars = 28, kInfoChars = 511;
constexpr int kRoleGroup = Qt::UserRole, kRoleEntry = Qt::UserRole + 1;
enum Icon { kSiteIcon, kClosedGroupIcon, kOpenGroupIcon };

QPushButton* button(UINT dialogId, int controlId, const char* fallback, QWidget* parent) {
    auto* b = UiSetControlId(new QPushButton(UiDialogText(dialogId, controlId, fallback), parent), controlId);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* lineEdit(int controlId, int maxChars, const std::string& text, QWidget* parent) {
    auto* edit = UiSetControlId(new QLineEdit(QString::fromLatin1(text.c_str()), parent), controlId);
    edit->setMaxLength(maxChars);
    return edit;
}

QHBoxLayout* okCancelRow(UINT dialogId, QDialog* dialog, QPushButton*& ok) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    ok = button(dialogId, IDOK, "OK", dialog);
    QPushButton* cancel = button(dialogId, IDCANCEL, "Cancel", dialog);
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, dialog, [dialog] { dialog->done(IDCANCEL); });
    return row;
}

QIcon treeIcon(Icon icon) {
    static const UINT ids[] = {250, 244, 248};
    QPixmap bitmap = UiBitmap(ids[icon]);
    if (!bitmap.isNull()) return QIcon(bitmap);
    static const QStyle::StandardPixmap standard[] = {QStyle::SP_ComputerIcon, QStyle::SP_DirClosedIcon,
                                                      QStyle::SP_DirOpenIcon};
    return QApplication::style()->standardIcon(standard[icon]);
}

std::string latin1(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace

bool AddrBookCanAsk() { return !UiUnattended() && !UiPlatformHasNoDisplay(); }

namespace {
AddrBookCapture& captureSource() {
    static AddrBookCapture source;
    return source;
}
}  // namespace

void SetAddrBookCapture(AddrBookCapture capture) { captureSource() = std::move(capture); }

namespace {

class DialogUi final : public AddrBookUi {
public:
    bool canAsk() override { return AddrBookCanAsk(); }
    int message(UINT id, int kind, const std::string& argument) override {
        return CCommon().ShowMessage(id, static_cast<UINT>(kind), argument.c_str());
    }
    int runBook(CAddrBookFile& book, QWidget* parent, AddrBookEntry* select, AddrBookEntry* buffer) override {
        CAddressBook dialog(book, select, buffer, parent);
        return dialog.DoModal();
    }
    int runAddCard(CAddrBookFile& book, QWidget* parent, const AddrBookEntry& card, std::string& group) override {
        CAddBCDlg dialog(book, card, std::string(), parent);
        const int result = dialog.DoModal();
        group = dialog.ChosenGroup();
        return result;
    }
    void report(const std::string& text, const std::string& caption) override { UiReportBox(text, caption); }
};

}  // namespace

AddrBookUi& AddrBookDialogUi() {
    static DialogUi ui;
    return ui;
}

// ---- CEditAddrBook ----------------------------------------------------------

CEditAddrBook::CEditAddrBook(const QString& title, AddrBookEntry& entry, bool* flag, QWidget* parent)
    : QDialog(parent), m_entry(entry), m_flag(flag) {
    setWindowTitle(title);
    m_name = lineEdit(kNameId, kNameChars, entry.Name(), this);
    m_phone = lineEdit(kPhoneId, kPhoneChars, entry.Phone(), this);
    m_info = UiSetControlId(new QPlainTextEdit(QString::fromLatin1(entry.Info().c_str()), this), kInfoId);
    // The picture sizes itself inside its frame, which the layout places.
    auto* pictureFrame = new QWidget(this);
    pictureFrame->setFixedSize(96, 72);
    m_picture = UiSetControlId(new CMyImageCtrl(pictureFrame), kPictureId);
    m_picture->setGeometry(pictureFrame->rect());
    QPushButton* browse = button(kEditEntryDialog, kBrowseId, "Browse...", this);
    // The picture of the site's video as the video display shows it now.
    QPushButton* capture = button(kEditEntryDialog, kCaptureId, "Capture", this);
    capture->setEnabled(static_cast<bool>(captureSource()));
    connect(capture, &QPushButton::clicked, this, [this] {
        const AddrBookCapture& take = captureSource();
        const std::string path = take ? take() : std::string();
        if (path.empty()) {
            LUMO_TRACE(3, "CEditAddrBook: the video display has no picture to capture");
            return;
        }
        showPicture(QString::fromLatin1(path.c_str()));
    });

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name:"), m_name);
    form->addRow(QStringLiteral("Phone:"), m_phone);
    form->addRow(QStringLiteral("Information:"), m_info);
    auto* pictureRow = new QHBoxLayout;
    pictureRow->addWidget(pictureFrame);
    pictureRow->addWidget(browse);
    pictureRow->addWidget(capture);
    form->addRow(QStringLiteral("Picture:"), pictureRow);
    if (m_flag != nullptr) {
        m_flagBox = UiSetControlId(new QCheckBox(UiDialogText(kEditEntryDialog, kFlagId, "Send"), this), kFlagId);
        m_flagBox->setChecked(*m_flag);
        form->addRow(m_flagBox);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    QHBoxLayout* buttons = okCancelRow(kEditEntryDialog, this, m_ok);
    m_apply = button(kEditEntryDialog, kApplyId, "Apply", this);
    m_apply->setVisible(m_flag != nullptr);
    m_apply->setEnabled(false);
    buttons->addWidget(m_apply);
    layout->addLayout(buttons);

    m_ok->setEnabled(!m_name->text().isEmpty());
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& text) { m_ok->setEnabled(!text.isEmpty()); });
    connect(m_info, &QPlainTextEdit::textChanged, this, [this] {
        // The information field holds at most 511 characters.
        const QString text = m_info->toPlainText();
        if (text.size() > kInfoChars) m_info->setPlainText(text.left(kInfoChars));
    });
    if (m_flagBox != nullptr) {
        connect(m_flagBox, &QCheckBox::toggled, this, [this] { m_apply->setEnabled(true); });
    }
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QString(), m_picturePath,
                                                          QStringLiteral("Bitmap Files (*.bmp);;All Files (*)"));
        if (!path.isEmpty()) showPicture(path);
    });
    connect(m_ok, &QPushButton::clicked, this, [this] {
        copyBack();
        done(IDOK);
    });
    connect(m_apply, &QPushButton::clicked, this, [this] {
        copyBack();
        done(kAddrBookApply);
    });
    showPicture(QString::fromLatin1(entry.Picture().c_str()));
}

int CEditAddrBook::DoModal() { return AddrBookCanAsk() ? exec() : IDCANCEL; }

void CEditAddrBook::showPicture(const QString& path) {
    m_picturePath = path;
    if (path.isEmpty()) {
        m_picture->FreeImage(true);
    } else {
        m_picture->LoadImageFile(latin1(path));
    }
}

void CEditAddrBook::copyBack() {
    m_entry.SetTexts(latin1(m_name->text()), latin1(m_phone->text()), latin1(m_info->toPlainText()),
                     latin1(m_picturePath));
    if (m_flag != nullptr && m_flagBox != nullptr) *m_flag = m_flagBox->isChecked();
}

// ---- CEditName --------------------------------------------------------------

CEditName::CEditName(std::string& name, QWidget* parent) : QDialog(parent), m_name(name) {
    setWindowTitle(name.empty() ? UiDialogText(kEditNameDialog, 314, "New group")
                                : UiDialogText(kEditNameDialog, 315, "Rename group"));
    m_edit = lineEdit(kNameId, static_cast<int>(kAbGroupNameChars), name, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_edit);
    QPushButton* ok = nullptr;
    layout->addLayout(okCancelRow(kEditNameDialog, this, ok));
    connect(ok, &QPushButton::clicked, this, [this] {
        m_name = latin1(m_edit->text());
        done(IDOK);
    });
}

int CEditName::DoModal() { return AddrBookCanAsk() ? exec() : IDCANCEL; }

// ---- CAddBCDlg --------------------------------------------------------------

CAddBCDlg::CAddBCDlg(CAddrBookFile& book, const AddrBookEntry& card, const std::string& group, QWidget* parent)
    : QDialog(parent), m_book(book), m_card(card) {
    setWindowTitle(UiDialogText(kAddCardDialog, 0, "Add to the address book"));
    m_group = UiSetControlId(new QComboBox(this), kGroupId);
    m_group->setEditable(true);
    m_group->lineEdit()->setMaxLength(static_cast<int>(kAbGroupNameChars));
    for (const auto& g : book.Groups()) {
        if (!g.name.empty()) m_group->addItem(QString::fromLatin1(g.name.c_str()));
    }
    const int preselected = m_group->findText(QString::fromLatin1(group.c_str()));
    m_group->setCurrentIndex(preselected >= 0 ? preselected : 0);
    QLineEdit* name = lineEdit(kNameId, kNameChars, card.Name(), this);
    QLineEdit* phone = lineEdit(kPhoneId, kPhoneChars, card.Phone(), this);
    name->setReadOnly(true);
    phone->setReadOnly(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Group:"), m_group);
    form->addRow(QStringLiteral("Name:"), name);
    form->addRow(QStringLiteral("Phone:"), phone);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    QPushButton* ok = nullptr;
    layout->addLayout(okCancelRow(kAddCardDialog, this, ok));
    connect(ok, &QPushButton::clicked, this, [this] {
        file();
        done(IDOK);
    });
}

int CAddBCDlg::DoModal() { return AddrBookCanAsk() ? exec() : AcceptAsProposed(); }

int CAddBCDlg::AcceptAsProposed() {
    file();
    return IDOK;
}

void CAddBCDlg::file() {
    // No name typed: the first group the book shows.
    m_chosen = m_book.FileCard(m_card, latin1(m_group->currentText()));
}

// ---- CAddressBook -----------------------------------------------------------

CAddressBook::CAddressBook(CAddrBookFile& book, AddrBookEntry* select, AddrBookEntry* buffer, QWidget* parent)
    : QDialog(parent), m_book(book), m_select(select), m_buffer(buffer) {
    setWindowTitle(UiDialogText(kAddressBookDialog, 0, "Address Book"));
    m_tree = UiSetControlId(new QTreeWidget(this), kTreeId);
    m_tree->setHeaderHidden(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->installEventFilter(this);
    m_tree->setMinimumSize(200, 240);
    m_card = new CBCWnd(0xC0C0C0, 10, 5);
    UiSetControlId(m_card, kCardId);
    m_card->Create(0, 0, 260, 240, this, false);
    m_card->setMinimumSize(260, 240);

    QPushButton* add = button(kAddressBookDialog, kAddId, "Add...", this);
    m_edit = button(kAddressBookDialog, kEditId, "Edit...", this);
    m_delete = button(kAddressBookDialog, kDeleteId, "Delete", this);
    auto* top = new QHBoxLayout;
    top->addWidget(m_tree);
    top->addWidget(m_card);
    auto* side = new QHBoxLayout;
    side->addWidget(add);
    side->addWidget(m_edit);
    side->addWidget(m_delete);
    side->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(side);
    QPushButton* ok = nullptr;
    layout->addLayout(okCancelRow(kAddressBookDialog, this, ok));

    connect(add, &QPushButton::clicked, this, [this] { OnCommand(kCmdAddSite); });
    connect(m_edit, &QPushButton::clicked, this, [this] { OnCommand(kCmdEditSite); });
    connect(m_delete, &QPushButton::clicked, this, [this] { OnCommand(kCmdDeleteSite); });
    connect(ok, &QPushButton::clicked, this, [this] { onOk(); });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] { onSelectionChanged(); });
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (entryOf(item) != nullptr) EditSite();
    });
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) { openContextMenu(at); });
    connect(m_tree, &QTreeWidget::itemExpanded, this, [](QTreeWidgetItem* item) { item->setIcon(0, treeIcon(kOpenGroupIcon)); });
    connect(m_tree, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem* item) { item->setIcon(0, treeIcon(kClosedGroupIcon)); });

    fillTree();
    if (m_select != nullptr) SelectEntry(m_select);
    onSelectionChanged();
}

CAddressBook::~CAddressBook() {
    // The book outlives the dialog: its entries forget their items.
    for (auto& group : m_book.Groups()) {
        for (auto& entry : group.entries) entry->treeItem = nullptr;
    }
}

int CAddressBook::DoModal() { return AddrBookCanAsk() ? exec() : IDCANCEL; }

std::size_t CAddressBook::groupOf(const QTreeWidgetItem* item) {
    const QTreeWidgetItem* groupItem = item->parent() != nullptr ? item->parent() : item;
    return groupItem->data(0, kRoleGroup).value<qulonglong>();
}

AddrBookEntry* CAddressBook::entryOf(const QTreeWidgetItem* item) {
    return item != nullptr ? static_cast<AddrBookEntry*>(item->data(0, kRoleEntry).value<void*>()) : nullptr;
}

QTreeWidgetItem* CAddressBook::addGroupItem(std::size_t groupIndex) {
    auto* item = new QTreeWidgetItem(m_tree, {QString::fromLatin1(m_book.Groups()[groupIndex].name.c_str())});
    item->setData(0, kRoleGroup, QVariant::fromValue<qulonglong>(groupIndex));
    item->setData(0, kRoleEntry, QVariant::fromValue<void*>(nullptr));
    item->setIcon(0, treeIcon(kClosedGroupIcon));
    return item;
}

QTreeWidgetItem* CAddressBook::addSiteItem(QTreeWidgetItem* groupItem, AddrBookEntry* entry) {
    auto* item = new QTreeWidgetItem(groupItem, {QString::fromLatin1(entry->Name().c_str())});
    item->setData(0, kRoleGroup, groupItem->data(0, kRoleGroup));
    item->setData(0, kRoleEntry, QVariant::fromValue<void*>(entry));
    item->setIcon(0, treeIcon(kSiteIcon));
    entry->treeItem = item;
    return item;
}

void CAddressBook::fillTree() {
    m_tree->clear();
    AddrBookEntry* selected = nullptr;
    for (std::size_t g = 0; g < m_book.Groups().size(); ++g) {
        auto& group = m_book.Groups()[g];
        if (group.name.empty()) continue;
        QTreeWidgetItem* groupItem = addGroupItem(g);
        for (auto& entry : group.entries) {
            addSiteItem(groupItem, entry.get());
            if (entry->viewState == 1) groupItem->setExpanded(true);
            if (entry->viewState == 2) selected = entry.get();
        }
    }
    if (selected != nullptr && m_select == nullptr) SelectEntry(selected);
}

void CAddressBook::SelectEntry(AddrBookEntry* entry) {
    if (entry == nullptr || entry->treeItem == nullptr) return;
    auto* item = static_cast<QTreeWidgetItem*>(entry->treeItem);
    if (item->parent() != nullptr) item->parent()->setExpanded(true);
    m_tree->setCurrentItem(item);
}

void CAddressBook::SelectGroup(std::size_t groupIndex) {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_tree->topLevelItem(i);
        if (groupOf(item) == groupIndex) m_tree->setCurrentItem(item);
    }
}

void CAddressBook::onSelectionChanged() {
    AddrBookEntry* entry = entryOf(m_tree->currentItem());
    m_edit->setEnabled(entry != nullptr);
    m_delete->setEnabled(entry != nullptr);
    if (entry != nullptr) {
        showSite(entry);
    } else {
        clearCard();
    }
}

void CAddressBook::clearCard() {
    m_card->SetCaption("");
    m_card->SetCaption2("");
    m_card->SetField1Text("");
    m_shown = nullptr;
}

void CAddressBook::showSite(AddrBookEntry* entry) {
    if (m_shown != nullptr && m_shown != entry) clearCard();
    const std::string name = entry->Name();
    m_card->SetCaption(name);
    m_card->SetCaption2(name.empty() ? std::string() : entry->Phone());
    m_card->SetField1Text(name.empty() ? std::string() : entry->Info());
    m_card->SetPicture(entry->Picture());
    m_card->Layout();
    m_shown = entry;
}

void CAddressBook::log(short eventId, const std::string& site) const {
    if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, eventId, 0, m_book.LogUser().c_str(), 0, site.c_str());
}

void CAddressBook::AddSite() {
    QTreeWidgetItem* current = m_tree->currentItem();
    if (current == nullptr) {
        if (m_tree->topLevelItemCount() == 0) return;
        current = m_tree->topLevelItem(0);
    }
    QTreeWidgetItem* groupItem = current->parent() != nullptr ? current->parent() : current;
    auto& group = m_book.Groups()[groupOf(groupItem)];
    auto entry = std::make_unique<AddrBookEntry>();
    CEditAddrBook editor(QStringLiteral("Add Address Book - ") + QString::fromLatin1(group.name.c_str()), *entry,
                         nullptr, this);
    if (editor.DoModal() != IDOK || entry->Name().empty()) return;
    AddrBookEntry* added = entry.get();
    group.entries.push_back(std::move(entry));
    addSiteItem(groupItem, added);
    log(kLogAdded, added->Name());
    SelectEntry(added);
    showSite(added);
}

void CAddressBook::EditSite() {
    QTreeWidgetItem* item = m_tree->currentItem();
    AddrBookEntry* entry = entryOf(item);
    if (entry == nullptr) return;
    AddrBookEntry copy = *entry;
    CEditAddrBook editor(UiDialogText(kEditEntryDialog, 313, "Edit Address Book"), copy, nullptr, this);
    if (editor.DoModal() != IDOK || copy.Name().empty()) return;
    if (copy.Name() != entry->Name()) item->setText(0, QString::fromLatin1(copy.Name().c_str()));
    entry->SetTexts(copy.Name(), copy.Phone(), copy.Info(), copy.Picture());
    log(kLogEdited, entry->Name());
    showSite(entry);
}

void CAddressBook::AddGroup() {
    std::string name;
    CEditName editor(name, this);
    if (editor.DoModal() != IDOK || name.empty()) return;
    m_book.AddGroup(name);
    addGroupItem(m_book.Groups().size() - 1);
}

void CAddressBook::RenameGroup() {
    QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr || entryOf(item) != nullptr) return;
    std::string name = m_book.Groups()[groupOf(item)].name;
    CEditName editor(name, this);
    if (editor.DoModal() != IDOK || name.empty()) return;
    m_book.Groups()[groupOf(item)].name = name.substr(0, kAbGroupNameChars);
    item->setText(0, QString::fromLatin1(m_book.Groups()[groupOf(item)].name.c_str()));
}

bool CAddressBook::DeleteSelected() {
    QTreeWidgetItem* item = m_tree->currentItem();
    if (item == nullptr) return false;
    if (CCommon().ShowMessage(kMsgDeleteItem, kMsgKindQuestion, latin1(item->text(0)).c_str()) != kAnswerYes) {
        return false;
    }
    auto& group = m_book.Groups()[groupOf(item)];
    if (AddrBookEntry* entry = entryOf(item)) {
        const std::string name = entry->Name();
        if (m_shown == entry) clearCard();
        std::erase_if(group.entries, [entry](const auto& e) { return e.get() == entry; });
        log(kLogDeleted, name);
    } else {
        // A deleted group keeps its place, nameless, and is not saved.
        for (const auto& entry : group.entries) log(kLogDeleted, entry->Name());
        if (m_shown != nullptr) clearCard();
        group.entries.clear();
        group.name.clear();
    }
    delete item;
    onSelectionChanged();
    return true;
}

void CAddressBook::OnCommand(int command) {
    switch (command) {
    case kCmdAddSite:
        AddSite();
        break;
    case kCmdEditSite:
        EditSite();
        break;
    case kCmdAddGroup:
        AddGroup();
        break;
    case kCmdRenameGroup:
        RenameGroup();
        break;
    case kCmdDeleteSite:
    case kCmdDeleteGroup:
        DeleteSelected();
        break;
    default:
        break;
    }
}

void CAddressBook::openContextMenu(const QPoint& at) {
    QTreeWidgetItem* item = m_tree->itemAt(at);
    if (item == nullptr) return;
    m_tree->setCurrentItem(item);
    QMenu menu(this);
    const auto add = [&](const char* text, int command) {
        menu.addAction(QString::fromLatin1(text), this, [this, command] { OnCommand(command); });
    };
    if (entryOf(item) != nullptr) {
        add("Edit...", kCmdEditSite);
        add("Delete", kCmdDeleteSite);
    } else {
        add("Add site...", kCmdAddSite);
        add("Add group...", kCmdAddGroup);
        add("Rename...", kCmdRenameGroup);
        add("Delete", kCmdDeleteGroup);
    }
    menu.exec(m_tree->viewport()->mapToGlobal(at));
}

bool CAddressBook::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool keypad = (key->modifiers() & Qt::KeypadModifier) != 0;
        if (key->key() == Qt::Key_Insert || (keypad && key->key() == Qt::Key_0)) {
            QTreeWidgetItem* item = m_tree->currentItem();
            if (item != nullptr && entryOf(item) == nullptr) {
                AddGroup();
            } else {
                AddSite();
            }
            return true;
        }
        if (key->key() == Qt::Key_Delete || (keypad && key->key() == Qt::Key_Period)) {
            DeleteSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CAddressBook::keyPressEvent(QKeyEvent* event) {
    // Enter does not close the book.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CAddressBook::onOk() {
    QTreeWidgetItem* current = m_tree->currentItem();
    AddrBookEntry* selected = entryOf(current);
    if (m_buffer != nullptr && selected != nullptr) {
        *m_buffer = *selected;
        m_buffer->treeItem = nullptr;
    }
    for (auto& group : m_book.Groups()) {
        for (auto& entry : group.entries) {
            const auto* item = static_cast<QTreeWidgetItem*>(entry->treeItem);
            const bool expanded = item != nullptr && item->parent() != nullptr && item->parent()->isExpanded();
            entry->viewState = entry.get() == selected ? 2 : expanded ? 1 : 0;
        }
    }
    done(IDOK);
}

}  // namespace trennick
