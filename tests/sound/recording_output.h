#pragma once
// Stands in for the MIDI device in the sound tests: every message, sleep, reset and close lands in
// one log, in order, as readable text ("on 0 69 100", "off 0 69", "prog 2 38", "vol 0 88",
// "silence 1", "sleep 236", "reset", "close"). Sleeps can be held so a test can change a switch
// between a note on and its note off.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sound/midi.h"

namespace sound_test {

using Log = std::vector<std::string>;

// An opener for `start_music` that hands out the recording sink.
bool open_recording_output(sound::MidiSink& sink, std::string& error);
void install_recording_output();

[[nodiscard]] Log recorded();
// Waits (generously: CI is a loaded machine) until `ready` holds for the log.
[[nodiscard]] bool wait_until(const std::function<bool(const Log&)>& ready);
[[nodiscard]] int count(const Log& log, const std::string& entry);
// True when `part` occurs in `log` as a contiguous run starting at `from` or later.
[[nodiscard]] bool contains_run(const Log& log, const Log& part, size_t from = 0);

// Held sleeps are logged, then wait until released.
void hold_sleeps();
void release_sleeps();

// Each test starts with an empty log, the recording sleep, the default settings, music not
// running and no device; it ends by closing the device and waiting for every sound thread.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace sound_test
