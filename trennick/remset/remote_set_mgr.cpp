#include "trennick/remset/remote_set_mgr.h"

#include "common/lumo_deb.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "platform/replace_file.h"
#include "tavicore/product_key.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace trennick {
namespace {

namespace fs = std::filesystem;

constexpr const char* kListFile = "SetList.Bin";
constexpr const char* kSetListType = "Set List";
constexpr const char* kSetSysListType = "Set Sys List";

// Codes whose message also ends the transfer.
bool abortsTransfer(LONG code) {
    switch (code) {
    case 14: case 16: case 17: case 18: case 19: case 21: case 22: case 23: case 63: case 64:
        return true;
    default:
        return false;
    }
}

bool safeFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

// The bytes of a list file, or nothing when it cannot be read whole.
bool readList(const std::string& path, std::vector<BYTE>& bytes) {
    DWORD size = 0;
    if (!CRemoteSetList::GetSetListFileSize(path, size)) return false;
    bytes.assign(size, 0);
    return size == 0 || CRemoteSetList::ReadSetFile(bytes.data(), size, path) != 0;
}

DWORD percentOf(ULONGLONG done, ULONGLONG total) {
    if (total == 0) total = 1;
    return static_cast<DWORD>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
}

}  // namespace

bool RemoteSetMgrHost::ptzEnabled() {
    CKcReg reg = ProductKey("Ptz");
    DWORD enabled = 0;
    reg.GetDwordDefault(nullptr, "PtzEnabled", &enabled);
    return enabled != 0;
}

CRemoteSetMgr::CRemoteSetMgr(RemoteSetMgrHost& host) : m_host(host) {
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
}

CRemoteSetMgr::~CRemoteSetMgr() {
    m_control.DestroyUI();
    m_store.reset();
    m_unknown.reset();
    if (m_comInitialised) CoUninitialize();
}

BOOL CRemoteSetMgr::CreateManager(CPacketConnection* link) {
    m_link = link;
    m_store.reset();
    m_unknown.reset();
    if (FAILED(CoCreateInstance(CLSID_RemSetDB, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, m_unknown.putVoid())) ||
        !m_unknown) {
        if (link != nullptr) LUMO_TRACE(5, "ERROR: CoCreateInstance CLSID_RemSetDB Failed");
        return 0;
    }
    if (FAILED(m_unknown->QueryInterface(IID_IRemSetDB, m_store.putVoid())) || !m_store) {
        if (link != nullptr) LUMO_TRACE(5, "ERROR: QueryInterface IID_IRemSetDB Failed");
        m_unknown.reset();
        return 0;
    }
    RemoteSetCtlEvents events;
    events.upload = [this] { UploadSettings(); };
    events.download = [this] { OnDownLoadRemoteSetCtl(); };
    events.cancel = [this] { OnCancelRemoteSetCtl(); };
    if (m_control.Create(events)) {
        m_control.SetRSDB(m_unknown.get());
    } else {
        LUMO_TRACE(3, "CRemoteSetMgr::CreateManager the settings editor control is missing: transfers only");
    }
    return 1;
}

bool CRemoteSetMgr::linkUp() const { return m_link != nullptr && m_link->IsLinkUp(); }

std::string CRemoteSetMgr::ListPath() const {
    std::error_code error;
    fs::path folder = platform::programFolder() / "RSettings";
    const std::string instance = m_host.instanceId();
    if (!instance.empty() && safeFolderName(instance)) folder /= instance;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return (platform::programFolder() / kListFile).string();
    return (folder / kListFile).string();
}

void CRemoteSetMgr::endWithEvent(LONG code) {
    StopProgressTimer();
    ResetTransferDisplay();
    OnSettingsEvent(code, 0, 0);
}

BOOL CRemoteSetMgr::UploadSettings() {
    const std::string path = ListPath();
    if (!m_store) {
        LUMO_TRACE(1, "CRemoteSetMgr::UploadSettings() Error Refering to IRemSetDB");
        return 0;
    }
    tagHWProfile profile{};
    m_host.remoteHWProfile(profile);
    if (!linkUp()) {
        endWithEvent(3);
        return 0;
    }
    auto settings = std::make_unique<tagRemSettings>();
    if (const HRESULT hr = m_store->Get(settings.get()); hr != RSDB_OK) {
        LUMO_TRACE(5, "ERROR:CRemoteSetMgr::UploadSettings() RemsetDB ret Error Number %d", int(hr));
        return 0;
    }
    CRemoteSetList list(m_host);
    const DWORD size = list.GetListSize(profile, *settings);
    LUMO_TRACE(5, "CRemoteSetMgr::UploadSettings() GetListSize return %d", int(size));
    std::vector<BYTE> buffer(size);
    const DWORD built = list.CreateList(profile, *settings, buffer.data(), size);
    if (built == 0) {
        LUMO_TRACE(5, "ERROR:CRemoteSetMgr::CreateList Failed ");
        return 0;
    }
    if (!CRemoteSetList::CreateSetFile(buffer.data(), built, path)) {
        LUMO_TRACE(5, "ERROR:CRemoteSetMgr::CreateSetListFile Failed ");
        return 0;
    }
    SetTransferDirection(2);
    if (!m_host.sendFile(path, kSetListType)) {
        // Another file is on its way: the list is not sent, and the caller is told.
        LUMO_TRACE(1, "CRemoteSetMgr::UploadSettings() the link did not take %s", path.c_str());
        return 0;
    }
    return 1;
}

BOOL CRemoteSetMgr::DownloadSettings() {
    if (!linkUp()) {
        endWithEvent(3);
        return 0;
    }
    SetTransferDirection(1);
    if (m_link->SendGetSettings() == 0) return 0;
    if (!m_link->IsAdminConnected()) {
        m_control.UpdateData(19, 0);
    } else if (!(m_host.siteLocked() && m_link->GetProtocolVersion() != 1)) {
        m_control.UpdateData(19, 1);
    }
    return 1;
}

BOOL CRemoteSetMgr::UploadSysSettings() {
    if (!m_store) return 0;
    BSTR name = nullptr;
    const HRESULT hr = m_store->GetSystemProfileName(&name);
    const std::string path = name != nullptr ? std::string(name, SysStringByteLen(name)) : std::string();
    SysFreeString(name);
    if (hr != RSDB_OK) {
        LUMO_TRACE(5, "ERROR:CRemoteSetMgr::UploadSysSettings() Error Number %d", int(hr));
        LUMO_TRACE(3, "CRemoteSetMgr::UploadSysSettings() Sys Profile was not found");
        return 0;
    }
    LUMO_TRACE(3, "CRemoteSetMgr::UploadSysSettings() Sys Profile Found Sys profile name is %s", path.c_str());
    return m_host.sendFile(path, kSetSysListType) ? 1 : 0;
}

BOOL CRemoteSetMgr::DownloadSysSettings() {
    if (!linkUp()) return 0;
    return m_link->SendGetSysSettings() != 0 ? 1 : 0;
}

BOOL CRemoteSetMgr::ReportSettingsError(const BYTE (&entry)[8]) {
    if (m_link == nullptr) return 0;
    return m_link->SendSettingsError(entry, sizeof entry) != 0 ? 1 : 0;
}

int CRemoteSetMgr::OnReceivedSettings() {
    std::string received;
    if (m_link == nullptr || !m_link->GetReceivedFileName(received)) {
        LUMO_TRACE(5, "CRemoteSetMgr::OnReceivedSettings->GetRecivingFileName(szFileName) Failed");
        return 0;
    }
    std::vector<BYTE> bytes;
    if (!readList(received, bytes)) {
        LUMO_TRACE(5, "CRemoteSetMgr::OnReceivedSettings-> GetSetListFileSize Failed");
        if (!m_kitPath.empty()) m_host.notifyGetProfileDone(std::exchange(m_kitPath, {}), 0);
        return 0;
    }
    // The list is checked before it replaces anything.
    auto settings = std::make_unique<tagRemSettings>();
    CRemoteSetList list(m_host);
    const bool taken = list.DispatchList(bytes.data(), DWORD(bytes.size()), *settings);
    if (!m_kitPath.empty()) {
        // The kit's file appears whole or not at all: the kit may read it as
        // soon as it exists.
        const bool copied =
            taken && platform::ReplaceFileContent(
                         m_kitPath, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) == 0;
        m_host.notifyGetProfileDone(std::exchange(m_kitPath, {}), copied ? 1 : 0);
    }
    StopProgressTimer();
    ResetTransferDisplay();
    if (!taken) {
        LUMO_TRACE(1, "CRemoteSetMgr::OnReceivedSettings the list of %lu bytes was refused: the settings stay",
                   static_cast<unsigned long>(bytes.size()));
        ++m_listsRefused;
        if (!m_control.UserMessage(LONG(kStrRemoteSettingsUnknown), kDamagedListText, 0, 0)) {
            m_host.showNotice(kDamagedListText);
        }
        return 0;
    }
    if (m_store) m_store->Set(settings.get());
    m_control.Refresh();
    ++m_listsStored;
    m_host.logEntry(kLogSettingsReceived);
    return 1;
}

int CRemoteSetMgr::OnReceivedSysSettings() {
    LUMO_TRACE(5, "CRemoteSetMgr::OnReceivedSysSettings-> Sys Setting Recived ");
    return 1;
}

void CRemoteSetMgr::OnReceivedSettingsErr(const BYTE* buffer, DWORD length, int entryBytes) {
    if (buffer == nullptr || (entryBytes != 8 && entryBytes != 12)) return;
    // Whole entries only: a tail shorter than an entry is not read.
    for (DWORD at = 0; length - at >= DWORD(entryBytes); at += DWORD(entryBytes)) {
        DWORD words[3] = {};
        std::memcpy(words, buffer + at, std::size_t(entryBytes));
        const LONG code = LONG(words[0] >> 16);
        if (entryBytes == 8) {
            OnSettingsEvent(code, LONG(words[1] & 0xFFFF), LONG(words[1] >> 16));
        } else {
            OnSettingsEvent(code, LONG(words[1]), LONG(words[2]));
        }
    }
}

void CRemoteSetMgr::OnFinishUpgrade() {
    LUMO_TRACE(5, "CRemoteSetMgr::OnFinishUpgrade()->Got Finish Upgrade");
    if (!m_kitPath.empty()) m_host.notifySetProfileDone(std::exchange(m_kitPath, {}), 1);
    StopProgressTimer();
    ResetTransferDisplay();
    ++m_uploadsFinished;
    m_host.logEntry(kLogUploadFinished);
}

UINT CRemoteSetMgr::MessageId(LONG code) {
    if (code == 0) return 65142;
    if (code == 1) return 65143;
    if (code >= 3 && code <= 10) return UINT(65144 + code - 3);
    if (code >= 11 && code <= 14) return UINT(65153 + code - 11);
    if (code >= 16 && code <= 19) return UINT(65157 + code - 16);
    if (code >= 21 && code <= 44) return UINT(65161 + code - 21);
    if (code >= 46 && code <= 80) return UINT(65185 + code - 46);
    if (code >= 81 && code <= 85) return UINT(65222 + code - 81);
    switch (code) {
    case 88: return 65227;
    case 89: return 65236;
    case 98: return 65241;
    case 99: return 65239;
    case 100: return 65238;
    case 101: return 65237;
    case 102: return 65249;
    case 103: return 65250;
    default: break;
    }
    if (code >= 90 && code <= 97) return UINT(65228 + code - 90);
    return kStrRemoteSettingsUnknown;
}

std::string CRemoteSetMgr::messageText(UINT stringId, LONG code) {
    std::string text = m_host.text(stringId);
    if (text.empty()) text = "Remote settings message " + std::to_string(code);
    return text;
}

void CRemoteSetMgr::OnSettingsEvent(LONG code, LONG first, LONG second) {
    const UINT id = MessageId(code);
    if (id == kStrRemoteSettingsUnknown) {
        ShowMessage(LONG(kStrRemoteSettingsUnknown), messageText(id, code), first, second);
        return;
    }
    const std::string text = messageText(id, code);
    if (code == 0) {
        TraceMessage(code, text);
        return;
    }
    ShowMessage(code, text, first, second);
    if (code == 16) TraceMessage(code, text);
    if (abortsTransfer(code)) AbortTransfer();
}

void CRemoteSetMgr::ShowMessage(LONG code, const std::string& text, LONG first, LONG second) {
    if (m_link != nullptr) LUMO_TRACE(5, "Remote Settings Error Num %d::%s", int(code), text.c_str());
    if (code == 13 || code == 81 || code == LONG(kStrRemoteSettingsUnknown)) return;
    if (!m_control.UserMessage(code, text, first, second)) m_host.showNotice(text);
}

void CRemoteSetMgr::TraceMessage(LONG code, const std::string& text) {
    LUMO_TRACE(5, "Remote Settings Error Num %d::%s", int(code), text.c_str());
}

void CRemoteSetMgr::AbortTransfer() {
    if (m_link != nullptr) m_link->CancelSending();
    ResetTransferDisplay();
}

void CRemoteSetMgr::ResetTransferDisplay() { m_control.UpdateData(8, 0); }

void CRemoteSetMgr::OnDownLoadRemoteSetCtl() {
    LUMO_TRACE(3, "CRemoteSetMgr::OnDownLoadRemoteSetCtl()");
    DownloadSettings();
}

void CRemoteSetMgr::OnCancelRemoteSetCtl() {
    if (m_link != nullptr) {
        // Stopping a side is never refused.
        (void)m_link->SetSendStatus(0, 0, nullptr);
        (void)m_link->SetReceiveStatus(0, nullptr);
    }
    m_host.closeFileTransferWindow();
    StopProgressTimer();
    ResetTransferDisplay();
}

void CRemoteSetMgr::UpdateTransferProgress() {
    takeKitUploadWhenItGoes();
    if (m_link == nullptr || !m_link->IsLinkUp() || !m_link->IsConnected() || m_direction == 0) return;
    ULONGLONG total = 1, done = 0;
    LONG kind = -1;
    const LONG state = m_direction == 2 ? m_link->GetSendStatus(&total, &done, &kind, nullptr, nullptr)
                                        : m_link->GetReceiveStatus(&total, &done, &kind, nullptr, nullptr);
    // The send side reports a running file as SEND_SENDING, the receive side as REC_RECEIVING.
    if (kind == kFileKindRemoteSettings && (state == REC_RECEIVING || state == SEND_SENDING)) {
        m_control.UpdateData(7, LONG(percentOf(done, total)));
    }
}

bool CRemoteSetMgr::InitSettingsControl() {
    if (ControlMissing()) return false;
    m_control.UpdateData(5, 0);
    m_control.UpdateData(6, 0);
    tagHWProfile profile{};
    if (linkUp() && m_host.remoteHWProfile(profile)) {
        const tagAdapterBlock& first = profile.adapters[0];
        m_control.UpdateData(9, profile.adaptersNumber);
        m_control.UpdateData(1, first.camerasNumber);
        m_control.UpdateData(2, first.relaysNumber);
        m_control.UpdateData(3, first.camerasNumber);
        m_control.UpdateData(20, 1);
        const int protocol = m_link->GetProtocolVersion();
        if (m_host.siteLocked() && protocol != 1) m_control.UpdateData(19, 0);
        if (!m_link->IsAdminConnected()) {
            m_control.UpdateData(19, 0);
            m_control.UpdateData(20, 0);
        }
        if (protocol == 1) {
            for (auto [type, value] : {std::pair{10, 0}, {15, 1}, {16, 1}, {11, 1}, {12, 1}, {18, 0}, {22, 0},
                                       {23, 0}, {24, 0}, {25, 0}, {26, 1}}) {
                m_control.UpdateData(type, value);
            }
        } else {
            for (auto [type, value] : {std::pair{12, 0}, {18, 1}, {22, 1}, {22, 1}, {24, 1}}) {
                m_control.UpdateData(type, value);
            }
            const std::string version = m_host.siteVersionText();
            bool old = false;
            for (const char* v : {"2.6", "2.7", "2.8", "2.81"}) old = old || version.find(v) != std::string::npos;
            m_control.UpdateData(25, old ? 0 : 1);
            m_control.UpdateData(23, old ? 0 : 1);
            m_control.UpdateData(26, old ? 1 : 0);
            const WORD current = std::min<WORD>(profile.currentAdapter, kMaxAdapters - 1);
            DWORD capability = 0;
            std::memcpy(&capability,
                        reinterpret_cast<const BYTE*>(&profile.adapters[current]) + offsetof(tagAdapterBlock, deviceData) +
                            offsetof(tagAdapterDeviceData, swCapability),
                        sizeof capability);
            m_control.UpdateData(28, capability != 0 ? 1 : 0);
        }
    } else {
        for (auto [type, value] : {std::pair{9, 1}, {1, 8}, {2, 8}, {3, 8}, {20, 0}, {19, 0}, {22, 1}, {23, 1},
                                   {24, 1}, {25, 1}, {26, 0}}) {
            m_control.UpdateData(type, value);
        }
    }
    m_control.UpdateData(17, m_host.ptzEnabled() ? 1 : 0);
    m_control.CreateUI();
    m_host.logEntry(kLogSettingsUiOpened);
    return true;
}

void CRemoteSetMgr::DestroySettingsUI() { m_control.DestroyUI(); }

int CRemoteSetMgr::GetProfileFromSite(const std::string& path) {
    if (!linkUp()) {
        endWithEvent(3);
        return 0;
    }
    ULONGLONG total = 1, done = 0;
    LONG kind = -1;
    if (m_link->GetReceiveStatus(&total, &done, &kind, nullptr, nullptr) == REC_RECEIVING &&
        kind == kFileKindRemoteSettings) {
        return 0;
    }
    if (m_link->SendGetSettings() == 0) return 0;
    m_kitPath = path.substr(0, MAX_PATH - 1);
    SetTransferDirection(1);
    return 1;
}

int CRemoteSetMgr::SendProfileToSite(const std::string& path) {
    if (!linkUp()) {
        endWithEvent(3);
        return 0;
    }
    if (!CPacketConnection::FileExists(path)) return 0;
    ULONGLONG total = 1, done = 0;
    LONG kind = -1;
    if (m_link->GetSendStatus(&total, &done, &kind, nullptr, nullptr) == SEND_SENDING && kind == kFileKindRemoteSettings) {
        return 0;
    }
    // Only a list that holds settings goes to the site.
    std::vector<BYTE> bytes;
    auto check = std::make_unique<tagRemSettings>();
    CRemoteSetList list(m_host);
    if (!readList(path, bytes) || !list.DispatchList(bytes.data(), DWORD(bytes.size()), *check)) {
        LUMO_TRACE(1, "CRemoteSetMgr::SendProfileToSite %s is not a settings list: not sent", path.c_str());
        return 0;
    }
    // A file left in the queue would never go: the kit is told so at once
    // rather than waiting for an end that cannot come.
    if (!m_host.queuedFilesGo()) {
        LUMO_TRACE(1, "CRemoteSetMgr::SendProfileToSite auto-send is off: %s would stay in the queue, not sent",
                   path.c_str());
        return 0;
    }
    if (!m_host.sendFile(path, kSetListType)) return 0;
    // The site's end of an upload belongs to the kit only once its file goes.
    m_kitUpload = path.substr(0, MAX_PATH - 1);
    takeKitUploadWhenItGoes();
    SetTransferDirection(2);
    return 1;
}

void CRemoteSetMgr::takeKitUploadWhenItGoes() {
    if (m_kitUpload.empty() || m_link == nullptr) return;
    LONG kind = -1;
    std::string name;
    const LONG state = m_link->GetSendStatus(nullptr, nullptr, &kind, nullptr, &name);
    if (kind == kFileKindRemoteSettings && name == m_kitUpload && (state == SEND_START || state == SEND_SENDING)) {
        m_kitPath = std::exchange(m_kitUpload, {});
    }
}

int CRemoteSetMgr::GetProfileTransferProgress(bool upload, DWORD& percent) {
    percent = 0xFFFF;
    if (m_link == nullptr) return 1;
    ULONGLONG total = 1, done = 0;
    LONG kind = -1;
    const LONG state = upload ? m_link->GetSendStatus(&total, &done, &kind, nullptr, nullptr)
                              : m_link->GetReceiveStatus(&total, &done, &kind, nullptr, nullptr);
    if (kind == kFileKindRemoteSettings && state == (upload ? LONG{SEND_SENDING} : LONG{REC_RECEIVING})) percent = percentOf(done, total);
    return 1;
}

int CRemoteSetMgr::CancelProfileTransfer(bool upload) {
    if (m_link == nullptr) return 1;
    ULONGLONG total = 1, done = 0;
    LONG kind = -1;
    const LONG state = upload ? m_link->GetSendStatus(&total, &done, &kind, nullptr, nullptr)
                              : m_link->GetReceiveStatus(&total, &done, &kind, nullptr, nullptr);
    if (kind == kFileKindRemoteSettings && state == (upload ? LONG{SEND_SENDING} : LONG{REC_RECEIVING})) {
        // Stopping a side is never refused.
        if (upload) {
            (void)m_link->SetSendStatus(0, 0, nullptr);
        } else {
            (void)m_link->SetReceiveStatus(0, nullptr);
        }
        m_host.closeFileTransferWindow();
        m_link->CancelSending();
        m_kitPath.clear();
        m_kitUpload.clear();
    }
    return 1;
}

}  // namespace trennick
