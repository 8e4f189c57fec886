// The stations manager's server library: its class and entry points, and the
// module's own trace object.

#include "common/lumo_deb.h"
#include "nordel/stations_mgr.h"
#include "platform/com/com_server.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZoStationsMgr>(CLSID_ZoStationsMgr, "Nordel.ZoStationsMgr.1", "Nordel.ZoStationsMgr",
                                               "ZoStationsMgr Class"),
};

// Builds the module's trace object when the library is loaded and deletes it
// when the library goes.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("NORDEL: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
} g_moduleTrace;

}  // namespace

VELMOOR_COM_SERVER(kClasses)
