// The main of every test program. Each process gets a fresh temporary
// VELMOOR_HOME (removed at exit by the process that made it, kept when
// VELMOOR_KEEP_HOME is set), Qt runs headless, and a child role named on the
// command line runs instead of the tests.

#include "platform/testing/child_process.h"

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

std::string makeFreshHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vlm-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    return pattern;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int childExit = 0;
    if (std::getenv("VELMOOR_TEST_CHILD_OF") != nullptr) {
        QCoreApplication app(argc, argv);
        if (velmoor::testing::runChildRole(argc, argv, childExit)) {
            return childExit;
        }
    }

    std::string home = makeFreshHome();
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    ::setenv("VELMOOR_TEST_CHILD_OF", std::to_string(::getpid()).c_str(), 1);

    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();

    if (std::getenv("VELMOOR_KEEP_HOME") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    } else {
        std::fprintf(stderr, "VELMOOR_HOME kept: %s\n", home.c_str());
    }
    return result;
}
