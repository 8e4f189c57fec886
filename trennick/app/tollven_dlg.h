#pragma once
// CTollvenDlg: the site book dialog, in which the operator picks the station
// to call. It hosts the site book control (CTollven, made by its class id) and
// turns the control's DoConnect event into the main window's station-chosen
// message (kMsgSiteBookConnect with the station's name and number); DoExit
// ends it. While the control is not installed the dialog says so in the
// control's place and the operator can only close it.
//
// GUI thread only (the control is apartment-threaded). Without anybody to
// answer (unattended) the dialog does not open and answers IDCANCEL at once.

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/hosted_control.h"
#include "platform/com/oleauto.h"
#include "platform/message_window.h"
#include "platform/types.h"

#include <QDialog>
#include <functional>
#include <string>

class QLabel;

namespace trennick {

// The site book control's class and its event interface.
// {3E9A41C7-5B2D-4F80-9C16-7A0B2D4E6F18}
inline constexpr CLSID CLSID_Tollven = {0x3E9A41C7, 0x5B2D, 0x4F80, {0x9C, 0x16, 0x7A, 0x0B, 0x2D, 0x4E, 0x6F, 0x18}};
// {8C2F6D13-4A7E-4B95-A0D3-61E5F7092B4C}
inline constexpr IID DIID__DTollvenEvents = {0x8C2F6D13, 0x4A7E, 0x4B95, {0xA0, 0xD3, 0x61, 0xE5, 0xF7, 0x09, 0x2B, 0x4C}};

inline constexpr DISPID kDispGetCurStation = 2, kDispShowStaionInfo = 3, kDispShowDialBtn = 4;
inline constexpr DISPID kDispDoConnect = 1, kDispDoExit = 2;

// The station the control has selected.
struct TollvenStation {
    std::string id, name, number;
    LONG accessType = 0;
    LONG autoConnect = 0;
    std::string prefix, fixedIp, password, customerId;
};

struct TollvenEvents {
    std::function<void(const char* number)> doConnect;  // number: null when the event carries none
    std::function<void()> doExit;
};

// The wrapper of the site book control (dialog control 1019).
class CTollven : public platform::com::HostedControl {
public:
    CTollven();

    // Creates the control by its class and connects its events; false when
    // it is not installed.
    bool Create(const TollvenEvents& events);
    // Uses a control the caller made, its events connected the same way.
    bool Attach(IDispatch* control, const TollvenEvents& events);

    // The selected station; false when the control refused or is missing.
    bool GetCurStation(TollvenStation& station, LONG* result = nullptr);
    bool ShowStaionInfo(LONG flag);
    bool ShowDialBtn(LONG flag);

private:
    class Sink;
};

class CTollvenDlg : public QDialog {
public:
    static constexpr int kControlId = 1019;
    static constexpr int kTemplateId = 110;

    // notify: the window that gets the station-chosen message.
    CTollvenDlg(QWidget* parent, platform::HWND notify);
    ~CTollvenDlg() override;

    // The caller's buffers for the chosen station's name and number.
    void SetBuffers(std::string* name, std::string* number) {
        m_name = name;
        m_number = number;
    }
    void SetShowDialBtn(int flag);
    void SetShowStationInfo(int flag);
    // Hosts a control the caller made instead of creating one by its class.
    void UseControl(IDispatch* control) { m_given = platform::com::ComPtr<IDispatch>::addRef(control); }

    // Makes the control (when none was given) and fills the dialog; what
    // DoModal does before it shows the dialog.
    void OnInitDialog();
    // IDOK when a station was chosen, else IDCANCEL.
    int DoModal();
    CTollven& Control() { return m_control; }
    // The text shown in the control's place while the control is missing.
    std::string MissingText() const;

    // The control's events.
    void OnDoConnect(const char* number);
    void OnDoExit();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string* m_name = nullptr;
    std::string* m_number = nullptr;
    int m_showDialBtn = 1;
    int m_showStationInfo = 0;
    bool m_initialised = false;
    platform::HWND m_notify;
    platform::com::ComPtr<IDispatch> m_given;
    CTollven m_control;
    QLabel* m_missing = nullptr;
};

}  // namespace trennick
