#include "trennick/ui/about_dlg.h"

#include "platform/registry.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/testing/ui_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>

namespace {

void writeRegistration(const char* user, const char* company) {
    platform::HKEY key = 0;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, "software\\Quennel\\Velmoor\\1.000.0", 0,
                                       nullptr, 0, 0xF003F, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(platform::RegSetValueEx(key, "UserName", 0, platform::REG_SZ, reinterpret_cast<const BYTE*>(user),
                                      static_cast<DWORD>(std::strlen(user) + 1)),
              ERROR_SUCCESS);
    EXPECT_EQ(platform::RegSetValueEx(key, "CompanyName", 0, platform::REG_SZ, reinterpret_cast<const BYTE*>(company),
                                      static_cast<DWORD>(std::strlen(company) + 1)),
              ERROR_SUCCESS);
    platform::RegCloseKey(key);
}

class Source : public CAboutSource {
public:
    int enabled = 0;
    int QueryButtonEnabled() override { return enabled; }
};

class MainWindow : public platform::MessageWindow {
public:
    std::vector<WPARAM> commands;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override {
        if (msg == WM_COMMAND) {
            commands.push_back(wParam);
        }
        return 0;
    }
};

std::string thisKey(CUUIDdb& identity) {
    char key[256] = {};
    identity.dbGUIDThisReadKey(key, sizeof key);
    return key;
}

class AboutAndIdentity : public ::testing::Test {
protected:
    void SetUp() override { uitest::installLanguage(); }
    uitest::Guard guard;
};

}  // namespace

TEST_F(AboutAndIdentity, AboutShowsUnknownWithoutRegistration) {
    Source source;
    CAboutDlg about(&source, 0);
    EXPECT_EQ(UiControl<QLabel>(&about, 1093)->text(), "Unknown");
    EXPECT_EQ(UiControl<QLabel>(&about, 1184)->text(), "Unknown");
    EXPECT_EQ(UiControl<QLabel>(&about, 336)->text().toStdString(), UiString(10000) + " " + UiString(501));
    EXPECT_FALSE(UiControl<QPushButton>(&about, 1002)->isEnabled());
}

TEST_F(AboutAndIdentity, AboutShowsTheRegistrationAndItsButtonCommandsTheMainWindow) {
    writeRegistration("Ada Lovelace", "Analytical Engines Ltd");
    Source source;
    source.enabled = 1;
    MainWindow main;
    ASSERT_TRUE(main.create());
    CAboutDlg about(&source, main.hwnd());
    EXPECT_EQ(UiControl<QLabel>(&about, 1093)->text(), "Ada Lovelace");
    EXPECT_EQ(UiControl<QLabel>(&about, 1184)->text(), "Analytical Engines Ltd");
    QTimer::singleShot(0, [&] {
        uitest::saveScreenshot(&about, "about_box");
        QTest::mouseClick(UiControl<QPushButton>(&about, 1002), Qt::LeftButton);
        QTest::mouseClick(UiControl<QPushButton>(&about, IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(about.DoModal(), IDOK);
    EXPECT_EQ(main.commands, (std::vector<WPARAM>{CAboutDlg::kCmdButton}));
}

TEST_F(AboutAndIdentity, IdentityPageStartsAnonymousAndFillsTheRecord) {
    CUUIDdb identity;
    tagIdentityRecord record{};
    CIdentifyPage page(&record, identity);
    page.OnInitDialog();
    EXPECT_EQ(UiControl<QLineEdit>(&page, 353)->text(), "Anonymous");
    EXPECT_EQ(UiControl<QLineEdit>(&page, 1193)->text(), " ");
    page.show();
    uitest::saveScreenshot(&page, "identity_page");
    UiControl<QLineEdit>(&page, 1193)->clear();
    QTest::keyClicks(UiControl<QLineEdit>(&page, 1193), "+44 20 7946 0000");
    page.OnClose();
    EXPECT_STREQ(record.name, "Anonymous");
    EXPECT_STREQ(record.phone, "+44 20 7946 0000");
    EXPECT_STREQ(record.description, " ");

    // Opened again on the filled record, it shows the record.
    CIdentifyPage again(&record, identity);
    again.OnInitDialog();
    EXPECT_EQ(UiControl<QLineEdit>(&again, 1193)->text(), "+44 20 7946 0000");
}

TEST_F(AboutAndIdentity, NewNameAsksForANewIdentity) {
    CUUIDdb identity;
    char key[256] = {};
    ASSERT_NE(identity.dbGUIDCreateKey(key, sizeof key), 0);
    ASSERT_NE(identity.dbGUIDThisWriteKey(key), 0);
    const std::string original = thisKey(identity);
    tagIdentityRecord record{};
    std::strcpy(record.name, "North gate");
    std::strcpy(record.phone, "555");

    struct Case {
        const char* name;
        const char* description;
        int answer;  // 0: no question expected
        bool newKey;
    } cases[] = {
        {"North gate", "changed text only", 0, false},
        {"South gate", "", IDNO, false},
        {"East gate", "", IDYES, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = thisKey(identity);
        CIdentifyPage page(&record, identity);
        page.OnInitDialog();
        UiControl<QLineEdit>(&page, 353)->setText(c.name);
        UiControl<QPlainTextEdit>(&page, 1088)->setPlainText(c.description);
        std::string asked;
        if (c.answer != 0) {
            uitest::whenModal([&](QWidget* box) {
                asked = static_cast<QMessageBox*>(box)->text().toStdString();
                QTest::mouseClick(UiControl<QPushButton>(box, c.answer), Qt::LeftButton);
            });
        }
        EXPECT_TRUE(page.OnApply());
        EXPECT_EQ(asked, c.answer != 0 ? UiString(65008) : std::string());
        EXPECT_EQ(thisKey(identity) != before, c.newKey);
        EXPECT_EQ(UiControl<QLineEdit>(&page, 353)->text(), c.name);  // stays in the page
        page.OnClose();
    }
    EXPECT_NE(thisKey(identity), original);
}

TEST_F(AboutAndIdentity, IdentityPageTakesTheStationsIdentityWhenTheRecordIsEmpty) {
    writeRegistration("Ada Lovelace", "");
    CUUIDdb identity;
    char key[256] = {};
    ASSERT_NE(identity.dbGUIDCreateKey(key, sizeof key), 0);
    ASSERT_NE(identity.dbGUIDThisWriteKey(key), 0);
    tagSiteInfo info{};
    std::strcpy(info.name, "Harbour office");
    std::strcpy(info.phone, "0123");
    ASSERT_NE(identity.dbGUIDThisWriteInfo(&info), 0);
    tagIdentityRecord record{};
    CIdentifyPage page(&record, identity);
    page.OnInitDialog();
    EXPECT_EQ(UiControl<QLineEdit>(&page, 353)->text(), "Harbour office");
    EXPECT_EQ(UiControl<QLineEdit>(&page, 1193)->text(), "0123");
    EXPECT_EQ(UiControl<QPlainTextEdit>(&page, 1088)->toPlainText(), " ");  // no company: its default
}
