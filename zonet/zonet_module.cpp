// The network stream server component's library: its class and entry points,
// and the module's own trace object.

#include "common/lumo_deb.h"
#include "platform/com/com_server.h"
#include "zonet/zonet.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZoNetServer>(CLSID_ZOTCPServer, "ZONET.ZOTCPServer.1", "ZONET.ZOTCPServer",
                                             "ZOTCPServer Class"),
};

struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("ZONET: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() { static ModuleTrace trace; }

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
