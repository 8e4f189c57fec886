#pragma once
// Sends one file from one connected link to another over a real line and
// checks that it arrived whole; `pass` runs one main-loop pass of both stations.

#include "platform/folders.h"
#include "trennick/link/packet_connection.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

namespace serialtest {

inline bool transferFile(trennick::CPacketConnection& from, trennick::CPacketConnection& to,
                         const std::function<void()>& pass) {
    namespace fs = std::filesystem;
    const fs::path out = platform::homeFolder() / "outgoing";
    const fs::path in = platform::homeFolder() / "incoming";
    fs::create_directories(out);
    fs::create_directories(in);
    std::vector<char> bytes(6000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 37 + 1) & 0xFF);  // 0x01s too
    std::ofstream(out / "site.bin", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    to.SetReceiveFolders(in.c_str(), in.c_str());
    if (from.SetSendStatus(1, 0, (out / "site.bin").c_str()) != 1) return false;
    std::string path;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!to.GetReceivedFileName(path) && std::chrono::steady_clock::now() < deadline) {
        pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::ifstream got(in / "site.bin", std::ios::binary);
    const std::vector<char> arrived((std::istreambuf_iterator<char>(got)), std::istreambuf_iterator<char>());
    return arrived == bytes;
}

}  // namespace serialtest
