// The MIDI device of this platform: a FluidSynth synthesizer playing the system's General MIDI
// soundfont through the desktop's sound server (PulseAudio, or PipeWire's PulseAudio service) or
// straight through ALSA. Without a soundfont or an audio device nothing opens and the game is
// silent.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sound/midi.h"

namespace sound {

// The soundfonts tried, in order.
inline constexpr std::array<const char*, 3> kSoundfonts = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
};

// The first candidate that is a readable soundfont; empty when there is none.
[[nodiscard]] std::string find_soundfont(std::span<const char* const> candidates);

// One synthesizer with its soundfont and, when playing to a device, its audio driver.
struct FluidOutput;

// Opens a synthesizer on `soundfont`. With `audio_device` it also opens the sound server or
// ALSA device and plays there; without it the caller pulls samples with `fluid_output_render`.
// Null and an error text on failure; FluidSynth and ALSA print nothing either way.
[[nodiscard]] FluidOutput* fluid_output_open(const std::string& soundfont, bool audio_device,
                                             std::string& error);
// Decodes a short message into the synthesizer: note on (velocity 0 is a note off), note off,
// program change, controllers (123 releases every note of the channel). Anything else is ignored.
void fluid_output_send(FluidOutput* output, uint32_t message);
// Cuts every sound on every channel at once, releases included.
void fluid_output_reset(FluidOutput* output);
void fluid_output_close(FluidOutput* output);
// Renders `frames` stereo frames at the synthesizer's rate into left and right. Only for an
// output opened without an audio device.
void fluid_output_render(FluidOutput* output, int frames, std::vector<float>& left,
                         std::vector<float>& right);
[[nodiscard]] int fluid_output_sample_rate(FluidOutput* output);

// The output as a handle for `install_midi_output`; closing it frees the output.
[[nodiscard]] MidiSink fluid_output_sink(FluidOutput* output);

// The system's MIDI output: the first soundfont of `candidates` on the audio device. False, an
// error text and an empty sink when either is missing.
[[nodiscard]] bool open_midi_output_from(std::span<const char* const> candidates, MidiSink& sink,
                                         std::string& error);
// The same on `kSoundfonts`.
[[nodiscard]] bool open_midi_output(MidiSink& sink, std::string& error);

}  // namespace sound
