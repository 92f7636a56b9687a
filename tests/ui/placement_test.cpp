// Where the main window reopens and where companion windows open beside it. A corrupt or stale
// settings file must never put the window off every screen or make it absurdly large.
#include "ui/placement.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "arcade/ui_settings.h"
#include "tests/ui/ui_test_support.h"

namespace {

using nlohmann::json;

const QList<QRect> kTwoScreens = {QRect(0, 0, 1920, 1200), QRect(1920, 0, 2560, 1440)};

TEST(placement, saved_rectangles_are_judged_against_the_screens) {
  const struct {
    const char* name;
    json settings;
    bool accepted;
    QRect rect;
    bool maximised;
  } cases[] = {
      {"nothing saved", json::object(), false, {}, false},
      {"not an object", json::array({1, 2}), false, {}, false},
      {"only x", {{"x", 10}}, false, {}, false},
      {"short height", {{"x", 10}, {"y", 20}, {"h", 900}}, true, {10, 20, 1100, 1220}, false},
      {"tall height", {{"x", 10}, {"y", 20}, {"h", 1400}}, true, {10, 20, 1100, 1400}, false},
      {"height below 400", {{"x", 10}, {"y", 20}, {"h", 300}}, true, {10, 20, 1100, 1220}, false},
      {"absurd height", {{"x", 0}, {"y", 0}, {"h", 2000000000}}, true, {0, 0, 1100, 8192}, false},
      {"saved width ignored",
       {{"x", 2000}, {"y", 5}, {"w", 640}},
       true,
       {2000, 5, 1100, 1220},
       false},
      // A width of 80 or less is tested as 1100: this rectangle then reaches the first screen.
      {"tiny width tested as 1100",
       {{"x", -1050}, {"y", 0}, {"w", 10}},
       true,
       {-1050, 0, 1100, 1220},
       false},
      {"screen gone", {{"x", 5000}, {"y", 100}}, false, {}, false},
      {"above every screen", {{"x", 0}, {"y", -1300}, {"h", 1220}}, false, {}, false},
      {"maximised", {{"x", 1}, {"y", 2}, {"max", true}}, true, {1, 2, 1100, 1220}, true},
      {"max not a boolean", {{"x", 1}, {"y", 2}, {"max", "yes"}}, true, {1, 2, 1100, 1220}, false},
      {"x of the wrong type", {{"x", "10"}, {"y", 2}}, false, {}, false},
      {"x as a fraction", {{"x", 10.5}, {"y", 2}}, false, {}, false},
      {"h of the wrong type", {{"x", 1}, {"y", 2}, {"h", true}}, false, {}, false},
      {"x past int", {{"x", 4294967296LL}, {"y", 2}}, false, {}, false},
  };
  for (const auto& c : cases) {
    const ui::RestoredPlacement got = ui::placement_from_settings(c.settings, kTwoScreens);
    EXPECT_EQ(got.accepted, c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(got.rect, c.rect) << c.name;
      EXPECT_EQ(got.maximised, c.maximised) << c.name;
    }
  }
}

TEST(placement, companion_windows_open_beside_the_main_window) {
  const QRect work(0, 0, 2560, 1400);
  const struct {
    const char* name;
    QRect main, work;
    int width, height;
    QPoint at;
  } cases[] = {
      {"right of it", {100, 50, 1100, 1220}, work, 600, 640, {1208, 50}},
      {"no room right", {1500, 50, 1100, 1220}, work, 600, 640, {892, 50}},
      {"too tall below", {100, 900, 1100, 400}, work, 600, 640, {1208, 760}},
      {"no room either side", {100, 0, 2400, 1220}, work, 600, 640, {0, 0}},
      {"taller than the work area", {100, 50, 1100, 1220}, work, 600, 1600, {1208, 0}},
      {"second screen", {2000, 100, 1100, 1000}, {1920, 0, 2560, 1440}, 600, 640, {3108, 100}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ui::beside_main_position(c.main, c.work, c.width, c.height), c.at) << c.name;
  }
}

// A placement saved from a real window comes back on the next start, maximised flag included;
// a minimised window saves nothing.
TEST(placement, a_saved_window_reopens_where_it_was) {
  ui_test::application();
  ui_test::ScopedDataDir dir;
  arcade::load_ui_settings();
  ASSERT_TRUE(arcade::change_ui_settings([](json& doc) { doc["kept"] = "by hand"; }));
  {
    QWidget window;
    window.setGeometry(30, 40, 1100, 1300);
    window.show();
    ui::save_placement(&window);
  }
  json doc = arcade::ui_settings_copy();
  EXPECT_EQ(doc["x"], 30);
  EXPECT_EQ(doc["y"], 40);
  EXPECT_EQ(doc["h"], 1300);
  EXPECT_EQ(doc["max"], false);
  EXPECT_EQ(doc["kept"], "by hand");

  QWidget again;
  ui::restore_placement(&again);
  EXPECT_EQ(again.geometry(), QRect(30, 40, 1100, 1300));

  QWidget minimised;
  minimised.setGeometry(300, 300, 1100, 1220);
  minimised.showMinimized();
  ui::save_placement(&minimised);
  EXPECT_EQ(arcade::ui_settings_copy()["x"], 30);
}

}  // namespace
