#include "app/companion_windows.h"

#include "app/main_window.h"

namespace app {

// The help, settings, board and report windows are not part of this build yet. Until they are,
// the buttons say so plainly instead of opening something that is not there; the board's load
// still runs and reports its result in the status line.

void open_help_window(MainWindow& main) {
  main.set_status("The help window is not in this build yet.");
}

void open_settings_window(MainWindow& main) {
  main.set_status("The settings window is not in this build yet.");
}

void open_report_window(MainWindow& main) {
  main.set_status("The report window is not in this build yet.");
}

void open_board_window(MainWindow&) {}

bool any_companion_window_open(const MainWindow&) {
  return false;
}

void release_companion_resources() {}

}  // namespace app
