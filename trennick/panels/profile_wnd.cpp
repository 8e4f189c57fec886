#include "trennick/panels/profile_wnd.h"

#include "common/lumo_deb.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/link/packet_connection.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cstdio>

namespace trennick {

namespace {

constexpr int kTimerIds[3] = {308, 309, 310};
constexpr int kTimerPeriodMs = 1000;

struct EditRange {
    int id;
    const char* label;
    LONG low;
    LONG high;
};
constexpr EditRange kEdits[] = {
    {kProfWord1, "Rate", 0, 100},          {kProfWord2, "Background", 0, 100},
    {kProfPacket, "Packet bytes", 0, 1048576}, {kProfA, "Contrast, slow", 0, 100},
    {kProfB, "Contrast, fast", 0, 100},    {kProfC, "Tracking, slow", 0, 100},
    {kProfD, "Tracking, fast", 0, 100},    {kProfBlock, "Bytes per frame", 0, 10000},
};

std::string format(const char* f, long a) {
    char text[64];
    std::snprintf(text, sizeof text, f, a);
    return text;
}

}  // namespace

void DeriveProfileTuning(ProfileTuning& t, int p) {
    p = std::clamp(p, 1, 100);
    const long m = 100;
    t.first = LONG(long(t.a) + (long(t.b) - long(t.a)) * (m - p) / m);
    t.second = LONG(long(t.c) + (long(t.d) - long(t.c)) * (m - p) / m);
}

CProfile::CProfile(QWidget* parent, std::function<DWORD()> clock)
    : QDialog(parent, Qt::Tool), m_clock(std::move(clock)) {
    setWindowTitle("Link profile");
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addLabel = [&](int id, const char* caption) {
        grid->addWidget(new QLabel(caption, this), row, 0);
        auto* value = new QLabel(this);
        value->setMinimumWidth(120);
        m_labels[id] = value;
        grid->addWidget(value, row++, 1);
    };
    addLabel(kProfStatusText, "Status");
    addLabel(kProfLinkState, "Link state");
    addLabel(kProfVideoStatus, "Video status");
    addLabel(kProfCps, "Characters");
    addLabel(kProfFps, "Frames");
    addLabel(kProfCount1, "Buckets in");
    addLabel(kProfCount2, "Buckets out");
    addLabel(kProfCount3, "Send retries");
    addLabel(kProfCount4, "Receive errors");
    m_flag = new QCheckBox("Tuned compression", this);
    grid->addWidget(m_flag, row++, 0, 1, 2);
    connect(m_flag, &QCheckBox::clicked, this, [this] { ToggleFlag(); });
    for (const EditRange& e : kEdits) {
        grid->addWidget(new QLabel(e.label, this), row, 0);
        auto* edit = new QLineEdit(this);
        m_edits[e.id] = edit;
        grid->addWidget(edit, row++, 1);
    }
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(1, 100);
    m_slider->setValue(100);
    grid->addWidget(new QLabel("Speed", this), row, 0);
    grid->addWidget(m_slider, row++, 1);
    addLabel(kProfFirst, "Contrast now");
    addLabel(kProfSecond, "Tracking now");
    auto* apply = new QPushButton("Set", this);
    grid->addWidget(apply, row++, 1);
    connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
    for (int i = 0; i < 3; ++i) {
        m_timers[i].setInterval(kTimerPeriodMs);
        if (i == 2) connect(&m_timers[i], &QTimer::timeout, this, [this] { OnStatusTimer(); });
    }
    m_target = std::make_unique<UiMessageTarget>([this](UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg != kMsgProfileLinkFigures) return 0;
        if (auto figures = platform::TakePostedData<LinkFigures>(lParam)) showLinkFigures(*figures);
        return 0;
    });
    SetTimer(4);  // timer 310
}

CProfile::~CProfile() {
    releaseLink();
    KillTimer(7);
    m_target.reset();
}

platform::HWND CProfile::Handle() const { return m_target != nullptr ? m_target->hwnd() : 0; }

void CProfile::SetData(CPacketConnection* link, const ProfileTuning& tuning,
                       std::function<void(const ProfileTuning&)> applied) {
    if (link != m_link) {
        releaseLink();
        m_link = link;
        if (m_link != nullptr) m_link->SetFiguresSink(this);
    }
    m_tuning = tuning;
    m_applied = std::move(applied);
    showTuning();
}

void CProfile::releaseLink() {
    // Once this returns the link hands this window nothing more, and the
    // window no longer reaches the link: a closed window may be deleted later
    // than the link (at the program's end).
    if (m_link == nullptr) return;
    m_link->SetFiguresSink(nullptr);
    m_link = nullptr;
}

void CProfile::linkFigures(const LinkFigures& figures) {
    platform::PostMessageOwned(Handle(), kMsgProfileLinkFigures, 0, std::make_unique<LinkFigures>(figures));
}

void CProfile::showLinkFigures(const LinkFigures& figures) {
    ProfileFigures& f = m_figures;
    f.charsPerSecond = figures.charsPerSecond;
    f.framesPerSecondHundredths = figures.framesPerSecondHundredths;
    f.firstCount = figures.bucketsReceived;
    f.counts[0] = figures.bucketsSent;
    f.counts[1] = figures.sendRetries;
    f.counts[2] = figures.receiveErrors;
    MarkDirty(kProfDirtyRates);
    UpdateDisplay();
}

void CProfile::VideoFrameShown(DWORD length, DWORD decodeMs) {
    m_figures.lastFrameLength = length;
    m_figures.lastDecodeMs = decodeMs;
    MarkDirty(0x2);
    UpdateDisplay();
}

void CProfile::showTuning() {
    m_flag->setChecked(m_tuning.flag != 0);
    SetEdit(kProfWord1, LONG(m_tuning.word1));
    SetEdit(kProfWord2, LONG(m_tuning.word2));
    SetEdit(kProfPacket, LONG(m_tuning.packetLength));
    SetEdit(kProfA, LONG(m_tuning.a));
    SetEdit(kProfB, LONG(m_tuning.b));
    SetEdit(kProfC, LONG(m_tuning.c));
    SetEdit(kProfD, LONG(m_tuning.d));
    SetEdit(kProfBlock, LONG(m_tuning.blockBytes));
    setText(kProfFirst, format("%ld", long(m_tuning.first)));
    setText(kProfSecond, format("%ld", long(m_tuning.second)));
}

void CProfile::setText(int id, const std::string& text) {
    if (auto it = m_labels.find(id); it != m_labels.end()) it->second->setText(QString::fromLocal8Bit(text.c_str()));
}

std::string CProfile::Text(int id) const {
    if (auto it = m_labels.find(id); it != m_labels.end()) return it->second->text().toLocal8Bit().toStdString();
    if (auto it = m_edits.find(id); it != m_edits.end()) return it->second->text().toLocal8Bit().toStdString();
    return {};
}

void CProfile::SetEdit(int id, LONG value) {
    if (auto it = m_edits.find(id); it != m_edits.end()) it->second->setText(QString::number(value));
}

void CProfile::SetSlider(int position) { m_slider->setValue(position); }

void CProfile::UpdateDisplay() {
    m_dirty &= ~kProfDirtySilent;
    if ((m_dirty & kProfDirtyRates) != 0) {
        ProfileFigures& f = m_figures;
        setText(kProfCps, format("%ld cps", long(f.charsPerSecond)));
        char fps[64];
        std::snprintf(fps, sizeof fps, "%ld.%02ld fps", long(f.framesPerSecondHundredths / 100),
                      long(f.framesPerSecondHundredths % 100));
        setText(kProfFps, fps);
        setText(kProfCount1, format("%ld", long(f.firstCount)));
        setText(kProfCount2, format("%ld", long(f.counts[0])));
        setText(kProfCount3, format("%ld", long(f.counts[1])));
        setText(kProfCount4, format("%ld", long(f.counts[2])));
        f.charsPerSecond = 0;
        f.firstCount = 0;
        f.framesPerSecondHundredths = 0;
        f.periodStartMs = m_clock ? m_clock() : 0;
        m_dirty &= ~kProfDirtyRates;
    }
    if ((m_dirty & kProfDirtyState) != 0) {
        setText(kProfLinkState, format("0x%lx", long(m_figures.linkState)));
        m_dirty &= ~kProfDirtyState;
    }
    if ((m_dirty & kProfDirtyFurther) != 0) {
        setText(kProfVideoStatus, format("%ld", long(m_figures.furtherCount)));
        m_dirty &= ~kProfDirtyFurther;
    }
}

void CProfile::SetTimer(DWORD mask) {
    for (int i = 0; i < 3; ++i) {
        if ((mask & (1u << i)) != 0 && (m_running & (1u << i)) == 0) {
            m_timers[i].start();
            m_running |= 1u << i;
        }
    }
}

void CProfile::KillTimer(DWORD mask) {
    for (int i = 0; i < 3; ++i) {
        if ((mask & (1u << i)) != 0) {
            m_timers[i].stop();
            m_running &= ~(1u << i);
        }
    }
}

void CProfile::OnStatusTimer() {
    if (m_link == nullptr) return;
    setText(kProfStatusText, m_link->GetStatusText());
    const DWORD state = DWORD(m_link->GetStatusCode());
    if (state != m_shownState) {
        m_shownState = state;
        setText(kProfLinkState, format("0x%lx", long(state)));
    }
    VideoSettingsRecord ours{};
    const DWORD video = m_link->GetVideoSettings(0, ours);
    if (video != m_shownVideo) {
        m_shownVideo = video;
        char text[64];
        std::snprintf(text, sizeof text, "W%d,V%d,C%d", 0, int(video & 0xF), int((video >> 4) & 0xF));
        setText(kProfVideoStatus, text);
    }
}

void CProfile::Apply() {
    auto value = [&](int id, LONG low, LONG high) {
        const LONG v = std::clamp<LONG>(LONG(m_edits[id]->text().toLong()), low, high);
        SetEdit(id, v);
        return DWORD(v);
    };
    m_tuning.word1 = value(kProfWord1, 0, 100);
    m_tuning.word2 = value(kProfWord2, 0, 100);
    m_tuning.packetLength = value(kProfPacket, 0, 1048576);
    m_tuning.a = value(kProfA, 0, 100);
    m_tuning.b = value(kProfB, 0, 100);
    m_tuning.c = value(kProfC, 0, 100);
    m_tuning.d = value(kProfD, 0, 100);
    m_tuning.blockBytes = value(kProfBlock, 0, 10000);
    m_tuning.flag = m_flag->isChecked() ? 1 : 0;
    DeriveProfileTuning(m_tuning, m_slider->value());
    setText(kProfFirst, format("%ld", long(m_tuning.first)));
    setText(kProfSecond, format("%ld", long(m_tuning.second)));
    if (m_applied) m_applied(m_tuning);
}

void CProfile::ToggleFlag() {
    m_tuning.flag = m_flag->isChecked() ? 1 : 0;
    if (m_applied) m_applied(m_tuning);
}

void CProfile::notifyClosed() {
    if (m_closedTold) return;
    m_closedTold = true;
    releaseLink();
    KillTimer(7);
    // The owner forgets and deletes the window on the child-closed message.
    if (m_onClosed) m_onClosed();
}

void CProfile::closeEvent(QCloseEvent* event) {
    notifyClosed();
    QDialog::closeEvent(event);
}

void CProfile::done(int result) {
    notifyClosed();
    QDialog::done(result);
}

}  // namespace trennick
