#pragma once
// Wave audio and the mixer: capture and playback of PCM in buffers that the
// caller owns and hands to a device, which gives each one back through a
// callback when it is filled (capture) or played (playback).
//
// Two kinds of device stand behind one interface: an ALSA PCM (by its ALSA
// name, "default" for the system's choice) and a file device for tests and
// machines without sound. The file device's capture reads a WAV file at the
// pace of a sound card (silence after its end, or all along without a file);
// its playback appends the played bytes to a WAV file, completed on close.
// Its mixer keeps the volumes in the process.
//
// Threads: a device runs one worker thread of its own, from which the callback
// is called; the callback must not call back into the device. Every other call
// comes from one owning thread at a time. Failures are returned as WaveResult,
// nothing throws.

#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

#pragma pack(push, 1)
// The PCM format of a device (the Windows layout).
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

inline constexpr WORD WAVE_FORMAT_PCM = 1;
// The device id meaning "the system's choice".
inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;

// 8 kHz, 16-bit mono PCM: the format of the talk channel.
constexpr WAVEFORMATEX speechFormat() { return WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0}; }

enum class WaveResult : int {
    Ok = 0,
    NoDevice = 2,      // the device could not be opened
    BadFormat = 32,    // the format (or the file's) is not one the device takes
    NotOpen = 5,       // the device was closed
    StillPlaying = 33, // a buffer is handed that the device already holds
    Io = 11,           // a read or write of the device or file failed
};

// One buffer handed to a device; the caller owns it and keeps it alive until
// the device gave it back (or was reset or closed).
struct WaveBuffer {
    BYTE* data = nullptr;
    DWORD bufferBytes = 0;    // capture: room; playback: bytes to play
    DWORD bytesRecorded = 0;  // capture: bytes filled
    std::uintptr_t user = 0;  // the caller's own word
};

// Called on the device's thread with each buffer given back.
using WaveDone = std::function<void(WaveBuffer&)>;

// Which device to open.
struct WaveDevice {
    enum class Kind { Alsa, File };
    Kind kind = Kind::Alsa;
    std::string alsaName = "default";  // Alsa: the PCM and mixer name
    std::string path;                  // File: WAV to read (capture) or write (playback); empty: none
};

class WaveIn {
public:
    virtual ~WaveIn() = default;  // closes the device; buffers it held are not given back
    // Queues an empty buffer for the device to fill.
    virtual WaveResult addBuffer(WaveBuffer& buffer) = 0;
    virtual WaveResult start() = 0;
    // Stops filling; a buffer being filled is given back with what it has.
    virtual WaveResult stop() = 0;
    // Stops and gives every queued buffer back.
    virtual WaveResult reset() = 0;
};

class WaveOut {
public:
    virtual ~WaveOut() = default;  // closes the device; buffers it held are not given back
    // Queues a buffer to play.
    virtual WaveResult write(WaveBuffer& buffer) = 0;
    // Stops playing and gives every queued buffer back.
    virtual WaveResult reset() = 0;
    // The left channel's volume, 0 to 0xFFFF.
    virtual WaveResult volume(DWORD& value) = 0;
};

// Opens a device in the given format; null with the reason in `result`.
std::unique_ptr<WaveIn> openWaveIn(const WaveDevice& device, const WAVEFORMATEX& format, WaveDone done,
                                   WaveResult& result);
std::unique_ptr<WaveOut> openWaveOut(const WaveDevice& device, const WAVEFORMATEX& format, WaveDone done,
                                     WaveResult& result);

// One volume control of the device's mixer, with its range.
class MixerVolume {
public:
    enum class Line { Record, Playback };
    virtual ~MixerVolume() = default;
    virtual LONG minimum() const = 0;
    virtual LONG maximum() const = 0;
    // The first channel's value.
    virtual WaveResult get(LONG& value) = 0;
    // Sets the first channel; the others keep their values.
    virtual WaveResult set(LONG value) = 0;
};

// The volume control of the record line (the microphone, else the last
// capture control) or the playback line of the device's mixer; null when it
// has none.
std::unique_ptr<MixerVolume> openMixerVolume(const WaveDevice& device, MixerVolume::Line line,
                                             WaveResult& result);

}  // namespace platform
