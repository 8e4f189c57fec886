#pragma once
// Two small dialogs of the main program: the about box (the registered user and
// company, the program's title and version) and the identity page of the setup
// sheet, where the operator gives this station's name, phone number and
// description; a new name or phone may give the station a new identity.
//
// Threads: the user-interface thread only. A missing registration key or
// identity is shown by defaults ("Unknown", "Anonymous"), never as an error.

#include "platform/message_window.h"
#include "platform/types.h"

#include <QDialog>
#include <QWidget>
#include <string>

class CImageWnd;
class CUUIDdb;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The installation's registration values ("UserName", "CompanyName") under
// HKEY_LOCAL_MACHINE "software\Quennel\Velmoor\1.000.0"; empty when missing.
struct RegistrationValues {
    bool keyOpened = false;
    std::string userName;
    std::string companyName;
};
RegistrationValues ReadRegistrationValues();

// What the main frame gives the about box: whether its button is enabled, and
// the picture of its image window.
class CAboutSource {
public:
    virtual ~CAboutSource() = default;
    virtual int QueryButtonEnabled() = 0;
    virtual void FillImage(CImageWnd& /*image*/) {}
};

class CAboutDlg : public QDialog {
public:
    static constexpr UINT kDialogId = 100;
    static constexpr UINT kCmdButton = 32856;
    static constexpr UINT kVersionStringId = 501;

    // `mainWindow` gets command 32856 when the button is pressed.
    CAboutDlg(CAboutSource* source, platform::HWND mainWindow, QWidget* parent = nullptr);
    int DoModal() { return exec(); }

private:
    platform::HWND m_mainWindow;
    CImageWnd* m_image = nullptr;
};

#pragma pack(push, 1)
// The caller's identity record as the page fills it.
struct tagIdentityRecord {
    BYTE head[8];
    char name[64];
    char phone[32];
    char description[513];
};
#pragma pack(pop)
static_assert(offsetof(tagIdentityRecord, name) == 8);
static_assert(offsetof(tagIdentityRecord, phone) == 72);
static_assert(offsetof(tagIdentityRecord, description) == 104);

// The identity page (template 409) of the setup sheet.
class CIdentifyPage : public QWidget {
public:
    static constexpr UINT kTemplateId = 409;
    static constexpr UINT kStrNewIdentityQuestion = 65008;
    static constexpr int kNameChars = 60;
    static constexpr int kPhoneChars = 28;
    static constexpr int kDescriptionChars = 512;

    CIdentifyPage(tagIdentityRecord* record, CUUIDdb& identity, QWidget* parent = nullptr);

    // The page opens: fills the fields (see the class comment).
    void OnInitDialog();
    // The sheet's Apply: asks, when name or phone changed, whether the station
    // takes a new identity; true when the page may apply.
    bool OnApply();
    // The page closes: the fields go into the caller's record.
    void OnClose();

private:
    void giveDefaults();

    tagIdentityRecord* m_record;
    CUUIDdb& m_identity;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_phone = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QString m_shownName;
    QString m_shownPhone;
};
