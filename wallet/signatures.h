// secp256k1 ECDSA signatures: DER transaction signatures (low S), Bitcoin Signed Message digests,
// compact recoverable signatures, the identity signature (Base64 of r||s) and verification.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include "wallet/hashes.h"

namespace wallet {

// Signers refuse messages longer than this (the length is written in at most 3 bytes).
inline constexpr std::size_t kMaxSignedMessage = 65535;

// DER signature (i2d_ECDSA_SIG) of a 32-byte digest, s always at most n/2. Output cleared first.
[[nodiscard]] bool sign_digest_der(const std::string& private_key_hex, const Digest32& digest,
                                   Bytes& der);

// r||s (32 bytes each) of a DER signature as i2d_ECDSA_SIG writes it. False for anything that
// does not parse completely or whose r or s does not fit in 32 bytes.
[[nodiscard]] bool parse_der_signature(const Bytes& der, std::array<unsigned char, 64>& rs);

// SHA-256(SHA-256(0x18 "Bitcoin Signed Message:\n" CompactSize(len) message)). The length is
// one byte below 253, 0xFD + 2 bytes up to 65535, 0xFE + 4 bytes above (verification only).
// False for messages above 4 GiB.
[[nodiscard]] bool message_digest(std::string_view message, Digest32& digest);

// 65-byte compact signature (header 31 + recovery id, r, s) of the message digest, Base64.
[[nodiscard]] bool sign_message_compact(const std::string& private_key_hex,
                                        std::string_view message, std::string& signature_base64);

// SEC 1 4.1.6 public key recovery into `out` (an existing point of `group`).
[[nodiscard]] bool recover_public_key(const EC_GROUP* group, const Digest32& digest,
                                      const BIGNUM* r, const BIGNUM* s, int recovery_id,
                                      EC_POINT* out);

// The identity signature of a message: Base64 of the 64 bytes r||s of a DER signature over the
// message digest, falling back to SHA-256(message). The session side (which key, error texts)
// belongs to the Korb bridge's identity_sign.
[[nodiscard]] bool identity_signature(const std::string& private_key_hex, std::string_view message,
                                      std::string& signature_base64);

// ECDSA verification of a 64-byte r||s or 65-byte header||r||s signature against a 33- or
// 65-byte public key. High S is accepted; the header byte is ignored.
[[nodiscard]] bool verify_digest(const Digest32& digest, const Bytes& signature,
                                 const Bytes& public_key);

// Verifies a Base64 signature (lenient decoding) against a public key hex (lenient decoding)
// over the message digest, then SHA-256(message), then SHA-256(SHA-256(message)).
[[nodiscard]] bool verify_message(std::string_view message, std::string_view public_key_hex,
                                  std::string_view signature_base64);

// Compressed hex of a 33-byte compressed or 65-byte uncompressed public key; "" otherwise.
std::string normalize_public_key(const Bytes& public_key);

}  // namespace wallet
