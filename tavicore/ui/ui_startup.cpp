// The window library's share of the engine's start-up: its own trace object
// (each shared library has one), built and destroyed with the engine's and
// carrying the same prefix, so the windows trace as the engine does.

#include "common/lumo_deb.h"
#include "tavicore/ui_engine.h"

namespace {

void followEngine(DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH) {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("Tavicore: ");
    } else if (reason == DLL_PROCESS_DETACH) {
        LumoDebDestroy();
    }
}

[[maybe_unused]] const bool gJoined = (TavicoreJoinStartup(&followEngine), true);

}  // namespace
