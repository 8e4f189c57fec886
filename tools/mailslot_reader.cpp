// mailslot-reader: creates a mailslot and prints every message it receives, one
// per line, until it is stopped. Usage: mailslot-reader [name] (default LumoDebWin).

#include "platform/last_error.h"
#include "platform/mailslot.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::string name = argc > 1 ? argv[1] : "LumoDebWin";
    if (name == "--help") {
        std::printf("usage: mailslot-reader [name]\nPrints each message of the mailslot (default LumoDebWin).\n");
        return 0;
    }
    if (name.find('\\') == std::string::npos) {
        name = "\\\\.\\mailslot\\" + name;
    }
    platform::MailslotServer server(name, 0);
    if (!server.isOpen()) {
        std::fprintf(stderr, "mailslot-reader: cannot create %s: %s\n", name.c_str(),
                     platform::systemMessage(platform::GetLastError()).c_str());
        return 1;
    }
    std::vector<char> message;
    for (;;) {
        auto result = server.read(message, 0xFFFFFFFF);
        if (result == platform::MailslotServer::ReadResult::Failed) {
            std::fprintf(stderr, "mailslot-reader: read failed: %s\n",
                         platform::systemMessage(platform::GetLastError()).c_str());
            return 1;
        }
        if (result != platform::MailslotServer::ReadResult::Message) {
            continue;
        }
        // A message is a line with or without its terminator, maybe cut short.
        std::size_t length = ::strnlen(message.data(), message.size());
        std::fwrite(message.data(), 1, length, stdout);
        if (length == 0 || message[length - 1] != '\n') {
            std::fputc('\n', stdout);
        }
        std::fflush(stdout);
    }
}
