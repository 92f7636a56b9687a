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

using sound::note_off_message;
using sound::note_on_message;
using sound_test::message;
using sound_test::recorded;
using sound_test::Recorded;
using sound_test::slept;
using Log = std::vector<Recorded>;

using effects = sound_test::SoundTest;

Log effect_log(const std::vector<int>& notes, const std::vector<int>& lengths, int volume) {
  Log log = {message(sound::channel_volume_message(1, volume)),
             message(sound::program_change_message(1, 81))};
  for (size_t i = 0; i < notes.size(); ++i) {
    log.push_back(message(note_on_message(1, notes[i], 112)));
    log.push_back(slept(lengths[i]));
    log.push_back(message(note_off_message(1, notes[i])));
  }
  return log;
}

// Each hook plays its own notes for their own lengths on channel 1, at the sound volume; one to
// three rows share a sound and four rows have their own.
TEST_F(effects, each_event_plays_its_notes_on_channel_1) {
  struct Case {
    const char* event;
    void (*play)();
    std::vector<int> notes;
    std::vector<int> lengths;
  };
  const Case cases[] = {
      {"lock", sound::play_lock_effect, {48}, {40}},
      {"one row", [] { sound::play_lines_effect(1); }, {81, 88, 96}, {50, 55, 90}},
      {"three rows", [] { sound::play_lines_effect(3); }, {81, 88, 96}, {50, 55, 90}},
      {"four rows",
       [] { sound::play_lines_effect(4); },
       {76, 81, 88, 93, 100},
       {55, 55, 55, 70, 140}},
      {"drop", sound::play_drop_effect, {40, 33}, {35, 55}},
      {"rotate", sound::play_rotate_effect, {84}, {28}},
      {"game over", sound::play_game_over_effect, {72, 67, 64, 57}, {90, 90, 90, 160}},
  };
  sound_test::install_recording_output();
  sound::music_running() = true;
  sound::sound_settings().sfx_vol = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    const size_t before = recorded().size();
    c.play();
    const Log want = effect_log(c.notes, c.lengths, 40);
    ASSERT_TRUE(
        sound_test::wait_until([&](const Log& log) { return log.size() >= before + want.size(); }));
    ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
    const Log log = recorded();
    EXPECT_EQ(Log(log.begin() + before, log.end()), want);
  }
}

bool failing_opener(sound::MidiSink&, std::string& error) {
  error = "no audio device";
  return false;
}

// No device (it failed to open), or the sound switch off: the game is silent and no effect
// thread is ever started.
TEST_F(effects, no_device_or_sound_off_starts_no_thread) {
  ASSERT_TRUE(sound::start_music(failing_opener));
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, slept(236)) >= 2; }));
  EXPECT_FALSE(sound::midi_output_open());
  const int notes[] = {48};
  const int lengths[] = {40};
  EXPECT_FALSE(sound::play_effect(notes, lengths, 1));
  for (const Recorded& e : recorded()) EXPECT_EQ(e.kind, Recorded::Kind::sleep);

  sound::music_running() = false;
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
  sound_test::install_recording_output();
  sound::music_running() = true;
  sound::sound_settings().sfx = false;
  EXPECT_FALSE(sound::play_effect(notes, lengths, 1));
  sound::sound_settings().sfx = true;
  EXPECT_FALSE(sound::play_effect(notes, lengths, 0));
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
  const Log want = effect_log({72}, {90}, 85);
  EXPECT_EQ(recorded(), want);
}

}  // namespace
