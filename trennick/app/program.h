#pragma once
// The recorder program's life inside an existing Qt application: what main()
// does once the application object is made, so tests run the very same road.

#include <string>
#include <vector>

namespace trennick {

// Runs the program with its arguments (after its name). Without a display it
// runs unattended: a box is written to standard error instead of waiting, and a
// start that fails on one ends with a non-zero status. SIGTERM and SIGINT close
// the program as its own close does. Returns the exit status.
int RunRecorderProgram(const std::vector<std::string>& args, const std::string& programPath);

}  // namespace trennick
