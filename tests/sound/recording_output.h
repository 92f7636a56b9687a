#pragma once
// Stands in for the MIDI device in the sound tests: a sink that records every message, reset and
// close, and a sleep that records its length, all in one log in the order they happened and with
// the thread that did them. A gate can hold every sleep so a test can change a switch between a
// note on and its note off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sound/midi.h"

namespace sound_test {

struct Recorded {
  enum class Kind { message, sleep, reset, close };
  Kind kind;
  uint32_t value;  // the message, or the sleep in milliseconds
  std::thread::id thread;

  bool operator==(const Recorded& other) const {
    return kind == other.kind && value == other.value;
  }
};

// Shorthands for expected entries (the thread is not compared).
Recorded message(uint32_t message);
Recorded slept(int ms);
Recorded reset();
Recorded closed();

// An opener for `start_music` that hands out the recording sink.
bool open_recording_output(sound::MidiSink& sink, std::string& error);
// Installs the recording sink as the open handle.
void install_recording_output();

[[nodiscard]] std::vector<Recorded> recorded();
// Waits until `ready` holds for the log; false after `deadline`.
[[nodiscard]] bool wait_until(const std::function<bool(const std::vector<Recorded>&)>& ready,
                              std::chrono::milliseconds deadline = std::chrono::seconds(20));
// Entries of the thread that recorded `first`, from that entry on.
[[nodiscard]] std::vector<Recorded> thread_from(const std::vector<Recorded>& log,
                                                const Recorded& first);
// Counts entries equal to `entry`.
[[nodiscard]] int count(const std::vector<Recorded>& log, const Recorded& entry);

// Held sleeps wait until the gate opens again; they are logged before they wait.
void hold_sleeps();
void release_sleeps();

// Every test starts from a clean log, the recording sleep, default sound settings, music not
// running and no handle; it ends by closing the handle and waiting for every sound thread.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace sound_test
