// Report encryption primitives: the canonical public key text, the "BIE1" ECIES key wrap and
// AES-256-CBC encryption of one message part. The unwrap and part decryption are the architect's
// side; the game never decrypts, but tests and the project's tools do.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "wallet/hashes.h"

namespace wallet {

using MessageKey32 = std::array<unsigned char, 32>;

// Hex text dropped of white space, case ignored, optional leading "0x": exactly 33 bytes, written
// back as 66 lowercase hex characters. False (output empty) for anything else.
[[nodiscard]] bool canonical_public_key(std::string_view text, std::string& canonical_hex);

// "BIE1" || ephemeral R (33) || AES-128-CBC(plaintext) || HMAC-SHA256, as lowercase hex.
// The recipient key hex may be compressed (66) or uncompressed (130). Output cleared first.
[[nodiscard]] bool ecies_wrap(const std::string& recipient_public_key_hex, const Bytes& plaintext,
                              std::string& envelope_hex);
// Inverse of ecies_wrap with the recipient's private key hex. False on a bad MAC, bad padding,
// a malformed envelope or key. The plaintext is cleared first.
[[nodiscard]] bool ecies_unwrap(const std::string& private_key_hex, std::string_view envelope_hex,
                                Bytes& plaintext);

// hex(16-byte random IV) || hex(AES-256-CBC(key, IV, text) with PKCS#7). "" on failure.
std::string encrypt_part(const MessageKey32& key, std::string_view text);
// Inverse of encrypt_part. False on malformed hex, a short input or bad padding.
[[nodiscard]] bool decrypt_part(const MessageKey32& key, std::string_view part_hex,
                                std::string& text);

}  // namespace wallet
