// The help sheet: how to play, what a run costs, and how the weekly pot works. Pure paint; its
// only control is Close.
#pragma once

#include "ui/companion_window.h"

namespace ui {

inline constexpr int kHelpWidth = 760;
inline constexpr int kHelpHeight = 930;
inline constexpr int kHelpCloseId = 1201;

class HelpWindow : public CompanionWindow {
  Q_OBJECT

 public:
  HelpWindow(QWidget* owner, const AppImages* images);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage app_image_;
};

// Opens the help window owned by `main`, or brings the open one to the front.
HelpWindow* open_help_window(QWidget* main, const AppImages* images);
[[nodiscard]] HelpWindow* help_window();

}  // namespace ui
