#pragma once
// Speech for the audio tests: a spoken sentence made by espeak-ng and
// resampled by ffmpeg to the talk channel's 8 kHz 16-bit mono WAV, and the
// measures that compare a decoded signal with it.

#include <cstdint>
#include <string>
#include <vector>

namespace audiotest {

// Writes the sentence as an 8 kHz mono WAV at `path`; false when a tool failed.
bool makeSpeechWav(const std::string& path, const std::string& text = "Hello control room, this is the north gate. "
                                                                      "The alarm was a false one, all is quiet here.");

// The 16-bit samples of a PCM WAV file (empty when it is not one).
std::vector<std::int16_t> readWavSamples(const std::string& path);

// The highest normalised correlation of the two signals' short-time energy
// envelopes (10 ms windows) over shifts of up to maxShiftMs either way.
double envelopeCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                           int maxShiftMs = 500);

// The samples that are not silence (beyond a small threshold).
std::size_t audibleSamples(const std::vector<std::int16_t>& samples);

}  // namespace audiotest
