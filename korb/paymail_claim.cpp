#include "korb/paymail_claim.h"

#include <chrono>
#include <mutex>

#include <nlohmann/json.hpp>

#include "korb/paymail.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "wallet/hd_keys.h"
#include "wallet/http_client.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/secret.h"

namespace korb {
namespace {

constexpr long kClaimTimeout = 25;
constexpr int kClaimAttempts = 4;

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

nlohmann::json parse_json(const std::string& text) {
  try {
    return nlohmann::json::parse(text, nullptr, false);
  } catch (...) {
    return nlohmann::json::value_t::discarded;
  }
}

bool true_member(const nlohmann::json& object, const char* name) {
  auto it = object.find(name);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

// The key of the last claim the service accepted in this process. A leaf lock.
std::mutex& last_claim_mutex() {
  static std::mutex m;
  return m;
}
std::string& last_claim_key() {
  static std::string key;
  return key;
}

}  // namespace

std::string paymail_claim_message(const std::string& alias, const std::string& pubkey,
                                  const std::string& address, const std::string& avatar,
                                  const std::string& ord_address, int64_t ts) {
  std::string message =
      "OW-PAYMAIL-CLAIM|" + alias + "|" + pubkey + "|" + address + "|" + avatar + "|";
  if (!ord_address.empty()) message += ord_address + "|";
  return message + std::to_string(ts);
}

bool claim_answer_ok(const std::string& body) {
  const auto doc = parse_json(body);
  return doc.is_object() && (true_member(doc, "ok") || true_member(doc, "success"));
}

std::string claim_paymail(const std::string& alias_in, const std::string& pubkey,
                          const std::string& address, const std::string& avatar,
                          const std::string& ord_address) {
  const std::string alias = normalize_paymail_handle(alias_in);
  if (alias.empty() || pubkey.empty()) return "need alias and pubkey";
  const int64_t ts = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  const std::string message =
      paymail_claim_message(alias, pubkey, address, avatar, ord_address, ts);
  std::string signing_key, signature, error;
  if (!identity_sign(message, signing_key, signature, error))
    return error.empty() ? "could not sign paymail claim" : error;
  if (lower(signing_key) != pubkey) return "identity pubkey mismatch";

  nlohmann::json body = nlohmann::json::object();
  body["alias"] = alias;
  body["pubkey"] = pubkey;
  body["address"] = address;
  body["avatar"] = avatar;
  if (!ord_address.empty()) body["ordAddress"] = ord_address;
  body["ts"] = ts;
  body["sig"] = signature;
  std::string answer, request_error;
  if (!wallet::wallet_http_post_json(wallet::service_base_url() + "/api/paymail/claim", body.dump(),
                                     answer, request_error, kClaimTimeout, kClaimAttempts)) {
    // An error status is the service's answer; a transport failure is not, and says so itself.
    return request_error.rfind("HTTP ", 0) == 0 ? "paymail host refused" : request_error;
  }
  return claim_answer_ok(answer) ? std::string() : "paymail host refused";
}

std::string claim_paymail_if_changed(const std::string& alias, const std::string& pubkey,
                                     const std::string& address, const std::string& avatar,
                                     const std::string& ord_address) {
  if (alias.empty() || pubkey.empty()) return {};
  const std::string key = alias + "|" + pubkey + "|" + address + "|" + avatar + "|" + ord_address;
  {
    std::lock_guard<std::mutex> lock(last_claim_mutex());
    if (last_claim_key() == key) return {};
  }
  std::string error = claim_paymail(alias, pubkey, address, avatar, ord_address);
  if (error.empty()) {
    std::lock_guard<std::mutex> lock(last_claim_mutex());
    last_claim_key() = key;
  }
  return error;
}

void sync_host_role() {
  std::string pubkey;
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    if (!wallet::session_loaded()) return;
    pubkey = wallet::session().identity_public_key;
  }
  if (pubkey.empty()) return;
  std::string body, error;
  if (!wallet::local_http_get(wallet::service_base_url() + "/api/paymail/quota/" + pubkey, body,
                              error))
    return;
  const auto doc = parse_json(body);
  std::string role;
  if (doc.is_object()) {
    auto it = doc.find("role");
    if (it != doc.end() && it->is_string()) role = lower(it->get<std::string>());
  }
  if (role != "dev" && role != "agent" && role != "operator" && role != "architect") role.clear();

  // The wallet application changes this file under the registry lock; a damaged file is left for
  // repair rather than replaced by one holding only the role.
  RegistryLock registry_lock;
  std::lock_guard<std::mutex> lock(paymail_registry_mutex());
  nlohmann::json registry;
  if (!load_paymail_registry_strict(registry)) return;
  auto it = registry.find("host_role");
  const std::string stored = it != registry.end() && it->is_string() ? it->get<std::string>() : "";
  const bool present = it != registry.end();
  if (role.empty()) {
    if (!present) return;
    registry.erase("host_role");
  } else {
    if (present && stored == role) return;
    registry["host_role"] = role;
  }
  (void)save_paymail_registry(registry);
}

void paymail_status_steps() {
  std::string alias, pubkey, address, avatar, ord_address;
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    if (!wallet::session_loaded() || !wallet::session().hd) return;
    const auto& s = wallet::session();
    alias = s.paymail_handle;
    pubkey = s.identity_public_key;
    address = s.payment_address;
    avatar = s.ord_avatar;
    wallet::SecretString private_key_hex;
    std::string public_key_hex;
    if (!wallet::derive_path_keys(wallet::ordinals_path(s.recv[5]), private_key_hex, public_key_hex,
                                  ord_address))
      ord_address.clear();
  }
  (void)claim_paymail_if_changed(alias, pubkey, address, avatar, ord_address);
  sync_host_role();
}

}  // namespace korb
