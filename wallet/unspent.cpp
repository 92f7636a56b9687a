#include "wallet/unspent.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wallet/encoding.h"
#include "wallet/hd_keys.h"
#include "wallet/http_client.h"
#include "wallet/keys.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/private_file.h"
#include "wallet/transaction.h"

namespace wallet {
namespace {

using Clock = std::chrono::steady_clock;

// An entry read less than this long ago is fresh enough for a status read.
constexpr auto kFreshFor = std::chrono::seconds(8);
// Ordinals records (and a failure of the ordinals index) count for this long.
constexpr auto kOrdinalsFreshFor = std::chrono::seconds(20);
// A plain status read may not jump far above the balance a payment just left for this long.
constexpr auto kExpectedHoldsFor = std::chrono::seconds(45);
constexpr long kWocTimeout = 10;
constexpr long kOrdinalsTimeout = 20;
// The mempool filter asks for every transaction in the address's unconfirmed history; a real
// wallet address has a handful, so a longer list is cut rather than allowed to run for hours.
constexpr std::size_t kMaxMempoolHistory = 50;
// The wallet's receive addresses are read from its file; a corrupt or hostile counter must not
// make us derive and fetch billions of addresses (each costs a derivation and a fetch thread).
constexpr uint64_t kMaxReceiveAddresses = 1000;
// Address fetches run one thread per address, at most this many at once.
constexpr std::size_t kMaxFetchThreads = 32;
// Largest list we keep for one address; far above what any wallet of ours holds.
constexpr std::size_t kMaxUtxosPerAddress = 20000;
// A paged unspent list is followed this far (50,000 confirmed outputs, past the limit above).
constexpr std::size_t kMaxUnspentPages = 50;
// A next-page token is a short opaque text; a longer one is not followed.
constexpr std::size_t kMaxPageToken = 1024;
// No output can hold more than every coin there will ever be; a larger value is not a real one.
constexpr int64_t kMaxSatoshis = 2100000000000000;
// Largest spent-set file we read back.
constexpr std::size_t kMaxSpentFileBytes = 16u * 1024u * 1024u;
constexpr std::size_t kMaxBalanceFileBytes = 64u * 1024u;

struct CacheEntry {
  std::string address;
  std::vector<UtxoRef> utxos;
  Clock::time_point fetched{};
  bool valid = false;
};

// What the ordinals index said about an address's inscription outputs. This build has no
// ordinals index, so every record is empty and incomplete, which keeps every 1-satoshi output
// protected (it may carry an inscription we cannot see).
struct OrdinalsRecord {
  std::string address;
  std::set<std::string> outpoints;
  Clock::time_point stamped{};
  bool complete = false;
};

struct UnspentState {
  std::vector<CacheEntry> cache;
  std::vector<OrdinalsRecord> ordinals;
  std::optional<Clock::time_point> ordinals_index_failed;  // never: the index is never read
  std::unordered_set<std::string> spent;
  std::string spent_wallet_key;
  bool spent_loaded = false;
  std::vector<PendingOutput> pending;
  std::string last_sent_txid, last_broadcast_txid;
  int64_t settled = -1;
  int64_t expected = -1;
  Clock::time_point expected_at{};
};

// Guarded by the session mutex.
UnspentState& state() {
  static UnspentState s;
  return s;
}

// Bumped when the session is cleared; a fetch in flight stops starting new threads.
std::atomic<uint64_t> g_generation{0};

using SessionGuard = std::lock_guard<std::recursive_mutex>;

// ---- Platform seam: handing the session mutex back around network requests --------------------
// The caller may hold the re-entrant session mutex several levels deep (payment, send, refresh).
// A recursive POSIX mutex refuses an unlock by a thread that does not own it (EPERM), so
// unlocking until that happens releases exactly the levels this thread holds. (ThreadSanitizer
// reports that last, refused unlock; it is the defined answer of a recursive mutex, not a bug.)
int release_session_mutex() {
  int depth = 0;
  while (pthread_mutex_unlock(session_mutex().native_handle()) == 0) ++depth;
  return depth;
}

void reacquire_session_mutex(int depth) {
  for (int i = 0; i < depth; ++i) session_mutex().lock();
}

struct SessionRelease {
  int depth = release_session_mutex();
  ~SessionRelease() { reacquire_session_mutex(depth); }
  SessionRelease() = default;
  SessionRelease(const SessionRelease&) = delete;
  SessionRelease& operator=(const SessionRelease&) = delete;
};

bool is_hex_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Percent-encodes a query value: only unreserved characters stay as they are.
std::string query_escape(const std::string& value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : value) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += {'%', kDigits[c >> 4], kDigits[c & 15]};
    }
  }
  return out;
}

std::string data_dir() {
  const auto& hooks = bridge_hooks();
  return hooks.data_directory ? hooks.data_directory() : std::string();
}

// The session counts as there when it is loaded, or when the bridge can load it now.
bool session_available() {
  if (session_loaded()) return true;
  const auto& hooks = bridge_hooks();
  if (hooks.is_connected) (void)hooks.is_connected();
  return session_loaded();
}

// ---- Small JSON readers: absent or mistyped reads as nothing --------------------------------

const nlohmann::json* member(const nlohmann::json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::string string_member(const nlohmann::json& object, const char* name) {
  const auto* value = member(object, name);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

// A non-negative integer member that fits 32 bits.
std::optional<uint32_t> index_member(const nlohmann::json& object, const char* name) {
  const auto* value = member(object, name);
  if (!value) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto v = value->get<uint64_t>();
    if (v <= 0xFFFFFFFFull) return static_cast<uint32_t>(v);
  } else if (value->is_number_integer()) {
    const auto v = value->get<int64_t>();
    if (v >= 0 && v <= 0xFFFFFFFFll) return static_cast<uint32_t>(v);
  }
  return std::nullopt;
}

std::optional<int64_t> integer_member(const nlohmann::json& object, const char* name) {
  const auto* value = member(object, name);
  if (!value) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto v = value->get<uint64_t>();
    if (v <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(v);
    return std::nullopt;
  }
  if (value->is_number_integer()) return value->get<int64_t>();
  return std::nullopt;
}

nlohmann::json parse_json(const std::string& text) {
  try {
    return nlohmann::json::parse(text, nullptr, false);
  } catch (...) {  // allocation failure on a hostile document
    return nlohmann::json::value_t::discarded;
  }
}

// ---- Outpoint sets ---------------------------------------------------------------------------

bool set_has(const std::unordered_set<std::string>& keys, const std::string& txid, uint32_t vout) {
  if (keys.count(outpoint_key(txid, vout))) return true;
  const std::string reversed = reversed_txid(txid);
  return !reversed.empty() && keys.count(outpoint_key(reversed, vout));
}

bool set_has(const std::set<std::string>& keys, const std::string& txid, uint32_t vout) {
  if (keys.count(outpoint_key(txid, vout))) return true;
  const std::string reversed = reversed_txid(txid);
  return !reversed.empty() && keys.count(outpoint_key(reversed, vout));
}

template <typename List>
bool list_has(const List& list, const std::string& txid, uint32_t vout) {
  return std::any_of(list.begin(), list.end(), [&](const auto& item) {
    return same_outpoint(item.txid, item.vout, txid, vout);
  });
}

// Outpoints met so far, for the loops over whole lists: a hostile list of thousands of outputs
// must not cost a pairwise comparison of everything with everything.
struct OutpointKeys {
  std::unordered_set<std::string> keys;

  template <typename List>
  static OutpointKeys of(const List& list) {
    OutpointKeys set;
    for (const auto& item : list) set.add(item.txid, item.vout);
    return set;
  }
  bool has(const std::string& txid, uint32_t vout) const { return set_has(keys, txid, vout); }
  void add(const std::string& txid, uint32_t vout) { keys.insert(outpoint_key(txid, vout)); }
};

// ---- Files -----------------------------------------------------------------------------------

// Replaces the file in one step: a torn spent set would let an unconfirmed spend be spent again.
bool write_file_atomic(const std::string& folder, const std::string& path,
                       const std::string& content) {
  std::string error;
  return make_private_directories(folder) && replace_file(path, content, error);
}

std::string spent_file_folder() {
  const std::string dir = data_dir();
  return dir.empty() ? std::string() : dir + "/ord_snap";
}

void save_spent_set(const UnspentState& s) {
  const std::string folder = spent_file_folder();
  if (folder.empty() || s.spent_wallet_key == "wallet") return;
  std::vector<std::string> keys(s.spent.begin(), s.spent.end());
  std::sort(keys.begin(), keys.end());
  nlohmann::json doc = nlohmann::json::object();
  doc["outpoints"] = keys;
  (void)write_file_atomic(folder, folder + "/" + s.spent_wallet_key + "_spent.json", doc.dump());
}

// Only well-formed keys come back from the file: "<64 hex>:<index>".
bool is_outpoint_key(const std::string& key) {
  if (key.size() < 66 || key.size() > 75 || key[64] != ':') return false;
  if (!is_txid_hex(key.substr(0, 64))) return false;
  return std::all_of(key.begin() + 65, key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void load_spent_set_for(UnspentState& s, const std::string& key) {
  s.spent.clear();
  s.spent_wallet_key = key;
  s.spent_loaded = true;
  const std::string folder = spent_file_folder();
  if (folder.empty() || key == "wallet") return;
  std::string text;
  if (!read_regular_file(folder + "/" + key + "_spent.json", text, kMaxSpentFileBytes)) return;
  const auto doc = parse_json(text);
  const auto* list = member(doc, "outpoints");
  if (!list || !list->is_array()) return;
  for (const auto& item : *list) {
    if (!item.is_string()) continue;
    std::string entry = lower(item.get<std::string>());
    if (is_outpoint_key(entry)) s.spent.insert(std::move(entry));
  }
}

// The spent set belongs to one wallet: when the wallet key moved, the other wallet's set is read.
UnspentState& current_state() {
  auto& s = state();
  const std::string key = wallet_key();
  if (!s.spent_loaded || s.spent_wallet_key != key) load_spent_set_for(s, key);
  return s;
}

// ---- Cache helpers ---------------------------------------------------------------------------

CacheEntry* find_entry(UnspentState& s, const std::string& address) {
  for (auto& entry : s.cache)
    if (entry.address == address) return &entry;
  return nullptr;
}

OrdinalsRecord* find_ordinals(UnspentState& s, const std::string& address) {
  for (auto& record : s.ordinals)
    if (record.address == address) return &record;
  return nullptr;
}

bool ordinals_index_failed_recently(const UnspentState& s) {
  return s.ordinals_index_failed && Clock::now() - *s.ordinals_index_failed < kOrdinalsFreshFor;
}

// An output that may carry an inscription must not be spent as plain coin.
bool protected_as_ordinal(UnspentState& s, const std::string& address, const std::string& txid,
                          uint32_t vout, int64_t value) {
  if (ordinals_index_failed_recently(s)) return value == 1;
  const OrdinalsRecord* record = find_ordinals(s, address);
  const bool fresh = record && Clock::now() - record->stamped < kOrdinalsFreshFor;
  if (fresh && set_has(record->outpoints, txid, vout)) return true;
  return value == 1 && (!fresh || !record->complete);
}

// The address-free form used for pending outputs in the balance.
bool listed_as_ordinal(const UnspentState& s, const std::string& txid, uint32_t vout,
                       int64_t value) {
  if (ordinals_index_failed_recently(s)) return value == 1;
  const auto now = Clock::now();
  return std::any_of(s.ordinals.begin(), s.ordinals.end(), [&](const OrdinalsRecord& record) {
    return now - record.stamped < kOrdinalsFreshFor && set_has(record.outpoints, txid, vout);
  });
}

// Sums of listed values: thousands of outputs at the largest plausible value would pass 64 bits.
void add_saturating(int64_t& sum, int64_t value) {
  if (__builtin_add_overflow(sum, value, &sum)) sum = INT64_MAX;
}

Hash160 hash_of(const std::string& address, bool& ok) {
  Hash160 hash{};
  ok = address_to_hash160(address, hash);
  return hash;
}

void erase_pending_if(UnspentState& s, const std::function<bool(const PendingOutput&)>& drop) {
  std::erase_if(s.pending, drop);
}

// ---- Fetching a set of addresses ---------------------------------------------------------------

struct FetchResult {
  std::string address;
  bool ok = false;
  bool confirmed = false;
  std::vector<UtxoRef> utxos;
  std::string error;
};

using AddressFetcher = void (*)(FetchResult& result);

void fetch_from_woc(FetchResult& result) {
  result.ok =
      fetch_unspent_balance_source(result.address, result.utxos, result.error, result.confirmed);
}

void fetch_from_ordinals(FetchResult& result) {
  result.ok = fetch_spendable_outputs(result.address, result.utxos);
}

// Runs one fetch per address on its own thread with the session mutex released, then retakes it.
// False ("wallet changed.") when the wallet is gone or another one was loaded meanwhile.
bool run_fetches(std::vector<FetchResult>& results, AddressFetcher fetcher, std::string& error) {
  const std::string key_before = wallet_key();
  const uint64_t generation = g_generation.load();
  {
    SessionRelease released;
    for (std::size_t first = 0; first < results.size(); first += kMaxFetchThreads) {
      std::vector<std::thread> threads;
      const std::size_t last = std::min(results.size(), first + kMaxFetchThreads);
      for (std::size_t i = first; i < last && g_generation.load() == generation; ++i) {
        try {
          threads.emplace_back(fetcher, std::ref(results[i]));
        } catch (...) {  // no thread to be had: fetch on this one
          fetcher(results[i]);
        }
      }
      for (auto& thread : threads) thread.join();
    }
  }
  if (g_generation.load() != generation || !session_available() || wallet_key() != key_before) {
    error = "wallet changed.";
    return false;
  }
  return true;
}

// Folds one address's fetched list into its cache entry (and prunes the pending outputs of that
// address once a service has given its full list).
void apply_fetch(UnspentState& s, const FetchResult& result, bool always_keep_old,
                 bool always_prune) {
  CacheEntry* entry = find_entry(s, result.address);
  if (!result.ok) {
    if (!entry) s.cache.push_back({result.address, result.utxos, Clock::now(), false});
    return;
  }
  if (!entry) {
    s.cache.push_back({result.address, {}, Clock::now(), false});
    entry = &s.cache.back();
  }
  const OutpointKeys fetched = OutpointKeys::of(result.utxos);
  OutpointKeys present = fetched;
  std::vector<UtxoRef> merged = result.utxos;
  auto keep = [&](const UtxoRef& utxo) {
    if (set_has(s.spent, utxo.txid, utxo.vout) || present.has(utxo.txid, utxo.vout)) return;
    present.add(utxo.txid, utxo.vout);
    merged.push_back(utxo);
  };
  if (always_keep_old || !result.confirmed)
    for (const auto& old : entry->utxos) keep(old);
  bool hash_ok = false;
  const Hash160 hash = hash_of(result.address, hash_ok);
  if (hash_ok)
    for (const auto& p : s.pending)
      if (p.owner_hash160 == hash) keep({p.txid, p.vout, p.value});
  entry->utxos = std::move(merged);
  entry->fetched = Clock::now();
  entry->valid = true;
  if (hash_ok && (always_prune || result.confirmed)) {
    erase_pending_if(s, [&](const PendingOutput& p) {
      return p.owner_hash160 == hash &&
             (set_has(s.spent, p.txid, p.vout) || !fetched.has(p.txid, p.vout));
    });
  }
}

// This build has no ordinals index: the record is replaced by an empty, incomplete one.
void apply_ordinals_not_read(UnspentState& s, const std::string& address) {
  OrdinalsRecord* record = find_ordinals(s, address);
  if (!record) {
    s.ordinals.push_back({address, {}, Clock::now(), false});
    return;
  }
  record->outpoints.clear();
  record->complete = false;
  record->stamped = Clock::now();
}

bool fetch_and_apply(const std::vector<std::string>& addresses, std::string& error) {
  if (addresses.empty()) return true;
  std::vector<FetchResult> results(addresses.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) results[i].address = addresses[i];
  if (!run_fetches(results, fetch_from_woc, error)) return false;
  auto& s = current_state();
  for (const auto& result : results) {
    apply_fetch(s, result, false, false);
    apply_ordinals_not_read(s, result.address);
  }
  return true;
}

// ---- Candidates --------------------------------------------------------------------------------

struct Gathering {
  std::vector<SpendCandidate>& out;
  int64_t& total;
  std::unordered_set<std::string> offer_locks;  // gallery offers: none in this build
  std::unordered_set<std::string> listings;     // market listings: none in this build
  OutpointKeys offered;
};

void add_spend_candidate(UnspentState& s, Gathering& g, const std::string& address,
                         const std::string& txid, uint32_t vout, int64_t value,
                         const std::string& private_key_hex, const std::string& public_key_hex,
                         const Hash160& owner) {
  if (!is_txid_hex(txid)) return;
  if (set_has(s.spent, txid, vout)) return;
  if (protected_as_ordinal(s, address, txid, vout, value)) return;
  if (set_has(g.listings, txid, vout) ||
      g.offer_locks.count(lower(txid) + "_" + std::to_string(vout)))
    return;
  if (g.offered.has(txid, vout)) return;
  erase_pending_if(
      s, [&](const PendingOutput& p) { return same_outpoint(p.txid, p.vout, txid, vout); });
  SpendCandidate candidate;
  candidate.txid = txid;
  candidate.vout = vout;
  candidate.value = value;
  candidate.private_key_hex = private_key_hex;
  candidate.public_key_hex = public_key_hex;
  candidate.owner_hash160 = owner;
  g.offered.add(txid, vout);
  g.out.push_back(std::move(candidate));
  add_saturating(g.total, value);
}

void offer_address(UnspentState& s, Gathering& g, const std::string& address,
                   const std::string& private_key_hex, const std::string& public_key_hex) {
  const CacheEntry* entry = find_entry(s, address);
  if (!entry || !entry->valid) return;
  bool ok = false;
  const Hash160 owner = hash_of(address, ok);
  if (!ok) return;
  const std::vector<UtxoRef> utxos = entry->utxos;  // add_spend_candidate may touch the lists
  for (const auto& utxo : utxos)
    add_spend_candidate(s, g, address, utxo.txid, utxo.vout, utxo.value, private_key_hex,
                        public_key_hex, owner);
}

void offer_derived(UnspentState& s, Gathering& g, const DerivationPath& path) {
  SecretString private_key_hex;
  std::string public_key_hex, address;
  if (derive_path_keys(path, private_key_hex, public_key_hex, address))
    offer_address(s, g, address, private_key_hex, public_key_hex);
}

void offer_pending(UnspentState& s, Gathering& g) {
  std::vector<PendingOutput> pending = s.pending;
  const WalletSession& session_record = session();
  for (auto& p : pending) {
    bool own_keys = !p.private_key_hex.empty() && !p.public_key_hex.empty();
    const std::string& priv = own_keys ? p.private_key_hex : session_record.payment_private_key;
    const std::string& pub = own_keys ? p.public_key_hex : session_record.payment_public_key;
    add_spend_candidate(s, g, address_from_hash160(p.owner_hash160), p.txid, p.vout, p.value, priv,
                        pub, p.owner_hash160);
  }
}

// One of our own transactions as a service gives it back: the decoded form where one is served,
// else the raw transaction ("/tx/<txid>/hex"; WhatsOnChain has no decoded path), read by our own
// parser. No lock needed.
bool read_own_transaction(const std::string& txid, DecodedTransaction& tx, std::string& error) {
  const std::string base = woc_api_base() + "/tx/" + txid;
  std::string body;
  if (wallet_http_get(base + "/decoded", body, error, kWocTimeout, false) &&
      parse_decoded_transaction(parse_json(body), tx))
    return true;
  if (!wallet_http_get(base + "/hex", body, error, kWocTimeout, false)) return false;
  Transaction raw;
  if (!parse_transaction_hex(body, txid, raw)) {
    error = "bad transaction";
    return false;
  }
  tx = {};
  for (const auto& input : raw.inputs) tx.inputs.push_back({input.txid, input.vout});
  for (std::size_t n = 0; n < raw.outputs.size(); ++n)
    tx.outputs.push_back(
        {static_cast<uint32_t>(n), raw.outputs[n].amount, std::move(raw.outputs[n].script)});
  return true;
}

// Recovers change from one of our own transactions when nothing else is left: its outputs that pay
// the wallet and are not spent become pending outputs. False when the transaction was not read.
bool recover_outputs_of(UnspentState*& s, const std::string& txid, std::string& error) {
  if (!is_txid_hex(txid)) return false;
  const std::string key_before = wallet_key();
  std::string fetch_error;
  DecodedTransaction tx;
  bool fetched = false;
  {
    SessionRelease released;
    fetched = read_own_transaction(txid, tx, fetch_error);
  }
  if (!session_available() || wallet_key() != key_before) {
    error = "wallet changed.";
    return false;
  }
  s = &current_state();
  if (!fetched) {
    error = fetch_error;
    return false;
  }
  for (const auto& output : tx.outputs) {
    Hash160 owner{};
    if (output.value < 1 || !is_p2pkh_script(output.script, owner)) continue;
    if (set_has(s->spent, txid, output.n) || list_has(s->pending, txid, output.n)) continue;
    PendingOutput pending{txid, output.n, output.value, {}, {}, owner};
    if (!find_key_for_address(address_from_hash160(owner), pending.private_key_hex,
                              pending.public_key_hex))
      continue;
    s->pending.push_back(std::move(pending));
  }
  return true;
}

}  // namespace

// ---- Public: outpoints -----------------------------------------------------------------------

void wipe_candidates(std::vector<SpendCandidate>& candidates) {
  candidates.clear();
}

bool is_txid_hex(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), is_hex_char);
}

std::string outpoint_key(const std::string& txid, uint32_t vout) {
  return lower(txid) + ":" + std::to_string(vout);
}

std::string reversed_txid(const std::string& txid) {
  if (!is_txid_hex(txid)) return {};
  std::string out;
  out.reserve(64);
  for (std::size_t i = 64; i >= 2; i -= 2) out.append(txid, i - 2, 2);
  return lower(out);
}

bool same_outpoint(const std::string& txid_a, uint32_t vout_a, const std::string& txid_b,
                   uint32_t vout_b) {
  if (vout_a != vout_b || txid_a.size() != txid_b.size()) return false;
  const std::string a = lower(txid_a), b = lower(txid_b);
  return a == b || (!a.empty() && reversed_txid(a) == b);
}

// ---- Public: readers -------------------------------------------------------------------------

bool parse_unspent_list(const nlohmann::json& document, std::vector<UtxoRef>& out) {
  const nlohmann::json* list = &document;
  if (document.is_object()) list = member(document, "result");
  if (!list || !list->is_array()) return false;
  for (const auto& item : *list) {
    if (out.size() >= kMaxUtxosPerAddress) break;
    if (!item.is_object()) continue;
    const auto* spent = member(item, "isSpentInMempoolTx");
    if (spent && spent->is_boolean() && spent->get<bool>()) continue;
    std::string txid =
        member(item, "tx_hash") ? string_member(item, "tx_hash") : string_member(item, "txid");
    auto index = member(item, "tx_pos") ? index_member(item, "tx_pos") : index_member(item, "vout");
    const auto value = integer_member(item, "value");
    // Without a usable index the element names no output; reading it as output 0 could offer,
    // and after a refusal mark spent, an output that is not the one listed.
    if (!is_txid_hex(txid) || !index || !value || *value <= 0 || *value > kMaxSatoshis) continue;
    out.push_back({std::move(txid), *index, *value});
  }
  return true;
}

bool parse_spendable_list(const nlohmann::json& document, std::vector<UtxoRef>& out) {
  if (!document.is_array()) return false;
  for (const auto& item : document) {
    if (out.size() >= kMaxUtxosPerAddress) break;
    if (!item.is_object()) continue;
    const auto* origin = member(item, "origin");
    if (origin && !origin->is_null()) continue;  // an inscription
    const auto* data = member(item, "data");
    // Tokens and inscriptions are not plain coin, and an output locked by a script ("lock") is
    // not a P2PKH output at all: signed as one, its spend fails the script check.
    if (data && data->is_object() &&
        (data->contains("bsv21") || data->contains("bsv20") || data->contains("insc") ||
         data->contains("lock")))
      continue;
    std::string txid = string_member(item, "txid");
    const auto index = index_member(item, "vout");
    const auto value =
        member(item, "satoshis") ? integer_member(item, "satoshis") : integer_member(item, "value");
    if (!is_txid_hex(txid) || !index || !value || *value <= 1 || *value > kMaxSatoshis) continue;
    out.push_back({std::move(txid), *index, *value});
  }
  return true;
}

bool parse_decoded_transaction(const nlohmann::json& document, DecodedTransaction& out) {
  out = {};
  if (!document.is_object()) return false;
  if (const auto* vin = member(document, "vin"); vin && vin->is_array()) {
    for (const auto& input : *vin) {
      std::string txid = string_member(input, "txid");
      const auto index = index_member(input, "vout");
      if (is_txid_hex(txid) && index) out.inputs.push_back({std::move(txid), *index});
    }
  }
  if (const auto* vout = member(document, "vout"); vout && vout->is_array()) {
    uint32_t position = 0;
    for (const auto& output : *vout) {
      const uint32_t at = position++;
      if (!output.is_object()) continue;
      DecodedOutput decoded;
      decoded.n = index_member(output, "n").value_or(at);
      // Coins with eight decimals: round, never truncate (0.00002 is 1.9999999e-05 as a double).
      const auto* value = member(output, "value");
      if (!value || !value->is_number()) continue;
      const double coins = value->get<double>();
      if (!std::isfinite(coins) || coins < 0 || coins > 21e6) continue;
      decoded.value = std::llround(coins * 1e8);
      const auto* script = member(output, "scriptPubKey");
      if (script) decoded.script = hex_decode(string_member(*script, "hex"));
      out.outputs.push_back(std::move(decoded));
    }
  }
  return true;
}

// ---- Public: fetches ---------------------------------------------------------------------------

namespace {

// One WhatsOnChain list read. An address the service has never seen answers 404: an empty list.
// A paged list ("/unspent/all" pages its confirmed outputs 1000 at a time) is followed by the
// token each page names for the next, up to kMaxUnspentPages pages; a page that cannot be read
// fails the whole list, since a part of it would undercount the pot and drop our pending change.
enum class ListRead { ok, request_failed, bad_document };

ListRead read_woc_list(const std::string& url, std::vector<UtxoRef>& out, std::string& error,
                       bool paged = false) {
  std::string token;
  std::unordered_set<std::string> tokens_seen;
  for (std::size_t page = 0; page < kMaxUnspentPages; ++page) {
    const std::string page_url = token.empty() ? url : url + "?token=" + query_escape(token);
    std::string body, request_error;
    if (!wallet_http_get(page_url, body, request_error, kWocTimeout, false)) {
      if (page == 0 && request_error.rfind("HTTP 404", 0) == 0) return ListRead::ok;
      error = request_error;
      return ListRead::request_failed;
    }
    const auto document = parse_json(body);
    if (!parse_unspent_list(document, out)) {
      error = "bad utxo list";
      return ListRead::bad_document;
    }
    token = paged ? string_member(document, "nextPageToken") : std::string();
    if (token.empty() || token.size() > kMaxPageToken || !tokens_seen.insert(token).second ||
        out.size() >= kMaxUtxosPerAddress)
      return ListRead::ok;
  }
  return ListRead::ok;  // the pages past the bound stay unread
}

// Outpoints spent by transactions of the address that are still in the mempool.
std::unordered_set<std::string> mempool_spends(const std::string& address) {
  std::unordered_set<std::string> spent;
  const std::string base = woc_api_base();
  std::string body, error;
  if (!wallet_http_get(base + "/address/" + address + "/unconfirmed/history", body, error,
                       kWocTimeout, false))
    return spent;
  const auto doc = parse_json(body);
  const nlohmann::json* list = doc.is_object() ? member(doc, "result") : &doc;
  if (!list || !list->is_array()) return spent;
  std::size_t asked = 0;
  for (const auto& item : *list) {
    if (asked >= kMaxMempoolHistory) break;
    std::string txid =
        member(item, "tx_hash") ? string_member(item, "tx_hash") : string_member(item, "txid");
    if (!is_txid_hex(txid)) continue;
    ++asked;
    std::string tx_body, tx_error;
    if (!wallet_http_get(base + "/tx/" + txid, tx_body, tx_error, kWocTimeout, false)) continue;
    DecodedTransaction tx;
    if (!parse_decoded_transaction(parse_json(tx_body), tx)) continue;
    for (const auto& input : tx.inputs) {
      spent.insert(outpoint_key(input.txid, input.vout));
      spent.insert(outpoint_key(reversed_txid(input.txid), input.vout));
    }
  }
  return spent;
}

}  // namespace

bool fetch_unspent_balance_source(const std::string& address, std::vector<UtxoRef>& out,
                                  std::string& error, bool& confirmed) {
  out.clear();
  error.clear();
  confirmed = false;
  const std::string base = woc_api_base() + "/address/" + address;
  std::string last_error;
  bool read = read_woc_list(base + "/unspent/all", out, last_error, true) == ListRead::ok;
  if (read) {
    confirmed = true;
  } else {
    out.clear();
    const bool first = read_woc_list(base + "/unspent", out, last_error) == ListRead::ok;
    const bool second =
        read_woc_list(base + "/unconfirmed/unspent", out, last_error) == ListRead::ok;
    confirmed = first;
    read = first || second;
  }
  if (!read) {
    out.clear();
    error = last_error.empty() ? "no utxos" : last_error;
    return false;
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const UtxoRef& a, const UtxoRef& b) { return a.value > b.value; });
  std::vector<UtxoRef> unique;
  unique.reserve(out.size());
  std::unordered_set<std::string> seen;
  for (auto& utxo : out) {
    if (seen.count(outpoint_key(utxo.txid, utxo.vout)) ||
        seen.count(outpoint_key(reversed_txid(utxo.txid), utxo.vout)))
      continue;
    seen.insert(outpoint_key(utxo.txid, utxo.vout));
    unique.push_back(std::move(utxo));
  }
  const auto in_mempool = mempool_spends(address);
  out.clear();
  for (auto& utxo : unique)
    if (!set_has(in_mempool, utxo.txid, utxo.vout)) out.push_back(std::move(utxo));
  return true;
}

int64_t fetch_address_unspent_total(const std::string& address) {
  std::vector<UtxoRef> list;
  std::string error;
  bool confirmed = false;
  if (!fetch_unspent_balance_source(address, list, error, confirmed)) return -1;
  int64_t total = 0;
  for (const auto& utxo : list)
    if (__builtin_add_overflow(total, utxo.value, &total)) return -1;
  return total;
}

bool fetch_spendable_outputs(const std::string& address, std::vector<UtxoRef>& out) {
  out.clear();
  std::string body, error;
  if (!wallet_http_get(
          network_endpoints().ordinals_api_base + "/txos/address/" + address + "/unspent", body,
          error, kOrdinalsTimeout, false))
    return false;
  if (!parse_spendable_list(parse_json(body), out)) out.clear();
  return !out.empty();
}

namespace {

// The receive indices whose addresses the wallet reads and spends from: 0 to "recv"[1], up to the
// cap, and the payment index ("show") wherever it lies, as the key lookup finds it too: coins and
// change arrive there.
std::vector<uint32_t> receive_indices(const WalletSession& s) {
  const uint64_t end = std::min<uint64_t>(uint64_t{s.recv[1]} + 1, kMaxReceiveAddresses);
  std::vector<uint32_t> indices;
  for (uint64_t i = 0; i < end; ++i) indices.push_back(static_cast<uint32_t>(i));
  if (s.show >= end) indices.push_back(s.show);
  return indices;
}

}  // namespace

std::vector<std::string> wallet_addresses() {
  SessionGuard lock(session_mutex());
  std::vector<std::string> addresses;
  if (!session_loaded()) return addresses;
  auto add = [&](const std::string& address) {
    if (!address.empty() &&
        std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
  };
  const WalletSession& s = session();
  if (!s.hd) {
    add(s.payment_address);
    return addresses;
  }
  for (uint32_t i : receive_indices(s)) {
    SecretString private_key_hex;
    std::string public_key_hex, address;
    if (derive_path_keys(receive_path(i), private_key_hex, public_key_hex, address)) add(address);
  }
  add(s.identity_address);
  return addresses;
}

namespace {

// Fetches the wallet addresses whose cache entry `needs_fetch` picks.
template <typename Pick>
bool refresh_addresses(std::string& error, Pick needs_fetch) {
  error.clear();
  SessionGuard lock(session_mutex());
  if (!session_available()) {
    error = "no wallet";
    return false;
  }
  const auto addresses = wallet_addresses();
  auto& s = current_state();
  std::vector<std::string> picked;
  for (const auto& address : addresses)
    if (needs_fetch(find_entry(s, address))) picked.push_back(address);
  return fetch_and_apply(picked, error);
}

}  // namespace

bool ensure_fresh_unspent(std::string& error) {
  return refresh_addresses(error, [](const CacheEntry* entry) { return !entry || !entry->valid; });
}

bool refresh_stale_unspent(bool read_ordinals_index, std::string& error) {
  // No ordinals index in this build: the records are replaced as "not read" either way.
  (void)read_ordinals_index;
  const auto now = Clock::now();
  return refresh_addresses(error, [now](const CacheEntry* entry) {
    return !entry || !entry->valid || now - entry->fetched >= kFreshFor;
  });
}

void refresh_spendable() {
  SessionGuard lock(session_mutex());
  if (!session_available()) return;
  const auto addresses = wallet_addresses();
  std::vector<FetchResult> results(addresses.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) results[i].address = addresses[i];
  std::string error;
  if (!run_fetches(results, fetch_from_ordinals, error)) return;
  auto& s = current_state();
  for (auto& result : results) {
    if (!result.ok) continue;
    std::erase_if(result.utxos,
                  [&](const UtxoRef& utxo) { return set_has(s.spent, utxo.txid, utxo.vout); });
    if (result.utxos.empty()) continue;
    result.confirmed = true;
    apply_fetch(s, result, true, true);
  }
}

void invalidate_unspent_cache() {
  SessionGuard lock(session_mutex());
  for (auto& entry : state().cache) entry.valid = false;
}

// ---- Public: candidates ------------------------------------------------------------------------

bool gather_spend_candidates(std::vector<SpendCandidate>& out, int64_t& total, std::string& error) {
  wipe_candidates(out);
  total = 0;
  error.clear();
  SessionGuard lock(session_mutex());
  if (!session_available()) {
    error = "no wallet";
    return false;
  }
  UnspentState* s = &current_state();
  Gathering g{out, total, {}, {}, {}};
  const WalletSession& record = session();
  if (!record.hd) {
    offer_address(*s, g, record.payment_address, record.payment_private_key,
                  record.payment_public_key);
  } else {
    for (uint32_t i : receive_indices(record)) offer_derived(*s, g, receive_path(i));
    offer_derived(*s, g, identity_path());
  }
  offer_pending(*s, g);
  if (out.empty()) {
    const std::string sent = s->last_sent_txid, broadcast = s->last_broadcast_txid;
    if (recover_outputs_of(s, sent, error)) offer_pending(*s, g);
    if (out.empty() && error != "wallet changed." && !broadcast.empty() && broadcast != sent &&
        recover_outputs_of(s, broadcast, error))
      offer_pending(*s, g);
  }
  return !out.empty();
}

// ---- Public: spent set -------------------------------------------------------------------------

void mark_outpoint_spent(const std::string& txid, uint32_t vout) {
  if (!is_txid_hex(txid)) return;
  SessionGuard lock(session_mutex());
  auto& s = current_state();
  const bool added = s.spent.insert(outpoint_key(txid, vout)).second;
  const bool added_reversed = s.spent.insert(outpoint_key(reversed_txid(txid), vout)).second;
  if (added || added_reversed) save_spent_set(s);
}

bool is_outpoint_spent(const std::string& txid, uint32_t vout) {
  SessionGuard lock(session_mutex());
  return set_has(current_state().spent, txid, vout);
}

void load_spent_set() {
  SessionGuard lock(session_mutex());
  load_spent_set_for(state(), wallet_key());
}

void drop_spent_outputs() {
  SessionGuard lock(session_mutex());
  auto& s = current_state();
  for (auto& entry : s.cache)
    std::erase_if(entry.utxos,
                  [&](const UtxoRef& utxo) { return set_has(s.spent, utxo.txid, utxo.vout); });
  erase_pending_if(s, [&](const PendingOutput& p) { return set_has(s.spent, p.txid, p.vout); });
}

std::string wallet_key() {
  SessionGuard lock(session_mutex());
  const auto& hooks = bridge_hooks();
  std::string key = hooks.bound_wallet_id ? hooks.bound_wallet_id() : std::string();
  if (key.empty())
    key =
        session().identity_address.empty() ? session().payment_address : session().identity_address;
  for (char& c : key) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) c = '_';
  }
  if (key.size() > 80) key.resize(80);
  return key.empty() ? "wallet" : key;
}

// ---- Public: pending outputs -------------------------------------------------------------------

bool add_pending_output(const PendingOutput& output, const std::string& address) {
  if (!is_txid_hex(output.txid)) return false;
  SessionGuard lock(session_mutex());
  auto& s = current_state();
  if (list_has(s.pending, output.txid, output.vout)) return false;
  s.pending.push_back(output);
  CacheEntry* entry = find_entry(s, address);
  if (!entry) {
    s.cache.push_back({address, {}, Clock::now(), true});
    entry = &s.cache.back();
  }
  if (!list_has(entry->utxos, output.txid, output.vout))
    entry->utxos.push_back({output.txid, output.vout, output.value});
  return true;
}

bool is_pending_outpoint(const std::string& txid, uint32_t vout) {
  SessionGuard lock(session_mutex());
  return list_has(state().pending, txid, vout);
}

std::vector<PendingOutput> pending_outputs_snapshot() {
  SessionGuard lock(session_mutex());
  return state().pending;
}

// ---- Public: last transactions --------------------------------------------------------------

namespace {

void remember_txid(std::string UnspentState::*field, const std::string& txid) {
  if (!is_txid_hex(txid)) return;
  SessionGuard lock(session_mutex());
  state().*field = lower(txid);
}

std::string remembered_txid(std::string UnspentState::*field) {
  SessionGuard lock(session_mutex());
  return state().*field;
}

}  // namespace

void set_last_sent_txid(const std::string& txid) {
  remember_txid(&UnspentState::last_sent_txid, txid);
}
std::string last_sent_txid() {
  return remembered_txid(&UnspentState::last_sent_txid);
}
void set_last_broadcast_txid(const std::string& txid) {
  remember_txid(&UnspentState::last_broadcast_txid, txid);
}
std::string last_broadcast_txid() {
  return remembered_txid(&UnspentState::last_broadcast_txid);
}

// ---- Public: balance ---------------------------------------------------------------------------

int64_t wallet_balance() {
  SessionGuard lock(session_mutex());
  auto& s = current_state();
  const std::string address = session().payment_address;
  OutpointKeys counted;
  int64_t sum = 0;
  const CacheEntry* entry = find_entry(s, address);
  const bool known = entry && entry->valid;
  if (known) {
    for (const auto& utxo : entry->utxos) {
      if (set_has(s.spent, utxo.txid, utxo.vout) ||
          protected_as_ordinal(s, address, utxo.txid, utxo.vout, utxo.value) ||
          counted.has(utxo.txid, utxo.vout))
        continue;
      counted.add(utxo.txid, utxo.vout);
      add_saturating(sum, utxo.value);
    }
  }
  bool hash_ok = false;
  const Hash160 hash = hash_of(address, hash_ok);
  if (hash_ok) {
    for (const auto& p : s.pending) {
      if (p.owner_hash160 != hash || set_has(s.spent, p.txid, p.vout) ||
          listed_as_ordinal(s, p.txid, p.vout, p.value) || counted.has(p.txid, p.vout))
        continue;
      counted.add(p.txid, p.vout);
      add_saturating(sum, p.value);
    }
  }
  return !known && sum == 0 ? -1 : sum;
}

namespace {

std::string balance_file_path() {
  const std::string dir = data_dir();
  return dir.empty() ? std::string() : dir + "/tx_hist/" + wallet_key() + "_face.json";
}

void save_balance_file(int64_t sats) {
  const std::string address = session().payment_address;
  const std::string path = balance_file_path();
  if (sats < 0 || address.empty() || path.empty()) return;
  nlohmann::json doc = nlohmann::json::object();
  doc["address"] = address;
  doc["sats"] = sats;
  (void)write_file_atomic(data_dir() + "/tx_hist", path, doc.dump());
}

}  // namespace

int64_t settle_balance(int64_t computed, int64_t spent) {
  if (computed < 0) return computed;
  SessionGuard lock(session_mutex());
  auto& s = state();
  int64_t shown = computed;
  if (s.settled >= 0) {
    if (spent >= 1) {
      // A payment just left: the services may still list the spent outputs, or not yet list the
      // change, so a figure far from what the payment left is not believed.
      s.expected = std::max<int64_t>(s.settled - spent, 0);
      s.expected_at = Clock::now();
      if (computed < s.expected - 8000 || computed > s.settled + 8000) shown = s.expected;
    } else if (s.expected >= 0 && Clock::now() - s.expected_at < kExpectedHoldsFor &&
               computed > s.expected + 1000000) {
      shown = s.expected;
    }
  }
  s.settled = shown;
  save_balance_file(shown);
  return shown;
}

int64_t read_settled_balance() {
  SessionGuard lock(session_mutex());
  const std::string path = balance_file_path();
  std::string text;
  if (path.empty() || !read_regular_file(path, text, kMaxBalanceFileBytes)) return -1;
  const auto doc = parse_json(text);
  const auto sats = integer_member(doc, "sats");
  if (!sats || string_member(doc, "address") != session().payment_address ||
      session().payment_address.empty())
    return -1;
  return *sats;
}

StatusBalance status_balance(bool read_ordinals_index) {
  SessionGuard lock(session_mutex());
  StatusBalance result;
  std::string error;
  const bool refreshed = refresh_stale_unspent(read_ordinals_index, error);
  if (refreshed) {
    auto& s = current_state();
    for (const auto& address : wallet_addresses()) {
      const CacheEntry* entry = find_entry(s, address);
      if (entry && entry->valid) result.unspent_read = true;
    }
  }
  result.balance = settle_balance(wallet_balance(), 0);
  return result;
}

// ---- Public: lifecycle -----------------------------------------------------------------------

void clear_unspent_state() {
  SessionGuard lock(session_mutex());
  ++g_generation;
  auto& s = state();
  s.cache.clear();
  s.ordinals.clear();
  s.pending.clear();
  s.last_sent_txid.clear();
  s.last_broadcast_txid.clear();
  s.settled = -1;
  s.expected = -1;
}

namespace {

// address_for_hash160 also searches the addresses the cache knows.
void append_cached_addresses(std::vector<std::string>& addresses) {
  for (const auto& entry : state().cache) addresses.push_back(entry.address);
}

const bool g_cached_source_installed = [] {
  set_cached_address_source(append_cached_addresses);
  return true;
}();

}  // namespace

}  // namespace wallet
