#pragma once
// Frame retrieval: a player window steps through the frames of one recorded event
// through CFrameRtv without knowing where they come from; CFrmRtvZO reads them
// from an event file.

#include "platform/types.h"
#include "tavicore/event_file.h"
#include "tavicore/tavicore_api.h"

#include <memory>
#include <vector>

// What a player shows about the open event.
struct tagRtvEventInfo {
    WORD wAdapter;
    WORD wCamera;
    WORD wEventNumber;
    DWORD dwType;
    const char* pStation;
    char szFilePath[256];
};

// The frame source of a player window.
class TAVICORE_API CFrameRtv {
public:
    virtual ~CFrameRtv();
    virtual int rtvOpenEvent(const char* fileName) = 0;
    virtual int rtvOpenEvent() = 0;
    virtual BYTE* rtvGetNextFrame() = 0;
    virtual BYTE* rtvGetPrevFrame() = 0;
    virtual BYTE* rtvGetCurrFrame() = 0;
    virtual BYTE* rtvGetFirstFrame() = 0;
    virtual int rtvGetFrameSize(SIZE* size) = 0;
    virtual tagEventSnapshot* rtvGetFrameInfo() = 0;
    virtual tagRtvEventInfo* rtvGetEventInfo() = 0;
    virtual DWORD rtvGetImageSize() = 0;
    virtual DWORD rtvGetFrameIndex() = 0;
    virtual FILETIME rtvGetFrameTime() = 0;
    virtual DWORD rtvGetSnapshotNumber() = 0;
    virtual int rtvGetFileName(char* out, DWORD size) = 0;
    virtual DWORD rtvGetEventType() = 0;
    virtual int rtvIsLastPreFrame() = 0;
    virtual int rtvGetEventHeader(tagEventHeader* out) = 0;
    virtual WORD rtvGetEventSize() = 0;
};

// Shows one of the player's failures to its user: the text's number and the
// text. The user-interface part of the engine sets it when it is loaded (a box,
// or standard error without a display); without one a failure is only traced.
using RtvNoticePresenter = void (*)(UINT textId, const char* text);
TAVICORE_API void SetRtvNoticePresenter(RtvNoticePresenter presenter);
TAVICORE_API RtvNoticePresenter GetRtvNoticePresenter();

// Message texts of the player's failures.
inline constexpr UINT IDS_RTV_READ_FAILED = 59414;
inline constexpr UINT IDS_RTV_OPEN_FAILED = 59415;
inline constexpr UINT IDS_RTV_EMPTY_EVENT = 59416;
inline constexpr UINT IDS_RTV_NO_MEMORY = 65079;

// Reads one event file frame by frame, forward and backward, into one frame
// buffer that it reuses (and enlarges for a frame that does not fit). Used by one
// thread (the player window's) at a time. A failure gives a null frame or a 0
// result and is reported to the user by its message text.
class TAVICORE_API CFrmRtvZO : public CFrameRtv {
public:
    explicit CFrmRtvZO(const char* fileName);
    CFrmRtvZO(WORD adapter, WORD camera, DWORD eventNumber, DWORD type, const char* station);
    ~CFrmRtvZO() override;
    CFrmRtvZO(const CFrmRtvZO&) = delete;
    CFrmRtvZO& operator=(const CFrmRtvZO&) = delete;

    int rtvOpenEvent(const char* fileName) override;
    int rtvOpenEvent() override;
    BYTE* rtvGetNextFrame() override;
    BYTE* rtvGetPrevFrame() override;
    BYTE* rtvGetCurrFrame() override;
    BYTE* rtvGetFirstFrame() override;
    int rtvGetFrameSize(SIZE* size) override;
    tagEventSnapshot* rtvGetFrameInfo() override;
    tagRtvEventInfo* rtvGetEventInfo() override;
    DWORD rtvGetImageSize() override;
    DWORD rtvGetFrameIndex() override;
    FILETIME rtvGetFrameTime() override;
    DWORD rtvGetSnapshotNumber() override;
    int rtvGetFileName(char* out, DWORD size) override;
    DWORD rtvGetEventType() override;
    int rtvIsLastPreFrame() override;
    int rtvGetEventHeader(tagEventHeader* out) override;
    WORD rtvGetEventSize() override;

    int NextSnapshotReadAndPaint();
    int PrevSnapshotReadAndPaint();
    // Copies the event into the events database and erases the original once
    // the copy is verified; 0 when either step fails.
    int MoveEvent();
    int EraseTheEventFromDisk();

    static constexpr std::size_t kFrameBufferBytes = 1'000'000;

private:
    bool ensureBuffer(DWORD bytes);
    bool readOneForward(bool keep);
    void report(UINT textId);

    WORD m_camera = 0;
    WORD m_adapter = 0;
    DWORD m_eventNumber = 0;
    DWORD m_type = 0;
    std::unique_ptr<CEventFile> m_event;
    DWORD m_open = 0;
    std::vector<BYTE> m_frame;
    tagEventSnapshot m_frameInfo{};
    bool m_haveFrame = false;
    tagRtvEventInfo m_info{};
    tagEventHeader m_header{};
    char m_station[256] = {};
    WORD m_mode = 0;
    char m_fileName[256] = {};
};
