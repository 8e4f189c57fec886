#include "trennick/app/frame_audio_host.h"

#include "trennick/station/station_messages.h"

namespace trennick {

bool FrameAudioHost::hasMainWindow() {
    return !m_frame.m_destroyed;
}

bool FrameAudioHost::remoteAudioState(DWORD& state) {
    return m_frame.GetAudioState(4, &state) != 0;
}

std::string FrameAudioHost::stationId() {
    return m_frame.RecordingStation();
}

void FrameAudioHost::notifyRecordStart(const std::string& fileName) {
    m_frame.NotifyRecordStart(fileName.c_str(), 2, 0);
}

void FrameAudioHost::notifyRecordFinish(const std::string& fileName, DWORD flag) {
    m_frame.NotifyRecordFinish(fileName.c_str(), 2, flag);
}

void FrameAudioHost::dataLamp() {
    platform::PostMessage(m_frame.Hwnd(), kMsgDataLamp, 0, 1);
}

}  // namespace trennick
