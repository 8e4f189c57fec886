#pragma once
// CStationsMgr: owns the process's one stations-directory object, the
// Nordel.ZoStationsMgr server. It creates the server, tells it where the
// station files and the event storage lie, and hands its interface to everyone
// through Get. Created, used and destroyed on the user-interface thread. When
// the server cannot be made, Get returns null and every user must test for it.

#include "nordel/nordel_lib.h"
#include "tavicore/tavicore_api.h"
#include "tavicore/tavicore_globals.h"

class TAVICORE_API CStationsMgr {
public:
    // Initialises COM for the calling thread, reads "DefaultPath" and
    // "StationsDBFolder" (Software\Quennel\Velmoor\Common\Storage; default the
    // program folder) and writes them back, creates the server and hands it both.
    CStationsMgr();
    virtual ~CStationsMgr();
    CStationsMgr(const CStationsMgr&) = delete;
    CStationsMgr& operator=(const CStationsMgr&) = delete;

    // The server's interface or null. The caller takes no reference and must not
    // release it.
    IZoStationsMgr* Get();

private:
    IZoStationsMgr* m_pStationsMgr = nullptr;
};
