#pragma once
// CZoTiltwork: the main program's client of the PTZ engine. It holds the
// engine (none when the engine cannot be created) and fills the PTZ protocol
// lists of the remote setup pages from it.
//
// Thread: the thread that created it (the engine is apartment-threaded).
// Failure: without an engine the lists hold only the "None" entry; a protocol
// whose serial parameters cannot be read is skipped.

#include "platform/com/com_ptr.h"
#include "platform/types.h"
#include "trennick/clients/zo_tiltwork_api.h"

#include <cstddef>

namespace trennick {

#pragma pack(push, 1)
struct PtzProtocolEntry {
    WORD portId;
    WORD portStyle;
    DWORD baudRate;
    WORD parity;
    WORD dataBits;
    WORD stopBits;
    WORD serialType;
    char name[28];      // ANSI, terminated within the field
    WORD nameChar15;    // the name's fifteenth character
    DWORD used;         // 1
    DWORD reserved;     // 0
};
#pragma pack(pop)
static_assert(sizeof(PtzProtocolEntry) == 54);

inline constexpr int kPtzProtocolLists = 4;
inline constexpr int kPtzProtocolEntries = 50;

// The protocol lists of the setup pages' settings record: one 50-entry list
// per block of that record, all four filled alike.
struct PtzProtocolLists {
    PtzProtocolEntry lists[kPtzProtocolLists][kPtzProtocolEntries];
};

class CZoTiltwork {
public:
    // Creates the engine (zo_Tiltwork for Izo_Tiltwork) and reads the Ptz settings.
    CZoTiltwork();
    // Uses the given engine (adds a reference); null: no engine.
    explicit CZoTiltwork(Izo_Tiltwork* engine);
    ~CZoTiltwork();
    CZoTiltwork(const CZoTiltwork&) = delete;
    CZoTiltwork& operator=(const CZoTiltwork&) = delete;

    void AddRemoteProtocols(PtzProtocolLists& record);

    bool HasEngine() const { return static_cast<bool>(m_pTiltwork); }
    WORD PortId() const { return m_portId; }
    WORD PortStyle() const { return m_portStyle; }
    bool PtzEnabled() const { return m_ptzEnabled; }

private:
    void readSettings();

    platform::com::ComPtr<Izo_Tiltwork> m_pTiltwork;
    bool m_comInitialised = false;
    WORD m_portId = 1;
    WORD m_portStyle = 2;
    bool m_ptzEnabled = false;
};

}  // namespace trennick
