// The effects per game event, and when they must not play.
#include "sound/effects.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_output.h"
#include "sound/music.h"
#include "sound/sound_settings.h"
#include "sound/sound_testing.h"

namespace {

using sound_test::Log;
using effects = sound_test::SoundTest;

Log effect_log(const std::vector<int>& notes, const std::vector<int>& lengths, int volume) {
  Log log = {"vol 1 " + std::to_string(volume), "prog 1 81"};
  for (size_t i = 0; i < notes.size(); ++i) {
    const std::string note = "1 " + std::to_string(notes[i]);
    log.insert(log.end(),
               {"on " + note + " 112", "sleep " + std::to_string(lengths[i]), "off " + note});
  }
  return log;
}

// Each hook plays its own notes for their own lengths on channel 1 at the sound volume; one to
// three rows share a sound and four rows have their own.
TEST_F(effects, each_event_plays_its_notes_on_channel_1) {
  struct Case {
    void (*play)();
    std::vector<int> notes, lengths;
  };
  const Case cases[] = {
      {sound::play_lock_effect, {48}, {40}},
      {[] { sound::play_lines_effect(1); }, {81, 88, 96}, {50, 55, 90}},
      {[] { sound::play_lines_effect(3); }, {81, 88, 96}, {50, 55, 90}},
      {[] { sound::play_lines_effect(4); }, {76, 81, 88, 93, 100}, {55, 55, 55, 70, 140}},
      {sound::play_drop_effect, {40, 33}, {35, 55}},
      {sound::play_rotate_effect, {84}, {28}},
      {sound::play_game_over_effect, {72, 67, 64, 57}, {90, 90, 90, 160}},
  };
  sound_test::install_recording_output();
  sound::music_running() = true;
  sound::sound_settings().sfx_vol = 40;
  Log want;
  for (const Case& c : cases) {
    c.play();
    ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
    const Log one = effect_log(c.notes, c.lengths, 50);
    want.insert(want.end(), one.begin(), one.end());
  }
  EXPECT_EQ(sound_test::recorded(), want);
}

bool failing_opener(sound::MidiSink&, std::string& error) {
  error = "no audio device";
  return false;
}

// No device (it failed to open), or the sound switch off: silence, and no effect thread starts.
TEST_F(effects, no_device_or_sound_off_starts_no_thread) {
  const int notes[] = {48}, lengths[] = {40};
  ASSERT_TRUE(sound::start_music(failing_opener));
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, "sleep 236") >= 2; }));
  EXPECT_FALSE(sound::play_effect(notes, lengths, 1));
  for (const std::string& e : sound_test::recorded()) EXPECT_EQ(e.rfind("sleep ", 0), 0u) << e;

  sound_test::install_recording_output();
  sound::sound_settings().sfx = false;
  EXPECT_FALSE(sound::play_effect(notes, lengths, 1));
  sound::sound_settings().sfx = true;
  EXPECT_TRUE(sound::play_effect(notes, lengths, 1));
}

// Turning sound off during an effect lets the current note end and plays no further note.
TEST_F(effects, sound_off_cuts_the_effect_after_its_note) {
  sound_test::install_recording_output();
  sound::music_running() = true;
  sound_test::hold_sleeps();
  sound::play_game_over_effect();
  ASSERT_TRUE(sound_test::wait_until([](const Log& log) { return log.size() == 4; }));
  sound::sound_settings().sfx = false;
  sound_test::release_sleeps();
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
  EXPECT_EQ(sound_test::recorded(), effect_log({72}, {90}, 107));
}

}  // namespace
