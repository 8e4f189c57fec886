#include "tavicore/stills_devices.h"

#include "platform/library.h"
#include "qel/qel.h"
#include "platform/dll_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path home() { return fs::path(std::getenv("VELMOOR_HOME")); }

// True while the library file is mapped into this process.
bool isMapped(const char* fileName) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(fileName) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(LoadDllInterface, RefusalsCarryTheirTextAndFreeTheLibrary) {
    struct Case {
        const char* file;
        DWORD expected;
        const char* text;
        const char* mapped;
    };
    const Case cases[] = {
        {"bind_wrong_version.dll", 1, "Wrong API version, excpected v1 - found v2", "libbind_wrong_version.so"},
        {"bind_no_version.dll", 1, "Can't locate exported function \"DLLGetApiVer\"", "libbind_no_version.so"},
        {"bind_null_api.dll", 1, "Unknown! DLLGetApi return NULL", "libbind_null_api.so"},
        {"no_such_library.dll", 1, "LoadLibrary failed (syserr:7E)", "libno_such_library.so"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        HMODULE module = reinterpret_cast<HMODULE>(0x1);
        char text[kDllErrorTextBytes] = "old";
        EXPECT_EQ(LoadDllInterface(c.file, &module, c.expected, text), nullptr);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(module, nullptr);
        EXPECT_FALSE(isMapped(c.mapped));
    }
}

TEST(LoadDllInterface, AnyVersionBindsALibraryWithoutVersionExport) {
    HMODULE module = nullptr;
    char text[kDllErrorTextBytes];
    void* api = LoadDllInterface("bind_no_version.dll", &module, kAnyDllApiVersion, text);
    EXPECT_NE(api, nullptr);
    EXPECT_NE(module, nullptr);
    EXPECT_STREQ(text, "");
    FreeDllInterface(&module);
    EXPECT_EQ(module, nullptr);
    FreeDllInterface(&module);  // a null handle is left alone
}

TEST(StillsBase, ErrorTextsAndCopies) {
    CStillsBase base;
    EXPECT_EQ(base.GetLastErrorCode(), STILLS_NO_ERROR);
    EXPECT_STREQ(base.GetLastError(), "");
    EXPECT_EQ(base._Error_(STILLS_ERROR_SERVICE_FAILED, "/src/engine/stillsdev.cpp", 42), STILLS_ERROR_SERVICE_FAILED);
    EXPECT_STREQ(base.GetLastError(), "Failed calling an Stills device service (stillsdev.cpp, line 42)");
    base._Error_(STILLS_ERROR_UNKNOWN, "a\\b\\x.cpp", 7, "more");
    EXPECT_STREQ(base.GetLastError(), "Unknown error more (x.cpp, line 7)");
    base._Error_(tagSTILLSERROR(77), "f", 1);
    EXPECT_STREQ(base.GetLastError(), "Unknown error (f, line 1)");
    EXPECT_EQ(base.GetLastError(nullptr, 10), nullptr);
    char small[8];
    EXPECT_EQ(base.GetLastError(small, sizeof small), small);
    EXPECT_STREQ(small, "Unknown");
    CStillsBase other;
    other.InheritError(&base);
    EXPECT_EQ(other.GetLastErrorCode(), tagSTILLSERROR(77));
    EXPECT_STREQ(other.GetLastError(), base.GetLastError());
    base._Error_(STILLS_NO_ERROR, "f", 1);
    EXPECT_STREQ(base.GetLastError(), "");
}

TEST(StillsDevices, InitBindsQelOnceAndRemoveClearsBothSlots) {
    CStillsDevices devices;
    const tagSTILLCODEC twice[] = {STILLCODEC_JPEG, STILLCODEC_JPEG};
    ASSERT_EQ(devices.InitDevices(twice, 2), STILLS_NO_ERROR) << devices.GetLastError();
    CStillsCodecInterface* codec = devices[STILLCODEC_JPEG];
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(devices[STILLFORMAT_JPEG], codec);
    EXPECT_EQ(devices.QueryInterface(STILLFORMAT_JPEG), codec);
    EXPECT_EQ(devices[tagSTILLCODEC(3)], nullptr);
    EXPECT_EQ(devices[tagSTILLFORMAT(5)], nullptr);
    EXPECT_EQ(devices.Add(STILLCODEC_JPEG), codec);  // the existing codec, not a second one
    tagSTILLCODEC kinds[3];
    int count = 0;
    EXPECT_EQ(devices.EnumerateDevices(kinds, &count), STILLS_NO_ERROR);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(kinds[0], STILLCODEC_JPEG);
    EXPECT_TRUE(isMapped("libqel.so"));
    devices.Remove(STILLCODEC_JPEG);
    EXPECT_EQ(devices[STILLCODEC_JPEG], nullptr);
    EXPECT_EQ(devices[STILLFORMAT_JPEG], nullptr);
    EXPECT_FALSE(isMapped("libqel.so"));
}

TEST(StillsDevices, UnsupportedKindRollsBackTheList) {
    CStillsDevices devices;
    const tagSTILLCODEC kinds[] = {STILLCODEC_JPEG, STILLCODEC_1};
    EXPECT_EQ(devices.InitDevices(kinds, 2), STILLS_ERROR_UNSUPPORTED);
    EXPECT_EQ(std::string(devices.GetLastError()).rfind("Unsupported Stills format or method (stillsdev, line ", 0), 0u)
        << devices.GetLastError();
    EXPECT_EQ(devices[STILLCODEC_JPEG], nullptr);
    EXPECT_EQ(devices.InitDevices(nullptr, 3), STILLS_NO_ERROR);
}

TEST(StillsDevices, UnboundCodecAnswersServiceNotAvailable) {
    CStillsCodecCollection collection;
    CStillsCodecInterface* codec = collection.Add(STILLCODEC_JPEG);
    ASSERT_NE(codec, nullptr);
    BITMAPINFOHEADER info{};
    EXPECT_EQ(codec->GetInfo("x.jpg", &info), STILLS_ERROR_NOT_AVAILABLE);
    EXPECT_EQ(std::string(codec->GetLastError()).rfind("Service not available due to previous error detected (stillsdev, line ", 0), 0u);
}

TEST(StillsDevices, CodecRoundTripsAStillThroughQel) {
    CStillsDevices devices;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    ASSERT_EQ(devices.InitDevices(&kind, 1), STILLS_NO_ERROR);
    CStillsCodecInterface* codec = devices[STILLCODEC_JPEG];
    constexpr int w = 32, h = 16;
    std::vector<BYTE> source(40 + w * h * 3, 0x40);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(source.data());
    *header = BITMAPINFOHEADER{40, w, h, 1, 24, 0, w * h * 3, 0, 0, 0, 0};
    std::vector<BYTE> jpeg(source.size());
    auto* jpegHeader = reinterpret_cast<BITMAPINFOHEADER*>(jpeg.data());
    ASSERT_EQ(codec->Compress(header, jpegHeader, 70), STILLS_NO_ERROR);
    const std::string path = (home() / "still.jpg").string();
    ASSERT_EQ(codec->SaveDIB(path.c_str(), jpegHeader), STILLS_NO_ERROR);
    BITMAPINFOHEADER info{};
    ASSERT_EQ(codec->GetInfo(path.c_str(), &info), STILLS_NO_ERROR);
    EXPECT_EQ(info.biWidth, w);
    std::vector<BYTE> read(40 + info.biSizeImage);
    std::memcpy(read.data(), &info, 40);
    ASSERT_EQ(codec->ReadDIB(path.c_str(), reinterpret_cast<BITMAPINFOHEADER*>(read.data())), STILLS_NO_ERROR);
    std::vector<BYTE> pixels(40 + w * h * 3);
    ASSERT_EQ(codec->Decompress(reinterpret_cast<BITMAPINFOHEADER*>(read.data()),
                                reinterpret_cast<BITMAPINFOHEADER*>(pixels.data())), STILLS_NO_ERROR);
    EXPECT_NEAR(pixels[40 + 100], 0x40, 3);
    // A failing call gives code 8.
    EXPECT_EQ(codec->GetInfo((home() / "missing.jpg").c_str(), &info), STILLS_ERROR_SERVICE_FAILED);
    EXPECT_EQ(std::string(codec->GetLastError()).rfind("Failed calling an Stills device service", 0), 0u);
}
