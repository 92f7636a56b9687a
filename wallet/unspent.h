// Unspent outputs: what the connected wallet can spend. Reads the unspent lists of the two public
// services, keeps one cache entry per wallet address, remembers the outputs this program has
// already spent (an unconfirmed spend must never be spent twice) and the change it has created
// that no service lists yet, and turns all of that into the ordered spend candidates that
// build_transaction selects from. It also keeps the balance the wallet lines show.
//
// Every shared list here (address cache, spent set, pending outputs, last txids, balance memory)
// is guarded by the session mutex. The functions take that re-entrant mutex themselves, so a
// caller that already holds it (send_outputs does for the whole payment) is fine; the fetches
// release it around their network requests and re-check afterwards that the wallet is the same.
//
// Network answers are untrusted: every reader is bounded, never throws, and reads a missing or
// mistyped member as absent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "wallet/hashes.h"
#include "wallet/secret.h"

namespace wallet {

// One unspent output as a service lists it. Only entries with a 64-hex txid and a value above
// zero are ever stored.
struct UtxoRef {
  std::string txid;  // 64 hex characters, display order
  uint32_t vout = 0;
  int64_t value = 0;  // satoshis
};

// An output of one of our own transactions that pays the wallet, kept until a service lists it or
// it is spent. Holds the owner's keys so it can be spent before any service knows it.
struct PendingOutput {
  std::string txid;
  uint32_t vout = 0;
  int64_t value = 0;
  SecretString private_key_hex;
  std::string public_key_hex;
  Hash160 owner_hash160{};
};

// One output offered to build_transaction, with the keys that can spend it.
struct SpendCandidate {
  std::string txid;
  uint32_t vout = 0;
  int64_t value = 0;
  Bytes unlocking_script;         // empty until signed
  Bytes previous_locking_script;  // empty unless known
  SecretString private_key_hex;
  std::string public_key_hex;
  Hash160 owner_hash160{};
};

// Empties a candidate list (their private keys wipe themselves).
void wipe_candidates(std::vector<SpendCandidate>& candidates);

// ---- Outpoints -------------------------------------------------------------------------------

// "<lower-case txid>:<index>".
std::string outpoint_key(const std::string& txid, uint32_t vout);
// The txid with its 32 bytes reversed (hex pairs taken from the end), lower case; "" unless the
// txid is 64 hex characters.
std::string reversed_txid(const std::string& txid);
// Same index, and txids equal ignoring case or equal after reversing one of them.
[[nodiscard]] bool same_outpoint(const std::string& txid_a, uint32_t vout_a,
                                 const std::string& txid_b, uint32_t vout_b);
// True for exactly 64 hexadecimal characters (either case).
[[nodiscard]] bool is_txid_hex(const std::string& text);

// ---- Readers of service answers (pure, used by the fetches and the fuzz tests) ---------------

// A WhatsOnChain unspent list: a bare array, or an object whose "result" is an array. Appends the
// usable elements; false only when the document has neither shape. An empty list is a success.
[[nodiscard]] bool parse_unspent_list(const nlohmann::json& document, std::vector<UtxoRef>& out);
// A GorillaPool unspent list: skips inscriptions, tokens, outputs locked by a script ("lock") and
// anything of 1 satoshi or less.
// False when the document is not an array.
[[nodiscard]] bool parse_spendable_list(const nlohmann::json& document, std::vector<UtxoRef>& out);

// A decoded transaction (WhatsOnChain "/tx/<txid>"; also the raw "/tx/<txid>/hex" read back).
struct DecodedInput {
  std::string txid;
  uint32_t vout = 0;
};
struct DecodedOutput {
  uint32_t n = 0;
  int64_t value = 0;  // satoshis, converted from coins with rounding
  Bytes script;       // the locking script, from "scriptPubKey"."hex"
};
struct DecodedTransaction {
  std::vector<DecodedInput> inputs;
  std::vector<DecodedOutput> outputs;
};
// Reads the inputs and outputs it can; malformed elements are skipped. False when the document
// is not an object.
[[nodiscard]] bool parse_decoded_transaction(const nlohmann::json& document,
                                             DecodedTransaction& out);

// ---- Fetches ------------------------------------------------------------------------------------

// WhatsOnChain reader with fallbacks, largest value first, duplicates dropped and outputs spent in
// the mempool removed (asking for at most 50 mempool transactions). "/unspent/all" is read page
// by page (its next-page token, at most 50 pages). An address the service has never seen reads as
// an empty list, whether it answers 404 or an empty list. `confirmed` is set when the confirmed
// list was read.
// Errors: the request's text, "bad utxo list" or "no utxos". No lock needed.
[[nodiscard]] bool fetch_unspent_balance_source(const std::string& address,
                                                std::vector<UtxoRef>& out, std::string& error,
                                                bool& confirmed);
// Sum of an address's unspent outputs as the balance source reads them (the weekly pot), or -1.
int64_t fetch_address_unspent_total(const std::string& address);
// GorillaPool reader; true when the list is not empty. No lock needed.
[[nodiscard]] bool fetch_spendable_outputs(const std::string& address, std::vector<UtxoRef>& out);

// The wallet's addresses: the stored address of a single-key wallet; for an HD wallet receive
// addresses 0..recv[1] (at most the first 1000), then the identity address, each once. Empty
// without a session.
std::vector<std::string> wallet_addresses();

// Before each send attempt: fetches every wallet address whose cache entry is missing or not
// valid (a valid entry of any age is used as it is). Errors: "no wallet", "wallet changed.".
[[nodiscard]] bool ensure_fresh_unspent(std::string& error);
// For the wallet status read: fetches every address whose entry is missing, not valid, or 8
// seconds old or more. Errors as ensure_fresh_unspent.
[[nodiscard]] bool refresh_stale_unspent(bool read_ordinals_index, std::string& error);
// After a payment failed for missing inputs: refetches every address from GorillaPool and
// merges what it lists (minus the spent set) into the cache.
void refresh_spendable();
// Marks every cache entry not valid, so the next payment reads every address again. For a
// broadcast refused in a way that says the cached outputs may not be spendable, without saying
// which of them are spent.
void invalidate_unspent_cache();

// ---- Spend candidates -------------------------------------------------------------------------

// The ordered spend candidates: address by address (receive 0 first, the identity address last),
// each in cache order, then the pending outputs; as a last resort the outputs of the last sent or
// broadcast transaction that pay the wallet. True when at least one was found. The caller wipes
// the list with wipe_candidates.
[[nodiscard]] bool gather_spend_candidates(std::vector<SpendCandidate>& out, int64_t& total,
                                           std::string& error);

// ---- Spent set ----------------------------------------------------------------------------------

// Records an outpoint as spent by this program (both byte orders) and saves the set to
// "<data dir>/ord_snap/<wallet key>_spent.json".
void mark_outpoint_spent(const std::string& txid, uint32_t vout);
[[nodiscard]] bool is_outpoint_spent(const std::string& txid, uint32_t vout);
// Replaces the in-memory set with the saved one of the current wallet. Called when a wallet is
// loaded; the set also reloads by itself whenever the wallet key changes.
void load_spent_set();
// Removes every spent outpoint from all cache entries and from the pending list.
void drop_spent_outputs();

// The key that names the wallet's files: the bound wallet id, else the identity address, else the
// stored address; characters other than letters and digits become "_", at most 80 characters,
// "wallet" when empty (and nothing is saved under that key).
std::string wallet_key();

// ---- Pending outputs ------------------------------------------------------------------------

// Adds a pending output unless its outpoint is already pending, and adds it to the cache entry
// of `address` (created fresh and valid when missing). False when it was already pending.
bool add_pending_output(const PendingOutput& output, const std::string& address);
[[nodiscard]] bool is_pending_outpoint(const std::string& txid, uint32_t vout);
std::vector<PendingOutput> pending_outputs_snapshot();

// ---- Last transactions ----------------------------------------------------------------------

// The last transaction send_outputs recorded and the last one broadcast successfully; both are
// forgotten with the session. Only 64-hex txids are kept.
void set_last_sent_txid(const std::string& txid);
std::string last_sent_txid();
void set_last_broadcast_txid(const std::string& txid);
std::string last_broadcast_txid();

// ---- Balance ----------------------------------------------------------------------------------

// The payment address's spendable balance in satoshis, or -1 when it is not known.
int64_t wallet_balance();
// The balance to show after a read (spent 0) or a payment (spent = outputs + fee); stores it in
// "<data dir>/tx_hist/<wallet key>_face.json". Negative `computed` is returned as it is.
int64_t settle_balance(int64_t computed, int64_t spent);
// The balance file's "sats" when its "address" is the payment address, else -1.
int64_t read_settled_balance();

// The balance steps of the wallet status read: refreshes stale entries, then settles the balance.
struct StatusBalance {
  bool unspent_read = false;  // at least one wallet address has a readable unspent list
  int64_t balance = -1;       // as settled for display
};
StatusBalance status_balance(bool read_ordinals_index);

// ---- Lifecycle ----------------------------------------------------------------------------------

// Forgets the address cache, the pending outputs, the ordinals records, the last txids and the
// balance memory, and stops fetches in flight from starting more. Called when the session is
// cleared. The spent set stays (it is per wallet key and reloads when the key changes).
void clear_unspent_state();

}  // namespace wallet
