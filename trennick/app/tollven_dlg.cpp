#include "trennick/app/tollven_dlg.h"

#include "common/lumo_deb.h"
#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/station/station_messages.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <array>
#include <memory>

namespace trennick {

struct _DTollvenEvents : IDispatch {
    static constexpr IID iid = DIID__DTollvenEvents;
    using Base = IDispatch;

protected:
    ~_DTollvenEvents() = default;
};

// The event sink the wrapper advises on the control.
class CTollven::Sink : public platform::com::ComObject<Sink, platform::com::DispatchImpl<Sink, _DTollvenEvents>> {
public:
    explicit Sink(TollvenEvents events) : m_events(std::move(events)) {}

    static std::span<const platform::com::DispatchMember<Sink>> dispatchMembers() {
        using platform::com::dispatchMethod;
        static const platform::com::DispatchMember<Sink> table[] = {
            {"DoConnect", kDispDoConnect, &dispatchMethod<&Sink::DoConnect>},
            {"DoExit", kDispDoExit, &dispatchMethod<&Sink::DoExit>},
        };
        return table;
    }
    // bstrNumber: the number the operator chose, by reference; may be empty.
    HRESULT DoConnect(BSTR* bstrNumber) {
        const char* number = bstrNumber != nullptr && *bstrNumber != nullptr && SysStringLen(*bstrNumber) > 0
                                 ? *bstrNumber
                                 : nullptr;
        if (m_events.doConnect) m_events.doConnect(number);
        return S_OK;
    }
    HRESULT DoExit() {
        if (m_events.doExit) m_events.doExit();
        return S_OK;
    }

private:
    TollvenEvents m_events;
};

CTollven::CTollven() : HostedControl(CLSID_Tollven, DIID__DTollvenEvents) {}

bool CTollven::Create(const TollvenEvents& events) {
    platform::com::ComPtr<IDispatch> control;
    if (!createControl(control)) {
        LUMO_TRACE(1, "CTollven::Create the site book control is not available (0x%08X)", unsigned(CreationResult()));
        return false;
    }
    return Attach(control.get(), events);
}

bool CTollven::Attach(IDispatch* control, const TollvenEvents& events) {
    if (!hostControl<Sink>(control, events)) return false;
    if (!EventsConnected()) LUMO_TRACE(3, "CTollven::Attach the control offers no events");
    return true;
}

bool CTollven::GetCurStation(TollvenStation& station, LONG* result) {
    if (!Exists()) return false;
    // Nine out-parameters; the texts the control returns are ours to free.
    std::array<BSTR, 7> texts{};
    LONG access = 0, automatic = 0;
    using platform::com::Variant;
    const Variant args[] = {
        Variant::ref(VT_BSTR, &texts[0]), Variant::ref(VT_BSTR, &texts[1]), Variant::ref(VT_BSTR, &texts[2]),
        Variant::ref(VT_I4, &access),     Variant::ref(VT_I4, &automatic),  Variant::ref(VT_BSTR, &texts[3]),
        Variant::ref(VT_BSTR, &texts[4]), Variant::ref(VT_BSTR, &texts[5]), Variant::ref(VT_BSTR, &texts[6]),
    };
    VARIANT answer{};
    const HRESULT hr = invoke(kDispGetCurStation, args, &answer);
    auto take = [&](std::size_t i) {
        std::string text = texts[i] != nullptr ? std::string(texts[i], SysStringLen(texts[i])) : std::string();
        SysFreeString(texts[i]);
        texts[i] = nullptr;
        return text;
    };
    station.id = take(0);
    station.name = take(1);
    station.number = take(2);
    station.prefix = take(3);
    station.fixedIp = take(4);
    station.password = take(5);
    station.customerId = take(6);
    station.accessType = access;
    station.autoConnect = automatic;
    if (result != nullptr && answer.vt == VT_I4) *result = answer.lVal;
    VariantClear(&answer);
    if (FAILED(hr)) LUMO_TRACE(3, "CTollven::GetCurStation failed (0x%08X)", unsigned(hr));
    return SUCCEEDED(hr);
}

bool CTollven::ShowStaionInfo(LONG flag) {
    const platform::com::Variant args[] = {platform::com::Variant::i4(flag)};
    return SUCCEEDED(invoke(kDispShowStaionInfo, args));
}

bool CTollven::ShowDialBtn(LONG flag) {
    const platform::com::Variant args[] = {platform::com::Variant::i4(flag)};
    return SUCCEEDED(invoke(kDispShowDialBtn, args));
}

// ---- CTollvenDlg ------------------------------------------------------------

CTollvenDlg::CTollvenDlg(QWidget* parent, platform::HWND notify) : QDialog(parent), m_notify(notify) {
    LUMO_TRACE(5, "ENTER %s", "CTollvenDlg object careated");
    setObjectName(QStringLiteral("CTollvenDlg"));
    setWindowTitle(QStringLiteral("Site Book"));
    auto* column = new QVBoxLayout(this);
    m_missing = UiSetControlId(new QLabel(this), kControlId);
    m_missing->setWordWrap(true);
    m_missing->setMinimumSize(360, 200);
    m_missing->setAlignment(Qt::AlignCenter);
    m_missing->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    column->addWidget(m_missing, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* close = UiSetControlId(new QPushButton(QStringLiteral("Close"), this), IDCANCEL);
    close->setAutoDefault(false);
    row->addWidget(close);
    column->addLayout(row);
    QObject::connect(close, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
    LUMO_TRACE(5, "LEAVE %s", "CTollvenDlg object careated");
}

CTollvenDlg::~CTollvenDlg() = default;

void CTollvenDlg::SetShowDialBtn(int flag) {
    m_showDialBtn = flag;
    m_control.ShowDialBtn(flag);
}

void CTollvenDlg::SetShowStationInfo(int flag) {
    m_showStationInfo = flag;
    m_control.ShowStaionInfo(flag);
}

std::string CTollvenDlg::MissingText() const {
    return m_control.Exists() ? std::string() : m_missing->text().toStdString();
}

void CTollvenDlg::OnInitDialog() {
    if (m_initialised) return;
    m_initialised = true;
    LUMO_TRACE(5, "ENTER %s", "CTollvenDlg::OnInitDialog()");
    TollvenEvents events;
    events.doConnect = [this](const char* number) { OnDoConnect(number); };
    events.doExit = [this] { OnDoExit(); };
    const bool made = m_given ? m_control.Attach(m_given.get(), events) : m_control.Create(events);
    if (made) {
        m_missing->setText(QString());
        m_control.ShowStaionInfo(m_showStationInfo);
        m_control.ShowDialBtn(m_showDialBtn);
    } else {
        // FIXME: the site book control is a later deliverable; until it is
        // installed the dialog says so where the control would be.
        m_missing->setText(QStringLiteral("The site book is not installed: no station can be chosen here. "
                                          "A station can be called from the address book or by its number."));
    }
    LUMO_TRACE(5, "LEAVE %s", "CTollvenDlg::OnInitDialog()");
}

int CTollvenDlg::DoModal() {
    OnInitDialog();
    if (UiUnattended()) {
        LUMO_TRACE(3, "CTollvenDlg: nobody can choose a station; the site book stays closed");
        return IDCANCEL;
    }
    return exec() == IDOK ? IDOK : IDCANCEL;
}

void CTollvenDlg::OnDoConnect(const char* number) {
    if (m_name == nullptr || m_number == nullptr) {
        LUMO_TRACE(1, "[E] Null pointers for station's name/number");
        return;
    }
    TollvenStation station;
    m_control.GetCurStation(station);
    *m_name = station.name;
    *m_number = number != nullptr ? std::string(number) : station.number;
    auto chosen = std::make_unique<SiteBookStation>();
    chosen->name = *m_name;
    chosen->number = *m_number;
    if (m_notify != 0) platform::PostMessageOwned(m_notify, kMsgSiteBookConnect, 0, std::move(chosen));
    done(IDOK);
}

void CTollvenDlg::OnDoExit() { done(IDCANCEL); }

void CTollvenDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A dialog that reaches past the screen is centred, its size kept.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QRect frame = frameGeometry();
        if (frame.right() > area.right() || frame.bottom() > area.bottom()) UiCentreOnDesktop(this);
    }
}

}  // namespace trennick
