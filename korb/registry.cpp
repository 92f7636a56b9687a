#include "korb/registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>

#include "korb/atomic_file.h"
#include "korb/data_directory.h"
#include "korb/platform.h"
#include "korb/session.h"
#include "wallet/secret.h"

namespace korb {

namespace {

// Registry lock state. `lock_depth` and `lock_fd` are only touched while holding the mutex.
std::recursive_mutex& registry_mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
int lock_depth = 0;
int lock_fd = -1;
std::string lock_error;  // why the file lock is not held, when it is not

// What attach_app and the bindings set. A leaf mutex: nothing else is taken while it is held.
struct BridgeState {
  bool attached = false;
  std::string app_name;
  std::string app_instance;
  std::string bound_id;
};
std::mutex& state_mutex() {
  static std::mutex mutex;
  return mutex;
}
BridgeState& state() {
  static BridgeState value;
  return value;
}

void set_bound_id(const std::string& id) {
  std::lock_guard<std::mutex> guard(state_mutex());
  state().bound_id = id;
}

// The "wallet_id" of a bind file, or empty for anything missing, corrupt or unsafe.
std::string read_bind_file() {
  nlohmann::json bind = read_json_file(bind_file_path());
  if (!bind.is_object()) return {};
  auto it = bind.find("wallet_id");
  if (it == bind.end() || !it->is_string()) return {};
  std::string id = it->get<std::string>();
  return is_safe_wallet_id(id) ? id : std::string();
}

bool write_bind_file(const std::string& id) {
  nlohmann::json bind = nlohmann::json::object();
  bind["app"] = attached_app_name();
  bind["instance"] = attached_app_instance();
  bind["wallet_id"] = id;
  std::string error;
  return write_file_atomic(bind_file_path(), json_text(bind, 2, false), error);
}

}  // namespace

RegistryLock::RegistryLock() {
  registry_mutex().lock();
  if (++lock_depth > 1) return;
  const std::string path = korb_data_dir() + "/wallets.lock";
  lock_error.clear();
  int fd = platform::open_lock_file(path);
  if (fd < 0) {
    lock_error = "cannot open the registry lock " + path + ": " + std::strerror(errno);
  } else if (!platform::lock_first_byte(fd)) {
    lock_error = "cannot lock the registry lock " + path + ": " + std::strerror(errno);
    platform::close_file(fd);
    fd = -1;
  }
  // Reading goes on under the process mutex alone; writers check `held` and refuse.
  lock_fd = fd;
}

bool RegistryLock::held(std::string& error) const {
  // Only the thread holding the mutex has a RegistryLock to ask about, so the state is ours.
  if (lock_fd >= 0) return true;
  error = lock_error.empty() ? std::string("the registry lock is not held") : lock_error;
  return false;
}

RegistryLock::~RegistryLock() {
  if (--lock_depth == 0 && lock_fd >= 0) {
    platform::unlock_first_byte(lock_fd);
    platform::close_file(lock_fd);
    lock_fd = -1;
  }
  registry_mutex().unlock();
}

std::string registry_path() {
  return korb_data_dir() + "/wallets.json";
}

std::string legacy_wallet_path() {
  return korb_data_dir() + "/orbweave_korb.json";
}

std::string wallet_dir_path(const std::string& id) {
  return korb_data_dir() + "/wallets/" + id;
}

std::string bind_file_path() {
  std::string dir = korb_data_dir() + "/binds";
  std::string ignored;  // a folder that fails the check fails the read or write that follows
  (void)private_folder(dir, ignored);
  return dir + "/" + instance_key(attached_app_instance()) + ".json";
}

bool check_wallet_folder(const std::string& id, bool create, std::string& error) {
  if (!is_safe_wallet_id(id)) {
    error = "not a wallet id";
    return false;
  }
  const std::string wallets = korb_data_dir() + "/wallets";
  for (const std::string& folder : {wallets, wallets + "/" + id}) {
    if (!create && !path_exists(folder)) {
      error = "the wallet folder " + folder + " is missing";
      return false;
    }
    if (!private_folder(folder, error)) return false;
  }
  return true;
}

nlohmann::json read_wallet_file() {
  const std::string id = bound_wallet_id();
  std::string ignored;
  if (!id.empty() && !check_wallet_folder(id, false, ignored)) {
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  return read_own_json_file(wallet_file_path());
}

std::vector<std::string> wallet_folder_ids() {
  std::vector<std::string> ids;
  std::error_code ec;
  std::filesystem::directory_iterator it(korb_data_dir() + "/wallets", ec);
  if (ec) return ids;
  for (const auto& entry : it) {
    const std::string id = entry.path().filename().string();
    if (is_safe_wallet_id(id) && path_exists(entry.path().string() + "/wallet.json")) {
      ids.push_back(id);
    }
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

nlohmann::json load_registry() {
  nlohmann::json registry = read_json_file(registry_path());
  if (!registry.is_object()) registry = nlohmann::json::object();
  auto it = registry.find("wallets");
  if (it == registry.end() || !it->is_array()) registry["wallets"] = nlohmann::json::array();
  return registry;
}

namespace {

enum class StoredRegistry { read, unreadable, damaged };

// The registry file as stored: a missing or blank file is an empty registry; a file that does
// not parse as one is `damaged`; one we cannot get at is `unreadable`.
StoredRegistry read_stored_registry(nlohmann::json& registry, std::string& error) {
  registry = nlohmann::json{{"wallets", nlohmann::json::array()}};
  const std::string path = registry_path();
  if (!check_data_dir(error)) return StoredRegistry::unreadable;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return StoredRegistry::read;
    error = "cannot read the wallet registry " + path + ": " + std::strerror(errno);
    return StoredRegistry::unreadable;
  }
  std::string text;
  if (!read_file_capped(path, text)) {
    error = "the wallet registry " + path + " is not a small regular file; it is damaged";
    return StoredRegistry::damaged;
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return StoredRegistry::read;
  nlohmann::json parsed;
  if (json_nesting_within(text, max_json_depth))
    parsed = nlohmann::json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() ||
      (parsed.contains("wallets") && !parsed["wallets"].is_array())) {
    error = "the wallet registry " + path + " is damaged; it is left untouched (korb repair " +
            "keeps a copy and lists the wallet folders again)";
    return StoredRegistry::damaged;
  }
  if (!parsed.contains("wallets")) parsed["wallets"] = nlohmann::json::array();
  registry = std::move(parsed);
  return StoredRegistry::read;
}

}  // namespace

bool load_registry_strict(nlohmann::json& registry, std::string& error) {
  if (read_stored_registry(registry, error) != StoredRegistry::read) return false;
  if (!registry["wallets"].empty()) return true;
  // Saving into an empty registry would leave every existing wallet folder unlisted for good.
  const std::vector<std::string> orphans = wallet_folder_ids();
  if (orphans.empty()) return true;
  error = "the wallet registry " + registry_path() + " lists no wallets, but " +
          std::to_string(orphans.size()) + " wallet folder(s) exist (" + orphans.front() +
          (orphans.size() > 1 ? ", ..." : "") +
          "): it is damaged and left untouched; run korb repair to list them again";
  return false;
}

std::string registry_text(const nlohmann::json& registry) {
  return json_text(registry, 2, true);
}

bool save_registry(const nlohmann::json& registry) {
  RegistryLock lock;  // re-entered: tells whether the caller holds the file lock
  std::string error;
  if (!lock.held(error)) return false;
  return write_file_atomic(registry_path(), registry_text(registry), error);
}

bool repair_registry(RepairReport& report, std::string& error) {
  report = RepairReport{};
  RegistryLock lock;
  if (!lock.held(error)) return false;
  nlohmann::json registry;
  const StoredRegistry stored = read_stored_registry(registry, error);
  if (stored == StoredRegistry::unreadable) return false;
  std::string kept_as;
  if (stored == StoredRegistry::damaged) {
    // Keep the damaged file for whoever wants to look at it; the folders are the truth now.
    for (int n = 1; kept_as.empty() && n < 1000; ++n) {
      const std::string candidate = registry_path() + ".damaged-" + std::to_string(n);
      if (!path_exists(candidate)) kept_as = candidate;
    }
    if (kept_as.empty() || ::rename(registry_path().c_str(), kept_as.c_str()) != 0) {
      error = "the wallet registry is damaged and could not be moved aside";
      return false;
    }
    report.lines.push_back("The registry did not parse; kept it as " + kept_as + ".");
  }
  std::set<std::string> listed;
  for (const nlohmann::json& wallet : registry["wallets"]) {
    if (wallet.is_object() && wallet.contains("id") && wallet["id"].is_string()) {
      listed.insert(wallet["id"].get<std::string>());
    }
  }
  const std::vector<std::string> folders = wallet_folder_ids();
  report.lines.push_back("The registry lists " + std::to_string(listed.size()) +
                         " wallet(s); the wallets folder holds " + std::to_string(folders.size()) +
                         ".");
  std::string first_added;
  for (const std::string& id : folders) {
    if (listed.count(id) != 0) continue;
    std::string why;
    nlohmann::json file;
    if (check_wallet_folder(id, false, why)) {
      file = read_own_json_file(wallet_dir_path(id) + "/wallet.json");
      wallet::WalletSession fields;
      const bool usable = read_wallet_fields(file, fields);
      wipe_wallet_fields(fields);
      if (!usable) why = "its wallet.json is not a usable wallet file of the user's own";
    }
    if (!why.empty()) {
      report.lines.push_back("Left out " + id + ": " + why + ".");
      continue;
    }
    std::string name = file.contains("paymail") && file["paymail"].is_string()
                           ? file["paymail"].get<std::string>()
                           : std::string();
    if (name.empty() || name.size() > 64) name = "Recovered " + id;
    wipe_wallet_file_secrets(file);
    registry["wallets"].push_back({{"id", id}, {"name", name}});
    if (first_added.empty()) first_added = id;
    ++report.added;
    report.lines.push_back("Listed " + id + " again as \"" + name + "\".");
  }
  for (const std::string& id : listed) {
    if (std::find(folders.begin(), folders.end(), id) == folders.end()) {
      report.lines.push_back("Listed " + id + " has no wallet file; its entry is kept.");
    }
  }
  if (report.added == 0 && kept_as.empty()) return true;
  auto active = registry.find("active");
  if (!first_added.empty() &&
      (active == registry.end() || !active->is_string() || active->get<std::string>().empty())) {
    registry["active"] = first_added;
  }
  if (!save_registry(registry)) {
    error = "could not save the repaired registry";
    return false;
  }
  return true;
}

std::string new_wallet_id() {
  // Two ids made in the same millisecond would name the same wallet folder or request file.
  static std::mutex mutex;
  static std::int64_t last = 0;
  std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  std::lock_guard<std::mutex> guard(mutex);
  if (now <= last) now = last + 1;
  last = now;
  return "w" + std::to_string(now);
}

std::string instance_key(std::string_view instance) {
  std::string key;
  key.reserve(instance.size());
  for (char c : instance) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') {
      key += static_cast<char>(u - 'A' + 'a');
    } else if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
      key += c;
    } else {
      key += '_';
    }
  }
  if (key.size() > 96) key.erase(0, key.size() - 96);
  if (key.empty()) key = "default";
  return key;
}

bool is_safe_wallet_id(std::string_view id) {
  if (id.empty() || id == "." || id == "..") return false;
  return id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

void migrate_legacy_wallet() {
  RegistryLock lock;
  std::string legacy = legacy_wallet_path();
  if (!path_exists(legacy)) return;
  nlohmann::json registry;
  std::string error;
  if (!lock.held(error)) return;                       // the next start tries again
  if (!load_registry_strict(registry, error)) return;  // never save over a damaged registry
  if (!registry["wallets"].empty()) return;

  // A folder left by an earlier attempt (or made by the wallet application) is never reused.
  std::string id = new_wallet_id();
  while (path_exists(wallet_dir_path(id))) id = new_wallet_id();
  std::string dir = wallet_dir_path(id);
  make_directories(dir);
  std::string target = dir + "/wallet.json";
  // The wallet gets its new name first and loses the old one only once the registry lists it:
  // if the save fails or the program dies before it, the legacy file is still there and the next
  // start migrates it again, instead of leaving a wallet file no registry entry points to.
  bool placed = ::link(legacy.c_str(), target.c_str()) == 0;
  if (!placed) {
    // No hard links across file systems (or on some of them); copy instead.
    wallet::SecretString content;  // a wallet file
    placed = read_file_capped(legacy, content) && write_file_atomic(target, content, error);
  }
  registry["wallets"].push_back({{"id", id}, {"name", "Wallet 1"}});
  registry["active"] = id;
  if (save_registry(registry)) {
    if (placed) ::unlink(legacy.c_str());
  } else if (placed) {
    ::unlink(target.c_str());  // the legacy file is kept; the next start retries
    ::rmdir(dir.c_str());
  }
}

void attach_app(const std::string& instance, const std::string& app_name) {
  RegistryLock lock;
  {
    std::lock_guard<std::mutex> guard(state_mutex());
    state().attached = true;
    state().app_name = app_name.empty() ? "App" : app_name;
    state().app_instance = instance.empty() ? "." : instance;
  }
  install_korb_hooks();
  migrate_legacy_wallet();
  set_bound_id({});
  std::string id = read_bind_file();
  if (id.empty()) {
    // Automatic binding: only when there is exactly one wallet to choose.
    nlohmann::json registry = load_registry();
    const nlohmann::json& wallets = registry["wallets"];
    if (wallets.size() == 1 && wallets[0].is_object()) {
      auto it = wallets[0].find("id");
      if (it != wallets[0].end() && it->is_string() && is_safe_wallet_id(it->get<std::string>())) {
        id = it->get<std::string>();
        (void)write_bind_file(id);  // bound for this run either way
      }
    }
  }
  set_bound_id(id);
}

bool is_attached() {
  std::lock_guard<std::mutex> guard(state_mutex());
  return state().attached;
}

std::string attached_app_name() {
  std::lock_guard<std::mutex> guard(state_mutex());
  return state().app_name.empty() ? std::string("App") : state().app_name;
}

std::string attached_app_instance() {
  std::lock_guard<std::mutex> guard(state_mutex());
  return state().app_instance.empty() ? std::string(".") : state().app_instance;
}

std::vector<WalletEntry> list_wallets() {
  RegistryLock lock;
  nlohmann::json registry = load_registry();
  std::vector<WalletEntry> entries;
  for (const nlohmann::json& wallet : registry["wallets"]) {
    if (!wallet.is_object()) continue;
    WalletEntry entry;
    auto id = wallet.find("id");
    if (id != wallet.end() && id->is_string()) entry.id = id->get<std::string>();
    auto name = wallet.find("name");
    if (name != wallet.end() && name->is_string()) entry.name = name->get<std::string>();
    if (!is_safe_wallet_id(entry.id)) continue;
    if (entry.name.empty()) entry.name = entry.id;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string wallet_display_name(const std::string& id) {
  for (const WalletEntry& entry : list_wallets()) {
    if (entry.id == id) return entry.name;
  }
  return id;
}

bool rename_wallet(const std::string& id, const std::string& name) {
  if (id.empty()) return false;
  RegistryLock lock;
  nlohmann::json registry;
  std::string error;
  if (!load_registry_strict(registry, error)) return false;  // saving would drop every wallet
  for (nlohmann::json& wallet : registry["wallets"]) {
    if (!wallet.is_object()) continue;
    auto it = wallet.find("id");
    if (it != wallet.end() && it->is_string() && it->get<std::string>() == id) {
      wallet["name"] = name;
    }
  }
  return save_registry(registry);
}

void set_wallet_name(const std::string& id) {
  std::string handle;
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    handle = wallet::session().paymail_handle;
  }
  if (id.empty() || handle.empty()) return;
  (void)rename_wallet(id, handle);  // the name is cosmetic; the next paymail step retries
}

std::string bound_wallet_id() {
  std::lock_guard<std::mutex> guard(state_mutex());
  return state().bound_id;
}

std::string read_bound_wallet_id() {
  if (!is_attached()) return bound_wallet_id();
  return read_bind_file();
}

void bind_wallet(const std::string& id) {
  if (!is_attached() || !is_safe_wallet_id(id)) return;
  set_bound_id(id);
  (void)write_bind_file(id);  // the binding holds for this run even if the file failed
}

void unbind_wallet() {
  if (is_attached()) ::unlink(bind_file_path().c_str());
  set_bound_id({});
}

void use_wallet(const std::string& id) {
  set_bound_id(is_safe_wallet_id(id) ? id : std::string());
}

std::string wallet_file_path() {
  std::string id = bound_wallet_id();
  if (id.empty()) return legacy_wallet_path();
  return wallet_dir_path(id) + "/wallet.json";
}

}  // namespace korb
