// What the help, settings, board, report and replay windows share: a fixed-size top-level window
// owned by the main window (it closes with it), the app icon, Escape to close, and the painted
// pieces of the help and report sheets (the header band and the section cards).
#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

class QPainter;
class QScrollBar;

namespace ui {

struct AppImages;

class CompanionWindow : public QWidget {
  Q_OBJECT

 public:
  // A window of client size width x height titled `title`, owned by `owner` (may be null), freed
  // when it closes. `images` gives the icon when the app image loaded; it may be null.
  CompanionWindow(QWidget* owner, const QString& title, int width, int height,
                  const AppImages* images);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The session's paymail handle (its address cut before the "@"), read afresh; "" without one.
[[nodiscard]] std::string session_handle();

// Brings a window that exists to the front: shown, not minimised, active.
void raise_window(QWidget* window);

// A slim bronze scroll bar on the dark background, for the board's rows and the report's edit.
void style_scroll_bar(QScrollBar* bar);

// The header band of the help and report sheets: the band (0, 0, width, 72) in the header colour,
// the app image at (16, 8) in 56 x 56, "O-Stakka" in the heading font and "Orbweave Arcade" 18
// pixels after it in the body font.
void draw_sheet_header(QPainter& painter, int width, const QImage& app_image);

// A section card over (left, top, right, bottom) with its title and the rule under it. Its lines
// start 57 pixels below the top.
void draw_section_card(QPainter& painter, const QRect& box, const QString& title);
inline constexpr int kCardContentTop = 57;

// Lines in the body font and cream from (x, y0), each 24 pixels below the previous, up to `right`.
void draw_card_lines(QPainter& painter, int x, int y0, int right, const QStringList& lines);

// The text shortened with "..." to fit width in the font, as a one-line label with an end ellipsis.
[[nodiscard]] QString elided(const QFont& font, const QString& text, int width);

}  // namespace ui
