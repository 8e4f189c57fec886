#include "trennick/ui/about_dlg.h"

#include "common/fixed_text.h"
#include "common/product_registry.h"
#include "platform/registry.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/image/image_wnd.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

namespace {

std::string readText(platform::HKEY key, const char* name) {
    char text[256] = {};
    DWORD bytes = sizeof text - 1;
    DWORD type = 0;
    if (platform::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
            ERROR_SUCCESS ||
        type != platform::REG_SZ) {
        return {};
    }
    return fixed_text::Read(text, sizeof text - 1);
}

void copyField(char* field, std::size_t size, const QString& text) {
    std::memset(field, 0, size);
    const QByteArray bytes = text.toLatin1();
    std::memcpy(field, bytes.constData(), std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), size - 1));
}

QString fieldText(const char* field, std::size_t size) {
    return QString::fromLatin1(field, static_cast<int>(strnlen(field, size)));
}

}  // namespace

RegistrationValues ReadRegistrationValues() {
    RegistrationValues values;
    platform::HKEY key = 0;
    // The installation writes them under the first instance's key, machine-wide.
    const std::string path = InstanceKeyPath(product_registry::kFirstInstance, "");
    if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, path.c_str(), 0, platform::KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return values;
    }
    values.keyOpened = true;
    values.userName = readText(key, "UserName");
    values.companyName = readText(key, "CompanyName");
    platform::RegCloseKey(key);
    return values;
}

// ---------------------------------------------------------------------------

CAboutDlg::CAboutDlg(CAboutSource* source, platform::HWND mainWindow, QWidget* parent)
    : QDialog(parent), m_mainWindow(mainWindow) {
    setWindowTitle(UiDialogText(kDialogId, 0, "About"));
    const RegistrationValues registration = ReadRegistrationValues();
    const auto orUnknown = [](const std::string& text) {
        return text.empty() ? QStringLiteral("Unknown") : QString::fromLatin1(text.c_str()).left(255);
    };
    auto* grid = new QGridLayout(this);
    auto* picture = UiSetControlId(new QLabel(this), 1472);
    m_image = new CImageWnd(160, 120, this);
    m_image->setFixedSize(160, 120);
    grid->addWidget(m_image, 0, 0, 5, 1, Qt::AlignTop);
    auto* title = UiSetControlId(
        new QLabel(QString::fromStdString(UiString(10000, "Velmoor") + " " + UiString(kVersionStringId)).left(255),
                   this),
        336);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    grid->addWidget(title, 0, 1, 1, 2);
    grid->addWidget(UiSetControlId(new QLabel(QString::fromStdString(UiString(57347)), this), 337), 1, 1, 1, 2);
    grid->addWidget(new QLabel(UiDialogText(kDialogId, 1000, "Registered to:"), this), 2, 1);
    grid->addWidget(UiSetControlId(new QLabel(orUnknown(registration.userName), this), 1093), 2, 2);
    grid->addWidget(new QLabel(UiDialogText(kDialogId, 1001, "Company:"), this), 3, 1);
    grid->addWidget(UiSetControlId(new QLabel(orUnknown(registration.companyName), this), 1184), 3, 2);
    grid->addWidget(picture, 4, 1);
    auto* button = UiSetControlId(new QPushButton(UiDialogText(kDialogId, 1002, "Registration..."), this), 1002);
    button->setAutoDefault(false);
    button->setEnabled(source != nullptr && source->QueryButtonEnabled() != 0);
    connect(button, &QPushButton::clicked, this,
            [this] { platform::SendMessage(m_mainWindow, WM_COMMAND, kCmdButton, 0); });
    auto* ok = UiSetControlId(new QPushButton(UiDialogText(kDialogId, IDOK, "OK"), this), IDOK);
    connect(ok, &QPushButton::clicked, this, [this] { done(IDOK); });
    grid->addWidget(button, 5, 1);
    grid->addWidget(ok, 5, 2, Qt::AlignRight);
    if (source != nullptr) {
        source->FillImage(*m_image);
    }
}

// ---------------------------------------------------------------------------

CIdentifyPage::CIdentifyPage(tagIdentityRecord* record, CUUIDdb& identity, QWidget* parent)
    : QWidget(parent), m_record(record), m_identity(identity) {
    setWindowTitle(UiDialogText(kTemplateId, 0, "Identity"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(UiDialogText(kTemplateId, 353, "Station name:"), this), 0, 0);
    m_name = UiSetControlId(new QLineEdit(this), 353);
    m_name->setMaxLength(kNameChars);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(new QLabel(UiDialogText(kTemplateId, 1193, "Phone number:"), this), 1, 0);
    m_phone = UiSetControlId(new QLineEdit(this), 1193);
    m_phone->setMaxLength(kPhoneChars);
    grid->addWidget(m_phone, 1, 1);
    grid->addWidget(new QLabel(UiDialogText(kTemplateId, 1088, "Description:"), this), 2, 0, Qt::AlignTop);
    m_description = UiSetControlId(new QPlainTextEdit(this), 1088);
    grid->addWidget(m_description, 2, 1);
}

void CIdentifyPage::giveDefaults() {
    if (m_name->text().isEmpty()) {
        m_name->setText("Anonymous");
    }
    if (m_phone->text().isEmpty()) {
        m_phone->setText(" ");
    }
    if (m_description->toPlainText().isEmpty()) {
        m_description->setPlainText(" ");
    }
}

void CIdentifyPage::OnInitDialog() {
    QString name = "Anonymous";
    QString phone = " ";
    QString description = " ";
    const RegistrationValues registration = ReadRegistrationValues();
    char key[256] = {};
    tagSiteInfo info{};
    if (m_record != nullptr && m_record->name[0] != '\0') {
        name = fieldText(m_record->name, sizeof m_record->name);
        phone = fieldText(m_record->phone, sizeof m_record->phone);
        description = fieldText(m_record->description, sizeof m_record->description);
    } else if (m_identity.dbGUIDThisReadKey(key, sizeof key) != 0 && m_identity.dbGUIDThisReadInfo(&info) != 0) {
        name = fieldText(info.name, sizeof info.name);
        phone = fieldText(info.phone, sizeof info.phone);
        description = registration.companyName.empty() ? QStringLiteral(" ")
                                                        : QString::fromLatin1(registration.companyName.c_str());
    } else {
        name = registration.userName.empty() ? QStringLiteral("Anonymous")
                                             : QString::fromLatin1(registration.userName.c_str());
        description = QString::fromLatin1(registration.companyName.c_str());
    }
    m_name->setText(name.left(kNameChars));
    m_phone->setText(phone.left(kPhoneChars));
    m_description->setPlainText(description.left(kDescriptionChars));
    giveDefaults();
    m_shownName = m_name->text();
    m_shownPhone = m_phone->text();
}

void CIdentifyPage::OnClose() {
    giveDefaults();
    if (m_record == nullptr) {
        return;
    }
    copyField(m_record->name, sizeof m_record->name, m_name->text());
    copyField(m_record->phone, sizeof m_record->phone, m_phone->text());
    copyField(m_record->description, sizeof m_record->description,
              m_description->toPlainText().left(kDescriptionChars));
}

bool CIdentifyPage::OnApply() {
    giveDefaults();
    if (m_name->text() != m_shownName || m_phone->text() != m_shownPhone) {
        if (UiMessageBox(this, UiString(kStrNewIdentityQuestion), UiString(10000, "Velmoor"),
                         MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
            char key[256] = {};
            if (m_identity.dbGUIDCreateKey(key, sizeof key) != 0) {
                m_identity.dbGUIDThisWriteKey(key);
            }
        }
    }
    return true;
}
