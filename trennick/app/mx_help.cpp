#include "trennick/app/mx_help.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "trennick/link/common_base.h"

#include <filesystem>
#include <memory>

namespace trennick {

namespace {

std::unique_ptr<CMxHelp>& instance() {
    static std::unique_ptr<CMxHelp> help;
    return help;
}

// A text value of at most 260 characters, written back so it exists afterwards.
std::string textSetting(CKcReg& reg, const char* name, const char* fallback) {
    char text[261] = {};
    DWORD size = sizeof text - 1;
    if (!reg.GetString(nullptr, name, text, &size)) std::snprintf(text, sizeof text, "%s", fallback);
    text[sizeof text - 1] = '\0';
    reg.SetString(nullptr, name, text);
    return text;
}

DWORD dwordSetting(CKcReg& reg, const char* name) {
    DWORD value = 0;
    if (!reg.GetDword(nullptr, name, &value)) value = 0;
    reg.SetDword(nullptr, name, &value);
    return value;
}

}  // namespace

CMxHelp::CMxHelp(Opener opener) : m_opener(std::move(opener)) {
    if (!m_opener) m_opener = [](const std::string& path) { return CCommon::ShellOpen(path); };
    CKcReg reg = ProductKey("Help");
    m_folder = textSetting(reg, "Folder", "Help");
    m_fileName = textSetting(reg, "FileName", "Velmoor.htm");
    m_webPath = textSetting(reg, "WebPath", kDefaultWebHelp);
    m_forceWebHelp = dwordSetting(reg, "ForceWebHelp");
    m_disable = dwordSetting(reg, "Disable");
}

BOOL CMxHelp::FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error) ? TRUE : FALSE;
}

BOOL CMxHelp::LoadHelpFile() {
    if (m_disable != 0) {
        LUMO_TRACE(5, "CMxHelp::LoadHelpFile() Help disabled");
        return TRUE;
    }
    std::error_code error;
    std::string path = std::filesystem::current_path(error).string();
    if (error || path.size() > kMaxHelpPathChars) {
        LUMO_TRACE(5, "CMxHelp::LoadHelpFile() Error create file path");
        return FALSE;
    }
    if (!m_folder.empty()) path += "/" + m_folder;
    if (!m_fileName.empty()) path += "/" + m_fileName;
    if (path.size() > kMaxHelpPathChars) {
        // A path cut short would name another file: the web page serves instead.
        LUMO_TRACE(1, "CMxHelp::LoadHelpFile() the help path of %zu characters is too long", path.size());
        path.clear();
    }
    if (path.empty() || !FileExists(path) || m_forceWebHelp != 0) path = m_webPath;
    m_lastOpened = path;
    if (path.empty() || !m_opener(path)) {
        LUMO_TRACE(1, "CMxHelp::LoadHelpFile() the help \"%s\" could not be opened", path.c_str());
        return FALSE;
    }
    return TRUE;
}

CMxHelp* CMxHelp::Create(Opener opener) {
    instance() = std::make_unique<CMxHelp>(std::move(opener));
    return instance().get();
}

void CMxHelp::Destroy() { instance().reset(); }

CMxHelp* CMxHelp::Instance() { return instance().get(); }

}  // namespace trennick
