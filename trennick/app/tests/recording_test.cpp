// The operator's program and the stand-in site in two processes on loopback:
// the program calls the site, takes its live video, records it when its
// record command comes (WM_COMMAND 0x807B, ended by 0x8079) into event files
// that the event-file reader plays back frame by frame, records each camera
// of a split view into its own file, and serves the compressed frames to a
// network viewer.

#include "trennick/app/testing/app_test_support.h"
#include "common/kc_reg.h"
#include "platform/process.h"
#include "tavicore/product_key.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/testing/event_test_support.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/received_video.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/record/testing/split_view_settings.h"
#include "trennick/video/video_main.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace trennick;
using namespace apptest;
using eventtest::headerOf;
using eventtest::playBack;

namespace {

using Bytes = std::vector<BYTE>;

// Starts a program of the build with its standard output going to a file.
platform::Process startLogged(const std::string& program, const std::vector<std::string>& args,
                              const std::string& logPath) {
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(log, STDOUT_FILENO);
    platform::Process process = platform::Process::start(program, args);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(log);
    return process;
}

bool fileHas(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The recorded pictures that libavcodec decodes, each snapshot one picture.
int decodedPictures(const std::vector<Bytes>& pictures, int& width) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_open2(context, codec, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int decoded = 0;
    for (const Bytes& p : pictures) {
        if (av_new_packet(packet, int(p.size())) != 0) break;
        std::memcpy(packet->data, p.data(), p.size());
        if (avcodec_send_packet(context, packet) == 0 && avcodec_receive_frame(context, frame) == 0) {
            ++decoded;
            width = frame->width;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return decoded;
}

// The operator's program as in a process of its own: the settings a test
// gives it go to the product's own branch (it runs without an instance id),
// whatever instance a program that ran before in this process used, and its
// events are filed where its stations directory says, not in the folder an
// earlier test chose.
void freshOperatorProcess() {
    gcsVlmInsID.clear();
    evSetEventsStorageRoot(nullptr);
}

void setDword(const char* section, const char* name, DWORD value) {
    CKcReg reg = ProductKey(section);
    reg.SetSection(section);
    reg.SetValueName(name);
    reg.Write(value);
}

void setText(const char* section, const char* name, const std::string& value) {
    CKcReg reg = ProductKey(section);
    reg.SetSection(section);
    reg.SetValueName(name);
    reg.Write(value);
}

// The stand-in site on a free port, its log in the test's home.
struct Site {
    explicit Site(int cameras, std::vector<std::string> more = {}) {
        port = std::to_string(nettest::freePort());
        log = (platform::homeFolder() / ("site-" + port + ".log")).string();
        std::vector<std::string> args = {"--port", port, "--cameras", std::to_string(cameras)};
        args.insert(args.end(), more.begin(), more.end());
        process = startLogged("velmoor-site", args, log);
    }
    ~Site() {
        if (process.valid()) {
            process.kill(SIGTERM);
            process.wait(10000);
        }
    }
    bool listening() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fileHas(log, "listening on port")) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::string port;
    std::string log;
    platform::Process process;
};

// What a run of the operator's program saw.
struct OperatorRun {
    int code = -1;
    int step = 0;
    DWORD taken = 0;
    DWORD written = 0;
    std::vector<std::string> files;
    std::set<WORD> camerasOpen;
    // The video window when recording stopped: its size and the panes of a
    // split view that had a picture of their camera.
    int videoWidth = 0;
    int videoHeight = 0;
    int panesWithPicture = 0;
    // Video frames the link received in the call.
    DWORD linkFrames = 0;
};

// Runs the operator's program calling the site: once `ready` holds, recording
// is switched on by its command; once `enough` holds, off again; then, once
// the recording's file closed (when `recorded`), the program closes.
template <typename Ready, typename Enough>
OperatorRun runOperator(const Site& site, Ready ready, Enough enough, const char* shot, bool recorded = true) {
    AnsweringUi ui;
    AppServices services = quietServices(&ui);
    std::vector<std::string> line = {"/NOSPLASH", "/I", "/P=" + std::to_string(nettest::freePort()),
                                     "/D=127.0.0.1:" + site.port, "/C"};
    CKivApp app(line, "", services);
    OperatorRun run;
    QTimer script;
    script.setInterval(10);
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CReceivedVideo* video = frame->ReceivedVideo();
        CPacketConnection& link = *frame->Connection();
        if (video == nullptr) return;
        for (WORD c = 0; c < 4; ++c) {
            if (!video->Recorder().OpenFileName(0, c).empty()) run.camerasOpen.insert(c);
        }
        CPacketConnection::LinkStatistics figures;
        link.GetLinkStatistics(figures);
        run.linkFrames = std::max(run.linkFrames, figures.videoFramesReceived);  // a call's end resets them
        switch (run.step) {
        case 0:  // connected and the site's video flows
            if (!link.IsConnected() || !ready(*video, run)) return;
            platform::PostMessage(frame->Hwnd(), WM_COMMAND, ID_RECORD_START, 0);
            run.step = 1;
            break;
        case 1:
            if (!enough(*video, run)) return;
            platform::PostMessage(frame->Hwnd(), WM_COMMAND, ID_RECORD_STOP, 0);
            run.step = 2;
            break;
        case 2:
            if (recorded && video->RecordedFiles().empty()) return;
            QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
            frame->grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/" + shot + ".png");
            run.taken = video->FramesTaken();
            run.written = video->FramesWritten();
            run.files.assign(video->RecordedFiles().begin(), video->RecordedFiles().end());
            if (CVideoWnd* window = frame->VideoMain()->VideoMgr().VideoWindow()) {
                run.videoWidth = window->width();
                run.videoHeight = window->height();
                for (int pane = 0; pane < kVideoPanes; ++pane) run.panesWithPicture += window->PaneHasPicture(pane);
                window->grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/" + shot + "_video.png");
            }
            frame->MakeDisconnect(kReasonAskDisconnect, 0);
            run.step = 3;
            break;
        case 3:
            if (link.IsConnected()) return;
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            run.step = 4;
            break;
        default:
            break;
        }
    });
    script.start();
    RunGuard hangGuard(120);
    run.code = app.Run();
    return run;
}

TEST(Recording, TheSitesVideoIsRecordedAndPlaysBackAndReachesANetworkViewer) {
    freshOperatorProcess();
    Site site(4);
    ASSERT_TRUE(site.listening()) << fileText(site.log);
    // The network video output serves viewers on a port of its own.
    const std::string viewerPort = std::to_string(nettest::freePort());
    setDword("Video\\Network", "NetOut", 1);
    setText("Video\\Network", "NetOutPort", "127.0.0.1:" + viewerPort);
    const std::string viewerLog = (platform::homeFolder() / "viewer.log").string();
    platform::Process viewer =
        startLogged("velmoor-netviewer", {"--port", viewerPort, "--frames", "15", "--seconds", "90"}, viewerLog);
    ASSERT_TRUE(viewer.valid());

    const OperatorRun run = runOperator(
        site, [](CReceivedVideo& v, const OperatorRun&) { return v.FramesTaken() >= 3; },
        [&viewer](CReceivedVideo& v, const OperatorRun&) {
            return v.FramesWritten() >= 20 && viewer.wait(0).kind != platform::ProcessExit::Kind::Running;
        },
        "recording_operator");
    ASSERT_EQ(run.code, 0) << "step " << run.step << "\n" << fileText(site.log);
    ASSERT_EQ(run.step, 4);

    // The viewer got the compressed frames and decoded pictures from them.
    const platform::ProcessExit viewed = viewer.wait(30000);
    EXPECT_EQ(viewed.kind, platform::ProcessExit::Kind::Exited);
    EXPECT_EQ(viewed.code, 0) << fileText(viewerLog);
    EXPECT_TRUE(fileHas(viewerLog, "15 frames")) << fileText(viewerLog);

    // One camera, one file: every snapshot one H.263 picture of camera 1.
    ASSERT_EQ(run.files.size(), 1u);
    const std::string& path = run.files[0];
    const tagEventHeader header = headerOf(path);
    EXPECT_EQ(WORD{header.wCamera}, 0);
    EXPECT_EQ(DWORD{header.dwType}, EVENT_TYPE_MOVIE_256);
    EXPECT_EQ(DWORD{header.dwWidth}, 176u);
    const std::vector<Bytes> pictures = playBack(path);
    // Every snapshot the program wrote is in the file, the recording's last
    // picture included.
    EXPECT_EQ(pictures.size(), std::size_t(run.written));
    for (const Bytes& p : pictures) {
        ASSERT_GE(p.size(), 5u);
        EXPECT_TRUE(p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80);
    }
    int width = 0;
    EXPECT_GE(decodedPictures(pictures, width), int(pictures.size()) - 1);
    EXPECT_EQ(width, 176);
    // Single view: one picture, no panes.
    EXPECT_EQ(run.videoWidth, 176);
    EXPECT_EQ(run.panesWithPicture, 0);
}

TEST(Recording, ABlockStreamRecordingCarriesThePicturesOwnSize) {
    freshOperatorProcess();
    Site site(1, {"--stream", "block"});
    ASSERT_TRUE(site.listening()) << fileText(site.log);
    const OperatorRun run = runOperator(
        site, [](CReceivedVideo& v, const OperatorRun&) { return v.FramesTaken() >= 3; },
        [](CReceivedVideo& v, const OperatorRun&) { return v.FramesWritten() >= 5; }, "recording_block_operator");
    ASSERT_EQ(run.code, 0) << "step " << run.step << "\n" << fileText(site.log);
    ASSERT_EQ(run.files.size(), 1u);
    const tagEventHeader header = headerOf(run.files[0]);
    EXPECT_EQ(DWORD{header.dwWidth}, 320u);
    EXPECT_EQ(DWORD{header.dwHeight}, 240u);
    EXPECT_EQ(playBack(run.files[0]).size(), std::size_t(run.written));
}

TEST(Recording, WithDecodingOffReceivedVideoIsNotRecorded) {
    freshOperatorProcess();
    setDword("Video", "IsDecodeVideo", 0);
    Site site(1);
    ASSERT_TRUE(site.listening()) << fileText(site.log);
    // Recording is asked for while the site's video flows over the link.
    const OperatorRun run = runOperator(
        site, [](CReceivedVideo&, const OperatorRun& r) { return r.linkFrames >= 3; },
        [](CReceivedVideo&, const OperatorRun& r) { return r.linkFrames >= 30; }, "recording_no_decode_operator",
        false);
    ASSERT_EQ(run.code, 0) << "step " << run.step << "\n" << fileText(site.log);
    EXPECT_GE(run.linkFrames, 30u);
    EXPECT_EQ(run.taken, 0u);
    EXPECT_EQ(run.written, 0u);
    EXPECT_TRUE(run.files.empty());
    EXPECT_TRUE(run.camerasOpen.empty());
}

TEST(Recording, ASplitViewRecordsEachCameraIntoItsOwnFile) {
    freshOperatorProcess();
    Site site(4);
    ASSERT_TRUE(site.listening()) << fileText(site.log);
    // The first adapter in split view over cameras 1 to 4, switching every 200 ms.
    setDword("RemoteQuad", "MinSplitDelay", 200);
    setDword("RemoteQuad", "SplitDelay", 200);
    splittest::StoreSplitViewOfCameras(4);
    const OperatorRun run = runOperator(
        site, [](CReceivedVideo& v, const OperatorRun&) { return v.FramesTaken() >= 3; },
        [](CReceivedVideo& v, const OperatorRun& r) { return r.camerasOpen.size() == 4 && v.FramesWritten() >= 30; },
        "recording_split_operator");
    ASSERT_EQ(run.code, 0) << "step " << run.step << "\n" << fileText(site.log);
    ASSERT_EQ(run.step, 4);
    EXPECT_TRUE(fileHas(site.log, "camera 3 selected")) << fileText(site.log);
    // The video window drew the four cameras side by side, each in its pane.
    EXPECT_EQ(run.videoWidth, 352);
    EXPECT_EQ(run.videoHeight, 288);
    EXPECT_EQ(run.panesWithPicture, 4);

    // Each camera of the cycle has its own file of its own pictures.
    std::map<WORD, std::string> byCamera;
    for (const std::string& path : run.files) byCamera[WORD{headerOf(path).wCamera}] = path;
    ASSERT_EQ(byCamera.size(), 4u);
    ASSERT_EQ(run.files.size(), 4u);
    std::size_t total = 0;
    for (const auto& [camera, path] : byCamera) {
        SCOPED_TRACE(camera);
        const std::vector<Bytes> pictures = playBack(path);
        ASSERT_FALSE(pictures.empty());
        total += pictures.size();
        int width = 0;
        EXPECT_GE(decodedPictures(pictures, width), 1);
    }
    // Every snapshot written is in its camera's file: the pictures completed,
    // each camera's pending one at a switch and each file's last one.
    EXPECT_EQ(total, std::size_t(run.written));

    // The activity log has each file's opening and closing.
    std::string log;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(platform::homeFolder())) {
        if (entry.path().filename() == "Velmoor.log") log += fileText(entry.path().string());
    }
    for (int camera = 1; camera <= 4; ++camera) {
        const std::string text = "Camera " + std::to_string(camera);
        std::size_t count = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        EXPECT_EQ(count, 2u) << text;
    }
}

TEST(Recording, TheTalkOfAManualRecordingLandsBesideTheShownCamerasEventFiles) {
    freshOperatorProcess();
    Site site(4, {"--audio"});
    ASSERT_TRUE(site.listening()) << fileText(site.log);
    setDword("Audio", "Recording", 1);
    // The operator shows camera 3 (number 2) before recording; the site's tone
    // arrives meanwhile.
    bool asked = false;
    const OperatorRun run = runOperator(
        site,
        [&asked](CReceivedVideo& v, const OperatorRun&) {
            if (!asked) v.selectVideoInput(0, 2, 0);
            asked = true;
            return v.Recorder().CurrentCamera() == 2 && v.FramesTaken() >= 3;
        },
        [](CReceivedVideo& v, const OperatorRun&) { return v.FramesWritten() >= 30; }, "recording_talk_operator");
    ASSERT_EQ(run.code, 0) << "step " << run.step << "\n" << fileText(site.log);
    ASSERT_EQ(run.step, 4);
    EXPECT_TRUE(fileHas(site.log, "audio: sending the test tone")) << fileText(site.log);
    ASSERT_EQ(run.files.size(), 1u);
    EXPECT_EQ(WORD{headerOf(run.files[0]).wCamera}, 2);

    // One talk file, in the folder of the camera's manual event files, with
    // the coded tone in it.
    const std::filesystem::path folder = std::filesystem::path(run.files[0]).parent_path();
    std::vector<std::filesystem::path> talks;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(platform::homeFolder())) {
        if (entry.path().extension() == ".tra") talks.push_back(entry.path());
    }
    ASSERT_EQ(talks.size(), 1u);
    EXPECT_EQ(talks[0].parent_path(), folder);
    EXPECT_NE(folder.string().find("Camera_2"), std::string::npos) << folder;
    // Three seconds of recording at 24 bytes every 30 ms: well over a kilobyte.
    EXPECT_GT(std::filesystem::file_size(talks[0]), 1024u);
}

}  // namespace
