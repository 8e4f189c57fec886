// Talk through the recorder program: the operator's program calls a site
// station on loopback, and once the site's hardware profile is in, the
// operator's spoken words (espeak-ng through the file device) go over the link
// and are played at the site; the talk button pauses the sending and tells
// the site. The program runs in a child process, as the program is one per
// process.

#include "trennick/app/testing/app_test_support.h"
#include "ambrel32/testing/speech_sample.h"
#include "common/kc_reg.h"
#include "common/wave_device_map.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "tavicore/product_key.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/audio/aud_comp.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/link_station.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>
#include <filesystem>
#include <fstream>

using namespace trennick;
using namespace apptest;

namespace {

// The site's side of the audio client's needs.
class SiteHost : public AudioHost {
public:
    bool hasMainWindow() override { return true; }
    bool remoteAudioState(DWORD& state) override {
        state = 1;
        return true;
    }
    std::string stationId() override { return "OPERATOR"; }
    void notifyRecordStart(const std::string&) override {}
    void notifyRecordFinish(const std::string&, DWORD) override {}
    void dataLamp() override {}
};

void setAudio(const char* name, DWORD value) {
    CKcReg reg = ProductKey("Audio");
    reg.SetDword(nullptr, name, &value);
}

// args: the speech file, the played file, the result file.
int runTalk(const std::vector<std::string>& args) {
    const std::string played = args.at(1);
    const std::size_t frames = audiotest::readWavSamples(args.at(0)).size() / 240;
    if (frames == 0 || !WriteFileWaveDevice(args.at(0), played)) return 2;
    if (CoInitialize(nullptr) != S_OK) return 3;
    platform::com::ensureServersRegistered();

    // The site: a link station that only listens to the talk.
    const WORD sitePort = nettest::freePort();
    nettest::Station site(true, sitePort);
    SiteHost siteHost;
    setAudio("DontSend", 1);
    auto siteAudio = std::make_unique<CAudComp>(site.link, siteHost);
    setAudio("DontSend", 0);
    site.link.SetAudComp(siteAudio.get());
    if (!site.open()) return 4;

    AnsweringUi ui;
    std::vector<std::string> line = {"/NOSPLASH", "/I", "/P=" + std::to_string(nettest::freePort()),
                                     "/D=127.0.0.1:" + std::to_string(sitePort), "/C"};
    CKivApp app(line, "", quietServices(&ui));

    int step = 0;
    std::string failure;
    DWORD sentBeforePause = 0;
    QTimer script;
    script.setInterval(10);
    QObject::connect(&script, &QTimer::timeout, [&] {
        site.pass();
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CPacketConnection& link = *frame->Connection();
        CAudComp* audio = frame->AudComp();
        std::error_code ec;
        switch (step) {
        case 0:  // connected: the site opens its sound card, then sends its profile
            if (!link.IsConnected() || !site.link.IsConnected()) return;
            if (audio == nullptr || !audio->HasCodec()) {
                failure = "no audio client";
                step = 9;
                return;
            }
            siteAudio->StartVoiceCompressProcess();
            platform::PostMessage(frame->Hwnd(), kMsgRemoteProfiles, 1, 0);
            step = 1;
            break;
        case 1: {  // the operator's audio starts with the profile
            if (!audio->CaptureActive() || !audio->PlaybackActive()) return;
            DWORD remote = 0;
            frame->GetAudioState(4, &remote);
            if (remote == 0) failure = "the site's audio state is off";
            step = 2;
            break;
        }
        case 2:  // the whole sentence went over and was played at the site
            if (std::filesystem::file_size(played, ec) < 44 + frames * 480) return;
            frame->OnCommand(ID_TALK);
            sentBeforePause = audio->FramesSent();
            step = 3;
            break;
        case 3: {  // paused: the site heard of it
            DWORD paused = 0;
            frame->GetAudioState(3, &paused);
            if (paused != 1) failure = "sending is not paused";
            if (site.window.count(kMsgTokenDone, 107) == 0) return;
            if (audio->FramesSent() != sentBeforePause) failure = "frames sent while paused";
            frame->MakeDisconnect(kReasonAskDisconnect, 0);
            step = 4;
            break;
        }
        case 4:
            if (link.IsConnected()) return;
            if (audio->CaptureActive()) failure = "capture still open after the call";
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 5;
            break;
        default:
            break;
        }
    });
    script.start();
    RunGuard hangGuard(60);
    const int code = app.Run();
    site.link.SetAudComp(nullptr);
    siteAudio.reset();
    std::ofstream(args.at(2)) << "code=" << code << " step=" << step << " " << failure << "\n";
    CoUninitialize();
    return code == 0 && step == 5 && failure.empty() ? 0 : 10 + step;
}

}  // namespace

VELMOOR_TEST_CHILD(talker) { return runTalk(args); }

TEST(Talk, SpeechFromTheOperatorIsPlayedAtTheSiteUntilTheTalkButtonPauses) {
    const auto dir = platform::homeFolder();
    const std::string speech = (dir / "speech.wav").string(), played = (dir / "played.wav").string();
    const std::string result = (dir / "talk.txt").string();
    ASSERT_TRUE(audiotest::makeSpeechWav(speech));
    auto child = velmoor::testing::ChildProcess::start("talker", {speech, played, result});
    const int code = child.wait(std::chrono::seconds(90));
    std::ifstream in(result);
    std::string report;
    std::getline(in, report);
    ASSERT_EQ(code, 0) << report;
    const auto original = audiotest::readWavSamples(speech);
    const auto heard = audiotest::readWavSamples(played);
    EXPECT_GE(heard.size(), original.size() / 240 * 240);
    EXPECT_GT(audiotest::envelopeCorrelation(original, heard), 0.8);
}
