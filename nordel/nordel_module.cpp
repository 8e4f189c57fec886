// The stations manager's server library: its class and entry points, and the
// module's own trace object.

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "nordel/stations_mgr.h"
#include "platform/com/com_server.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZoStationsMgr>(CLSID_ZoStationsMgr, "Nordel.ZoStationsMgr.1", "Nordel.ZoStationsMgr",
                                               "ZoStationsMgr Class"),
};

// The module's trace object: built before the first object (not when the
// library is merely loaded) and deleted when the library goes. The module's
// version stamp is written at the same moment.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("NORDEL: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    // The version comes from this library's own file, named by an address inside it.
    static const bool stamped =
        (RecordModuleVersion("Nordel", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
