#pragma once
// CZoPtzUI: starts the PTZ control box program (tiltcab) and drives it by
// WM_COPYDATA messages sent to its window, found by its title ("Ptz", or
// "Ptz-<instance text>" for a named instance).
//
// Thread: any one thread at a time. Failure: when the box cannot be started
// the started flag stays 0; a message to a box whose window is missing is
// not sent (false).

#include "platform/message_window.h"
#include "platform/types.h"

#include <string>
#include <string_view>

namespace trennick {

// Kinds (dwData) of the messages to the box.
enum PtzBoxKind : platform::ULONG_PTR {
    kPtzBoxCommandText = 1,
    kPtzBoxMove = 2,
    kPtzBoxClose = 3,
    kPtzBoxCamera = 4,
    kPtzBoxInstance = 5,
};
inline constexpr std::size_t kPtzBoxTextRecordBytes = 264;
inline constexpr std::size_t kPtzBoxMaxText = 259;

class CZoPtzUI {
public:
    // program: the box program started when its window is missing.
    explicit CZoPtzUI(std::string_view instanceText, std::string_view program = "tiltcab.exe");
    ~CZoPtzUI();
    CZoPtzUI(const CZoPtzUI&) = delete;
    CZoPtzUI& operator=(const CZoPtzUI&) = delete;

    bool SendCommandText(DWORD command, std::string_view text);
    bool SendMove(DWORD value1, DWORD value2);
    bool SetCamera(DWORD camera);

    const std::string& WindowTitle() const { return m_title; }
    bool Started() const { return m_started; }
    DWORD LastCamera() const { return m_lastCamera; }

private:
    bool send(platform::ULONG_PTR kind, const void* data, DWORD bytes);
    bool sendInstanceText();

    std::string m_instance;
    std::string m_title;
    bool m_started = false;
    DWORD m_lastCamera = 0;
};

}  // namespace trennick
