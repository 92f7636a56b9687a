// The settings window: each switch click shows its new caption, is heard at once (music off sends
// All Notes Off), and is saved; every slider step changes the loudness and rewrites the file.
#include "ui/settings_window.h"

#include <gtest/gtest.h>

#include <QSlider>
#include <QTest>
#include <fstream>

#include <nlohmann/json.hpp>

#include "arcade/ui_settings.h"
#include "sound/recording_output.h"
#include "sound/sound_settings.h"
#include "tests/ui/ui_test_support.h"
#include "ui/button.h"

namespace {

nlohmann::json saved() {
  std::ifstream in(arcade::ui_settings_path());
  return nlohmann::json::parse(in, nullptr, false);
}

void click(ui::PaintedButton* button) {
  QTest::mouseClick(button, Qt::LeftButton);
  QCoreApplication::processEvents();  // the click arrives queued
}

class SettingsWindowTest : public sound_test::SoundTest {
 protected:
  void SetUp() override {
    ui_test::application();
    SoundTest::SetUp();
    sound_test::install_recording_output();
  }
  ui_test::ScopedDataDir data_;
};

}  // namespace

TEST_F(SettingsWindowTest, switches_flip_their_captions_sound_and_file) {
  ui::SettingsWindow window(nullptr, nullptr);
  EXPECT_EQ(window.music_button()->text(), "Music  On");
  EXPECT_EQ(window.sound_button()->text(), "Sound  On");
  EXPECT_EQ(window.music_slider()->value(), sound::kDefaultMusicVolume);

  click(window.music_button());
  EXPECT_EQ(window.music_button()->text(), "Music  Off");
  EXPECT_FALSE(sound::sound_settings().music.load());
  EXPECT_EQ(saved().value("music", true), false);
  const sound_test::Log off = sound_test::recorded();
  for (int channel : {0, 1, 2}) {
    EXPECT_EQ(sound_test::count(off, "silence " + std::to_string(channel)), 1) << channel;
  }
  click(window.music_button());
  EXPECT_EQ(window.music_button()->text(), "Music  On");
  EXPECT_EQ(saved().value("music", false), true);
  EXPECT_EQ(sound_test::recorded(), off) << "turning music on sends nothing itself";

  click(window.sound_button());
  EXPECT_EQ(window.sound_button()->text(), "Sound  Off");
  EXPECT_EQ(saved().value("sfx", true), false);
  // A caption refresh from elsewhere (the main window) reads the live values.
  sound::sound_settings().sfx = true;
  ui::open_settings_window(nullptr, nullptr);
  ui::refresh_sound_captions();
  EXPECT_EQ(ui::settings_window()->sound_button()->text(), "Sound  On");
  ui::settings_window()->close();
}

TEST_F(SettingsWindowTest, every_slider_step_is_heard_and_saved) {
  ui::SettingsWindow window(nullptr, nullptr);
  for (int value : {33, 0, 100}) {
    window.music_slider()->setValue(value);
    EXPECT_EQ(saved().value("music_vol", -1), value);
    const sound_test::Log log = sound_test::recorded();
    const std::string level = std::to_string(sound::volume_value(value));
    EXPECT_TRUE(sound_test::contains_run(log, {"vol 0 " + level, "vol 2 " + level})) << value;
  }
  const size_t before = sound_test::recorded().size();
  QTest::keyClick(window.sound_slider(), Qt::Key_PageDown);
  EXPECT_EQ(saved().value("sfx_vol", -1), sound::kDefaultSfxVolume - 10);
  EXPECT_EQ(sound::sound_settings().sfx_vol.load(), sound::kDefaultSfxVolume - 10);
  EXPECT_EQ(sound_test::recorded().size(), before) << "effects take their volume when they play";
}
