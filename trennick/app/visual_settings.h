#pragma once
// CVisualSettings: the options sheet of the main window. Four pages edit
// copies of the frame's records: the display page (CVisualSetup), the TCP/IP
// and dial-up page (CTCPSetup) or the modem line page (CTAPISetup) by the
// station's link, the remote picture page (CRemotePage) and the storage page
// (CKivSetup). Each page fills its controls from the copies when the sheet
// opens and writes them back when the sheet ends with OK; the frame then takes
// the copies over. Cancel leaves the copies as they came.
//
// GUI thread only. Without anybody to answer (unattended) the sheet does not
// open and answers IDCANCEL at once. A rings count outside 1 to 255 keeps the
// sheet open and is told through the complaint callback.

#include "platform/types.h"
#include "trennick/station/frame_settings.h"

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace trennick {

class CTAPIConnection;
class CInetConnection;

// The frame's remote picture settings the remote page edits.
struct RemotePageData {
    DWORD width = 176;
    DWORD height = 144;
    DWORD editFlag = 0;   // non-zero: the size may be edited
    DWORD option1239 = 0; // shown hidden, carried through
    WORD option1237 = 0;  // shown hidden, carried through
    WORD option1238 = 0;
};

// The copies the sheet (and the setup wizard) edit.
struct OptionsData {
    CommsRecord comms;      // UseInternet is comms.NetInUse: the link of the next start
    BYTE stationByte = 0;   // the flag byte behind this station's information
    RemotePageData remote;
    StorageRecord storage;
};

// What the pages ask of the link: its telephony lines (modem link) or its
// dial-up functions (TCP link); either may be null.
struct OptionsLinks {
    CTAPIConnection* tapi = nullptr;
    CInetConnection* inet = nullptr;
};

// Hooks the frame gives the sheet: the common help handler and the way a
// refused value is told to the user.
struct OptionsHooks {
    std::function<void()> help;
    std::function<void(const std::string&)> complain;
};

inline constexpr int kRingsMin = 1, kRingsMax = 255;
inline constexpr const char* kRingsRangeText = "Please enter an integer between 1 and 255.";

// A page of the sheet or the wizard: fills its controls from the copies and
// writes them back. Validate answers false (having told why) to keep the
// sheet open.
class COptionsPage : public QWidget {
public:
    explicit COptionsPage(int templateId, QWidget* parent = nullptr);
    int TemplateId() const { return m_templateId; }
    virtual void OnInitDialog() = 0;
    virtual bool Validate(const OptionsHooks&) { return true; }
    virtual void OnDestroy() = 0;

private:
    int m_templateId;
};

// Display page (template 202).
class CVisualSetup : public COptionsPage {
public:
    CVisualSetup(OptionsData& data, QWidget* parent = nullptr);
    void OnInitDialog() override;
    void OnDestroy() override;

private:
    OptionsData& m_data;
    QCheckBox* m_c1083;
    QCheckBox* m_c1272;
    QCheckBox* m_c1237;
    QCheckBox* m_c1286;
};

// Modem line page (template 356); the setup wizard's modem page is the same
// page under its own template and traces.
class CTAPISetup : public COptionsPage {
public:
    enum class Role { Options, Wizard };
    CTAPISetup(CommsRecord& comms, CTAPIConnection* tapi, Role role, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool Validate(const OptionsHooks& hooks) override;
    void OnDestroy() override;
    // The check of the selected line: enables the two line buttons when the
    // line is usable.
    void CheckLine();
    // The telephony device of the selected line (kDirectLineDevice for a direct line).
    DWORD SelectedDevice() const;

private:
    CommsRecord& m_comms;
    CTAPIConnection* m_tapi;
    Role m_role;
    QComboBox* m_lines;
    QCheckBox* m_useInternet;
    QLineEdit* m_rings;
    QPushButton* m_configure;
    QPushButton* m_dialing;
};

// TCP/IP and dial-up page (template 357).
class CTCPSetup : public COptionsPage {
public:
    CTCPSetup(CommsRecord& comms, CInetConnection* inet, QWidget* parent = nullptr);
    void OnInitDialog() override;
    void OnDestroy() override;  // the page's Apply

private:
    void enableDialUp(bool on);
    void fillEntries();
    void readEntry();

    CommsRecord& m_comms;
    CInetConnection* m_inet;
    QRadioButton* m_lan;
    QRadioButton* m_dialUp;
    QComboBox* m_entries;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QPushButton* m_newEntry;
    QPushButton* m_editEntry;
    QCheckBox* m_noInternet;
    QRadioButton* m_r1043;
    QRadioButton* m_r1044;
};

// Remote picture page (template 163).
class CRemotePage : public COptionsPage {
public:
    CRemotePage(RemotePageData& data, QWidget* parent = nullptr);
    void OnInitDialog() override;
    void OnDestroy() override;

private:
    RemotePageData& m_data;
    QCheckBox* m_c1239;
    QSpinBox* m_s1273;
    QSpinBox* m_s1274;
    QCheckBox* m_c1238;
    QCheckBox* m_c1237;
    QLineEdit* m_width;
    QLineEdit* m_height;
    QWidget* m_l1171;
    QWidget* m_l1170;
};

// Storage page (template 330).
class CKivSetup : public COptionsPage {
public:
    CKivSetup(StorageRecord& storage, QWidget* parent = nullptr);
    void OnInitDialog() override;
    void OnDestroy() override;
    // The folder as stored: with a trailing separator ("/" added when it ends
    // in neither "/" nor "\"); empty stays empty.
    static std::string StoredFolder(const std::string& typed);

private:
    StorageRecord& m_storage;
    QCheckBox* m_c1247;
    QCheckBox* m_c1081;
    QLineEdit* m_folder;
    QRadioButton* m_choice[3];
};

class CVisualSettings : public QDialog {
public:
    // firstPage: the index of the page shown first (0 to 3).
    CVisualSettings(const std::string& caption, QWidget* parent, int firstPage, bool useTcp);
    ~CVisualSettings() override;
    void SetData(OptionsData& data, const OptionsLinks& links, const OptionsHooks& hooks);
    // IDOK when the user ended with OK (the copies written back), else IDCANCEL.
    int DoModal();
    QTabWidget* Pages() const { return m_pages; }
    COptionsPage* Page(int index) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onOk();

    bool m_useTcp;
    int m_firstPage;
    OptionsHooks m_hooks;
    QTabWidget* m_pages;
};

}  // namespace trennick
