#include "app/startup.h"

#include <curl/curl.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/app_events.h"
#include "app/main_window.h"
#include "arcade/ui_settings.h"
#include "korb/platform.h"
#include "korb/registry.h"
#include "ui/placement.h"
#include "ui/single_instance.h"
#include "wallet/ow_korb_wallet.h"

namespace app {

void status_hook(const std::string& line) {
  if (line.empty()) return;
  (void)post_app_event(AppMessage::status, 0, make_payload(std::string(line)));
}

StartOutcome start_game(RunningGame& game, const StartOptions& options) {
  // Relative paths (the key files in "userinfo") are found beside the executable.
  const std::string folder = korb::platform::executable_dir();
  if (chdir(folder.c_str()) != 0) std::perror("ostakka: working directory");

  game.server = std::make_unique<ui::SingleInstanceServer>();
  switch (ui::claim_single_instance(*game.server, kInstanceName)) {
    case ui::InstanceClaim::raised_running:
      return StartOutcome::exit_ok;
    case ui::InstanceClaim::unclaimed:
      std::fputs("ostakka: could not claim the single-instance name; another copy may open\n",
                 stderr);
      break;
    case ui::InstanceClaim::claimed:
      break;
  }

  arcade::load_ui_settings();
  korb::attach_app(folder, "O-Stakka");
  // Once per process, before any thread can make a request.
  curl_global_init(CURL_GLOBAL_ALL);
  wallet::set_text_sink(status_hook);

  game.window = std::make_unique<MainWindow>();
  QObject::connect(game.server.get(), &ui::SingleInstanceServer::raise_requested, game.window.get(),
                   &MainWindow::bring_to_front);
  ui::restore_placement(game.window.get());
  (void)sound::start_music(options.open_sound);
  const nlohmann::json settings = arcade::ui_settings_copy();
  const auto max = settings.is_object() ? settings.find("max") : settings.end();
  if (max != settings.end() && max->is_boolean() && max->get<bool>()) {
    game.window->showMaximized();
  } else {
    game.window->show();
  }
  return StartOutcome::run;
}

int run_game(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("O-Stakka");
  QApplication::setOrganizationName("Orbweave");
  QGuiApplication::setDesktopFileName(kDesktopFileName);

  RunningGame game;
  if (start_game(game) == StartOutcome::exit_ok) return 0;
  const int code = QApplication::exec();
  wallet::set_text_sink(nullptr);
  game.window.reset();
  game.server.reset();
  if (running_workers() > 0) {
    // A worker still out may be inside libcurl or the wallet code: neither libcurl nor the
    // process's static state is torn down under it. The system reclaims everything.
    std::fflush(nullptr);
    std::_Exit(code);
  }
  curl_global_cleanup();
  return code;
}

}  // namespace app
