#include "ui/help_window.h"

#include <QPainter>
#include <QPointer>
#include <array>

#include "ui/app_image.h"
#include "ui/button.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/well_painter.h"

namespace ui {
namespace {

QPointer<HelpWindow>& open_help() {
  static QPointer<HelpWindow> window;
  return window;
}

struct KeyRow {
  const char* cap;
  const char* description;
};

constexpr std::array<KeyRow, 6> kKeyRows = {{
    {"Left  /  Right", "move the piece"},
    {"Up  /  X", "rotate clockwise"},
    {"Z", "rotate the other way"},
    {"Down", "soft drop"},
    {"Space", "fast drop"},
    {"P", "pause"},
}};

const QStringList& run_lines() {
  static const QStringList lines = {
      "Connect Korb, then Play.",
      "Enter is 5,000 sats in one prompt.",
      "2,000 to the house.  3,000 to this week's pot.",
      "One life. No continues.",
      "After the game, Record score writes the result on-chain (1 sat).",
  };
  return lines;
}

const QStringList& pot_lines() {
  static const QStringList lines = {
      "Every game feeds the pot.",
      "Record score posts a signed row on the arcade watch.",
      "Every cabinet reads that, not a local list.",
      "ARC pays the top three each UTC week (50 / 30 / 20).",
      "Fewer than three: 60 / 40, or 100% if only one.",
      "Korb balance is your wallet.",
      "Current weekly pot is the prize pool, not yours until a payout.",
  };
  return lines;
}

}  // namespace

HelpWindow::HelpWindow(QWidget* owner, const AppImages* images)
    : CompanionWindow(owner, QStringLiteral("O-Stakka - Help"), kHelpWidth, kHelpHeight, images) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (images != nullptr) app_image_ = images->image;
  PaintedButton* close =
      create_button(this, QStringLiteral("Close"), kHelpCloseId, 584, 836, 120, 36);
  connect(close, &PaintedButton::clicked, this, &QWidget::close);
}

void HelpWindow::paintEvent(QPaintEvent*) {
  const int w = width();
  QPainter painter(this);
  painter.fillRect(rect(), QColor(kBackground));
  draw_sheet_header(painter, w, app_image_);

  const QRect controls = ltrb(24, 88, w - 24, 348);
  draw_section_card(painter, controls, QStringLiteral("Controls"));
  const int l = controls.left();
  const int r = controls.right() + 1;
  const QColor cap_edge = blend(QColor(kBronze), QColor(kOrange), 40);
  painter.setFont(ui_fonts().body);
  for (size_t k = 0; k < kKeyRows.size(); ++k) {
    const int y = controls.top() + kCardContentTop + 32 * static_cast<int>(k);
    const QRect cap = ltrb(l + 20, y, l + 170, y + 26);
    painter.fillRect(cap, QColor(0x241A0A));
    draw_bevel(painter, cap, cap_edge, QColor(0x0E0A04));
    draw_line(painter, cap, Qt::AlignCenter, QColor(kCream), kKeyRows[k].cap);
    draw_line(painter, ltrb(l + 186, y, r - 20, y + 26), Qt::AlignLeft | Qt::AlignVCenter,
              QColor(kCream), kKeyRows[k].description);
  }

  const QRect run = ltrb(24, 364, w - 24, 556);
  draw_section_card(painter, run, QStringLiteral("The run"));
  draw_card_lines(painter, 44, run.top() + kCardContentTop, w - 44, run_lines());
  const QRect pot = ltrb(24, 572, w - 24, 820);
  draw_section_card(painter, pot, QStringLiteral("The weekly pot"));
  draw_card_lines(painter, 44, pot.top() + kCardContentTop, w - 44, pot_lines());
}

HelpWindow* open_help_window(QWidget* main, const AppImages* images) {
  QPointer<HelpWindow>& slot = open_help();
  if (!slot) slot = new HelpWindow(main, images);
  raise_window(slot);
  return slot;
}

HelpWindow* help_window() {
  return open_help();
}

}  // namespace ui
