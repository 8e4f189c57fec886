// The release check of an upgrade image against the unit's release.

#include "panels_test_support.h"
#include "trennick/panels/release_check.h"

#include <gtest/gtest.h>

using namespace trennick;
using namespace panelstest;

namespace {

// A file of `length` bytes with `text` at `offset` (sparse: cheap to make).
std::string image(const char* name, std::uint64_t length, std::uint64_t offset, const std::string& text) {
    const auto path = platform::homeFolder() / "images" / name;
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::remove(path);
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(offset));
        out << text;
    }
    std::filesystem::resize_file(path, length);
    return path.string();
}

}  // namespace

TEST(ReleaseCheck, ImagesAreRefusedOrQueuedByTheUnitsRelease) {
    const std::string v25 = image("v25/ZO10.BIN", 1509636, 1402568, "Release 2.5");
    const std::string v21 = image("v21/zo10.bin", 1358276, 1277384, "Release 2.1");
    const std::string v112 = image("v112/ZO10.BIN", 1335084, 1258944, "Release 1.12");
    const std::string unknownLength = image("odd/ZO10.BIN", 1000, 0, "Release 2.5");
    const std::string wrongText = image("bad/ZO10.BIN", 1509636, 1402568, "Release 9.9");
    const std::string otherName = image("ZO10.BIN.OLD", 1509636, 1402568, "Release 2.5");
    const std::string missing = (platform::homeFolder() / "images" / "gone" / "ZO10.BIN").string();
    struct Case {
        std::string path;
        int kind;
        const char* release;
        int result;
        int told;   // the refusal shown
        int asked;  // the question asked (answered no)
    };
    const Case cases[] = {
        {v25, 2, "Release 2.6", 1, 1, 0},      // older than the unit: refused
        {v21, 2, "Release 2.1", 0, 0, 0},      // the same release: queued
        {v25, 2, "Release 2.1", 0, 0, 0},      // newer: queued
        {v112, 2, "Release 2.3", 1, 1, 0},
        {v25, 1, "Release 2.6", 0, 0, 0},      // a recorder takes any file
        {v25, 0, "", 0, 0, 0},
        {unknownLength, 2, "Release 2.6", 0, 0, 0},
        {wrongText, 2, "Release 2.6", 0, 0, 0},
        {otherName, 2, "Release 2.6", 0, 0, 0},  // not the image's name
        {v25, 2, "Release 7", 1, 0, 1},        // unknown release: asked, "no"
        {missing, 2, "Release 7", 1, 0, 1},    // unreadable image, unknown release: asked
        {missing, 2, "Release 2.5", 0, 0, 0},
        {"", 2, "Release 2.6", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " / " + c.release);
        int told = 0, asked = 0;
        std::string askedImage = "unset";
        ReleaseCheckUi ui;
        ui.remote = [&](int& kind, std::string& release) {
            kind = c.kind;
            release = c.release;
            return true;
        };
        ui.tell = [&](unsigned id, const std::string&, const std::string&) { told += id == kStrImageOlder; };
        ui.ask = [&](unsigned id, const std::string& image, const std::string&) {
            asked += id == kStrUnitReleaseUnknown;
            askedImage = image;
            return false;
        };
        EXPECT_EQ(CheckReleaseFile(c.path, ui), c.result);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(asked, c.asked);
        if (c.path == missing && asked) {
            EXPECT_EQ(askedImage, "");
        }
    }
    ReleaseCheckUi noMainWindow;
    noMainWindow.remote = [](int&, std::string&) { return false; };
    EXPECT_EQ(CheckReleaseFile(v25, noMainWindow), -1);
    EXPECT_EQ(ImageVersionText(ImageReleaseRank(v21)), "version 2.1");
}
