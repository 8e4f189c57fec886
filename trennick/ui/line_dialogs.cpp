#include "trennick/ui/line_dialogs.h"

#include "tavicore/ui/ui_window.h"
#include "telephony/modem_config.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstring>

namespace trennick {

using telephony::LineDialogResult;
using telephony::ModemDevConfig;

namespace {

bool somebodyCanAnswer() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr && !UiUnattended();
}

QDialogButtonBox* okCancel(QDialog& dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

LineDialogResult EditModemConfig(void* owner, const std::string& lineName, ModemDevConfig& config) {
    if (!somebodyCanAnswer()) return LineDialogResult::NobodyToAsk;
    QDialog dialog(static_cast<QWidget*>(owner));
    dialog.setObjectName(kModemConfigDialogName);
    dialog.setWindowTitle(QString::fromStdString(lineName) + QStringLiteral(" Properties"));
    auto* form = new QFormLayout;

    auto* speed = new QComboBox(&dialog);
    speed->setObjectName("speed");
    for (DWORD b : telephony::kModemBauds) speed->addItem(QString::number(b), QVariant::fromValue<uint>(b));
    speed->setCurrentIndex(speed->findData(QVariant::fromValue<uint>(config.baudRate)));
    form->addRow(QStringLiteral("Maximum speed:"), speed);

    auto* dialing = new QComboBox(&dialog);
    dialing->setObjectName("dialing");
    dialing->addItems({QStringLiteral("Tone"), QStringLiteral("Pulse")});
    dialing->setCurrentIndex(config.pulseDialing ? 1 : 0);
    form->addRow(QStringLiteral("Dialing:"), dialing);

    auto* waitTone = new QCheckBox(QStringLiteral("Wait for dial tone before dialing"), &dialog);
    waitTone->setObjectName("waitForDialTone");
    waitTone->setChecked(config.waitForDialTone != 0);
    form->addRow(waitTone);

    auto* speaker = new QComboBox(&dialog);
    speaker->setObjectName("speakerMode");
    speaker->addItems({QStringLiteral("Off"), QStringLiteral("On until connected"), QStringLiteral("Always on")});
    speaker->setCurrentIndex(static_cast<int>(config.speakerMode));
    form->addRow(QStringLiteral("Speaker:"), speaker);

    auto* volume = new QSpinBox(&dialog);
    volume->setObjectName("speakerVolume");
    volume->setRange(0, 3);
    volume->setValue(static_cast<int>(config.speakerVolume));
    form->addRow(QStringLiteral("Speaker volume:"), volume);

    auto* setup = new QSpinBox(&dialog);
    setup->setObjectName("callSetupSeconds");
    setup->setRange(1, 255);
    setup->setSuffix(QStringLiteral(" s"));
    setup->setValue(static_cast<int>(config.callSetupSeconds));
    form->addRow(QStringLiteral("Cancel the call if not connected within:"), setup);

    auto* extra = new QLineEdit(&dialog);
    extra->setObjectName("extraSettings");
    extra->setMaxLength(static_cast<int>(sizeof config.extraInit) - 1);
    // What an AT command may carry after "AT": no line end, no escape character.
    extra->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[ -*,-~]*")), extra));
    extra->setText(QString::fromLatin1(config.extraInit, static_cast<int>(strnlen(config.extraInit, sizeof config.extraInit))));
    form->addRow(QStringLiteral("Extra settings:"), extra);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted) return LineDialogResult::Cancelled;

    ModemDevConfig edited = config;
    edited.baudRate = speed->currentData().toUInt();
    edited.pulseDialing = dialing->currentIndex() == 1 ? 1 : 0;
    edited.waitForDialTone = waitTone->isChecked() ? 1 : 0;
    edited.speakerMode = static_cast<DWORD>(std::max(0, speaker->currentIndex()));
    edited.speakerVolume = static_cast<DWORD>(volume->value());
    edited.callSetupSeconds = static_cast<DWORD>(setup->value());
    std::memset(edited.extraInit, 0, sizeof edited.extraInit);
    const QByteArray text = extra->text().toLatin1().left(static_cast<int>(sizeof edited.extraInit) - 1);
    std::memcpy(edited.extraInit, text.constData(), static_cast<std::size_t>(text.size()));
    if (!telephony::ModemConfigValid(edited)) return LineDialogResult::Cancelled;
    config = edited;
    return LineDialogResult::Accepted;
}

LineDialogResult EditDialingLocation(void* owner, const std::string& sampleNumber,
                                     telephony::DialingLocation& location) {
    if (!somebodyCanAnswer()) return LineDialogResult::NobodyToAsk;
    QDialog dialog(static_cast<QWidget*>(owner));
    dialog.setObjectName(kDialingLocationDialogName);
    dialog.setWindowTitle(QStringLiteral("Dialing Properties"));
    auto* form = new QFormLayout;
    const auto dialField = [&](const char* name, const std::string& text) {
        auto* edit = new QLineEdit(QString::fromStdString(text), &dialog);
        edit->setObjectName(name);
        edit->setMaxLength(16);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9*#,]*")), edit));
        return edit;
    };
    QLineEdit* outside = dialField("outsideLine", location.outsideLine);
    form->addRow(QStringLiteral("To access an outside line, dial:"), outside);
    QLineEdit* waiting = dialField("disableCallWaiting", location.disableCallWaiting);
    form->addRow(QStringLiteral("To disable call waiting, dial:"), waiting);
    auto* preview = new QLabel(&dialog);
    preview->setObjectName("dialedAs");
    form->addRow(QStringLiteral("Number dialed:"), preview);
    const auto current = [&] {
        return telephony::DialingLocation{outside->text().toStdString(), waiting->text().toStdString()};
    };
    const auto showPreview = [&] {
        preview->setText(QString::fromStdString(telephony::TranslateNumber(current(), sampleNumber)));
    };
    QObject::connect(outside, &QLineEdit::textChanged, &dialog, showPreview);
    QObject::connect(waiting, &QLineEdit::textChanged, &dialog, showPreview);
    showPreview();

    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted) return LineDialogResult::Cancelled;
    const telephony::DialingLocation edited = current();
    if (!telephony::DialingLocationValid(edited)) return LineDialogResult::Cancelled;
    location = edited;
    return LineDialogResult::Accepted;
}

}  // namespace trennick
