#include "tools/korb/wallet_store.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include <nlohmann/json.hpp>

#include "korb/atomic_file.h"
#include "korb/data_directory.h"
#include "korb/paymail.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tools/korb/printable_text.h"
#include "wallet/hd_keys.h"
#include "wallet/mnemonic.h"
#include "wallet/ow_korb_wallet.h"

namespace korb_app {
namespace {

using nlohmann::json;

// Longest paymail name we register, in characters.
constexpr size_t max_paymail_name = 64;

void wipe_text(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

// The registry entry of `id`, or nullptr.
const json* find_entry(const json& registry, const std::string& id) {
  for (const json& entry : registry["wallets"]) {
    if (entry.is_object() && entry.contains("id") && entry["id"].is_string() &&
        entry["id"].get_ref<const std::string&>() == id) {
      return &entry;
    }
  }
  return nullptr;
}

std::string wallet_file_of(const std::string& id) {
  return korb::wallet_dir_path(id) + "/wallet.json";
}

// The wallet file of `id`, parsed, without judging its form. The file and its folders must be
// the user's own: another user's folder or a symlink could hand us someone else's keys.
// Call under korb::RegistryLock.
bool read_wallet_json(const std::string& id, json& file, std::string& error) {
  file = json();
  if (!korb::check_wallet_folder(id, false, error)) return false;
  const std::string path = wallet_file_of(id);
  std::string text;
  if (!korb::read_own_file(path, text)) {
    error = "the wallet file " + path +
            " is missing, unreadable, a symlink or not the user's own; it is left alone";
    return false;
  }
  // Deeper documents are not ours, and copying or writing one recurses once per level.
  if (korb::json_nesting_within(text, korb::max_json_depth)) {
    file = json::parse(text, nullptr, false);
  } else {
    file = json(json::value_t::discarded);
  }
  wipe_text(text);
  if (file.is_discarded() || !file.is_object()) {
    file = json();
    error = "the wallet file " + path + " is damaged";
    return false;
  }
  return true;
}

// Writes a wallet file atomically into its own folder, which only the user may enter: the file
// holds the mnemonic in plain text. Whatever stands under the file's name must be the user's
// own regular file; a symlink or another user's file there is refused, not replaced.
bool write_wallet_json(const std::string& id, const json& file, std::string& error) {
  if (!korb::check_wallet_folder(id, true, error)) return false;
  const std::string path = wallet_file_of(id);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
    error = "the wallet file " + path + " is a symlink or not the user's own; it is left alone";
    return false;
  }
  std::string text = file.dump(2);
  std::string write_error;
  const bool written = korb::write_file_atomic(path, text, write_error);
  wipe_text(text);
  if (!written) error = "cannot write the wallet file: " + write_error;
  return written;
}

// One wallet loaded into the process session for the length of a command, the way a game
// loads its bound wallet. The session (and every secret in it) is wiped when this goes away.
class WalletInSession {
 public:
  explicit WalletInSession(const std::string& id) : lock_(wallet::session_mutex()) {
    korb::clear_session();
    korb::use_wallet(id);
    loaded_ = korb::ensure_session();
  }
  ~WalletInSession() {
    korb::clear_session();
    korb::use_wallet("");
  }
  WalletInSession(const WalletInSession&) = delete;
  WalletInSession& operator=(const WalletInSession&) = delete;

  bool loaded() const { return loaded_; }

 private:
  std::lock_guard<std::recursive_mutex> lock_;
  bool loaded_ = false;
};

// Checks that `id` is a listed wallet with a readable file of either form. Out: its registry
// name and whether it is an HD wallet. Call under korb::RegistryLock.
bool check_listed_wallet(const std::string& id, std::string& name, bool& hd, std::string& error) {
  if (!korb::is_safe_wallet_id(id) || id.size() > 64) {
    error = "\"" + printable_id(id) + "\" is not a wallet id (see korb list)";
    return false;
  }
  json registry;
  if (!korb::load_registry_strict(registry, error)) return false;
  const json* entry = find_entry(registry, id);
  if (entry == nullptr) {
    error = "no wallet with id " + id + " (see korb list)";
    return false;
  }
  name = entry->contains("name") && (*entry)["name"].is_string()
             ? (*entry)["name"].get<std::string>()
             : std::string();
  if (name.empty()) name = id;
  json file;
  if (!read_wallet_json(id, file, error)) return false;
  wallet::WalletSession fields;
  const bool readable = korb::read_wallet_fields(file, fields);
  hd = fields.hd;
  korb::wipe_wallet_fields(fields);
  korb::wipe_wallet_file_secrets(file);
  if (!readable) {
    error = "the wallet file " + wallet_file_of(id) + " does not hold a usable wallet";
    return false;
  }
  return true;
}

// The listed HD wallet whose identity address is `identity`, or "". Restoring a wallet twice
// would give two entries that spend the same coins under different names. Keys decide, not the
// stored words: the same words written differently (capitals, tabs) derive other keys.
// Call under korb::RegistryLock.
std::string wallet_with_identity(const json& registry, const std::string& identity) {
  for (const json& entry : registry["wallets"]) {
    if (!entry.is_object() || !entry.contains("id") || !entry["id"].is_string()) continue;
    const std::string id = entry["id"];
    if (!korb::is_safe_wallet_id(id)) continue;
    WalletInSession loaded(id);
    if (loaded.loaded() && wallet::session().hd && wallet::session().identity_address == identity) {
      return id;
    }
  }
  return {};
}

}  // namespace

bool generate_mnemonic(std::string& mnemonic) {
  mnemonic.clear();
  std::array<unsigned char, 16> entropy{};
  const bool drawn = RAND_bytes(entropy.data(), static_cast<int>(entropy.size())) == 1;
  if (drawn) mnemonic = wallet::mnemonic_from_entropy(entropy);
  OPENSSL_cleanse(entropy.data(), entropy.size());
  return drawn && wallet::validate_mnemonic(mnemonic);
}

std::string normalized_mnemonic(std::string_view mnemonic) {
  if (!wallet::validate_mnemonic(mnemonic)) return {};
  std::string out;
  out.reserve(mnemonic.size());
  bool gap = false;
  for (char c : mnemonic) {
    if (c == ' ' || c == '\t') {
      gap = !out.empty();
      continue;
    }
    if (gap) out.push_back(' ');
    gap = false;
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return out;
}

bool clean_wallet_name(std::string_view name, std::string& cleaned, std::string& error) {
  const size_t first = name.find_first_not_of(' ');
  const size_t last = name.find_last_not_of(' ');
  cleaned = first == std::string_view::npos ? std::string()
                                            : std::string(name.substr(first, last - first + 1));
  if (cleaned.empty()) {
    error = "a wallet needs a name";
    return false;
  }
  if (cleaned.size() > max_wallet_name_bytes) {
    error = "a wallet name may be at most " + std::to_string(max_wallet_name_bytes) + " bytes";
    return false;
  }
  for (char c : cleaned) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      error = "a wallet name may not hold control characters";
      return false;
    }
  }
  if (!is_valid_utf8(cleaned)) {
    error = "a wallet name must be UTF-8 text";
    return false;
  }
  return true;
}

bool add_wallet(const std::string& name, const std::string& mnemonic, std::string& id,
                std::string& error) {
  id.clear();
  korb::RegistryLock registry_lock;
  // Without the file lock another program may be saving the registry right now; a wallet we
  // wrote could then vanish from it, and its words would have been shown for nothing.
  if (!registry_lock.held(error)) {
    error += "; no wallet was made";
    return false;
  }
  json file;
  {
    std::lock_guard<std::recursive_mutex> session_lock(wallet::session_mutex());
    korb::clear_session();
    korb::use_wallet("");
    wallet::WalletSession& session = wallet::session();
    session.mnemonic = mnemonic;
    session.hd = true;
    wallet::reset_derivation_cache();
    const bool derived = wallet::refresh_wallet_keys();
    if (derived) file = korb::build_wallet_file(session);
    korb::clear_session();
    if (!derived) {
      error = "could not derive the new wallet's keys";
      return false;
    }
  }

  json registry;
  bool ok = korb::load_registry_strict(registry, error);
  if (ok) {
    const std::string existing =
        wallet_with_identity(registry, file["identity"].get<std::string>());
    if (!existing.empty()) {
      error = "this wallet is already in Korb as " + existing;
      ok = false;
    }
  }
  // Another program may have made an id in the same millisecond; never reuse a listed id or an
  // existing folder.
  for (int attempt = 0; ok && attempt < 1000; ++attempt) {
    id = korb::new_wallet_id();
    if (find_entry(registry, id) == nullptr && !korb::path_exists(korb::wallet_dir_path(id))) {
      break;
    }
    id.clear();
  }
  if (ok && id.empty()) {
    error = "could not find a free wallet id";
    ok = false;
  }
  if (ok) {
    registry["wallets"].push_back(json{{"id", id}, {"name", name}});
    const auto active = registry.find("active");
    if (active == registry.end() || (active->is_string() && active->get<std::string>().empty())) {
      registry["active"] = id;
    }
    // Checked before the wallet file is written: a wallet the registry cannot list is lost.
    if (korb::registry_text(registry).size() > korb::max_data_file_bytes) {
      error = "the wallet registry would grow past the " +
              std::to_string(korb::max_data_file_bytes) + " bytes korb reads; no wallet was made";
      ok = false;
    }
  }
  ok = ok && write_wallet_json(id, file, error);
  korb::wipe_wallet_file_secrets(file);
  if (!ok) {
    id.clear();
    return false;
  }
  if (!korb::save_registry(registry)) {
    // The wallet file stays: it holds the only copy of a key someone may already use.
    error = "the wallet was written to " + wallet_file_of(id) +
            " but the registry could not be saved (korb repair lists it)";
    return false;
  }
  return true;
}

bool list_stored_wallets(std::vector<StoredWallet>& wallets, std::string& error) {
  wallets.clear();
  korb::RegistryLock registry_lock;
  json registry;
  if (!korb::load_registry_strict(registry, error)) return false;
  for (const korb::WalletEntry& entry : korb::list_wallets()) {
    StoredWallet stored{entry.id, entry.name, {}};
    json file;
    std::string ignored;
    if (read_wallet_json(entry.id, file, ignored) && file.contains("address") &&
        file["address"].is_string()) {
      stored.address = file["address"].get<std::string>();
    }
    korb::wipe_wallet_file_secrets(file);
    wallets.push_back(std::move(stored));
  }
  return true;
}

bool wallet_details(const std::string& id, WalletDetails& details, std::string& error) {
  details = WalletDetails{};
  korb::RegistryLock registry_lock;
  if (!check_listed_wallet(id, details.name, details.hd, error)) return false;
  WalletInSession loaded(id);
  if (!loaded.loaded()) {
    error = "wallet " + id + " would not load";
    return false;
  }
  const wallet::WalletSession& session = wallet::session();
  details.id = id;
  details.address = session.payment_address;
  details.identity_public_key = session.identity_public_key;
  details.identity_address = session.identity_address;
  details.paymail = session.paymail_handle;
  details.recv = session.recv;
  details.show = session.show;
  if (!details.hd) return true;
  std::string private_key, public_key, address;
  if (!korb::encryption_keys(details.encryption_public_key, private_key, error)) return false;
  wipe_text(private_key);
  const bool ordinals = wallet::derive_path_keys(wallet::ordinals_path(session.recv[5]),
                                                 private_key, public_key, address);
  wipe_text(private_key);
  if (!ordinals) {
    error = "could not derive the ordinals address";
    return false;
  }
  details.ordinals_address = address;
  return true;
}

bool set_wallet_paymail(const std::string& id, const std::string& handle, std::string& name,
                        std::string& error) {
  name = korb::normalize_registry_name(handle);
  if (name.empty()) {
    error = "need a paymail name (letters, numbers, _ - .)";
    return false;
  }
  if (name.size() > max_paymail_name) {
    error = "a paymail name may be at most " + std::to_string(max_paymail_name) + " characters";
    return false;
  }
  korb::RegistryLock registry_lock;
  if (!registry_lock.held(error)) return false;
  std::string listed_name;
  bool hd = false;
  if (!check_listed_wallet(id, listed_name, hd, error)) return false;
  if (!hd) {
    error = "paymail names need an HD wallet; " + id + " is a single-key wallet";
    return false;
  }
  WalletInSession loaded(id);
  if (!loaded.loaded()) {
    error = "wallet " + id + " would not load";
    return false;
  }
  const wallet::WalletSession& session = wallet::session();
  error = korb::register_local_name(name, session.identity_public_key, session.payment_address);
  if (!error.empty()) return false;

  json file;
  if (!read_wallet_json(id, file, error)) return false;
  file["paymail"] = name;
  const bool written = write_wallet_json(id, file, error);
  korb::wipe_wallet_file_secrets(file);
  if (!written) return false;
  if (!korb::rename_wallet(id, name)) {
    error = "the paymail name is set, but the registry could not be saved";
    return false;
  }
  return true;
}

bool sign_with_wallet(const std::string& id, const std::string& message, std::string& public_key,
                      std::string& signature, std::string& error) {
  korb::RegistryLock registry_lock;
  std::string name;
  bool hd = false;
  if (!check_listed_wallet(id, name, hd, error)) return false;
  WalletInSession loaded(id);
  return korb::identity_sign(message, public_key, signature, error);
}

bool check_wallet_usable(const std::string& id, std::string& error) {
  korb::RegistryLock registry_lock;
  std::string name;
  bool hd = false;
  if (!check_listed_wallet(id, name, hd, error)) return false;
  if (!hd) {
    error = "wallet " + id + " is a single-key wallet; games need an HD wallet";
    return false;
  }
  return true;
}

}  // namespace korb_app
