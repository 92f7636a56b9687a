#include "sound/midi.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "sound/sound_testing.h"

namespace sound {

namespace {

// Effect threads are detached and may still be running while the process exits, so everything
// they touch lives for the whole process: these objects are made once and never destroyed.
struct MidiState {
  std::mutex midi_mutex;  // a leaf: nothing else is taken while it is held
  std::optional<MidiSink> handle;
};

MidiState& midi_state() {
  static MidiState* state = new MidiState;
  return *state;
}

struct ThreadCount {
  std::mutex mutex;
  std::condition_variable ended;
  int alive = 0;
};

ThreadCount& thread_count() {
  static ThreadCount* count = new ThreadCount;
  return *count;
}

std::atomic<void (*)(std::chrono::milliseconds)> sleep_override{nullptr};

void close_sink(const MidiSink& sink) {
  if (sink.reset) sink.reset(sink.context);
  if (sink.close) sink.close(sink.context);
}

void thread_ended() {
  ThreadCount& count = thread_count();
  std::lock_guard lock(count.mutex);
  --count.alive;
  count.ended.notify_all();
}

}  // namespace

uint32_t short_message(int status, int data1, int data2) {
  return static_cast<uint32_t>(status & 0xFF) | (static_cast<uint32_t>(data1 & 0xFF) << 8) |
         (static_cast<uint32_t>(data2 & 0xFF) << 16);
}

uint32_t note_on_message(int channel, int note, int velocity) {
  return short_message(0x90 + (channel & 0x0F), note & 0x7F, velocity & 0x7F);
}

uint32_t note_off_message(int channel, int note) {
  return short_message(0x80 + (channel & 0x0F), note & 0x7F, 0);
}

uint32_t program_change_message(int channel, int program) {
  return short_message(0xC0 + (channel & 0x0F), program & 0x7F, 0);
}

uint32_t channel_volume_message(int channel, int32_t setting) {
  return short_message(0xB0 + (channel & 0x0F), 7, volume_value(setting));
}

uint32_t all_notes_off_message(int channel) {
  return short_message(0xB0 + (channel & 0x0F), 123, 0);
}

int volume_value(int32_t setting) {
  // 64-bit product: a setting from anywhere in the int32 range must not overflow.
  const int64_t scaled = static_cast<int64_t>(setting) * 127 / 100;
  return static_cast<int>(std::clamp<int64_t>(scaled, 0, 127));
}

void midi_send(uint32_t message) {
  MidiState& state = midi_state();
  std::lock_guard lock(state.midi_mutex);
  if (state.handle && state.handle->send) state.handle->send(state.handle->context, message);
}

void set_channel_volume(int channel, int32_t setting) {
  midi_send(channel_volume_message(channel, setting));
}

void set_program(int channel, int program) {
  midi_send(program_change_message(channel, program));
}

void all_notes_off() {
  for (int channel : {kMelodyChannel, kEffectChannel, kBassChannel}) {
    midi_send(all_notes_off_message(channel));
  }
}

bool midi_output_open() {
  MidiState& state = midi_state();
  std::lock_guard lock(state.midi_mutex);
  return state.handle.has_value();
}

bool install_midi_output(const MidiSink& sink, bool (*still_wanted)()) {
  MidiState& state = midi_state();
  {
    std::lock_guard lock(state.midi_mutex);
    if (!state.handle && (still_wanted == nullptr || still_wanted())) {
      state.handle = sink;
      return true;
    }
  }
  // Not wanted: release the device outside the mutex, nobody else can reach this sink.
  close_sink(sink);
  return false;
}

void close_midi_output() {
  MidiState& state = midi_state();
  std::lock_guard lock(state.midi_mutex);
  if (!state.handle) return;
  close_sink(*state.handle);
  state.handle.reset();
}

void sound_sleep(std::chrono::milliseconds duration) {
  if (auto* sleep = sleep_override.load()) {
    sleep(duration);
    return;
  }
  std::this_thread::sleep_for(duration);
}

bool start_sound_thread(std::function<void()> body) {
  ThreadCount& count = thread_count();
  {
    std::lock_guard lock(count.mutex);
    ++count.alive;
  }
  try {
    std::thread([body = std::move(body)] {
      body();
      thread_ended();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    thread_ended();
    return false;
  }
}

void set_sound_sleep_for_testing(void (*sleep)(std::chrono::milliseconds)) {
  sleep_override.store(sleep);
}

bool wait_for_sound_threads_for_testing(std::chrono::milliseconds deadline) {
  ThreadCount& count = thread_count();
  std::unique_lock lock(count.mutex);
  return count.ended.wait_for(lock, deadline, [&] { return count.alive == 0; });
}

}  // namespace sound
