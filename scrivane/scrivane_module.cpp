// The activity log engine's server library: its classes and entry points, and
// the module's own trace object.

#include "common/lumo_deb.h"
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

// Builds the module's trace object when the library is loaded and deletes it
// when the library goes.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("SCRIVANE: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
} g_moduleTrace;

}  // namespace

VELMOOR_COM_SERVER(kClasses)
