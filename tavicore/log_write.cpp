#include "tavicore/log_write.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "common/product_registry.h"
#include "platform/com/com.h"
#include "platform/named_lock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <netdb.h>
#include <unistd.h>

namespace {

std::atomic<platform::HWND> g_mainWindow{0};

std::string joinedPath(const std::string& folder, const std::string& name) {
    // A folder that already ends with a separator (a drive or file-system root)
    // gets none added.
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') {
        return folder + name;
    }
    return folder + "/" + name;
}

// Callers' buffers hold MAX_PATH characters.
void copyOut(char* out, const std::string& text) { fixed_text::Write(out, MAX_PATH, text); }

// Wide text for the writer: our BSTRs carry 8-bit text.
BSTR bstr(const std::string& text) { return SysAllocStringLen(text.data(), UINT(text.size())); }

struct BstrHolder {
    BSTR text;
    ~BstrHolder() { SysFreeString(text); }
};

}  // namespace

void CLogWrite::SetMainWindow(platform::HWND window) { g_mainWindow = window; }

CLogWrite::CLogWrite(const char* workDir, const char* logFileName, const char* sourceName)
    : m_workDir(workDir ? workDir : ""), m_logFileName(logFileName ? logFileName : ""),
      m_sourceName(sourceName ? sourceName : "") {
    CoInitialize(nullptr);
    CKcReg reg = CommonKey("Log");
    char backup[MAX_PATH] = "VelmoorB.log";
    DWORD size = sizeof backup;
    reg.GetStringDefault(nullptr, "BackUpLogName", backup, &size);
    reg.SetString(nullptr, "BackUpLogName", backup);
    DWORD maxSize = 300;
    reg.GetDwordDefault(nullptr, "MaxSize", &maxSize);
    reg.SetDword(nullptr, "MaxSize", &maxSize);
    m_maxSize = maxSize;

    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_zo_LogWrite, nullptr, CLSCTX_INPROC_SERVER, IID_Izo_LogWrite, &object))) {
        LUMO_TRACE(1, "CLogWrite::CLogWrite ::Failed to load LogWrite interface");
    } else {
        m_pLogWrite = static_cast<Izo_LogWrite*>(object);
    }
    if (!m_logFileName.empty()) {
        m_logPath = joinedPath(m_workDir, m_logFileName);
    }
    m_backupPath = joinedPath(m_workDir, backup).substr(0, MAX_PATH - 1);
    auto lock = std::make_unique<platform::NamedMutex>("zoLogWrite_Mutex");
    if (lock->isOpen()) {
        m_createLock = std::move(lock);
    }
}

CLogWrite::~CLogWrite() {
    if (m_pLogWrite) {
        m_pLogWrite->CloseLogFile();
        m_pLogWrite->Release();
        m_pLogWrite = nullptr;
    }
    CoUninitialize();
}

int CLogWrite::AddEntryEx(const char* logPath, short eventId, short flags, const char* user, short status,
                          const char* info) {
    if (!AddEntry(logPath, eventId, flags, user, status, info)) {
        LUMO_TRACE(1, "CLogWrite::AddEntryEx AddEntry failed");
        if (platform::HWND window = g_mainWindow.load()) {
            platform::PostMessage(window, kLogFailedMessage, 0, 1);
        }
    }
    if (!AddEntry(m_backupPath.c_str(), eventId, flags, user, status, info)) {
        LUMO_TRACE(1, "CLogWrite::AddEntryEx AddBackupEntry failed");
    }
    return 1;
}

int CLogWrite::AddEntry(const char* logPath, short eventId, short flags, const char* user, short status,
                        const char* info) {
    if (!m_pLogWrite) {
        return 0;
    }
    std::string path = logPath && *logPath ? std::string(logPath) : m_logPath;
    if (path.empty()) {
        LUMO_TRACE(1, "CLogWrite::AddEntry m_csLogPath = NULL No file for log");
        return 0;
    }
    {
        // The check for the file and its creation happen under the writers'
        // mutex: two processes that both find the log missing must not both
        // create it, or the second would empty what the first wrote.
        std::string local = path;
        std::replace(local.begin(), local.end(), '\\', '/');
        bool locked = false;
        if (m_createLock) {
            platform::LockResult result = m_createLock->wait(platform::INFINITE);
            locked = result == platform::LockResult::Acquired || result == platform::LockResult::Abandoned;
        }
        std::error_code error;
        HRESULT created = S_OK;
        if (!std::filesystem::exists(local, error)) {
            BstrHolder format{bstr("VLM")}, version{bstr("1.0.0")}, name{bstr("Activities Log")}, where{bstr(path)};
            created = m_pLogWrite->CreateLogFile(format.text, version.text, name.text, 0, 1, LONG(m_maxSize),
                                                 where.text);
        }
        if (locked) {
            m_createLock->release();
        }
        if (FAILED(created)) {
            return 0;
        }
    }
    if (eventId >= LOGEVENTID_MAX_EVENTID) {
        return 0;
    }
    std::string userText = user ? user : "";
    std::string field;
    if (userText.size() >= 31) {
        field = userText.substr(0, 30);
    } else {
        char computer[MAX_PATH] = "";
        GetComputerID(computer);
        field = std::string("\\") + computer + "\\" + m_sourceName + "\\" + userText;
    }
    std::string infoText = info ? info : "";
    if (infoText.size() >= 31) {
        infoText.resize(30);
    }
    if (status >= 3) {
        status = 1;
    }
    BstrHolder where{bstr(path)}, userB{bstr(field)}, infoB{bstr(infoText)};
    HRESULT hr = m_pLogWrite->AddLogEntryEx(where.text, eventId, flags, userB.text, status, infoB.text);
    if (FAILED(hr)) {
        LUMO_TRACE(1, "CLogWrite::AddEntryEx Add entry Ex failed Err: %d", int(hr & 0xFFFF));
        return 0;
    }
    return 1;
}

int CLogWrite::GetLogFileName(char* out) {
    if (out) copyOut(out, m_logFileName);
    return 1;
}

int CLogWrite::GetLogWorkingDir(char* out) {
    if (out) copyOut(out, m_workDir);
    return 1;
}

int CLogWrite::GetComputerID(char* out) {
    if (!out) {
        return 0;
    }
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
        copyOut(out, host);
        return 1;
    }
    LUMO_TRACE(5, "CLogWrite::GetInstanceID GetComputerName Failed");
    if (::gethostname(host, sizeof host - 1) != 0) {
        LUMO_TRACE(5, "CLogWrite::GetInstanceID gethostname Failed");
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        copyOut(out, "");
        return 1;
    }
    char dotted[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, dotted, sizeof dotted);
    ::freeaddrinfo(found);
    copyOut(out, dotted);
    return 1;
}
