// The painted button: its gradient, rim and label in each state, the Record score flash, the
// gear, and how it takes the mouse: the hover mark, no pressed look from a mouse press, and a
// click that arrives only after the current event.
#include "ui/button.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

namespace {

using ui_test::count_near;
using ui_test::pixel;

constexpr int kWidth = 150;
constexpr int kHeight = 34;
const QColor kTop(0x785014);
const QColor kBottom(0x0E0A04);
const QColor kAccent(0xE89420);
const QColor kRim(0xA86C18);
const QColor kText(0xFFF4DC);

QImage draw(const ui::ButtonLook& look, const QString& text = "Record score", int width = kWidth,
            int height = kHeight) {
  ui_test::application();
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::magenta);
  QPainter painter(&image);
  ui::draw_button(painter, image.rect(), text, look);
  return image;
}

// Row i of the gradient, read at x = 10: clear of the rounded corners and of a centred label.
QColor row(const QImage& image, int i) {
  return pixel(image, 10, i);
}

QColor gradient(const QColor& start, const QColor& end, int i) {
  return ui::blend(start, end, i * 255 / (kHeight - 1));
}

}  // namespace

TEST(button, each_state_has_its_gradient_rim_and_label) {
  const QColor back(ui::kBackground);
  const QColor hot_top = ui::blend(kTop, kAccent, 90);
  const QColor hot_bottom = ui::blend(kBottom, kAccent, 70);
  const QColor flash_start = ui::blend(kAccent, QColor(0xFFF4C8), 80);
  const QColor flash_end = ui::blend(kBottom, kAccent, 80);
  struct Case {
    const char* name;
    ui::ButtonLook look;
    QColor start, end, rim, label;
  };
  const Case cases[] = {
      {"normal", {}, kTop, kBottom, kRim, kText},
      {"hot", {.hot = true}, hot_top, hot_bottom, kAccent, kText},
      {"pressed", {.pressed = true}, kBottom, kTop, kAccent, kText},
      {"disabled",
       {.disabled = true},
       ui::blend(kTop, back, 120),
       ui::blend(kBottom, back, 120),
       kRim,
       QColor(0xA07840)},
      {"flashing", {.flash_lit = true}, flash_start, flash_end, kRim, kText},
  };
  for (const Case& k : cases) {
    const QImage image = draw(k.look);
    for (int i : {1, 9, 17, 25, 31}) {
      EXPECT_EQ(row(image, i), gradient(k.start, k.end, i)) << k.name << " row " << i;
    }
    EXPECT_EQ(pixel(image, 75, 0), k.rim) << k.name;
    EXPECT_EQ(pixel(image, 0, 17), k.rim) << k.name;
    EXPECT_EQ(pixel(image, kWidth - 2, 17), k.rim) << k.name;
    EXPECT_EQ(pixel(image, 75, kHeight - 2), k.rim) << k.name;
    EXPECT_EQ(pixel(image, 0, 0), back) << k.name << ": the surround outside the corner";
    const QRect label(20, 4, 110, 26);
    EXPECT_GT(count_near(image, label, k.label, 12), 20) << k.name;
    if (k.label != kText) {
      EXPECT_EQ(count_near(image, label, kText, 12), 0) << k.name;
    }
  }
}

TEST(button, header_buttons_sit_on_the_header_colour_and_long_labels_are_cut) {
  EXPECT_EQ(pixel(draw({.on_header = true}), 0, 0), QColor(ui::kHeader));
  // 128 characters fill the label; more change nothing.
  const QString long_text = QString(128, QChar('W'));
  EXPECT_EQ(draw({}, long_text + "MORE", 4000), draw({}, long_text, 4000));
  EXPECT_NE(draw({}, long_text.left(127) + "M", 4000), draw({}, long_text, 4000));
}

TEST(button, the_settings_button_shows_a_gear) {
  // Centre (22, 19) of a 44 x 38 button: a filled hub, a clear ring round it, the rim circle
  // nine pixels out and spokes reaching thirteen.
  const QImage image = draw({.gear = true}, {}, 44, 38);
  const auto is_label = [&](int x, int y) { return pixel(image, x, y) == kText; };
  EXPECT_TRUE(is_label(22, 19));
  EXPECT_TRUE(is_label(22, 19 - 9));
  EXPECT_TRUE(is_label(22 + 11, 19));
  EXPECT_TRUE(is_label(22, 19 + 12));
  EXPECT_FALSE(is_label(22, 19 - 6));
  EXPECT_FALSE(is_label(22 + 16, 19));
  // Pressed, the same gear one pixel right and down.
  const QImage pressed = draw({.pressed = true, .gear = true}, {}, 44, 38);
  int label_pixels = 0;
  for (int y = 2; y < 36; ++y) {
    for (int x = 2; x < 42; ++x) {
      label_pixels += is_label(x, y) ? 1 : 0;
      EXPECT_EQ(is_label(x, y), pixel(pressed, x + 1, y + 1) == kText) << x << "," << y;
    }
  }
  EXPECT_GT(label_pixels, 60);
}

TEST(button, the_record_flash_lights_on_odd_280_ms_phases_of_a_finished_run) {
  struct Case {
    bool flag;
    engine::ArcadeState state;
    uint64_t tick;
    bool lit;
  };
  const Case cases[] = {
      {true, engine::ArcadeState::GameOver, 0, false},
      {true, engine::ArcadeState::GameOver, 279, false},
      {true, engine::ArcadeState::GameOver, 280, true},
      {true, engine::ArcadeState::GameOver, 559, true},
      {true, engine::ArcadeState::GameOver, 560, false},
      {false, engine::ArcadeState::GameOver, 280, false},
      {true, engine::ArcadeState::Recorded, 280, false},
      {true, engine::ArcadeState::Playing, 280, false},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(ui::record_flash_lit(k.flag, k.state, k.tick), k.lit)
        << k.flag << " " << static_cast<int>(k.state) << " " << k.tick;
  }

  // The widget asks its sources at each paint.
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Record score", ui::kRecordScoreButtonId,
                                                16, 140, kWidth, kHeight);
  bool armed = true;
  uint64_t tick = 280;
  button->set_flash_source([&] { return armed; });
  button->set_tick_source([&] { return tick; });
  const QColor lit =
      gradient(ui::blend(kAccent, QColor(0xFFF4C8), 80), ui::blend(kBottom, kAccent, 80), 1);
  EXPECT_EQ(row(button->grab().toImage(), 1), lit);
  tick = 560;
  EXPECT_EQ(row(button->grab().toImage(), 1), gradient(kTop, kBottom, 1));
  tick = 840;
  armed = false;
  EXPECT_EQ(row(button->grab().toImage(), 1), gradient(kTop, kBottom, 1));
}

TEST(button, a_click_arrives_after_the_current_event_and_only_inside) {
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Help", 1013, 342, 140, 90, 34);
  EXPECT_TRUE(button->isVisibleTo(&parent));
  EXPECT_EQ(button->geometry(), QRect(342, 140, 90, 34));
  QSignalSpy clicks(button, &ui::PaintedButton::clicked);

  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(45, 17));
  EXPECT_TRUE(button->is_hot()) << "a press sets the hover mark";
  EXPECT_FALSE(button->look().pressed) << "the mouse never shows the pressed look";
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(45, 17));
  EXPECT_EQ(clicks.count(), 0) << "the click waits for the event loop";
  QCoreApplication::processEvents();
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.takeFirst().at(0).toInt(), 1013);

  // Pressed inside, released outside: no click, and the mark goes with the pointer.
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(45, 17));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 17));
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_FALSE(button->is_hot());

  // A button that goes before its posted click is delivered takes the click with it.
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 17));
  delete button;
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 0);
}

TEST(button, the_hover_mark_follows_the_pointer_and_clears_when_disabled) {
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Connect", 1001, 586, 22, 110, 34);
  parent.resize(800, 100);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  QSignalSpy clicks(button, &ui::PaintedButton::clicked);
  QTest::mouseMove(button, QPoint(10, 10));
  EXPECT_TRUE(button->property(ui::kHotMark).isValid());
  EXPECT_EQ(pixel(button->grab().toImage(), 55, 0), kAccent);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(button, &leave);
  EXPECT_FALSE(button->property(ui::kHotMark).isValid());

  QTest::mouseMove(button, QPoint(10, 10));
  button->setEnabled(false);
  EXPECT_FALSE(button->is_hot()) << "a disabled button gets no leave; its mark goes now";
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 17));
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 0);
  button->setEnabled(true);
  EXPECT_EQ(pixel(button->grab().toImage(), 55, 0), kRim);
}

TEST(button, space_on_a_focused_button_shows_the_pressed_look_then_clicks) {
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Close", 1307, 400, 200, 110, 36);
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << "game keys must never land on a button";
  QSignalSpy clicks(button, &ui::PaintedButton::clicked);
  QTest::keyPress(button, Qt::Key_Space);
  EXPECT_TRUE(button->look().pressed);
  QTest::keyRelease(button, Qt::Key_Space);
  EXPECT_FALSE(button->look().pressed);
  EXPECT_EQ(clicks.count(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 1);
}
