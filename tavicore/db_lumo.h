#pragma once
// The settings database of a station: the one in-memory home of every setting of
// a recording station, and its registry store.

#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "tavicore/tavicore_api.h"

#include <mutex>

class CLumora;

// The abstract settings database. It owns all records and their defaults, and
// keeps the three records every station has (event explorer, sound, video
// standard auto-detection) in the registry. Callers always get and give copies.
// One lock guards the copies of the hardware profile, the split profiles, the
// events records, the current adapter and the debrief settings, so those may be
// used from any thread; the rest belongs to the owner's thread. Get and Update
// cannot fail except for a refused masked update; registry failures leave the
// defaults in place and are not reported.
class TAVICORE_API CDBLumo {
public:
    CDBLumo();
    CDBLumo(const CDBLumo&) = delete;
    CDBLumo& operator=(const CDBLumo&) = delete;

    virtual void WriteDebriefProfiles();
    virtual ~CDBLumo();
    virtual int GetHWProfiles(tagHWProfile* out, int ignored = 0);
    virtual int GetDefaultHWProfiles(tagHWProfile* out, int ignored = 0);
    virtual int GetSplitProfiles(tagSplitProfiles* out, int ignored = 0);
    virtual int GetDefaultSplitProfiles(tagSplitProfiles* out, int ignored = 0);
    // Copies all of `in` (mask null) or the parts the mask selects; 0 when the
    // mask names an adapter or camera outside the record (nothing is copied).
    // Counts are clamped to the record's capacity.
    virtual int UpdateHWProfiles(const tagHWProfile* in, const tagMask* mask, int ignored = 0);
    // Raises both switching cycles to at least two cameras per adapter, in the
    // caller's record too, then copies it in.
    virtual int UpdateSplitProfiles(tagSplitProfiles* in, int ignored = 0);
    virtual int WriteHWProfiles(int ignored = 0) = 0;
    virtual int WriteSplitProfiles(int ignored = 0) = 0;
    virtual int ReadHWProfiles() = 0;
    virtual int ReadSplitProfiles() = 0;
    virtual int SetPosition(tagRECT rect, WORD adapter) = 0;
    virtual int GetPosition(tagRECT* out, WORD adapter) = 0;
    virtual int SetVisibility(int visible, WORD adapter) = 0;
    virtual int GetVisibility(int* out, WORD adapter) = 0;
    virtual int GetDebriefProfiles(tagDebriefSettings* out, int ignored = 0);
    virtual int UpdateDebriefProfiles(const tagDebriefSettings* in, int ignored = 0);
    virtual int GetDefaultEventsIndex(tagEvents* out);
    virtual int GetEventsIndex(tagEvents* out);
    virtual int UpdateEventsIndex(const tagEvents* in);
    virtual int UpdateCurrentAdapter(WORD adapter, int ignored = 0);
    // Fills the current adapter; returns 0.
    virtual int GetCurrentAdapter(WORD* out, int ignored = 0);
    virtual int GetSBProfiles(tagSBProfiles* out, int ignored = 0);
    virtual int UpdateSBProfiles(const tagSBProfiles* in, int ignored = 0);
    virtual void WriteSBProfiles();
    virtual void ReadSBProfiles();
    virtual void GetRecordMode(tagRecordMode* out);
    virtual void GetDefaultRecordMode(tagRecordMode* out);
    virtual void UpdateRecordMode(tagRecordMode in);
    virtual int IsVideoAutoDetectEnabled();
    virtual void SetAppMode(WORD mode);
    virtual WORD GetAppMode();
    virtual int GetPreAlarmSettings(tagPreAlarm* out);
    virtual int UpdatePreAlarmSettings(const tagPreAlarm* in);
    virtual int GetRelayTriggerMatrix(tagRelayTriggerMtx* out);
    virtual int UpdateRelayTriggerMatrix(const tagRelayTriggerMtx* in);
    virtual void ReadHistoryProfiles() = 0;
    virtual void WriteHistoryProfiles() = 0;
    virtual void ReadTriggerProfiles() = 0;
    virtual void WriteTriggerProfiles() = 0;
    virtual int IsHWProfilesUpdated();

    void GetHistoryProfiles(tagHistoryRec* out);
    void UpdateHistoryProfiles(const tagHistoryRec* in);
    void GetTriggerProfiles(tagTriggerProfiles* out);
    void UpdateTriggerProfiles(const tagTriggerProfiles* in);
    // Raises the automatic-switch cycle of every adapter of the current hardware
    // profile to at least n cameras (n at most 16).
    void SetMinNumOfCamerasInCycle(WORD n);
    // The same on the split-cycle flags of `split`, refreshing its per-adapter counts.
    void SetMinNumOfCamerasInCycle(tagSplitProfiles& split, WORD n);
    // Does nothing; kept for the remote view.
    void SetActivePaneConfiguration(tagRemoteQuad& quad, WORD pane, tagSplitProfiles split,
                                    tagSIZE size1, tagSIZE size2, int value1, int value2);
    // "software\Quennel\Velmoor" + instance id + "\1.000.0\" + section; 0 when it
    // does not fit `outBytes`.
    static int BuildRegPath(const char* instanceId, const char* section, char* out, DWORD outBytes);

protected:
    // Clamps adapter, camera and relay counts to what the record holds.
    static void clampCounts(tagHWProfile& profile);
    void raiseCycle(tagHWProfile& profile, WORD n);
    static void raiseCycle(tagSplitProfiles& split, WORD n);

    std::mutex m_lock;
    tagHWProfile m_hwProfile;
    tagHWProfile m_defaultHWProfile;
    tagSplitProfiles m_splitProfiles;
    tagSplitProfiles m_defaultSplitProfiles;
    tagEvents m_events;
    tagEvents m_defaultEvents;
    tagDebriefSettings m_debrief;
    tagSBProfiles m_sbProfiles;
    tagRecordMode m_recordMode;
    tagRecordMode m_defaultRecordMode;
    DWORD m_videoAutoDetect = 1;
    WORD m_appMode = 0;
    tagPreAlarm m_preAlarm;
    tagRelayTriggerMtx m_relayTriggerMtx;
    tagHistoryRec m_historyRec;
    tagTriggerProfiles m_triggerProfiles;
    DWORD m_hwProfilesUpdated = 0;
};

// The database of the station the program runs on: loads every record from the
// registry at construction and stores them back at destruction. Built with the
// capture-card object (may be null) and the read-only mode word: 1 keeps the
// station's own records from being written on the database's own initiative.
// Construction and destruction run on the owner's thread; position and
// visibility on the caller's.
class TAVICORE_API CDBLumoLocal : public CDBLumo {
public:
    CDBLumoLocal(CLumora* card, WORD readOnlyMode);
    ~CDBLumoLocal() override;

    int WriteHWProfiles(int ignored = 0) override;
    int WriteSplitProfiles(int ignored = 0) override;
    int ReadHWProfiles() override;
    int ReadSplitProfiles() override;
    int SetPosition(tagRECT rect, WORD adapter) override;
    int GetPosition(tagRECT* out, WORD adapter) override;
    int SetVisibility(int visible, WORD adapter) override;
    int GetVisibility(int* out, WORD adapter) override;
    void ReadHistoryProfiles() override;
    void WriteHistoryProfiles() override;
    void ReadTriggerProfiles() override;
    void WriteTriggerProfiles() override;

    // The key handle arguments are not used. 0 for an adapter, camera or relay
    // outside the record.
    virtual int ReadCameraKeyValues(void* key, WORD adapter, WORD camera, int ignored = 0);
    virtual int ReadRelayKeyValues(void* key, WORD adapter, WORD relay, int ignored = 0);
    virtual int WriteCameraKeyValues(void* key, WORD adapter, WORD camera, int ignored = 0);
    virtual int WriteRelayKeyValues(void* key, WORD adapter, WORD relay, int ignored = 0);
    virtual int ReadPreAlarmSettings();
    virtual int WritePreAlarmSettings();
    virtual int ReadRelayTriggerMtx();
    virtual int WriteRelayTriggerMtx();

    int ReadAdapterValues(int adapter);
    int WriteAdapterValues(int adapter);

    WORD readOnlyMode() const { return m_readOnlyMode; }

private:
    CLumora* m_card;
    char m_adaptersSection[256];
    WORD m_readOnlyMode;
};

// The database that mirrors a connected remote station: its records are filled
// from what the remote station sends; of the registry it uses only the base
// records and two history values.
class TAVICORE_API CDBLumoRemote : public CDBLumo {
public:
    CDBLumoRemote();
    ~CDBLumoRemote() override;

    int WriteHWProfiles(int ignored = 0) override;
    int WriteSplitProfiles(int ignored = 0) override;
    int ReadHWProfiles() override;
    int ReadSplitProfiles() override;
    int SetPosition(tagRECT rect, WORD adapter) override;
    int GetPosition(tagRECT* out, WORD adapter) override;
    int SetVisibility(int visible, WORD adapter) override;
    int GetVisibility(int* out, WORD adapter) override;
    void ReadHistoryProfiles() override;
    void WriteHistoryProfiles() override;
    void ReadTriggerProfiles() override;
    void WriteTriggerProfiles() override;
};
