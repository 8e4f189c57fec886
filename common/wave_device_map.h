#pragma once
// The product's choice of sound device: REG_SZ values under the shared key
// software\Quennel\Velmoor\Common\Audio.
//   Device        "file" for the file device, else the ALSA device name
//                 (default "default"); a device id other than the wave mapper
//                 selects the ALSA card "plughw:<id>"
//   RecordFile    file device: the WAV file that capture reads (none: silence)
//   PlaybackFile  file device: the WAV file that playback writes (none: nowhere)

#include "platform/wave_audio.h"

#include <string>

enum class WaveDirection { Record, Playback };

// The device to open for one direction and device id; missing values take
// their defaults.
platform::WaveDevice ReadWaveDevice(WaveDirection direction, UINT deviceId);

// Stores the file device with its two files (empty: none).
bool WriteFileWaveDevice(const std::string& recordFile, const std::string& playbackFile);
