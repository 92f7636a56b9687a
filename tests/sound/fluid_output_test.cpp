// The FluidSynth device: which soundfont it picks, how it fails without one or without an audio
// device, and that each short message does to the sound what a General MIDI device would.
#include "sound/fluid_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path temp_file(const std::string& name, const std::string& content) {
  const fs::path path = fs::temp_directory_path() / ("ostakka_sound_" + name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// A file named like a soundfont is not one; the order of the candidates decides among real ones.
TEST(soundfont, first_readable_soundfont_in_order) {
  const fs::path fake = temp_file("fake.sf2", "RIFF\x04\0\0\0WAVE");
  const std::string fake_path = fake.string();
  const char* with_real[] = {"/nonexistent/x.sf2", fake_path.c_str(), sound::kSoundfonts[1],
                             sound::kSoundfonts[0]};
  EXPECT_EQ(sound::find_soundfont(with_real), sound::kSoundfonts[1]);
  const char* none[] = {"/nonexistent/x.sf2", fake_path.c_str(), nullptr};
  EXPECT_EQ(sound::find_soundfont(none), "");

  sound::MidiSink sink{reinterpret_cast<void*>(1), nullptr, nullptr, nullptr};
  std::string error;
  EXPECT_FALSE(sound::open_midi_output_from(none, sink, error));
  EXPECT_EQ(sink.context, nullptr);
  EXPECT_EQ(sink.send, nullptr);
  EXPECT_FALSE(error.empty());
  fs::remove(fake);
}

// With no sound server and no ALSA device (as in CI, or a desktop whose sound is gone) opening
// fails at once with a reason, and neither FluidSynth nor ALSA writes to the terminal.
TEST(audio_device, missing_device_fails_quietly) {
  const fs::path empty_config = temp_file("empty_alsa.conf", "");
  setenv("PULSE_SERVER", "unix:/nonexistent/ostakka-pulse", 1);
  setenv("ALSA_CONFIG_PATH", empty_config.c_str(), 1);

  const fs::path captured = fs::temp_directory_path() / "ostakka_sound_stderr.txt";
  fflush(stderr);
  const int saved = dup(2);
  const int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  dup2(fd, 2);
  sound::MidiSink sink;
  std::string error;
  const bool opened = sound::open_midi_output(sink, error);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(fd);

  EXPECT_FALSE(opened);
  EXPECT_EQ(sink.send, nullptr);
  EXPECT_NE(error.find("no audio device"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(captured), 0u);
  fs::remove(captured);
  fs::remove(empty_config);
}

float peak(const std::vector<float>& left, const std::vector<float>& right) {
  float p = 0;
  for (size_t i = 0; i < left.size(); ++i)
    p = std::max({p, std::fabs(left[i]), std::fabs(right[i])});
  return p;
}

// Peak level of the last tenth of a second after the messages and `seconds` of playing.
float level_after(const std::vector<uint32_t>& messages, double seconds) {
  std::string error;
  sound::FluidOutput* output =
      sound::fluid_output_open(sound::find_soundfont(sound::kSoundfonts), false, error);
  EXPECT_NE(output, nullptr) << error;
  if (output == nullptr) return -1;
  const int rate = sound::fluid_output_sample_rate(output);
  std::vector<float> left, right;
  sound::fluid_output_send(output, sound::program_change_message(0, 80));
  sound::fluid_output_render(output, rate / 10, left, right);  // the program's samples load
  for (uint32_t m : messages) {
    if (m == 0) {
      sound::fluid_output_reset(output);
    } else {
      sound::fluid_output_send(output, m);
    }
    sound::fluid_output_render(output, rate / 10, left, right);
  }
  sound::fluid_output_render(output, static_cast<int>(rate * seconds), left, right);
  sound::fluid_output_render(output, rate / 10, left, right);
  sound::fluid_output_close(output);
  return peak(left, right);
}

// The decoding of each message, heard through the real synthesizer: which sequences leave a note
// sounding and which silence it (0 stands for the reset of the shutdown).
TEST(fluid_output, messages_start_and_stop_notes_as_a_midi_device_does) {
  const uint32_t on = sound::note_on_message(0, 69, 100);
  const float sounding = level_after({on}, 0.2);
  EXPECT_GT(sounding, 0.01f);
  struct Case {
    const char* what;
    std::vector<uint32_t> messages;
    bool sounds;
  };
  const Case cases[] = {
      {"nothing played", {}, false},
      {"note off", {on, sound::note_off_message(0, 69)}, false},
      {"note on with velocity 0", {on, sound::note_on_message(0, 69, 0)}, false},
      {"all notes off", {on, sound::all_notes_off_message(0)}, false},
      {"all notes off on another channel", {on, sound::all_notes_off_message(1)}, true},
      {"volume 0", {sound::channel_volume_message(0, 0), on}, false},
      {"reset", {on, 0}, false},
  };
  for (const Case& c : cases) {
    const float level = level_after(c.messages, 2.5);
    if (c.sounds) {
      EXPECT_GT(level, sounding / 4) << c.what;
    } else {
      EXPECT_LT(level, sounding / 50) << c.what;
    }
  }
}

}  // namespace
