// The settings-profile store's server library: its class and entry points, and
// the module's own trace object.

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "morvel/rem_set_db.h"
#include "platform/com/com_server.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CRemSetDB>(CLSID_RemSetDB, "Morvel.RemSetDB.1", "Morvel.RemSetDB", "RemSetDB Class"),
};

// The module's trace object, built before the first object and deleted when
// the library goes; the module's version stamp is written at the same moment.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("MORVEL: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    static const bool stamped =
        (RecordModuleVersion("Morvel", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
