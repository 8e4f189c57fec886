// CRemoteWnd's cameras: the site's adapters and cameras from its hardware
// profile, the quad view and the choice of camera and adapter, the video
// toolbar of the site's cameras with its trigger marks, the main window's
// adapters toolbar, the PTZ panel and the window's title after the camera.
#include "trennick/video/remote_wnd.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "resources/glossel_ids.h"
#include "tavicore/capture_base.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_toolbar.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/clients/zo_ptz_ui.h"
#include "trennick/image/animate_ctrl.h"
#include "trennick/image/bitmap_button.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/ui/window_text.h"
#include "trennick/video/video_mgr.h"

#include <QToolBar>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace trennick {

namespace {

// Guards the trigger handling against re-entry through nested message loops
// (a sound, a dialog) in the whole process.
std::atomic<bool> g_triggerBusy{false};

}  // namespace

WORD CRemoteWnd::currentAdapter() const {
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    return std::min<WORD>(adapter, kMaxAdapters - 1);
}

bool CRemoteWnd::profile(tagHWProfile& out) const {
    return m_database != nullptr && m_database->GetHWProfiles(&out) != 0;
}

int CRemoteWnd::quadInputs(const tagHWProfile& hw, WORD adapter) const {
    // Camera records of type 1 or 2 are the adapter's quad inputs.
    if (adapter >= kMaxAdapters) return 0;
    return std::min<int>(readDeviceData(hw.adapters[adapter]).quadInputCount, kQuadInputsPerAdapter);
}


void CRemoteWnd::quadView(WPARAM command) {
    tagHWProfile hw{};
    const WORD adapter = currentAdapter();
    const bool quadHere = profile(hw) && quadInputs(hw, adapter) > 0;
    if (quadHere) {
        if (m_capture != nullptr) m_capture->SetVideoInput(hw.currentAdapter, command == ID_RW_QUAD ? 1 : 2, 1);
        return;
    }
    if (command != ID_RW_QUAD || m_host == nullptr || m_host->splitMode()) return;
    m_host->setSplitMode(true);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(false);
    if (m_videoMgr != nullptr) m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
}

void CRemoteWnd::selectCamera(WORD camera) {
    if (m_capture != nullptr) m_capture->SetVideoInput(currentAdapter(), camera, 0);
    if (m_host != nullptr) m_host->setSplitMode(false);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(true);
}

void CRemoteWnd::selectAdapter(WORD adapter) {
    if (m_lumoraBar == nullptr) return;
    if ((m_holdFlags & 1) != 0) OnCommand(ID_RW_HOLD);
    m_lumoraBar->SetAdapter(adapter);
    if (m_database != nullptr) m_database->UpdateCurrentAdapter(adapter);
    if (m_host != nullptr) m_host->setSplitMode(false);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(true);
    UpdateAdaptersToolBar();
}

void CRemoteWnd::ShowLumoraBar(BOOL show) {
    if (!connected()) return;
    if (show) {
        CreateLumoraBar();
        UpdateLumoraBar();
    } else {
        destroyLumoraBar();
    }
}

void CRemoteWnd::CreateLumoraBar() {
    if (m_lumoraBar != nullptr || m_database == nullptr || m_hosted > 0) return;
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    bool ptz = false;
    if (m_ptzEnabled != 0) {
        const std::string program = m_host != nullptr ? m_host->ptzProgram() : std::string("tiltcab");
        m_ptz = std::make_unique<CZoPtzUI>(m_host != nullptr ? m_host->instanceId() : std::string(), program);
        ptz = m_ptz->Started();
        movePtzPanel();
    }
    m_lumoraBar = std::make_unique<CLumoraToolBarControl>(Handle(), adapter, m_capture, m_database, ptz ? 1 : 0,
                                                          WORD(quadInputs(hw, adapter)));
    if (m_lumoraBar->CreateToolBar(Handle()) == 0) {
        LUMO_TRACE(1, "Failed to create Lumora control");
        m_lumoraBar.reset();
        return;
    }
    if (m_settings != nullptr) m_lumoraBar->SetAlwaysOnTop(int(m_settings->alwaysOnTop));
    m_lumoraBar->show();
    m_lumoraBar->AlignBottom(this);
    raise();
}

void CRemoteWnd::UpdateLumoraBar() {
    if (m_lumoraBar == nullptr) return;
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    m_lumoraBar->UpdateAdapter(adapter);
    if (m_host != nullptr && m_host->splitMode()) {
        m_lumoraBar->PushModeButton();
    } else {
        m_lumoraBar->PushCamerabutton(hw.adapters[adapter].selectedInput);
        m_lumoraBar->PopUpModeButton();
    }
    if (quadInputs(hw, adapter) > 0) m_lumoraBar->PushModeButton();
    m_lumoraBar->UpdateDisplayRelayBitmaps();
    m_lumoraBar->UpdateNamesOfCamerasAndRelays();
}

void CRemoteWnd::destroyLumoraBar() {
    m_ptz.reset();
    m_ptzShown = false;
    if (m_lumoraBar == nullptr) return;
    m_lumoraBar.reset();
    if (QToolBar* adapters = m_host != nullptr ? m_host->adaptersToolBar() : nullptr) adapters->hide();
    LUMO_TRACE(5, "CRemoteWnd::DestroyLumoraBar()::LumoraBar destroyed");
}

void CRemoteWnd::UpdateAdaptersToolBar() {
    const WORD adapter = currentAdapter();
    LUMO_TRACE(5, "CRemoteWnd::UpdateAdaptersToolBar() m_wAdapter=%ld", long(adapter));
    QToolBar* bar = m_host != nullptr ? m_host->adaptersToolBar() : nullptr;
    if (bar == nullptr) {
        LUMO_TRACE(1, "!::IsWindow(m_pAdaptersToolBar->m_hWnd)");
        return;
    }
    tagHWProfile hw{};
    if (!profile(hw) || hw.adaptersNumber <= 1) {
        bar->hide();
        return;
    }
    const int adapters = std::min<int>(hw.adaptersNumber, kRwAdapterButtons);
    const WORD current = std::min<WORD>(hw.currentAdapter, kMaxAdapters - 1);
    if (m_lumoraBar != nullptr) m_lumoraBar->SetAdapter(current);
    for (QAction* action : bar->actions()) {
        const WPARAM id = WPARAM(action->data().toULongLong());
        if (id < ID_RW_ADAPTER_FIRST || id >= ID_RW_ADAPTER_FIRST + kRwAdapterButtons) continue;
        const int index = int(id - ID_RW_ADAPTER_FIRST);
        action->setVisible(index < adapters);
        action->setChecked(index == current);
    }
    bar->show();
}

void CRemoteWnd::togglePtzPanel() {
    if (m_ptz == nullptr) return;
    if (m_ptzShown) {
        m_ptz->SetCamera(0);
        m_ptzShown = false;
        return;
    }
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    const WORD camera = std::min<WORD>(hw.adapters[adapter].selectedInput, kCamerasPerAdapter - 1);
    const tagCameraBlock& block = hw.adapters[adapter].cameras[camera];
    m_ptz->SendCommandText(camera, fixed_text::Read(block.name, sizeof block.name));
    movePtzPanel();
    m_ptz->SetCamera(1);
    m_ptzShown = true;
}

void CRemoteWnd::movePtzPanel() {
    if (m_ptz == nullptr) return;
    const QRect frame = frameGeometry();
    m_ptz->SendMove(DWORD(frame.left() - kPtzPanelOffset), DWORD(frame.top()));
}

void CRemoteWnd::onReceivedTrigger() {
    LUMO_TRACE(5, "CRemoteWnd::OnReceivedTrigger");
    if (m_database == nullptr || m_connection == nullptr) return;
    if (g_triggerBusy.exchange(true)) {
        LUMO_TRACE(5, "CRemoteWnd::OnReceivedTrigger - reentrance");
        return;
    }
    const tagTrigger note = m_connection->GetTriggerNotification();
    tagHWProfile hw{};
    profile(hw);
    const WORD current = currentAdapter();
    const int adapters = std::min<int>(hw.adaptersNumber, kMaxAdapters);
    bool any = false;
    int lastAdapter = 0;
    m_lastTriggered.clear();
    for (int a = 0; a < adapters; ++a) {
        // The notification holds 16 cameras per adapter whatever the profile claims.
        const int cameras = std::min<int>(hw.adapters[a].camerasNumber, kCamerasPerAdapter);
        for (int c = 0; c < cameras; ++c) {
            if (note.entries[a][c][0] != 1) continue;
            any = true;
            lastAdapter = a;
            m_lastTriggered.emplace_back(a, c);
            if (m_autoTrack != 0 && c != hw.adapters[current].selectedInput) {
                if (m_host != nullptr && m_host->splitMode()) m_host->setSplitMode(false);
                if (m_capture != nullptr) m_capture->SetVideoInput(WORD(a), WORD(c), 0);
            }
        }
    }
    ++m_triggersHandled;
    if (any) {
        if (m_lumoraBar != nullptr && (lastAdapter == current || m_autoTrack != 0)) {
            static_assert(sizeof(tagTrigger) == sizeof(tagTriggerEntry) * kMaxAdapters * kCamerasPerAdapter);
            m_lumoraBar->SetTriggerIdentification(reinterpret_cast<const tagTriggerEntry*>(&note), WORD(lastAdapter));
        }
        if (m_host != nullptr) m_host->playEventSound(1);
    }
    g_triggerBusy = false;
}

std::string CRemoteWnd::cameraTitle(WPARAM kind) {
    tagHWProfile hw{};
    if (!profile(hw)) return {};
    const WORD adapter = currentAdapter();
    const tagAdapterBlock& block = hw.adapters[adapter];
    const std::string adapterName = fixed_text::Read(block.name, sizeof block.name);
    std::string cameraName;
    if (kind == 5) {
        // The selected entry among the adapter's quad inputs.
        const tagAdapterDeviceData data = readDeviceData(block);
        if (block.selectedInput < std::min<int>(data.quadInputCount, kQuadInputsPerAdapter)) {
            const char* name = data.quadInputs[block.selectedInput];
            cameraName = fixed_text::Read(name, kSettingsNameBytes);
        }
    } else {
        const WORD camera = std::min<WORD>(block.selectedInput, kCamerasPerAdapter - 1);
        cameraName = fixed_text::Read(block.cameras[camera].name, sizeof block.cameras[camera].name);
    }
    return adapterName + " - " + cameraName;
}

void CRemoteWnd::setTitle(const std::string& text) {
    const std::string instance = m_host != nullptr ? m_host->instanceId() : std::string();
    const std::string title = instance.empty() ? text : UiString(10000, "Velmoor") + instance + "-" + text;
    SetWindowTextIfChanged(this, title);
}

void CRemoteWnd::onReceivedProfile() {
    ++m_profilesSeen;
    setTitle(cameraTitle(0));
    LUMO_TRACE(5, "CRemoteWnd::OnReceivedHWProfiles() m_Comms->m_HWProfileReceived=%ld", long(m_profilesSeen));
    tagHWProfile hw{};
    if (profile(hw) && hw.adaptersNumber > 0 && m_hosted == 0 && connected()) {
        CreateLumoraBar();
        UpdateLumoraBar();
    }
}

void CRemoteWnd::onRpcDone(WPARAM kind) {
    if (m_hosted > 0) return;
    CreateLumoraBar();
    UpdateLumoraBar();
    setTitle(cameraTitle(kind));
    if (kind == 2 && m_lumoraBar != nullptr) m_lumoraBar->UpdateDisplayVideoInput();
    if ((kind == 1 || kind == 5) && m_host != nullptr) m_host->inputSwitchDone();
    if (kind == 1 && m_ptz != nullptr) {
        tagHWProfile hw{};
        profile(hw);
        const tagAdapterBlock& block = hw.adapters[currentAdapter()];
        const WORD camera = std::min<WORD>(block.selectedInput, kCamerasPerAdapter - 1);
        m_ptz->SendCommandText(camera, std::string(block.cameras[camera].name,
                                                   strnlen(block.cameras[camera].name, sizeof block.cameras[camera].name)));
    }
}

}  // namespace trennick
