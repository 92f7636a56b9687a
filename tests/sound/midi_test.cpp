// The short messages and the handle they go through.
#include "sound/midi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

#include "recording_output.h"

namespace {

using sound_test::Log;

// A device reads status, then data bytes, from the low byte up; a swapped byte plays another note
// on another channel, and an unmasked note would spill into the velocity byte.
TEST(midi_messages, pack_status_and_data_bytes_from_the_low_byte) {
  const uint32_t cases[][2] = {
      {sound::note_on_message(0, 69, 100), 0x644590},
      {sound::note_on_message(2, 45, 86), 0x562D92},
      {sound::note_off_message(1, 81), 0x005181},
      {sound::program_change_message(2, 38), 0x0026C2},
      {sound::channel_volume_message(1, 85), 0x6B07B1},
      {sound::all_notes_off_message(2), 0x007BB2},
      {sound::note_on_message(1, 200, 112), 0x704891},         // note 200 masked to 72
      {sound::program_change_message(1, 128 + 81), 0x0051C1},  // program masked to 81
  };
  for (const auto& c : cases) EXPECT_EQ(c[0], c[1]) << std::hex << c[1];
}

// The settings hold 0..100, MIDI 0..127; a setting out of range must neither wrap nor overflow.
TEST(midi_messages, volume_scales_down_and_clamps) {
  const int cases[][2] = {{0, 0},     {1, 1},     {50, 63}, {70, 88},       {85, 107},   {99, 125},
                          {100, 127}, {101, 127}, {-1, 0},  {INT_MAX, 127}, {INT_MIN, 0}};
  for (const auto& c : cases) EXPECT_EQ(sound::volume_value(c[0]), c[1]) << c[0];
}

using midi_output = sound_test::SoundTest;

// Without a device every send is skipped; with one each reaches it in order; the close resets
// before it closes, happens once, and nothing is sent afterwards.
TEST_F(midi_output, sends_only_while_open_and_closes_once) {
  sound::midi_send(sound::note_on_message(0, 60, 100));
  EXPECT_FALSE(sound::midi_output_open());
  sound_test::install_recording_output();
  sound::set_program(2, 38);
  sound::set_channel_volume(0, 70);
  sound::all_notes_off();
  sound::close_midi_output();
  sound::close_midi_output();
  sound::midi_send(sound::note_on_message(0, 60, 100));
  EXPECT_EQ(sound_test::recorded(), (Log{"prog 2 38", "vol 0 88", "silence 0", "silence 1",
                                         "silence 2", "reset", "close"}));
  EXPECT_FALSE(sound::midi_output_open());
}

// The close takes the same mutex as every send: however the threads interleave, no message
// reaches the device while it closes or after it closed.
TEST_F(midi_output, no_send_during_or_after_the_close) {
  sound_test::install_recording_output();
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t) {
    senders.emplace_back([&stop, &sent, t] {
      while (!stop.load()) {
        sound::midi_send(sound::note_on_message(t, 60, 1));
        ++sent;
      }
    });
  }
  while (sent.load() < 300) std::this_thread::yield();
  sound::close_midi_output();
  const int after_close = sent.load();
  while (sent.load() < after_close + 300) std::this_thread::yield();
  stop = true;
  for (auto& s : senders) s.join();
  const Log log = sound_test::recorded();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"reset", "close"}));
}

}  // namespace
