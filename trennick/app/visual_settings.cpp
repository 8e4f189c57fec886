#include "trennick/app/visual_settings.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/net/inet_connection.h"
#include "trennick/serial/tapi_connection.h"
#include "trennick/ui/line_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

namespace trennick {

namespace {

constexpr int kHelpId = 9;  // the Help button

QString latin(const char* text, std::size_t size) {
    return QString::fromLatin1(text, static_cast<int>(strnlen(text, size)));
}

std::string latin1(const QString& text) { return text.toLatin1().toStdString(); }

QCheckBox* check(QWidget* page, int id, const char* text) {
    return UiSetControlId(new QCheckBox(QString::fromLatin1(text), page), id);
}

QRadioButton* radio(QWidget* page, int id, const char* text) {
    return UiSetControlId(new QRadioButton(QString::fromLatin1(text), page), id);
}

QPushButton* pushButton(QWidget* page, int id, const char* text) {
    auto* b = UiSetControlId(new QPushButton(QString::fromLatin1(text), page), id);
    b->setAutoDefault(false);
    return b;
}

// An edit limited to the characters its record field holds.
QLineEdit* edit(QWidget* page, int id, int maxChars) {
    auto* e = UiSetControlId(new QLineEdit(page), id);
    e->setMaxLength(maxChars);
    return e;
}

}  // namespace

COptionsPage::COptionsPage(int templateId, QWidget* parent) : QWidget(parent), m_templateId(templateId) {
    setObjectName(QStringLiteral("page%1").arg(templateId));
}

// ---- CVisualSetup -----------------------------------------------------------

CVisualSetup::CVisualSetup(OptionsData& data, QWidget* parent) : COptionsPage(202, parent), m_data(data) {
    auto* column = new QVBoxLayout(this);
    m_c1083 = check(this, 1083, "Prompt before answering");
    m_c1272 = check(this, 1272, "Play the rings of an incoming call");
    m_c1237 = check(this, 1237, "Block calls");
    m_c1286 = check(this, 1286, "Show this station's information to the site");
    for (QCheckBox* box : {m_c1083, m_c1272, m_c1237, m_c1286}) column->addWidget(box);
    column->addStretch(1);
}

void CVisualSetup::OnInitDialog() {
    m_c1083->setChecked(m_data.comms.PromptBeforeAnswer_R != 0);
    m_c1272->setChecked(m_data.comms.PlayRings != 0);
    m_c1237->setChecked(m_data.comms.BlockCalls_R != 0);
    m_c1286->setChecked(m_data.stationByte != 0);
    m_c1237->hide();
    m_c1083->hide();
}

void CVisualSetup::OnDestroy() {
    m_data.comms.PromptBeforeAnswer_R = m_c1083->isChecked() ? 1 : 0;
    m_data.comms.PlayRings = m_c1272->isChecked() ? 1 : 0;
    m_data.comms.BlockCalls_R = m_c1237->isChecked() ? 1 : 0;
    m_data.stationByte = m_c1286->isChecked() ? 1 : 0;
}

// ---- CTAPISetup -------------------------------------------------------------

CTAPISetup::CTAPISetup(CommsRecord& comms, CTAPIConnection* tapi, Role role, QWidget* parent)
    : COptionsPage(role == Role::Options ? 356 : 159, parent), m_comms(comms), m_tapi(tapi), m_role(role) {
    auto* form = new QFormLayout(this);
    m_lines = UiSetControlId(new QComboBox(this), 349);
    form->addRow(QStringLiteral("Modem line:"), m_lines);
    auto* buttons = new QHBoxLayout;
    m_configure = pushButton(this, 3, "Configure...");
    m_dialing = pushButton(this, 1484, "Dialing properties...");
    buttons->addWidget(m_configure);
    buttons->addWidget(m_dialing);
    buttons->addStretch(1);
    form->addRow(buttons);
    m_rings = edit(this, 1264, 3);
    form->addRow(QStringLiteral("Rings before answering:"), m_rings);
    m_useInternet = check(this, 1001, "Use the Internet (TCP/IP) from the next start");
    form->addRow(m_useInternet);
    QObject::connect(m_lines, &QComboBox::currentIndexChanged, this, [this](int) { CheckLine(); });
    // The line's own dialogs: its modem configuration, and the dialing
    // properties (then the line is checked again). The telephony library shows
    // the program's dialogs, handed to it here.
    tapi::SetLineDialogs(&kLineDialogs);
    QObject::connect(m_configure, &QPushButton::clicked, this, [this] {
        if (m_tapi != nullptr) m_tapi->PreConfigureDevice(this, SelectedDevice());
    });
    QObject::connect(m_dialing, &QPushButton::clicked, this, [this] {
        if (m_tapi != nullptr) m_tapi->TranslateDialog(this, SelectedDevice());
        CheckLine();
    });
}

DWORD CTAPISetup::SelectedDevice() const {
    const QVariant device = m_lines->currentData();
    return device.isValid() ? device.toUInt() : kDirectLineDevice;
}

void CTAPISetup::OnInitDialog() {
    const char* source = m_role == Role::Options ? "Tapisetu" : "SetupWzd";
    m_rings->setText(QString::number(m_comms.RingsCount));
    m_useInternet->setChecked(m_comms.NetInUse != 0);
    const QString saved = latin(m_comms.ModemName, sizeof m_comms.ModemName);
    if (m_role == Role::Options) {
        LUMO_TRACE(5, "CTAPISetup::OnInitDialog()  m_Settings->ModemName=%s, %s, LINE %d", latin1(saved).c_str(), source,
                   __LINE__);
    } else if (saved.isEmpty()) {
        LUMO_TRACE(5, "CModemPage::OnInitDialog()  m_Settings->ModemName = NULL, %s, LINE %d", source, __LINE__);
    } else {
        LUMO_TRACE(5, "CModemPage::OnInitDialog()  m_Settings->ModemName = %s, %s, LINE %d", latin1(saved).c_str(),
                   source, __LINE__);
    }
    {
        const QSignalBlocker quiet(m_lines);
        m_lines->clear();
        if (m_tapi != nullptr) {
            for (const TapiLineEntry& line : m_tapi->FillTAPILine()) {
                m_lines->addItem(QString::fromLatin1(line.name.c_str()), QVariant::fromValue<uint>(line.deviceId));
            }
        }
        const int found = saved.isEmpty() ? -1 : m_lines->findText(saved);
        if (found < 0 && !saved.isEmpty()) {
            LUMO_TRACE(5, "%s  m_modemName.FindString() failed, %s, LINE %d",
                       m_role == Role::Options ? "CTAPISetup::::OnInitDialog()" : "CModemPage::OnInitDialog()", source,
                       __LINE__);
        }
        m_lines->setCurrentIndex(found);
    }
    CheckLine();
}

void CTAPISetup::CheckLine() {
    const std::string line = latin1(m_lines->currentText());
    if (m_tapi != nullptr) m_tapi->FreeDevConfig();
    const bool usable = m_tapi != nullptr && !line.empty() && m_tapi->VerifyAndWarn(line) != FALSE;
    m_configure->setEnabled(usable);
    m_dialing->setEnabled(usable);
}

bool CTAPISetup::Validate(const OptionsHooks& hooks) {
    bool ok = false;
    const uint value = m_rings->text().trimmed().toUInt(&ok);
    if (ok && value >= kRingsMin && value <= kRingsMax) return true;
    if (hooks.complain) hooks.complain(kRingsRangeText);
    m_rings->setFocus();
    m_rings->selectAll();
    return false;
}

void CTAPISetup::OnDestroy() {
    // The chosen line is the line the modem link calls on. With none chosen
    // (the saved line is missing from the list while its modem is unplugged)
    // the saved one stays: emptying it would leave the station unable to call
    // or listen once the modem is back.
    if (m_lines->currentIndex() >= 0) {
        const std::string line = latin1(m_lines->currentText());
        fixed_text::Write(m_comms.ModemName, sizeof m_comms.ModemName, line);
        fixed_text::Write(m_comms.TapiLine, sizeof m_comms.TapiLine, line);
    }
    bool ok = false;
    const uint rings = m_rings->text().trimmed().toUInt(&ok);
    if (ok && rings >= kRingsMin && rings <= kRingsMax) m_comms.RingsCount = rings;
    m_comms.NetInUse = m_useInternet->isChecked() ? 1 : 0;
    if (m_role == Role::Options) {
        LUMO_TRACE(5, "CTAPISetup::OnDestroy()   m_Settings->ModemName=%s, UseInternet=%ld, %s, LINE %d",
                   m_comms.ModemName, static_cast<long>(m_comms.NetInUse), "Tapisetu", __LINE__);
    }
}

// ---- CTCPSetup --------------------------------------------------------------

CTCPSetup::CTCPSetup(CommsRecord& comms, CInetConnection* inet, QWidget* parent)
    : COptionsPage(357, parent), m_comms(comms), m_inet(inet) {
    auto* column = new QVBoxLayout(this);
    m_lan = radio(this, 1002, "Local network");
    m_dialUp = radio(this, 1003, "Dial-up connection");
    column->addWidget(m_lan);
    column->addWidget(m_dialUp);
    auto* form = new QFormLayout;
    m_entries = UiSetControlId(new QComboBox(this), 1008);
    form->addRow(QStringLiteral("Connection:"), m_entries);
    // The record keeps 128 characters of each (with the terminating zero).
    m_user = edit(this, 1004, static_cast<int>(sizeof m_comms.DialUpUser) - 1);
    m_password = edit(this, 1005, static_cast<int>(sizeof m_comms.DialUpPassword) - 1);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("User name:"), m_user);
    form->addRow(QStringLiteral("Password:"), m_password);
    column->addLayout(form);
    auto* buttons = new QHBoxLayout;
    m_newEntry = pushButton(this, 1007, "New...");
    m_editEntry = pushButton(this, 1006, "Edit...");
    buttons->addWidget(m_newEntry);
    buttons->addWidget(m_editEntry);
    buttons->addStretch(1);
    column->addLayout(buttons);
    auto* group = new QGroupBox(this);
    auto* groupColumn = new QVBoxLayout(group);
    m_r1043 = radio(group, 1043, "Call the address the dial-up connection gives");
    m_r1044 = radio(group, 1044, "Call the address typed");
    groupColumn->addWidget(m_r1043);
    groupColumn->addWidget(m_r1044);
    column->addWidget(group);
    m_noInternet = check(this, 1010, "Use the modem from the next start");
    column->addWidget(m_noInternet);
    column->addStretch(1);
    QObject::connect(m_lan, &QRadioButton::toggled, this, [this](bool on) {
        if (on) enableDialUp(false);
    });
    QObject::connect(m_dialUp, &QRadioButton::toggled, this, [this](bool on) {
        if (on) enableDialUp(true);
    });
    QObject::connect(m_entries, &QComboBox::currentIndexChanged, this, [this](int) { readEntry(); });
    QObject::connect(m_newEntry, &QPushButton::clicked, this, [this] {
        if (m_inet != nullptr) m_inet->CreateDialUpEntry();
        fillEntries();
    });
    QObject::connect(m_editEntry, &QPushButton::clicked, this, [this] {
        const std::string entry = latin1(m_entries->currentText());
        if (m_inet != nullptr && !entry.empty()) m_inet->EditDialUpEntry(entry.c_str());
    });
}

void CTCPSetup::enableDialUp(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(m_entries), static_cast<QWidget*>(m_user),
                       static_cast<QWidget*>(m_password), static_cast<QWidget*>(m_newEntry),
                       static_cast<QWidget*>(m_editEntry), static_cast<QWidget*>(m_r1043),
                       static_cast<QWidget*>(m_r1044)}) {
        w->setEnabled(on);
    }
}

void CTCPSetup::OnInitDialog() {
    m_noInternet->setChecked(m_comms.NetInUse == 0);
    const bool dialUpFunctions = m_inet != nullptr && m_inet->IsDialUpLinked();
    m_dialUp->setEnabled(dialUpFunctions);
    const bool dialUp = dialUpFunctions && m_comms.UseDialUp != 0;
    (dialUp ? m_dialUp : m_lan)->setChecked(true);
    enableDialUp(dialUp);
    (m_comms.UseServerIp != 0 ? m_r1043 : m_r1044)->setChecked(true);
    m_user->setText(latin(m_comms.DialUpUser, sizeof m_comms.DialUpUser));
    m_password->setText(latin(m_comms.DialUpPassword, sizeof m_comms.DialUpPassword));
    fillEntries();
}

void CTCPSetup::fillEntries() {
    std::vector<std::string> names;
    if (m_inet != nullptr && m_inet->IsDialUpLinked()) m_inet->FillDialUpEntries(names);
    const QSignalBlocker quiet(m_entries);
    m_entries->clear();
    for (const std::string& name : names) m_entries->addItem(QString::fromLatin1(name.c_str()));
    const QString saved = latin(m_comms.PhoneBookName, sizeof m_comms.PhoneBookName);
    const int found = saved.isEmpty() ? -1 : m_entries->findText(saved);
    if (found < 0 && !saved.isEmpty()) {
        LUMO_TRACE(5, "CTCPSetup::FillDialUpPhoneBookEntries()  m_DialUpPhoneBook.FindString() failed, %s, LINE %d",
                   "tcpsetup", __LINE__);
    }
    m_entries->setCurrentIndex(found >= 0 ? found : (m_entries->count() > 0 ? 0 : -1));
    readEntry();
    m_newEntry->setEnabled(m_dialUp->isChecked());
    m_editEntry->setEnabled(m_dialUp->isChecked());
}

void CTCPSetup::readEntry() {
    const std::string entry = latin1(m_entries->currentText());
    if (entry.empty() || m_inet == nullptr) return;
    std::string user, password;
    if (!m_inet->GetDialUpEntryParams(entry.c_str(), user, password)) {
        user.clear();
        password.clear();
    }
    m_user->setText(QString::fromLatin1(user.c_str()));
    m_password->setText(QString::fromLatin1(password.c_str()));
}

void CTCPSetup::OnDestroy() {
    const std::string entry = latin1(m_entries->currentText());
    if (!entry.empty()) fixed_text::Write(m_comms.PhoneBookName, sizeof m_comms.PhoneBookName, entry);
    m_comms.NetInUse = m_noInternet->isChecked() ? 0 : 1;
    const std::string user = latin1(m_user->text());
    const std::string password = latin1(m_password->text());
    fixed_text::Write(m_comms.DialUpUser, sizeof m_comms.DialUpUser, user);
    fixed_text::Write(m_comms.DialUpPassword, sizeof m_comms.DialUpPassword, password);
    m_comms.UseDialUp = m_dialUp->isChecked() ? 1 : 0;
    if (m_comms.UseDialUp != 0 && m_inet != nullptr && !entry.empty()) {
        m_inet->SetDialUpEntryParams(entry.c_str(), m_comms.DialUpUser, m_comms.DialUpPassword);
    }
    m_comms.UseServerIp = m_r1043->isChecked() ? 1 : 0;
    LUMO_TRACE(5,
               "CTCPSetup::OnApply()   m_Settings->DialUpUser=%s, m_Settings->UseInternet=%ld, "
               "m_Settings->InetPhoneBookName=%s, m_Settings->UseDialUp=%ld",
               m_comms.DialUpUser, static_cast<long>(m_comms.NetInUse), m_comms.PhoneBookName,
               static_cast<long>(m_comms.UseDialUp));
}

// ---- CRemotePage ------------------------------------------------------------

CRemotePage::CRemotePage(RemotePageData& data, QWidget* parent) : COptionsPage(163, parent), m_data(data) {
    auto* column = new QVBoxLayout(this);
    auto* grid = new QFormLayout;
    auto sizeRow = [this, grid](int labelId, const char* label, int editId, int spinId, int low, int high,
                                QLineEdit*& value, QSpinBox*& spin, QWidget*& labelWidget) {
        value = edit(this, editId, 5);
        value->setValidator(new QIntValidator(0, 65535, value));
        spin = UiSetControlId(new QSpinBox(this), spinId);
        spin->setRange(low, high);
        spin->setSingleStep(1);
        spin->setAccelerated(true);
        spin->setFixedWidth(18);
        // Only the spin is bounded: its steps write the edit, a typed value stays as typed.
        QObject::connect(spin, &QSpinBox::valueChanged, value, [value](int v) { value->setText(QString::number(v)); });
        auto* row = new QHBoxLayout;
        row->addWidget(value);
        row->addWidget(spin);
        labelWidget = UiSetControlId(new QLabel(QString::fromLatin1(label), this), labelId);
        grid->addRow(labelWidget, row);
    };
    sizeRow(1171, "Picture width:", 1035, 1273, 80, 176, m_width, m_s1273, m_l1171);
    sizeRow(1170, "Picture height:", 1100, 1274, 60, 144, m_height, m_s1274, m_l1170);
    column->addLayout(grid);
    m_c1238 = check(this, 1238, "Black and white picture");
    m_c1237 = check(this, 1237, "256-colour palette");
    m_c1239 = check(this, 1239, "Start with a still");
    for (QCheckBox* box : {m_c1238, m_c1237, m_c1239}) column->addWidget(box);
    column->addStretch(1);
    // Disabled as the template has them until the record allows editing.
    for (QWidget* w : {static_cast<QWidget*>(m_width), static_cast<QWidget*>(m_height), m_l1171, m_l1170,
                       static_cast<QWidget*>(m_s1273), static_cast<QWidget*>(m_s1274)}) {
        w->setEnabled(false);
    }
}

void CRemotePage::OnInitDialog() {
    m_width->setText(QString::number(m_data.width));
    m_height->setText(QString::number(m_data.height));
    {
        const QSignalBlocker quietWidth(m_s1273);
        const QSignalBlocker quietHeight(m_s1274);
        m_s1273->setValue(static_cast<int>(m_data.width & 0xFFFF));
        m_s1274->setValue(static_cast<int>(m_data.height & 0xFFFF));
    }
    m_c1239->setChecked(m_data.option1239 != 0);
    m_c1237->setChecked(m_data.option1237 != 0);
    m_c1238->setChecked(m_data.option1238 != 0);
    if (m_data.editFlag != 0) {
        for (QWidget* w : {static_cast<QWidget*>(m_width), static_cast<QWidget*>(m_height), m_l1171, m_l1170,
                           static_cast<QWidget*>(m_s1273), static_cast<QWidget*>(m_s1274)}) {
            w->setEnabled(true);
        }
    }
    m_c1239->hide();
    m_c1237->hide();
}

void CRemotePage::OnDestroy() {
    bool ok = false;
    const uint width = m_width->text().toUInt(&ok);
    if (ok) m_data.width = width;
    const uint height = m_height->text().toUInt(&ok);
    if (ok) m_data.height = height;
    m_data.option1237 = m_c1237->isChecked() ? 1 : 0;
    m_data.option1238 = m_c1238->isChecked() ? 1 : 0;
    m_data.option1239 = m_c1239->isChecked() ? 1 : 0;
}

// ---- CKivSetup --------------------------------------------------------------

CKivSetup::CKivSetup(StorageRecord& storage, QWidget* parent) : COptionsPage(330, parent), m_storage(storage) {
    auto* column = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    // Room is left for the separator the folder gets when it is stored.
    m_folder = edit(this, 344, static_cast<int>(sizeof m_storage.folder) - 2);
    QPushButton* choose = pushButton(this, 1076, "Choose Folder");
    row->addWidget(new QLabel(QStringLiteral("Recordings folder:"), this));
    row->addWidget(m_folder, 1);
    row->addWidget(choose);
    column->addLayout(row);
    m_c1247 = check(this, 1247, "Keep the recordings of each station apart");
    m_c1081 = check(this, 1081, "Delete the oldest recordings when the disk is full");
    column->addWidget(m_c1247);
    column->addWidget(m_c1081);
    auto* group = new QGroupBox(QStringLiteral("A received event"), this);
    auto* groupColumn = new QVBoxLayout(group);
    const char* texts[3] = {"is opened", "is kept", "asks what to do"};
    for (int i = 0; i < 3; ++i) {
        m_choice[i] = radio(group, 1243 + i, texts[i]);
        groupColumn->addWidget(m_choice[i]);
    }
    column->addWidget(group);
    column->addStretch(1);
    QObject::connect(choose, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Choose Folder"), m_folder->text());
        if (!folder.isEmpty()) m_folder->setText(folder);
    });
}

void CKivSetup::OnInitDialog() {
    m_c1247->setChecked(m_storage.check1247 != 0);
    m_c1081->setChecked(m_storage.check1081 != 0);
    m_choice[m_storage.choice <= 2 ? m_storage.choice : 0]->setChecked(true);
    m_folder->setText(latin(m_storage.folder, sizeof m_storage.folder));
}

std::string CKivSetup::StoredFolder(const std::string& typed) {
    // An empty folder stays empty (the caller keeps its folder): a lone
    // separator would make the root of the disk the storage.
    if (typed.empty()) return typed;
    if (typed.back() == '/' || typed.back() == '\\') return typed;
    return typed + '/';
}

void CKivSetup::OnDestroy() {
    const std::string folder = StoredFolder(latin1(m_folder->text().trimmed()));
    fixed_text::Write(m_storage.folder, sizeof m_storage.folder, folder);
    m_storage.check1081 = m_c1081->isChecked() ? 1 : 0;
    m_storage.check1247 = m_c1247->isChecked() ? 1 : 0;
    for (BYTE i = 0; i < 3; ++i) {
        if (m_choice[i]->isChecked()) m_storage.choice = i;
    }
}

// ---- CVisualSettings --------------------------------------------------------

CVisualSettings::CVisualSettings(const std::string& caption, QWidget* parent, int firstPage, bool useTcp)
    : QDialog(parent), m_useTcp(useTcp), m_firstPage(firstPage) {
    setObjectName(QStringLiteral("CVisualSettings"));
    setWindowTitle(QString::fromLatin1(caption.c_str()));
    auto* column = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    column->addWidget(m_pages);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton* ok = pushButton(this, IDOK, "OK");
    QPushButton* cancel = pushButton(this, IDCANCEL, "Cancel");
    QPushButton* help = pushButton(this, kHelpId, "Help");
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addWidget(help);
    column->addLayout(row);
    QObject::connect(ok, &QPushButton::clicked, this, [this] { onOk(); });
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
    QObject::connect(help, &QPushButton::clicked, this, [this] {
        if (m_hooks.help) m_hooks.help();
    });
}

CVisualSettings::~CVisualSettings() { LUMO_TRACE(5, "CVisualSettings::~CVisualSettings()"); }

void CVisualSettings::SetData(OptionsData& data, const OptionsLinks& links, const OptionsHooks& hooks) {
    m_hooks = hooks;
    while (m_pages->count() > 0) delete m_pages->widget(0);
    m_pages->addTab(new CVisualSetup(data, m_pages), QStringLiteral("Display"));
    if (m_useTcp) {
        m_pages->addTab(new CTCPSetup(data.comms, links.inet, m_pages), QStringLiteral("TCP/IP"));
    } else {
        m_pages->addTab(new CTAPISetup(data.comms, links.tapi, CTAPISetup::Role::Options, m_pages),
                        QStringLiteral("Modem"));
    }
    m_pages->addTab(new CRemotePage(data.remote, m_pages), QStringLiteral("Remote"));
    m_pages->addTab(new CKivSetup(data.storage, m_pages), QStringLiteral("Storage"));
    for (int i = 0; i < m_pages->count(); ++i) Page(i)->OnInitDialog();
    m_pages->setCurrentIndex(std::clamp(m_firstPage, 0, m_pages->count() - 1));
}

COptionsPage* CVisualSettings::Page(int index) const { return static_cast<COptionsPage*>(m_pages->widget(index)); }

int CVisualSettings::DoModal() {
    if (UiUnattended()) {
        LUMO_TRACE(3, "CVisualSettings: nobody can answer the options sheet; nothing changed");
        return IDCANCEL;
    }
    const int result = exec();
    return result == IDOK ? IDOK : IDCANCEL;
}

void CVisualSettings::onOk() {
    for (int i = 0; i < m_pages->count(); ++i) {
        if (!Page(i)->Validate(m_hooks)) {
            m_pages->setCurrentIndex(i);
            return;
        }
    }
    for (int i = 0; i < m_pages->count(); ++i) Page(i)->OnDestroy();
    done(IDOK);
}

void CVisualSettings::keyPressEvent(QKeyEvent* event) {
    // Enter does not close the sheet.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace trennick
