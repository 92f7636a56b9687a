// The wallet library's central module: the process-wide wallet session, its re-entrant mutex and
// derivation cache, the text and event sinks, the hooks the Korb bridge installs, the key refresh
// and the three lookups that map an address or hash160 back to the wallet's own keys.
//
// Everything in the session is only touched while holding session_mutex(). The functions below
// that read the session take the (re-entrant) mutex themselves, so callers that already hold it
// are fine and callers that do not are still safe.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "wallet/hashes.h"
#include "wallet/secret.h"

namespace wallet {

struct OwnedInscription {
  std::string origin, txid;
  int64_t vout = 0;
  std::string type, address, name, icon;
  bool hidden = false, created = false;
};

struct WalletSession {
  // The payment key. The session counts as loaded exactly when the private key and the address
  // are both non-empty. For a single-key (legacy) wallet these hold the stored key.
  SecretString payment_private_key;
  std::string payment_public_key, payment_address;
  SecretString mnemonic;
  // Derivation cache, filled lazily by derive_path_keys, wiped by reset_derivation_cache.
  SecretBytes<64> seed;
  bool seed_ready = false;
  SecretBytes<32> master_key, master_chain_code;
  bool master_ready = false;
  bool hd = false, backup = false;
  // recv[1]: highest receive index in use (payment account); recv[5]: ordinals key index.
  std::array<uint32_t, 6> recv{};
  uint32_t show = 0;  // receive index of the payment key, never above recv[1]
  std::string identity_public_key, identity_address;
  std::string paymail_handle, ord_avatar;
  std::vector<OwnedInscription> ord_owned;
  nlohmann::json contacts = nlohmann::json::array();  // carried through unchanged
};

// The session mutex (re-entrant). It also guards the wallet core's shared lists.
std::recursive_mutex& session_mutex();
// The session record; only touched while holding session_mutex().
WalletSession& session();
// True when the payment private key and payment address are both non-empty.
bool session_loaded();
// Wipes seed, master key and chain code and clears both ready flags; also
// drops the cache of derived receive addresses. Call whenever a wallet is (re)loaded.
void reset_derivation_cache();
// Cleanses every secret of the session, then empties every item.
void wipe_session();

// Text and event sinks. The pointers are guarded by the log mutex; the sink is called without it.
using TextSink = void (*)(const std::string& line);
using EventSink = void (*)(const std::string& event);
void set_text_sink(TextSink sink);
void set_event_sink(EventSink sink);
// Passes a line to the text sink, adding "\n" when it is missing. No sink: dropped.
void log_text(const std::string& line);
// Builds "[OW-KORB]" 0x1F kind (0x1F field)... with at most three fields and passes it to the
// event sink. No sink: dropped.
void emit_event(const std::string& kind, const std::vector<std::string>& fields);
// Emits "error" with the text and returns the text unchanged.
std::string report_error(const std::string& text);

// What the Korb bridge tells the wallet library. Absent hooks read as "not connected",
// "no bound wallet" and "no data directory"; an absent ordinals hook drops the address.
struct BridgeHooks {
  bool (*is_connected)() = nullptr;
  std::string (*bound_wallet_id)() = nullptr;
  std::string (*data_directory)() = nullptr;  // the Korb data directory, no trailing slash
  void (*record_ordinals_address)(const std::string& identity_pubkey,
                                  const std::string& address) = nullptr;
};
void install_bridge_hooks(const BridgeHooks& hooks);
const BridgeHooks& bridge_hooks();

// Recomputes the payment, identity and ordinals keys from the session. For a single-key wallet it
// only reports whether a stored address exists. Clamps session().show to recv[1] (also stored).
// On a payment-key failure the stored payment key is left unchanged and false is returned.
[[nodiscard]] bool refresh_wallet_keys();

// The wallet's private and public key (hex) for an address: the stored key of a single-key
// wallet, or the first of receive keys 0..recv[1] then the identity key of an HD wallet.
// Outputs are cleared first; false when the address does not decode or is not the wallet's.
[[nodiscard]] bool find_key_for_address(const std::string& address, std::string& private_key_hex,
                                        std::string& public_key_hex);

// An outpoint together with the hash160 of the key that owns it. The unspent-output module keeps
// its spent list in this shape so is_own_hash160 can read it directly.
struct OwnedOutpoint {
  std::string txid;  // 64 hex characters, display order
  uint32_t vout = 0;
  Hash160 owner_hash160{};
};

// True when the hash is the extra hash, the owner of any listed output, the stored address's hash,
// or (HD wallet) the hash of a receive address 0..recv[1] or of the identity address.
[[nodiscard]] bool is_own_hash160(const Hash160& hash, const std::vector<OwnedOutpoint>& spent,
                                  const Hash160* extra_hash);

// Address source for address_for_hash160 beyond the wallet's own keys: the unspent-output module
// installs a function that appends the addresses of its cache (it is called with the session
// mutex held). Not installed: only the wallet's own addresses are searched.
using CachedAddressSource = void (*)(std::vector<std::string>& addresses);
void set_cached_address_source(CachedAddressSource source);

// The stored address, then (HD) receive addresses 0..recv[1] and the identity address, then the
// cached addresses; the first whose hash160 matches, else "".
std::string address_for_hash160(const Hash160& hash);

}  // namespace wallet
