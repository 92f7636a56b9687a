// Where the main window's window buttons lead: the help, settings and report windows, and the
// weekly board window once a board load has answered. Each opener takes the main window, whose
// public members (busy flag, status line, payment worker, board result, app images) are what a
// companion window works with. The main window pauses a running run before it calls an opener.
#pragma once

namespace app {

class MainWindow;

void open_help_window(MainWindow& main);
void open_settings_window(MainWindow& main);
void open_report_window(MainWindow& main);
// Called after a board load's result has been stored in main.board().
void open_board_window(MainWindow& main);

// True while a companion window exists: the game timer then leaves the keyboard focus where the
// player put it.
[[nodiscard]] bool any_companion_window_open(const MainWindow& main);

// The main window's end: drops what the companion windows keep beyond their own life.
void release_companion_resources();

}  // namespace app
