#include "recording_output.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>

#include "sound/music.h"
#include "sound/sound_settings.h"
#include "sound/sound_testing.h"

namespace sound_test {

namespace {

struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Recorded> log;
  bool held = false;
};

Recorder& recorder() {
  static Recorder* r = new Recorder;
  return *r;
}

void add(Recorded::Kind kind, uint32_t value) {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.log.push_back({kind, value, std::this_thread::get_id()});
  r.changed.notify_all();
}

void record_send(void*, uint32_t message) {
  add(Recorded::Kind::message, message);
}
void record_reset(void*) {
  add(Recorded::Kind::reset, 0);
}
// A real device takes a moment to close; a send that slipped past the mutex would land here.
void record_close(void*) {
  add(Recorded::Kind::close, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void record_sleep(std::chrono::milliseconds duration) {
  add(Recorded::Kind::sleep, static_cast<uint32_t>(duration.count()));
  Recorder& r = recorder();
  std::unique_lock lock(r.mutex);
  r.changed.wait(lock, [&] { return !r.held; });
  lock.unlock();
  // A short real pause keeps a looping thread from flooding the log.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

Recorded message(uint32_t message) {
  return {Recorded::Kind::message, message, {}};
}
Recorded slept(int ms) {
  return {Recorded::Kind::sleep, static_cast<uint32_t>(ms), {}};
}
Recorded reset() {
  return {Recorded::Kind::reset, 0, {}};
}
Recorded closed() {
  return {Recorded::Kind::close, 0, {}};
}

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

std::vector<Recorded> recorded() {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  return r.log;
}

bool wait_until(const std::function<bool(const std::vector<Recorded>&)>& ready,
                std::chrono::milliseconds deadline) {
  Recorder& r = recorder();
  std::unique_lock lock(r.mutex);
  return r.changed.wait_for(lock, deadline, [&] { return ready(r.log); });
}

std::vector<Recorded> thread_from(const std::vector<Recorded>& log, const Recorded& first) {
  auto start = std::find(log.begin(), log.end(), first);
  std::vector<Recorded> out;
  if (start == log.end()) return out;
  std::copy_if(start, log.end(), std::back_inserter(out),
               [&](const Recorded& e) { return e.thread == start->thread; });
  return out;
}

int count(const std::vector<Recorded>& log, const Recorded& entry) {
  return static_cast<int>(std::count(log.begin(), log.end(), entry));
}

void hold_sleeps() {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.held = true;
}

void release_sleeps() {
  Recorder& r = recorder();
  std::lock_guard lock(r.mutex);
  r.held = false;
  r.changed.notify_all();
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
