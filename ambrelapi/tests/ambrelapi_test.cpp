// The audio codec server created through the registry as its clients create
// it, over the file device: the forwarded members, the cached record format,
// the negated "IsFull" answers, properties through IDispatch, and spoken
// speech round the codec.

#include "ambrelapi/ambrelapi_lib.h"
#include "ambrel32/testing/speech_sample.h"
#include "common/wave_device_map.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/error_info.h"
#include "platform/folders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using platform::com::ComPtr;
using Clock = std::chrono::steady_clock;

std::string homeFile(const char* name) { return (platform::homeFolder() / name).string(); }

class Ambrel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_TRUE(WriteFileWaveDevice(homeFile("speech.wav"), homeFile("played.wav")));
        ASSERT_EQ(CoCreateInstance(CLSID_Ambrel, nullptr, CLSCTX_INPROC_SERVER, IID_IAmbrel, codec.putVoid()), S_OK);
    }
    void TearDown() override {
        codec.reset();
        CoUninitialize();
    }
    ComPtr<IAmbrel> codec;
};

TEST_F(Ambrel, ForwardsToTheLibraryAndKeepsTheRecordFormat) {
    CLSID byName{};
    ASSERT_EQ(CLSIDFromProgID("Ambrel.Ambrel", &byName), S_OK);
    EXPECT_TRUE(byName == CLSID_Ambrel);
    LONG v = -1;
    EXPECT_EQ(codec->get_Version(&v), S_OK);
    EXPECT_EQ(v, 268435457);
    EXPECT_EQ(codec->get_RecordIsFull(&v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(codec->get_PlaybackIsFull(&v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(codec->get_VAD(&v), S_OK);
    EXPECT_EQ(v, AB_VAD_ON);
    EXPECT_EQ(codec->DetectHardware(&v), S_OK);
    EXPECT_EQ(v, 1);
    SHORT cell = 5;
    EXPECT_EQ(codec->get_Memory(3, &cell), S_OK);
    EXPECT_EQ(cell, 0);

    ASSERT_TRUE(audiotest::makeSpeechWav(homeFile("speech.wav"), "Hello"));
    LONG ok = 0;
    EXPECT_EQ(codec->RecordOpen(AB_FORMAT_53KBPS, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(codec->get_RecordFormat(&v), S_OK);
    EXPECT_EQ(v, AB_FORMAT_53KBPS);
    // Nothing captured yet (not started): no frame.
    char room[64] = {};
    BSTR data = room;
    LONG bytes = -1;
    EXPECT_EQ(codec->RecordGetFrame(&data, sizeof room, &bytes, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(bytes, 0);
    // Volumes through the open device.
    EXPECT_EQ(codec->put_RecordVolume(100), S_OK);
    EXPECT_EQ(codec->get_RecordVolume(&v), S_OK);
    EXPECT_EQ(v, 100);
    EXPECT_EQ(codec->RecordClose(&ok), S_OK);
    EXPECT_EQ(ok, 1);

    ComPtr<ISupportErrorInfo> errors;
    ASSERT_EQ(codec->QueryInterface(IID_ISupportErrorInfo, errors.putVoid()), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IAmbrel), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(Ambrel, PropertiesGetAndPutThroughDispatch) {
    LONG ok = 0;
    ASSERT_EQ(codec->PlaybackOpen(&ok), S_OK);
    ASSERT_EQ(ok, 1);
    auto invoke = [&](const char* name, WORD kind, VARIANT* args, UINT count, VARIANT* result) {
        char* names[] = {const_cast<char*>(name)};
        DISPID id = 0;
        HRESULT hr = codec->GetIDsOfNames(platform::com::IID_NULL, names, 1, 0, &id);
        if (FAILED(hr)) return hr;
        DISPPARAMS params{args, nullptr, count, 0};
        return codec->Invoke(id, platform::com::IID_NULL, 0, kind, &params, result, nullptr, nullptr);
    };
    platform::com::Variant sixty = platform::com::Variant::i4(60);
    EXPECT_EQ(invoke("PlaybackVolume", DISPATCH_PROPERTYPUT, &sixty, 1, nullptr), S_OK);
    platform::com::Variant result;
    EXPECT_EQ(invoke("playbackvolume", DISPATCH_PROPERTYGET, nullptr, 0, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 60);
    platform::com::Variant version;
    EXPECT_EQ(invoke("Version", DISPATCH_PROPERTYGET, nullptr, 0, &version), S_OK);
    EXPECT_EQ(version.lVal, 0x10000001);
    // A read-only property takes no put.
    EXPECT_NE(invoke("Version", DISPATCH_PROPERTYPUT, &sixty, 1, nullptr), S_OK);
    EXPECT_EQ(codec->PlaybackClose(&ok), S_OK);
}

TEST_F(Ambrel, SpeechGoesRoundTheCodec) {
    ASSERT_TRUE(audiotest::makeSpeechWav(homeFile("speech.wav"), "One two three"));
    const auto original = audiotest::readWavSamples(homeFile("speech.wav"));
    LONG ok = 0;
    ASSERT_EQ(codec->RecordOpen(AB_FORMAT_64KPBS, &ok), S_OK);
    ASSERT_EQ(codec->RecordStart(&ok), S_OK);
    ASSERT_EQ(ok, 1);
    ASSERT_EQ(codec->PlaybackOpen(&ok), S_OK);
    const std::size_t frames = original.size() / 240;
    std::size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (got < frames && Clock::now() < deadline) {
        char frame[1024];
        BSTR data = frame;
        LONG bytes = 0;
        ASSERT_EQ(codec->RecordGetFrame(&data, sizeof frame, &bytes, &ok), S_OK);
        if (ok != 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        ASSERT_EQ(bytes, 24);
        ASSERT_EQ(codec->PlaybackPutFrame(reinterpret_cast<BYTE*>(frame), bytes, &ok), S_OK);
        ASSERT_EQ(ok, 1);
        ++got;
    }
    ASSERT_EQ(got, frames);
    std::error_code ec;
    while (std::filesystem::file_size(homeFile("played.wav"), ec) < 44 + frames * 480 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    codec->RecordClose(&ok);
    codec->PlaybackClose(&ok);
    const auto played = audiotest::readWavSamples(homeFile("played.wav"));
    EXPECT_EQ(played.size(), frames * 240);
    EXPECT_GT(audiotest::envelopeCorrelation(original, played), 0.8);
}

}  // namespace
