#pragma once
// Two link stations in this process on loopback, each with its transfer
// window's host, driven pass by pass as the main frame drives them.

#include "platform/folders.h"
#include "trennick/net/testing/link_station.h"
#include "trennick/panels/transfer_host.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace panelstest {

using namespace trennick;

inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The main window as the transfer window sees it: settings under a folder of
// its own, and a record of the commands it was asked for.
class TestHost : public FileTransferHost {
public:
    explicit TestHost(const std::string& name) {
        const auto root = platform::homeFolder() / name;
        settings.programFolder = root.string();
        settings.receiveFolder = (root / "Receive").string() + "/";
        settings.flags = {1, 1, 0, 1, 0, 0, 1, 1};  // auto send, send on add, keep the queue, leave received files
        settings.queueFile = (root / "data" / "KivQFile.kiv").string();
        settings.sentFile = (root / "data" / "KivSFile.kiv").string();
        settings.receivedFile = (root / "data" / "KivRFile.kiv").string();
        std::filesystem::create_directories(root / "Receive");
        std::filesystem::create_directories(root / "data");
    }
    TransferSettings transferSettings() override { return settings; }
    void postCommand(WPARAM id) override { commands.push_back(id); }
    void windowClosing() override { ++closings; }
    bool remoteVersion(int& kind, std::string& text) override {
        kind = remoteKind;
        text = remoteRelease;
        return hasMainWindow;
    }
    void sendEnded(LONG state, const std::string&) override { ended.push_back(state); }
    void fileArrived(const std::string& path, LONG) override { arrived.push_back(path); }

    TransferSettings settings;
    std::vector<WPARAM> commands;
    std::vector<LONG> ended;
    std::vector<std::string> arrived;
    int closings = 0;
    int remoteKind = 0;
    std::string remoteRelease;
    bool hasMainWindow = true;
};

}  // namespace panelstest
