// The main of every headless test program. Each process gets a fresh temporary
// VELMOOR_HOME (removed at exit by the process that made it, kept when
// VELMOOR_KEEP_HOME is set), a Qt core application, and a child role named on
// the command line runs instead of the tests.

#include "platform/testing/test_main_common.h"

int main(int argc, char** argv) {
    return velmoor::testing::runTestMain(argc, argv, [](int& count, char** values) {
        return std::make_unique<QCoreApplication>(count, values);
    });
}
