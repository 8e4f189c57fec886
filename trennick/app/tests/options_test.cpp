// The options sheet, the setup wizard and the site book, run through the
// program's own main frame: each is opened by its command (or at the first
// start), answered as a user would, and what it changed is looked for in the
// frame's settings, the registry and the link.

#include "trennick/app/testing/app_test_support.h"
#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/registry.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/setup_wizard.h"
#include "trennick/app/tollven_dlg.h"
#include "trennick/app/visual_settings.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <array>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace trennick;
using namespace apptest;

namespace {

// A program whose windows can be asked of the user (they show off-screen).
struct Program {
    explicit Program(std::vector<std::string> line) {
        AppServices services = quietServices(&ui);
        services.showWindows = true;
        app = std::make_unique<CKivApp>(std::move(line), "", services);
    }
    bool start() {
        return app->InitInstance() && pumpUntil([&] { return app->MainFrame()->PostCreateDone(); });
    }
    CMainFrame& frame() { return *app->MainFrame(); }
    ~Program() {
        if (app->MainFrame() != nullptr) app->MainFrame()->CloseWithoutAsking();
        pumpUntil([&] { return app->MainFrame() == nullptr || app->MainFrame()->IsDestroyed(); });
        app->ExitInstance();
    }
    AnsweringUi ui;
    std::unique_ptr<CKivApp> app;
};

std::vector<std::string> tcpLine(const char* instance) {
    return {"/NOSPLASH", "/I", std::string("/U") + instance, "/P=" + std::to_string(nettest::freePort())};
}

DWORD storedDword(const std::string& instance, const char* section, const char* name) {
    CKcReg reg = InstanceKey("\\Velmoor" + instance, section);
    DWORD value = 0xFFFFFFFF;
    reg.GetDword(nullptr, name, &value);
    return value;
}

std::string storedText(CKcReg& reg, const char* name) {
    char text[512] = {};
    DWORD size = sizeof text;
    reg.GetString(nullptr, name, text, &size);
    return text;
}

// Runs the frame's command as its menu does; `answer` acts on the window it opens.
void runCommand(CMainFrame& frame, WPARAM id, std::function<void(QWidget*)> answer) {
    bool answered = false;
    uitest::whenModal([&](QWidget* w) {
        answer(w);
        answered = true;
    });
    frame.OnCommand(id);
    EXPECT_TRUE(answered) << "the command opened no window";
}

template <typename T = QWidget>
T* on(CVisualSettings* sheet, int page, int id) {
    T* control = UiControl<T>(sheet->Page(page), id);
    EXPECT_NE(control, nullptr) << "page " << page << " control " << id;
    return control;
}

std::vector<int> templates(CVisualSettings* sheet) {
    std::vector<int> ids;
    for (int i = 0; i < sheet->Pages()->count(); ++i) ids.push_back(sheet->Page(i)->TemplateId());
    return ids;
}

}  // namespace

struct FolderCase {
    const char* typed;
    const char* stored;
};
constexpr FolderCase kFolders[] = {
    {"/srv/Events", "/srv/Events/"},
    {"/srv/Events/", "/srv/Events/"},
    {"C:\\Events\\", "C:\\Events\\"},  // a folder in the Windows form keeps its separator
    {"", ""},                          // never the root of the disk
};

TEST(OptionsSheet, StorageFolderEndsWithOneSeparator) {
    for (const FolderCase& c : kFolders) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(CKivSetup::StoredFolder(c.typed), c.stored);
    }
}

// On a TCP station: the sheet has the TCP page and no modem page; Cancel
// keeps everything; OK stores every page's change, and the link kind that
// changes is told to take effect at the next start.
TEST(OptionsSheet, TcpStationStoresWhatEachPageChanged) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeCard("41", "Control Room", "555-0141");
    // The stored link is TCP too.
    const DWORD tcp = 1;
    InstanceKey("\\Velmoor41", "Comms").SetDword(nullptr, "NetInUse", &tcp);
    Program p(tcpLine("41"));
    ASSERT_TRUE(p.start());
    CMainFrame& frame = p.frame();
    const std::string home = std::getenv("VELMOOR_HOME");

    runCommand(frame, ID_OPTIONS, [&](QWidget* w) {
        auto* sheet = dynamic_cast<CVisualSettings*>(w);
        ASSERT_NE(sheet, nullptr);
        on<QCheckBox>(sheet, 0, 1272)->setChecked(false);
        on<QLineEdit>(sheet, 3, 344)->setText("/nowhere");
        QTest::mouseClick(UiControl<QPushButton>(sheet, IDCANCEL), Qt::LeftButton);
    });
    EXPECT_EQ(frame.Settings().comms.PlayRings, 1u);
    EXPECT_EQ(storedDword("41", "Comms", "PlayRings"), 1u);

    const std::string events = home + "/Events";
    runCommand(frame, ID_OPTIONS, [&](QWidget* w) {
        auto* sheet = dynamic_cast<CVisualSettings*>(w);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(templates(sheet), (std::vector<int>{202, 357, 163, 330}));
        EXPECT_EQ(sheet->Pages()->currentIndex(), 0);
        // The display page's two hidden switches are carried, not shown.
        EXPECT_TRUE(on(sheet, 0, 1083)->isHidden());
        EXPECT_TRUE(on(sheet, 0, 1237)->isHidden());
        on<QCheckBox>(sheet, 0, 1272)->setChecked(false);
        on<QCheckBox>(sheet, 0, 1286)->setChecked(true);
        uitest::saveScreenshot(sheet, "options_sheet_display");
        sheet->Pages()->setCurrentIndex(1);
        // Without dial-up functions the local network is the only choice.
        EXPECT_TRUE(on<QRadioButton>(sheet, 1, 1002)->isChecked());
        EXPECT_FALSE(on(sheet, 1, 1008)->isEnabled());
        EXPECT_EQ(on<QLineEdit>(sheet, 1, 1004)->maxLength(), 127);
        EXPECT_FALSE(on<QCheckBox>(sheet, 1, 1010)->isChecked());
        on<QCheckBox>(sheet, 1, 1010)->setChecked(true);  // the modem from the next start
        uitest::saveScreenshot(sheet, "options_sheet_tcp");
        sheet->Pages()->setCurrentIndex(2);
        on<QLineEdit>(sheet, 2, 1035)->setText("120");
        on<QCheckBox>(sheet, 2, 1238)->setChecked(true);
        sheet->Pages()->setCurrentIndex(3);
        on<QLineEdit>(sheet, 3, 344)->setText(QString::fromStdString(events));
        on<QRadioButton>(sheet, 3, 1245)->setChecked(true);
        on<QCheckBox>(sheet, 3, 1081)->setChecked(true);
        uitest::saveScreenshot(sheet, "options_sheet_storage");
        // Enter in a field leaves the sheet open.
        QTest::keyClick(on(sheet, 3, 344), Qt::Key_Return);
        QTest::keyClick(sheet, Qt::Key_Enter);
        EXPECT_TRUE(sheet->isVisible());
        QTest::mouseClick(UiControl<QPushButton>(sheet, IDOK), Qt::LeftButton);
    });

    // The frame took the copies over and stored them.
    const CFrameSettings& s = frame.Settings();
    EXPECT_EQ(s.comms.PlayRings, 0u);
    EXPECT_EQ(storedDword("41", "Comms", "PlayRings"), 0u);
    EXPECT_EQ(storedDword("41", "Comms", "NetInUse"), 0u);
    EXPECT_EQ(storedDword("41", "Video", "rParam_imagewidth"), 120u);
    EXPECT_EQ(storedDword("41", "Video", "rParam_mono"), 1u);
    CKcReg general = InstanceKey("\\Velmoor41", "General");
    std::array<BYTE, 877> card{};
    DWORD size = card.size();
    ASSERT_TRUE(general.GetBinary(nullptr, "Business Card", card.data(), &size));
    EXPECT_EQ(card[876], 1);
    CKcReg storage = CommonKey("Storage");
    EXPECT_EQ(storedText(storage, "DefaultPath"), events + "/");
    BYTE options[3] = {};
    DWORD optionBytes = sizeof options;
    ASSERT_TRUE(storage.GetBinary(nullptr, "Options", options, &optionBytes));
    EXPECT_EQ(options[1], 1);
    EXPECT_EQ(options[2], 2);
    // The picture size reaches what the link tells a peer.
    EXPECT_EQ(s.video.rParam_imagewidth, 120u);
    // The link kind changes at the next start: the user is told.
    ASSERT_FALSE(p.ui.messages.empty());
    EXPECT_EQ(p.ui.messages.back(), UiString(5310));
}

// On a modem station: the modem page lists the lines, refuses a rings count
// outside 1 to 255 and hands the chosen line and rings to the link.
TEST(OptionsSheet, ModemStationRefusesRingsOutOfRangeAndSetsTheLine) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeCard("42", "Control Room", "555-0142");
    Program p({"/NOSPLASH", "/M", "/U42"});
    ASSERT_TRUE(p.start());
    CMainFrame& frame = p.frame();
    runCommand(frame, ID_OPTIONS_PAGE4, [&](QWidget* w) {
        auto* sheet = dynamic_cast<CVisualSettings*>(w);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(templates(sheet), (std::vector<int>{202, 356, 163, 330}));
        EXPECT_EQ(sheet->Pages()->currentIndex(), 3);  // the storage page
        sheet->Pages()->setCurrentIndex(1);
        auto* lines = on<QComboBox>(sheet, 1, 349);
        ASSERT_GE(lines->findText("Direct to com2"), 0);
        lines->setCurrentIndex(lines->findText("Direct to com2"));
        // A direct line needs no telephony check: its buttons are usable.
        EXPECT_TRUE(on(sheet, 1, 3)->isEnabled());
        uitest::saveScreenshot(sheet, "options_sheet_modem");
        for (const char* refused : {"0", "256", "", "two"}) {
            SCOPED_TRACE(refused);
            sheet->Pages()->setCurrentIndex(0);
            const std::size_t before = p.ui.messages.size();
            on<QLineEdit>(sheet, 1, 1264)->setText(refused);
            QTest::mouseClick(UiControl<QPushButton>(sheet, IDOK), Qt::LeftButton);
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_EQ(sheet->Pages()->currentIndex(), 1);
            ASSERT_EQ(p.ui.messages.size(), before + 1);
            EXPECT_EQ(p.ui.messages.back(), kRingsRangeText);
        }
        on<QLineEdit>(sheet, 1, 1264)->setText("255");
        QTest::mouseClick(UiControl<QPushButton>(sheet, IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(frame.Settings().comms.RingsCount, 255u);
    EXPECT_STREQ(frame.Settings().comms.ModemName, "Direct to com2");
    EXPECT_EQ(storedDword("42", "Comms", "RingsCount"), 255u);
    // The link's record now carries them.
    EXPECT_EQ(frame.LinkComms().RingsCount, 255u);
    EXPECT_STREQ(frame.LinkComms().TapiLine, "Direct to com2");
}

// With the saved modem line missing from the list (its modem unplugged), OK
// in the options sheet and Finish in the setup wizard keep the saved line for
// the settings and the link.
TEST(OptionsSheet, OkWhileTheSavedLineIsMissingKeepsIt) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeCard("45", "Control Room", "555-0145");
    {
        CKcReg comms = InstanceKey("\\Velmoor45", "Comms");
        comms.SetString(nullptr, "ModemName", "USB Modem 7");
        comms.SetString(nullptr, "TapiLine", "USB Modem 7");
    }
    Program p({"/NOSPLASH", "/M", "/U45"});
    ASSERT_TRUE(p.start());
    CMainFrame& frame = p.frame();
    ASSERT_STREQ(frame.Settings().comms.ModemName, "USB Modem 7");
    runCommand(frame, ID_OPTIONS_PAGE4, [&](QWidget* w) {
        auto* sheet = dynamic_cast<CVisualSettings*>(w);
        ASSERT_NE(sheet, nullptr);
        sheet->Pages()->setCurrentIndex(1);
        auto* lines = on<QComboBox>(sheet, 1, 349);
        EXPECT_GT(lines->count(), 0);
        EXPECT_EQ(lines->currentIndex(), -1);
        QTest::mouseClick(UiControl<QPushButton>(sheet, IDOK), Qt::LeftButton);
    });
    EXPECT_STREQ(frame.Settings().comms.ModemName, "USB Modem 7");
    EXPECT_STREQ(frame.LinkComms().TapiLine, "USB Modem 7");
    runCommand(frame, ID_SETUP_WIZARD, [&](QWidget* w) {
        auto* wizard = dynamic_cast<CSetupWizard*>(w);
        ASSERT_NE(wizard, nullptr);
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
        ASSERT_EQ(wizard->Page(1)->TemplateId(), 159);
        EXPECT_EQ(UiControl<QComboBox>(wizard->Page(1), 349)->currentIndex(), -1);
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizFinishId), Qt::LeftButton);
    });
    EXPECT_STREQ(frame.Settings().comms.ModemName, "USB Modem 7");
    EXPECT_STREQ(frame.LinkComms().TapiLine, "USB Modem 7");
    CKcReg stored = InstanceKey("\\Velmoor45", "Comms");
    EXPECT_EQ(storedText(stored, "ModemName"), "USB Modem 7");
    EXPECT_EQ(storedText(stored, "TapiLine"), "USB Modem 7");
}

// ---- setup wizard -----------------------------------------------------------

namespace {

// The installation's names, as an installer leaves them.
void storeInstallation(const char* user, const char* company) {
    platform::HKEY key = 0;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, "Software\\Quennel\\Velmoor\\1.000.0", 0, nullptr,
                                       0, platform::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    auto set = [&](const char* name, const char* text) {
        if (text == nullptr) {
            const LONG removed = platform::RegDeleteValue(key, name);
            EXPECT_TRUE(removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND) << removed;
        } else {
            EXPECT_EQ(platform::RegSetValueEx(key, name, 0, platform::REG_SZ, reinterpret_cast<const BYTE*>(text),
                                              static_cast<DWORD>(std::strlen(text) + 1)),
                      ERROR_SUCCESS);
        }
    };
    set("UserName", user);
    set("CompanyName", company);
    platform::RegCloseKey(key);
}

std::string cardText(CWelPage*, QWidget* page, int id) { return UiControl<QLineEdit>(page, id)->text().toStdString(); }

}  // namespace

// The first start of a TCP station runs the wizard: welcome and card pages,
// the installation's names proposed; Finish stores the card, and the next
// start runs no wizard.
TEST(SetupWizard, FirstStartOnTcpStoresTheCard) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeInstallation("Ada Byron", "Analytical Engines");
    bool ran = false;
    uitest::whenModal([&](QWidget* w) {
        auto* wizard = dynamic_cast<CSetupWizard*>(w);
        ASSERT_NE(wizard, nullptr);
        ran = true;
        ASSERT_EQ(wizard->PageCount(), 2);
        EXPECT_EQ(wizard->CurrentPage(), 0);
        EXPECT_EQ(wizard->WizardButtons(), PSWIZB_NEXT);
        uitest::saveScreenshot(wizard, "setup_wizard_welcome");
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
        EXPECT_EQ(wizard->Page(wizard->CurrentPage())->TemplateId(), 238);
        EXPECT_EQ(wizard->WizardButtons(), PSWIZB_BACK | PSWIZB_FINISH);
        QWidget* card = wizard->Page(1);
        EXPECT_EQ(cardText(nullptr, card, 353), "Ada Byron");
        EXPECT_EQ(cardText(nullptr, card, 1088), "Analytical Engines");
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizBackId), Qt::LeftButton);
        EXPECT_EQ(wizard->CurrentPage(), 0);
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
        UiControl<QLineEdit>(card, 1193)->setText("555-0143");
        UiControl<QCheckBox>(card, 1250)->setChecked(true);
        uitest::saveScreenshot(wizard, "setup_wizard_card");
        QTest::mouseClick(UiControl<QPushButton>(wizard, kWizFinishId), Qt::LeftButton);
    });
    {
        Program p(tcpLine("43"));
        ASSERT_TRUE(p.start());
        EXPECT_TRUE(ran);
        const BYTE* card = p.frame().Settings().general.BusinessCard;
        EXPECT_STREQ(reinterpret_cast<const char*>(card + 8), "Ada Byron");
        EXPECT_STREQ(reinterpret_cast<const char*>(card + 72), "555-0143");
        EXPECT_EQ(card[876], 1);
    }
    // Stored: this station's identity carries the name, and a second start
    // of the set-up station asks nothing.
    CKcReg general = InstanceKey("\\Velmoor43", "General");
    std::array<char, 877> stored{};
    DWORD size = stored.size();
    ASSERT_TRUE(general.GetBinary(nullptr, "Business Card", reinterpret_cast<BYTE*>(stored.data()), &size));
    EXPECT_STREQ(stored.data() + 616 - 512, "Analytical Engines");
    bool again = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            again = true;
            w->close();
        }
    });
    watch.start(5);
    Program second(tcpLine("43"));
    ASSERT_TRUE(second.start());
    pumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(again);
}

// A modem station's wizard has the modem page between the two; without the
// installation's names the card proposes single spaces; Cancel stores
// nothing, and the wizard's command opens it again.
TEST(SetupWizard, ModemStationHasTheModemPageAndCancelStoresNothing) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeInstallation(nullptr, nullptr);
    auto answer = [](bool finish) {
        return [finish](QWidget* w) {
            auto* wizard = dynamic_cast<CSetupWizard*>(w);
            ASSERT_NE(wizard, nullptr);
            ASSERT_EQ(wizard->PageCount(), 3);
            QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
            EXPECT_EQ(wizard->Page(1)->TemplateId(), 159);
            EXPECT_EQ(wizard->WizardButtons(), PSWIZB_BACK | PSWIZB_NEXT);
            UiControl<QLineEdit>(wizard->Page(1), 1264)->setText("4");
            uitest::saveScreenshot(wizard, "setup_wizard_modem");
            QTest::mouseClick(UiControl<QPushButton>(wizard, kWizNextId), Qt::LeftButton);
            QWidget* card = wizard->Page(2);
            EXPECT_EQ(UiControl<QLineEdit>(card, 353)->text(), " ");
            EXPECT_EQ(UiControl<QLineEdit>(card, 1088)->text(), " ");
            UiControl<QLineEdit>(card, 353)->setText("East Depot");
            QTest::mouseClick(UiControl<QPushButton>(wizard, finish ? kWizFinishId : IDCANCEL), Qt::LeftButton);
        };
    };
    uitest::whenModal(answer(false));
    Program p({"/NOSPLASH", "/M", "/U44"});
    ASSERT_TRUE(p.start());
    EXPECT_EQ(p.frame().Settings().general.BusinessCard[8], 0);
    EXPECT_NE(p.frame().Settings().comms.RingsCount, 4u);
    runCommand(p.frame(), ID_SETUP_WIZARD, answer(true));
    EXPECT_STREQ(reinterpret_cast<const char*>(p.frame().Settings().general.BusinessCard + 8), "East Depot");
    EXPECT_EQ(p.frame().Settings().comms.RingsCount, 4u);
    EXPECT_EQ(storedDword("44", "Comms", "RingsCount"), 4u);
}

// ---- site book --------------------------------------------------------------

namespace {

// {5B7C9D2E-1F3A-4B6C-8D9E-0A1B2C3D4E5F}
constexpr IID IID_IFakeTollven = {0x5B7C9D2E, 0x1F3A, 0x4B6C, {0x8D, 0x9E, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
struct IFakeTollven : IDispatch {
    static constexpr IID iid = IID_IFakeTollven;
    using Base = IDispatch;

protected:
    ~IFakeTollven() = default;
};

// Stands for the site book control, which is not part of this program: it
// holds one selected station and fires its events when told.
class FakeTollven
    : public platform::com::ComObject<FakeTollven, platform::com::DispatchImpl<FakeTollven, IFakeTollven>,
                                      platform::com::ConnectionPointContainerImpl<FakeTollven>> {
public:
    FakeTollven(std::string name, std::string number) : m_name(std::move(name)), m_number(std::move(number)) {}
    ~FakeTollven() override { m_events.unadviseAll(); }
    static std::span<const platform::com::DispatchMember<FakeTollven>> dispatchMembers() {
        using platform::com::dispatchMethod;
        static const platform::com::DispatchMember<FakeTollven> table[] = {
            {"GetCurStation", 2, &dispatchMethod<&FakeTollven::GetCurStation>},
            {"ShowStaionInfo", 3, &dispatchMethod<&FakeTollven::ShowStaionInfo>},
            {"ShowDialBtn", 4, &dispatchMethod<&FakeTollven::ShowDialBtn>},
        };
        return table;
    }
    std::span<platform::com::ConnectionPoint* const> connectionPoints() { return m_points; }

    HRESULT GetCurStation(BSTR* id, BSTR* name, BSTR* number, LONG* access, LONG* automatic, BSTR* prefix, BSTR* ip,
                          BSTR* password, BSTR* customer) {
        *id = SysAllocString("{station}");
        *name = SysAllocString(m_name.c_str());
        *number = SysAllocString(m_number.c_str());
        *access = 1;
        *automatic = 0;
        for (BSTR* empty : {prefix, ip, password, customer}) *empty = nullptr;
        return S_OK;
    }
    HRESULT ShowStaionInfo(LONG flag) {
        stationInfo = flag;
        return S_OK;
    }
    HRESULT ShowDialBtn(LONG flag) {
        dialButton = flag;
        return S_OK;
    }
    void connect(const char* number) {
        BSTR text = number != nullptr ? SysAllocString(number) : nullptr;
        const platform::com::Variant args[] = {platform::com::Variant::ref(VT_BSTR, &text)};
        m_events.fire(kDispDoConnect, std::span<const platform::com::Variant>(args));
        SysFreeString(text);
    }
    void exit() { m_events.fire(kDispDoExit); }

    LONG stationInfo = -1, dialButton = -1;

private:
    std::string m_name, m_number;
    platform::com::ConnectionPoint m_events{*this, DIID__DTollvenEvents};
    std::array<platform::com::ConnectionPoint*, 1> m_points{&m_events};
};

// A listening socket on loopback that notices a caller.
struct Listener {
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
    bool called() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
    int fd;
    unsigned short port;
};

}  // namespace

// The connect command without a station opens the site book, which says that
// its control is missing; closing it calls nobody.
TEST(SiteBook, ConnectWithoutAStationShowsTheControlMissing) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeCard("45", "Control Room", "555-0145");
    Program p(tcpLine("45"));
    ASSERT_TRUE(p.start());
    runCommand(p.frame(), ID_CONNECT_CONNECT, [&](QWidget* w) {
        auto* dialog = dynamic_cast<CTollvenDlg*>(w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(dialog->Control().Exists());
        const QString text = UiControl<QLabel>(dialog, CTollvenDlg::kControlId)->text();
        EXPECT_TRUE(text.contains("not installed")) << text.toStdString();
        uitest::saveScreenshot(dialog, "site_book_dialog");
        QTest::mouseClick(UiControl<QPushButton>(dialog, IDCANCEL), Qt::LeftButton);
    });
    for (const std::string& m : p.ui.messages) EXPECT_EQ(m.find("not available"), std::string::npos) << m;
    EXPECT_TRUE(p.frame().SiteBookName().empty());
}

// The site book with the control standing in: the control's DoConnect calls
// the chosen station, by the number the event carries when it carries one,
// else by the station's own number; DoExit closes the book and calls nobody.
enum class SiteBookEnd { EventNumber, StoredNumber, Exit };

void runSiteBook(const char* instance, SiteBookEnd end) {
    uitest::installLanguage();
    uitest::Guard guard(60);
    storeCard(instance, "Control Room", "555-0146");
    Listener stored, given;
    const std::string storedNumber = "127.0.0.1:" + std::to_string(stored.port);
    const std::string givenNumber = "127.0.0.1:" + std::to_string(given.port);
    Program p(tcpLine(instance));
    ASSERT_TRUE(p.start());
    auto* control = new FakeTollven("North Gate", storedNumber);
    control->AddRef();
    p.frame().UseSiteBookControl(control);
    runCommand(p.frame(), ID_SITE_BOOK, [&](QWidget* w) {
        auto* dialog = dynamic_cast<CTollvenDlg*>(w);
        ASSERT_NE(dialog, nullptr);
        // The dialog passed its flags on when it opened.
        EXPECT_EQ(control->dialButton, 1);
        EXPECT_EQ(control->stationInfo, 0);
        if (end == SiteBookEnd::Exit) {
            control->exit();
        } else {
            control->connect(end == SiteBookEnd::EventNumber ? givenNumber.c_str() : nullptr);
        }
        EXPECT_FALSE(dialog->isVisible());
    });
    if (end == SiteBookEnd::Exit) {
        EXPECT_TRUE(p.frame().SiteBookName().empty());
        pumpUntil([] { return false; }, std::chrono::milliseconds(100));
        EXPECT_FALSE(stored.called() || given.called());
    } else {
        EXPECT_EQ(p.frame().SiteBookName(), "North Gate");
        const bool inEvent = end == SiteBookEnd::EventNumber;
        EXPECT_EQ(p.frame().SiteBookNumber(), inEvent ? givenNumber : storedNumber);
        EXPECT_TRUE(pumpUntil([&] { return (inEvent ? given : stored).called(); }));
        EXPECT_FALSE((inEvent ? stored : given).called());
    }
    p.frame().UseSiteBookControl(nullptr);
    control->Release();
}

TEST(SiteBook, DoConnectCallsTheNumberTheEventCarries) { runSiteBook("46", SiteBookEnd::EventNumber); }
TEST(SiteBook, DoConnectWithoutANumberCallsTheStationsNumber) { runSiteBook("47", SiteBookEnd::StoredNumber); }
TEST(SiteBook, DoExitClosesTheBookAndCallsNobody) { runSiteBook("48", SiteBookEnd::Exit); }
