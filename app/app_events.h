// How the game's workers report back: each worker does one job on a detached thread and posts
// exactly one application event to the main window, which handles it on the window thread. The
// event carries the job's result; Qt frees the event once it is handled, and drops it unseen
// when the window has gone, so a late worker never reaches a dead window.
#pragma once

#include <QEvent>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "arcade/arcade_jobs.h"
#include "arcade/board.h"

class QObject;

namespace app {

// The seven application messages, numbered as the window's handler knows them.
enum class AppMessage : int {
  connect = 1,  // connect reply
  status = 2,   // a progress line of the wallet library
  payment = 3,  // payment reply; wparam 1 entry, 2 score, 3 report
  pot = 4,      // weekly pot
  board = 5,    // weekly board load
  balance = 6,  // wallet balance
  update = 7,   // update check; wparam latest build + 1 (0 when the check failed)
};

// QEvent::User + the message's number.
[[nodiscard]] QEvent::Type app_event_type(AppMessage message);

// What a worker hands over. The status line's text is a std::string (UTF-8).
using AppPayload = std::variant<arcade::ConnectResult, std::string, arcade::PaymentResult,
                                arcade::PotResult, arcade::BoardResult, arcade::BalanceResult>;

class AppEvent : public QEvent {
 public:
  AppEvent(AppMessage message, int64_t wparam, std::unique_ptr<AppPayload> payload);

  [[nodiscard]] AppMessage message() const { return message_; }
  [[nodiscard]] int64_t wparam() const { return wparam_; }
  // The result, or null when the worker had none. Owned by the event.
  [[nodiscard]] const AppPayload* payload() const { return payload_.get(); }
  // The result as T when it holds one, else null.
  template <class T>
  [[nodiscard]] const T* payload_as() const {
    return payload_ ? std::get_if<T>(payload_.get()) : nullptr;
  }

 private:
  AppMessage message_;
  int64_t wparam_;
  std::unique_ptr<AppPayload> payload_;
};

// The window that receives application events, or null. The main window sets itself when it is
// made and clears itself first thing when it goes.
void set_app_event_target(QObject* target);

// Posts the event to the target, under the lock that clearing the target takes, so a worker can
// never post to a window in the middle of being destroyed. False (and nothing is posted) without
// a target.
bool post_app_event(AppMessage message, int64_t wparam, std::unique_ptr<AppPayload> payload);

// Wraps a result for post_app_event.
template <class T>
[[nodiscard]] std::unique_ptr<AppPayload> make_payload(T&& result) {
  return std::make_unique<AppPayload>(std::forward<T>(result));
}

// Runs `job` on a detached thread of its own. False when the system could not make a thread;
// nothing runs then.
[[nodiscard]] bool start_worker(std::function<void()> job);

// Workers started and not yet finished. The program's end looks at it: with workers still out
// it leaves without tearing down what they may still be using.
[[nodiscard]] int running_workers();

}  // namespace app
