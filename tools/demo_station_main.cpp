// velmoor-demo-station: prepares an instance of the recorder program as an
// already set-up demonstration station (see demo_station.h); the run command
// calls it before it starts the operator's program. Usage: velmoor-demo-station /U<id>
#include "trennick/app/demo_station.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string arg = argc == 2 ? argv[1] : "";
    if (arg.size() < 3 || (arg.compare(0, 2, "/U") != 0 && arg.compare(0, 2, "/u") != 0) ||
        arg.find_first_not_of("0123456789", 2) != std::string::npos) {
        std::fprintf(stderr, "usage: velmoor-demo-station /U<instance number>\n");
        return 2;
    }
    trennick::PrepareDemoStation(arg.substr(2));
    return 0;
}
