#include "recording_output.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sound/music.h"
#include "sound/sound_settings.h"
#include "sound/sound_testing.h"

namespace sound_test {

namespace {

struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  Log log;
  bool held = false;
};

Recorder& recorder() {
  static Recorder* r = new Recorder;
  return *r;
}

void add(const std::string& entry) {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.log.push_back(entry);
  r.changed.notify_all();
}

// Decoded independently of the encoders, so a swapped byte shows up as the wrong text.
std::string describe(uint32_t m) {
  const int status = m & 0xFF, data1 = (m >> 8) & 0xFF, data2 = (m >> 16) & 0xFF;
  const std::string channel = std::to_string(status & 0x0F) + " ";
  switch (status & 0xF0) {
    case 0x90:
      return "on " + channel + std::to_string(data1) + " " + std::to_string(data2);
    case 0x80:
      return "off " + channel + std::to_string(data1) + (data2 ? " ?" : "");
    case 0xC0:
      return "prog " + channel + std::to_string(data1);
    case 0xB0:
      if (data1 == 7) return "vol " + channel + std::to_string(data2);
      if (data1 == 123 && data2 == 0) return "silence " + channel.substr(0, 1);
  }
  return "? " + std::to_string(m);
}

void record_send(void*, uint32_t message) {
  add(describe(message));
}
void record_reset(void*) {
  add("reset");
}
// A real device takes a moment to close; a send that slipped past the mutex would land here.
void record_close(void*) {
  add("close");
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void record_sleep(std::chrono::milliseconds duration) {
  add("sleep " + std::to_string(duration.count()));
  Recorder& r = recorder();
  std::unique_lock lock(r.mutex);
  r.changed.wait(lock, [&] { return !r.held; });
  lock.unlock();
  // A short real pause keeps a looping thread from flooding the log.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void set_held(bool held) {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.held = held;
  r.changed.notify_all();
}

}  // namespace

bool open_recording_output(sound::MidiSink& sink, std::string&) {
  sink = sound::MidiSink{nullptr, record_send, record_reset, record_close};
  return true;
}

void install_recording_output() {
  sound::MidiSink sink;
  std::string error;
  ASSERT_TRUE(open_recording_output(sink, error));
  ASSERT_TRUE(sound::install_midi_output(sink));
}

Log recorded() {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  return r.log;
}

bool wait_until(const std::function<bool(const Log&)>& ready) {
  Recorder& r = recorder();
  std::unique_lock lock(r.mutex);
  return r.changed.wait_for(lock, std::chrono::seconds(20), [&] { return ready(r.log); });
}

int count(const Log& log, const std::string& entry) {
  return static_cast<int>(std::count(log.begin(), log.end(), entry));
}

bool contains_run(const Log& log, const Log& part, size_t from) {
  if (from > log.size()) return false;
  return std::search(log.begin() + from, log.end(), part.begin(), part.end()) != log.end();
}

void hold_sleeps() {
  set_held(true);
}
void release_sleeps() {
  set_held(false);
}

void SoundTest::SetUp() {
  sound::SoundSettings& settings = sound::sound_settings();
  settings.music = sound::kDefaultMusic;
  settings.sfx = sound::kDefaultSfx;
  settings.music_vol = sound::kDefaultMusicVolume;
  settings.sfx_vol = sound::kDefaultSfxVolume;
  sound::music_running() = false;
  sound::close_midi_output();
  sound::set_sound_sleep_for_testing(record_sleep);
  release_sleeps();
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.log.clear();
}

void SoundTest::TearDown() {
  release_sleeps();
  sound::music_running() = false;
  sound::close_midi_output();
  EXPECT_TRUE(sound::wait_for_sound_threads_for_testing(std::chrono::seconds(20)));
  sound::set_sound_sleep_for_testing(nullptr);
}

}  // namespace sound_test
