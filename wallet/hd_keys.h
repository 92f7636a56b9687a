// BIP32 private derivation along the wallet's fixed five-level paths.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wallet/hashes.h"
#include "wallet/secret.h"

namespace wallet {

// 32-byte private key followed by the 32-byte chain code; both wipe themselves when dropped.
// wipe() clears them at once, for a key that must not outlive a failure.
struct ExtendedKey {
  SecretBytes<32> key;
  SecretBytes<32> chain_code;
  void wipe();
};

// Exactly five indices; an index at or above kHardened is hardened.
using DerivationPath = std::array<uint32_t, 5>;
inline constexpr uint32_t kHardened = 0x80000000u;
inline constexpr uint32_t kCoinType = 236;

// m/44'/236'/1'/0/i: receive keys; the payment key uses i = show.
DerivationPath receive_path(uint32_t index);
// m/44'/236'/100'/0/0: identity key.
DerivationPath identity_path();
// m/44'/236'/101'/0/0: encryption key.
DerivationPath encryption_path();
// m/44'/236'/5'/0/n: ordinals key.
DerivationPath ordinals_path(uint32_t index);

// BIP32 master key: HMAC-SHA512("Bitcoin seed", seed). False when the key is not a valid scalar.
[[nodiscard]] bool master_key_from_seed(const unsigned char* seed, std::size_t size,
                                        ExtendedKey& master);

// BIP32 CKDpriv. False (child wiped) when the parent key is invalid, IL >= n or the child is 0.
[[nodiscard]] bool derive_child_private(const ExtendedKey& parent, uint32_t index,
                                        ExtendedKey& child);

// Derives the session mnemonic's key at `path`, filling the session's seed and master cache on
// first use. The outputs are cleared first; true when an address was produced. Takes the session
// mutex (re-entrant).
[[nodiscard]] bool derive_path_keys(const DerivationPath& path, std::string& private_key_hex,
                                    std::string& public_key_hex, std::string& address);

}  // namespace wallet
