// The music thread against the recording device: what it sends, in which order, how it follows
// the switches, and the shutdown.
#include "sound/music.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <thread>

#include "recording_output.h"
#include "sound/effects.h"
#include "sound/sound_settings.h"
#include "sound/sound_testing.h"
#include "sound/tune.h"

namespace {

using sound_test::Log;
using music = sound_test::SoundTest;

const Log kStart = {"prog 0 80", "prog 2 38", "vol 0 88", "vol 2 88", "vol 0 88", "vol 2 88"};
const Log kSilence = {"silence 0", "silence 1", "silence 2", "sleep 80"};

void add_step(Log& log, int index, int volume) {
  const sound::TuneStep& step = sound::kTune[index];
  const std::string melody = "0 " + std::to_string(step.melody),
                    bass = "2 " + std::to_string(step.bass);
  log.insert(log.end(), {"vol 0 " + std::to_string(volume), "vol 2 " + std::to_string(volume)});
  if (step.melody) log.push_back("on " + melody + " 100");
  log.push_back("on " + bass + " 86");
  log.push_back("sleep " + std::to_string(step.units * 118));
  if (step.melody) log.push_back("off " + melody);
  log.push_back("off " + bass);
}

bool starts_with(const Log& log, const Log& prefix) {
  return log.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), log.begin());
}

void start_held_in_first_step() {
  sound_test::hold_sleeps();
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  ASSERT_TRUE(
      sound_test::wait_until([](const Log& log) { return sound_test::count(log, "sleep 236"); }));
}

// Programs and volumes first; then every step sends its volumes, its notes (rests send none),
// sleeps its length and releases; the last step runs straight into the first again. A second
// start while music runs adds no second thread.
TEST_F(music, plays_the_tune_in_order_and_loops_without_a_pause) {
  ASSERT_TRUE(sound::start_music(sound_test::open_recording_output));
  EXPECT_FALSE(sound::start_music(sound_test::open_recording_output));
  Log want = kStart;
  for (int i = 0; i < sound::kTuneSteps; ++i) add_step(want, i, 88);
  want.insert(want.end(), {"vol 0 88", "vol 2 88"});
  add_step(want, 0, 88);
  ASSERT_TRUE(sound_test::wait_until([&](const Log& log) { return log.size() >= want.size(); }));
  EXPECT_TRUE(starts_with(sound_test::recorded(), want));
}

// Moving the slider during a note reaches the very next step.
TEST_F(music, volume_is_read_again_at_every_step) {
  start_held_in_first_step();
  sound::sound_settings().music_vol = 20;
  sound_test::release_sleeps();
  Log want = kStart;
  add_step(want, 0, 88);
  add_step(want, 1, 25);
  ASSERT_TRUE(sound_test::wait_until([&](const Log& log) { return log.size() >= want.size(); }));
  EXPECT_TRUE(starts_with(sound_test::recorded(), want));
}

// Music off lets the sounding step finish, then silences all three channels every 80 ms (which
// also cuts an effect still sounding); music on again starts over from the first step.
TEST_F(music, switch_off_silences_every_80_ms_and_on_restarts_from_the_top) {
  start_held_in_first_step();
  sound::sound_settings().music = false;
  sound_test::release_sleeps();
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, "sleep 80") >= 3; }));
  sound::sound_settings().music = true;
  ASSERT_TRUE(sound_test::wait_until(
      [](const Log& log) { return sound_test::count(log, "on 2 45 86") == 2; }));

  const Log log = sound_test::recorded();
  Log want = kStart;
  add_step(want, 0, 88);
  const int rounds = sound_test::count(log, "sleep 80");
  for (int r = 0; r < rounds; ++r) want.insert(want.end(), kSilence.begin(), kSilence.end());
  want.insert(want.end(),
              {"vol 0 88", "vol 2 88", "vol 0 88", "vol 2 88", "on 0 69 100", "on 2 45 86"});
  EXPECT_TRUE(starts_with(log, want));
}

std::promise<void>* opener_gate = nullptr;

bool slow_opener(sound::MidiSink& sink, std::string& error) {
  opener_gate->get_future().wait();
  return sound_test::open_recording_output(sink, error);
}

// The device opens on the music thread and takes a while. If the game closes first, the device
// that opens afterwards must be closed, not left playing behind a closed window.
TEST_F(music, output_opening_after_shutdown_is_closed) {
  std::promise<void> gate;
  opener_gate = &gate;
  ASSERT_TRUE(sound::start_music(slow_opener));
  sound::stop_sound();
  gate.set_value();
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
  EXPECT_FALSE(sound::midi_output_open());
  EXPECT_EQ(sound_test::recorded(), (Log{"sleep 30", "reset", "close"}));
}

// Closing the game while the tune and an effect sound: all notes off on 0, 1 and 2, the 30 ms
// wait, then reset and close; the threads still sleeping send nothing after that.
TEST_F(music, shutdown_silences_all_channels_before_the_close) {
  start_held_in_first_step();
  sound::play_game_over_effect();
  ASSERT_TRUE(
      sound_test::wait_until([](const Log& log) { return sound_test::count(log, "sleep 90"); }));
  std::thread closing(sound::stop_sound);
  ASSERT_TRUE(
      sound_test::wait_until([](const Log& log) { return sound_test::count(log, "sleep 30"); }));
  sound_test::release_sleeps();
  closing.join();
  ASSERT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));

  const Log log = sound_test::recorded();
  EXPECT_TRUE(sound_test::contains_run(log, {"silence 0", "silence 1", "silence 2", "sleep 30"}));
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"reset", "close"}));
  EXPECT_EQ(sound_test::count(log, "on 1 67 112"), 0);
}

}  // namespace
