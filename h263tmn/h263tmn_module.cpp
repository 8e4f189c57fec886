// The H.263 decoder component's library: its class and entry points, and the
// module's own trace object.

#include "common/lumo_deb.h"
#include "h263tmn/h263tmn.h"
#include "platform/com/com_server.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CH263Tmn>(CLSID_H263Tmn, "H263TMN.H263Tmn.1", "H263TMN.H263Tmn", "H263Tmn Class"),
};

struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("H263TMN: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() { static ModuleTrace trace; }

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
