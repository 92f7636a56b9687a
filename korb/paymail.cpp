#include "korb/paymail.h"

#include <algorithm>

#include "config/deploy_config.h"
#include "korb/atomic_file.h"
#include "korb/data_directory.h"
#include "korb/platform.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "wallet/ow_korb_wallet.h"

namespace korb {

namespace {

using Json = nlohmann::json;

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string string_member(const Json& object, const char* key) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The "names" object of a loaded registry, made an object when it is anything else.
Json& names_of(Json& registry) {
  Json& names = registry["names"];
  if (!names.is_object()) names = Json::object();
  return names;
}

bool owned_by(const Json& entry, const std::string& pubkey) {
  return entry.is_object() && lower(string_member(entry, "pubkey")) == pubkey;
}

// The wallet application writes the same file, so every read-modify-write of it also holds the
// registry byte lock. Order: session mutex, registry lock, paymail-registry mutex.
struct PaymailRegistryGuard {
  RegistryLock registry_lock;
  std::lock_guard<std::mutex> guard{paymail_registry_mutex()};
};

const char* write_failed = "could not write paymail registry";

}  // namespace

std::string normalize_paymail_handle(std::string_view handle) {
  std::size_t begin = 0;
  while (begin < handle.size() &&
         (handle[begin] == '@' || handle[begin] == '$' || handle[begin] == ' ')) {
    ++begin;
  }
  std::size_t end = handle.size();
  while (end > begin &&
         (handle[end - 1] == ' ' || handle[end - 1] == '\r' || handle[end - 1] == '\n')) {
    --end;
  }
  std::string_view rest = handle.substr(begin, end - begin);
  std::size_t at = rest.find('@');
  if (at != std::string_view::npos) rest = rest.substr(0, at);
  return lower(std::string(rest));
}

std::string normalize_registry_name(std::string_view name) {
  std::string handle = normalize_paymail_handle(name);
  std::string out;
  for (char c : handle) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_') {
      out += c;
    }
  }
  return out;
}

int name_quota(const std::string& role) {
  std::string r = lower(role);
  if (r == "architect") return -1;
  if (r == "dev") return 20;
  return 10;
}

std::mutex& paymail_registry_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string paymail_registry_path() {
  return korb_data_dir() + "/orbweave_paymail.json";
}

Json load_paymail_registry() {
  std::string path = paymail_registry_path();
  Json registry;
  if (path_exists(path)) {
    registry = read_json_file(path);
  } else {
    // Older versions kept the registry beside the executable; move it into the shared folder.
    registry = read_json_file(platform::executable_dir() + "/userinfo/orbweave_paymail.json");
    if (registry.is_object()) (void)save_paymail_registry(registry);
  }
  if (!registry.is_object()) registry = Json::object();
  return registry;
}

bool load_paymail_registry_strict(Json& registry) {
  registry = Json::object();
  const std::string path = paymail_registry_path();
  if (!path_exists(path)) {
    registry = load_paymail_registry();
    return true;
  }
  std::string text;
  if (!read_file_capped(path, text)) return false;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;
  Json parsed;
  if (json_nesting_within(text, max_json_depth)) parsed = Json::parse(text, nullptr, false);
  if (!parsed.is_object()) return false;
  auto names = parsed.find("names");
  if (names != parsed.end() && !names->is_object()) return false;
  registry = std::move(parsed);
  return true;
}

bool save_paymail_registry(const Json& registry) {
  std::string error;
  return write_file_atomic(paymail_registry_path(), json_text(registry, 2, false), error);
}

std::string find_name_by_pubkey(const std::string& pubkey) {
  std::string key = lower(pubkey);
  if (key.empty()) return {};
  PaymailRegistryGuard lock;
  Json registry = load_paymail_registry();
  Json& names = names_of(registry);
  std::string self = normalize_registry_name(string_member(registry, "self"));
  if (!self.empty()) {
    auto it = names.find(self);
    if (it != names.end() && owned_by(*it, key)) return self;
  }
  for (auto it = names.begin(); it != names.end(); ++it) {
    // A key that is not a valid name could never be registered again under the same spelling.
    if (owned_by(it.value(), key) && normalize_registry_name(it.key()) == it.key()) {
      return it.key();
    }
  }
  return {};
}

std::string register_local_name(const std::string& name, const std::string& pubkey,
                                const std::string& address) {
  std::string label = normalize_registry_name(name);
  if (label.empty()) return "need a paymail name (letters, numbers, _ - .)";
  std::string key = lower(pubkey);
  if (key.empty()) return "no Korb identity pubkey";

  PaymailRegistryGuard lock;
  Json registry;
  if (!load_paymail_registry_strict(registry)) return write_failed;
  Json& names = names_of(registry);
  auto existing = names.find(label);
  bool exists = existing != names.end() && existing->is_object();
  if (exists && !string_member(*existing, "pubkey").empty() && !owned_by(*existing, key)) {
    return label + "@" + std::string(config::deploy_config().paymail_domain) + " is already taken";
  }
  bool is_new = !exists || !owned_by(*existing, key);
  if (is_new) {
    int quota = name_quota(string_member(registry, "host_role"));
    int held = 0;
    for (const Json& entry : names) {
      if (owned_by(entry, key)) ++held;
    }
    if (quota >= 0 && held >= quota) {
      return "paymail quota reached (" + std::to_string(quota) + " free labels per identity)";
    }
  }
  Json entry = exists ? *existing : Json::object();
  entry["pubkey"] = key;
  if (!address.empty()) entry["address"] = address;
  if (is_new) {
    // A further name of the same identity shows the same ordinals details and avatar.
    for (const Json& other : names) {
      if (!owned_by(other, key)) continue;
      for (const char* member : {"ord", "avatar"}) {
        auto value = other.find(member);
        if (value != other.end() && !entry.contains(member)) entry[member] = *value;
      }
    }
    auto avatars = registry.find("avatars");
    if (!entry.contains("avatar") && avatars != registry.end() && avatars->is_object()) {
      auto avatar = avatars->find(key);
      if (avatar != avatars->end() && avatar->is_string()) entry["avatar"] = *avatar;
    }
  }
  names[label] = std::move(entry);
  registry["self"] = label;
  if (!save_paymail_registry(registry)) return write_failed;
  return {};
}

void paymail_step(bool emit_events) {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  wallet::WalletSession& s = wallet::session();
  if (!wallet::session_loaded() || !s.hd || s.identity_public_key.empty()) return;
  s.paymail_handle = normalize_paymail_handle(s.paymail_handle);
  bool from_registry = false;
  if (s.paymail_handle.empty()) {
    s.paymail_handle = find_name_by_pubkey(s.identity_public_key);
    if (s.paymail_handle.empty()) return;  // no name yet
    from_registry = true;
  }
  // Errors here (a name taken by another key, a full quota) leave the handle as it is; the
  // status worker reports nothing and the claim at the service decides.
  (void)register_local_name(s.paymail_handle, s.identity_public_key, s.payment_address);
  set_wallet_name(bound_wallet_id());
  if (from_registry) {
    (void)save_session();  // the wallet file learns its name; retried at the next step
    if (emit_events) emit_event("paymail", {full_paymail_address(s.paymail_handle)});
  }
}

void sync_ordinals_address(const std::string& identity_pubkey, const std::string& address) {
  if (address.size() < 26 || address.size() > 35 || address.front() != '1' ||
      address.find('_') != std::string::npos) {
    return;
  }
  std::string key = lower(identity_pubkey);
  if (key.empty()) return;
  PaymailRegistryGuard lock;
  Json registry;
  if (!load_paymail_registry_strict(registry)) return;  // left for repair; never saved over
  bool changed = false;
  for (Json& entry : names_of(registry)) {
    if (!owned_by(entry, key) || string_member(entry, "ordAddress") == address) continue;
    entry["ordAddress"] = address;
    changed = true;
  }
  if (changed) (void)save_paymail_registry(registry);  // retried at the next key refresh
}

std::string sync_avatar() {
  std::string key;
  std::string avatar;
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    key = lower(wallet::session().identity_public_key);
    avatar = wallet::session().ord_avatar;
  }
  if (key.empty()) return "no identity pubkey";
  PaymailRegistryGuard lock;
  Json registry;
  if (!load_paymail_registry_strict(registry)) return write_failed;
  bool changed = false;
  auto set_or_remove = [&](Json& object, const std::string& member) {
    if (avatar.empty()) {
      changed = object.erase(member) > 0 || changed;
    } else if (string_member(object, member.c_str()) != avatar) {
      object[member] = avatar;
      changed = true;
    }
  };
  auto avatars = registry.find("avatars");
  if (avatars != registry.end() && avatars->is_object()) {
    set_or_remove(*avatars, key);
  } else if (!avatar.empty()) {
    registry["avatars"] = Json::object({{key, avatar}});
    changed = true;
  }
  for (Json& entry : names_of(registry)) {
    if (owned_by(entry, key)) set_or_remove(entry, "avatar");
  }
  if (changed && !save_paymail_registry(registry)) return write_failed;
  return {};
}

}  // namespace korb
