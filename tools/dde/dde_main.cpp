// velmoor-dde: sends DDE commands to a running recorder. See --help.

#include "tools/dde/dde_client.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kHelp =
    "velmoor-dde: drives a running recorder through its DDE conversation.\n"
    "\n"
    "Usage: velmoor-dde [--service NAME] [--timeout MS] execute COMMANDS\n"
    "       velmoor-dde [--service NAME] [--timeout MS] request ITEM\n"
    "\n"
    "  --service NAME   the recorder's service name (default Velmoor)\n"
    "  --timeout MS     how long to wait for each answer (default 20000)\n"
    "  execute          runs bracketed commands, for instance \"[Listen]\",\n"
    "                   \"[Connect 127.0.0.1:4599]\", \"[DisConnect]\", \"[Send_Business_Card]\",\n"
    "                   \"[Queue_File(/path)]\", \"[Send_File(/path)]\", \"[Close]\"\n"
    "  request          prints the item's value as the recorder answers it\n"
    "\n"
    "Exit status: 0 done, 1 refused, 2 no recorder answered, 3 bad arguments.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string service = "Velmoor";
    long timeoutMs = 20000;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        const std::string option = argv[at];
        if (option == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (at + 1 >= argc) {
            std::fprintf(stderr, "velmoor-dde: %s needs a value (see --help)\n", option.c_str());
            return 3;
        }
        if (option == "--service") {
            service = argv[++at];
        } else if (option == "--timeout") {
            char* end = nullptr;
            timeoutMs = std::strtol(argv[++at], &end, 10);
            if (end == argv[at] || *end != '\0' || timeoutMs < 1 || timeoutMs > 600000) {
                std::fprintf(stderr, "velmoor-dde: --timeout takes 1 to 600000\n");
                return 3;
            }
        } else {
            std::fprintf(stderr, "velmoor-dde: unknown option %s (see --help)\n", option.c_str());
            return 3;
        }
    }
    if (argc - at != 2 || (std::strcmp(argv[at], "execute") != 0 && std::strcmp(argv[at], "request") != 0)) {
        std::fputs(kHelp, stderr);
        return 3;
    }
    QCoreApplication app(argc, argv);
    velmoor::dde::DdeClient client{std::chrono::milliseconds(timeoutMs)};
    if (!client.Connect(service)) {
        std::fprintf(stderr, "velmoor-dde: no recorder answers as %s\n", service.c_str());
        return 2;
    }
    if (std::strcmp(argv[at], "execute") == 0) {
        const int status = client.Execute(argv[at + 1]);
        client.Terminate();
        if (status < 0) {
            std::fprintf(stderr, "velmoor-dde: the recorder did not acknowledge\n");
            return 2;
        }
        std::printf("ack 0x%04X\n", static_cast<unsigned>(status));
        return (status & 0x8000) != 0 ? 0 : 1;
    }
    const auto value = client.Request(argv[at + 1]);
    client.Terminate();
    if (!value) {
        std::fprintf(stderr, "velmoor-dde: the recorder did not answer\n");
        return 2;
    }
    std::printf("%s\n", value->c_str());
    return 0;
}
