#include "tools/korb/connect_answers.h"

#include <chrono>

#include "korb/atomic_file.h"
#include "tools/korb/printable_text.h"
#include "tools/korb/wallet_store.h"

namespace korb_app {
namespace {

// The request must exist, parse and have no reply yet: a game reads only the first reply, so
// a second answer could never take effect and would only contradict the first. This is the
// early, friendly check; the reply itself is created only if no other answer beat us to it.
bool check_unanswered(const std::string& request_id, std::string& error) {
  korb::ConnectRequest request;
  if (!korb::read_connect_request(request_id, request)) {
    error = "no readable connect request \"" + printable_id(request_id) + "\" (see korb requests)";
    return false;
  }
  if (korb::path_exists(korb::connect_reply_path(request_id))) {
    error = "connect request " + request_id + " was already answered";
    return false;
  }
  return true;
}

}  // namespace

std::int64_t unix_seconds_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool is_request_live(const korb::ConnectRequest& request, std::int64_t now_seconds) {
  return request.ts >= now_seconds - request_live_seconds;
}

std::vector<korb::ConnectRequest> live_requests(std::int64_t now_seconds) {
  std::vector<korb::ConnectRequest> live;
  for (korb::ConnectRequest& request : korb::list_connect_requests()) {
    if (is_request_live(request, now_seconds)) live.push_back(std::move(request));
  }
  return live;
}

bool approve_request(const std::string& request_id, const std::string& wallet_id,
                     std::string& error) {
  if (!check_unanswered(request_id, error)) return false;
  if (!check_wallet_usable(wallet_id, error)) return false;
  return korb::write_connect_reply(request_id, true, wallet_id, error);
}

bool deny_request(const std::string& request_id, std::string& error) {
  if (!check_unanswered(request_id, error)) return false;
  return korb::write_connect_reply(request_id, false, "", error);
}

int approve_all_live(const std::string& wallet_id, std::int64_t now_seconds,
                     std::set<std::string>& failed,
                     const std::function<void(const std::string&)>& report) {
  int approved = 0;
  for (const korb::ConnectRequest& request : live_requests(now_seconds)) {
    if (failed.count(request.id) != 0) continue;
    std::string error;
    if (approve_request(request.id, wallet_id, error)) {
      ++approved;
      report("approved " + request.id + " from " + printable_field(request.app, shown_app_bytes) +
             " (" + printable_field(request.instance, shown_instance_bytes) + ") with wallet " +
             wallet_id);
    } else {
      failed.insert(request.id);
      report("could not approve " + request.id + ": " + error);
    }
  }
  return approved;
}

}  // namespace korb_app
