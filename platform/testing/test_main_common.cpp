#include "platform/testing/test_main_common.h"

#include "platform/testing/child_process.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <unistd.h>

namespace velmoor::testing {
namespace {

std::string makeFreshHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vlm-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    return pattern;
}

// Each test case gets a fresh home of its own, as it does when CTest runs it
// in a process of its own, so the whole program run as one process sees the
// same truth. The homes are removed at the end.
class FreshHomePerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        m_homes.push_back(makeFreshHome());
        ::setenv("VELMOOR_HOME", m_homes.back().c_str(), 1);
    }
    void removeAll() {
        for (const auto& home : m_homes) {
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
        }
        m_homes.clear();
    }

private:
    std::vector<std::string> m_homes;
};

}  // namespace

int runTestMain(int argc, char** argv, const ApplicationFactory& makeApplication) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int childExit = 0;
    if (std::getenv("VELMOOR_TEST_CHILD_OF") != nullptr) {
        auto app = makeApplication(argc, argv);
        if (runChildRole(argc, argv, childExit)) {
            return childExit;
        }
    }

    std::string home = makeFreshHome();
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    ::setenv("VELMOOR_TEST_CHILD_OF", std::to_string(::getpid()).c_str(), 1);

    auto app = makeApplication(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    auto* perTest = new FreshHomePerTest;  // the listener list owns it
    ::testing::UnitTest::GetInstance()->listeners().Append(perTest);
    int result = RUN_ALL_TESTS();
    app.reset();
    const bool keep = std::getenv("VELMOOR_KEEP_HOME") != nullptr;
    if (!keep) perTest->removeAll();

    if (std::getenv("VELMOOR_KEEP_HOME") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    } else {
        std::fprintf(stderr, "VELMOOR_HOME kept: %s\n", home.c_str());
    }
    return result;
}

}  // namespace velmoor::testing

// LeakSanitizer's exit-time scan crashes on the dynamic TLS of libraries loaded
// with dlopen (the COM servers) unless it leaves __tls_get_addr alone. Every
// test program links this file, so the option holds however the test is run.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
