// BIP39 English mnemonics: validation of 12-word phrases and the PBKDF2 seed.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "wallet/hashes.h"

namespace wallet {

inline constexpr std::size_t kBip39WordCount = 2048;

// The i-th word (0..2047) of the BIP39 English list, compiled into the program.
std::string_view bip39_word(std::size_t index);
// Index of a word in the list by exact match, or -1.
int bip39_word_index(std::string_view word);

// True for exactly 12 English words (split at spaces and tabs, runs allowed; a line break is not a
// separator; matched after lower-casing) whose 4 checksum bits match SHA-256 of the entropy.
[[nodiscard]] bool validate_mnemonic(std::string_view mnemonic);

// PBKDF2-HMAC-SHA512, 2048 rounds, password = the text byte for byte (no normalisation),
// salt = "mnemonic" + passphrase. The wallet always passes an empty passphrase.
[[nodiscard]] bool mnemonic_to_seed(std::string_view mnemonic, std::string_view passphrase,
                                    Digest64& seed);

// The 12-word phrase of 16 bytes of entropy (for the wallet application's "create").
std::string mnemonic_from_entropy(const std::array<unsigned char, 16>& entropy);

}  // namespace wallet
