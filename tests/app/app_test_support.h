// Shared pieces of the game's window tests: a fresh data directory attached as the game, a
// network that answers nothing (so no test waits on, or talks to, a real service), a run record
// on a clock the test drives, the message boxes answered by the test, and waiting for workers.
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_events_testing.h"
#include "app/main_window.h"
#include "arcade/ui_settings.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tests/ui/ui_test_support.h"
#include "ui/message_box_testing.h"
#include "ui/open_page_testing.h"
#include "wallet/http_test_seam.h"

namespace app_test {

// Every service at a port nobody listens on: look-ups fail at once.
inline void point_at_nothing() {
  wallet::NetworkEndpoints endpoints;
  endpoints.service_host = "svc.orbweave.test";
  endpoints.service_ip = "127.0.0.1";
  endpoints.service_port = 9;
  for (std::string* base : {&endpoints.woc_base, &endpoints.ordinals_api_base,
                            &endpoints.ordinals_content_base, &endpoints.arc_base}) {
    *base = "https://127.0.0.1:9";
  }
  endpoints.download_page = "https://127.0.0.1:9/download/ostakka";
  wallet::set_network_endpoints_for_test(endpoints);
}

// Pumps events until `done` holds or `timeout_ms` passed; answers `done`.
inline bool pump_until(const std::function<bool()>& done, int timeout_ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeout_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

// Lets every worker finish and its answer arrive.
inline void settle() {
  EXPECT_TRUE(app::wait_for_workers_for_testing(std::chrono::seconds(60)));
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

// One window of the game as a test sees it. Declared after the data directory, so the window
// goes (and saves its placement) before the folder does.
struct Game {
  ui_test::ScopedDataDir dir;
  uint64_t clock = 1000;  // the window's millisecond clock; the test moves it
  std::vector<ui::MessageRequest> asked;
  ui::MessageAnswer answer = ui::MessageAnswer::ok;
  std::vector<QString> opened;  // pages the game would open
  std::unique_ptr<app::MainWindow> window;

  explicit Game(bool network = false) {
    ui_test::application();
    static const bool curl_ready = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    EXPECT_TRUE(curl_ready);
    if (!network) point_at_nothing();
    arcade::load_ui_settings();
    korb::clear_session();
    korb::attach_app(dir.root() + "/game", "O-Stakka");
    engine::current_run() = engine::RunRecord{};
    ui::set_message_answerer_for_testing([this](const ui::MessageRequest& request) {
      asked.push_back(request);
      return answer;
    });
    ui::set_page_opener_for_testing([this](const QString& page) {
      opened.push_back(page);
      return true;
    });
    window = std::make_unique<app::MainWindow>([this] { return clock; });
    window->show();
    settle();
  }
  ~Game() {
    settle();
    window.reset();
    ui::set_message_answerer_for_testing({});
    ui::set_page_opener_for_testing({});
  }

  app::MainWindow& w() { return *window; }
  engine::RunRecord& run() { return engine::current_run(); }
  QString status() { return window->status(); }
  void click(int id) {
    QTest::mouseClick(window->button(id), Qt::LeftButton);
    QCoreApplication::processEvents();  // the click arrives after the release
  }
  void key(int qt_key, bool auto_repeat = false) {
    QKeyEvent press(QEvent::KeyPress, qt_key, Qt::NoModifier, QString(), auto_repeat);
    QApplication::sendEvent(window.get(), &press);
  }
};

}  // namespace app_test
