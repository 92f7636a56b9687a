// The settings document: which stored sound values are taken, and that saving keeps every key,
// writes a private file, and never lets a reader see a half-made change.
#include "arcade/ui_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "korb/atomic_file.h"
#include "sound/sound_settings.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class UiSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ostakka-ui-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("LOCALAPPDATA", dir_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Loads `text` as the file, the sound values back at their defaults first.
  static void load(const std::string& text) {
    sound::SoundSettings& s = sound::sound_settings();
    s.music = sound::kDefaultMusic;
    s.sfx = sound::kDefaultSfx;
    s.music_vol = sound::kDefaultMusicVolume;
    s.sfx_vol = sound::kDefaultSfxVolume;
    std::ofstream(arcade::ui_settings_path()) << text;
    arcade::load_ui_settings();
  }

  std::string dir_;
};

TEST_F(UiSettings, load_takes_only_valid_sound_values) {
  // Only the low 32 bits of a volume are read.
  const std::pair<json, int32_t> volumes[] = {{0, 0},     {100, 100},           {101, 70},
                                              {-1, 70},   {50.5, 70},           {"50", 70},
                                              {true, 70}, {4294967296 + 40, 40}};
  for (const auto& [volume, taken] : volumes) {
    load(json{{"music_vol", volume}, {"music", false}, {"sfx", 1}}.dump());
    EXPECT_EQ(sound::sound_settings().music_vol.load(), taken) << volume.dump();
    EXPECT_FALSE(sound::sound_settings().music.load());
    EXPECT_TRUE(sound::sound_settings().sfx.load());
  }
  for (const char* text : {"[1,2]", "{\"music\": ", "", "7"}) {
    load(text);
    EXPECT_EQ(arcade::ui_settings_copy(), json::object()) << text;
  }
}

TEST_F(UiSettings, save_keeps_every_key_in_a_private_file) {
  load(R"({"by_hand": [1], "music": false, "w": 900, "week_scores": []})");
  sound::sound_settings().sfx_vol = 12;
  ASSERT_TRUE(arcade::change_ui_settings([](json& doc) { doc["x"] = 40; }));
  std::string text;
  ASSERT_TRUE(korb::read_file_capped(arcade::ui_settings_path(), text));
  EXPECT_EQ(text,
            "{\n  \"by_hand\": [\n    1\n  ],\n  \"music\": false,\n  \"music_vol\": 70,\n"
            "  \"sfx\": true,\n  \"sfx_vol\": 12,\n  \"w\": 900,\n  \"week_scores\": [],\n"
            "  \"x\": 40\n}");
  struct stat info {};
  ASSERT_EQ(stat(arcade::ui_settings_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// The board worker reads while the window thread changes the document: every copy and every
// file on disk holds whole changes only. Each change takes a while, so a reader that does not
// wait for it would meet one half made.
TEST_F(UiSettings, readers_never_see_half_a_change) {
  load("{}");
  std::atomic<bool> done{false};
  std::thread writer([&done] {
    for (int i = 0; i < 100; ++i) {
      (void)arcade::change_ui_settings([i](json& doc) {
        doc["a"] = i;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        doc["b"] = i;
      });
    }
    done = true;
  });
  for (int reads = 0; !done || reads == 0; ++reads) {
    const json copy = arcade::ui_settings_copy();
    EXPECT_EQ(copy.value("a", -1), copy.value("b", -1));
    const json file = korb::read_json_file(arcade::ui_settings_path());
    if (file.is_object()) {
      EXPECT_EQ(file.value("a", -1), file.value("b", -1));
    }
  }
  writer.join();
  EXPECT_EQ(korb::read_json_file(arcade::ui_settings_path())["a"], 99);
}

}  // namespace
