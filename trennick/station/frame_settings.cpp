#include "trennick/station/frame_settings.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "common/product_registry.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "tavicore/product_key.h"
#include "tavicore/station_identity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace trennick {

namespace {

CKcReg reg(const char* section) { return ProductKey(section); }

// Reads a number with its default and writes it back at once.
void dwordRW(CKcReg& r, const char* name, DWORD& value) {
    DWORD stored = 0;
    if (r.GetDword(nullptr, name, &stored)) value = stored;
    r.SetDword(nullptr, name, &value);
}

// The numbers of the Comms group, read and written under these names.
struct CommsNumber {
    const char* name;
    DWORD CommsRecord::*member;
};
constexpr CommsNumber kCommsNumbers[] = {
    {"CommandTimeOut", &CommsRecord::CommandTimeOut}, {"FileInActive", &CommsRecord::FileInActive},
    {"ForcedBandwidth", &CommsRecord::ForcedBandwidth}, {"BaudRate", &CommsRecord::BaudRate},
    {"StopBits", &CommsRecord::StopBits}, {"Parity", &CommsRecord::Parity}, {"ByteSize", &CommsRecord::ByteSize},
    {"RingsCount", &CommsRecord::RingsCount}, {"PromptBeforeAnswer_R", &CommsRecord::PromptBeforeAnswer_R},
    {"BlockCalls_R", &CommsRecord::BlockCalls_R}, {"SpeakerOff", &CommsRecord::SpeakerOff},
    {"UseSVD", &CommsRecord::UseSVD}, {"PlayRings", &CommsRecord::PlayRings}, {"x_pos", &CommsRecord::x_pos},
    {"y_pos", &CommsRecord::y_pos}, {"InetStartSpeed", &CommsRecord::InetStartSpeed},
    {"Hello Timeout", &CommsRecord::HelloTimeout}, {"Hello MaxTimeRetry", &CommsRecord::HelloMaxTimeRetry},
    {"Hello SetupLimit", &CommsRecord::HelloSetupLimit},
    {"NetInUse", &CommsRecord::NetInUse}, {"UseDialUp", &CommsRecord::UseDialUp},
    {"UseServerIp", &CommsRecord::UseServerIp}, {"DialUpRemoteIsAttended", &CommsRecord::DialUpRemoteIsAttended},
    {"AutoAnswer", &CommsRecord::AutoAnswer}, {"AutoListen", &CommsRecord::AutoListen},
    {"DirectLine", &CommsRecord::DirectLine},
};

// Reads a text of at most `size` - 1 characters with its default; written back.
void textRW(CKcReg& r, const char* name, char* text, std::size_t size) {
    std::vector<char> buffer(size, '\0');
    DWORD room = static_cast<DWORD>(size);
    if (r.GetString(nullptr, name, buffer.data(), &room)) {
        std::memcpy(text, buffer.data(), size);
        text[size - 1] = '\0';
    }
    r.SetString(nullptr, name, text);
}

// Reads a block of exactly `size` bytes; false (and the block unchanged) otherwise.
bool binaryRead(CKcReg& r, const char* name, void* block, std::size_t size) {
    std::vector<BYTE> buffer(size);
    DWORD got = static_cast<DWORD>(size);
    if (!r.GetBinary(nullptr, name, buffer.data(), &got) || got != size) return false;
    std::memcpy(block, buffer.data(), size);
    return true;
}

void makeFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

DWORD clampOr(DWORD value, DWORD low, DWORD high, DWORD otherwise) {
    return value >= low && value <= high ? value : otherwise;
}

bool sectionExists(const char* section) {
    const std::string path = ProductKeyPath(section);
    platform::HKEY key = 0;
    if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), 0, platform::KEY_READ, &key) != 0) {
        return false;
    }
    platform::RegCloseKey(key);
    return true;
}

}  // namespace

void CFrameSettings::ReadScreenSettings(int captionHeight, int menuHeight, int frameHeight) {
    CKcReg r = reg("General");
    ScreenPlacement stored;
    if (binaryRead(r, "ScreenSettings", &stored, sizeof stored)) {
        screen = stored;
    } else {
        screen.x = 10;
        screen.y = 0;
        screen.expanded = 0;
    }
    screen.width = 322;
    screen.height = captionHeight + menuHeight + 2 * frameHeight + 102 + (screen.expanded ? 272 : 0);
    screen.topMargin = 5;
    screen.leftMargin = 5;
    screen.layout3 = 62;
    screen.layout4 = 1;
}

void CFrameSettings::WriteScreenSettings() {
    CKcReg r = reg("General");
    r.SetBinary(nullptr, "ScreenSettings", reinterpret_cast<const BYTE*>(&screen), sizeof screen);
}

void CFrameSettings::ReadGenSettings() {
    CKcReg r = reg("General");
    // The program's folder under the home is this station's working folder.
    const std::string home = platform::programFolder().string();
    fixed_text::Write(general.HomeDir, sizeof general.HomeDir, home);
    textRW(r, "HomeDir", general.HomeDir, sizeof general.HomeDir);
    LUMO_TRACE(5, "CMainFrame::ReadGenSettings() HomeDir = %s", general.HomeDir);
    dwordRW(r, "TimeSlice", general.TimeSlice);
    dwordRW(r, "CommandTimeOut", general.CommandTimeOut);
    binaryRead(r, "Flags", general.Flags, sizeof general.Flags);
    general.Flags[1] &= 1;
    if (!binaryRead(r, "Business Card", general.BusinessCard, sizeof general.BusinessCard)) {
        LUMO_TRACE(5, "CMainFrame::ReadGenSettings() RegQueryValueEx(hkey,'Business Card'.....) failed");
        std::memset(general.BusinessCard, 0, sizeof general.BusinessCard);
    }
    if (!binaryRead(r, "Chat Settings", &general.Chat, sizeof general.Chat)) {
        general.Chat = ChatSettingsRecord{};
        // The window's outer height: the client height with its caption and frame.
        general.Chat.height = 484 + kCaptionHeight + 2 * kFrameHeight;
    }
    general.Chat.capturePath[sizeof general.Chat.capturePath - 1] = '\0';
    dwordRW(r, "TimeOutForMesageBoxesMS", general.TimeOutForMesageBoxesMS);
    dwordRW(r, "MaxReadQ_Bytes", general.MaxReadQ_Bytes);
    {
        CKcReg alarm = reg("Alarm");
        dwordRW(alarm, "UnattendedDisconnect", general.UnattendedDisconnect);
    }
    for (const char* sub : {"/Data", "/Business Cards", "/Temp"}) {
        makeFolder(std::string(general.HomeDir) + sub);
    }
}

void CFrameSettings::WriteGenSettings() {
    CKcReg r = reg("General");
    r.SetString(nullptr, "HomeDir", general.HomeDir);
    r.SetDword(nullptr, "TimeSlice", &general.TimeSlice);
    r.SetDword(nullptr, "CommandTimeOut", &general.CommandTimeOut);
    r.SetBinary(nullptr, "Flags", general.Flags, sizeof general.Flags);
    r.SetBinary(nullptr, "Business Card", general.BusinessCard, sizeof general.BusinessCard);
    r.SetBinary(nullptr, "Chat Settings", reinterpret_cast<const BYTE*>(&general.Chat), sizeof general.Chat);
    r.SetDword(nullptr, "TimeOutForMesageBoxesMS", &general.TimeOutForMesageBoxesMS);
    r.SetDword(nullptr, "MaxReadQ_Bytes", &general.MaxReadQ_Bytes);

    // This station's identity: a GUID when it has none yet, and the card's
    // name and phone as its information.
    CUUIDdb ids;
    char guid[kGuidTextBytes] = {};
    if (!ids.dbGUIDThisReadKey(guid, sizeof guid)) {
        if (ids.dbGUIDCreateKey(guid, sizeof guid)) ids.dbGUIDThisWriteKey(guid);
    }
    // A card without a name leaves the identity's texts as they are (the
    // identity page may have set them).
    const char* name = reinterpret_cast<const char*>(general.BusinessCard + kCardNameOffset);
    const char* phone = reinterpret_cast<const char*>(general.BusinessCard + kCardPhoneOffset);
    if (name[0] != '\0') {
        tagSiteInfo info{};
        std::snprintf(info.name, sizeof info.name, "%.*s", static_cast<int>(kCardNameBytes - 1), name);
        std::snprintf(info.phone, sizeof info.phone, "%.*s", static_cast<int>(kCardPhoneBytes - 1), phone);
        ids.dbGUIDThisWriteInfo(&info);
    }
}

std::vector<std::string> CFrameSettings::DialledNumbers() const {
    // Each stored number goes to the head of the list, as it is read.
    std::vector<std::string> list;
    for (const auto& number : comms.NumbersDialed) {
        const std::string text = fixed_text::Read(number, sizeof number);
        if (!text.empty()) list.insert(list.begin(), text);
    }
    return list;
}

void CFrameSettings::ReadCommsSettings(DWORD appNetInUse) {
    commsSectionMissing = !sectionExists("Comms");
    CKcReg r = reg("Comms");
    if (commsSectionMissing) {
        LUMO_TRACE(5, "CMainFrame::ReadCommsSettings()  Open Key failed, %s, LINE %d", "MainFrm", __LINE__);
        comms.BaudRate = 57600;
        comms.RingsCount = 1;
    }
    textRW(r, "ModemName", comms.ModemName, sizeof comms.ModemName);
    textRW(r, "ModemFile", comms.ModemFile, sizeof comms.ModemFile);
    textRW(r, "PortName", comms.PortName, sizeof comms.PortName);
    textRW(r, "Outsidelineprefix", comms.Outsidelineprefix, sizeof comms.Outsidelineprefix);
    comms.NetInUse = appNetInUse;
    for (const CommsNumber& n : kCommsNumbers) dwordRW(r, n.name, comms.*n.member);
    if (binaryRead(r, "NumbersDialed", comms.NumbersDialed, sizeof comms.NumbersDialed)) {
        for (auto& number : comms.NumbersDialed) number[sizeof number - 1] = '\0';
    }
    textRW(r, "PhoneBookName", comms.PhoneBookName, sizeof comms.PhoneBookName);
    textRW(r, "DialUpUser", comms.DialUpUser, sizeof comms.DialUpUser);
    textRW(r, "TapiLine", comms.TapiLine, sizeof comms.TapiLine);
}

void CFrameSettings::WriteCommsSettings() {
    CKcReg r = reg("Comms");
    r.SetString(nullptr, "ModemName", comms.ModemName);
    r.SetString(nullptr, "ModemFile", comms.ModemFile);
    r.SetString(nullptr, "PortName", comms.PortName);
    r.SetString(nullptr, "Outsidelineprefix", comms.Outsidelineprefix);
    for (const CommsNumber& n : kCommsNumbers) r.SetDword(nullptr, n.name, &(comms.*n.member));
    r.SetBinary(nullptr, "NumbersDialed", reinterpret_cast<const BYTE*>(&comms.NumbersDialed[0][0]), sizeof comms.NumbersDialed);
    r.SetString(nullptr, "PhoneBookName", comms.PhoneBookName);
    r.SetString(nullptr, "DialUpUser", comms.DialUpUser);
    r.SetString(nullptr, "TapiLine", comms.TapiLine);
}

void CFrameSettings::ReadCaldrinSettings() {
    CKcReg r = reg("Caldrin");
    fixed_text::Write(caldrin.HomeDir, sizeof caldrin.HomeDir, general.HomeDir);
    textRW(r, "HomeDir", caldrin.HomeDir, sizeof caldrin.HomeDir);
    fixed_text::Write(caldrin.RecDir, sizeof caldrin.RecDir, std::string(caldrin.HomeDir) + "/Receive");
    textRW(r, "RecDir", caldrin.RecDir, sizeof caldrin.RecDir);
    std::string rec = caldrin.RecDir;
    if (rec.empty() || rec.back() != '/') {
        if (rec.size() + 1 < sizeof caldrin.RecDir) rec += '/';
        fixed_text::Write(caldrin.RecDir, sizeof caldrin.RecDir, rec);
    }
    makeFolder(caldrin.RecDir);
    dwordRW(r, "TimeSlice", caldrin.TimeSlice);
    dwordRW(r, "CommandTimeOut", caldrin.CommandTimeOut);
    binaryRead(r, "Flags", caldrin.Flags, sizeof caldrin.Flags);
    const std::string data = std::string(caldrin.HomeDir) + "/data/";
    makeFolder(data);
    caldrin.queueFile = data + "KivQFile.kiv";
    caldrin.sentFile = data + "KivSFile.kiv";
    caldrin.receivedFile = data + "KivRFile.kiv";
    if (general.Chat.capturePath[0] == '\0') {
        fixed_text::Write(general.Chat.capturePath, sizeof general.Chat.capturePath,
                          std::string(caldrin.RecDir) + "chat.txt");
    }
    caldrin.chatFile = general.Chat.capturePath;
}

void CFrameSettings::WriteCaldrinSettings() {
    CKcReg r = reg("Caldrin");
    r.SetString(nullptr, "HomeDir", caldrin.HomeDir);
    r.SetString(nullptr, "RecDir", caldrin.RecDir);
    r.SetDword(nullptr, "TimeSlice", &caldrin.TimeSlice);
    r.SetDword(nullptr, "CommandTimeOut", &caldrin.CommandTimeOut);
    r.SetBinary(nullptr, "Flags", caldrin.Flags, sizeof caldrin.Flags);
}

namespace {

struct VideoValue {
    const char* name;
    DWORD VideoRecord::*field;
};
constexpr VideoValue kVideoValues[] = {
    {"slowContrast", &VideoRecord::slowContrast}, {"fastContrast", &VideoRecord::fastContrast},
    {"slowTracking", &VideoRecord::slowTracking}, {"fastTracking", &VideoRecord::fastTracking},
    {"BytesPerFrame", &VideoRecord::BytesPerFrame}, {"Background", &VideoRecord::Background},
    {"KeyFrameContrast", &VideoRecord::KeyFrameContrast}, {"KeyFrameTracking", &VideoRecord::KeyFrameTracking},
    {"DefaultRateOnDOA", &VideoRecord::DefaultRateOnDOA},
    {"CompressPacketLength", &VideoRecord::CompressPacketLength},
    {"rParam_AllowChangeSize", &VideoRecord::rParam_AllowChangeSize}, {"rParam_mono", &VideoRecord::rParam_mono},
    {"rParam_use256pal", &VideoRecord::rParam_use256pal}, {"rParam_QQual", &VideoRecord::rParam_QQual},
    {"rParam_StarStart", &VideoRecord::rParam_StarStart}, {"rParam_CQual", &VideoRecord::rParam_CQual},
    {"rParam_imagewidth", &VideoRecord::rParam_imagewidth},
    {"rParam_imageheight", &VideoRecord::rParam_imageheight},
    {"PromptWhenReceive", &VideoRecord::PromptWhenReceive}, {"RemoteAlwaysOnTop", &VideoRecord::RemoteAlwaysOnTop},
    {"RemoteDoubleSize", &VideoRecord::RemoteDoubleSize}, {"MaxFrameRate", &VideoRecord::MaxFrameRate},
    {"RemotePreferRate", &VideoRecord::RemotePreferRate},
    {"EnablePerfectCompression", &VideoRecord::EnablePerfectCompression},
    {"VideoStreamMode", &VideoRecord::VideoStreamMode},
};

}  // namespace

void CFrameSettings::ReadVideoSettings() {
    {
        CKcReg rs = reg("Video\\Rs232");
        dwordRW(rs, "Rs232Out", video.Rs232Out);
        dwordRW(rs, "Rs232OutPort", video.Rs232OutPort);
    }
    CKcReg r = reg("Video");
    for (const auto& v : kVideoValues) {
        DWORD& value = video.*(v.field);
        DWORD stored = 0;
        if (r.GetDword(nullptr, v.name, &stored)) value = stored;
        // Clamp before writing back, so a bad stored value is repaired.
        if (v.field == &VideoRecord::CompressPacketLength) value = std::min(value, kMaxCompressPacketLength);
        if (v.field == &VideoRecord::rParam_QQual || v.field == &VideoRecord::rParam_CQual) {
            value = clampOr(value, 1, 100, 40);
        }
        if (v.field == &VideoRecord::rParam_imagewidth) value = clampOr(value, 1, 352, 176);
        if (v.field == &VideoRecord::rParam_imageheight) value = clampOr(value, 1, 288, 144);
        r.SetDword(nullptr, v.name, &value);
    }
    binaryRead(r, "lPos", video.lPos, sizeof video.lPos);
    binaryRead(r, "rPos", video.rPos, sizeof video.rPos);
    makeFolder(std::string(general.HomeDir) + "/Snapshots");
}

void CFrameSettings::WriteVideoSettings() {
    CKcReg r = reg("Video");
    for (const auto& v : kVideoValues) r.SetDword(nullptr, v.name, &(video.*(v.field)));
    r.SetDword(nullptr, "AutoSend", &video.AutoSend);
    r.SetDword(nullptr, "ShowVideoWhenRun", &video.ShowVideoWhenRun);
    r.SetBinary(nullptr, "lPos", video.lPos, sizeof video.lPos);
    r.SetBinary(nullptr, "rPos", video.rPos, sizeof video.rPos);
    CKcReg rs = reg("Video\\Rs232");
    rs.SetDword(nullptr, "Rs232Out", &video.Rs232Out);
    rs.SetDword(nullptr, "Rs232OutPort", &video.Rs232OutPort);
}

void CFrameSettings::ReadStorageSettings() {
    CKcReg r = CommonKey("Storage");
    fixed_text::Write(storage.folder, sizeof storage.folder, platform::programFolder().string());
    textRW(r, "DefaultPath", storage.folder, sizeof storage.folder);
    BYTE options[3] = {};
    if (binaryRead(r, "Options", options, sizeof options)) {
        storage.check1247 = options[0] != 0 ? 1 : 0;
        storage.check1081 = options[1] != 0 ? 1 : 0;
        storage.choice = options[2] <= 2 ? options[2] : 0;
    }
}

void CFrameSettings::WriteStorageSettings() {
    CKcReg r = CommonKey("Storage");
    r.SetString(nullptr, "DefaultPath", storage.folder);
    const BYTE options[3] = {storage.check1247, storage.check1081, storage.choice};
    r.SetBinary(nullptr, "Options", options, sizeof options);
}

}  // namespace trennick
