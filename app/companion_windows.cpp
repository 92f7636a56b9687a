#include "app/companion_windows.h"

#include "app/main_window.h"
#include "arcade/identity.h"
#include "ui/avatar.h"
#include "ui/board_window.h"
#include "ui/help_window.h"
#include "ui/replay_window.h"
#include "ui/report_window.h"
#include "ui/settings_window.h"

namespace app {

void open_help_window(MainWindow& main) {
  (void)ui::open_help_window(&main, &main.app_images());
}

void open_settings_window(MainWindow& main) {
  (void)ui::open_settings_window(&main, &main.app_images());
}

void open_report_window(MainWindow& main) {
  // The report window is owned by the main window and goes with it, so these never outlive it.
  ui::ReportHost host;
  host.busy = [&main] { return main.busy(); };
  host.set_busy = [&main](bool busy) { main.set_busy(busy); };
  host.set_status = [&main](const QString& text) { main.set_status(text); };
  host.start_worker = [&main](std::string payload) {
    return main.start_payment_worker(arcade::PaymentKind::report, std::move(payload));
  };
  (void)ui::open_report_window(&main, std::move(host), &main.app_images());
}

void open_board_window(MainWindow& main) {
  // The board worker has finished with the avatar bytes by the time its result arrives.
  ui::build_avatar_bitmaps(arcade::avatar_bytes());
  (void)ui::open_board_window(&main, main.board(), ui::own_board_name(), &main.app_images());
}

bool any_companion_window_open(const MainWindow&) {
  return ui::help_window() != nullptr || ui::settings_window() != nullptr ||
         ui::board_window() != nullptr || ui::report_window() != nullptr ||
         ui::any_replay_window_open();
}

void release_companion_resources() {
  ui::release_avatar_bitmaps();
}

}  // namespace app
