#include "tavicore/db_lumo.h"

#include "tavicore/settings_store.h"

namespace {

constexpr const char* kHistory = "HistoryRecording\\";

// The remote station keeps only these two history values, written back on reading.
constexpr settings_store::Field<tagHistoryRec> kRemoteHistoryFields[] = {
    SETTINGS_NUMBER(tagHistoryRec, framesNumber, "FramesNumber", 20),
    SETTINGS_NUMBER(tagHistoryRec, framesInterval, "FramesInterval", 1),
};

}  // namespace

CDBLumoRemote::CDBLumoRemote() = default;

CDBLumoRemote::~CDBLumoRemote() = default;

// The remote station's records live in memory only.
int CDBLumoRemote::WriteHWProfiles(int) { return 1; }
int CDBLumoRemote::WriteSplitProfiles(int) { return 1; }
int CDBLumoRemote::ReadHWProfiles() { return 1; }
int CDBLumoRemote::ReadSplitProfiles() { return 1; }
int CDBLumoRemote::SetPosition(tagRECT, WORD) { return 1; }
int CDBLumoRemote::GetPosition(tagRECT*, WORD) { return 1; }
int CDBLumoRemote::SetVisibility(int, WORD) { return 1; }
int CDBLumoRemote::GetVisibility(int*, WORD) { return 1; }
void CDBLumoRemote::ReadTriggerProfiles() {}
void CDBLumoRemote::WriteTriggerProfiles() {}

void CDBLumoRemote::ReadHistoryProfiles() {
    settings_store::Store store;
    store.readFields<tagHistoryRec>(kHistory, kRemoteHistoryFields, m_historyRec, nullptr,
                                    settings_store::Missing::WriteDefault);
}

void CDBLumoRemote::WriteHistoryProfiles() {
    settings_store::Store store;
    store.writeFields<tagHistoryRec>(kHistory, kRemoteHistoryFields, m_historyRec);
}
