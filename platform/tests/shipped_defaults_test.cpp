#include "platform/shipped_defaults.h"

#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ShippedDefaults, MissingFilesAreCopiedAndTheUsersAreKept) {
    const std::filesystem::path shipped = platform::homeFolder() / "shipped";
    std::filesystem::create_directories(shipped / "modems");
    std::ofstream(shipped / "modems" / "A.ini") << "[Modem]\nType=DATA\n";
    std::ofstream(shipped / "top.txt") << "shipped";
    ::setenv("VELMOOR_DATA", shipped.c_str(), 1);
    EXPECT_EQ(platform::shippedDataFolder(), shipped);

    const std::filesystem::path program = platform::programFolder();
    std::ofstream(program / "top.txt") << "the user's own";
    EXPECT_EQ(platform::installShippedDefaults(), 1);
    EXPECT_EQ(readAll(program / "modems" / "A.ini"), "[Modem]\nType=DATA\n");
    EXPECT_EQ(readAll(program / "top.txt"), "the user's own");
    EXPECT_EQ(platform::installShippedDefaults(), 0);  // nothing left to copy

    ::setenv("VELMOOR_DATA", (platform::homeFolder() / "none").c_str(), 1);
    EXPECT_EQ(platform::installShippedDefaults(), -1);
    ::unsetenv("VELMOOR_DATA");
}

}  // namespace
