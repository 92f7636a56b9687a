// Every decoder that reads text or bytes from outside (hex, Base58 and addresses, Base64,
// public keys, DER signatures, envelopes, report parts, mnemonics) fed random and mutated input.
// Built with AddressSanitizer and UBSan against a sanitized copy of the wallet sources, so an
// out-of-bounds read or undefined arithmetic fails the test; the checks below also hold each
// decoder to its own contract when it does accept something.
#include <gtest/gtest.h>

#include <random>

#include "random_seed.h"
#include "wallet/curve.h"
#include "wallet/ecies.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/signatures.h"

namespace {

using wallet::Bytes;

class Fuzzer {
 public:
  Fuzzer() : rng_(wallet_test::test_seed() ^ 0x66757a7a) {}

  std::size_t below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }

  std::string text_from(std::string_view alphabet, std::size_t max_size) {
    std::string out(below(max_size + 1), ' ');
    for (auto& c : out) c = alphabet[below(alphabet.size())];
    return out;
  }

  std::string any_text(std::size_t max_size) {
    std::string out(below(max_size + 1), ' ');
    for (auto& c : out) c = static_cast<char>(rng_());
    return out;
  }

  Bytes any_bytes(std::size_t max_size) {
    const std::string text = any_text(max_size);
    return Bytes(text.begin(), text.end());
  }

  // One to four edits: flip a bit, replace, insert, delete, truncate or duplicate a span.
  template <typename Seq>
  Seq mutate(Seq seq) {
    for (std::size_t edits = 1 + below(4); edits > 0; --edits) {
      const std::size_t at = below(seq.size() + 1);
      switch (below(6)) {
        case 0:
          if (at < seq.size()) seq[at] ^= static_cast<char>(1 << below(8));
          break;
        case 1:
          if (at < seq.size()) seq[at] = static_cast<typename Seq::value_type>(rng_());
          break;
        case 2:
          seq.insert(seq.begin() + static_cast<std::ptrdiff_t>(at),
                     static_cast<typename Seq::value_type>(rng_()));
          break;
        case 3:
          if (at < seq.size()) seq.erase(seq.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 4:
          seq.resize(at);
          break;
        default: {
          const Seq copy(seq.begin() + static_cast<std::ptrdiff_t>(at), seq.end());
          seq.insert(seq.end(), copy.begin(), copy.end());
        }
      }
    }
    return seq;
  }

 private:
  std::mt19937_64 rng_;
};

constexpr std::string_view kHex = "0123456789abcdefABCDEFxX \n";
constexpr std::string_view kBase58 =
    "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz0OIl";
constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \r\n\t-_";

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class decoders_fuzz : public ::testing::Test {
 protected:
  Fuzzer fuzz;
};

TEST_F(decoders_fuzz, hex) {
  SCOPED_TRACE(wallet_test::seed_note());
  for (int i = 0; i < 20000; ++i) {
    const std::string text = i % 2 ? fuzz.text_from(kHex, 80) : fuzz.any_text(80);
    const Bytes out = wallet::hex_decode(text);
    if (!out.empty()) {
      ASSERT_EQ(wallet::hex_encode(out), lower(text));
    }
    Bytes lenient;
    if (wallet::hex_decode_lenient(text, lenient)) {
      ASSERT_LE(lenient.size() * 2, text.size());
    }
    std::string canonical;
    if (wallet::canonical_public_key(text, canonical)) {
      ASSERT_EQ(canonical.size(), 66u);
    }
  }
}

TEST_F(decoders_fuzz, base58_and_addresses) {
  SCOPED_TRACE(wallet_test::seed_note());
  wallet::Hash160 seed_hash{};
  const std::string address = wallet::address_from_hash160(seed_hash);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    switch (i % 3) {
      case 0:
        text = fuzz.text_from(kBase58, 60);
        break;
      case 1:
        text = fuzz.mutate(address);
        break;
      default:
        text = fuzz.any_text(60);
    }
    Bytes out;
    if (wallet::base58_decode(text, out)) {
      ASSERT_EQ(wallet::base58_encode(out.data(), out.size()), text);
    }
    wallet::Hash160 hash{};
    if (wallet::address_to_hash160(text, hash)) {
      ASSERT_EQ(wallet::address_from_hash160(hash), text);
    }
  }
  Bytes out;
  EXPECT_FALSE(wallet::base58_decode(std::string(100000, 'z'), out));
}

TEST_F(decoders_fuzz, base64) {
  SCOPED_TRACE(wallet_test::seed_note());
  for (int i = 0; i < 20000; ++i) {
    const std::string text = i % 2 ? fuzz.text_from(kBase64, 120) : fuzz.any_text(120);
    Bytes out;
    if (wallet::base64_decode(text, out)) {
      ASSERT_LE(out.size(), text.size() * 3 / 4 + 1);
    }
  }
}

TEST_F(decoders_fuzz, public_keys_and_signatures) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(std::string(62, '0') + "2a", pub));
  const Bytes good_key = wallet::hex_decode(pub);
  std::string sig;
  ASSERT_TRUE(wallet::identity_signature(std::string(62, '0') + "2a", "row", sig));
  Bytes good_sig;
  ASSERT_TRUE(wallet::base64_decode(sig, good_sig));
  for (int i = 0; i < 1500; ++i) {
    Bytes key = i % 2 ? fuzz.mutate(good_key) : fuzz.any_bytes(70);
    if (i % 5 == 0) key.resize(i % 10 == 0 ? 33 : 65, 0x02);
    const std::string normal = wallet::normalize_public_key(key);
    ASSERT_TRUE(normal.empty() || normal.size() == 66u);
    wallet::PointPtr point = wallet::point_from_bytes(key.data(), key.size());
    const Bytes signature = i % 3 ? fuzz.mutate(good_sig) : fuzz.any_bytes(70);
    (void)wallet::verify_digest(wallet::sha256("row"), signature, key);
    (void)wallet::verify_message("row", fuzz.mutate(pub), fuzz.mutate(sig));
    (void)wallet::verify_message(fuzz.any_text(20), fuzz.any_text(140), fuzz.any_text(100));
  }
}

TEST_F(decoders_fuzz, der_signatures) {
  SCOPED_TRACE(wallet_test::seed_note());
  Bytes der;
  ASSERT_TRUE(wallet::sign_digest_der(std::string(62, '0') + "2a", wallet::sha256("x"), der));
  for (int i = 0; i < 20000; ++i) {
    const Bytes input = i % 2 ? fuzz.mutate(der) : fuzz.any_bytes(90);
    std::array<unsigned char, 64> rs{};
    if (!wallet::parse_der_signature(input, rs)) {
      ASSERT_EQ(rs, (std::array<unsigned char, 64>{}));
    }
  }
}

TEST_F(decoders_fuzz, envelopes_parts_and_mnemonics) {
  SCOPED_TRACE(wallet_test::seed_note());
  const std::string priv = std::string(62, '0') + "2a";
  std::string pub, envelope;
  ASSERT_TRUE(wallet::public_key_from_private(priv, pub));
  ASSERT_TRUE(wallet::ecies_wrap(pub, Bytes(32, 9), envelope));
  wallet::MessageKey32 key{};
  const std::string part = wallet::encrypt_part(key, "some report text");
  const std::string phrase =
      "legal winner thank year wave sausage worth useful legal winner thank yellow";
  for (int i = 0; i < 2000; ++i) {
    Bytes plain;
    if (wallet::ecies_unwrap(priv, fuzz.mutate(envelope), plain)) {
      ASSERT_LE(plain.size(), 48u);
    }
    std::string text;
    (void)wallet::decrypt_part(key, fuzz.mutate(part), text);
    (void)wallet::validate_mnemonic(fuzz.mutate(phrase));
    (void)wallet::validate_mnemonic(fuzz.any_text(120));
  }
}

}  // namespace
