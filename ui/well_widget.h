// The well as a child widget: paints every pixel from a view its owner supplies at each paint.
#pragma once

#include <QWidget>
#include <functional>

#include "ui/well_painter.h"

namespace ui {

class WellWidget : public QWidget {
  Q_OBJECT

 public:
  // Called once per paint on the window thread. The view's game must stay alive until the call
  // returns; the main window hands in the player's run, a replay viewer its own game.
  using ViewSource = std::function<WellView()>;

  explicit WellWidget(ViewSource source, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ViewSource source_;
};

}  // namespace ui
