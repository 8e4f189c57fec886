// The video encoder component's library: its class and entry points, and the
// module's own trace object.

#include "common/lumo_deb.h"
#include "platform/com/com_server.h"
#include "zoenc/zoenc.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZoVideoEncoder>(CLSID_ZoVideoEncoder, "ZOENC.ZoVideoEncoder.1", "ZOENC.ZoVideoEncoder",
                                                "ZoVideoEncoder Class"),
};

struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("ZOENC: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() { static ModuleTrace trace; }

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
