// Where the main window opens and where the board and report windows open beside it. The main
// window's last place is kept in the settings document ("x", "y", "w", "h", "max"), in client
// coordinates: the window manager owns the frame.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <nlohmann/json.hpp>

class QWidget;

namespace ui {

// The main window's size at creation and the smallest it may be made.
inline constexpr int kMainWidth = 1100;
inline constexpr int kMainHeight = 1220;
inline constexpr int kMainMinWidth = 1000;
inline constexpr int kMainMinHeight = 980;
// A saved height beyond this is damage, not a window anyone had: a larger one would ask for
// hundreds of megabytes of window memory.
inline constexpr int kLargestRestoredHeight = 8192;

// What the saved placement says, judged against the screens' geometries.
struct RestoredPlacement {
  bool accepted = false;  // false: the default position and 1100 x 1220
  QRect rect;             // the client rectangle when accepted (always 1100 wide)
  bool maximised = false;
};

// A saved position is accepted when x and y are there and the saved rectangle touches a screen;
// the width is always 1100, the height the saved one when it is at least 400 (and never below
// 1220). A value of the wrong type falls back to the default; a "max" that is not a boolean
// counts as false.
[[nodiscard]] RestoredPlacement placement_from_settings(const nlohmann::json& settings,
                                                        const QList<QRect>& screens);

// Right of the main window's rectangle `main` with an 8-pixel gap, or left of it when that would
// pass the work area's right edge; level with its top, or pulled up to end at the work area's
// bottom; never left of or above the work area.
[[nodiscard]] QPoint beside_main_position(const QRect& main, const QRect& work_area, int width,
                                          int height);

// Saves the window's normal rectangle and whether it is maximised. Nothing when the window is
// gone, minimised or smaller than 80 pixels either way.
void save_placement(QWidget* main);

// Moves and sizes the just-made main window as the settings document says, and maximises it when
// it was; otherwise gives it the default size where the window system puts it.
void restore_placement(QWidget* main);

// Moves and sizes `window` (client width x height) beside `main` on the work area of the screen
// nearest to it.
void place_beside_main(QWidget* window, const QWidget* main, int width, int height);

}  // namespace ui
