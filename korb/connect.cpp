#include "korb/connect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/connect_testing.h"
#include "korb/data_directory.h"
#include "korb/platform.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "wallet/private_file.h"

namespace korb {

namespace {

using Json = nlohmann::json;

constexpr int shipped_poll_interval_ms = 500;
constexpr int shipped_poll_limit = 120;
std::atomic<int> poll_interval_ms{shipped_poll_interval_ms};
std::atomic<int> poll_limit{shipped_poll_limit};

const char* const request_suffix = ".req.json";
const char* const reply_suffix = ".rep.json";

std::int64_t unix_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool is_request_id(const std::string& id) {
  if (id.size() < 2 || id.size() > 32 || id[0] != 'w') return false;
  return std::all_of(id.begin() + 1, id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void set_connect_polling_for_testing(std::chrono::milliseconds interval, int limit) {
  poll_interval_ms = static_cast<int>(interval.count());
  poll_limit = limit;
}

void reset_connect_polling_for_testing() {
  poll_interval_ms = shipped_poll_interval_ms;
  poll_limit = shipped_poll_limit;
}

std::string connect_dir() {
  std::string dir = korb_data_dir() + "/connect";
  std::string ignored;  // a folder that fails the check fails the read or write that follows
  (void)private_folder(dir, ignored);
  return dir;
}

std::string connect_request_path(const std::string& request_id) {
  return connect_dir() + "/" + request_id + request_suffix;
}

std::string connect_reply_path(const std::string& request_id) {
  return connect_dir() + "/" + request_id + reply_suffix;
}

std::string write_connect_request() {
  if (!is_attached()) return {};
  // Ids come from the clock, and old request and reply files stay. After the clock was set back
  // a fresh id could name an answered request, whose old reply would then answer this one.
  std::string id = new_wallet_id();
  while (path_exists(connect_reply_path(id)) || path_exists(connect_request_path(id))) {
    id = new_wallet_id();
  }
  Json request = {{"app", attached_app_name()},
                  {"id", id},
                  {"instance", attached_app_instance()},
                  {"ts", unix_seconds()}};
  std::string error;
  if (!write_file_atomic(connect_request_path(id), json_text(request, 2, false), error)) return {};
  return id;
}

std::string poll_connect_reply(const std::string& request_id) {
  if (!is_request_id(request_id)) return "denied";
  std::string path = connect_reply_path(request_id);
  if (!path_exists(path)) return "pending";
  // Only a reply the user's own wallet application wrote counts; anything else is a denial.
  Json reply = read_own_json_file(path);
  if (!reply.is_object()) return "denied";
  auto ok = reply.find("ok");
  if (ok == reply.end() || !ok->is_boolean() || !ok->get<bool>()) return "denied";
  auto wallet_id = reply.find("wallet_id");
  if (wallet_id != reply.end()) {
    if (!wallet_id->is_string()) return "denied";
    // An id that would leave wallets/ is ignored like an empty one: no new binding.
    bind_wallet(wallet_id->get<std::string>());
  }
  return "ok";
}

bool launch_korb() {
  if (platform::raise_running_instance(korb_instance_name)) return true;
  std::string dir = platform::executable_dir();
  std::string candidate = dir + "/" + korb_executable_name;
  if (!platform::is_executable_file(candidate)) {
    std::string parent = std::filesystem::path(dir).parent_path().string();
    candidate = parent + "/" + korb_executable_name;
    if (!platform::is_executable_file(candidate)) return false;
  }
  return platform::start_detached(candidate, dir);
}

std::string connect() {
  if (!is_attached()) return report_error(connect_not_for_vault);
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    if (!bound_wallet_id().empty() && ensure_session()) {
      session_ready();
      return "success";
    }
  }
  std::string request_id = write_connect_request();
  if (request_id.empty()) return report_error(connect_request_failed);
  (void)launch_korb();  // the player may also start it by hand; a failure shows as the time-out
  emit_event("connect-pending", {"Approve the connect in Korb."});
  log_text("Waiting for Korb to approve this app...\n");

  bool approved = false;
  const int limit = poll_limit;
  for (int i = 0; i < limit && !approved; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_interval_ms.load()));
    std::string result = poll_connect_reply(request_id);
    if (result == "denied") {
      emit_event("connect-denied", {"denied"});
      return report_error(connect_denied);
    }
    approved = result == "ok";
  }
  if (!approved) {
    emit_event("connect-denied", {"timeout"});
    return report_error(connect_timed_out);
  }

  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  clear_session();
  if (!ensure_session()) return report_error(connect_load_failed);
  session_ready();
  log_text("Connected to Korb wallet " + wallet_display_name(bound_wallet_id()) + "\n");
  return "success";
}

std::string disconnect() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  unbind_wallet();
  clear_session();
  emit_event("status", {});
  log_text("This app is no longer connected to a Korb wallet.\n");
  return "success";
}

bool read_connect_request(const std::string& request_id, ConnectRequest& out) {
  out = ConnectRequest{};
  if (!is_request_id(request_id)) return false;
  Json request = read_json_file(connect_request_path(request_id));
  if (!request.is_object()) return false;
  out.id = request_id;  // the file name is what the reply must match
  auto app = request.find("app");
  if (app != request.end() && app->is_string()) out.app = app->get<std::string>();
  auto instance = request.find("instance");
  if (instance != request.end() && instance->is_string())
    out.instance = instance->get<std::string>();
  auto ts = request.find("ts");
  if (ts != request.end() && ts->is_number_integer()) out.ts = ts->get<std::int64_t>();
  return true;
}

std::vector<ConnectRequest> list_connect_requests() {
  std::vector<ConnectRequest> requests;
  std::error_code ec;
  std::filesystem::directory_iterator it(connect_dir(), ec);
  if (ec) return requests;
  for (const auto& entry : it) {
    std::string name = entry.path().filename().string();
    if (!ends_with(name, request_suffix)) continue;
    std::string id = name.substr(0, name.size() - std::string(request_suffix).size());
    if (!is_request_id(id) || path_exists(connect_reply_path(id))) continue;
    ConnectRequest request;
    if (read_connect_request(id, request)) requests.push_back(std::move(request));
  }
  std::sort(requests.begin(), requests.end(), [](const ConnectRequest& a, const ConnectRequest& b) {
    if (a.id.size() != b.id.size()) return a.id.size() < b.id.size();
    return a.id < b.id;
  });
  return requests;
}

bool write_connect_reply(const std::string& request_id, bool ok, const std::string& wallet_id,
                         std::string& error) {
  error.clear();
  if (!is_request_id(request_id)) {
    error = "not a connect request id";
    return false;
  }
  Json reply = {{"ok", ok}};
  if (ok) {
    if (!is_safe_wallet_id(wallet_id)) {
      error = "not a wallet id";
      return false;
    }
    reply["wallet_id"] = wallet_id;
  }
  // Written under another name and linked into place: a half-written reply would read as a
  // denial, and of two answers racing (a window and a command line) only the first may count.
  switch (
      wallet::create_file_once(connect_reply_path(request_id), json_text(reply, 2, false), error)) {
    case wallet::CreateOnce::created:
      return true;
    case wallet::CreateOnce::exists:
      error = "connect request " + request_id + " was already answered";
      return false;
    case wallet::CreateOnce::failed:
      break;
  }
  error = "could not write the reply: " + error;
  return false;
}

}  // namespace korb
