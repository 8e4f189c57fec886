// The audio codec server's library: its class and entry points, and the
// module's own trace object.

#include "ambrelapi/ambrel.h"
#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "platform/com/com_server.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CAmbrel>(CLSID_Ambrel, "Ambrel.Ambrel.1", "Ambrel.Ambrel", "Ambrel Class"),
};

struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("AMBRELAPI: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    static const bool stamped =
        (RecordModuleVersion("Ambrelapi", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
