#include "wallet/ow_korb_wallet.h"

#include <algorithm>

#include "wallet/hd_keys.h"
#include "wallet/keys.h"

namespace wallet {
namespace {

// A wallet file may claim any receive counter up to 2^32-1; scanning that many keys would hang
// the program for days. No real wallet comes near this many receive addresses.
constexpr uint64_t kMaxReceiveScan = 10000;

// Receive addresses derived so far for the loaded mnemonic, by index, and their hashes. Only
// public data; guarded by the session mutex and dropped with the derivation cache.
struct ReceiveCache {
  std::vector<std::string> addresses;
  std::vector<Hash160> hashes;
};

ReceiveCache& receive_cache() {
  static ReceiveCache cache;
  return cache;
}

std::mutex& log_mutex() {
  static std::mutex m;
  return m;
}

TextSink g_text_sink = nullptr;
EventSink g_event_sink = nullptr;
BridgeHooks g_hooks;
std::mutex g_hooks_mutex;
CachedAddressSource g_cached_source = nullptr;

uint64_t receive_scan_end(const WalletSession& s) {
  return std::min<uint64_t>(uint64_t{s.recv[1]} + 1, kMaxReceiveScan);
}

// The receive address at `index` (caller holds the session mutex). Cached when every lower index
// is cached too, so the cache stays a plain prefix.
bool receive_address(uint32_t index, std::string& address, Hash160& hash) {
  ReceiveCache& cache = receive_cache();
  if (index < cache.addresses.size()) {
    address = cache.addresses[index];
    hash = cache.hashes[index];
    return true;
  }
  SecretString priv;
  std::string pub;
  const bool ok = derive_path_keys(receive_path(index), priv, pub, address);
  if (!ok || !address_to_hash160(address, hash)) return false;
  if (index == cache.addresses.size()) {
    cache.addresses.push_back(address);
    cache.hashes.push_back(hash);
  }
  return true;
}

// The identity address: the one refresh_wallet_keys stored, or derived afresh.
bool identity_address(std::string& address, Hash160& hash) {
  const WalletSession& s = session();
  if (!s.identity_address.empty()) {
    address = s.identity_address;
  } else {
    SecretString priv;
    std::string pub;
    const bool ok = derive_path_keys(identity_path(), priv, pub, address);
    if (!ok) return false;
  }
  return address_to_hash160(address, hash);
}

bool stored_address_hash(const WalletSession& s, Hash160& hash) {
  return !s.payment_address.empty() && address_to_hash160(s.payment_address, hash);
}

}  // namespace

std::recursive_mutex& session_mutex() {
  static std::recursive_mutex m;
  return m;
}

WalletSession& session() {
  static WalletSession s;
  return s;
}

bool session_loaded() {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  const WalletSession& s = session();
  return !s.payment_private_key.empty() && !s.payment_address.empty();
}

void reset_derivation_cache() {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  WalletSession& s = session();
  s.seed.wipe();
  s.master_key.wipe();
  s.master_chain_code.wipe();
  s.seed_ready = false;
  s.master_ready = false;
  receive_cache() = ReceiveCache{};
}

void wipe_session() {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  reset_derivation_cache();
  session() = WalletSession{};  // every secret member wipes what it held
}

void set_text_sink(TextSink sink) {
  std::lock_guard<std::mutex> lock(log_mutex());
  g_text_sink = sink;
}

void set_event_sink(EventSink sink) {
  std::lock_guard<std::mutex> lock(log_mutex());
  g_event_sink = sink;
}

void log_text(const std::string& line) {
  TextSink sink = nullptr;
  {
    std::lock_guard<std::mutex> lock(log_mutex());
    sink = g_text_sink;
  }
  if (sink == nullptr) return;
  if (!line.empty() && line.back() == '\n') {
    sink(line);
  } else {
    sink(line + "\n");
  }
}

void emit_event(const std::string& kind, const std::vector<std::string>& fields) {
  EventSink sink = nullptr;
  {
    std::lock_guard<std::mutex> lock(log_mutex());
    sink = g_event_sink;
  }
  if (sink == nullptr) return;
  std::string event = "[OW-KORB]";
  event.push_back('\x1f');
  event.append(kind);
  for (std::size_t i = 0; i < fields.size() && i < 3; ++i) {
    event.push_back('\x1f');
    event.append(fields[i]);
  }
  sink(event);
}

std::string report_error(const std::string& text) {
  emit_event("error", {text});
  return text;
}

void install_bridge_hooks(const BridgeHooks& hooks) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_hooks = hooks;
}

const BridgeHooks& bridge_hooks() {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  return g_hooks;
}

bool refresh_wallet_keys() {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  WalletSession& s = session();
  if (!s.hd) return !s.payment_address.empty();

  s.show = std::min(s.show, s.recv[1]);
  SecretString priv;
  std::string pub, address;
  if (!derive_path_keys(receive_path(s.show), priv, pub, address)) return false;
  s.payment_private_key = std::move(priv);
  s.payment_public_key = std::move(pub);
  s.payment_address = std::move(address);

  const bool identity_ok =
      derive_path_keys(identity_path(), priv, s.identity_public_key, s.identity_address);
  if (!identity_ok) return false;

  std::string ord_pub, ord_address;
  if (derive_path_keys(ordinals_path(s.recv[5]), priv, ord_pub, ord_address)) {
    const auto record = bridge_hooks().record_ordinals_address;
    if (record != nullptr && !s.identity_public_key.empty() && !ord_address.empty()) {
      record(s.identity_public_key, ord_address);
    }
  }
  return true;
}

bool find_key_for_address(const std::string& address, std::string& private_key_hex,
                          std::string& public_key_hex) {
  wipe_string(private_key_hex);
  public_key_hex.clear();
  Hash160 wanted{};
  if (!address_to_hash160(address, wanted)) return false;

  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  const WalletSession& s = session();
  if (!s.hd) {
    if (s.payment_address.empty() || s.payment_address != address) return false;
    private_key_hex = s.payment_private_key;
    public_key_hex = s.payment_public_key;
    return !private_key_hex.empty();
  }
  std::string candidate;
  Hash160 hash{};
  auto receive_key_matches = [&](uint32_t index) {
    return receive_address(index, candidate, hash) && hash == wanted &&
           derive_path_keys(receive_path(index), private_key_hex, public_key_hex, candidate);
  };
  const uint64_t end = receive_scan_end(s);
  for (uint64_t i = 0; i < end; ++i) {
    if (receive_key_matches(static_cast<uint32_t>(i))) return true;
  }
  // Change goes to the shown address, so its key must be found even where the scan stops short.
  if (s.show >= end && s.show <= s.recv[1] && receive_key_matches(s.show)) return true;
  std::string identity;
  if (derive_path_keys(identity_path(), private_key_hex, public_key_hex, identity) &&
      identity == address) {
    return true;
  }
  wipe_string(private_key_hex);
  public_key_hex.clear();
  return false;
}

bool is_own_hash160(const Hash160& hash, const std::vector<OwnedOutpoint>& spent,
                    const Hash160* extra_hash) {
  if (extra_hash != nullptr && *extra_hash == hash) return true;
  for (const OwnedOutpoint& out : spent) {
    if (out.owner_hash160 == hash) return true;
  }
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  const WalletSession& s = session();
  Hash160 candidate{};
  if (stored_address_hash(s, candidate) && candidate == hash) return true;
  if (!s.hd) return false;
  std::string address;
  const uint64_t end = receive_scan_end(s);
  for (uint64_t i = 0; i < end; ++i) {
    if (receive_address(static_cast<uint32_t>(i), address, candidate) && candidate == hash) {
      return true;
    }
  }
  return identity_address(address, candidate) && candidate == hash;
}

void set_cached_address_source(CachedAddressSource source) {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  g_cached_source = source;
}

std::string address_for_hash160(const Hash160& hash) {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  const WalletSession& s = session();
  Hash160 candidate{};
  if (stored_address_hash(s, candidate) && candidate == hash) return s.payment_address;
  std::string address;
  if (s.hd) {
    const uint64_t end = receive_scan_end(s);
    for (uint64_t i = 0; i < end; ++i) {
      if (receive_address(static_cast<uint32_t>(i), address, candidate) && candidate == hash) {
        return address;
      }
    }
    if (identity_address(address, candidate) && candidate == hash) return address;
  }
  if (g_cached_source != nullptr) {
    std::vector<std::string> cached;
    g_cached_source(cached);
    for (const std::string& a : cached) {
      if (address_to_hash160(a, candidate) && candidate == hash) return a;
    }
  }
  return {};
}

}  // namespace wallet
