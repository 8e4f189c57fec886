#include "platform/library.h"

#include "platform/folders.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(Library, NamesMapToSharedObjects) {
    const fs::path here = platform::executableFolder();
    struct Case {
        const char* name;
        std::vector<fs::path> candidates;
    };
    const std::vector<Case> cases = {
        {"qel.dll", {here / "libqel.so", "libqel.so"}},
        {"qel", {here / "libqel.so", "libqel.so"}},
        {"ZoCodec.DLL", {here / "libZoCodec.so", here / "libzocodec.so", "libZoCodec.so", "libzocodec.so"}},
        {"plugins\\zocodec.dll", {"plugins/libzocodec.so"}},
        {"/opt/v/libfoo.so.1", {"/opt/v/libfoo.so.1"}},
        {"libfoo.so", {here / "libfoo.so", "libfoo.so"}},
        {"notes.txt", {here / "notes.txt", "notes.txt"}},
        {"", {}},
        {"folder\\", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::libraryCandidates(c.name), c.candidates);
    }
}

TEST(Library, LoadsBesideTheProgramAndFindsSymbols) {
    for (auto [name, value] : {std::pair{"vlmfixture_noted.dll", 42}, std::pair{"VLMFIXTURE_PLAIN.DLL", 7}}) {
        SCOPED_TRACE(name);
        platform::LibraryError error;
        HMODULE library = platform::loadLibrary(name, &error);
        ASSERT_NE(library, nullptr) << error.text;
        auto function = reinterpret_cast<int (*)()>(platform::librarySymbol(library, "vlmFixtureValue"));
        ASSERT_NE(function, nullptr);
        EXPECT_EQ(function(), value);
        EXPECT_EQ(platform::librarySymbol(library, "noSuchExport"), nullptr);
        EXPECT_EQ(platform::librarySymbol(library, nullptr), nullptr);
        EXPECT_TRUE(platform::freeLibrary(library));
    }
    // A name with a folder, in the Windows form.
    std::string path = platform::executableFolder().string() + "\\vlmfixture_plain.dll";
    HMODULE library = platform::loadLibrary(path);
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(platform::freeLibrary(library));
    EXPECT_TRUE(platform::freeLibrary(nullptr));
    EXPECT_EQ(platform::librarySymbol(nullptr, "vlmFixtureValue"), nullptr);
}

TEST(Library, FallsBackToTheLoaderSearch) {
    HMODULE library = platform::loadLibrary("libm.so.6");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(platform::librarySymbol(library, "cos"), nullptr);
    EXPECT_TRUE(platform::freeLibrary(library));
}

TEST(Library, ReportsWhyALoadFailed) {
    platform::LibraryError error;
    EXPECT_EQ(platform::loadLibrary("nosuchlibrary.dll", &error), nullptr);
    EXPECT_EQ(error.code, platform::kErrorModuleNotFound);
    EXPECT_FALSE(error.text.empty());

    fs::path folder = platform::homeFolder() / "libs";
    fs::create_directories(folder);
    std::ofstream(folder / "libbroken.so") << "not a library";
    error = {};
    EXPECT_EQ(platform::loadLibrary((folder / "broken.dll").string(), &error), nullptr);
    EXPECT_EQ(error.code, platform::kErrorBadModule);
    EXPECT_NE(error.text.find("libbroken.so"), std::string::npos) << error.text;

    error = {};
    EXPECT_EQ(platform::loadLibrary((folder / "absent.dll").string(), &error), nullptr);
    EXPECT_EQ(error.code, platform::kErrorModuleNotFound);
}
