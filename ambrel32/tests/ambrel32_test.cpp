// The byte queue, and the library bound as its client binds it, over the file
// device: spoken speech captured, coded, decoded and played into a file.

#include "ambrel32/ambrel_dll.h"
#include "ambrel32/audio_queue.h"
#include "ambrel32/testing/speech_sample.h"
#include "common/wave_device_map.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "sx5363s/sx5363s.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using Clock = std::chrono::steady_clock;

TEST(AudioQue, PushesAllOrNothingAndWrapsAround) {
    CAudioQue queue;
    Bytes big(CAudioQue::kCapacity - 100, 1);
    ASSERT_TRUE(queue.Push(big.data(), DWORD(big.size())));
    Bytes more(101, 2);
    EXPECT_FALSE(queue.Push(more.data(), 101));  // one byte short of room: nothing queued
    EXPECT_EQ(queue.Size(), CAudioQue::kCapacity - 100);
    Bytes out(CAudioQue::kCapacity);
    EXPECT_EQ(queue.Pop(out.data(), CAudioQue::kCapacity - 200), CAudioQue::kCapacity - 200);
    Bytes ramp(300);
    std::iota(ramp.begin(), ramp.end(), 0);
    ASSERT_TRUE(queue.Push(ramp.data(), 300));  // wraps past the end
    EXPECT_EQ(queue.Pop(out.data(), 100), 100u);
    EXPECT_EQ(queue.Pop(out.data(), 1000), 300u);  // only what is queued
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 300), ramp);
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.Pop(out.data(), 10), 0u);
}

// The library as the codec server binds it.
class Library {
public:
    Library() {
        m_module = platform::loadLibrary("ambrel32.dll");
        auto get = reinterpret_cast<AmbrelGetApiFn>(platform::librarySymbol(m_module, "DLLGetAPI"));
        api = get != nullptr ? get() : nullptr;
    }
    ~Library() {
        if (api != nullptr) api->Release();
        platform::freeLibrary(m_module);
    }
    IAmbrelDll* api = nullptr;

private:
    HMODULE m_module = nullptr;
};

std::string homeFile(const char* name) { return (std::filesystem::path(platform::homeFolder()) / name).string(); }

// Waits until the file device has written `bytes` bytes of speech into the WAV.
bool waitForPlayed(const std::string& path, std::size_t samples) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) >= 44 + samples * 2 && !ec) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// 24-byte frames of real speech, coded by the codec library itself.
Bytes speechFrames(int count) {
    SX5363_HANDLE h = nullptr;
    Bytes frames;
    if (SX5363_Open(&h) != 0) return frames;
    for (int i = 0; i < count; ++i) {
        std::int16_t pcm[240];
        for (int s = 0; s < 240; ++s) pcm[s] = std::int16_t(8000 * std::sin((i * 240 + s) * 0.07));
        BYTE frame[24];
        DWORD produced = 0;
        if (SX63_SpeechEncode(h, kSx5363Mode, reinterpret_cast<BYTE*>(pcm), frame, &produced) == 0) {
            frames.insert(frames.end(), frame, frame + produced);
        }
    }
    SX5363_Close(&h);
    return frames;
}

TEST(Ambrel32, OneCountedObjectWithItsConstantSlots) {
    Library a, b;
    ASSERT_NE(a.api, nullptr);
    EXPECT_EQ(a.api, b.api);
    EXPECT_EQ(a.api->GetVersion(), 0x10000001);
    // Volumes need their device open.
    WORD value = 7;
    EXPECT_EQ(a.api->PutRecordVolume(50), 0);
    EXPECT_EQ(a.api->PutPlaybackVolume(50), 0);
    EXPECT_EQ(a.api->GetRecordVolume(&value), 0);
    EXPECT_EQ(a.api->GetPlaybackVolume(&value), 0);
    EXPECT_EQ(a.api->RecordReset(), 0);
    EXPECT_EQ(a.api->RefreshHardwareTree(), 0);
    EXPECT_EQ(a.api->GetVAD(), 1);
    EXPECT_EQ(a.api->GetMixerInputsBits(&value), 1);
    EXPECT_EQ(value, 1);
    // Without a device, stop answers 1 and start 0.
    EXPECT_EQ(a.api->RecordStop(), 1);
    EXPECT_EQ(a.api->RecordStart(), 0);
    AmbrelFrame frame{};
    EXPECT_EQ(a.api->PlaybackPutFrame(&frame), 0);
}

TEST(Ambrel32, ReleaseOfTheLastReferenceDeletesTheObject) {
    Library keep;  // keeps the module loaded
    ASSERT_NE(keep.api, nullptr);
    HMODULE module = platform::loadLibrary("ambrel32.dll");
    auto get = reinterpret_cast<AmbrelGetApiFn>(platform::librarySymbol(module, "DLLGetAPI"));
    ASSERT_NE(get, nullptr);
    IAmbrelDll* second = get();
    EXPECT_EQ(second, keep.api);
    EXPECT_EQ(second->Release(), 0);  // one reference left: the object lives on
    EXPECT_EQ(keep.api->GetVersion(), kAmbrelVersion);
    platform::freeLibrary(module);
}

TEST(Ambrel32, VolumesAreClampedAndReadBack) {
    ASSERT_TRUE(WriteFileWaveDevice("", homeFile("out.wav")));
    Library lib;
    ASSERT_NE(lib.api, nullptr);
    ASSERT_EQ(lib.api->RecordOpen(1), 1);
    ASSERT_EQ(lib.api->PlaybackOpen(), 1);
    struct Case {
        LONG put;
        WORD record, playback;
    };
    // The low 16 bits are the percentage; above 100 it is 100.
    const Case cases[] = {{0, 0, 0}, {100, 100, 100}, {250, 100, 100}, {0x10000 + 40, 40, 40}, {75, 74, 74}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.put);
        EXPECT_EQ(lib.api->PutRecordVolume(c.put), 1);
        EXPECT_EQ(lib.api->PutPlaybackVolume(c.put), 1);
        WORD record = 999, playback = 999;
        EXPECT_EQ(lib.api->GetRecordVolume(&record), 1);
        EXPECT_EQ(lib.api->GetPlaybackVolume(&playback), 1);
        EXPECT_EQ(record, c.record);
        EXPECT_EQ(playback, c.playback);
    }
    EXPECT_EQ(lib.api->RecordClose(), 1);
    EXPECT_EQ(lib.api->PlaybackClose(), 1);
}

TEST(Ambrel32, PlaybackDecodesWholeFramesStepsOverSilenceAndRefusesInvalidOnes) {
    const std::string out = homeFile("played.wav");
    ASSERT_TRUE(WriteFileWaveDevice("", out));
    Library lib;
    ASSERT_NE(lib.api, nullptr);
    ASSERT_EQ(lib.api->PlaybackOpen(), 1);
    const Bytes speech = speechFrames(3);
    ASSERT_EQ(speech.size(), 72u);

    auto put = [&](Bytes data) {
        AmbrelFrame frame{};
        frame.lpData = data.data();
        frame.dwBufferLength = DWORD(data.size());
        return lib.api->PlaybackPutFrame(&frame);
    };
    // A silence description (4 bytes, type 2), then one speech frame: 480 bytes.
    Bytes sid = {0x02, 0, 0, 0};
    Bytes withSid = sid;
    withSid.insert(withSid.end(), speech.begin(), speech.begin() + 24);
    EXPECT_EQ(put(withSid), 1);
    // An invalid frame type fails the call, even after good frames: nothing queued.
    Bytes bad(speech.begin(), speech.begin() + 24);
    bad.push_back(0x03);
    bad.insert(bad.end(), 23, 0);
    EXPECT_EQ(put(bad), 0);
    // A frame cut short at the end is dropped, the whole ones before it play.
    Bytes cut(speech.begin() + 24, speech.end());
    cut.resize(24 + 10);
    EXPECT_EQ(put(cut), 1);
    // Empty data succeeds with nothing to play.
    EXPECT_EQ(put({}), 1);
    EXPECT_TRUE(waitForPlayed(out, 480));
    EXPECT_EQ(lib.api->PlaybackClose(), 1);
    EXPECT_EQ(audiotest::readWavSamples(out).size(), 480u);
}

TEST(Ambrel32, RecordGetFrameChecksTheRoomItIsGiven) {
    const std::string in = homeFile("speech.wav");
    ASSERT_TRUE(audiotest::makeSpeechWav(in, "Hello"));
    ASSERT_TRUE(WriteFileWaveDevice(in, ""));
    Library lib;
    ASSERT_NE(lib.api, nullptr);
    ASSERT_EQ(lib.api->RecordOpen(0), 1);
    ASSERT_EQ(lib.api->RecordStart(), 1);
    BYTE room[24] = {};
    AmbrelFrame small{room, 23, 0, {}};
    AmbrelFrame enough{room, 24, 0, {}};
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    LONG got = 0;
    while (got == 0 && Clock::now() < deadline) {
        EXPECT_EQ(lib.api->RecordGetFrame(&small), 0);  // too small, whatever is queued
        EXPECT_EQ(small.dwBytesRecorded, 0u);
        got = lib.api->RecordGetFrame(&enough);
        if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(got, 1);
    EXPECT_EQ(enough.dwBytesRecorded, 24u);
    EXPECT_EQ(room[0] & 3, 0);  // a 6.3 kbit/s frame
    EXPECT_EQ(lib.api->RecordStop(), 1);
    EXPECT_EQ(lib.api->RecordGetFrame(&enough), 0);  // the queue went with the stop
    EXPECT_EQ(lib.api->RecordClose(), 1);
}

TEST(Ambrel32, SpokenSpeechIsCapturedCodedDecodedAndPlayedRecognisably) {
    const std::string in = homeFile("speech.wav"), out = homeFile("played.wav");
    ASSERT_TRUE(audiotest::makeSpeechWav(in));
    const std::vector<std::int16_t> original = audiotest::readWavSamples(in);
    ASSERT_GT(original.size(), 8000u);
    ASSERT_TRUE(WriteFileWaveDevice(in, out));
    Library lib;
    ASSERT_NE(lib.api, nullptr);
    ASSERT_EQ(lib.api->RecordOpen(1), 1);
    ASSERT_EQ(lib.api->RecordStart(), 1);
    ASSERT_EQ(lib.api->PlaybackOpen(), 1);

    // As the audio client does: up to four frames a bucket, played as they come.
    const std::size_t frames = (original.size() + 239) / 240;
    std::size_t taken = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (taken < frames && Clock::now() < deadline) {
        BYTE bucket[96];
        DWORD length = 0;
        for (int i = 0; i < 4 && taken < frames; ++i) {
            AmbrelFrame f{bucket + length, DWORD(sizeof bucket - length), 0, {}};
            if (lib.api->RecordGetFrame(&f) != 1) break;
            ASSERT_EQ(f.dwBytesRecorded, 24u);
            length += f.dwBytesRecorded;
            ++taken;
        }
        if (length == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        AmbrelFrame play{bucket, length, 0, {}};
        ASSERT_EQ(lib.api->PlaybackPutFrame(&play), 1);
    }
    ASSERT_EQ(taken, frames);
    ASSERT_TRUE(waitForPlayed(out, frames * 240));
    EXPECT_EQ(lib.api->RecordClose(), 1);
    EXPECT_EQ(lib.api->PlaybackClose(), 1);

    const std::vector<std::int16_t> played = audiotest::readWavSamples(out);
    EXPECT_EQ(played.size(), frames * 240);
    EXPECT_GT(audiotest::audibleSamples(played), audiotest::audibleSamples(original) / 2);
    EXPECT_GT(audiotest::envelopeCorrelation(original, played), 0.8);
}

}  // namespace
