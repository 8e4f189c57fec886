// The activity log engine's server library: its classes and entry points, and
// the module's own trace object.

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "platform/com/com_server.h"
#include "scrivane/log_read.h"
#include "scrivane/log_write.h"

namespace {

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<Czo_LogWrite>(CLSID_zo_LogWrite, "Scrivane.zo_LogWrite.1", "Scrivane.zo_LogWrite",
                                             "zo_LogWrite Class"),
    platform::com::serverClass<Czo_LogRead>(CLSID_zo_LogRead, "Scrivane.zo_LogRead.1", "Scrivane.zo_LogRead",
                                            "zo_LogRead Class"),
};

// The module's trace object: built before the first object (not when the
// library is merely loaded) and deleted when the library goes. The module's
// version stamp is written at the same moment.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("SCRIVANE: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    // The version comes from this library's own file, named by an address inside it.
    static const bool stamped =
        (RecordModuleVersion("Scrivane", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
