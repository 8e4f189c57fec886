// The video window decodes what the site's coders make: block-transform
// frames chunk by chunk, H.263 pieces through the decoder component; sizes
// from the site stay within the picture; a split view paints its cameras side
// by side; the coordinator's snapshot names.

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "tavicore/product_key.h"
#include "tools/site/block_encoder.h"
#include "tools/site/test_pattern.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/testing/split_view_settings.h"
#include "trennick/video/pipeline/tmn_expand.h"
#include "trennick/video/video_main.h"
#include "trennick/video/video_mgr.h"
#include "trennick/video/video_wnd.h"
#include "zoenc/zoenc_lib.h"
#include "platform/com/com_ptr.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <set>

#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;

// Collects the trace lines written while it is installed.
class TraceCapture : public CLumoDeb {
public:
    TraceCapture() : m_previous(gpLumoDeb) {
        SetLevel(5);
        gpLumoDeb = this;
    }
    ~TraceCapture() override { gpLumoDeb = m_previous; }
    void Output(const char* line) override { lines.emplace_back(line); }
    int holding(const std::string& text) const {
        int n = 0;
        for (const std::string& line : lines) n += line.find(text) != std::string::npos;
        return n;
    }
    std::vector<std::string> lines;

private:
    CLumoDeb* m_previous;
};

CPARAMS params(DWORD width, DWORD height) {
    CPARAMS p;
    p.imagewidth = width;
    p.imageheight = height;
    return p;
}

// Sum of the picture's bytes: 0 for a black picture.
unsigned long long brightness(CVideoWnd& window) {
    const BYTE* bits = window.Dib().Bits();
    unsigned long long sum = 0;
    for (std::size_t i = 0; i < std::size_t(window.Dib().Width()) * window.Dib().Height() * 3; ++i) sum += bits[i];
    return sum;
}

// The offsets of the chunks of a block-transform frame.
std::vector<std::size_t> chunkStarts(const Bytes& frame) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at + 3 <= frame.size();) {
        starts.push_back(at);
        at += (std::size_t(frame[at + 1]) << 8) | frame[at + 2];
    }
    return starts;
}

TEST(VideoWnd, BlockFramesDecodeChunkByChunkAndBadLengthsEndTheLoop) {
    site::BlockEncoder encoder;
    const Bytes key = encoder.encode(site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), 0, 0)),
                                     true, 15353);
    const std::vector<std::size_t> starts = chunkStarts(key);
    ASSERT_GE(starts.size(), 3u) << "a key frame comes in several chunks";
    const std::size_t last = starts.back();

    struct Case {
        const char* what;
        int lastLength;  // the last chunk's length field; -1: as coded
        bool painted;
    };
    const Case cases[] = {
        {"whole frame", -1, true},
        {"last chunk runs past the end", int(key.size() - last) + 1, false},
        {"zero length", 0, false},
        {"shorter than its own head", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CVideoWnd window(nullptr);
        window.OpenVideo(kDisplayDecode, params(176, 144));
        VideoFrame frame;
        frame.data = key;
        if (c.lastLength >= 0) {
            frame.data[last + 1] = BYTE(c.lastLength >> 8);
            frame.data[last + 2] = BYTE(c.lastLength);
        }
        EXPECT_EQ(window.DecodeFrame(frame) != FALSE, c.painted);
        if (c.painted) {
            EXPECT_EQ(window.Dib().Width(), site::kBlockStreamWidth) << "the picture takes the stream's size";
            EXPECT_GT(brightness(window), 0u);
        }
        window.CloseVideo();
    }
}

TEST(VideoWnd, SizesBeyondTheLargestPictureAreRefused) {
    CVideoWnd window(nullptr);
    window.OpenVideo(kDisplayDecode, params(176, 144));
    for (const CPARAMS& p : {params(1000, 1000), params(353, 288), params(352, 289), params(0, 144)}) {
        window.SetParams(p);
        EXPECT_LE(window.Dib().Width(), kMaxPictureWidth);
        EXPECT_LE(window.Dib().Height(), kMaxPictureHeight);
        EXPECT_GT(window.Dib().Width(), 0);
        window.Dib().ClearPicture();  // writes width x height x 3 bytes: inside the block
    }
    window.SetParams(params(352, 288));
    EXPECT_EQ(window.Dib().Width(), 352);
    EXPECT_EQ(window.Dib().Height(), 288);
}

TEST(VideoWnd, H263PiecesBecomePicturesThroughTheDecoderComponent) {
    CoInitialize(nullptr);
    platform::com::ensureServersRegistered();
    {
        platform::com::ComPtr<IZoEncoder> encoder;
        ASSERT_EQ(CoCreateInstance(CLSID_ZoVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZoEncoder,
                                   encoder.putVoid()),
                  S_OK);
        encoder->Open();
        encoder->SetAttribute(ZOENC_ATTR_FORMAT, 176, 144, 10);
        CTMNExpand decoder;
        ASSERT_TRUE(decoder.HasDecoder());
        CVideoWnd window(&decoder);
        window.SetStreamVersion(2);
        window.OpenVideo(kDisplayDecode, params(176, 144));
        int pictures = 0;
        for (unsigned n = 0; n < 4; ++n) {
            const site::RgbPicture rgb = site::drawTestPattern(176, 144, n, 0);
            Bytes image(40 + rgb.bgr.size());
            BITMAPINFOHEADER header{};
            header.biSize = 40;
            header.biWidth = 176;
            header.biHeight = -144;
            header.biPlanes = 1;
            header.biBitCount = 24;
            std::memcpy(image.data(), &header, 40);
            std::memcpy(image.data() + 40, rgb.bgr.data(), rgb.bgr.size());
            ASSERT_EQ(encoder->AddImage(image.data(), ULONG(image.size())), S_OK);
            Bytes out(kZoEncOutputBytes);
            ULONG length = 0;
            ASSERT_EQ(encoder->GetData(out.data(), ULONG(out.size()), &length), S_OK);
            // Each picture in two pieces, as a link with small buckets carries it.
            const std::size_t half = (length - 40) / 2;
            VideoFrame first, second;
            first.data.assign(out.begin() + 40, out.begin() + 40 + long(half));
            second.data.assign(out.begin() + 40 + long(half), out.begin() + length);
            pictures += window.DecodeFrame(first);
            pictures += window.DecodeFrame(second);
        }
        EXPECT_EQ(pictures, 3) << "each picture comes out when the next begins";
        EXPECT_EQ(window.FramesDecoded(), 3u);
        EXPECT_EQ(window.Dib().Width(), 176);
        EXPECT_GT(brightness(window), 0u);
        window.CloseVideo();
    }
    CoUninitialize();
}

TEST(VideoWnd, AMissingDecoderIsReportedOncePerOpening) {
    CoInitialize(nullptr);
    platform::com::ensureServersRegistered();
    const std::string component = (platform::executableFolder() / "libh263tmn.so").string();
    ASSERT_EQ(platform::com::unregisterServerLibrary(component), S_OK);
    {
        TraceCapture traces;
        CTMNExpand decoder;
        EXPECT_FALSE(decoder.HasDecoder());
        CVideoWnd window(&decoder);
        window.SetStreamVersion(2);
        for (int opening = 1; opening <= 2; ++opening) {
            window.OpenVideo(kDisplayDecode, params(176, 144));
            for (int i = 0; i < 10; ++i) {
                window.SetParams(params(i % 2 != 0 ? 352 : 176, i % 2 != 0 ? 288 : 144));
                VideoFrame frame;
                frame.data = {0, 0, 0x80, 2, 8, 1, 2, 3};
                EXPECT_FALSE(window.DecodeFrame(frame));
            }
            window.CloseVideo();
            EXPECT_EQ(traces.holding("CTMNExpand::Open() Failed"), opening);
            EXPECT_EQ(traces.holding("CTMNExpand::SetAttribute Failed"), 0);
            EXPECT_EQ(traces.holding("CTMNExpand::ExpandBuffer"), 0);
        }
    }
    platform::com::registerServerLibrary(component);
    CoUninitialize();
}

// Distinct colours in a grid of sample points inside a rectangle of the image.
int distinctColours(const QImage& image, const RECT& r) {
    std::set<QRgb> colours;
    for (int y = r.top + 4; y < r.bottom - 4; y += 5) {
        for (int x = r.left + 4; x < r.right - 4; x += 5) colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

// The video window of a manager in the split view of `quad`, QCIF pictures,
// decoding and painting on.
struct SplitVideoWindow {
    explicit SplitVideoWindow(CRemoteQuad& quad) {
        area.resize(400, 320);
        mgr.SetSplitView(&quad, nullptr);
        window = static_cast<CVideoWnd*>(mgr.CreateVideoWindow(0, 0, params(176, 144), &area));
        mgr.SetDisplayParams(TRUE, FALSE);
    }
    ~SplitVideoWindow() { mgr.SetSplitView(nullptr, nullptr); }
    QWidget area;  // outlives the manager, which destroys its child window
    CVideoMgr mgr;
    CVideoWnd* window = nullptr;
};

TEST(VideoWnd, ASplitViewPaintsEachCamerasLastPictureInItsOwnPane) {
    splittest::StoreSplitViewOfCameras(4);
    CRemoteQuad quad(nullptr);
    ASSERT_TRUE(quad.rqIsSplitOrAutoSwitchMode());
    SplitVideoWindow split(quad);
    CVideoMgr& mgr = split.mgr;
    CVideoWnd* window = split.window;
    ASSERT_NE(window, nullptr);
    // Four panes of QCIF pictures: the window is the whole split picture.
    EXPECT_EQ(window->width(), 352);
    EXPECT_EQ(window->height(), 288);
    const std::vector<CVideoWnd::SplitPane> panes = window->SplitPanes();
    ASSERT_EQ(panes.size(), 4u);
    for (std::size_t i = 0; i < panes.size(); ++i) {
        EXPECT_EQ(panes[i].camera, WORD(i));
        EXPECT_EQ(panes[i].rect.right - panes[i].rect.left, 176);
    }

    // Cameras 1, 2 and 4 send a picture (camera 4 marked as having no
    // signal); camera 3 sends none yet.
    site::BlockEncoder encoder;
    struct Sent {
        DWORD camera;
        DWORD kind;
    };
    for (const Sent sent : {Sent{0, 4}, Sent{1, 4}, Sent{3, kFrameKindNoVideo}}) {
        VideoFrame frame;
        frame.data = encoder.encode(
            site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), sent.camera * 10, 0)), true,
            15353);
        frame.camera = sent.camera;
        frame.kind = sent.kind;
        ASSERT_TRUE(window->DecodeFrame(frame));
    }
    // A camera outside the cycle is decoded but kept in no pane.
    VideoFrame outside;
    outside.data = encoder.encode(site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), 99, 0)),
                                  true, 15353);
    outside.camera = 9;
    EXPECT_TRUE(window->DecodeFrame(outside));

    const bool expectedPicture[] = {true, true, false, true};
    const bool expectedNoVideo[] = {false, false, false, true};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(window->PaneHasPicture(i), expectedPicture[i]);
        EXPECT_EQ(window->IsNoVideo(i) != FALSE, expectedNoVideo[i]);
    }
    const QImage shot = window->grab().toImage();
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    shot.save(QString(VELMOOR_SCREENSHOT_DIR) + "/video_window_split.png");
    // Each camera's picture in its own pane, the logo where none came.
    EXPECT_GT(distinctColours(shot, panes[0].rect), 20);
    EXPECT_GT(distinctColours(shot, panes[1].rect), 20);
    EXPECT_LT(distinctColours(shot, panes[2].rect), distinctColours(shot, panes[0].rect) / 2);
    EXPECT_NE(shot.copy(0, 0, 176, 144), shot.copy(176, 0, 176, 144)) << "two cameras, two pictures";

    // Back to single view: one picture fills the window again.
    quad.rqSetSplitOrAutoSwitchMode(FALSE);
    mgr.ResizeVideoWindow(TRUE, TRUE, TRUE);
    EXPECT_EQ(window->width(), 176);
    EXPECT_TRUE(window->SplitPanes().empty());
}

// Three cameras fill three panes of a four-pane grid: the last pane, which
// no camera fills, shows the logo as a camera's pane does before its first
// picture, not the window's background.
TEST(VideoWnd, ASplitViewShowsTheLogoInAPaneNoCameraFills) {
    splittest::StoreSplitViewOfCameras(3);
    CRemoteQuad quad(nullptr);
    ASSERT_EQ(quad.rqGetPaneCount(), 4);
    SplitVideoWindow split(quad);
    CVideoWnd* window = split.window;
    ASSERT_NE(window, nullptr);
    const std::vector<CVideoWnd::SplitPane> panes = window->SplitPanes();
    ASSERT_EQ(panes.size(), 3u);
    const std::vector<RECT> fillers = window->FillerPanes();
    ASSERT_EQ(fillers.size(), 1u);
    // The panes run 0 1 / 3 2: the fourth is the lower left.
    EXPECT_EQ(fillers[0].left, 0);
    EXPECT_EQ(fillers[0].top, 144);
    EXPECT_EQ(fillers[0].right - fillers[0].left, 176);
    EXPECT_EQ(fillers[0].bottom - fillers[0].top, 144);

    // Camera 1 sends a picture; cameras 2 and 3 none yet.
    site::BlockEncoder encoder;
    VideoFrame frame;
    frame.data = encoder.encode(site::toYuv420(site::drawTestPattern(encoder.width(), encoder.height(), 0, 0)), true,
                                15353);
    frame.camera = 0;
    frame.kind = 4;
    ASSERT_TRUE(window->DecodeFrame(frame));

    const QImage shot = window->grab().toImage();
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    shot.save(QString(VELMOOR_SCREENSHOT_DIR) + "/video_window_split_filler.png");
    auto region = [&](const RECT& r) { return shot.copy(r.left, r.top, r.right - r.left, r.bottom - r.top); };
    ASSERT_FALSE(window->PaneHasPicture(1));
    EXPECT_EQ(region(fillers[0]), region(panes[1].rect)) << "the filler shows the logo of a pane without a picture";
    EXPECT_NE(region(fillers[0]), region(panes[0].rect));

    // Outside split view there are no fillers.
    quad.rqSetSplitOrAutoSwitchMode(FALSE);
    EXPECT_TRUE(window->FillerPanes().empty());
}

TEST(VideoMain, SnapshotNamesTakeTheFirstFreeAndStayBounded) {
    const std::filesystem::path folder = std::filesystem::path(std::getenv("VELMOOR_HOME")) / "Snapshots";
    std::filesystem::create_directories(folder);
    for (const char* present : {"snapshot0.bmp", "snapshot1.bmp", "door.bmp"}) std::ofstream(folder / present) << "x";
    CVideoMain main;
    main.SetSnapshotFolders(folder.string(), folder.string());
    struct Case {
        std::string folder;
        std::string name;
        DWORD flags;
        bool ok;
        std::string expected;
    };
    const Case cases[] = {
        {"", "", 0, true, (folder / "snapshot2.bmp").string()},
        {folder.string(), "door", 0, true, (folder / "door1.bmp").string()},
        {folder.string(), "gate", kSnapshotOfSite, true, (folder / "gate.bmp").string()},
        {std::string(255, 'f'), "door", 0, false, ""},      // no name fits in 260 characters
        {folder.string(), "../outside", 0, false, ""},     // a name is never a path
        {folder.string(), "door", kSnapshotNeedsWindow, false, ""},  // no video window yet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " in " + c.folder.substr(0, 40));
        char folderText[kSnapshotPathBytes] = {};
        char name[kSnapshotPathBytes] = {};
        std::strncpy(folderText, c.folder.c_str(), sizeof folderText - 1);
        std::strncpy(name, c.name.c_str(), sizeof name - 1);
        EXPECT_EQ(main.MakeSnapshotFileName(c.flags, folderText, name) != FALSE, c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(name), c.expected);
        }
    }
}

}  // namespace

// A host named by the kit's client is refused when it is the video window
// itself or lies inside it: the window cannot become its own parent.
TEST(VideoMgr, TheVideoWindowCannotHostItself) {
    QWidget area;
    CVideoMgr mgr;
    QWidget* window = mgr.CreateVideoWindow(0, 0, params(176, 144), &area);
    ASSERT_NE(window, nullptr);
    auto* inside = new QWidget(window);
    EXPECT_TRUE(mgr.HoldsWindow(window));
    EXPECT_TRUE(mgr.HoldsWindow(inside));
    EXPECT_FALSE(mgr.HoldsWindow(&area));
    EXPECT_FALSE(mgr.AttachVideoWindow(window));
    EXPECT_FALSE(mgr.AttachVideoWindow(inside));
    EXPECT_EQ(window->parentWidget(), &area);
    QWidget host;
    host.resize(240, 180);
    EXPECT_TRUE(mgr.AttachVideoWindow(&host));
    EXPECT_EQ(window->parentWidget(), &host);
    EXPECT_EQ(window->size(), QSize(240, 183));
}
