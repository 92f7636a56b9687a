// The MIDI output as the rest of the program sees it: short messages, one process-wide handle and
// the mutex that guards it. Whatever stands behind the handle (the FluidSynth synthesizer, or a
// recorder in tests) receives the messages exactly as a General MIDI device would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace sound {

// Channel use: the tune's melody and bass, and the sound effects between them.
inline constexpr int kMelodyChannel = 0;
inline constexpr int kEffectChannel = 1;
inline constexpr int kBassChannel = 2;

// A short message: status + (first data byte << 8) + (second data byte << 16).
[[nodiscard]] uint32_t short_message(int status, int data1, int data2);
// Notes and programs are masked to 7 bits, the channel to 4.
[[nodiscard]] uint32_t note_on_message(int channel, int note, int velocity);
[[nodiscard]] uint32_t note_off_message(int channel, int note);
[[nodiscard]] uint32_t program_change_message(int channel, int program);
// Controller 7 with the scaled value of a volume setting 0..100.
[[nodiscard]] uint32_t channel_volume_message(int channel, int32_t setting);
// Controller 123.
[[nodiscard]] uint32_t all_notes_off_message(int channel);
// A volume setting 0..100 as a MIDI value: setting x 127 / 100, clamped to 0..127.
[[nodiscard]] int volume_value(int32_t setting);

// What stands behind the handle. `send` gets every short message; `reset` silences everything
// at once and `close` releases the device, both called once, in that order, under the mutex.
struct MidiSink {
  void* context = nullptr;
  void (*send)(void* context, uint32_t message) = nullptr;
  void (*reset)(void* context) = nullptr;
  void (*close)(void* context) = nullptr;
};

// Under the MIDI mutex: sends the message if the handle is open, otherwise does nothing.
void midi_send(uint32_t message);
void set_channel_volume(int channel, int32_t setting);
void set_program(int channel, int program);
// All Notes Off on channels 0, 1 and 2, one send each.
void all_notes_off();

[[nodiscard]] bool midi_output_open();
// Makes `sink` the open handle if none is open and `still_wanted` (checked under the mutex, so a
// shutdown cannot slip between the check and the install) says yes; null means always. When it
// is not installed the sink is reset and closed here, and the answer is false.
[[nodiscard]] bool install_midi_output(const MidiSink& sink, bool (*still_wanted)() = nullptr);
// Under the mutex: resets and closes the device and empties the handle. Safe when nothing is open.
void close_midi_output();

// Every sleep of the music and effect threads goes through here, so tests can shorten it.
void sound_sleep(std::chrono::milliseconds duration);

// Starts a detached thread that plays through the handle. False (and nothing runs) when the
// system cannot create a thread.
[[nodiscard]] bool start_sound_thread(std::function<void()> body);

}  // namespace sound
