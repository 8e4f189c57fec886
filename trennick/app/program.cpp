#include "trennick/app/program.h"

#include "tavicore/ui/ui_window.h"
#include "trennick/app/kiv_app.h"

namespace trennick {

int RunRecorderProgram(const std::vector<std::string>& args, const std::string& programPath) {
    UiSetUnattended(UiPlatformHasNoDisplay());
    CKivApp app(args, programPath);
    return app.Run();
}

}  // namespace trennick
