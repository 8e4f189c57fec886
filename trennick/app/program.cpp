#include "trennick/app/program.h"

#include "tavicore/ui/ui_window.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/video/video_main.h"

#include <QImage>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace trennick {

namespace {

constexpr DWORD kShotAfterFrames = 30;
constexpr auto kShotGuard = std::chrono::seconds(90);

// Without a display the run command asks (VELMOOR_VIDEO_SHOT=<file>) for a
// picture of the video window once the site's video has run for a while: it
// is saved there, what was seen is printed, and the program closes.
void watchVideo(CKivApp& app, QTimer& timer, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kShotGuard;
    QObject::connect(&timer, &QTimer::timeout, [&app, &timer, path, deadline] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || frame->VideoMain() == nullptr) return;
        CRemoteWnd* remote = frame->VideoMain()->RemoteWnd();
        const bool enough = remote != nullptr && remote->FramesDecoded() >= kShotAfterFrames;
        if (!enough && std::chrono::steady_clock::now() < deadline) return;
        timer.stop();
        if (enough) {
            const bool saved = remote->grab().toImage().save(QString::fromStdString(path));
            CVideoWnd* child = frame->VideoMain()->VideoMgr().VideoWindow();
            std::printf("Velmoor: the site's live video: %lu frames decoded, %.1f frames per second, picture %dx%d (%s "
                        "stream); %s %s\n",
                        static_cast<unsigned long>(remote->FramesDecoded()), remote->FramesPerSecond(),
                        child != nullptr ? child->Dib().Width() : 0, child != nullptr ? child->Dib().Height() : 0,
                        frame->VideoMain()->VideoMgr().StreamVersion() == 2 ? "H.263" : "block-transform",
                        saved ? "picture of the video window saved to" : "could not save the picture to",
                        path.c_str());
        } else {
            std::printf("Velmoor: no live video was decoded within %lld seconds\n",
                        static_cast<long long>(kShotGuard.count()));
        }
        std::fflush(stdout);
        frame->CloseWithoutAsking();
    });
    timer.start(200);
}

}  // namespace

int RunRecorderProgram(const std::vector<std::string>& args, const std::string& programPath) {
    UiSetUnattended(UiPlatformHasNoDisplay());
    CKivApp app(args, programPath);
    QTimer shotTimer;
    if (const char* shot = std::getenv("VELMOOR_VIDEO_SHOT"); shot != nullptr && shot[0] != '\0') {
        watchVideo(app, shotTimer, shot);
    }
    return app.Run();
}

}  // namespace trennick
