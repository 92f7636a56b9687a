#include "wallet/mnemonic.h"

#include <algorithm>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "wallet/secret.h"

namespace wallet {

// Generated at configure time from wallet/data/bip39-english.txt.
extern const std::array<std::string_view, 2048> kBip39EnglishWords;

namespace {

constexpr std::size_t kWords = 12;
constexpr int kPbkdf2Rounds = 2048;

}  // namespace

std::string_view bip39_word(std::size_t index) {
  return index < kBip39WordCount ? kBip39EnglishWords[index] : std::string_view{};
}

int bip39_word_index(std::string_view word) {
  // The list is sorted, so a binary search finds the exact match.
  const auto it = std::lower_bound(kBip39EnglishWords.begin(), kBip39EnglishWords.end(), word);
  if (it == kBip39EnglishWords.end() || *it != word) return -1;
  return static_cast<int>(it - kBip39EnglishWords.begin());
}

bool validate_mnemonic(std::string_view mnemonic) {
  // Only spaces and tabs separate words: a line break stays inside a word and fails the lookup.
  SecretArray<int, kWords> values;
  std::size_t count = 0;
  std::string word;
  // Reserved once so growing the word leaves no stray copies of mnemonic text in freed memory.
  word.reserve(mnemonic.size());
  bool ok = true;
  auto finish_word = [&] {
    if (word.empty()) return;
    if (count >= kWords) {
      ok = false;
    } else {
      values[count] = bip39_word_index(word);
      if (values[count] < 0) ok = false;
    }
    ++count;
    OPENSSL_cleanse(word.data(), word.size());
    word.clear();
  };
  for (char c : mnemonic) {
    if (c == ' ' || c == '\t') {
      finish_word();
    } else {
      word.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
  }
  finish_word();
  if (!ok || count != kWords) return false;
  // 12 x 11 bits = 128 bits of entropy followed by 4 checksum bits, most significant bit first.
  SecretBytes<17> bits;
  std::size_t bit = 0;
  for (int value : values) {
    for (int b = 10; b >= 0; --b, ++bit) {
      if ((value >> b) & 1) bits[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
    }
  }
  SecretBytes<32> hash;
  hash.bytes = sha256(bits.data(), 16);
  const bool valid = (bits[16] >> 4) == (hash[0] >> 4);
  return valid;
}

bool mnemonic_to_seed(std::string_view mnemonic, std::string_view passphrase, Digest64& seed) {
  std::string salt = "mnemonic";
  salt.append(passphrase);
  const int ok = PKCS5_PBKDF2_HMAC(mnemonic.data(), static_cast<int>(mnemonic.size()),
                                   reinterpret_cast<const unsigned char*>(salt.data()),
                                   static_cast<int>(salt.size()), kPbkdf2Rounds, EVP_sha512(),
                                   static_cast<int>(seed.size()), seed.data());
  OPENSSL_cleanse(salt.data(), salt.size());
  if (ok != 1) {
    OPENSSL_cleanse(seed.data(), seed.size());
    return false;
  }
  return true;
}

std::string mnemonic_from_entropy(const std::array<unsigned char, 16>& entropy) {
  std::array<unsigned char, 17> bits{};
  std::copy(entropy.begin(), entropy.end(), bits.begin());
  Digest32 hash = sha256(entropy.data(), entropy.size());
  bits[16] = static_cast<unsigned char>(hash[0] & 0xf0);
  OPENSSL_cleanse(hash.data(), hash.size());
  std::string out;
  out.reserve(kWords * 9);  // longest word 8 letters plus a space: no reallocation of the phrase
  for (std::size_t w = 0; w < kWords; ++w) {
    int value = 0;
    for (std::size_t b = 0; b < 11; ++b) {
      const std::size_t bit = w * 11 + b;
      value = value << 1 | ((bits[bit / 8] >> (7 - bit % 8)) & 1);
    }
    if (!out.empty()) out.push_back(' ');
    out.append(kBip39EnglishWords[static_cast<std::size_t>(value)]);
  }
  OPENSSL_cleanse(bits.data(), bits.size());
  return out;
}

}  // namespace wallet
