// The wallets the Korb application keeps: creating and restoring them (wallet file plus registry
// entry), listing them, reading one back with its keys, giving it a paymail name and signing with
// its identity key. Keys are derived by the same session code the game uses, so what `korb show`
// and `korb sign-message` print is exactly what a connected game would see.
//
// Every change to the registry happens under the shared registry lock, and every file is
// replaced atomically. A registry or wallet file that is damaged is reported and left alone:
// the application never rewrites a file it could not read, and never deletes a wallet.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korb_app {

// Longest wallet display name we store, in bytes.
inline constexpr size_t max_wallet_name_bytes = 64;

struct StoredWallet {
  std::string id;
  std::string name;
  std::string address;  // the wallet file's "address"; empty when the file is unusable
};

// Everything `korb show` prints. Nothing secret.
struct WalletDetails {
  std::string id, name;
  bool hd = false;
  std::string address;  // payment address
  std::string identity_public_key, identity_address;
  std::string encryption_public_key;
  std::string ordinals_address;
  std::string paymail;  // the handle alone
  std::array<uint32_t, 6> recv{};
  uint32_t show = 0;
};

// A fresh 12-word phrase from 128 bits of OpenSSL randomness. False when the random source
// fails; the entropy is wiped either way.
[[nodiscard]] bool generate_mnemonic(std::string& mnemonic);

// The phrase in the form we store: lower case, single spaces. Empty when it is not a valid
// 12-word English phrase with a good checksum.
std::string normalized_mnemonic(std::string_view mnemonic);

// A display name as stored: surrounding spaces trimmed. False with `error` when it is empty,
// longer than max_wallet_name_bytes, not UTF-8 or holds control characters.
[[nodiscard]] bool clean_wallet_name(std::string_view name, std::string& cleaned,
                                     std::string& error);

// Makes a new wallet from `mnemonic` (already validated) under `name`. Out: the new id.
[[nodiscard]] bool add_wallet(const std::string& name, const std::string& mnemonic, std::string& id,
                              std::string& error);

// The registry's wallets with the addresses from their files. False when the registry is
// damaged; a missing registry is an empty list.
[[nodiscard]] bool list_stored_wallets(std::vector<StoredWallet>& wallets, std::string& error);

// Loads one wallet and derives its public keys.
[[nodiscard]] bool wallet_details(const std::string& id, WalletDetails& details,
                                  std::string& error);

// Gives the wallet a paymail name: registers it in the local paymail registry for the wallet's
// identity key, writes "paymail" into the wallet file and names the registry entry after it.
// Out: the name as registered.
[[nodiscard]] bool set_wallet_paymail(const std::string& id, const std::string& handle,
                                      std::string& name, std::string& error);

// The identity signature of `message` by the wallet, as the game makes it.
[[nodiscard]] bool sign_with_wallet(const std::string& id, const std::string& message,
                                    std::string& public_key, std::string& signature,
                                    std::string& error);

// Checks that `id` names a listed wallet whose file loads as an HD wallet (what a game needs
// after an approval).
[[nodiscard]] bool check_wallet_usable(const std::string& id, std::string& error);

}  // namespace korb_app
