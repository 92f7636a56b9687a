#include "app/app_events.h"

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/app_events_testing.h"

namespace app {
namespace {

struct Target {
  std::mutex mutex;
  QObject* object = nullptr;
};

Target& target() {
  static Target* t = new Target;
  return *t;
}

struct Workers {
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
  std::atomic<bool> fail_start{false};
};

Workers& workers() {
  static Workers* w = new Workers;
  return *w;
}

}  // namespace

QEvent::Type app_event_type(AppMessage message) {
  return static_cast<QEvent::Type>(QEvent::User + static_cast<int>(message));
}

AppEvent::AppEvent(AppMessage message, int64_t wparam, std::unique_ptr<AppPayload> payload)
    : QEvent(app_event_type(message)),
      message_(message),
      wparam_(wparam),
      payload_(std::move(payload)) {}

void set_app_event_target(QObject* object) {
  Target& t = target();
  std::lock_guard lock(t.mutex);
  t.object = object;
}

bool post_app_event(AppMessage message, int64_t wparam, std::unique_ptr<AppPayload> payload) {
  Target& t = target();
  std::lock_guard lock(t.mutex);
  if (t.object == nullptr) return false;
  QCoreApplication::postEvent(t.object, new AppEvent(message, wparam, std::move(payload)));
  return true;
}

bool start_worker(std::function<void()> job) {
  Workers& w = workers();
  if (w.fail_start) return false;
  {
    std::lock_guard lock(w.mutex);
    ++w.running;
  }
  try {
    std::thread([job = std::move(job)] {
      job();
      Workers& ws = workers();
      std::lock_guard lock(ws.mutex);
      --ws.running;
      ws.finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(w.mutex);
    --w.running;
    return false;
  }
  return true;
}

int running_workers() {
  Workers& w = workers();
  std::lock_guard lock(w.mutex);
  return w.running;
}

void set_worker_start_failure_for_testing(bool fail) {
  workers().fail_start = fail;
}

bool wait_for_workers_for_testing(std::chrono::milliseconds deadline) {
  Workers& w = workers();
  std::unique_lock lock(w.mutex);
  return w.finished.wait_for(lock, deadline, [&w] { return w.running == 0; });
}

}  // namespace app
