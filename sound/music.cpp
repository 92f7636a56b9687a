#include "sound/music.h"

#include <chrono>

#include "sound/sound_settings.h"
#include "sound/tune.h"

namespace sound {

namespace {

constexpr int kMelodyProgram = 80;
constexpr int kBassProgram = 38;
constexpr int kMelodyVelocity = 100;
constexpr int kBassVelocity = 86;
constexpr std::chrono::milliseconds kMusicOffWait{80};
constexpr std::chrono::milliseconds kShutdownWait{30};

bool music_still_running() {
  return music_running().load();
}

void open_output(OutputOpener open) {
  MidiSink sink;
  std::string error;
  if (open == nullptr || !open(sink, error)) return;
  // A shutdown during the opening has already closed the handle: this device is not wanted.
  (void)install_midi_output(sink, music_still_running);
}

void set_music_volumes() {
  const int32_t volume = sound_settings().music_vol.load();
  set_channel_volume(kMelodyChannel, volume);
  set_channel_volume(kBassChannel, volume);
}

void play_note(int channel, int note, int velocity) {
  if (note != 0) midi_send(note_on_message(channel, note, velocity));
}

void release_note(int channel, int note) {
  if (note != 0) midi_send(note_off_message(channel, note));
}

// One pass through the tune from its first step. Returns at once when the flag clears and at the
// end of a step when the music switch goes off.
void play_tune() {
  const SoundSettings& settings = sound_settings();
  for (const TuneStep& step : kTune) {
    if (!music_running().load()) return;
    if (!settings.music.load()) return;
    set_music_volumes();
    play_note(kMelodyChannel, step.melody, kMelodyVelocity);
    play_note(kBassChannel, step.bass, kBassVelocity);
    sound_sleep(std::chrono::milliseconds(step.units * kUnitMs));
    release_note(kMelodyChannel, step.melody);
    release_note(kBassChannel, step.bass);
  }
}

void music_thread(OutputOpener open) {
  open_output(open);
  set_program(kMelodyChannel, kMelodyProgram);
  set_program(kBassChannel, kBassProgram);
  set_music_volumes();
  while (music_running().load()) {
    if (sound_settings().music.load()) {
      set_music_volumes();
      play_tune();
    } else {
      // Also cuts an effect that is still sounding.
      all_notes_off();
      sound_sleep(kMusicOffWait);
    }
  }
  all_notes_off();
}

}  // namespace

std::atomic<bool>& music_running() {
  static std::atomic<bool>* running = new std::atomic<bool>(false);
  return *running;
}

bool start_music(OutputOpener open) {
  if (music_running().exchange(true)) return false;
  if (start_sound_thread([open] { music_thread(open); })) return true;
  music_running().store(false);
  return false;
}

void stop_sound() {
  music_running().store(false);
  all_notes_off();
  sound_sleep(kShutdownWait);
  close_midi_output();
}

}  // namespace sound
