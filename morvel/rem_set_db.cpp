#include "morvel/rem_set_db.h"

#include "common/lumo_deb.h"
#include "morvel/profile_file.h"
#include "platform/folders.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace fs = std::filesystem;

namespace morvel {
namespace {

constexpr const char* kExtension = ".Ini";
constexpr const char* kSystemProfile = "zo10.set";

// A name from the interface, cut to its 29 characters (null: the empty name).
std::string profileName(BSTR name) {
    if (name == nullptr) return {};
    std::string text(name, SysStringByteLen(name));
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    return text.substr(0, RSDB_MAX_PROFILE_NAME);
}

// The profile files of the folder: (name, path), names in the order of a
// case-blind sort.
std::vector<std::pair<std::string, fs::path>> profileFiles() {
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code error;
    for (fs::directory_iterator it(profilesFolder(), error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string file = path.filename().string();
        if (file.size() <= 4 || lowered(file.substr(file.size() - 4)) != ".ini") continue;
        std::string name = file.substr(0, file.size() - 4);
        if (!isProfileName(name)) continue;
        files.emplace_back(std::move(name), path);
    }
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return lowered(a.first) < lowered(b.first); });
    return files;
}

// The file of profile `name` on disk, whatever the case of its name there.
std::optional<fs::path> existingFile(const std::string& name) {
    const std::string wanted = lowered(name);
    for (auto& [file, path] : profileFiles()) {
        if (lowered(file) == wanted) return path;
    }
    return std::nullopt;
}

}  // namespace

fs::path profilesFolder() {
    fs::path folder = platform::programFolder() / "Profiles";
    std::error_code error;
    fs::create_directories(folder, error);
    return folder;
}

bool isProfileName(const std::string& name) {
    if (name.empty() || name.front() == '.' || name.size() > std::size_t(RSDB_MAX_PROFILE_NAME)) return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace morvel

using morvel::existingFile;
using morvel::isProfileName;
using morvel::profileName;

// A store call that runs out of memory answers as the store always did when it
// could not make its profile-file object.
#define RSDB_GUARDED(body)                 \
    try {                                  \
        body                               \
    } catch (...) {                        \
        return RSDB_ERR_NO_ENUM;           \
    }

CRemSetDB::CRemSetDB() = default;
CRemSetDB::~CRemSetDB() = default;

std::span<const platform::com::DispatchMember<CRemSetDB>> CRemSetDB::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<CRemSetDB> table[] = {
        {"Get", 1, &dispatchMethod<&CRemSetDB::Get>},
        {"Set", 2, &dispatchMethod<&CRemSetDB::Set>},
        {"LoadProfile", 3, &dispatchMethod<&CRemSetDB::LoadProfile>},
        {"SaveProfile", 4, &dispatchMethod<&CRemSetDB::SaveProfile>},
        {"GetFirstProfileName", 5, &dispatchMethod<&CRemSetDB::GetFirstProfileName>},
        {"GetNextProfileName", 6, &dispatchMethod<&CRemSetDB::GetNextProfileName>},
        {"CloseGetProfileName", 7, &dispatchMethod<&CRemSetDB::CloseGetProfileName>},
        {"GetSystemProfileName", 8, &dispatchMethod<&CRemSetDB::GetSystemProfileName>},
        {"DeleteProfile", 9, &dispatchMethod<&CRemSetDB::DeleteProfile>},
        {"RenameProfile", 10, &dispatchMethod<&CRemSetDB::RenameProfile>},
        {"NewProfile", 11, &dispatchMethod<&CRemSetDB::NewProfile>},
        {"SaveAsProfile", 12, &dispatchMethod<&CRemSetDB::SaveAsProfile>},
    };
    return table;
}

HRESULT CRemSetDB::Get(tagRemSettings* pRemoteSettingsDB) {
    if (pRemoteSettingsDB == nullptr) return E_POINTER;
    std::lock_guard lock(m_lock);
    std::memcpy(pRemoteSettingsDB, &m_record, sizeof m_record);
    return RSDB_OK;
}

HRESULT CRemSetDB::Set(tagRemSettings* pRemoteSettingsDB) {
    if (pRemoteSettingsDB == nullptr) return E_POINTER;
    std::lock_guard lock(m_lock);
    std::memcpy(&m_record, pRemoteSettingsDB, sizeof m_record);
    return RSDB_OK;
}

HRESULT CRemSetDB::load(const std::string& name) {
    // The empty name loads the defaults of every key.
    std::string path;
    if (!name.empty()) {
        if (!isProfileName(name)) return RSDB_ERR_NO_PROFILE;
        auto file = existingFile(name);
        if (!file) return RSDB_ERR_NO_PROFILE;
        path = file->string();
    }
    auto record = std::make_unique<tagRemSettings>();
    morvel::readProfile(path, *record);
    std::lock_guard lock(m_lock);
    m_record = *record;
    return RSDB_OK;
}

HRESULT CRemSetDB::save(const std::string& name) {
    if (!isProfileName(name)) {
        LUMO_TRACE(1, "CRemSetDB::SaveProfile \"%s\" cannot name a profile file", name.c_str());
        return RSDB_ERR_WRITE;
    }
    const fs::path path = existingFile(name).value_or(morvel::profilesFolder() / (name + morvel::kExtension));
    auto record = std::make_unique<tagRemSettings>();
    {
        std::lock_guard lock(m_lock);
        *record = m_record;
    }
    if (!morvel::writeProfile(path.string(), *record)) {
        LUMO_TRACE(1, "CRemSetDB::SaveProfile writing %s failed", path.c_str());
        return RSDB_ERR_WRITE;
    }
    return RSDB_OK;
}

HRESULT CRemSetDB::remove(const std::string& name) {
    if (!isProfileName(name)) return RSDB_ERR_NO_PROFILE;
    auto file = existingFile(name);
    if (!file) return RSDB_ERR_NO_PROFILE;
    std::error_code error;
    return fs::remove(*file, error) ? RSDB_OK : RSDB_ERR_DELETE;
}

HRESULT CRemSetDB::returnName(BSTR* out, const std::string& name) {
    BSTR text = SysAllocStringByteLen(name.data(), UINT(name.size()));
    if (text == nullptr) return RSDB_ERR_NO_ENUM;
    if (*out != nullptr) SysFreeString(*out);
    *out = text;
    return RSDB_OK;
}

HRESULT CRemSetDB::LoadProfile(BSTR bstrProfileName) { RSDB_GUARDED(return load(profileName(bstrProfileName));) }

HRESULT CRemSetDB::SaveProfile(BSTR bstrProfileName) { RSDB_GUARDED(return save(profileName(bstrProfileName));) }

HRESULT CRemSetDB::GetFirstProfileName(BSTR* bstrProfileName, ULONG) {
    if (bstrProfileName == nullptr) return E_POINTER;
    RSDB_GUARDED({
        m_names.reset();
        std::vector<std::string> names;
        for (auto& [name, path] : morvel::profileFiles()) names.push_back(name.substr(0, RSDB_MAX_PROFILE_NAME));
        if (names.empty()) return RSDB_ERR_NOT_FOUND;
        m_names = std::move(names);
        m_next = 1;
        return returnName(bstrProfileName, (*m_names)[0]);
    })
}

HRESULT CRemSetDB::GetNextProfileName(BSTR* bstrProfileName, ULONG) {
    if (bstrProfileName == nullptr) return E_POINTER;
    RSDB_GUARDED({
        if (!m_names) return RSDB_ERR_NO_ENUM;
        if (m_next >= m_names->size()) {
            m_names.reset();
            return RSDB_ERR_NO_MORE;
        }
        return returnName(bstrProfileName, (*m_names)[m_next++]);
    })
}

HRESULT CRemSetDB::CloseGetProfileName() {
    if (!m_names) return RSDB_ERR_NO_ENUM;
    m_names.reset();
    return RSDB_OK;
}

HRESULT CRemSetDB::GetSystemProfileName(BSTR* bstrProfileName) {
    if (bstrProfileName == nullptr) return E_POINTER;
    RSDB_GUARDED({
        const fs::path path = morvel::profilesFolder() / morvel::kSystemProfile;
        std::error_code error;
        if (!fs::is_regular_file(path, error)) return RSDB_ERR_NOT_FOUND;
        return returnName(bstrProfileName, path.string().substr(0, MAX_PATH - 1));
    })
}

HRESULT CRemSetDB::DeleteProfile(BSTR bstrProfileName) { RSDB_GUARDED(return remove(profileName(bstrProfileName));) }

HRESULT CRemSetDB::RenameProfile(BSTR bstrName, BSTR bstrNewName) {
    RSDB_GUARDED({
        const std::string from = profileName(bstrName);
        const std::string to = profileName(bstrNewName);
        if (existingFile(to)) return RSDB_ERR_EXISTS;
        // The old profile goes only once the new one is written: a rename never
        // loses the settings, and renaming a profile that is not there creates
        // nothing.
        if (HRESULT loaded = load(from); loaded != RSDB_OK) return loaded;
        if (HRESULT saved = save(to); saved != RSDB_OK) return saved;
        remove(from);
        return RSDB_OK;
    })
}

HRESULT CRemSetDB::NewProfile(BSTR bstrProfileName) {
    RSDB_GUARDED({
        const std::string name = profileName(bstrProfileName);
        if (existingFile(name)) return RSDB_ERR_EXISTS;
        return save(name);
    })
}

HRESULT CRemSetDB::SaveAsProfile(BSTR bstrProfileName) { return NewProfile(bstrProfileName); }
