// The file device: capture at a sound card's pace from a WAV, playback into a
// WAV completed on close, and the refusals of formats and devices it cannot take.

#include "platform/wave_audio.h"
#include "platform/folders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using platform::WaveBuffer;
using platform::WaveDevice;
using platform::WaveResult;
using Clock = std::chrono::steady_clock;

std::string homeFile(const char* name) { return (platform::homeFolder() / name).string(); }

WaveDevice fileDevice(const std::string& path) {
    WaveDevice d;
    d.kind = WaveDevice::Kind::File;
    d.path = path;
    return d;
}

// Plays `samples` into a WAV through the file device (format of `format`).
void writeWav(const std::string& path, const platform::WAVEFORMATEX& format, const std::vector<std::int16_t>& samples) {
    WaveResult result{};
    auto out = platform::openWaveOut(fileDevice(path), format, nullptr, result);
    ASSERT_NE(out, nullptr);
    std::vector<std::int16_t> copy = samples;
    WaveBuffer b{reinterpret_cast<BYTE*>(copy.data()), DWORD(copy.size() * 2), 0, 0};
    ASSERT_EQ(out->write(b), WaveResult::Ok);
}

TEST(WaveAudio, FileCaptureReadsTheWavAtTheCardsPaceThenSilence) {
    const std::string path = homeFile("in.wav");
    std::vector<std::int16_t> samples(1200);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::int16_t(i + 1);
    writeWav(path, platform::speechFormat(), samples);

    std::atomic<int> done{0};
    WaveResult result{};
    auto in = platform::openWaveIn(fileDevice(path), platform::speechFormat(),
                                   [&](WaveBuffer&) { ++done; }, result);
    ASSERT_NE(in, nullptr);
    std::vector<std::int16_t> a(1000), b(1000);
    WaveBuffer ba{reinterpret_cast<BYTE*>(a.data()), 2000, 0, 0}, bb{reinterpret_cast<BYTE*>(b.data()), 2000, 0, 0};
    ASSERT_EQ(in->addBuffer(ba), WaveResult::Ok);
    ASSERT_EQ(in->addBuffer(ba), WaveResult::StillPlaying);
    ASSERT_EQ(in->addBuffer(bb), WaveResult::Ok);
    const auto started = Clock::now();
    ASSERT_EQ(in->start(), WaveResult::Ok);
    const auto deadline = started + std::chrono::seconds(10);
    while (done < 2 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(done, 2);
    // 2000 samples at 8 kHz: a quarter of a second.
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(240));
    EXPECT_EQ(ba.bytesRecorded, 2000u);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[999], 1000);
    EXPECT_EQ(b[199], 1200);
    EXPECT_EQ(b[200], 0);  // after the file's end: silence
    // Reset gives back what is still queued.
    std::vector<std::int16_t> c(8000);
    WaveBuffer bc{reinterpret_cast<BYTE*>(c.data()), 16000, 0, 0};
    ASSERT_EQ(in->addBuffer(bc), WaveResult::Ok);
    ASSERT_EQ(in->reset(), WaveResult::Ok);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(bc.bytesRecorded, 0u);
}

TEST(WaveAudio, FilePlaybackCompletesTheWavHeader) {
    const std::string path = homeFile("out.wav");
    writeWav(path, platform::speechFormat(), std::vector<std::int16_t>(500, 7));
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 44u + 1000u);
    auto le32 = [&](int at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; };
    EXPECT_EQ(le32(4), 36 + 1000);
    EXPECT_EQ(le32(24), 8000);
    EXPECT_EQ(le32(40), 1000);
}

TEST(WaveAudio, RefusesWhatItCannotTake) {
    WaveResult result{};
    // A WAV in another format than the one asked for.
    const std::string path = homeFile("stereo.wav");
    platform::WAVEFORMATEX stereo{1, 2, 8000, 32000, 4, 16, 0};
    writeWav(path, stereo, std::vector<std::int16_t>(100));
    EXPECT_EQ(platform::openWaveIn(fileDevice(path), platform::speechFormat(), nullptr, result), nullptr);
    EXPECT_EQ(result, WaveResult::BadFormat);
    // A missing file, a file that is no WAV, a format that is no PCM.
    EXPECT_EQ(platform::openWaveIn(fileDevice(homeFile("none.wav")), platform::speechFormat(), nullptr, result), nullptr);
    EXPECT_EQ(result, WaveResult::NoDevice);
    std::ofstream(homeFile("text.wav")) << "RIFF....WAVEjunk";
    EXPECT_EQ(platform::openWaveIn(fileDevice(homeFile("text.wav")), platform::speechFormat(), nullptr, result), nullptr);
    EXPECT_EQ(result, WaveResult::BadFormat);
    platform::WAVEFORMATEX bad = platform::speechFormat();
    bad.nAvgBytesPerSec = 0;
    EXPECT_EQ(platform::openWaveOut(fileDevice(""), bad, nullptr, result), nullptr);
    EXPECT_EQ(result, WaveResult::BadFormat);
    // An ALSA device that does not exist.
    WaveDevice alsa;
    alsa.alsaName = "velmoor_no_such_device";
    EXPECT_EQ(platform::openWaveIn(alsa, platform::speechFormat(), nullptr, result), nullptr);
    EXPECT_EQ(result, WaveResult::NoDevice);
    EXPECT_EQ(platform::openMixerVolume(alsa, platform::MixerVolume::Line::Record, result), nullptr);
}

}  // namespace
