#pragma once
// CRemoteQuad: the split and auto-switch view of a remote site's adapter. Per
// adapter it keeps which cameras take part in the cycle, the pane of each in
// the split picture, the current camera and pane and the switching clock, and
// keeps its choices under "RemoteQuad" in the registry.
//
// Everything that comes from outside (the registry, a state record, the kit's
// sequence requests) is checked: camera numbers beyond 15 are ignored, the
// delay is kept between MinSplitDelay and MaxSplitDelay, a pane count that is
// not one of the layouts and a current pane beyond it are made good again.
//
// Thread: the user-interface thread only. Failure: a database without a
// hardware profile gives 16 cameras per adapter; nothing throws.

#include "platform/types.h"

#include <array>
#include <cstddef>

class CDBLumo;

namespace trennick {

inline constexpr int kQuadAdapters = 6;
inline constexpr int kQuadCameras = 16;
inline constexpr int kQuadPanes = 9;

#pragma pack(push, 1)
// One pane of an adapter's split picture, as the state record keeps it.
struct RemoteQuadPaneRecord {
    DWORD inUse;
    LONG left, top, right, bottom;
    BYTE unused[4];
    WORD camera;
    DWORD blank;
};
static_assert(sizeof(RemoteQuadPaneRecord) == 30);

struct RemoteQuadAdapterRecord {
    RemoteQuadPaneRecord panes[kQuadPanes];
    DWORD splitOrAutoSwitchMode;
    DWORD split;
    WORD currentCamera;
    WORD currentPane;
    DWORD lastSwitchMs;
    WORD paneCount;
    WORD cycleCount;
    BYTE unused[8];
    LONG quadWidth, quadHeight;
    DWORD switchingSuspended;
    DWORD cameraInCycle[kQuadCameras];
};
static_assert(sizeof(RemoteQuadAdapterRecord) == 374);

// The whole state: the split delay and the six adapters.
struct RemoteQuadState {
    DWORD splitDelayMs;
    RemoteQuadAdapterRecord adapters[kQuadAdapters];
};
static_assert(sizeof(RemoteQuadState) == 2248);
#pragma pack(pop)

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

    // The whole state, copied out and in; what comes in is checked first.
    void GetState(RemoteQuadState& out) const;
    void SetState(const RemoteQuadState& in);

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
    BOOL rqGetCurrentPane(RECT& out) const;
    // Pane n (0-8); FALSE above 8.
    BOOL rqGetPane(int n, RECT& out) const;
    // The blank flag of pane n (FALSE above 8).
    BOOL rqGetPaneData(int n) const;
    // The camera of pane n; FALSE when n is not below the pane count.
    BOOL rqGetPaneCamera(int n, WORD& camera) const;
    BOOL rqGetPaneIndexOfCamera(WORD camera, WORD& index) const;
    WORD rqGetCurrentCamera() const;
    BOOL rqIsCameraInCycle(WORD camera) const;
    void rqGetQuadSize(int& width, int& height) const;
    // Kit requests: a camera's cycle flag (a camera beyond 15 is ignored),
    // and the delay in seconds, kept between the smallest and largest delay.
    void SetCameraInSequence(WORD camera, BOOL on);
    void SetSequenceDelay(DWORD seconds);
    // The settings dialog: the delay in milliseconds (kept in range) and the
    // panes assigned again for the new cycle.
    void SetSplitDelayMs(DWORD delayMs);
    void AssignPanes();
    DWORD SplitDelayMs() const { return m_splitDelayMs; }
    DWORD MinSplitDelayMs() const { return m_minDelayMs; }
    DWORD MaxSplitDelayMs() const { return m_maxDelayMs; }

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
    int currentIndex() const;
    int cameraCount(int adapter) const;
    void assignPanes(int adapter);

    CDBLumo* m_database;
    DWORD m_splitDelayMs = 1000;
    DWORD m_minDelayMs = 1000;
    DWORD m_maxDelayMs = 10000;
    std::array<Adapter, kQuadAdapters> m_adapters{};
};

}  // namespace trennick
