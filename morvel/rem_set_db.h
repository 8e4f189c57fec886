#pragma once
// CRemSetDB: the settings-profile store (Morvel.RemSetDB). It holds one remote
// settings record, the record being edited or sent, and keeps any number of
// named profiles of it as ini files in the "Profiles" folder of the program
// folder, beside the system profile "zo10.set".
//
// A profile is saved whole into a temporary file that then replaces the old
// one, so a failed save leaves the old profile as it was and is reported
// (RSDB_ERR_WRITE). Profile names are file names: a name that could leave the
// folder (a separator, a leading '.', a control character) names no profile.
// Names compare without regard to case, as the profile files always did.
//
// Threads: an object is used on the thread that created it; Get and Set copy
// the record under a lock. Failures are result codes; nothing throws.

#include "morvel/morvel_lib.h"
#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morvel {

// The folder of the profiles (created when missing).
std::filesystem::path profilesFolder();
// True when `name` (already cut to its 29 characters) can name a profile file.
bool isProfileName(const std::string& name);

}  // namespace morvel

class CRemSetDB
    : public platform::com::ComObject<CRemSetDB, platform::com::DispatchImpl<CRemSetDB, IRemSetDB>> {
public:
    CRemSetDB();
    ~CRemSetDB() override;

    static std::span<const platform::com::DispatchMember<CRemSetDB>> dispatchMembers();

    HRESULT Get(tagRemSettings* pRemoteSettingsDB) override;
    HRESULT Set(tagRemSettings* pRemoteSettingsDB) override;
    HRESULT LoadProfile(BSTR bstrProfileName) override;
    HRESULT SaveProfile(BSTR bstrProfileName) override;
    HRESULT GetFirstProfileName(BSTR* bstrProfileName, ULONG dwBufSize) override;
    HRESULT GetNextProfileName(BSTR* bstrProfileName, ULONG dwBufSize) override;
    HRESULT CloseGetProfileName() override;
    HRESULT GetSystemProfileName(BSTR* bstrProfileName) override;
    HRESULT DeleteProfile(BSTR bstrProfileName) override;
    HRESULT RenameProfile(BSTR bstrName, BSTR bstrNewName) override;
    HRESULT NewProfile(BSTR bstrProfileName) override;
    HRESULT SaveAsProfile(BSTR bstrProfileName) override;

private:
    HRESULT load(const std::string& name);
    HRESULT save(const std::string& name);
    HRESULT remove(const std::string& name);
    HRESULT returnName(BSTR* out, const std::string& name);

    std::mutex m_lock;
    tagRemSettings m_record{};
    // The running enumeration: the names found when it started, and the next.
    std::optional<std::vector<std::string>> m_names;
    std::size_t m_next = 0;
};
