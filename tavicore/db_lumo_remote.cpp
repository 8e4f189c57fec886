#include "tavicore/db_lumo.h"

#include "tavicore/settings_store.h"

namespace {
constexpr const char* kHistory = "HistoryRecording\\";
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
    m_historyRec.framesNumber = store.readDwordBack(kHistory, "FramesNumber", 20);
    m_historyRec.framesInterval = store.readDwordBack(kHistory, "FramesInterval", 1);
}

void CDBLumoRemote::WriteHistoryProfiles() {
    settings_store::Store store;
    store.writeDword(kHistory, "FramesNumber", m_historyRec.framesNumber);
    store.writeDword(kHistory, "FramesInterval", m_historyRec.framesInterval);
}
