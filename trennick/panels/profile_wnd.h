#pragma once
// CProfile: the link profile and tuning window. It shows live figures of the
// station link (characters and frames per second, bucket counts, the link's
// state and status text, this station's video status) and lets the operator
// tune the video transmission values; "Set" hands the edited values, with the
// two values derived from the slider, to its owner, which keeps them in the
// video settings. One instance at most, owned by the main frame from the
// statistics command until the window closes; closing it tells the owner by
// the child-closed message (kind 307).
//
// The figures are pushed to it: the link hands it the rates and counts of
// each period (LinkFiguresSink, posted over to the window's thread), the
// remote station window each decoded frame's length and decode time; the
// marked ones are shown by UpdateDisplay. Each second the window shows the
// link's status text, its state and this station's video status.
//
// Thread: the user-interface thread; linkFigures may come from the thread
// that reads the link. Failure: edited values are kept inside their ranges;
// without a link the figures stay as they are.

#include "platform/types.h"
#include "trennick/link/link_host.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;
class UiMessageTarget;

namespace trennick {

class CPacketConnection;

inline constexpr int kProfileTemplate = 307;
// Controls.
inline constexpr int kProfVideoStatus = 1326, kProfLinkState = 1325, kProfFlag = 1302, kProfStatusText = 1319;
inline constexpr int kProfCount1 = 1317, kProfCount2 = 1289, kProfCount3 = 1318, kProfCount4 = 1320;
inline constexpr int kProfFps = 1316, kProfCps = 1287, kProfSlider = 1103, kProfApply = 1307;
inline constexpr int kProfWord1 = 1100, kProfWord2 = 1305, kProfPacket = 1306, kProfA = 1311, kProfC = 1310;
inline constexpr int kProfB = 1309, kProfD = 1312, kProfSecond = 1313, kProfFirst = 1314, kProfBlock = 1308;
// The timer bit of timer 309.
inline constexpr DWORD kProfileVideoTimer = 0x2;
// Dirty bits of the figures.
inline constexpr DWORD kProfDirtyRates = 0x20, kProfDirtyState = 0x400, kProfDirtyFurther = 0x800;
inline constexpr DWORD kProfDirtySilent = 0x1 | 0x2 | 0x4 | 0x8 | 0x40 | 0x100;

// The link's figures as the window shows them.
struct ProfileFigures {
    DWORD charsPerSecond = 0;
    DWORD framesPerSecondHundredths = 0;
    DWORD firstCount = 0;
    DWORD counts[3] = {};
    DWORD linkState = 0;
    DWORD furtherCount = 0;
    DWORD lastFrameLength = 0;
    DWORD lastDecodeMs = 0;
    DWORD periodStartMs = 0;
};

// The tuning values the window edits, as the video settings keep them.
struct ProfileTuning {
    DWORD flag = 0;            // check box 1302
    DWORD word1 = 0;           // 1100, 0-100
    DWORD word2 = 0;           // 1305, 0-100
    DWORD packetLength = 0;    // 1306, 0 to 1,048,576
    DWORD a = 25, c = 35;      // 1311, 1310, 0-100
    DWORD b = 60, d = 60;      // 1309, 1312, 0-100
    LONG first = 0;            // derived, shown in 1314
    LONG second = 0;           // derived, shown in 1313
    DWORD blockBytes = 0;      // 1308, 0-10000
};

// The two values derived from slider position p (1-100):
// first = a + (b - a) x (100 - p) / 100, second = c + (d - c) x (100 - p) / 100.
void DeriveProfileTuning(ProfileTuning& tuning, int sliderPosition);

// The window's private message: posted LinkFigures of the link.
inline constexpr UINT kMsgProfileLinkFigures = 0x8090;

class CProfile : public QDialog, public LinkFiguresSink {
public:
    CProfile(QWidget* parent, std::function<DWORD()> clock);
    ~CProfile() override;

    // The link (not owned; the window takes its figures until it closes) and
    // the values to edit; `applied` receives them on "Set".
    void SetData(CPacketConnection* link, const ProfileTuning& tuning,
                 std::function<void(const ProfileTuning&)> applied);
    // Called once when the window closes; the owner posts itself the
    // child-closed message and deletes the window there.
    void SetClosedHandler(std::function<void()> closed) { m_onClosed = std::move(closed); }
    // LinkFiguresSink: posts the figures to the window's thread, where they
    // are shown.
    void linkFigures(const LinkFigures& figures) override;
    // A frame the remote station window decoded: its length and decode time.
    void VideoFrameShown(DWORD length, DWORD decodeMs);
    platform::HWND Handle() const;

    ProfileFigures& Figures() { return m_figures; }
    void MarkDirty(DWORD bits) { m_dirty |= bits; }
    DWORD Dirty() const { return m_dirty; }
    void UpdateDisplay();
    // Timers by bit: 0 timer 308, 1 timer 309 (runs while a video stream is
    // open), 2 timer 310, each of 1000 ms.
    void SetTimer(DWORD mask);
    void KillTimer(DWORD mask);
    DWORD RunningTimers() const { return m_running; }
    // One tick of timer 310 (the status text, the link state, the video status).
    void OnStatusTimer();

    // Command 1307: the edited values inside their ranges, derived, handed on.
    void Apply();
    // Command 1302: the flag follows the check box.
    void ToggleFlag();
    const ProfileTuning& Tuning() const { return m_tuning; }

    // The text of a control; an edit's value for tests and the operator.
    std::string Text(int id) const;
    void SetEdit(int id, LONG value);
    void SetSlider(int position);

protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void showTuning();
    void setText(int id, const std::string& text);
    void notifyClosed();
    void releaseLink();
    void showLinkFigures(const LinkFigures& figures);

    std::function<DWORD()> m_clock;
    std::function<void()> m_onClosed;
    CPacketConnection* m_link = nullptr;
    std::function<void(const ProfileTuning&)> m_applied;
    ProfileFigures m_figures;
    ProfileTuning m_tuning;
    DWORD m_dirty = 0;
    DWORD m_running = 0;
    QTimer m_timers[3];
    std::map<int, QLabel*> m_labels;
    std::map<int, QLineEdit*> m_edits;
    QCheckBox* m_flag = nullptr;
    QSlider* m_slider = nullptr;
    DWORD m_shownState = 0xFFFFFFFF;
    DWORD m_shownVideo = 0xFFFFFFFF;
    bool m_closedTold = false;
    std::unique_ptr<UiMessageTarget> m_target;
};

}  // namespace trennick
