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

// The file version the build puts in the module's version note.
// FIXME: reading it back from the module file here (GetModuleVersionStrings)
// makes LeakSanitizer's exit-time scan crash in processes that loaded this
// library; until that is understood the stamp uses the same text directly.
constexpr const char* kFileVersion = "1.0.0.0";

void startModule() {
    static ModuleTrace trace;
    static const bool stamped = (WriteVersionRecord("Nordel", kFileVersion), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
