#pragma once
// The video toolbar: CLumoraToolBarControl, the small floating frame that
// carries one button per camera of the current adapter, the mode button(s), one
// button per relay and the PTZ button; and CQbBar, its bar, which gives the
// buttons their tool tips, marks triggered cameras and fires pulse relays.
//
// Threads: the user-interface thread only; other threads reach the control by
// posting to messageHandle() (relay timers, the push-camera message).
// Failures: a relay command the card refuses is traced; nothing is thrown.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "tavicore/ui/tavicore_ui_api.h"
#include "tavicore/ui/ui_window.h"

#include <QToolBar>
#include <QWidget>
#include <memory>
#include <string_view>
#include <vector>

class CDBLumo;
class CKcReg;
class CLumora;
class CLumoraToolBarControl;
class QToolButton;

// Command ids of the toolbar's buttons.
inline constexpr UINT kCmdFirstCamera = 65122;   // + camera (0 to 15)
inline constexpr UINT kCmdFirstRelay = 65139;    // + relay (0 to 15)
inline constexpr UINT kCmdQuad = 32077;
inline constexpr UINT kCmdQuad2 = 32078;
inline constexpr UINT kCmdAutoSwitch = 32149;
inline constexpr UINT kCmdPtz = 32923;

// Button states and styles.
inline constexpr UINT TBSTATE_CHECKED = 0x01;
inline constexpr UINT TBSTATE_PRESSED = 0x02;
inline constexpr UINT TBSTATE_ENABLED = 0x04;
inline constexpr UINT TBSTATE_HIDDEN = 0x08;
inline constexpr UINT TBSTATE_WRAP = 0x20;
inline constexpr UINT TBBS_BUTTON = 0x00;
inline constexpr UINT TBBS_CHECKBOX = 0x02;

// Images of the toolbar bitmap (129).
inline constexpr int kImageTriggered = 16;
inline constexpr int kImageRelayOff = 17;
inline constexpr int kImageQuad = 21;
inline constexpr int kImageAutoSwitch = 22;
inline constexpr int kImagePtz = 23;
inline constexpr int kImageQuad2Active = 24;

// The private message whose wParam is a camera to push.
inline constexpr UINT kMsgPushCameraButton = platform::WM_USER + 0x101;

// The room of a tool tip's text, terminator included.
inline constexpr std::size_t kToolTipTextBytes = 80;
// Copies `text` into a tool tip's text field, cut so that its terminator fits.
TAVICORE_UI_API void CopyToolTipText(char (&field)[kToolTipTextBytes], std::string_view text);

// One trigger entry per camera of every adapter: the first word of each pair
// tells whether the camera is triggered (1) or normal (0).
#pragma pack(push, 1)
struct tagTriggerEntry {
    WORD state;
    WORD reserved;
};
#pragma pack(pop)
static_assert(sizeof(tagTriggerEntry) == 4);

// The bar of the toolbar control: keeps each button's id, style, image and state
// (checked, pressed, enabled, hidden) and shows them; tool tips come from the
// station's names and the string resources; a press on a pulse relay fires it.
// User-interface thread only.
class TAVICORE_UI_API CQbBar : public QToolBar {
public:
    CQbBar(CDBLumo* database, CLumora* capture, CLumoraToolBarControl* owner, WORD adapter);
    ~CQbBar() override;

    virtual void SetCameraNormal(WORD camera);
    virtual void SetCameraTriggered(WORD camera);
    virtual int SetAdapter(WORD adapter);

    // Button set-up, by index in bar order or by command id.
    void SetButtonCount(int count);
    int GetCount() const { return static_cast<int>(m_buttons.size()); }
    void SetButtonInfo(int index, UINT id, UINT style, int image);
    void GetButtonInfo(int index, UINT& id, UINT& style, int& image) const;
    void SetButtonText(int index, const QString& text);
    QString GetButtonText(int index) const;
    int CommandToIndex(UINT id) const;
    UINT GetState(UINT id) const;
    void SetState(UINT id, UINT state);
    void CheckButton(UINT id, bool check);
    void PressButton(UINT id, bool press);
    void HideButton(UINT id, bool hide);
    void EnableButton(UINT id, bool enable);
    bool IsButtonPressed(UINT id) const;
    bool IsButtonChecked(UINT id) const;
    // The button's rectangle in the bar; empty for a bad index or a hidden button.
    QRect GetItemRect(int index) const;
    // The widget of a button, for those who click it.
    QToolButton* buttonWidget(UINT id) const;

    // The tool-tip text of a command (empty for another id).
    void GetToolTipText(UINT id, char (&text)[kToolTipTextBytes]);
    // A left press at `point` (bar coordinates): fires the pulse relays under it.
    void OnLButtonDown(const QPoint& point);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Button {
        UINT id = 0;
        UINT style = 0;
        int image = 0;
        UINT state = TBSTATE_ENABLED;
        QString text;
        QToolButton* widget = nullptr;
    };
    void refresh(Button& button);
    const Button* find(UINT id) const;
    Button* find(UINT id);

    CDBLumo* m_database;
    CLumora* m_capture;
    CLumoraToolBarControl* m_owner;
    WORD m_adapter;
    const WORD m_fixedWord = 6;
    const DWORD m_fixedValue = 65535;
    std::vector<Button> m_buttons;
    QPixmap m_strip;
};

// The floating frame of the video toolbar. Its buttons follow the current
// adapter's hardware profile; presses switch the capture object's input and
// relays and are written back through the settings database, or are posted to
// the notify window as WM_COMMAND when one is given. User-interface thread only.
class TAVICORE_UI_API CLumoraToolBarControl : public QWidget {
public:
    CLumoraToolBarControl(platform::HWND owner, WORD adapter, CLumora* capture, CDBLumo* database, int ptz,
                          WORD mode);
    ~CLumoraToolBarControl() override;

    virtual void AlignBottom(QWidget* near);
    virtual int SetVideoInput(WORD input);
    virtual void UpdateDisplayVideoInput();
    virtual void UpdateDisplayRelayBitmaps();
    virtual void UpdateDisplayRelayBitmaps(const tagHWProfile* profile, int relay);
    virtual void RestoreToolBar(QWidget* near, int load);
    virtual void SetAlwaysOnTop(int onTop);
    virtual void HideControlBar();
    virtual void UpdateWindowProperties();
    virtual void SetOverlayWnd(platform::HWND overlay) { m_overlay = overlay; }
    virtual void HideQuadSwitchButton();
    virtual int SetAdapter(WORD adapter);
    virtual void InitializeRelayButtons();
    virtual void SetRelay(UINT id);
    // Creates the frame and its bar; commands go to `notify` when given (posted
    // as WM_COMMAND to its handle), else the control acts itself. 1 on success.
    virtual int CreateToolBar(platform::HWND notify);

    int UpdateAdapter(WORD adapter);
    void PushCameraButton();
    void PushCamerabutton(WORD camera);
    void PopUpModeButton();
    void PushModeButton();
    int GetPressedCamera(WORD* camera) const;
    int IsVideoModeActive() const;
    int IsToolBarVisible() const;
    CQbBar* GetToolBar() const { return m_bar; }
    void SetQuadButton(int quad);
    void UnpressButtons(int also, DWORD id);
    void SetRemoteStationIsConnected(int connected);
    void SetTriggerIdentification(const tagTriggerEntry* triggers, WORD adapter);
    void UpdateNamesOfCamerasAndRelays();

    // The handle of the control's message window: WM_COMMAND with a button id,
    // WM_TIMER of a relay's timer, kMsgPushCameraButton.
    platform::HWND messageHandle() const { return m_target->hwnd(); }
    WORD adapter() const { return m_adapter; }
    bool largeButtons() const { return m_large; }
    // The command ids built at construction, in that order.
    const std::vector<UINT>& commandIds() const { return m_ids; }

    // Handles a command as the frame's message map does.
    void OnCommand(UINT id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    friend class CQbBar;
    void OnButton(UINT id);
    void OnRelay(UINT id);
    void OnButtonQuad();
    void OnButtonQuad2();
    void OnButtonAutoSwitch();
    void OnButtonPtz();
    void OnTimer(platform::UINT_PTR id);
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    void buildButtons();
    void readProfile();
    void writeProfile();
    bool splitEnabled() const;
    void setSplitActive();
    int modeIndex() const { return m_cameras; }
    int relayIndex(int relay) const { return m_cameras + 1 + (m_mode == 2 ? 1 : 0) + relay; }
    int relayImage(const tagRelayBlock& relay) const;
    QString buttonText(const char* name) const;
    void fireRelay(WORD relay, int state);
    CKcReg barStateKey() const;
    void saveBarState();
    void postCommand(UINT id);
    void retitle();

    CLumora* m_capture;
    CDBLumo* m_database;
    WORD m_adapter;
    platform::HWND m_owner;
    platform::HWND m_notify = 0;
    platform::HWND m_overlay = 0;
    CQbBar* m_bar = nullptr;
    std::vector<UINT> m_ids;
    UINT m_baseStyle = 0;
    UINT m_baseState = 0;
    bool m_large = true;
    int m_ptz;
    WORD m_mode;
    int m_remoteConnected = 0;
    int m_cameras = 0;
    int m_relays = 0;
    std::unique_ptr<tagHWProfile> m_profile;
    std::unique_ptr<UiMessageTarget> m_target;
};
