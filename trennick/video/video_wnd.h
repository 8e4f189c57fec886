#pragma once
// CVideoWnd: the child window of the live video view. It owns the renderer
// and both decoders of received video, the block-transform decoder library
// for the block-transform stream and the H.263 decoder component (through
// CTMNExpand) for the standard H.263 stream, both from the video pipeline
// (trennick/video/pipeline/), turns each received frame into the picture and
// paints it.
//
// Threads: the user-interface thread only. Failures: a frame that does not
// decode leaves the last picture shown; a missing H.263 decoder leaves H.263
// frames undecoded (the window then shows its plain background).

#include "platform/types.h"
#include "trennick/video/pipeline/block_stream_decoder.h"
#include "trennick/video/pipeline/video_frame.h"
#include "trennick/video/video_dib.h"

#include <QWidget>

#include <memory>
#include <vector>

class CDBLumo;
class CTMNExpand;
namespace trennick {
class CRemoteQuad;
}

// The display parameters: thirteen words passed and copied whole. The view
// reads the picture size, the palette-display flag and the frame rate word;
// the others belong to the remote station window and are carried as they are.
#pragma pack(push, 1)
struct CPARAMS {
    DWORD word1 = 0;
    DWORD word2 = 0;
    DWORD word3 = 0;
    DWORD imagewidth = 176;
    DWORD imageheight = 144;
    DWORD word6 = 0;
    DWORD word7 = 0;
    DWORD palette8 = 0;  // TRUE on an 8-bit (palette) display
    DWORD word9 = 0;
    DWORD frameRate = 0;
    DWORD word11 = 0;
    DWORD word12 = 0;
    DWORD word13 = 0;
};
#pragma pack(pop)
static_assert(sizeof(CPARAMS) == 52);

// Display flags.
inline constexpr DWORD kDisplayDecode = 1;        // decoding and painting on
inline constexpr DWORD kDisplayPrepared = 4;      // a prepared picture is painted

inline constexpr int kVideoPanes = 9;

class CVideoWnd : public QWidget {
public:
    // The H.263 decoder client is the video manager's; it may be null.
    CVideoWnd(CTMNExpand* tmnExpand, QWidget* parent = nullptr);
    ~CVideoWnd() override;

    void OpenVideo(DWORD flags, const CPARAMS& params);
    void CloseVideo();
    DWORD SetParams(const CPARAMS& params);
    BOOL DecodeFrame(const VideoFrame& frame);
    void DrawExpandedFrames();
    void AllocateTiles();
    void FreeTiles();

    // The split view: the split-view object of the site's adapters and the
    // database whose hardware profile names the cameras. In split or
    // auto-switch mode each pane keeps the last picture of its camera and
    // all panes are painted side by side.
    void SetSplitView(trennick::CRemoteQuad* quad, CDBLumo* database);
    bool IsSplitView() const;
    // A pane of the split view: its rectangle in the window and its camera.
    struct SplitPane {
        RECT rect;
        WORD camera;
    };
    // The panes of the current adapter that show a camera, in camera order
    // (which is the order of their tiles); empty outside split view.
    std::vector<SplitPane> SplitPanes() const;
    // The panes of the current adapter's layout that no camera fills (the
    // fillers of a cycle that does not fill its grid); empty outside split view.
    std::vector<RECT> FillerPanes() const;
    // Whether a pane has a picture of its camera yet.
    bool PaneHasPicture(int pane) const;

    void SetStreamVersion(WORD version) { m_streamVersion = version; }
    void SetStreamKind(WORD kind) { m_streamKind = kind; }
    bool UsesH263() const { return UsesH263Stream(m_streamVersion, m_streamKind); }

    CDib& Dib() { return m_Dib; }
    const CPARAMS& Params() const { return m_params; }
    DWORD DisplayFlags() const { return m_displayFlags; }
    DWORD FramesDecoded() const { return m_framesDecoded; }
    BOOL IsNoVideo(int pane = 0) const { return m_noVideo[pane]; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setDecoderAttributes();
    void adoptStreamSize();
    void keepTile(int pane);
    void paintSplitView(QPainter& dc);

    CDib m_Dib;
    trennick::BlockStreamDecoder m_blocks;
    CTMNExpand* m_pTMNExpand;
    CPARAMS m_params{};
    DWORD m_displayFlags = 0;
    WORD m_streamVersion = 1;
    WORD m_streamKind = 4;
    std::vector<HDIB> m_tiles;
    bool m_tileFilled[kVideoPanes] = {};
    trennick::CRemoteQuad* m_quad = nullptr;
    CDBLumo* m_database = nullptr;
    BOOL m_noVideo[kVideoPanes] = {};
    DWORD m_framesDecoded = 0;
    DWORD m_framesSinceParams = 0;
};
