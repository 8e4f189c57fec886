#include "trennick/clients/zo_ptz_ui.h"

#include "platform/local_bus.h"
#include "platform/process.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace trennick {

namespace {

// A text record of the box: the text (at most 259 characters and a NUL), the
// remaining bytes 0x01; `prefix` bytes (the command number) come first.
std::array<BYTE, kPtzBoxTextRecordBytes> textRecord(std::string_view text, std::size_t prefix) {
    std::array<BYTE, kPtzBoxTextRecordBytes> record;
    record.fill(0x01);
    const std::size_t room = kPtzBoxTextRecordBytes - prefix;
    const std::size_t length = std::min({text.size(), kPtzBoxMaxText, room - 1});
    std::memcpy(record.data() + prefix, text.data(), length);
    record[prefix + length] = 0;
    return record;
}

}  // namespace

CZoPtzUI::CZoPtzUI(std::string_view instanceText, std::string_view program)
    : m_instance(instanceText), m_title(instanceText.empty() ? "Ptz" : "Ptz-" + std::string(instanceText)) {
    if (platform::FindWindow(nullptr, m_title.c_str()) == 0) {
        platform::Process box = platform::Process::start(program, {m_instance});
        if (!box.valid()) {
            linkTrace(1, "CZoPtzUI::CZoPtzUI() %.*s could not be started", static_cast<int>(program.size()),
                      program.data());
            return;
        }
        box.release();
    }
    m_started = true;
    if (!m_instance.empty()) {
        sendInstanceText();
    }
}

CZoPtzUI::~CZoPtzUI() { send(kPtzBoxClose, nullptr, 0); }

bool CZoPtzUI::send(platform::ULONG_PTR kind, const void* data, DWORD bytes) {
    const platform::HWND box = platform::FindWindow(nullptr, m_title.c_str());
    if (box == 0) {
        return false;
    }
    platform::COPYDATASTRUCT cds{kind, bytes, const_cast<void*>(data)};
    platform::SendMessage(box, platform::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    return true;
}

bool CZoPtzUI::sendInstanceText() {
    const auto record = textRecord(m_instance, 0);
    return send(kPtzBoxInstance, record.data(), static_cast<DWORD>(record.size()));
}

bool CZoPtzUI::SendCommandText(DWORD command, std::string_view text) {
    auto record = textRecord(text, sizeof command);
    std::memcpy(record.data(), &command, sizeof command);
    return send(kPtzBoxCommandText, record.data(), static_cast<DWORD>(record.size()));
}

bool CZoPtzUI::SendMove(DWORD value1, DWORD value2) {
    std::array<BYTE, 16> record;
    record.fill(0x01);
    std::memcpy(record.data(), &value1, 4);
    std::memcpy(record.data() + 4, &value2, 4);
    return send(kPtzBoxMove, record.data(), static_cast<DWORD>(record.size()));
}

bool CZoPtzUI::SetCamera(DWORD camera) {
    if (!send(kPtzBoxCamera, &camera, sizeof camera)) {
        return false;
    }
    m_lastCamera = camera;
    return true;
}

}  // namespace trennick
