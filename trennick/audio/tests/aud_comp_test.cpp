// The audio client over two TCP links on loopback and the real codec server
// with the file device: spoken speech taken from the sound card on one side,
// sent in audio buckets, played and recorded on the other; the recording
// played back; and the checks on what a peer sends.

#include "trennick/audio/aud_comp.h"

#include "ambrel32/testing/speech_sample.h"
#include "common/kc_reg.h"
#include "common/wave_device_map.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "tavicore/event_file.h"
#include "tavicore/product_key.h"
#include "trennick/net/testing/link_station.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string homeFile(const char* name) { return (platform::homeFolder() / name).string(); }

void setAudio(const char* name, DWORD value) {
    CKcReg reg = ProductKey("Audio");
    reg.SetDword(nullptr, name, &value);
}

// The main frame's part, over the station's link.
class Host : public AudioHost {
public:
    explicit Host(CPacketConnection& link) : m_link(link) {}
    bool hasMainWindow() override { return true; }
    bool remoteAudioState(DWORD& state) override {
        if (forcedRemoteAudio) {
            state = 1;
            return true;
        }
        BOOL on = 0;
        if (!m_link.IsAudioEnabled(on)) return false;
        state = DWORD(on);
        return true;
    }
    std::string stationId() override { return "SITE-1"; }
    void notifyRecordStart(const std::string& name) override { started.push_back(name); }
    void notifyRecordFinish(const std::string& name, DWORD) override { finished.push_back(name); }
    void dataLamp() override { ++lamps; }
    bool forcedRemoteAudio = false;
    std::vector<std::string> started, finished;
    int lamps = 0;

private:
    CPacketConnection& m_link;
};

// Reads the chunks of a closed recording.
std::vector<Bytes> chunksOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Bytes> chunks;
    AudFileHeader h{};
    if (file.size() < sizeof h) return chunks;
    std::memcpy(&h, file.data(), sizeof h);
    std::size_t at = sizeof h;
    while (at + sizeof(AudChunkHeader) <= file.size()) {
        AudChunkHeader c{};
        std::memcpy(&c, &file[at], sizeof c);
        if (std::memcmp(c.tag, "G723", 4) != 0 || c.length > file.size() - at - sizeof c) break;
        chunks.emplace_back(file.begin() + long(at + sizeof c), file.begin() + long(at + sizeof c + c.length));
        at += sizeof c + c.length;
    }
    if (chunks.size() != h.chunkCount || h.checksum != AudHeaderChecksum(h)) chunks.clear();
    return chunks;
}

class AudioClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        m_storage = homeFile("storage");
        fs::create_directories(m_storage);
        evSetEventsStorageRoot(m_storage.c_str());
    }
    void TearDown() override {
        evSetEventsStorageRoot("");
        CoUninitialize();
    }
    std::string m_storage;
};

TEST(SpeechFrames, WholeFramesAreCountedByTheirType) {
    struct Case {
        Bytes data;
        DWORD whole;
    };
    Bytes frame24(24, 0x00), frame20(20, 0x01), sid{0x02, 0, 0, 0};
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Case cases[] = {
        {{}, 0},
        {join({frame24, frame20, sid}), 48},
        {join({frame24, Bytes(10, 0x00)}), 24},      // a cut frame at the end
        {join({frame24, Bytes{0x03}, frame24}), 24},  // an invalid type stops the walk
        {Bytes{0x02, 0}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WholeSpeechFrameBytes(c.data.data(), DWORD(c.data.size())), c.whole);
    }
}

TEST_F(AudioClient, SpeechCrossesTwoLinksIsPlayedAndItsRecordingPlaysBack) {
    const std::string speech = homeFile("speech.wav"), played = homeFile("played.wav");
    ASSERT_TRUE(audiotest::makeSpeechWav(speech));
    const auto original = audiotest::readWavSamples(speech);
    ASSERT_TRUE(WriteFileWaveDevice(speech, played));

    using nettest::Station;
    const WORD sitePort = nettest::freePort();
    Station site(true, sitePort);
    Station operatorSide(false, nettest::freePort());
    Host siteHost(site.link), operatorHost(operatorSide.link);
    // The site only listens and records; the operator talks.
    setAudio("DontSend", 1);
    setAudio("Recording", 1);
    CAudComp siteAudio(site.link, siteHost);
    setAudio("DontSend", 0);
    setAudio("Recording", 0);
    CAudComp operatorAudio(operatorSide.link, operatorHost);
    ASSERT_TRUE(siteAudio.HasCodec());
    EXPECT_EQ(operatorAudio.PayloadCapacity(), 96u);  // FramesPerCycle 4
    site.link.SetAudComp(&siteAudio);
    operatorSide.link.SetAudComp(&operatorAudio);

    ASSERT_TRUE(site.open());
    ASSERT_TRUE(operatorSide.open());
    const std::string address = "127.0.0.1:" + std::to_string(sitePort);
    operatorSide.link.ConnectToRemote(address.c_str(), "");
    auto both = [&](auto done) {
        const auto deadline = Clock::now() + std::chrono::seconds(40);
        while (!done()) {
            if (Clock::now() > deadline) return false;
            site.pass();
            operatorSide.pass();
            siteAudio.ProcessVoice();
            operatorAudio.ProcessVoice();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    };
    ASSERT_TRUE(both([&] { return site.link.IsConnected() && operatorSide.link.IsConnected(); }));

    // The site opens its devices first; the operator's open takes the same
    // sound card of this one process, as its library is one per process.
    ASSERT_EQ(siteAudio.StartVoiceCompressProcess(), 1);
    ASSERT_EQ(siteAudio.StartAudioRecording(1, 2), 1);
    ASSERT_EQ(siteHost.started.size(), 1u);
    ASSERT_EQ(operatorAudio.StartVoiceCompressProcess(), 1);
    EXPECT_TRUE(operatorAudio.CaptureActive());
    EXPECT_TRUE(operatorAudio.PlaybackActive());

    const std::size_t frames = original.size() / 240;
    ASSERT_TRUE(both([&] { return operatorAudio.FramesSent() >= frames; }));
    // Paused, the operator sends nothing more.
    EXPECT_EQ(operatorAudio.StopSendAudio(1), 1);
    const DWORD sent = operatorAudio.FramesSent();
    std::error_code ec;
    ASSERT_TRUE(both([&] { return fs::file_size(played, ec) >= 44 + frames * 480; }));
    EXPECT_EQ(operatorAudio.FramesSent(), sent);
    EXPECT_EQ(siteAudio.FramesSent(), 0u);  // DontSend

    siteAudio.StopAudioRecording(0);
    ASSERT_EQ(siteHost.finished, siteHost.started);
    siteAudio.StopVoiceCompressProcess();
    operatorAudio.StopVoiceCompressProcess();

    const auto heard = audiotest::readWavSamples(played);
    EXPECT_GE(heard.size(), frames * 240);
    EXPECT_GT(audiotest::envelopeCorrelation(original, heard), 0.8);

    // The recording: one chunk per bucket; played back through the codec it is the speech again.
    const std::string recording = siteHost.finished.front();
    EXPECT_NE(recording.find("TriggersMoviesDB/SITE-1/Movies/Adapter_1/Camera_2/Manual_Trigger/Event_1.tra"),
              std::string::npos);
    const std::vector<Bytes> chunks = chunksOf(recording);
    ASSERT_FALSE(chunks.empty());
    std::size_t recordedFrames = 0;
    for (const Bytes& c : chunks) recordedFrames += c.size() / 24;
    EXPECT_GE(recordedFrames, frames);

    const std::string replayed = homeFile("replayed.wav");
    ASSERT_TRUE(WriteFileWaveDevice("", replayed));
    {
        platform::com::ComPtr<IAmbrel> codec;
        ASSERT_EQ(CoCreateInstance(CLSID_Ambrel, nullptr, CLSCTX_INPROC_SERVER, IID_IAmbrel, codec.putVoid()), S_OK);
        LONG ok = 0;
        ASSERT_EQ(codec->PlaybackOpen(&ok), S_OK);
        ASSERT_EQ(ok, 1);
        // As a player does: a chunk the full playback queue refuses is offered again.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        for (Bytes c : chunks) {
            do {
                ASSERT_EQ(codec->PlaybackPutFrame(c.data(), LONG(c.size()), &ok), S_OK);
                if (ok == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            } while (ok == 0 && Clock::now() < deadline);
            ASSERT_EQ(ok, 1);
        }
        while (fs::file_size(replayed, ec) < 44 + recordedFrames * 480 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        codec->PlaybackClose(&ok);
    }
    EXPECT_GT(audiotest::envelopeCorrelation(original, audiotest::readWavSamples(replayed)), 0.8);
}

TEST_F(AudioClient, ReceivedFramesAreCheckedAgainstTheBucketBeforeUse) {
    ASSERT_TRUE(WriteFileWaveDevice("", homeFile("played.wav")));
    nettest::Station station(true, nettest::freePort());
    Host host(station.link);
    host.forcedRemoteAudio = true;
    setAudio("Recording", 1);
    CAudComp audio(station.link, host);

    auto frame = [](WORD length, Bytes payload) {
        AudioFrameHeader h{1, 0, 0, length};
        Bytes bytes(sizeof h);
        std::memcpy(bytes.data(), &h, sizeof h);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        bytes.push_back(0);
        return bytes;
    };
    // Before a recording is started nothing is recorded.
    Bytes good = frame(24, Bytes(24, 0x00));
    audio.ProcessRemoteAudio(good.data(), DWORD(good.size()));
    ASSERT_EQ(audio.StartAudioRecording(0, 0), 1);
    ASSERT_TRUE(audio.RecordingOpen());
    const Bytes cases[] = {
        frame(200, Bytes(24, 0x00)),                   // length beyond the bucket: dropped
        frame(34, Bytes(34, 0x00)),                    // a cut frame at the end: 24 kept
        frame(24, Bytes{0x03, 0, 0, 0}),               // invalid type first: dropped
        Bytes{1, 2, 3},                                // no header: dropped
        good,                                          // 24 kept
    };
    for (const Bytes& c : cases) audio.ProcessRemoteAudio(c.data(), DWORD(c.size()));
    audio.StopAudioRecording(0);
    ASSERT_EQ(host.finished.size(), 1u);
    const std::vector<Bytes> chunks = chunksOf(host.finished[0]);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].size(), 24u);
    EXPECT_EQ(chunks[1].size(), 24u);
    EXPECT_EQ(host.lamps, 0);

    // With Recording off, starting records nothing.
    setAudio("Recording", 0);
    CAudComp quiet(station.link, host);
    EXPECT_EQ(quiet.StartAudioRecording(0, 0), 0);
    EXPECT_FALSE(quiet.RecordingOpen());

    // A bucket carries one frame at least and no more than a receiver takes.
    const std::pair<DWORD, DWORD> perCycle[] = {{0, 24}, {1, 24}, {42, 1008}, {100000, 1008}};
    for (const auto& [frames, capacity] : perCycle) {
        setAudio("FramesPerCycle", frames);
        CAudComp sized(station.link, host);
        EXPECT_EQ(sized.PayloadCapacity(), capacity) << frames;
    }
}

}  // namespace
