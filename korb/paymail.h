#pragma once
// The player's paymail name: where the session's handle comes from, and the local paymail
// registry "orbweave_paymail.json" the game and the wallet application share (names, their
// owners' identity keys, ordinals addresses, avatars, the identity's role and its quota).
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace korb {

// Handle normalisation: leading "@", "$" and spaces removed, trailing spaces, CR and LF removed,
// cut at the first "@", lower-cased. "@Alice@example.com" gives "alice".
std::string normalize_paymail_handle(std::string_view handle);

// The handle normalisation, then only a-z, 0-9, "-", "." and "_" kept.
std::string normalize_registry_name(std::string_view name);

// Names one identity may hold for a role: "architect" unlimited (-1), "dev" 20, others 10.
int name_quota(const std::string& role);

// Guards the paymail registry file. Taken inside the session mutex, never the other way round.
std::mutex& paymail_registry_mutex();

std::string paymail_registry_path();  // <data dir>/orbweave_paymail.json

// The registry object (always an object; missing, oversized or corrupt reads as {}). Falls back
// to "userinfo/orbweave_paymail.json" beside the executable and migrates it into the data
// directory. Call with paymail_registry_mutex() held.
nlohmann::json load_paymail_registry();

// The registry for code that is about to change and save it. A damaged file reads as {} through
// load_paymail_registry, which is right for lookups but would make the next save drop every
// registered name; this refuses it instead (false). A missing file (after the fallback above) or a
// blank one is a fresh, empty registry. Call with the mutex held.
[[nodiscard]] bool load_paymail_registry_strict(nlohmann::json& registry);

// Atomic replace of the registry file, two-space indent. Call with the mutex held.
[[nodiscard]] bool save_paymail_registry(const nlohmann::json& registry);

// Settles the session's paymail handle (loaded HD wallet with an identity key only): from the
// wallet file's "paymail", else from the local registry by identity key; registers it locally,
// names the bound wallet after it, and saves the session when the name came from the registry.
void paymail_step(bool emit_events);

// The registry name owned by this identity key: "self" first, then the first in key order.
std::string find_name_by_pubkey(const std::string& pubkey);

// Registers `name` (registry-normalised) for `pubkey` with `address` (when non-empty), within
// the quota of the registry's "host_role", and makes it "self". Returns an error text, empty on
// success.
[[nodiscard]] std::string register_local_name(const std::string& name, const std::string& pubkey,
                                              const std::string& address);

// Ordinals address sync: every name owned by the identity key gets "ordAddress". Only for a
// plausible address (26 to 35 characters, starting "1", no "_"). Saves when something changed.
void sync_ordinals_address(const std::string& identity_pubkey, const std::string& address);

// Avatar sync for the session's identity: "avatars"[pubkey] and "avatar" of each owned name
// follow the session's "ord_avatar" (removed when empty). Returns an error text, empty on
// success: "no identity pubkey", "could not write paymail registry".
std::string sync_avatar();

}  // namespace korb
