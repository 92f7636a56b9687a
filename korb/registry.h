#pragma once
// The wallet registry ("wallets.json"), its cross-process lock ("wallets.lock"), the bind file
// that records which wallet this installation of an app uses, and the one-time migration of
// the old single-wallet file. Shared with the Korb wallet application, which calls the same
// functions without `attach_app`.
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace korb {

// Scoped registry lock: a re-entrant process mutex plus an exclusive fcntl lock on byte 0 of
// "wallets.lock" (taken once by the outermost holder on a thread; nested holders only count).
// When the lock file cannot be opened or locked, the process mutex alone guards reading, but
// nothing may be written: another program could be changing the same files at that moment.
class RegistryLock {
 public:
  RegistryLock();
  ~RegistryLock();
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

  // True when the file lock is held too, so writing is safe; otherwise `error` says why not.
  [[nodiscard]] bool held(std::string& error) const;
};

// The registry, normalised: always an object whose "wallets" is an array. Missing, oversized,
// corrupt or wrongly typed files read as {"wallets": []}. Call under RegistryLock.
nlohmann::json load_registry();

// The registry as stored, checked strictly, for code that is about to change it. A damaged
// file reads as empty through load_registry, which is right for reading but would make the
// next save replace every wallet entry with nothing; this refuses it instead. Only a missing
// or blank file counts as a fresh, empty registry, and only while no wallet folder exists: an
// empty registry beside wallet folders has lost its entries (see `repair_registry`). A data
// folder that cannot be read is an error too, not an empty registry. Call under RegistryLock.
[[nodiscard]] bool load_registry_strict(nlohmann::json& registry, std::string& error);

// The registry as it is stored: sorted keys, two-space indent, one final line break.
std::string registry_text(const nlohmann::json& registry);

// Writes the whole object (as `registry_text`) to a fresh
// temporary file and renames it over "wallets.json". False without writing anything when this
// thread does not hold RegistryLock with its file lock. Call under RegistryLock.
[[nodiscard]] bool save_registry(const nlohmann::json& registry);

// Ids of the folders in "wallets/" that hold a "wallet.json" entry, sorted; only safe ids.
std::vector<std::string> wallet_folder_ids();

// What `repair_registry` found and did, one line each, for the person who asked for it.
struct RepairReport {
  std::vector<std::string> lines;
  int added = 0;
};

// Lists again every wallet folder the registry does not list (a lost or emptied registry,
// a wallet written before its entry), keeping every entry and member already there. A registry
// that does not parse is kept beside as "wallets.json.damaged-<n>" and rebuilt from the
// folders. Folders that are symlinks, belong to another user or hold no usable wallet file are
// reported and left out. Takes RegistryLock itself; false with `error` when it cannot write.
[[nodiscard]] bool repair_registry(RepairReport& report, std::string& error);

// "w" followed by the milliseconds since 1970. Never returns the same id twice in a process.
std::string new_wallet_id();

// Bind-file key of an app instance: letters and digits lower-cased, every other byte "_",
// only the last 96 characters kept, "default" when empty.
std::string instance_key(std::string_view instance);

// True for an id that names a folder directly inside "wallets/": non-empty, not "." or "..",
// no "/", "\\" or NUL. Ids read from files are untrusted; anything else counts as no wallet.
bool is_safe_wallet_id(std::string_view id);

// Paths inside the data directory. The folders are created on the way.
std::string registry_path();       // .../wallets.json
std::string bind_file_path();      // .../binds/<instance key of the attached instance>.json
std::string legacy_wallet_path();  // .../orbweave_korb.json
std::string wallet_dir_path(const std::string& id);  // .../wallets/<id> (not created)

// Checks the folders on the way to wallet `id` ("wallets/" and "wallets/<id>"): real folders
// that the user owns, closed to others (an open one of ours is closed). `create` makes missing
// ones. False with `error` for anything another user could have placed there.
[[nodiscard]] bool check_wallet_folder(const std::string& id, bool create, std::string& error);

// The file `wallet_file_path` names, parsed, when its folders pass `check_wallet_folder` and it
// is a regular file of the user's own (no symlink); otherwise a discarded value.
nlohmann::json read_wallet_file();

// Moves the old single-wallet file into the registry as "Wallet 1" when the registry is empty.
// Takes RegistryLock itself.
void migrate_legacy_wallet();

// Start-up of an app (the game passes its executable folder and "O-Stakka"): sets the attached
// flag, migrates, and finds the bound wallet from the bind file, or binds automatically when
// the registry holds exactly one wallet. Takes RegistryLock itself.
void attach_app(const std::string& instance, const std::string& app_name);

bool is_attached();
std::string attached_app_name();      // "App" when attached with an empty name
std::string attached_app_instance();  // "." when attached with an empty instance

struct WalletEntry {
  std::string id;
  std::string name;  // the id when the registry has no name
};

// The registry's wallets in order, skipping non-objects and empty or unsafe ids.
// Takes RegistryLock itself.
std::vector<WalletEntry> list_wallets();

// The listed name of `id`, or `id` itself when it is not listed.
std::string wallet_display_name(const std::string& id);

// Sets "name" of every registry entry with this id to the session's paymail handle. Does
// nothing when either is empty. Takes RegistryLock itself.
void set_wallet_name(const std::string& id);

// The general form used by the wallet application: sets "name" of every entry with this id.
// False when the id is empty or the registry could not be saved. Takes RegistryLock itself.
[[nodiscard]] bool rename_wallet(const std::string& id, const std::string& name);

// The cached bound wallet id of this process (empty when none).
std::string bound_wallet_id();

// Attached: the "wallet_id" of the bind file, read afresh (unsafe ids read as empty).
// Otherwise the cached id. The cache is not changed.
std::string read_bound_wallet_id();

// Records a new binding (attached apps only; empty or unsafe ids are ignored): sets the
// cached id and writes the bind file.
void bind_wallet(const std::string& id);

// Cuts this installation's binding: deletes the bind file (attached apps) and clears the
// cached id. Part of `disconnect`.
void unbind_wallet();

// For the wallet application, which never attaches: makes `id` the wallet the session loads
// and saves, without writing a bind file. An unsafe id clears the choice.
void use_wallet(const std::string& id);

// The file the session loads and saves: ".../wallets/<bound id>/wallet.json", or the legacy
// ".../orbweave_korb.json" when no wallet is bound.
std::string wallet_file_path();

}  // namespace korb
