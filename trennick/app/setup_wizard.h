#pragma once
// CSetupWizard: the wizard that sets up a station: a welcome page, the modem
// line when the station works over a phone line (the options sheet's modem
// page), and the station's card (name, phone number, a free text, and the
// switch that shows this station's information to the site). It edits copies
// that the main frame hands in and stores when the wizard ends with Finish
// (result kWizFinish); any other end answers IDCANCEL and changes nothing.
//
// GUI thread only. Without anybody to answer (unattended) it does not open
// and answers IDCANCEL at once.

#include "platform/types.h"
#include "trennick/app/visual_settings.h"
#include "trennick/link/cards.h"

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace trennick {

inline constexpr int kWizFinish = 12325;
// The wizard's buttons (the sheet's wizard-button flags).
inline constexpr int PSWIZB_BACK = 1, PSWIZB_NEXT = 2, PSWIZB_FINISH = 4;
// Button ids.
inline constexpr int kWizBackId = 12323, kWizNextId = 12324, kWizFinishId = 12325, kWizHelpId = 9;

// The station's card the card page edits, with the flag of check box 1250.
struct WizardCard {
    tagBusinessCard card{};
    BYTE flag1250 = 0;
};

// Welcome page (template 144).
class CWelPage : public COptionsPage {
public:
    explicit CWelPage(QWidget* parent = nullptr);
    void OnInitDialog() override {}
    void OnDestroy() override {}
};

// The modem page (template 159): the options sheet's modem page.
class CModemPage : public CTAPISetup {
public:
    CModemPage(CommsRecord& comms, CTAPIConnection* tapi, QWidget* parent = nullptr)
        : CTAPISetup(comms, tapi, Role::Wizard, parent) {}
};

// Card page (template 238).
class CCardPageWz : public COptionsPage {
public:
    CCardPageWz(WizardCard& card, QWidget* parent = nullptr);
    void OnInitDialog() override;
    void OnDestroy() override;
    // The texts the page opens with for a card without a name: this
    // station's identity, else the installation's user and company names.
    struct Proposal {
        std::string name, phone, text;
    };
    static Proposal Propose();

private:
    WizardCard& m_card;
    QLineEdit* m_name;
    QLineEdit* m_phone;
    QLineEdit* m_text;
    QCheckBox* m_check;
};

class CSetupWizard : public QDialog {
public:
    CSetupWizard(const std::string& caption, QWidget* parent, int firstPage, bool useTcp);
    void SetData(WizardCard& card, CommsRecord& comms, CTAPIConnection* tapi, const OptionsHooks& hooks);
    // kWizFinish when the user ended with Finish (the copies written back), else IDCANCEL.
    int DoModal();

    int PageCount() const;
    int CurrentPage() const;
    COptionsPage* Page(int index) const;
    // The wizard buttons the current page set (PSWIZB_ flags).
    int WizardButtons() const { return m_buttons; }
    void Back();
    void Next();
    void Finish();

private:
    void activate(int index);

    bool m_useTcp;
    int m_firstPage;
    int m_buttons = 0;
    OptionsHooks m_hooks;
    QStackedWidget* m_stack;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_finish;
};

}  // namespace trennick
