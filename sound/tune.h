// The tune the music thread loops: two voices over 128 steps, 272 units of 118 ms (32.096 s).
#pragma once

#include <array>
#include <cstdint>

namespace sound {

struct TuneStep {
  uint8_t melody;  // MIDI note on channel 0; 0 rests
  uint8_t bass;    // MIDI note on channel 2; never 0
  uint8_t units;   // length in units
};

inline constexpr int kTuneSteps = 128;
inline constexpr int kUnitMs = 118;

// In A minor on six pitch classes (A C D E F G: the natural minor without its second degree).
extern const std::array<TuneStep, kTuneSteps> kTune;

}  // namespace sound
