#pragma once
// The game's in-memory copy of the bound wallet: loading the wallet file (HD or single-key form)
// into wallet::session(), refreshing and saving it, the checks every arcade action makes, and
// the two identity-derived key services. The session record, its mutex and the text and event
// sinks live in wallet/ow_korb_wallet.h; everything here takes wallet::session_mutex().
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "wallet/ow_korb_wallet.h"

namespace korb {

using wallet::emit_event;
using wallet::log_text;
using wallet::report_error;

// Loads the bound wallet's file into the session unless it is loaded. True when loaded.
[[nodiscard]] bool ensure_session();

// True when a wallet is bound, loads, and is an HD wallet. A single-key wallet loads but never
// counts as connected.
[[nodiscard]] bool is_connected();

// Re-reads what the wallet application may change while the game runs: "recv", "ord_avatar",
// "paymail". Derives the keys again when the payment counter moved. Only when loaded.
void refresh_session();

// Writes the loaded HD session back to the wallet file, atomically (temporary file, flush,
// rename), with two-space indent and no final line break, under the registry lock. What the
// wallet application changed in the file since the load (counters, backup flag, avatar,
// inscriptions, contacts, unknown members) is taken over first, so only the paymail name is the
// session's own. False when no wallet is bound, the session is not an HD wallet, the file there
// is damaged or holds another wallet, or it could not be written.
[[nodiscard]] bool save_session();

// Runs after a successful connect or reconnect: refresh, paymail step with events, avatar sync,
// then the "paymail" event.
void session_ready();

// Wipes every secret of the session and empties it.
void clear_session();

// Display information for the main window. From the loaded session, or (without loading keys)
// from the bound wallet's file. False when no wallet is bound or its file is unusable.
[[nodiscard]] bool wallet_info(std::string& address, std::string& paymail, bool& hd);

// handle + "@" + the service's paymail domain, or empty for an empty handle.
std::string full_paymail_address(const std::string& handle);

// The session's full paymail address after a quiet paymail step, or empty.
std::string paymail_address();

// Signs `message` as a Bitcoin Signed Message with the identity key. Out: the identity public
// key hex and Base64 of the 64-byte r||s. Errors: "Korb HD wallet not connected",
// "could not derive Korb identity key", "Korb identity sign failed".
[[nodiscard]] bool identity_sign(const std::string& message, std::string& public_key,
                                 std::string& signature, std::string& error);

// The encryption key pair m/44'/236'/101'/0/0 as hex. The caller wipes `private_key`.
// Errors: "Korb HD wallet not connected", "could not derive Korb encryption key".
[[nodiscard]] bool encryption_keys(std::string& public_key, std::string& private_key,
                                   std::string& error);

struct StatusSnapshot {
  bool loaded = false;
  bool hd = false;
  bool balance_read = false;  // the unspent list of at least one wallet address could be read
  std::int64_t balance = -1;  // satoshis, as settled for display; -1 unknown
  std::string address;
};

// The status worker's job: load and refresh the session, paymail step and avatar sync, the
// balance, then the "status" event with "hd" or "legacy".
void status_snapshot(StatusSnapshot& result);

// The HD wallet file object of a session ("version" 2, sorted keys): what `save_session`
// writes. The wallet application uses it to write new wallets.
nlohmann::json build_wallet_file(const wallet::WalletSession& session);

// Fills `out` (which should be empty) from a parsed wallet file without touching the process
// session: the fields of either form, mnemonic checked, counters read and show clamped. HD keys
// are not derived (that is wallet::refresh_wallet_keys); a single-key wallet's missing public
// key and address are made from "priv". False for an invalid mnemonic, a single-key wallet
// whose "priv" is not 64 characters or gives no address, or a file that is not an object.
// Used by `ensure_session` and the wallet application. The caller wipes `out` on failure.
[[nodiscard]] bool read_wallet_fields(const nlohmann::json& file, wallet::WalletSession& out);

// Wipes the secrets of a parsed wallet file ("mnemonic", "priv") before it is dropped.
void wipe_wallet_file_secrets(nlohmann::json& file);
// Wipes the secrets `read_wallet_fields` filled in (mnemonic, private key).
void wipe_wallet_fields(wallet::WalletSession& fields);

// Installs the hooks the wallet library calls back through (is_connected, bound wallet id,
// data directory, ordinals address). `attach_app` does this; the wallet application may too.
void install_korb_hooks();

}  // namespace korb
