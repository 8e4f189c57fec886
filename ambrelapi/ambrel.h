#pragma once
// CAmbrel: the audio codec server object (Ambrel.Ambrel). Each object binds
// the sound-card library ambrel32 and forwards every member to the library
// object that all objects of the process share. When the library cannot be
// bound the object still exists and every member answers S_FALSE.
//
// Any thread may call it: the library object does its own locking. Nothing
// throws out of a member.

#include "ambrel32/ambrel_dll.h"
#include "ambrelapi/ambrelapi_lib.h"
#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "platform/com/error_info.h"
#include "platform/library.h"

#include <span>

class CAmbrel : public platform::com::ComObject<CAmbrel, platform::com::DispatchImpl<CAmbrel, IAmbrel>,
                                                ISupportErrorInfo> {
public:
    CAmbrel();
    ~CAmbrel() override;

    static std::span<const platform::com::DispatchMember<CAmbrel>> dispatchMembers();

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    HRESULT get_Version(LONG* pVal) override;
    HRESULT get_VAD(LONG* pVal) override;
    HRESULT put_VAD(LONG newVal) override;
    HRESULT get_AEC(LONG* pVal) override;
    HRESULT put_AEC(LONG newVal) override;
    HRESULT get_RecordFormat(LONG* pVal) override;
    HRESULT put_RecordFormat(LONG newVal) override;
    HRESULT get_RecordVolume(LONG* pVal) override;
    HRESULT put_RecordVolume(LONG newVal) override;
    HRESULT get_PlaybackVolume(LONG* pVal) override;
    HRESULT put_PlaybackVolume(LONG newVal) override;
    HRESULT get_RecordSignalLevel(LONG* pVal) override;
    HRESULT RecordOpen(LONG fmt, LONG* fSuccess) override;
    HRESULT RecordClose(LONG* fSuccess) override;
    HRESULT RecordStop(LONG* fSuccess) override;
    HRESULT RecordStart(LONG* fSuccess) override;
    HRESULT RecordReset(LONG* fSuccess) override;
    HRESULT get_RecordIsFull(LONG* pVal) override;
    HRESULT RecordGetFrame(BSTR* lpData, LONG dwBufferLength, LONG* dwBytesRecorded, LONG* fSuccess) override;
    HRESULT PlaybackOpen(LONG* fSuccess) override;
    HRESULT PlaybackClose(LONG* fSuccess) override;
    HRESULT PlaybackReset(LONG* fSuccess) override;
    HRESULT PlaybackPutFrame(BYTE* lpData, LONG dwBufferLength, LONG* fSuccess) override;
    HRESULT get_PlaybackIsFull(LONG* pVal) override;
    HRESULT PopupConfigDialog() override;
    HRESULT Serialize() override;
    HRESULT DetectHardware(LONG* fDetected) override;
    HRESULT get_MixerInputsBits(LONG* pVal) override;
    HRESULT put_MixerInputsBits(LONG newVal) override;
    HRESULT get_MixerInput(LONG iChannel, LONG* pVal) override;
    HRESULT put_MixerInput(LONG iChannel, LONG newVal) override;
    HRESULT get_RemoteSpeaker(LONG* pVal) override;
    HRESULT put_RemoteSpeaker(LONG newVal) override;
    HRESULT get_AutoGain(LONG* pVal) override;
    HRESULT put_AutoGain(LONG newVal) override;
    HRESULT get_Memory(SHORT Address, SHORT* pVal) override;
    HRESULT put_Memory(SHORT Address, SHORT newVal) override;
    HRESULT RefreshHardwareTree(LONG* fSuccess) override;
    HRESULT put_Filename(BSTR newVal) override;
    HRESULT RecordSetDeviceID(LONG lDevID) override;
    HRESULT PlayBackSetDeviceID(LONG lDevID) override;

private:
    // Runs `call` on the library object, S_FALSE without one.
    template <class Call>
    HRESULT forward(Call call);

    HMODULE m_module = nullptr;
    IAmbrelDll* m_api = nullptr;
    LONG m_recordFormat = AB_FORMAT_64KPBS;
};
