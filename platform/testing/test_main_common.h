#pragma once
// The part every test main shares: child roles of two-process tests, the fresh
// temporary VELMOOR_HOME of each test process and the GoogleTest run. A main
// hands over how its Qt application is made (a core application for headless
// tests, a widget application for tests of windows).

#include <QCoreApplication>
#include <functional>
#include <memory>

namespace velmoor::testing {

using ApplicationFactory = std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)>;

// Runs a child role named on the command line, or else every test; returns the
// process's exit code.
int runTestMain(int argc, char** argv, const ApplicationFactory& makeApplication);

}  // namespace velmoor::testing
