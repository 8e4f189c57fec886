// The library object of ambrel32 (one per process, counted), its entry point
// and the module's own trace object.

#include "ambrel32/ambrel_dll.h"
#include "ambrel32/wave_in.h"
#include "ambrel32/wave_out.h"
#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "common/wave_device_map.h"

#include <algorithm>
#include <mutex>
#include <new>

namespace {

struct ModuleStart {
    ModuleStart() {
        RecordModuleVersion("AMBRELSB", reinterpret_cast<const void*>(&DLLGetAPI));
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("AMBRELSB: ");
        LUMO_TRACE(5, "AMBRELSB Started...");
    }
    ~ModuleStart() { LumoDebDestroy(); }
};
ModuleStart gModule;

// Device ids are kept in 16 bits; 0xFFFF is the wave mapper.
UINT deviceOf(LONG id) {
    const WORD low = WORD(id & 0xFFFF);
    return low == 0xFFFF ? platform::WAVE_MAPPER : UINT(low);
}

// A percentage from the low 16 bits of an argument, at most 100.
LONG percentOf(LONG argument) { return std::min<LONG>(LONG(WORD(argument & 0xFFFF)), 100); }

class CAmbrelDll final : public IAmbrelDll {
public:
    ~CAmbrelDll() override = default;

    LONG GetVersion() override { return kAmbrelVersion; }
    LONG Release() override;
    LONG RecordOpen(LONG) override {
        m_in.Close();
        m_in.SetDeviceId(deviceOf(m_recordDevice));
        return m_in.Open();
    }
    LONG RecordClose() override { return m_in.Close(); }
    LONG PlaybackOpen() override { return m_out.Open(deviceOf(m_playbackDevice)); }
    LONG PlaybackClose() override { return m_out.Close(); }
    LONG GetRecordIsFull() override { return 1; }
    LONG GetPlaybackIsFull() override { return 1; }
    LONG PlaybackReset() override { return 1; }
    LONG RecordReset() override { return 0; }
    LONG RecordStop() override { return m_in.Stop(); }
    LONG RecordStart() override { return m_in.Start(); }
    LONG RecordGetFrame(AmbrelFrame* frame) override { return m_in.ReadData(frame); }
    LONG PlaybackPutFrame(AmbrelFrame* frame) override { return m_out.WriteData(frame); }
    LONG GetRecordSignalLevel(WORD* level) override {
        if (level != nullptr) *level = 0;
        return 1;
    }
    LONG PutPlaybackVolume(LONG percent) override {
        return m_out.IsOpen() ? putVolume(WaveDirection::Playback, m_playbackDevice, percent) : 0;
    }
    LONG PutRecordVolume(LONG percent) override {
        return m_in.IsOpen() ? putVolume(WaveDirection::Record, m_recordDevice, percent) : 0;
    }
    LONG GetPlaybackVolume(WORD* percent) override {
        DWORD value = 0;
        if (percent == nullptr || !m_out.IsOpen() || !m_out.Volume(value)) {
            return 0;
        }
        *percent = WORD(std::min<DWORD>(value, 0xFFFF) * 100 / 0xFFFF);
        return 1;
    }
    LONG GetRecordVolume(WORD* percent) override {
        if (percent == nullptr || !m_in.IsOpen()) {
            return 0;
        }
        platform::WaveResult result{};
        auto control = platform::openMixerVolume(ReadWaveDevice(WaveDirection::Record, deviceOf(m_recordDevice)),
                                                 platform::MixerVolume::Line::Record, result);
        LONG value = 0;
        if (!control || control->get(value) != platform::WaveResult::Ok) {
            return 0;
        }
        // A control without a range reads as 0 rather than dividing by zero.
        const long long span = (long long)control->maximum() - control->minimum();
        *percent = WORD(span <= 0 ? 0 : std::clamp<long long>((value - control->minimum()) * 100 / span, 0, 100));
        return 1;
    }
    LONG PopupConfigDialog() override { return 1; }
    LONG PutRecordFormat(LONG) override { return 1; }
    LONG PutVAD(LONG, LONG) override { return 1; }
    LONG GetVAD() override { return 1; }
    LONG PutAEC(LONG, LONG) override { return 1; }
    LONG GetAEC() override { return 1; }
    LONG DetectHardware() override { return 1; }
    LONG Serialize() override { return 1; }
    LONG RecordSetDeviceID(LONG id) override {
        m_recordDevice = LONG(id & 0xFFFF);
        return 1;
    }
    LONG PlayBackSetDeviceID(LONG id) override {
        m_playbackDevice = LONG(id & 0xFFFF);
        return 1;
    }
    LONG PutMixerInput(LONG, LONG) override { return 1; }
    LONG PutMixerInputsBits(LONG) override { return 1; }
    LONG GetMixerInput(LONG, WORD* value) override {
        if (value != nullptr) *value = 0;
        return 1;
    }
    LONG GetMixerInputsBits(WORD* bits) override {
        if (bits != nullptr) *bits = 1;
        return 1;
    }
    LONG PutRemoteSpeaker(LONG) override { return 1; }
    LONG GetRemoteSpeaker(WORD* value) override {
        if (value != nullptr) *value = 0;
        return 1;
    }
    LONG PutAutoGain(LONG) override { return 1; }
    LONG GetAutoGain(WORD* value) override {
        if (value != nullptr) *value = 0;
        return 1;
    }
    LONG RefreshHardwareTree() override { return 0; }
    LONG PutFilename(const char*) override { return 1; }
    LONG Reserved40() override { return 1; }
    LONG GetMemory(WORD*, LONG) override { return 1; }
    LONG PutMemory(LONG, LONG) override { return 1; }

private:
    LONG putVolume(WaveDirection direction, LONG deviceId, LONG percent) {
        platform::WaveResult result{};
        auto control = platform::openMixerVolume(
            ReadWaveDevice(direction, deviceOf(deviceId)),
            direction == WaveDirection::Record ? platform::MixerVolume::Line::Record
                                               : platform::MixerVolume::Line::Playback,
            result);
        if (!control) {
            return 0;
        }
        const long long span = (long long)control->maximum() - control->minimum();
        const LONG value = LONG(control->minimum() + std::max<long long>(span, 0) * percentOf(percent) / 100);
        return control->set(value) == platform::WaveResult::Ok ? 1 : 0;
    }

    CWaveOut m_out;
    CWaveIn m_in;
    LONG m_recordDevice = -1;
    LONG m_playbackDevice = -1;
};

std::mutex gLock;
CAmbrelDll* gObject = nullptr;
LONG gReferences = 0;

LONG CAmbrelDll::Release() {
    CAmbrelDll* last = nullptr;
    {
        std::lock_guard lock(gLock);
        if (gReferences > 0 && --gReferences == 0) {
            last = gObject;
            gObject = nullptr;
        }
    }
    delete last;
    return 0;
}

}  // namespace

AMBREL32_EXPORT IAmbrelDll* DLLGetAPI() {
    LUMO_TRACE(5, "IAmbrelDll* DLLGetAPI");
    std::lock_guard lock(gLock);
    if (gObject == nullptr) {
        gObject = new (std::nothrow) CAmbrelDll;
        if (gObject == nullptr) {
            return nullptr;
        }
    }
    ++gReferences;
    return gObject;
}
