// velmoor-demo: a program that traces to the trace viewer. When the Windows
// folder has no trace configuration yet, it writes one that sends every line to
// the viewer window and starts the viewer; then it traces a few lines a second
// for a while and ends. Usage: velmoor-demo [seconds] (default 60).

#include "common/lumo_deb.h"
#include "platform/folders.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        seconds = 60;
    }
    auto ini = platform::windowsFolder() / "LUMODEBWIN.INI";
    std::error_code error;
    if (!std::filesystem::exists(ini, error)) {
        std::ofstream(ini) << "[LumoDeb]\nOutput=2\nLevel=5\nLumoDebWinAutoLoad=1\n";
    }
    LumoDebCreate(kLumoDebFromFile);
    gpLumoDeb->SetPrefix("VELMOOR :");
    LUMO_TRACE(5, "VELMOOR started ....");

    int tick = 0;
    const int ticks = seconds * 4;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++tick;
        LUMO_TRACE(5, "ENTER %s", "CDemo::OnTimer()");
        LUMO_TRACE(3, "[I] tick %d of %d", tick, ticks);
        if (tick % 20 == 0) {
            LUMO_TRACE(1, "[E] demo error line %d", tick / 20);
        }
        LUMO_TRACE(5, "LEAVE %s", "CDemo::OnTimer()");
        if (tick >= ticks) {
            LUMO_TRACE(3, "[I] demo ends");
            QCoreApplication::quit();
        }
    });
    timer.start(250);
    int result = app.exec();
    LumoDebDestroy();
    return result;
}
