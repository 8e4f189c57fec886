// The telephony line's dialogs in the recorder program: the modem link of the
// program hands the setup pages its lines, their check and the line's
// configuration and dialing dialogs; what the user chose is what the modem
// gets on the next call. The line is a fake modem on a pseudo-terminal.

#include "common/kc_reg.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/modem_link.h"
#include "trennick/app/tests/app_test_support.h"
#include "trennick/serial/modem_connection.h"
#include "trennick/serial/tapi_binding.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/serial/telephony/line_dialogs.h"
#include "trennick/serial/tests/fake_modem_process.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
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
    comms.SetString(nullptr, "TapiLine", "Line A");
    const DWORD noWait = 0;
    comms.SetDword(nullptr, "MinTimeBetweenConnect", &noWait);

    apptest::AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/M", "/U43"}, "", apptest::quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    CTAPIConnection* lines = TelephonyLines(*frame->Connection());
    ASSERT_NE(lines, nullptr);
    const auto list = lines->FillTAPILine();
    ASSERT_FALSE(list.empty());
    ASSERT_EQ(list.front().name, "Line A");
    const DWORD lineA = list.front().deviceId;
    EXPECT_EQ(lines->VerifyAndWarn("Line A"), TRUE);
    uitest::Guard guard(60);

    // The configuration dialog: pulse dialing, speaker off, a further setting.
    uitest::whenModal([](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), velmoortapi::kModemConfigDialogName);
        dialog->findChild<QComboBox*>("dialing")->setCurrentIndex(1);
        dialog->findChild<QComboBox*>("speakerMode")->setCurrentIndex(0);
        dialog->findChild<QLineEdit*>("extraSettings")->setText("&C1");
        uitest::saveScreenshot(dialog, "modem_configuration_dialog");
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_EQ(lines->PreConfigureDevice(frame, lineA), TRUE);
    tapi::ModemDevConfig kept = keptConfig(*lines);
    EXPECT_EQ(kept.pulseDialing, 1u);
    EXPECT_EQ(kept.speakerMode, 0u);
    EXPECT_STREQ(kept.extraInit, "&C1");

    // A cancelled dialog changes nothing.
    uitest::whenModal([](QWidget* dialog) {
        dialog->findChild<QComboBox*>("speakerMode")->setCurrentIndex(2);
        static_cast<QDialog*>(dialog)->reject();
    });
    ASSERT_EQ(lines->PreConfigureDevice(frame, lineA), TRUE);
    EXPECT_EQ(keptConfig(*lines).speakerMode, 0u);

    // The dialing properties: an outside line, shown as the number would be dialled.
    QString dialledAs;
    uitest::whenModal([&](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), velmoortapi::kDialingLocationDialogName);
        dialog->findChild<QLineEdit*>("outsideLine")->setText("9");
        dialledAs = dialog->findChild<QLabel*>("dialedAs")->text();
        uitest::saveScreenshot(dialog, "dialing_properties_dialog");
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_EQ(lines->TranslateDialog(frame, lineA), TRUE);
    EXPECT_EQ(dialledAs, "9,");

    // Unattended, nobody is asked: the calls answer at once and keep what was chosen.
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
    EXPECT_EQ(keptConfig(*lines).pulseDialing, 1u);

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
