#include "tavicore/ui/ui_user_dialogs.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/log_write.h"
#include "tavicore/product_key.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui/ui_resources.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

constexpr int kPictureId = 1061;
constexpr int kNameEditId = 353;
constexpr int kPasswordEditId = 1003;
constexpr int kConfirmEditId = 1002;
constexpr int kDontShowId = 1007;
constexpr int kListId = 1061;
constexpr int kAddId = 3;
constexpr int kRemoveId = 4;
constexpr int kEditId = 5;
constexpr int kRightsIds[3] = {1005, 1007, 1008};
constexpr DWORD kRightsValues[3] = {1, 2, 4};
// A name or password is checked on its first 30 characters and kept on 29.
constexpr int kCheckedChars = 30;

std::mutex g_logLock;
UserDialogLogWriter g_logWriter;

void logEntry(DWORD eventId, const std::string& userName) {
    UserDialogLogWriter writer;
    {
        std::lock_guard lock(g_logLock);
        writer = g_logWriter;
    }
    if (writer) {
        writer(eventId, userName);
    } else if (logWrite != nullptr) {
        // The program's activity log: the current log, empty texts and zeros
        // in the fields the entry does not name.
        logWrite->AddEntryEx(nullptr, static_cast<short>(eventId), 0, userName.c_str(), 0, "");
    }
}

// Copies at most 90 characters typed into a record field, then cuts it to the
// 29 characters every comparison uses.
void storeField(char (&field)[kUserFieldBytes], const QString& typed) {
    std::memset(field, 0, sizeof field);
    const QByteArray bytes = typed.left(kUserFieldBytes).toLatin1();
    std::strncpy(field, bytes.constData(), kUserTextMax);
}

QString fieldText(const char (&field)[kUserFieldBytes]) {
    return QString::fromLatin1(field, static_cast<int>(strnlen(field, kUserTextMax)));
}

// The dialogs' pictures and the users list's icons; resource bitmaps: 167 168 170-172 174
QLabel* picture(UINT bitmapId, int controlId, QWidget* parent) {
    auto* label = UiSetControlId(new QLabel(parent), controlId);
    label->setPixmap(UiBitmap(bitmapId));
    return label;
}

QPushButton* button(UINT dialogId, int controlId, const char* fallback, QWidget* parent) {
    auto* b = UiSetControlId(new QPushButton(UiDialogText(dialogId, controlId, fallback), parent), controlId);
    b->setAutoDefault(false);
    return b;
}

// The OK and Cancel buttons at the right of a row.
QHBoxLayout* okCancelRow(UINT dialogId, QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    ok = button(dialogId, IDOK, "OK", parent);
    cancel = button(dialogId, IDCANCEL, "Cancel", parent);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}

std::string formatLastLogin(DWORD seconds) {
    if (seconds == 0) {
        return {};
    }
    const std::string format = UiString(59403, "%X, %x");
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return {};
    }
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, format.c_str(), &local);
    return std::string(text, n);
}

}  // namespace

void SetUserDialogLogWriter(UserDialogLogWriter writer) {
    std::lock_guard lock(g_logLock);
    g_logWriter = std::move(writer);
}

// ---------------------------------------------------------------------------
// Login

CUserLoginDlg::CUserLoginDlg(_tag_user* record, const char* caption, QWidget* parent)
    : QDialog(parent), m_record(record) {
    setWindowTitle(caption != nullptr && caption[0] != '\0' ? QString::fromLatin1(caption)
                                                            : UiDialogText(kDialogId, 0, "Login"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(picture(167, kPictureId, this), 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(new QLabel(UiDialogText(kDialogId, kNameEditId, "User name:"), this), 0, 1);
    m_name = UiSetControlId(new QLineEdit(this), kNameEditId);
    grid->addWidget(m_name, 0, 2);
    grid->addWidget(new QLabel(UiDialogText(kDialogId, kPasswordEditId, "Password:"), this), 1, 1);
    m_password = UiSetControlId(new QLineEdit(this), kPasswordEditId);
    m_password->setEchoMode(QLineEdit::Password);
    grid->addWidget(m_password, 1, 2);
    QPushButton* cancel = nullptr;
    auto* buttons = okCancelRow(kDialogId, this, m_ok, cancel);
    grid->addLayout(buttons, 2, 0, 1, 3);

    connect(m_name, &QLineEdit::textChanged, this, [this] { updateOk(); });
    connect(m_name, &QLineEdit::returnPressed, this, [this] {
        // The next control in the tab order that takes the focus.
        for (QWidget* next = m_name->nextInFocusChain(); next != m_name; next = next->nextInFocusChain()) {
            if (next->isEnabled() && next->isVisibleTo(this) && (next->focusPolicy() & Qt::TabFocus)) {
                next->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    });
    connect(m_password, &QLineEdit::returnPressed, this, [this] { OnOK(); });
    connect(m_ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });

    // The last name typed, "admin" the first time.
    char last[kUserFieldBytes + 1] = "admin";
    DWORD size = sizeof last;
    CKcReg reg = ProductKey("Login");
    reg.GetStringDefault(nullptr, "Username", last, &size);
    m_name->setText(QString::fromLatin1(last));
    updateOk();
}

CUserLoginDlg::~CUserLoginDlg() = default;

int CUserLoginDlg::DoModal() {
    return exec();
}

void CUserLoginDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    UiCentreOnDesktop(this);
    platform::SetTimer(m_target->hwnd(), kTimerId, m_timeoutMs);
}

void CUserLoginDlg::updateOk() {
    m_ok->setEnabled(!m_name->text().left(kCheckedChars).isEmpty());
}

void CUserLoginDlg::keyPressEvent(QKeyEvent* event) {
    // Return is handled by the edits and the OK button themselves; Escape cancels.
    if (event->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (m_ok->hasFocus()) {
            OnOK();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CUserLoginDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCancel();
}

void CUserLoginDlg::OnOK() {
    if (!m_ok->isEnabled()) {
        return;
    }
    platform::KillTimer(m_target->hwnd(), kTimerId);
    if (m_record != nullptr) {
        storeField(m_record->name, m_name->text());
        storeField(m_record->password, m_password->text());
    }
    const QByteArray typed = m_name->text().left(kUserFieldBytes).toLatin1();
    CKcReg reg = ProductKey("Login");
    reg.SetString(nullptr, "Username", typed.constData());
    // The login is logged by the users manager once the password is checked.
    done(IDOK);
}

void CUserLoginDlg::OnCancel() {
    platform::KillTimer(m_target->hwnd(), kTimerId);
    done(IDCANCEL);
}

LRESULT CUserLoginDlg::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER && wParam == kTimerId) {
        LUMO_TRACE(5, "CUserLoginDlg::OnTimer login timed out");
        OnCancel();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Default-password warning

CUserPwdWarn::CUserPwdWarn(QWidget* parent) : QDialog(parent) {
    setWindowTitle(UiDialogText(kDialogId, 0, "Default password"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(picture(167, kPictureId, this), 0, 0, Qt::AlignTop);
    auto* text = new QLabel(UiDialogText(kDialogId, 1000, "The administrator has the default password."), this);
    text->setWordWrap(true);
    text->setMinimumWidth(260);
    grid->addWidget(text, 0, 1);
    m_dontShow = UiSetControlId(new QCheckBox(UiDialogText(kDialogId, kDontShowId, "Do not show again"), this),
                                kDontShowId);
    grid->addWidget(m_dontShow, 1, 1);
    auto* ok = button(kDialogId, IDOK, "OK", this);
    grid->addWidget(ok, 2, 1, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, [this] { finish(); });
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });

    DWORD dontShow = 0;
    CKcReg reg = ProductKey("Users");
    reg.GetDwordDefault(nullptr, "DontShowWarning", &dontShow);
    m_dontShow->setChecked(dontShow != 0);
}

CUserPwdWarn::~CUserPwdWarn() = default;

int CUserPwdWarn::DoModal() {
    if (m_dontShow->isChecked()) {
        return IDOK;  // switched off: ends at once
    }
    UiCentreOnDesktop(this);
    platform::SetTimer(m_target->hwnd(), kTimerId, m_timeoutMs);
    return exec();
}

void CUserPwdWarn::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    platform::KillTimer(m_target->hwnd(), kTimerId);
    const DWORD dontShow = m_dontShow->isChecked() ? 1 : 0;
    CKcReg reg = ProductKey("Users");
    reg.SetDword(nullptr, "DontShowWarning", &dontShow);
    done(IDOK);
}

void CUserPwdWarn::closeEvent(QCloseEvent* event) {
    event->ignore();
    finish();
}

LRESULT CUserPwdWarn::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER && wParam == kTimerId) {
        finish();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// One user

CUserDlg::CUserDlg(_tag_user* record, int mode, QWidget* parent)
    : QDialog(parent), m_record(record), m_mode(mode) {
    auto* grid = new QGridLayout(this);
    grid->addWidget(picture(170, 1062, this), 0, 0, 3, 1, Qt::AlignTop);
    const struct {
        int id;
        const char* fallback;
        QLineEdit** edit;
    } edits[] = {{kNameEditId, "User name:", &m_name},
                 {kPasswordEditId, "Password:", &m_password},
                 {kConfirmEditId, "Confirm password:", &m_confirm}};
    int row = 0;
    for (const auto& e : edits) {
        grid->addWidget(new QLabel(UiDialogText(kDialogId, e.id, e.fallback), this), row, 1);
        *e.edit = UiSetControlId(new QLineEdit(this), e.id);
        grid->addWidget(*e.edit, row, 2);
        connect(*e.edit, &QLineEdit::textChanged, this, [this] { updateOk(); });
        ++row;
    }
    m_password->setEchoMode(QLineEdit::Password);
    m_confirm->setEchoMode(QLineEdit::Password);
    grid->addWidget(picture(168, 1063, this), 3, 0, 3, 1, Qt::AlignTop);
    const char* rightsText[3] = {"Administrator", "Operator", "Viewer"};
    for (int i = 0; i < 3; ++i) {
        m_rights[i] = UiSetControlId(new QRadioButton(UiDialogText(kDialogId, kRightsIds[i], rightsText[i]), this),
                                     kRightsIds[i]);
        grid->addWidget(m_rights[i], 3 + i, 1, 1, 2);
    }
    QPushButton* cancel = nullptr;
    auto* buttons = okCancelRow(kDialogId, this, m_ok, cancel);
    grid->addLayout(buttons, 6, 0, 1, 3);
    connect(m_ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(IDCANCEL); });

    if (m_mode == kModeNew) {
        if (m_record != nullptr) {
            std::memset(m_record, 0, sizeof *m_record);
        }
        setWindowTitle(QString::fromStdString(UiString(59409, "New user")));
        m_rights[1]->setChecked(true);
    } else {
        setWindowTitle(QString::fromStdString(UiString(59410, "Edit user")));
        if (m_record != nullptr) {
            m_name->setText(fieldText(m_record->name));
            m_password->setText(fieldText(m_record->password));
            m_confirm->setText(fieldText(m_record->password));
            const int checked = m_record->rights == 1 ? 0 : m_record->rights == 2 ? 1 : 2;
            m_rights[checked]->setChecked(true);
            if (std::strcmp(m_record->name, "admin") == 0) {
                for (auto* radio : m_rights) {
                    radio->setEnabled(false);
                }
            }
        }
        m_name->setReadOnly(true);
        m_name->setEnabled(false);
    }
    updateOk();
}

int CUserDlg::DoModal() {
    return exec();
}

void CUserDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return;  // neither ends this dialog
    default:
        QDialog::keyPressEvent(event);
    }
}

void CUserDlg::updateOk() {
    m_ok->setEnabled(!m_name->text().isEmpty() &&
                     m_password->text().left(kCheckedChars) == m_confirm->text().left(kCheckedChars));
}

void CUserDlg::OnOK() {
    if (!m_ok->isEnabled()) {
        return;
    }
    if (m_record != nullptr) {
        storeField(m_record->name, m_name->text());
        storeField(m_record->password, m_password->text());
        m_record->rights = m_rights[0]->isChecked() ? 1 : m_rights[1]->isChecked() ? 2 : 4;
    }
    done(IDOK);
}

// ---------------------------------------------------------------------------
// Users list

CUsersDlg::CUsersDlg(CUsersManager& manager, QWidget* parent) : QDialog(parent), m_manager(manager) {
    setWindowTitle(UiDialogText(kDialogId, 0, "Users"));
    auto* layout = new QHBoxLayout(this);
    m_list = UiSetControlId(new QTreeWidget(this), kListId);
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QString::fromStdString(UiString(59401, "User name")),
                             QString::fromStdString(UiString(59402, "Last login"))});
    m_list->setMinimumWidth(360);
    m_list->header()->resizeSection(0, 160);
    layout->addWidget(m_list);
    auto* column = new QVBoxLayout;
    const struct {
        int id;
        const char* fallback;
        void (CUsersDlg::*handler)();
    } commands[] = {{kAddId, "Add...", &CUsersDlg::OnAdd},
                    {kEditId, "Edit...", &CUsersDlg::OnEdit},
                    {kRemoveId, "Remove", &CUsersDlg::OnRemove},
                    {IDOK, "OK", &CUsersDlg::OnOK},
                    {IDCANCEL, "Cancel", &CUsersDlg::OnCancel}};
    for (const auto& c : commands) {
        if (c.id == IDOK) {
            column->addStretch();
        }
        auto* b = button(kDialogId, c.id, c.fallback, this);
        connect(b, &QPushButton::clicked, this, [this, handler = c.handler] { (this->*handler)(); });
        column->addWidget(b);
    }
    layout->addLayout(column);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { OnEdit(); });
    logEntry(kLogUsersOpened, {});
    fill();
}

CUsersDlg::~CUsersDlg() {
    logEntry(kLogUsersClosed, {});
}

int CUsersDlg::DoModal() {
    return exec();
}

void CUsersDlg::setRow(int row, const _tag_user& user) {
    static const UINT kImages[3] = {171, 174, 172};
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (item == nullptr) {
        item = new QTreeWidgetItem(m_list);
    }
    const int image = user.rights == 1 ? 0 : user.rights == 2 ? 1 : 2;
    item->setIcon(0, QIcon(UiMaskedBitmap(kImages[image])));
    item->setText(0, fieldText(user.name));
    item->setText(1, QString::fromStdString(formatLastLogin(user.lastLogin)));
}

void CUsersDlg::fill() {
    m_list->clear();
    _tag_user user{};
    int row = 0;
    for (int result = m_manager.ReadFirstUser(&user); result == USER_OK; result = m_manager.ReadNextUser(&user)) {
        setRow(row++, user);
    }
}

std::string CUsersDlg::selectedName() const {
    QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return {};
    }
    return item->text(0).toLatin1().toStdString();
}

void CUsersDlg::message(UINT stringId, UINT type) {
    UiMessageBox(this, UiString(stringId), windowTitle().toStdString(), type);
}

void CUsersDlg::OnAdd() {
    _tag_user user{};
    CUserDlg dialog(&user, CUserDlg::kModeNew, this);
    if (dialog.DoModal() != IDOK) {
        return;
    }
    if (m_manager.AddUser(&user) == E_USER_EXISTS) {
        message(59404, MB_ICONEXCLAMATION);
        return;
    }
    setRow(m_list->topLevelItemCount(), user);
    logEntry(kLogUserAdded, user.name);
}

void CUsersDlg::OnEdit() {
    const std::string name = selectedName();
    if (name.empty()) {
        message(59405, MB_ICONEXCLAMATION);
        return;
    }
    _tag_user user{};
    if (m_manager.GetUser(name.c_str(), &user) != USER_OK) {
        message(59407, MB_ICONEXCLAMATION);
        return;
    }
    CUserDlg dialog(&user, CUserDlg::kModeEdit, this);
    if (dialog.DoModal() != IDOK) {
        return;
    }
    if (m_manager.PutUser(name.c_str(), &user) != USER_OK) {
        message(59407, MB_ICONEXCLAMATION);
        return;
    }
    logEntry(kLogUserEdited, user.name);
    setRow(m_list->indexOfTopLevelItem(m_list->currentItem()), user);
}

void CUsersDlg::OnRemove() {
    const std::string name = selectedName();
    if (name.empty()) {
        message(59405, MB_ICONEXCLAMATION);
        return;
    }
    if (UiMessageBox(this, UiString(59406), windowTitle().toStdString(), MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        return;
    }
    const int result = m_manager.RemoveUser(name.c_str());
    if (result == E_USER_REFUSED) {
        message(65120, MB_ICONEXCLAMATION);
        return;
    }
    if (result != USER_OK) {
        message(59407, MB_ICONEXCLAMATION);
        return;
    }
    delete m_list->currentItem();
    logEntry(kLogUserRemoved, name);
}

void CUsersDlg::OnOK() {
    m_manager.Save();
    m_list->clear();
    done(IDOK);
}

void CUsersDlg::OnCancel() {
    m_manager.Load();
    m_list->clear();
    done(IDCANCEL);
}

// ---------------------------------------------------------------------------

int CUserDialogs::RunLoginDialog(_tag_user* typed, const char* caption) {
    if (UiUnattended()) {
        // Nobody can type a password: the login is cancelled at once.
        UiReportBox("a login was asked for and cancelled: no display",
                    caption != nullptr && caption[0] != '\0' ? caption : "Velmoor");
        return IDCANCEL;
    }
    CUserLoginDlg dialog(typed, caption, m_parent);
    return dialog.DoModal();
}

void CUserDialogs::RunDefaultPasswordWarning() {
    if (UiUnattended()) {
        UiReportBox("the administrator has no password", UiString(10000, "Velmoor"));
        return;
    }
    CUserPwdWarn warning(nullptr);
    warning.DoModal();
}

void CUserDialogs::ShowStopMessage(UINT stringId) {
    UiMessageBox(nullptr, UiString(stringId), UiString(10000, "Velmoor"), MB_ICONSTOP);
}

int CUserDialogs::RunUsersDialog(CUsersManager& manager) {
    CUsersDlg dialog(manager, m_parent);
    return dialog.DoModal();
}
