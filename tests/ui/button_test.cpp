// The painted button: gradient, rim and label in each state, the Record score flash, the gear,
// and how it takes the mouse: the hover mark, no pressed look from a mouse press, and a click
// that arrives only after the current event.
#include "ui/button.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/palette.h"

namespace {

using ui_test::count_near;
using ui_test::rgb;

constexpr QRgb kTop = 0x785014, kBottom = 0x0E0A04, kAccent = 0xE89420, kRim = 0xA86C18,
               kText = 0xFFF4DC, kDisabledText = 0xA07840;

QImage draw(const ui::ButtonLook& look, const QString& text = "Record score",
            QSize size = {150, 34}) {
  ui_test::application();
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  ui::draw_button(painter, image.rect(), text, look);
  return image;
}

QRgb blend(QRgb a, QRgb b, int t) {
  return ui::blend(QColor(a), QColor(b), t).rgb() & 0xFFFFFF;
}

// Row i of a 34-pixel gradient, read at x = 10: clear of the rounded corners and of the label.
QRgb row(const QImage& image, int i) {
  return rgb(image, 10, i);
}

}  // namespace

TEST(button, each_state_has_its_gradient_rim_and_label) {
  const QRgb back = ui::kBackground;
  const struct {
    const char* name;
    ui::ButtonLook look;
    QRgb start, end, rim, label;
  } cases[] = {
      {"normal", {}, kTop, kBottom, kRim, kText},
      {"hot", {.hot = true}, blend(kTop, kAccent, 90), blend(kBottom, kAccent, 70), kAccent, kText},
      {"pressed", {.pressed = true}, kBottom, kTop, kAccent, kText},
      {"disabled",
       {.disabled = true},
       blend(kTop, back, 120),
       blend(kBottom, back, 120),
       kRim,
       kDisabledText},
      {"flashing",
       {.flash_lit = true},
       blend(kAccent, 0xFFF4C8, 80),
       blend(kBottom, kAccent, 80),
       kRim,
       kText},
  };
  for (const auto& k : cases) {
    const QImage image = draw(k.look);
    for (int i : {1, 9, 17, 25, 31})
      EXPECT_EQ(row(image, i), blend(k.start, k.end, i * 255 / 33)) << k.name << i;
    // The rim runs along row 0 and 32 and columns 0 and 148: R less one pixel right and below.
    for (QPoint p : {QPoint(75, 0), QPoint(75, 32), QPoint(0, 17), QPoint(148, 17)}) {
      EXPECT_EQ(rgb(image, p.x(), p.y()), k.rim) << k.name;
    }
    EXPECT_EQ(rgb(image, 0, 0), back) << k.name << ": the surround outside the corner";
    EXPECT_GT(count_near(image, QRect(20, 4, 110, 26), k.label, 12), 20) << k.name;
    EXPECT_EQ(count_near(image, QRect(20, 4, 110, 26), kText, 12) > 0, k.label == kText) << k.name;
  }
  EXPECT_EQ(rgb(draw({.on_header = true}), 0, 0), ui::kHeader);
  const QString long_text(128, QChar('W'));
  EXPECT_EQ(draw({}, long_text + "MORE", {4000, 34}), draw({}, long_text, {4000, 34}))
      << "128 characters at most";
}

TEST(button, the_settings_button_shows_a_gear_that_moves_when_pressed) {
  // Centre (22, 19) of 44 x 38: a filled hub, a clear ring round it, the circle nine pixels out
  // and spokes reaching thirteen.
  const QImage image = draw({.gear = true}, {}, {44, 38});
  const auto label = [](const QImage& i, int x, int y) { return rgb(i, x, y) == kText; };
  EXPECT_TRUE(label(image, 22, 19) && label(image, 22, 10) && label(image, 33, 19) &&
              label(image, 22, 31));
  EXPECT_FALSE(label(image, 22, 13) || label(image, 38, 19));
  const QImage pressed = draw({.pressed = true, .gear = true}, {}, {44, 38});
  for (int y = 2; y < 36; ++y) {
    for (int x = 2; x < 42; ++x)
      EXPECT_EQ(label(image, x, y), label(pressed, x + 1, y + 1)) << x << "," << y;
  }
}

TEST(button, the_record_flash_lights_on_odd_280_ms_phases_of_a_finished_run) {
  using engine::ArcadeState;
  EXPECT_FALSE(ui::record_flash_lit(true, ArcadeState::GameOver, 279));
  EXPECT_TRUE(ui::record_flash_lit(true, ArcadeState::GameOver, 280));
  EXPECT_TRUE(ui::record_flash_lit(true, ArcadeState::GameOver, 559));
  EXPECT_FALSE(ui::record_flash_lit(true, ArcadeState::GameOver, 560));
  EXPECT_FALSE(ui::record_flash_lit(false, ArcadeState::GameOver, 280));
  EXPECT_FALSE(ui::record_flash_lit(true, ArcadeState::Recorded, 280));

  // The widget asks its sources at every paint.
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Record score", 1006, 16, 140, 150, 34);
  bool armed = true;
  uint64_t tick = 280;
  button->set_flash_source([&] { return armed; });
  button->set_tick_source([&] { return tick; });
  EXPECT_EQ(row(button->grab().toImage(), 1),
            blend(blend(kAccent, 0xFFF4C8, 80), blend(kBottom, kAccent, 80), 7));
  armed = false;
  EXPECT_EQ(row(button->grab().toImage(), 1), blend(kTop, kBottom, 7));
}

TEST(button, clicks_arrive_after_the_current_event_and_the_hover_mark_follows_the_pointer) {
  ui_test::application();
  QWidget parent;
  ui::PaintedButton* button = ui::create_button(&parent, "Help", 1013, 342, 140, 90, 34);
  parent.resize(800, 200);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  EXPECT_EQ(button->geometry(), QRect(342, 140, 90, 34));
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << "game keys must never land on a button";
  QSignalSpy clicks(button, &ui::PaintedButton::clicked);

  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(45, 17));
  EXPECT_TRUE(button->is_hot());
  EXPECT_FALSE(button->look().pressed) << "the mouse never shows the pressed look";
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(45, 17));
  EXPECT_EQ(clicks.count(), 0) << "the click waits for the event loop";
  QCoreApplication::processEvents();
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.takeFirst().at(0).toInt(), 1013);

  // Released outside: no click, and the mark goes with the pointer.
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(45, 17));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 17));
  // Space, once a window lets the button take focus: the pressed look, then a click.
  QTest::keyPress(button, Qt::Key_Space);
  EXPECT_TRUE(button->look().pressed);
  QTest::keyRelease(button, Qt::Key_Space);
  EXPECT_FALSE(button->look().pressed);
  QCoreApplication::processEvents();
  EXPECT_FALSE(button->is_hot());
  EXPECT_EQ(clicks.count(), 1);

  // The hover mark follows the pointer; a disabled button gets no leave, so its mark goes when
  // it is disabled, and it takes no click.
  QTest::mouseMove(button, QPoint(10, 10));
  EXPECT_EQ(rgb(button->grab().toImage(), 45, 0), kAccent);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(button, &leave);
  EXPECT_FALSE(button->property(ui::kHotMark).isValid());
  QTest::mouseMove(button, QPoint(12, 10));
  button->setEnabled(false);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 17));
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 1);
  button->setEnabled(true);
  EXPECT_EQ(rgb(button->grab().toImage(), 45, 0), kRim);

  // A button destroyed before its posted click is delivered takes the click with it.
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(45, 17));
  delete button;
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks.count(), 1);
}
