#pragma once
// The main window's side of the talk (see FrameAudioHost). Thread: the
// user-interface thread, as the audio client calls it.

#include "platform/message_window.h"
#include "trennick/app/main_frame.h"
#include "trennick/audio/aud_comp.h"

namespace trennick {

// What the audio client needs of the frame: the link's audio state, the
// connected site's id, the kit's record notices and the data lamp.
class FrameAudioHost : public AudioHost {
public:
    explicit FrameAudioHost(CMainFrame& frame) : m_frame(frame) {}
    bool hasMainWindow() override;
    bool remoteAudioState(DWORD& state) override;
    // The talk of a recording is filed with the recording's pictures.
    std::string stationId() override;
    void notifyRecordStart(const std::string& fileName) override;
    void notifyRecordFinish(const std::string& fileName, DWORD flag) override;
    void dataLamp() override;

private:
    CMainFrame& m_frame;
};

}  // namespace trennick
