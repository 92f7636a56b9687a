#include "sound/fluid_output.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <mutex>

namespace sound {

struct FluidOutput {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  fluid_audio_driver_t* driver = nullptr;
};

namespace {

// Audio drivers tried in order. The PulseAudio client also reaches PipeWire's PulseAudio service,
// which is what a Debian desktop runs; plain ALSA covers a desktop without a sound server. JACK
// and SDL are left out: the first may start a server of its own, the second needs SDL set up.
constexpr const char* kAudioDrivers[] = {"pulseaudio", "alsa"};

// The last error FluidSynth logged on this thread while an output was opening.
thread_local std::string* open_errors = nullptr;

void keep_fluid_error(int level, const char* message, void*) {
  if (open_errors == nullptr || message == nullptr) return;
  if (level != FLUID_PANIC && level != FLUID_ERR) return;
  *open_errors = message;
}

void drop_alsa_message(const char*, int, const char*, int, const char*, ...) {}

// A game without a sound card must not fill the terminal: FluidSynth's log goes to the opening
// thread's error text, ALSA's library messages nowhere. Set once for the process.
void quiet_sound_libraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      fluid_set_log_function(level, keep_fluid_error, nullptr);
    }
    snd_lib_error_set_handler(drop_alsa_message);
  });
}

bool open_audio_driver(FluidOutput& output) {
  for (const char* name : kAudioDrivers) {
    if (fluid_settings_setstr(output.settings, "audio.driver", name) != FLUID_OK) continue;
    output.driver = new_fluid_audio_driver(output.settings, output.synth);
    if (output.driver != nullptr) return true;
  }
  return false;
}

void sink_send(void* context, uint32_t message) {
  fluid_output_send(static_cast<FluidOutput*>(context), message);
}
void sink_reset(void* context) {
  fluid_output_reset(static_cast<FluidOutput*>(context));
}
void sink_close(void* context) {
  fluid_output_close(static_cast<FluidOutput*>(context));
}

}  // namespace

std::string find_soundfont(std::span<const char* const> candidates) {
  for (const char* path : candidates) {
    if (path != nullptr && fluid_is_soundfont(path)) return path;
  }
  return {};
}

FluidOutput* fluid_output_open(const std::string& soundfont, bool audio_device,
                               std::string& error) {
  quiet_sound_libraries();
  std::string logged;
  open_errors = &logged;
  auto* output = new FluidOutput;
  auto fail = [&](const std::string& what) -> FluidOutput* {
    open_errors = nullptr;
    error = logged.empty() ? what : what + ": " + logged;
    fluid_output_close(output);
    return nullptr;
  };

  output->settings = new_fluid_settings();
  if (output->settings == nullptr) return fail("no synthesizer settings");
  // Samples load when a program is chosen, not all at once: the game uses three instruments of
  // a soundfont that holds 140 MB of them.
  fluid_settings_setint(output->settings, "synth.dynamic-sample-loading", 1);
  // FluidSynth's own gain, set here so it stays put: at the default volumes the loudest effect
  // over the tune still peaks below full scale.
  fluid_settings_setnum(output->settings, "synth.gain", 0.2);
  fluid_settings_setstr(output->settings, "audio.pulseaudio.media-role", "game");
  output->synth = new_fluid_synth(output->settings);
  if (output->synth == nullptr) return fail("no synthesizer");
  // The device comes first: without one there is no point reading the soundfont.
  if (audio_device && !open_audio_driver(*output)) return fail("no audio device");
  if (fluid_synth_sfload(output->synth, soundfont.c_str(), 1) == FLUID_FAILED) {
    return fail("soundfont " + soundfont + " could not be loaded");
  }
  open_errors = nullptr;
  return output;
}

void fluid_output_send(FluidOutput* output, uint32_t message) {
  if (output == nullptr || output->synth == nullptr) return;
  const int status = static_cast<int>(message & 0xFF);
  const int data1 = static_cast<int>((message >> 8) & 0x7F);
  const int data2 = static_cast<int>((message >> 16) & 0x7F);
  const int channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x90:  // FluidSynth, like a device, takes velocity 0 as a note off
      fluid_synth_noteon(output->synth, channel, data1, data2);
      break;
    case 0x80:
      fluid_synth_noteoff(output->synth, channel, data1);
      break;
    case 0xC0:
      fluid_synth_program_change(output->synth, channel, data1);
      break;
    case 0xB0:
      if (data1 == 123) {
        fluid_synth_all_notes_off(output->synth, channel);
      } else {
        fluid_synth_cc(output->synth, channel, data1, data2);
      }
      break;
    default:
      break;
  }
}

void fluid_output_reset(FluidOutput* output) {
  if (output != nullptr && output->synth != nullptr) fluid_synth_all_sounds_off(output->synth, -1);
}

void fluid_output_close(FluidOutput* output) {
  if (output == nullptr) return;
  // The driver first: it stops the thread that pulls samples from the synthesizer.
  if (output->driver != nullptr) delete_fluid_audio_driver(output->driver);
  if (output->synth != nullptr) delete_fluid_synth(output->synth);
  if (output->settings != nullptr) delete_fluid_settings(output->settings);
  delete output;
}

void fluid_output_render(FluidOutput* output, int frames, std::vector<float>& left,
                         std::vector<float>& right) {
  left.assign(frames > 0 ? frames : 0, 0.0f);
  right.assign(left.size(), 0.0f);
  if (output == nullptr || output->synth == nullptr || output->driver != nullptr || frames <= 0) {
    return;
  }
  fluid_synth_write_float(output->synth, frames, left.data(), 0, 1, right.data(), 0, 1);
}

int fluid_output_sample_rate(FluidOutput* output) {
  double rate = 0;
  if (output == nullptr ||
      fluid_settings_getnum(output->settings, "synth.sample-rate", &rate) != FLUID_OK) {
    return 0;
  }
  return static_cast<int>(rate);
}

MidiSink fluid_output_sink(FluidOutput* output) {
  return MidiSink{output, sink_send, sink_reset, sink_close};
}

bool open_midi_output_from(std::span<const char* const> candidates, MidiSink& sink,
                           std::string& error) {
  sink = MidiSink{};
  const std::string soundfont = find_soundfont(candidates);
  if (soundfont.empty()) {
    error = "no General MIDI soundfont";
    return false;
  }
  FluidOutput* output = fluid_output_open(soundfont, true, error);
  if (output == nullptr) return false;
  sink = fluid_output_sink(output);
  return true;
}

bool open_midi_output(MidiSink& sink, std::string& error) {
  return open_midi_output_from(kSoundfonts, sink, error);
}

}  // namespace sound
