// Hash functions the wallet uses: SHA-256, double SHA-256, hash160 (RIPEMD-160 of SHA-256),
// SHA-512 and HMAC, all through libcrypto's EVP interface.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace wallet {

using Bytes = std::vector<unsigned char>;
using Digest32 = std::array<unsigned char, 32>;
using Digest64 = std::array<unsigned char, 64>;
using Hash160 = std::array<unsigned char, 20>;

// These cannot fail on valid input with a working libcrypto; if libcrypto itself cannot hash
// (a broken installation) the process aborts rather than hand out a wrong hash, because a wrong
// hash would produce an address nobody holds the key of.
Digest32 sha256(const unsigned char* data, std::size_t size);
Digest32 sha256(std::string_view text);
Digest32 sha256d(const unsigned char* data, std::size_t size);
Digest32 sha256d(std::string_view text);
Hash160 hash160(const unsigned char* data, std::size_t size);
Digest64 sha512(const unsigned char* data, std::size_t size);

// HMAC with SHA-512 / SHA-256. False (output wiped) when libcrypto refuses.
[[nodiscard]] bool hmac_sha512(const unsigned char* key, std::size_t key_size,
                               const unsigned char* data, std::size_t data_size, Digest64& out);
[[nodiscard]] bool hmac_sha256(const unsigned char* key, std::size_t key_size,
                               const unsigned char* data, std::size_t data_size, Digest32& out);

}  // namespace wallet
