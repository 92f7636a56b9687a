// The music thread against the recording device: what it sends, in which order, and how it
// follows the switches; and the shutdown.
#include "sound/music.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "recording_output.h"
#include "sound/effects.h"
#include "sound/sound_settings.h"
#include "sound/sound_testing.h"
#include "sound/tune.h"

namespace {

using sound::all_notes_off_message;
using sound::channel_volume_message;
using sound::note_off_message;
using sound::note_on_message;
using sound_test::closed;
using sound_test::message;
using sound_test::recorded;
using sound_test::Recorded;
using sound_test::reset;
using sound_test::slept;
using Log = std::vector<Recorded>;

using music = sound_test::SoundTest;

void add_volumes(Log& log, int setting) {
  log.push_back(message(channel_volume_message(0, setting)));
  log.push_back(message(channel_volume_message(2, setting)));
}

void add_step(Log& log, const sound::TuneStep& step, int volume) {
  add_volumes(log, volume);
  if (step.melody) log.push_back(message(note_on_message(0, step.melody, 100)));
  log.push_back(message(note_on_message(2, step.bass, 86)));
  log.push_back(slept(step.units * 118));
  if (step.melody) log.push_back(message(note_off_message(0, step.melody)));
  log.push_back(message(note_off_message(2, step.bass)));
}

Log silence_round() {
  return {message(all_notes_off_message(0)), message(all_notes_off_message(1)),
          message(all_notes_off_message(2)), slept(80)};
}

bool has_prefix(const Log& log, const Log& prefix) {
  return log.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), log.begin());
}

// Programs and volumes first; then every step sends its volumes, its notes (rests send none),
// sleeps its length and releases; the last step runs straight into the first again. A second
// start while music runs must not add a second thread.
TEST_F(music, plays_the_tune_in_order_and_loops_without_a_pause) {
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  EXPECT_FALSE(sound::start_music(sound_test::open_recording_output));
  Log want = {message(sound::program_change_message(0, 80)),
              message(sound::program_change_message(2, 38))};
  add_volumes(want, 70);
  add_volumes(want, 70);
  for (const sound::TuneStep& step : sound::kTune) add_step(want, step, 70);
  add_volumes(want, 70);
  add_step(want, sound::kTune[0], 70);
  ASSERT_TRUE(sound_test::wait_until([&](const Log& log) { return log.size() >= want.size(); }));
  const Log log = recorded();
  ASSERT_TRUE(has_prefix(log, want));
  int slept_ms = 0;
  for (const Recorded& e : Log(log.begin(), log.begin() + want.size())) {
    if (e.kind == Recorded::Kind::sleep) slept_ms += e.value;
  }
  EXPECT_EQ(slept_ms, 32096 + 2 * 118);
}

// Moving the slider during a note reaches the very next step.
TEST_F(music, volume_is_read_again_at_every_step) {
  sound_test::hold_sleeps();
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return !log.empty() && log.back() == slept(236); }));
  sound::sound_settings().music_vol = 20;
  sound_test::release_sleeps();
  Log step0, step1;
  add_step(step0, sound::kTune[0], 70);
  add_step(step1, sound::kTune[1], 20);
  Log want = {message(sound::program_change_message(0, 80)),
              message(sound::program_change_message(2, 38))};
  add_volumes(want, 70);
  add_volumes(want, 70);
  want.insert(want.end(), step0.begin(), step0.end());
  want.insert(want.end(), step1.begin(), step1.end());
  ASSERT_TRUE(sound_test::wait_until([&](const Log& log) { return log.size() >= want.size(); }));
  EXPECT_TRUE(has_prefix(recorded(), want));
}

// Music off lets the sounding step finish, then silences all three channels every 80 ms (an
// effect still sounding is cut too); music on again starts from the first step.
TEST_F(music, switch_off_silences_every_80_ms_and_on_restarts_from_the_top) {
  sound_test::hold_sleeps();
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return !log.empty() && log.back() == slept(236); }));
  sound::sound_settings().music = false;
  const size_t before = recorded().size();
  sound_test::release_sleeps();
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, slept(80)) >= 3; }));
  sound::sound_settings().music = true;
  ASSERT_TRUE(sound_test::wait_until([&](const Log& log) {
    return sound_test::count(log, message(note_on_message(2, sound::kTune[0].bass, 86))) >= 2;
  }));

  const Log log = recorded();
  Log tail(log.begin() + before, log.end());
  Log want = {message(note_off_message(0, 69)), message(note_off_message(2, 45))};
  for (int round = 0; round < 3; ++round) {
    const Log silence = silence_round();
    want.insert(want.end(), silence.begin(), silence.end());
  }
  ASSERT_TRUE(has_prefix(tail, want));
  // After however many silent rounds, the tune starts over from its first step.
  auto restart = std::find(tail.begin(), tail.end(), message(channel_volume_message(0, 70)));
  ASSERT_NE(restart, tail.end());
  const size_t restart_at = restart - tail.begin();
  size_t at = want.size();
  for (; at < restart_at; at += 4) {
    ASSERT_TRUE(has_prefix(Log(tail.begin() + at, tail.end()), silence_round()));
  }
  ASSERT_EQ(at, restart_at);
  Log again;
  add_volumes(again, 70);
  add_volumes(again, 70);
  again.push_back(message(note_on_message(0, 69, 100)));
  again.push_back(message(note_on_message(2, 45, 86)));
  EXPECT_TRUE(has_prefix(Log(restart, tail.end()), again));
}

std::promise<void>* waiting_opener_gate = nullptr;

bool waiting_opener(sound::MidiSink& sink, std::string& error) {
  waiting_opener_gate->get_future().wait();
  return sound_test::open_recording_output(sink, error);
}

// The device takes a while to open on the music thread. If the player closes the game first, the
// device that opens afterwards must be closed, not left playing behind a closed window.
TEST_F(music, output_opening_after_shutdown_is_closed) {
  std::promise<void> gate;
  waiting_opener_gate = &gate;
  ASSERT_TRUE(sound::start_music(waiting_opener));
  sound::stop_sound();
  gate.set_value();
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
  EXPECT_FALSE(sound::midi_output_open());
  EXPECT_EQ(recorded(), (Log{slept(30), reset(), closed()}));
}

// Closing the game while music and an effect sound: all notes off on 0, 1 and 2, the 30 ms
// wait, then reset and close; the threads still sleeping send nothing after that.
TEST_F(music, shutdown_silences_all_channels_before_the_close) {
  sound_test::hold_sleeps();
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return !log.empty() && log.back() == slept(236); }));
  sound::play_game_over_effect();
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, slept(90)) == 1; }));
  std::thread closing(sound::stop_sound);
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, slept(30)) == 1; }));
  sound_test::release_sleeps();
  closing.join();
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));

  const Log log = recorded();
  const Log want = {message(all_notes_off_message(0)),
                    message(all_notes_off_message(1)),
                    message(all_notes_off_message(2)),
                    slept(30),
                    reset(),
                    closed()};
  EXPECT_EQ(sound_test::thread_from(log, message(all_notes_off_message(0))), want);
  EXPECT_EQ(log.back(), closed());
  EXPECT_EQ(sound_test::count(log, message(note_on_message(1, 67, 112))), 0);
}

}  // namespace
