#include "sound/effects.h"

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

#include "sound/midi.h"
#include "sound/music.h"
#include "sound/sound_settings.h"

namespace sound {

namespace {

constexpr int kEffectProgram = 81;
constexpr int kEffectVelocity = 112;

constexpr int kLockNotes[] = {48};
constexpr int kLockLengths[] = {40};
constexpr int kLinesNotes[] = {81, 88, 96};
constexpr int kLinesLengths[] = {50, 55, 90};
constexpr int kFourLinesNotes[] = {76, 81, 88, 93, 100};
constexpr int kFourLinesLengths[] = {55, 55, 55, 70, 140};
constexpr int kDropNotes[] = {40, 33};
constexpr int kDropLengths[] = {35, 55};
constexpr int kRotateNotes[] = {84};
constexpr int kRotateLengths[] = {28};
constexpr int kGameOverNotes[] = {72, 67, 64, 57};
constexpr int kGameOverLengths[] = {90, 90, 90, 160};

template <size_t N>
void play(const int (&notes)[N], const int (&lengths_ms)[N]) {
  play_effect(notes, lengths_ms, static_cast<int>(N));
}

void effect_thread(const std::vector<int>& notes, const std::vector<int>& lengths_ms) {
  const SoundSettings& settings = sound_settings();
  set_channel_volume(kEffectChannel, settings.sfx_vol.load());
  set_program(kEffectChannel, kEffectProgram);
  for (size_t i = 0; i < notes.size(); ++i) {
    if (!music_running().load() || !settings.sfx.load()) return;
    midi_send(note_on_message(kEffectChannel, notes[i], kEffectVelocity));
    sound_sleep(std::chrono::milliseconds(lengths_ms[i]));
    midi_send(note_off_message(kEffectChannel, notes[i]));
  }
}

}  // namespace

bool play_effect(const int* notes, const int* lengths_ms, int count) {
  if (notes == nullptr || lengths_ms == nullptr || count <= 0) return false;
  if (!sound_settings().sfx.load() || !midi_output_open()) return false;
  std::vector<int> note_list(notes, notes + count);
  std::vector<int> length_list(lengths_ms, lengths_ms + count);
  return start_sound_thread(
      [note_list = std::move(note_list), length_list = std::move(length_list)] {
        effect_thread(note_list, length_list);
      });
}

void play_lock_effect() {
  play(kLockNotes, kLockLengths);
}

void play_lines_effect(int count) {
  if (count >= 4) {
    play(kFourLinesNotes, kFourLinesLengths);
  } else if (count > 0) {
    play(kLinesNotes, kLinesLengths);
  }
}

void play_drop_effect() {
  play(kDropNotes, kDropLengths);
}
void play_rotate_effect() {
  play(kRotateNotes, kRotateLengths);
}
void play_game_over_effect() {
  play(kGameOverNotes, kGameOverLengths);
}

}  // namespace sound
