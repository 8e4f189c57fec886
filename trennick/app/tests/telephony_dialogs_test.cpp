// The telephony line's dialogs in the recorder program: the options sheet's
// modem page lists the lines, checks the chosen one and opens its configuration
// and dialing dialogs; what the user chose is what the modem gets on the next
// call. The line is a fake modem on a pseudo-terminal.

#include "common/kc_reg.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/station/modem_link.h"
#include "trennick/app/visual_settings.h"
#include "trennick/app/testing/app_test_support.h"
#include "trennick/serial/modem_connection.h"
#include "trennick/serial/tapi_binding.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/serial/testing/fake_modem_process.h"
#include "trennick/ui/line_dialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace trennick;
using apptest::pumpUntil;

tapi::ModemDevConfig keptConfig(const CTAPIConnection& lines) {
    tapi::ModemDevConfig config;
    const auto& bytes = lines.DevConfig();
    if (bytes.size() == sizeof config) std::memcpy(&config, bytes.data(), sizeof config);
    return config;
}

TEST(TelephonyDialogs, ChosenConfigurationAndLocationReachTheModem) {
    const auto log = platform::homeFolder() / "modem-commands.log";
    serialtest::FakeModemProcess modems({"--number", "5550001", "--number", "5550002", "--command-log", log.string()});
    ASSERT_TRUE(modems.ok());
    ::setenv("VELMOOR_TAPI_LINES", ("Line A=" + modems.device("5550001")).c_str(), 1);
    CKcReg comms("Quennel", "Velmoor\\Velmoor43", "1.000.0", "Comms");  // the branch of /U43
    const DWORD noWait = 0;
    comms.SetDword(nullptr, "MinTimeBetweenConnect", &noWait);

    uitest::installLanguage();
    apptest::storeCard("43", "Control Room", "555-0143");  // no setup wizard at start
    apptest::AnsweringUi ui;
    AppServices services = apptest::quietServices(&ui);
    services.showWindows = true;  // windows the user is asked in (off-screen)
    CKivApp app({"/NOSPLASH", "/M", "/U43"}, "", services);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    CTAPIConnection* lines = ModemTapi(*frame->Connection());
    ASSERT_NE(lines, nullptr);
    uitest::Guard guard(90);

    // The modem page of the options sheet: the line is chosen and checked, then
    // its configuration dialog (pulse dialing, speaker off, a further setting),
    // a cancelled second look that changes nothing, and its dialing properties
    // (an outside line, shown as the number would be dialled).
    QString dialledAs;
    bool sheetShown = false;
    uitest::whenModal([&](QWidget* w) {
        sheetShown = true;
        auto* sheet = dynamic_cast<CVisualSettings*>(w);
        ASSERT_NE(sheet, nullptr);
        sheet->Pages()->setCurrentIndex(1);
        QWidget* page = sheet->Page(1);
        auto* combo = UiControl<QComboBox>(page, 349);
        ASSERT_NE(combo, nullptr);
        ASSERT_EQ(combo->itemText(0), "Line A");
        combo->setCurrentIndex(0);
        auto* configure = UiControl<QPushButton>(page, 3);
        auto* dialing = UiControl<QPushButton>(page, 1484);
        ASSERT_TRUE(configure->isEnabled());
        ASSERT_TRUE(dialing->isEnabled());

        uitest::whenModal(
            [](QWidget* dialog) {
                EXPECT_EQ(dialog->objectName(), kModemConfigDialogName);
                dialog->findChild<QComboBox*>("dialing")->setCurrentIndex(1);
                dialog->findChild<QComboBox*>("speakerMode")->setCurrentIndex(0);
                dialog->findChild<QLineEdit*>("extraSettings")->setText("&C1");
                uitest::saveScreenshot(dialog, "modem_configuration_dialog");
                static_cast<QDialog*>(dialog)->accept();
            },
            sheet);
        QTest::mouseClick(configure, Qt::LeftButton);
        const tapi::ModemDevConfig kept = keptConfig(*lines);
        EXPECT_EQ(kept.pulseDialing, 1u);
        EXPECT_EQ(kept.speakerMode, 0u);
        EXPECT_STREQ(kept.extraInit, "&C1");

        uitest::whenModal(
            [](QWidget* dialog) {
                dialog->findChild<QComboBox*>("speakerMode")->setCurrentIndex(2);
                static_cast<QDialog*>(dialog)->reject();
            },
            sheet);
        QTest::mouseClick(configure, Qt::LeftButton);
        EXPECT_EQ(keptConfig(*lines).speakerMode, 0u);

        uitest::whenModal(
            [&](QWidget* dialog) {
                EXPECT_EQ(dialog->objectName(), kDialingLocationDialogName);
                dialog->findChild<QLineEdit*>("outsideLine")->setText("9");
                dialledAs = dialog->findChild<QLabel*>("dialedAs")->text();
                uitest::saveScreenshot(dialog, "dialing_properties_dialog");
                static_cast<QDialog*>(dialog)->accept();
            },
            sheet);
        QTest::mouseClick(dialing, Qt::LeftButton);
        uitest::saveScreenshot(sheet, "options_sheet_telephony_line");
        QTest::mouseClick(UiControl<QPushButton>(sheet, IDOK), Qt::LeftButton);
    });
    frame->OnCommand(ID_OPTIONS_PAGE4);
    ASSERT_TRUE(sheetShown);
    EXPECT_EQ(dialledAs, "9,");
    EXPECT_STREQ(frame->LinkComms().TapiLine, "Line A");
    const DWORD lineA = 0;

    // Unattended, nobody is asked: the calls answer at once. (The line check
    // after the dialing properties let the page's copy of the configuration go;
    // the line keeps its own, as the call below shows.)
    bool shown = false;
    QTimer watch;  // closes any dialog that would wait for an answer
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            shown = true;
            modal->close();
        }
    });
    watch.start();
    UiSetUnattended(true);
    EXPECT_EQ(lines->PreConfigureDevice(frame, lineA), FALSE);
    EXPECT_EQ(lines->TranslateDialog(frame, lineA), FALSE);
    UiSetUnattended(false);
    watch.stop();
    EXPECT_FALSE(shown);

    // The next call: the modem is set up as chosen and dialled by pulse behind the prefix.
    platform::SerialPort callee;  // rings, never answers
    ASSERT_EQ(callee.open(modems.device("5550002")), DWORD(ERROR_SUCCESS));
    auto* modem = dynamic_cast<CModemConnection*>(frame->Connection());
    ASSERT_NE(modem, nullptr);
    ASSERT_EQ(modem->DialNumber("5550002"), 1);
    ASSERT_TRUE(pumpUntil([&] { return apptest::readAll(log).find("5550001 ATDP9,5550002") != std::string::npos; },
                          std::chrono::seconds(30))) << apptest::readAll(log);
    const std::string commands = apptest::readAll(log);
    const auto setup = commands.rfind("5550001 ATM0L1X4S7=50&C1");
    ASSERT_NE(setup, std::string::npos) << commands;
    EXPECT_LT(setup, commands.find("5550001 ATDP9,5550002"));

    modem->SetNotConnected();
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(30)));
    app.ExitInstance();
}

}  // namespace
