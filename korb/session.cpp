#include "korb/session.h"

#include <algorithm>

#include "config/deploy_config.h"
#include "korb/atomic_file.h"
#include "korb/data_directory.h"
#include "korb/paymail.h"
#include "korb/paymail_claim.h"
#include "korb/registry.h"
#include "wallet/hd_keys.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/secret.h"
#include "wallet/signatures.h"
#include "wallet/unspent.h"

namespace korb {

namespace {

using Json = nlohmann::json;

// The bound wallet's file, parsed (only when it and its folders are the user's own), that
// wipes its secrets when it goes out of scope.
struct WalletFile {
  Json value;
  WalletFile() : value(read_wallet_file()) {}
  ~WalletFile() { wipe_wallet_file_secrets(value); }
  WalletFile(const WalletFile&) = delete;
  WalletFile& operator=(const WalletFile&) = delete;
};

std::string string_member(const Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool bool_member(const Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

// Receive indices stay below the hardened range: index 2^31 and up would derive a hardened
// child, an address no other wallet of these words shows or watches.
constexpr std::uint64_t max_receive_index = wallet::kHardened - 1;

// A receive counter: a non-negative integer, capped at the last non-hardened index.
bool counter_value(const Json& value, uint32_t& out) {
  if (!value.is_number_unsigned()) return false;
  out = static_cast<uint32_t>(std::min(value.get<std::uint64_t>(), max_receive_index));
  return true;
}

// The first six counters of "recv"; elements that are not counters leave theirs at 0.
std::array<uint32_t, 6> read_counters(const Json& recv) {
  std::array<uint32_t, 6> counters{};
  if (!recv.is_array()) return counters;
  for (std::size_t i = 0; i < counters.size() && i < recv.size(); ++i) {
    (void)counter_value(recv[i], counters[i]);
  }
  return counters;
}

std::vector<wallet::OwnedInscription> read_owned(const Json& file) {
  std::vector<wallet::OwnedInscription> owned;
  auto it = file.find("ord_owned");
  if (it == file.end() || !it->is_array()) return owned;
  for (const Json& element : *it) {
    if (!element.is_object()) continue;
    wallet::OwnedInscription record;
    record.origin = string_member(element, "origin");
    if (record.origin.empty()) continue;
    record.txid = string_member(element, "txid");
    auto vout = element.find("vout");
    if (vout != element.end() && vout->is_number_integer()) record.vout = vout->get<int64_t>();
    record.type = string_member(element, "type");
    record.address = string_member(element, "address");
    record.name = string_member(element, "name");
    record.icon = string_member(element, "icon");
    record.hidden = bool_member(element, "hidden");
    record.created = bool_member(element, "created");
    owned.push_back(std::move(record));
  }
  return owned;
}

// The members both wallet forms share.
void read_common_fields(const Json& file, wallet::WalletSession& out) {
  out.paymail_handle = string_member(file, "paymail");
  out.ord_avatar = string_member(file, "ord_avatar");
  out.ord_owned = read_owned(file);
  auto contacts = file.find("contacts");
  out.contacts = contacts != file.end() && contacts->is_array() ? *contacts : Json::array();
}

// Members of the HD wallet file the game writes itself; every other member belongs to the wallet
// application and is carried through a save.
bool is_wallet_file_member(const std::string& key) {
  for (const char* known : {"version", "mnemonic", "backup", "recv", "show", "identity", "address",
                            "paymail", "ord_avatar", "ord_owned", "contacts"}) {
    if (key == known) return true;
  }
  return false;
}

// The game saves only to add the paymail name it learned. Everything else in the file may have
// been changed by the wallet application since the load (new receive addresses, a confirmed
// backup, contacts, members the game does not know), so the session takes those from the file
// instead of writing its older copy back; `kept` receives the unknown members. False when the file
// is not this wallet's (damaged, single-key or another mnemonic): it must never be replaced.
bool take_over_stored_wallet(const Json& stored, Json& kept) {
  wallet::WalletSession current;
  wallet::WalletSession& s = wallet::session();
  const bool same =
      read_wallet_fields(stored, current) && current.hd && current.mnemonic == s.mnemonic;
  wipe_wallet_fields(current);
  if (!same) return false;
  const uint32_t old_counter = s.recv[1];
  const uint32_t old_show = s.show;
  s.backup = current.backup;
  s.recv = current.recv;
  s.show = current.show;
  s.ord_avatar = current.ord_avatar;
  s.ord_owned = std::move(current.ord_owned);
  s.contacts = std::move(current.contacts);
  // On failure the previous payment key stays in use, which is still a key of this wallet.
  if (s.recv[1] != old_counter || s.show != old_show) (void)wallet::refresh_wallet_keys();
  for (auto it = stored.begin(); it != stored.end(); ++it) {
    if (!is_wallet_file_member(it.key())) kept[it.key()] = it.value();
  }
  return true;
}

bool is_hex64(const std::string& s) {
  return s.size() == 64 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

}  // namespace

void wipe_wallet_file_secrets(Json& file) {
  if (!file.is_object()) return;
  for (const char* key : {"mnemonic", "priv"}) {
    auto it = file.find(key);
    if (it != file.end() && it->is_string()) wallet::wipe_string(it->get_ref<std::string&>());
  }
}

void wipe_wallet_fields(wallet::WalletSession& fields) {
  fields.mnemonic.clear();
  fields.payment_private_key.clear();
}

bool read_wallet_fields(const Json& file, wallet::WalletSession& out) {
  if (!file.is_object()) return false;
  auto mnemonic = file.find("mnemonic");
  if (mnemonic != file.end() && mnemonic->is_string()) {
    const std::string& phrase = mnemonic->get_ref<const std::string&>();
    if (!wallet::validate_mnemonic(phrase)) return false;
    out.mnemonic = phrase;
    out.hd = true;
    out.backup = bool_member(file, "backup");
    auto recv = file.find("recv");
    out.recv = recv != file.end() ? read_counters(*recv) : std::array<uint32_t, 6>{};
    out.show = out.recv[1];
    auto show = file.find("show");
    uint32_t stored_show = 0;
    if (show != file.end() && counter_value(*show, stored_show)) {
      out.show = std::min(stored_show, out.recv[1]);
    }
    read_common_fields(file, out);
    return true;
  }
  // Single-key wallet.
  out.hd = false;
  out.payment_private_key = string_member(file, "priv");
  out.payment_public_key = string_member(file, "pub");
  out.payment_address = string_member(file, "address");
  read_common_fields(file, out);
  if (out.payment_private_key.size() != 64) return false;
  if (out.payment_public_key.empty() &&
      !wallet::public_key_from_private(out.payment_private_key, out.payment_public_key)) {
    return false;
  }
  if (out.payment_address.empty()) {
    out.payment_address = wallet::address_from_public_key(out.payment_public_key);
  }
  return !out.payment_address.empty();
}

Json build_wallet_file(const wallet::WalletSession& s) {
  Json file = Json::object();
  file["version"] = 2;
  file["mnemonic"] = s.mnemonic.str();
  file["backup"] = s.backup;
  file["recv"] = Json::array();
  for (uint32_t counter : s.recv) file["recv"].push_back(counter);
  file["show"] = s.show;
  file["identity"] = s.identity_address;
  file["address"] = s.payment_address;
  if (!s.paymail_handle.empty()) file["paymail"] = s.paymail_handle;
  if (!s.ord_avatar.empty()) file["ord_avatar"] = s.ord_avatar;
  if (!s.ord_owned.empty()) {
    Json owned = Json::array();
    for (const wallet::OwnedInscription& r : s.ord_owned) {
      Json element = {
          {"origin", r.origin}, {"txid", r.txid}, {"vout", r.vout}, {"created", r.created}};
      if (!r.type.empty()) element["type"] = r.type;
      if (!r.address.empty()) element["address"] = r.address;
      if (!r.name.empty()) element["name"] = r.name;
      if (!r.icon.empty()) element["icon"] = r.icon;
      if (r.hidden) element["hidden"] = true;
      owned.push_back(std::move(element));
    }
    file["ord_owned"] = std::move(owned);
  }
  file["contacts"] = s.contacts.is_array() ? s.contacts : Json::array();
  return file;
}

bool ensure_session() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  if (wallet::session_loaded()) return true;
  if (bound_wallet_id().empty()) return false;
  WalletFile file;
  if (file.value.is_discarded()) return false;

  wallet::wipe_session();
  wallet::reset_derivation_cache();
  wallet::WalletSession& s = wallet::session();
  bool ok = read_wallet_fields(file.value, s);
  // refresh_wallet_keys clamps show to recv[1] again and derives the payment key from it.
  if (ok && s.hd) ok = wallet::refresh_wallet_keys();
  if (!ok) wallet::wipe_session();
  return ok;
}

bool is_connected() {
  if (is_attached() && read_bound_wallet_id().empty() && bound_wallet_id().empty()) return false;
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  return ensure_session() && wallet::session().hd;
}

void refresh_session() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  if (!wallet::session_loaded()) return;
  WalletFile file;
  // A file caught mid-change by another writer, or gone, is no news: keep what we have.
  if (!file.value.is_object()) return;
  wallet::WalletSession& s = wallet::session();
  uint32_t old_payment_counter = s.recv[1];
  auto recv = file.value.find("recv");
  if (recv != file.value.end() && recv->is_array()) s.recv = read_counters(*recv);
  s.ord_avatar = string_member(file.value, "ord_avatar");
  s.paymail_handle = string_member(file.value, "paymail");
  if (s.hd && s.recv[1] != old_payment_counter) {
    // On failure the previous payment key stays in use, which is still a key of this wallet.
    (void)wallet::refresh_wallet_keys();
  }
}

bool save_session() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  std::string id = bound_wallet_id();
  if (id.empty()) return false;
  const wallet::WalletSession& s = wallet::session();
  // Only an HD wallet can be written in the HD form; writing a single-key session that way
  // would replace its key with an empty mnemonic.
  if (!s.hd || s.mnemonic.empty()) return false;
  // The wallet application rewrites this file under the registry lock; holding it too keeps
  // either program from writing over a change the other has just made.
  RegistryLock registry_lock;
  std::string error;
  if (!registry_lock.held(error) || !check_wallet_folder(id, true, error)) return false;
  Json kept = Json::object();
  if (path_exists(wallet_file_path())) {
    // A symlink or another user's file here reads as damaged and is never replaced.
    WalletFile stored;
    if (!take_over_stored_wallet(stored.value, kept)) return false;
  }
  Json file = build_wallet_file(s);
  for (auto it = kept.begin(); it != kept.end(); ++it) file[it.key()] = it.value();
  wipe_wallet_file_secrets(kept);
  const wallet::SecretString text = json_text(file, 2, false);
  wipe_wallet_file_secrets(file);
  return write_file_atomic(wallet_file_path(), text, error);
}

std::string full_paymail_address(const std::string& handle) {
  if (handle.empty()) return {};
  return handle + "@" + std::string(config::deploy_config().paymail_domain);
}

void session_ready() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  refresh_session();
  paymail_step(true);
  if (!wallet::session().identity_public_key.empty()) (void)sync_avatar();
  std::string handle = wallet::session().paymail_handle;
  if (handle.empty()) {
    emit_event("paymail", {});
  } else {
    emit_event("paymail", {full_paymail_address(handle)});
  }
}

void clear_session() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  wallet::wipe_session();
  // The address cache, pending change, last txids and balance memory belong to this wallet.
  wallet::clear_unspent_state();
}

bool wallet_info(std::string& address, std::string& paymail, bool& hd) {
  address.clear();
  paymail.clear();
  hd = false;
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  const wallet::WalletSession& s = wallet::session();
  if (wallet::session_loaded()) {
    address = s.payment_address;
    hd = s.hd;
    paymail = full_paymail_address(s.paymail_handle);
    return true;
  }
  if (bound_wallet_id().empty()) return false;
  // Peek into the file without deriving keys: the window shows this before the first load.
  WalletFile file;
  if (!file.value.is_object()) return false;
  auto mnemonic = file.value.find("mnemonic");
  auto priv = file.value.find("priv");
  hd = mnemonic != file.value.end() && mnemonic->is_string();
  if (!hd && (priv == file.value.end() || !priv->is_string())) return false;
  address = string_member(file.value, "address");
  paymail = full_paymail_address(normalize_paymail_handle(string_member(file.value, "paymail")));
  return true;
}

std::string paymail_address() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  if (!wallet::session_loaded()) return {};
  paymail_step(false);
  return full_paymail_address(wallet::session().paymail_handle);
}

namespace {

// Derives one fixed key of the loaded HD wallet (the caller holds the session mutex). On failure
// `error` is "Korb HD wallet not connected" or `derive_error`, and nothing secret is left behind.
bool derive_hd_key(const wallet::DerivationPath& path, std::string& priv, std::string& pub,
                   std::string& error, const char* derive_error) {
  if (!ensure_session() || !wallet::session().hd) {
    error = "Korb HD wallet not connected";
    return false;
  }
  std::string address;
  if (!wallet::derive_path_keys(path, priv, pub, address) || !is_hex64(priv) || pub.empty()) {
    wallet::wipe_string(priv);
    pub.clear();
    error = derive_error;
    return false;
  }
  return true;
}

}  // namespace

bool identity_sign(const std::string& message, std::string& public_key, std::string& signature,
                   std::string& error) {
  public_key.clear();
  signature.clear();
  error.clear();
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  wallet::SecretString priv;
  std::string pub;
  if (!derive_hd_key(wallet::identity_path(), priv, pub, error,
                     "could not derive Korb identity key")) {
    return false;
  }
  std::string sig;
  const bool ok = wallet::identity_signature(priv, message, sig);
  if (!ok || sig.empty()) {
    error = "Korb identity sign failed";
    return false;
  }
  public_key = pub;
  signature = sig;
  return true;
}

bool encryption_keys(std::string& public_key, std::string& private_key, std::string& error) {
  public_key.clear();
  wallet::wipe_string(private_key);
  error.clear();
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  return derive_hd_key(wallet::encryption_path(), private_key, public_key, error,
                       "could not derive Korb encryption key");
}

void status_snapshot(StatusSnapshot& result) {
  result = StatusSnapshot{};
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    result.loaded = ensure_session();
    if (result.loaded) {
      refresh_session();
      paymail_step(true);
      if (!wallet::session().identity_public_key.empty()) (void)sync_avatar();
      result.hd = wallet::session().hd;
      result.address = wallet::session().payment_address;
    }
  }
  if (result.loaded) {
    const wallet::StatusBalance balance = wallet::status_balance(true);
    result.balance_read = balance.unspent_read;
    result.balance = balance.balance;
  }
  emit_event("status", {result.hd ? "hd" : "legacy"});
  if (result.loaded) paymail_status_steps();
}

void install_korb_hooks() {
  wallet::BridgeHooks hooks;
  hooks.is_connected = [] { return is_connected(); };
  hooks.bound_wallet_id = [] { return bound_wallet_id(); };
  hooks.data_directory = [] { return korb_data_dir(); };
  hooks.record_ordinals_address = [](const std::string& pubkey, const std::string& address) {
    sync_ordinals_address(pubkey, address);
  };
  wallet::install_bridge_hooks(hooks);
}

}  // namespace korb
