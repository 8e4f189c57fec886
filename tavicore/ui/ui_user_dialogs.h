#pragma once
// The users manager's dialogs: the login, the default-password warning, the
// users list and the dialog that adds or edits one user; and CUserDialogs, the
// users manager's user-interface layer that runs them.
//
// Threads: the user-interface thread only. Failures are shown to the user in
// message boxes (string resources) and never thrown.

#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"
#include "tavicore/ui/ui_window.h"
#include "tavicore/users_manager.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

// Writes one activity-log entry for the dialogs: the event id and the user name
// (other fields empty). Set by whoever owns the log client; without it nothing
// is logged.
using UserDialogLogWriter = std::function<void(DWORD eventId, const std::string& userName)>;
TAVICORE_UI_API void SetUserDialogLogWriter(UserDialogLogWriter writer);

// Activity-log event ids of the dialogs.
inline constexpr DWORD kLogUserLogin = 43;
inline constexpr DWORD kLogUsersOpened = 16;
inline constexpr DWORD kLogUsersClosed = 17;
inline constexpr DWORD kLogUserAdded = 18;
inline constexpr DWORD kLogUserRemoved = 19;
inline constexpr DWORD kLogUserEdited = 20;

// The login dialog (resource 103). Fills the caller's record on OK; cancels
// itself when nobody answers within its time-out (45 s).
class TAVICORE_UI_API CUserLoginDlg : public QDialog {
public:
    static constexpr UINT kDialogId = 103;
    static constexpr UINT kTimeoutMs = 45000;
    static constexpr platform::UINT_PTR kTimerId = 1;

    CUserLoginDlg(_tag_user* record, const char* caption, QWidget* parent = nullptr);
    ~CUserLoginDlg() override;

    // Replaces the time-out before the dialog runs (tests use a short one).
    void SetTimeoutMs(UINT timeoutMs) { m_timeoutMs = timeoutMs; }
    // Runs the dialog; IDOK or IDCANCEL.
    int DoModal();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnOK();
    void OnCancel();
    void updateOk();
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    _tag_user* m_record;
    UINT m_timeoutMs = kTimeoutMs;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_ok = nullptr;
    std::unique_ptr<UiMessageTarget> m_target;
};

// The default-password warning (resource 104): ends at once when the user asked
// not to see it again, else after 30 s or on OK; remembers the check box in the
// product's "Users" settings ("DontShowWarning").
class TAVICORE_UI_API CUserPwdWarn : public QDialog {
public:
    static constexpr UINT kDialogId = 104;
    static constexpr UINT kTimeoutMs = 30000;
    static constexpr platform::UINT_PTR kTimerId = 1;

    explicit CUserPwdWarn(QWidget* parent = nullptr);
    ~CUserPwdWarn() override;

    void SetTimeoutMs(UINT timeoutMs) { m_timeoutMs = timeoutMs; }
    // Runs the warning; IDOK. Returns at once, showing nothing, when it is switched off.
    int DoModal();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void finish();
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_timeoutMs = kTimeoutMs;
    QCheckBox* m_dontShow = nullptr;
    bool m_finished = false;
    std::unique_ptr<UiMessageTarget> m_target;
};

// The dialog of one user (resource 102), new (mode 0) or edit (mode 1). Return
// and Escape do not end it.
class TAVICORE_UI_API CUserDlg : public QDialog {
public:
    static constexpr UINT kDialogId = 102;
    static constexpr int kModeNew = 0;
    static constexpr int kModeEdit = 1;

    CUserDlg(_tag_user* record, int mode, QWidget* parent = nullptr);
    int DoModal();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnOK();
    void updateOk();

    _tag_user* m_record;
    int m_mode;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_confirm = nullptr;
    QRadioButton* m_rights[3] = {};
    QPushButton* m_ok = nullptr;
};

// The users list (resource 105): adds, edits and removes users of the manager.
// OK saves the list; Cancel reloads the file, dropping additions and edits (a
// removal is saved at once).
class TAVICORE_UI_API CUsersDlg : public QDialog {
public:
    static constexpr UINT kDialogId = 105;

    explicit CUsersDlg(CUsersManager& manager, QWidget* parent = nullptr);
    ~CUsersDlg() override;
    int DoModal();

private:
    void fill();
    void setRow(int row, const _tag_user& user);
    void OnAdd();
    void OnEdit();
    void OnRemove();
    void OnOK();
    void OnCancel();
    std::string selectedName() const;
    void message(UINT stringId, UINT type);

    CUsersManager& m_manager;
    QTreeWidget* m_list = nullptr;
};

// The users manager's user-interface layer: runs the dialogs above over the
// given parent (the desktop when null).
class TAVICORE_UI_API CUserDialogs : public CUsersManagerUi {
public:
    explicit CUserDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    int RunLoginDialog(_tag_user* typed, const char* caption) override;
    void RunDefaultPasswordWarning() override;
    void ShowStopMessage(UINT stringId) override;
    int RunUsersDialog(CUsersManager& manager) override;

private:
    QWidget* m_parent;
};
