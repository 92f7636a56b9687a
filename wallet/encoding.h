// Byte-text encodings: hex, Base58 (Bitcoin alphabet) and Base64 (standard alphabet).
// Every decoder takes untrusted text and answers by value or boolean; none throws.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "wallet/hashes.h"

namespace wallet {

// Lowercase hex, two digits a byte.
std::string hex_encode(const unsigned char* data, std::size_t size);
std::string hex_encode(const Bytes& data);
// Bytes of a hex text; empty when the length is odd or any character is not 0-9, a-f, A-F.
Bytes hex_decode(std::string_view text);
// The lenient reading used for public keys from outside: surrounding white space trimmed, a
// leading "0x"/"0X" dropped, then strict pairs. False for odd length or a bad pair.
[[nodiscard]] bool hex_decode_lenient(std::string_view text, Bytes& out);

// Plain Base58 (no checksum): one "1" per leading zero byte, then the number in base 58.
std::string base58_encode(const unsigned char* data, std::size_t size);
// Inverse of base58_encode. False for any character outside the alphabet or text longer than
// kBase58MaxText (the decoder is quadratic; nothing we read is that long).
inline constexpr std::size_t kBase58MaxText = 256;
[[nodiscard]] bool base58_decode(std::string_view text, Bytes& out);

// Standard Base64 with "=" padding.
std::string base64_encode(const unsigned char* data, std::size_t size);
std::string base64_encode(const Bytes& data);
// Lenient Base64: "=" and white space are skipped wherever they stand; any other character
// outside the alphabet fails. Left-over bits after the last full byte are ignored.
[[nodiscard]] bool base64_decode(std::string_view text, Bytes& out);

}  // namespace wallet
