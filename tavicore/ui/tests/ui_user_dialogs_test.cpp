#include "tavicore/ui/ui_user_dialogs.h"

#include "common/kc_reg.h"
#include "platform/folders.h"
#include "tavicore/ui/testing/ui_test_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVariant>
#include <QTest>
#include <QTreeWidget>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr const char* kProductKey = "software\\Quennel\\Velmoor\\1.000.0";

std::string usersFolder() {
    auto folder = platform::homeFolder() / "users";
    std::filesystem::create_directories(folder);
    return folder.string();
}

_tag_user makeUser(const char* name, const char* password, DWORD rights) {
    _tag_user u{};
    std::strncpy(u.name, name, sizeof u.name - 1);
    std::strncpy(u.password, password, sizeof u.password - 1);
    u.rights = rights;
    return u;
}

struct LogLine {
    DWORD id;
    std::string name;
};

class UserDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::installLanguage();
        SetUserDialogLogWriter([this](DWORD id, const std::string& name) { log.push_back({id, name}); });
    }
    void TearDown() override { SetUserDialogLogWriter(nullptr); }

    std::vector<LogLine> log;
    uitest::Guard guard;
};

// A users file with the administrator and one operator.
std::unique_ptr<CUsersManager> managerWithUsers() {
    auto manager = std::make_unique<CUsersManager>(usersFolder().c_str(), kProductKey);
    manager->Load();
    manager->DiscardUserList();
    auto admin = makeUser("admin", "secret", 1);
    auto mia = makeUser("mia", "pw1", 2);
    EXPECT_EQ(manager->AddUser(&mia), USER_OK);
    EXPECT_EQ(manager->AddUser(&admin), USER_OK);
    EXPECT_EQ(manager->Save(), USER_OK);
    return manager;
}

std::vector<std::string> listNames(QWidget* dialog) {
    std::vector<std::string> names;
    auto* list = UiControl<QTreeWidget>(dialog, 1061);
    for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
        names.push_back(list->topLevelItem(i)->text(0).toStdString());
    }
    return names;
}

// The centre of a user's row in the list, where a user clicks it.
QPoint rowCentre(QWidget* dialog, const char* name) {
    auto* list = UiControl<QTreeWidget>(dialog, 1061);
    auto items = list->findItems(name, Qt::MatchExactly, 0);
    EXPECT_EQ(items.size(), 1);
    return items.isEmpty() ? QPoint() : list->visualItemRect(items.front()).center();
}

void selectRow(QWidget* dialog, const char* name) {
    auto* list = UiControl<QTreeWidget>(dialog, 1061);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(dialog, name));
    ASSERT_NE(list->currentItem(), nullptr);
    ASSERT_EQ(list->currentItem()->text(0), name);
}

void clickControl(QWidget* dialog, int id) {
    auto* b = UiControl<QAbstractButton>(dialog, id);
    ASSERT_NE(b, nullptr) << "control " << id;
    QTest::mouseClick(b, Qt::LeftButton);
}

}  // namespace

TEST_F(UserDialogs, LoginAcceptsTypedNameAndPasswordAndRemembersTheName) {
    _tag_user typed{};
    {
        CUserLoginDlg dialog(&typed, "Log in to Velmoor");
        EXPECT_EQ(dialog.windowTitle(), "Log in to Velmoor");
        auto* name = UiControl<QLineEdit>(&dialog, 353);
        auto* password = UiControl<QLineEdit>(&dialog, 1003);
        auto* ok = UiControl<QPushButton>(&dialog, IDOK);
        ASSERT_TRUE(name && password && ok);
        EXPECT_EQ(name->text(), "admin");  // the first time
        EXPECT_TRUE(password->text().isEmpty());
        QTimer::singleShot(0, [&] {
            uitest::saveScreenshot(&dialog, "login_dialog");
            name->selectAll();
            QTest::keyClick(name, Qt::Key_Delete);
            EXPECT_FALSE(ok->isEnabled());  // nothing typed: OK is off
            QTest::keyClicks(name, "operator-with-a-name-longer-than-29");
            EXPECT_TRUE(ok->isEnabled());
            QTest::keyClick(name, Qt::Key_Return);  // moves on to the password
            EXPECT_EQ(dialog.focusWidget(), password);
            QTest::keyClicks(password, "pw");
            QTest::keyClick(password, Qt::Key_Return);  // acts as OK
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
    }
    EXPECT_STREQ(typed.name, "operator-with-a-name-longer-t");  // cut to 29
    EXPECT_STREQ(typed.password, "pw");
    // A typed password is no login yet: the users manager logs it once checked.
    EXPECT_TRUE(log.empty());

    CUserLoginDlg again(&typed, nullptr);
    EXPECT_EQ(UiControl<QLineEdit>(&again, 353)->text(), "operator-with-a-name-longer-than-29");
}

// Answers each login dialog that appears, while it lives, with the next
// password of its list; when the list is used up it cancels.
class LoginAnswerer {
public:
    explicit LoginAnswerer(std::vector<const char*> passwords) : m_passwords(std::move(passwords)) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start();
    }
    int shown() const { return m_shown; }

private:
    void poll() {
        QWidget* dialog = QApplication::activeModalWidget();
        // Marked on the window itself: a later dialog may reuse the same address.
        if (dialog == nullptr || !dialog->isVisible() || dialog->property("answered").toBool()) {
            return;
        }
        dialog->setProperty("answered", true);
        ++m_shown;
        if (m_next >= m_passwords.size()) {
            clickControl(dialog, IDCANCEL);
            return;
        }
        auto* name = UiControl<QLineEdit>(dialog, 353);
        name->clear();
        QTest::keyClicks(name, "mia");
        QTest::keyClicks(UiControl<QLineEdit>(dialog, 1003), m_passwords[m_next++]);
        clickControl(dialog, IDOK);
    }

    std::vector<const char*> m_passwords;
    std::size_t m_next = 0;
    int m_shown = 0;
    QTimer m_poll;
};

TEST_F(UserDialogs, LoginThroughTheManagerSucceedsOrFails) {
    auto manager = managerWithUsers();
    CUserDialogs ui;
    manager->SetUi(&ui);
    struct Case {
        std::vector<const char*> passwords;
        int result;
        int dialogs;
    } cases[] = {
        {{"pw1"}, USER_OK, 1},
        {{"wrong", "pw1"}, USER_OK, 2},  // a refused password asks again
        {{"wrong"}, E_USER_REFUSED, 2},  // then cancelled
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dialogs);
        LoginAnswerer answerer(c.passwords);
        EXPECT_EQ(manager->DoLoginDialog("Login"), c.result);
        EXPECT_EQ(answerer.shown(), c.dialogs);
        _tag_user user{};
        EXPECT_EQ(manager->GetLoginUser(&user) == USER_OK && std::strcmp(user.name, "mia") == 0,
                  c.result == USER_OK);
    }
}

TEST_F(UserDialogs, LoginCancelsItselfWhenNobodyAnswers) {
    _tag_user typed{};
    CUserLoginDlg dialog(&typed, nullptr);
    dialog.SetTimeoutMs(50);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(typed.name[0], '\0');
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(CUserLoginDlg::kTimeoutMs, 45000u);
}

TEST_F(UserDialogs, LoginEscapeAndCloseBoxCancel) {
    for (bool closeBox : {false, true}) {
        _tag_user typed{};
        CUserLoginDlg dialog(&typed, nullptr);
        QTimer::singleShot(0, [&] {
            if (closeBox) {
                dialog.close();
            } else {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            }
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
}

TEST_F(UserDialogs, WarningEndsByTimerAndRemembersTheCheckBox) {
    {
        CUserPwdWarn warning;
        warning.SetTimeoutMs(50);
        QTimer::singleShot(0, [&] {
            uitest::saveScreenshot(&warning, "default_password_warning");
            QTest::mouseClick(UiControl<QCheckBox>(&warning, 1007), Qt::LeftButton,
                              {}, QPoint(5, 5));
        });
        EXPECT_EQ(warning.DoModal(), IDOK);  // ended by its timer
        EXPECT_FALSE(warning.isVisible());
    }
    DWORD stored = 0;
    CKcReg reg("Quennel", "Velmoor", "1.000.0", "Users");
    ASSERT_TRUE(reg.GetDword(nullptr, "DontShowWarning", &stored));
    EXPECT_EQ(stored, 1u);

    CUserPwdWarn again;
    again.SetTimeoutMs(60000);
    EXPECT_EQ(again.DoModal(), IDOK);  // switched off: ends at once, never shown
    EXPECT_FALSE(again.isVisible());
}

TEST_F(UserDialogs, UserDialogNeedsMatchingPasswordsAndIgnoresReturnAndEscape) {
    _tag_user user = makeUser("stale", "stale", 4);
    CUserDlg dialog(&user, CUserDlg::kModeNew);
    EXPECT_EQ(user.name[0], '\0');  // new mode clears the record
    EXPECT_TRUE(UiControl<QRadioButton>(&dialog, 1007)->isChecked());
    QTimer::singleShot(0, [&] {
        auto* ok = UiControl<QPushButton>(&dialog, IDOK);
        QTest::keyClicks(UiControl<QLineEdit>(&dialog, 353), "bob");
        QTest::keyClicks(UiControl<QLineEdit>(&dialog, 1003), "abc");
        QTest::keyClicks(UiControl<QLineEdit>(&dialog, 1002), "abd");
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClick(UiControl<QLineEdit>(&dialog, 1002), Qt::Key_Backspace);
        QTest::keyClicks(UiControl<QLineEdit>(&dialog, 1002), "c");
        EXPECT_TRUE(ok->isEnabled());
        QTest::keyClick(UiControl<QLineEdit>(&dialog, 1002), Qt::Key_Return);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());  // neither key ended it
        QTest::mouseClick(UiControl<QRadioButton>(&dialog, 1008), Qt::LeftButton, {}, QPoint(5, 5));
        uitest::saveScreenshot(&dialog, "user_dialog");
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_STREQ(user.name, "bob");
    EXPECT_STREQ(user.password, "abc");
    EXPECT_EQ(user.rights, 4u);
}

TEST_F(UserDialogs, EditingTheAdministratorCannotChangeItsRights) {
    _tag_user admin = makeUser("admin", "secret", 1);
    CUserDlg dialog(&admin, CUserDlg::kModeEdit);
    EXPECT_FALSE(UiControl<QLineEdit>(&dialog, 353)->isEnabled());
    EXPECT_EQ(UiControl<QLineEdit>(&dialog, 1003)->text(), "secret");
    EXPECT_EQ(UiControl<QLineEdit>(&dialog, 1002)->text(), "secret");
    for (int id : {1005, 1007, 1008}) {
        EXPECT_FALSE(UiControl<QRadioButton>(&dialog, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(UiControl<QRadioButton>(&dialog, 1005)->isChecked());
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(UiControl<QRadioButton>(&dialog, 1008), Qt::LeftButton, {}, QPoint(5, 5));
        clickControl(&dialog, IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(admin.rights, 1u);
}

TEST_F(UserDialogs, UsersListAddsEditsAndRemovesButKeepsTheAdministrator) {
    auto manager = managerWithUsers();
    CUsersDlg dialog(*manager);
    EXPECT_EQ(listNames(&dialog), (std::vector<std::string>{"admin", "mia"}));
    std::vector<std::string> boxes;
    // Each scripted step runs inside the list's modal loop.
    QTimer::singleShot(0, [&] {
        uitest::saveScreenshot(&dialog, "users_list");
        // Add "zoe".
        uitest::whenModal([&](QWidget* user) {
            QTest::keyClicks(UiControl<QLineEdit>(user, 353), "zoe");
            QTest::keyClicks(UiControl<QLineEdit>(user, 1003), "z");
            QTest::keyClicks(UiControl<QLineEdit>(user, 1002), "z");
            clickControl(user, IDOK);
        }, &dialog);
        clickControl(&dialog, 3);
        EXPECT_EQ(listNames(&dialog), (std::vector<std::string>{"admin", "mia", "zoe"}));

        // Adding "mia" again is refused with string 59404.
        uitest::whenModal([&](QWidget* user) {
            QTest::keyClicks(UiControl<QLineEdit>(user, 353), "mia");
            clickControl(user, IDOK);
        }, &dialog);
        bool refusedShown = false;
        {
            auto* poll = new QTimer(&dialog);
            poll->setInterval(5);
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (mb != nullptr) {
                    refusedShown = mb->text().toStdString() == UiString(59404);
                    poll->stop();
                    mb->button(QMessageBox::Ok)->click();
                }
            });
            poll->start();
        }
        clickControl(&dialog, 3);
        EXPECT_TRUE(refusedShown);

        // Edit "mia" by a double click on its row: rights to viewer.
        uitest::whenModal([&](QWidget* user) {
            if (auto* box = qobject_cast<QMessageBox*>(user)) {
                ADD_FAILURE() << box->text().toStdString();
                box->button(QMessageBox::Ok)->click();
                return;
            }
            EXPECT_EQ(UiControl<QLineEdit>(user, 353)->text(), "mia");
            QTest::mouseClick(UiControl<QRadioButton>(user, 1008), Qt::LeftButton, {}, QPoint(5, 5));
            clickControl(user, IDOK);
        }, &dialog);
        {
            QWidget* viewport = UiControl<QTreeWidget>(&dialog, 1061)->viewport();
            const QPoint at = rowCentre(&dialog, "mia");
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        }

        // Remove the administrator: asked, refused with string 65120, the row stays.
        selectRow(&dialog, "admin");
        uitest::whenModal([&](QWidget* box) {
            boxes.push_back(static_cast<QMessageBox*>(box)->text().toStdString());
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
            uitest::whenModal([&](QWidget* refusal) {
                boxes.push_back(static_cast<QMessageBox*>(refusal)->text().toStdString());
                static_cast<QMessageBox*>(refusal)->button(QMessageBox::Ok)->click();
            }, &dialog);
        }, &dialog);
        clickControl(&dialog, 4);
        EXPECT_EQ(listNames(&dialog), (std::vector<std::string>{"admin", "mia", "zoe"}));

        // Remove "zoe": asked, answered Yes, gone.
        selectRow(&dialog, "zoe");
        uitest::whenModal([&](QWidget* box) {
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        }, &dialog);
        clickControl(&dialog, 4);
        EXPECT_EQ(listNames(&dialog), (std::vector<std::string>{"admin", "mia"}));
        clickControl(&dialog, IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], UiString(59406));
    EXPECT_EQ(boxes[1], UiString(65120));

    CUsersManager reloaded(usersFolder().c_str(), kProductKey);
    ASSERT_EQ(reloaded.Load(), USER_OK);
    _tag_user mia{};
    ASSERT_EQ(reloaded.GetUser("mia", &mia), USER_OK);
    EXPECT_EQ(mia.rights, 4u);
    EXPECT_NE(reloaded.GetUser("admin", &mia), E_USER_NOTFOUND);
    EXPECT_EQ(reloaded.GetUser("zoe", &mia), E_USER_NOTFOUND);
    std::vector<DWORD> ids;
    for (const auto& line : log) {
        ids.push_back(line.id);
    }
    // Adding and editing users are no logins.
    EXPECT_EQ(ids, (std::vector<DWORD>{kLogUsersOpened, kLogUserAdded, kLogUserEdited, kLogUserRemoved}));
}

TEST_F(UserDialogs, UsersListCancelDropsAdditions) {
    auto manager = managerWithUsers();
    CUsersDlg dialog(*manager);
    QTimer::singleShot(0, [&] {
        uitest::whenModal([&](QWidget* user) {
            QTest::keyClicks(UiControl<QLineEdit>(user, 353), "temp");
            clickControl(user, IDOK);
        }, &dialog);
        clickControl(&dialog, 3);
        EXPECT_EQ(listNames(&dialog).size(), 3u);
        clickControl(&dialog, IDCANCEL);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    _tag_user temp{};
    EXPECT_EQ(manager->GetUser("temp", &temp), E_USER_NOTFOUND);
}
