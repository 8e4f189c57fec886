#include "platform/folders.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(Folders, LieUnderTheHomeAndExist) {
    fs::path home = std::getenv("VELMOOR_HOME");
    EXPECT_EQ(platform::homeFolder(), home);
    for (const auto& folder : {platform::windowsFolder(), platform::programFolder(), platform::runtimeFolder()}) {
        SCOPED_TRACE(folder.string());
        EXPECT_EQ(folder.parent_path(), home);
        EXPECT_TRUE(fs::is_directory(folder));
    }
}

TEST(Folders, FollowTheEnvironment) {
    fs::path saved = std::getenv("VELMOOR_HOME");
    ::unsetenv("VELMOOR_HOME");
    ::setenv("XDG_DATA_HOME", (saved / "xdg").c_str(), 1);
    EXPECT_EQ(platform::homeFolder(), saved / "xdg" / "velmoor");
    ::setenv("VELMOOR_HOME", saved.c_str(), 1);
    EXPECT_EQ(platform::homeFolder(), saved);
}
