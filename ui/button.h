// The painted buttons of every window: a rounded gradient with a bronze rim, an amber rim and a
// warmer gradient while the pointer is over it, and the Record score flash after a game over.
//
// A press is taken by the button itself and never shows the pressed look; the click goes out as
// a queued signal after the release, so the handler runs after the current event, never inside
// the mouse handling. The pressed look is the keyboard's: Space held on a focused button.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "engine/run.h"
#include "ui/tick_clock.h"

class QPainter;

namespace ui {

inline constexpr int kSettingsButtonId = 1015;  // shows the gear instead of a text
inline constexpr int kRecordScoreButtonId = 1006;

// The name of the hover mark, a dynamic property present while the pointer is over the button
// or the left button went down on it.
inline constexpr char kHotMark[] = "oa.hot";

struct ButtonLook {
  bool hot = false;
  bool pressed = false;
  bool disabled = false;
  bool flash_lit = false;  // the Record score flash in its lit phase
  bool gear = false;       // the settings button's icon instead of the text
  bool on_header = false;  // the surround is the header band's colour instead of the background
};

// The Record score button is lit while its flash flag is set, the run is over and
// (tick / 280) is odd.
[[nodiscard]] bool record_flash_lit(bool record_flash, engine::ArcadeState state, uint64_t tick);

// Paints one button over rect with the button font; at most the first 128 characters of text.
void draw_button(QPainter& painter, const QRect& rect, const QString& text, const ButtonLook& look);

class PaintedButton : public QWidget {
  Q_OBJECT

 public:
  PaintedButton(QWidget* parent, const QString& text, int id);

  [[nodiscard]] int id() const { return id_; }
  [[nodiscard]] QString text() const { return text_; }
  void set_text(const QString& text);

  // Main window buttons: paint the surround in the header colour while the button's top edge
  // lies above the header band's bottom.
  void set_header_band(bool on) { header_band_ = on; }

  // The Record score button: asked at each paint whether the flash is armed (flag set and the
  // run over); the tick source picks the phase. Either may be left empty.
  void set_flash_source(std::function<bool()> armed) { flash_armed_ = std::move(armed); }
  void set_tick_source(TickSource ticks) { ticks_ = std::move(ticks); }

  [[nodiscard]] bool is_hot() const;
  [[nodiscard]] ButtonLook look() const;

 signals:
  // Posted after the release that completes a click; handlers run after the current event.
  void clicked(int id);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void set_hot(bool hot);
  void post_click();

  int id_;
  QString text_;
  bool header_band_ = false;
  bool key_pressed_ = false;
  std::function<bool()> flash_armed_;
  TickSource ticks_;
};

// A visible painted button at (x, y, width, height) in parent. The settings button (id 1015)
// gets the gear. Buttons take no keyboard focus unless the caller allows it, so arrow keys and
// Space always reach the game.
PaintedButton* create_button(QWidget* parent, const QString& text, int id, int x, int y, int width,
                             int height);

}  // namespace ui
