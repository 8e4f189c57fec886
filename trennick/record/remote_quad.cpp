#include "trennick/record/remote_quad.h"

#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"

#include <algorithm>
#include <memory>
#include <string>

namespace trennick {

namespace {

std::string adapterSection(int adapter) { return "RemoteQuad\\Adapters\\" + std::to_string(adapter); }
std::string cameraSection(int adapter, int camera) {
    return adapterSection(adapter) + "\\Cameras\\" + std::to_string(camera);
}

void write(CKcReg& reg, const std::string& section, const char* name, DWORD value) {
    reg.SetSection(section.c_str());
    reg.SetValueName(name);
    reg.Write(value);
}

// Panes and filler panes by the number of cameras in the cycle.
struct PaneLayout {
    WORD panes;
    int filler1;
    int filler2;
};
PaneLayout layoutFor(int cycle) {
    switch (cycle) {
    case 2: return {2, -1, -1};
    case 3: return {4, 3, -1};
    case 4: return {4, -1, -1};
    case 5: return {6, 4, -1};
    case 6: return {6, -1, -1};
    case 7: return {9, 3, 5};
    case 8: return {9, 4, -1};
    default: return {0, -1, -1};
    }
}

}  // namespace

CRemoteQuad::CRemoteQuad(CDBLumo* database) : m_database(database) {
    // A stored smallest delay of 0 would let the site be switched on every
    // pass; a largest below the smallest would leave no delay at all.
    m_minDelayMs = std::max<DWORD>(ProductDwordBack("RemoteQuad", "MinSplitDelay", 1000), 1);
    m_maxDelayMs = std::max(ProductDwordBack("RemoteQuad", "MaxSplitDelay", 10000), m_minDelayMs);
    m_splitDelayMs = std::clamp(ProductDwordBack("RemoteQuad", "SplitDelay", 1000), m_minDelayMs, m_maxDelayMs);
    for (int a = 0; a < kQuadAdapters; ++a) {
        Adapter& adapter = m_adapters[std::size_t(a)];
        adapter.mode = ProductDwordBack(adapterSection(a).c_str(), "IsSplitOrAutoSwitchMode", 0) != 0;
        adapter.split = ProductDwordBack(adapterSection(a).c_str(), "IsSplit", 0);
        int flagged = 0;
        for (int c = 0; c < kQuadCameras; ++c) {
            adapter.inCycle[std::size_t(c)] = ProductDwordBack(cameraSection(a, c).c_str(), "IsCameraInCycle", 0) != 0;
            if (adapter.inCycle[std::size_t(c)]) ++flagged;
        }
        // At least two cameras take part.
        for (int c = 0; c < kQuadCameras && flagged < 2; ++c) {
            if (!adapter.inCycle[std::size_t(c)]) {
                adapter.inCycle[std::size_t(c)] = true;
                ++flagged;
            }
        }
        assignPanes(a);
    }
}

CRemoteQuad::~CRemoteQuad() {
    CKcReg reg = ProductKey("RemoteQuad");
    write(reg, "RemoteQuad", "SplitDelay", m_splitDelayMs);
    for (int a = 0; a < kQuadAdapters; ++a) {
        const Adapter& adapter = m_adapters[std::size_t(a)];
        write(reg, adapterSection(a), "IsSplitOrAutoSwitchMode", adapter.mode ? 1 : 0);
        write(reg, adapterSection(a), "IsSplit", adapter.split);
        for (int c = 0; c < kQuadCameras; ++c) {
            write(reg, cameraSection(a, c), "IsCameraInCycle", adapter.inCycle[std::size_t(c)] ? 1 : 0);
        }
    }
}

CRemoteQuad::Adapter& CRemoteQuad::current() {
    return const_cast<Adapter&>(static_cast<const CRemoteQuad*>(this)->current());
}

int CRemoteQuad::currentIndex() const {
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    return std::min<int>(adapter, kQuadAdapters - 1);
}

const CRemoteQuad::Adapter& CRemoteQuad::current() const { return m_adapters[std::size_t(currentIndex())]; }

int CRemoteQuad::cameraCount(int adapter) const {
    if (m_database == nullptr) return kQuadCameras;
    auto profile = std::make_unique<tagHWProfile>();
    if (m_database->GetHWProfiles(profile.get()) == 0) return kQuadCameras;
    const int count = profile->adapters[adapter].camerasNumber;
    return count == 0 ? kQuadCameras : std::min(count, kQuadCameras);
}

void CRemoteQuad::assignPanes(int a) {
    Adapter& adapter = m_adapters[std::size_t(a)];
    const int cameras = cameraCount(a);
    int cycle = 0;
    for (int c = 0; c < cameras; ++c) {
        if (adapter.inCycle[std::size_t(c)]) ++cycle;
    }
    adapter.cycleCount = WORD(cycle);
    for (Pane& p : adapter.panes) {
        p.inUse = false;
        p.camera = 0;
        p.blank = false;
    }
    const PaneLayout layout = layoutFor(cycle);
    adapter.paneCount = layout.panes;
    if (layout.filler1 >= 0) adapter.panes[std::size_t(layout.filler1)].blank = true;
    if (layout.filler2 >= 0) adapter.panes[std::size_t(layout.filler2)].blank = true;
    std::size_t pane = 0;
    for (int c = 0; c < cameras && layout.panes != 0; ++c) {
        if (!adapter.inCycle[std::size_t(c)]) continue;
        while (pane < layout.panes && adapter.panes[pane].blank) ++pane;
        if (pane >= layout.panes) break;
        adapter.panes[pane].inUse = true;
        adapter.panes[pane].camera = WORD(c);
        ++pane;
    }
}

BOOL CRemoteQuad::rqIsSplitOrAutoSwitchMode() const {
    const Adapter& a = current();
    return a.mode && a.paneCount != 0;
}

void CRemoteQuad::rqSetSplitOrAutoSwitchMode(BOOL on) { current().mode = on != FALSE; }

BOOL CRemoteQuad::rqIsSwitchSuspended() const { return current().suspended; }

BOOL CRemoteQuad::rqIsTimeToSwitch(DWORD nowMs) const {
    const Adapter& a = current();
    return !a.suspended && nowMs - a.lastSwitchMs > m_splitDelayMs;
}

BOOL CRemoteQuad::rqSetCurrentCamera(WORD camera, DWORD nowMs) {
    Adapter& a = current();
    a.currentCamera = camera;
    for (WORD p = 0; p < a.paneCount; ++p) {
        if (a.panes[p].inUse && a.panes[p].camera == camera) {
            a.currentPane = p;
            a.lastSwitchMs = nowMs;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CRemoteQuad::rqIsNextPaneEmpty() const {
    const Adapter& a = current();
    if (a.paneCount == 0) return FALSE;
    const int index = (a.currentPane + 1) % a.paneCount;
    const BOOL empty = a.panes[std::size_t(index)].blank;
    LUMO_TRACE(5, "CRemoteQuad::rqIsNextPaneEmpty() Index = %ld bRet = %ld \n", long(index), long(empty));
    return empty;
}

BOOL CRemoteQuad::rqGetNextPaneRect(RECT& out) const {
    const Adapter& a = current();
    if (a.paneCount == 0) return FALSE;
    out = a.panes[std::size_t((a.currentPane + 1) % a.paneCount)].rect;
    return TRUE;
}

WORD CRemoteQuad::rqGetNextCamera() const {
    const Adapter& a = current();
    WORD adapterIndex = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapterIndex);
    const int cameras = cameraCount(std::min<int>(adapterIndex, kQuadAdapters - 1));
    for (int step = 1; step <= cameras; ++step) {
        const int c = (a.currentCamera + step) % cameras;
        if (a.inCycle[std::size_t(c)]) return WORD(c);
    }
    return 0;
}

WORD CRemoteQuad::rqCountCamerasInCycle() {
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    assignPanes(std::min<int>(adapter, kQuadAdapters - 1));
    return current().cycleCount;
}

BOOL CRemoteQuad::rqFindPaneOfCamera(WORD adapter, WORD camera, RECT& out) const {
    if (adapter >= kQuadAdapters) return FALSE;
    const Adapter& a = m_adapters[adapter];
    BOOL found = FALSE;
    for (WORD p = 0; p < a.paneCount; ++p) {
        if (a.panes[p].inUse && a.panes[p].camera == camera) {
            out = a.panes[p].rect;
            found = TRUE;
        }
    }
    return found;
}

int CRemoteQuad::rqGetPaneCount() const { return current().paneCount; }

void CRemoteQuad::rqGetQuadSize(int& width, int& height) const {
    width = current().quadWidth;
    height = current().quadHeight;
}

void CRemoteQuad::SetCameraInSequence(WORD camera, BOOL on) {
    if (camera < kQuadCameras) current().inCycle[camera] = on != FALSE;
}

void CRemoteQuad::SetSequenceDelay(DWORD seconds) {
    SetSplitDelayMs(DWORD(std::min<unsigned long long>(seconds * 1000ull, 0xFFFFFFFFull)));
}

void CRemoteQuad::SetSplitDelayMs(DWORD delayMs) { m_splitDelayMs = std::clamp(delayMs, m_minDelayMs, m_maxDelayMs); }

void CRemoteQuad::AssignPanes() { assignPanes(currentIndex()); }

BOOL CRemoteQuad::rqGetCurrentPane(RECT& out) const {
    const Adapter& a = current();
    if (a.currentPane >= kQuadPanes) return FALSE;
    out = a.panes[a.currentPane].rect;
    return TRUE;
}

BOOL CRemoteQuad::rqGetPane(int n, RECT& out) const {
    if (n < 0 || n >= kQuadPanes) return FALSE;
    out = current().panes[std::size_t(n)].rect;
    return TRUE;
}

BOOL CRemoteQuad::rqGetPaneData(int n) const {
    if (n < 0 || n >= kQuadPanes) return FALSE;
    return current().panes[std::size_t(n)].blank;
}

BOOL CRemoteQuad::rqGetPaneCamera(int n, WORD& camera) const {
    const Adapter& a = current();
    if (n < 0 || n >= a.paneCount) return FALSE;
    camera = a.panes[std::size_t(n)].camera;
    return TRUE;
}

BOOL CRemoteQuad::rqGetPaneIndexOfCamera(WORD camera, WORD& index) const {
    const Adapter& a = current();
    for (WORD p = 0; p < a.paneCount; ++p) {
        if (a.panes[p].inUse && a.panes[p].camera == camera) {
            index = p;
            return TRUE;
        }
    }
    return FALSE;
}

WORD CRemoteQuad::rqGetCurrentCamera() const { return current().currentCamera; }

BOOL CRemoteQuad::rqIsCameraInCycle(WORD camera) const {
    return camera < kQuadCameras && current().inCycle[camera];
}

void CRemoteQuad::GetState(RemoteQuadState& out) const {
    out = RemoteQuadState{};
    out.splitDelayMs = m_splitDelayMs;
    for (int i = 0; i < kQuadAdapters; ++i) {
        const Adapter& a = m_adapters[std::size_t(i)];
        RemoteQuadAdapterRecord& r = out.adapters[i];
        for (int p = 0; p < kQuadPanes; ++p) {
            const Pane& pane = a.panes[std::size_t(p)];
            r.panes[p].inUse = pane.inUse ? 1 : 0;
            r.panes[p].left = pane.rect.left;
            r.panes[p].top = pane.rect.top;
            r.panes[p].right = pane.rect.right;
            r.panes[p].bottom = pane.rect.bottom;
            r.panes[p].camera = pane.camera;
            r.panes[p].blank = pane.blank ? 1 : 0;
        }
        r.splitOrAutoSwitchMode = a.mode ? 1 : 0;
        r.split = a.split;
        r.currentCamera = a.currentCamera;
        r.currentPane = a.currentPane;
        r.lastSwitchMs = a.lastSwitchMs;
        r.paneCount = a.paneCount;
        r.cycleCount = a.cycleCount;
        r.quadWidth = a.quadWidth;
        r.quadHeight = a.quadHeight;
        r.switchingSuspended = a.suspended ? 1 : 0;
        for (int c = 0; c < kQuadCameras; ++c) r.cameraInCycle[c] = a.inCycle[std::size_t(c)] ? 1 : 0;
    }
}

void CRemoteQuad::SetState(const RemoteQuadState& in) {
    SetSplitDelayMs(in.splitDelayMs);
    for (int i = 0; i < kQuadAdapters; ++i) {
        Adapter& a = m_adapters[std::size_t(i)];
        const RemoteQuadAdapterRecord& r = in.adapters[i];
        for (int c = 0; c < kQuadCameras; ++c) a.inCycle[std::size_t(c)] = r.cameraInCycle[c] != 0;
        a.mode = r.splitOrAutoSwitchMode != 0;
        a.split = r.split;
        a.lastSwitchMs = r.lastSwitchMs;
        a.suspended = r.switchingSuspended != 0;
        const LONG limit = 0x7FFF;  // no picture is larger
        // Fields of a packed record are copied before they are compared.
        auto bounded = [limit](LONG v) { return v < 0 ? 0 : v > limit ? limit : v; };
        a.quadWidth = bounded(r.quadWidth);
        a.quadHeight = bounded(r.quadHeight);
        // The panes follow from the cycle; the rectangles are kept where the
        // layout that the record names is one this object makes.
        assignPanes(i);
        if (r.paneCount == a.paneCount) {
            for (int p = 0; p < a.paneCount; ++p) {
                const RemoteQuadPaneRecord& from = r.panes[p];
                a.panes[std::size_t(p)].rect =
                    RECT{bounded(from.left), bounded(from.top), bounded(from.right), bounded(from.bottom)};
            }
        }
        a.currentCamera = r.currentCamera < kQuadCameras ? r.currentCamera : 0;
        a.currentPane = r.currentPane < a.paneCount ? r.currentPane : 0;
    }
}

void CRemoteQuad::rqCalcLayout(int w, int h, int screenWidth, int screenHeight) {
    WORD adapterIndex = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapterIndex);
    const int index = std::min<int>(adapterIndex, kQuadAdapters - 1);
    const WORD keepCamera = m_adapters[std::size_t(index)].currentCamera;
    const WORD keepPane = m_adapters[std::size_t(index)].currentPane;
    assignPanes(index);
    Adapter& a = m_adapters[std::size_t(index)];
    a.currentCamera = keepCamera;
    a.currentPane = keepPane < a.paneCount ? keepPane : 0;
    const int panes = a.paneCount;
    if (panes == 0 || panes > kQuadPanes) return;
    const int columns = panes == 2 ? 2 : panes <= 4 ? 2 : 3;
    const int rows = panes == 2 ? 1 : panes <= 6 ? 2 : 3;
    const int limitW = screenWidth - 100;
    const int limitH = screenHeight - 100;
    if (columns * w >= limitW) w = limitW / columns;
    if (rows * h >= limitH) h = limitH / rows;
    h = int(w * 0.8183306055646481);
    if (rows * h >= limitH) {
        h = limitH / rows;
        w = int(h * 1.222);
    }
    a.quadWidth = columns * w;
    a.quadHeight = rows * h;
    // Serpentine order: for four panes 0 1 / 3 2; for six and nine 0 1 2 / 5 4 3 / 6 7 8.
    static constexpr int kTwoByTwo[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    static constexpr int kThreeByThree[9][2] = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {1, 1}, {0, 1}, {0, 2}, {1, 2}, {2, 2}};
    for (int p = 0; p < panes; ++p) {
        const int* cell = panes == 2 ? kThreeByThree[p] : panes == 4 ? kTwoByTwo[p] : kThreeByThree[p];
        a.panes[std::size_t(p)].rect = RECT{cell[0] * w, cell[1] * h, (cell[0] + 1) * w, (cell[1] + 1) * h};
    }
}

}  // namespace trennick
