#include "trennick/app/setup_wizard.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/registry.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/ui_window.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

namespace trennick {

namespace {

// The texts an identity has before anybody named it.
constexpr const char* kIdentityDefaultName = "Anonymous";
constexpr const char* kIdentityDefaultPhone = "Unknown";
// Where the installation keeps the user's and the company's names.
constexpr const char* kInstallationKey = "Software\\Quennel\\Velmoor\\1.000.0";
constexpr int kNameChars = 60, kPhoneChars = 28, kTextChars = 512;

std::string latin1(const QString& text) { return text.toLatin1().toStdString(); }

// A text value of the open key; empty when it is missing or not a text.
std::string installationText(platform::HKEY key, const char* name) {
    char text[512] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (platform::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != 0 ||
        type != platform::REG_SZ) {
        return {};
    }
    return fixed_text::Read(text, sizeof text);
}

QPushButton* wizardButton(QWidget* parent, int id, const char* text) {
    auto* b = UiSetControlId(new QPushButton(QString::fromLatin1(text), parent), id);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

CWelPage::CWelPage(QWidget* parent) : COptionsPage(144, parent) {
    auto* column = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("This wizard sets up the station: the modem line it calls on, when it "
                                           "works over a phone line, and the card it shows to the sites it calls."),
                            this);
    text->setWordWrap(true);
    column->addWidget(text);
    column->addStretch(1);
}

CCardPageWz::CCardPageWz(WizardCard& card, QWidget* parent) : COptionsPage(238, parent), m_card(card) {
    auto* form = new QFormLayout(this);
    auto edit = [this](int id, int maxChars) {
        auto* e = UiSetControlId(new QLineEdit(this), id);
        e->setMaxLength(maxChars);
        return e;
    };
    m_name = edit(353, kNameChars);
    m_phone = edit(1193, kPhoneChars);
    // The card's text field keeps 511 characters and its terminating zero.
    m_text = edit(1088, std::min<int>(kTextChars, sizeof m_card.card.text3 - 1));
    m_check = UiSetControlId(new QCheckBox(QStringLiteral("Show this station's information to the site"), this), 1250);
    form->addRow(QStringLiteral("Station name:"), m_name);
    form->addRow(QStringLiteral("Phone number:"), m_phone);
    form->addRow(QStringLiteral("Details:"), m_text);
    form->addRow(m_check);
}

CCardPageWz::Proposal CCardPageWz::Propose() {
    Proposal p;
    platform::HKEY key = 0;
    const bool installation =
        platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kInstallationKey, 0, platform::KEY_READ, &key) == 0;
    std::string user, company;
    if (installation) {
        user = installationText(key, "UserName");
        company = installationText(key, "CompanyName");
        platform::RegCloseKey(key);
        if (user.empty()) user = " ";
        if (company.empty()) company = " ";
    }
    CUUIDdb ids;
    char guid[kGuidTextBytes] = {};
    tagSiteInfo info{};
    if (ids.dbGUIDThisReadKey(guid, sizeof guid) && ids.dbGUIDThisReadInfo(&info)) {
        p.name = fixed_text::Read(info.name, sizeof info.name);
        p.phone = fixed_text::Read(info.phone, sizeof info.phone);
    }
    // The identity is made at the first start before anybody named it: the
    // installation's user name stands in for its placeholder then.
    if (p.name.empty() || p.name == kIdentityDefaultName) p.name = user;
    if (p.phone == kIdentityDefaultPhone) p.phone.clear();
    p.text = company;
    return p;
}

void CCardPageWz::OnInitDialog() {
    const tagBusinessCard& card = m_card.card;
    if (card.name[0] != '\0') {
        m_name->setText(QString::fromLatin1(fixed_text::Read(card.name, sizeof card.name).c_str()));
        m_phone->setText(QString::fromLatin1(fixed_text::Read(card.text2, sizeof card.text2).c_str()));
        m_text->setText(QString::fromLatin1(fixed_text::Read(card.text3, sizeof card.text3).c_str()));
    } else {
        const Proposal p = Propose();
        m_name->setText(QString::fromLatin1(p.name.c_str()));
        m_phone->setText(QString::fromLatin1(p.phone.c_str()));
        m_text->setText(QString::fromLatin1(p.text.c_str()));
    }
    m_check->setChecked(m_card.flag1250 != 0);
}

void CCardPageWz::OnDestroy() {
    tagBusinessCard& card = m_card.card;
    fixed_text::Write(card.name, sizeof card.name, latin1(m_name->text()));
    fixed_text::Write(card.text2, sizeof card.text2, latin1(m_phone->text()));
    fixed_text::Write(card.text3, sizeof card.text3, latin1(m_text->text()));
    m_card.flag1250 = m_check->isChecked() ? 1 : 0;
}

CSetupWizard::CSetupWizard(const std::string& caption, QWidget* parent, int firstPage, bool useTcp)
    : QDialog(parent), m_useTcp(useTcp), m_firstPage(firstPage) {
    setObjectName(QStringLiteral("CSetupWizard"));
    setWindowTitle(QString::fromLatin1(caption.c_str()));
    auto* column = new QVBoxLayout(this);
    m_stack = new QStackedWidget(this);
    column->addWidget(m_stack, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    m_back = wizardButton(this, kWizBackId, "< Back");
    m_next = wizardButton(this, kWizNextId, "Next >");
    m_finish = wizardButton(this, kWizFinishId, "Finish");
    QPushButton* cancel = wizardButton(this, IDCANCEL, "Cancel");
    QPushButton* help = wizardButton(this, kWizHelpId, "Help");
    for (QPushButton* b : {m_back, m_next, m_finish, cancel, help}) row->addWidget(b);
    column->addLayout(row);
    QObject::connect(m_back, &QPushButton::clicked, this, [this] { Back(); });
    QObject::connect(m_next, &QPushButton::clicked, this, [this] { Next(); });
    QObject::connect(m_finish, &QPushButton::clicked, this, [this] { Finish(); });
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
    QObject::connect(help, &QPushButton::clicked, this, [this] {
        if (m_hooks.help) m_hooks.help();
    });
}

void CSetupWizard::SetData(WizardCard& card, CommsRecord& comms, CTAPIConnection* tapi, const OptionsHooks& hooks) {
    m_hooks = hooks;
    while (m_stack->count() > 0) delete m_stack->widget(0);
    m_stack->addWidget(new CWelPage(m_stack));
    if (!m_useTcp) m_stack->addWidget(new CModemPage(comms, tapi, m_stack));
    m_stack->addWidget(new CCardPageWz(card, m_stack));
    for (int i = 0; i < m_stack->count(); ++i) Page(i)->OnInitDialog();
    activate(std::clamp(m_firstPage, 0, m_stack->count() - 1));
}

int CSetupWizard::PageCount() const { return m_stack->count(); }
int CSetupWizard::CurrentPage() const { return m_stack->currentIndex(); }
COptionsPage* CSetupWizard::Page(int index) const { return static_cast<COptionsPage*>(m_stack->widget(index)); }

void CSetupWizard::activate(int index) {
    m_stack->setCurrentIndex(index);
    // Each page sets the buttons as it becomes active: the first Next only,
    // the last Back and Finish, the ones between Back and Next.
    const bool last = index == m_stack->count() - 1;
    m_buttons = index == 0 ? PSWIZB_NEXT : (last ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_BACK | PSWIZB_NEXT);
    m_back->setEnabled((m_buttons & PSWIZB_BACK) != 0);
    m_next->setVisible((m_buttons & PSWIZB_FINISH) == 0);
    m_next->setEnabled((m_buttons & PSWIZB_NEXT) != 0);
    m_finish->setVisible((m_buttons & PSWIZB_FINISH) != 0);
    setWhatsThis(QStringLiteral("help %1").arg(Page(index)->TemplateId()));
}

void CSetupWizard::Back() {
    if (CurrentPage() > 0) activate(CurrentPage() - 1);
}

void CSetupWizard::Next() {
    if (!Page(CurrentPage())->Validate(m_hooks)) return;
    if (CurrentPage() + 1 < PageCount()) activate(CurrentPage() + 1);
}

void CSetupWizard::Finish() {
    for (int i = 0; i < PageCount(); ++i) {
        if (!Page(i)->Validate(m_hooks)) {
            activate(i);
            return;
        }
    }
    for (int i = 0; i < PageCount(); ++i) Page(i)->OnDestroy();
    done(kWizFinish);
}

int CSetupWizard::DoModal() {
    if (UiUnattended()) {
        LUMO_TRACE(3, "CSetupWizard: nobody can answer the setup wizard; nothing changed");
        return IDCANCEL;
    }
    UiCentreOnDesktop(this);
    return exec() == kWizFinish ? kWizFinish : IDCANCEL;
}

}  // namespace trennick
