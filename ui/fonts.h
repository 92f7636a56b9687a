// The eight fonts every window of the game draws with. Each names its preferred face first and
// then the faces a Debian desktop has, so the look is the same whether or not the first is there.
#pragma once

#include <QFont>

namespace ui {

// Heights are cell heights in pixels: ascent plus descent of the face that resolved.
struct UiFonts {
  QFont button;   // 18 px, every painted button
  QFont small;    // 16 px, subtitle, status lines, panel footnotes
  QFont title;    // 28 px bold serif, title line, "NEXT BLOCK", the overlays
  QFont stats;    // 22 px semi-bold monospace, the counters
  QFont body;     // 18 px, body text of the help and report windows
  QFont heading;  // 32 px bold serif, headings of the help and report windows
  QFont banner;   // 72 px black, "GAME OVER"
  QFont large;    // 40 px bold, the game-over score and prompt
};

// Made on the first call and kept for the life of the process, so no paint builds a font. Call
// it on the window thread once the application object exists.
[[nodiscard]] const UiFonts& ui_fonts();

}  // namespace ui
