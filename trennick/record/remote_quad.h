#pragma once
// CRemoteQuad: the split and auto-switch view of a remote site's adapter. Per
// adapter it keeps which cameras take part in the cycle, the pane of each in
// the split picture, the current camera and pane and the switching clock, and
// keeps its choices under "RemoteQuad" in the registry.
//
// Thread: the user-interface thread only. Failure: a database without a
// hardware profile gives 16 cameras per adapter; nothing throws.

#include "platform/types.h"

#include <array>

class CDBLumo;

namespace trennick {

inline constexpr int kQuadAdapters = 6;
inline constexpr int kQuadCameras = 16;
inline constexpr int kQuadPanes = 9;

class CRemoteQuad {
public:
    struct Pane {
        bool inUse = false;
        RECT rect{};
        WORD camera = 0;
        bool blank = false;  // a filler pane that never receives a camera
    };

    // Loads the delay, the modes and the cycles; an adapter with fewer than
    // two cameras flagged gets two (kept at destruction).
    explicit CRemoteQuad(CDBLumo* database);
    virtual ~CRemoteQuad();
    CRemoteQuad(const CRemoteQuad&) = delete;
    CRemoteQuad& operator=(const CRemoteQuad&) = delete;

    // All of these work on the database's current adapter.
    BOOL rqIsSplitOrAutoSwitchMode() const;
    void rqSetSplitOrAutoSwitchMode(BOOL on);
    BOOL rqIsTimeToSwitch(DWORD nowMs) const;
    BOOL rqIsSwitchSuspended() const;
    BOOL rqSetCurrentCamera(WORD camera, DWORD nowMs);
    BOOL rqIsNextPaneEmpty() const;
    BOOL rqGetNextPaneRect(RECT& out) const;
    WORD rqGetNextCamera() const;
    WORD rqCountCamerasInCycle();
    BOOL rqFindPaneOfCamera(WORD adapter, WORD camera, RECT& out) const;
    // Lays the panes out for tiles of the picture size.
    void rqCalcLayout(int width, int height, int screenWidth = 1920, int screenHeight = 1080);
    int rqGetPaneCount() const;
    void rqGetQuadSize(int& width, int& height) const;
    // Kit requests: a camera's cycle flag, and the delay in seconds.
    void SetCameraInSequence(WORD camera, BOOL on);
    void SetSequenceDelay(DWORD seconds) { m_splitDelayMs = seconds * 1000; }
    DWORD SplitDelayMs() const { return m_splitDelayMs; }

private:
    struct Adapter {
        std::array<Pane, kQuadPanes> panes{};
        bool mode = false;
        DWORD split = 0;
        WORD currentCamera = 0;
        WORD currentPane = 0;
        DWORD lastSwitchMs = 0;
        WORD paneCount = 0;
        WORD cycleCount = 0;
        int quadWidth = 0;
        int quadHeight = 0;
        bool suspended = false;
        std::array<bool, kQuadCameras> inCycle{};
    };
    Adapter& current();
    const Adapter& current() const;
    int cameraCount(int adapter) const;
    void assignPanes(int adapter);

    CDBLumo* m_database;
    DWORD m_splitDelayMs = 1000;
    std::array<Adapter, kQuadAdapters> m_adapters{};
};

}  // namespace trennick
