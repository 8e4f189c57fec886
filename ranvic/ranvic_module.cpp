// The H.263 decoder server's library: its class and entry points, and the
// module's own trace object.

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "platform/com/com_server.h"
#include "ranvic/zoh263dec.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZOH263DEC>(CLSID_ZOH263DEC, "RANVIC.ZOH263DEC.1", "RANVIC.ZOH263DEC",
                                           "ZOH263DEC Class"),
};

struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("ZOH263DEC: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    static const bool stamped =
        (RecordModuleVersion("Ranvic", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
