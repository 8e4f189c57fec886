#pragma once
// What the file transfer window and its dialogs need of the main window: the
// transfer settings, the station-level commands (connect, disconnect, listen,
// options, the site information), the connected station's kind and release,
// and the news of what was sent and what arrived. Called on the
// user-interface thread.

#include "platform/types.h"

#include <array>
#include <string>

namespace trennick {

// The main window's transfer settings as the window reads them.
struct TransferSettings {
    std::string programFolder;           // without a trailing '/'
    std::string receiveFolder;           // ending in '/'
    std::array<BYTE, 8> flags{};         // the stored option bytes
    std::string queueFile, sentFile, receivedFile;

    bool ConfirmSend() const { return flags[2] != 0; }
    bool ForgetQueue() const { return flags[4] != 0; }
    // A received ordinary file: 0 opened, 1 left, 2 asked about.
    int OpenReceived() const { return flags[7]; }
    bool LongDate() const { return flags[5] != 0; }
    bool AutoSend() const { return flags[0] != 0; }
    bool SendOnAdd() const { return flags[1] != 0; }
};

// Kinds of the connected station that the release check asks for.
inline constexpr int kRemoteNone = 0;
inline constexpr int kRemoteRecorder = 1;
inline constexpr int kRemoteUnit = 2;

class FileTransferHost {
public:
    virtual ~FileTransferHost() = default;
    virtual TransferSettings transferSettings() = 0;
    // A command to the main window (posted: it runs after the caller returns).
    virtual void postCommand(WPARAM id) = 0;
    // The window is closing: the main window forgets it once this returns.
    virtual void windowClosing() = 0;
    // The connected station's kind and release text; false without a main window.
    virtual bool remoteVersion(int& kind, std::string& text) = 0;
    // Disables the main window around a modal dialog of ours, and enables it again.
    virtual void activateMain(bool /*on*/) {}
    // A send ended with the link's final state; a file arrived whole.
    virtual void sendEnded(LONG /*state*/, const std::string& /*path*/) {}
    virtual void fileArrived(const std::string& /*path*/, LONG /*kind*/) {}
};

}  // namespace trennick
