#include "trennick/link/core_identity.h"

#include "common/fixed_text.h"
#include "tavicore/station_identity.h"
#include "tavicore/users_manager.h"
#include "trennick/link/link_trace.h"

namespace trennick {

std::string CoreLinkIdentity::encrypt(std::string_view text) {
    return CUsersManager::Encrypt(text);
}

bool CoreLinkIdentity::thisSiteInfo(SiteInfoBlock& site) {
    CUUIDdb db;
    char guid[kGuidTextBytes + 64] = {};
    if (db.dbGUIDThisReadKey(guid, sizeof guid) != 1) {
        // No identity yet (or a broken one, which the read has wiped): make one.
        if (db.dbGUIDCreateKey(guid, sizeof guid) != 1 || db.dbGUIDThisWriteKey(guid) != 1) {
            linkTrace(1, "CPacketConnection::SendSiteInfo() no station GUID could be created");
            return false;
        }
    }
    tagSiteInfo info{};
    db.dbGUIDThisReadInfo(&info);  // leaves its defaults when nothing is stored
    info.name[sizeof info.name - 1] = 0;
    info.phone[sizeof info.phone - 1] = 0;
    fixed_text::Write(site.guid, sizeof site.guid, guid);
    fixed_text::Write(site.siteName, sizeof site.siteName, info.name);
    fixed_text::Write(site.sitePhone, sizeof site.sitePhone, info.phone);
    return true;
}

}  // namespace trennick
