// Keys and addresses: public keys from private keys, Base58Check P2PKH main-network addresses.
// Private keys travel as 64 lowercase hex characters, public keys as 66 (compressed).
#pragma once

#include <string>
#include <string_view>

#include "wallet/hashes.h"

namespace wallet {

// Base58Check P2PKH address (version 0x00) of a 20-byte hash.
std::string address_from_hash160(const Hash160& hash);
// True only for a valid main-network P2PKH address of 26 to 35 characters; then `hash` holds its
// hash160. Testnet, P2SH, bad checksums and wrong lengths are refused (hash zeroed).
[[nodiscard]] bool address_to_hash160(std::string_view address, Hash160& hash);
// Compressed public key hex of a 64-hex private key. False (output empty) for anything that is not
// 32 bytes of hex, or a key of zero or at/above the curve order.
[[nodiscard]] bool public_key_from_private(const std::string& private_key_hex,
                                           std::string& public_key_hex);
// Address of a compressed public key hex; "" unless the hex decodes to exactly 33 bytes.
std::string address_from_public_key(const std::string& public_key_hex);

}  // namespace wallet
