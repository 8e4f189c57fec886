#pragma once
// Runs a program with arguments and collects its exit code and output: the
// dial-up library's only way to reach NetworkManager (through nmcli).
// Any thread; nothing throws; a program that cannot be started is reported by
// `started` false.

#include <optional>
#include <string>
#include <vector>

namespace dialvo {

struct CommandResult {
    bool started = false;
    int exitCode = -1;  // 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

// Runs `program` (a full path) with `args`, standard input from /dev/null and the
// C locale, so that the output does not depend on the user's language.
CommandResult runCommand(const std::string& program, const std::vector<std::string>& args);

// The full path of an executable found on PATH; nullopt when there is none.
std::optional<std::string> findOnPath(const std::string& name);

// Splits one line of nmcli's terse output into its fields: ':' separates them,
// "\:" and "\\" stand for ':' and '\'.
std::vector<std::string> splitTerse(const std::string& line);

}  // namespace dialvo
