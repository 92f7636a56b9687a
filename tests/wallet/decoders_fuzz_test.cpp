// Every decoder that reads text or bytes from outside (hex, Base58 and addresses, Base64,
// public keys, DER and r||s signatures, envelopes, report parts, mnemonics) fed random and mangled
// input. Built with AddressSanitizer and UBSan against a sanitized copy of the wallet sources, so
// an out-of-bounds read or undefined arithmetic fails the test; the checks below also hold each
// decoder to its own contract when it does accept something.
#include <gtest/gtest.h>

#include <random>

#include "mangle.h"
#include "random_seed.h"
#include "wallet/curve.h"
#include "wallet/ecies.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/signatures.h"

namespace {

using wallet::Bytes;

constexpr std::string_view kHex = "0123456789abcdefABCDEFxX \n";
constexpr std::string_view kBase58 =
    "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz0OIl";
constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \r\n\t-_";
constexpr std::string_view kAnyByte("\x00\x01\x02\x30\x7f\x80\xff", 7);
const std::string kPrivateKey = std::string(62, '0') + "2a";

class decoders_fuzz : public ::testing::Test {
 protected:
  std::string text_from(std::string_view alphabet, std::size_t max_size) {
    std::string out(random_() % (max_size + 1), ' ');
    for (auto& c : out) c = alphabet[random_() % alphabet.size()];
    return out;
  }
  std::string any_text(std::size_t max_size) {
    std::string out(random_() % (max_size + 1), ' ');
    for (auto& c : out) c = static_cast<char>(random_());
    return out;
  }
  Bytes any_bytes(std::size_t max_size) {
    const std::string text = any_text(max_size);
    return Bytes(text.begin(), text.end());
  }
  // One to four edits of any byte value.
  std::string mangled(std::string text) {
    test_mangle::mangle(text, random_, kAnyByte);
    return text;
  }
  Bytes mangled(const Bytes& bytes) {
    const std::string text = mangled(std::string(bytes.begin(), bytes.end()));
    return Bytes(text.begin(), text.end());
  }

  std::mt19937 random_{static_cast<unsigned>(wallet_test::test_seed() ^ 0x66757a7a)};
};

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(decoders_fuzz, hex) {
  SCOPED_TRACE(wallet_test::seed_note());
  for (int i = 0; i < 20000; ++i) {
    const std::string text = i % 2 ? text_from(kHex, 80) : any_text(80);
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
  const std::string address = wallet::address_from_hash160(wallet::Hash160{});
  for (int i = 0; i < 20000; ++i) {
    const std::string text = i % 3 == 0   ? text_from(kBase58, 60)
                             : i % 3 == 1 ? mangled(address)
                                          : any_text(60);
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
    const std::string text = i % 2 ? text_from(kBase64, 120) : any_text(120);
    Bytes out;
    if (wallet::base64_decode(text, out)) {
      ASSERT_LE(out.size(), text.size() * 3 / 4 + 1);
    }
  }
}

// Damaged public keys are refused or normalised to 33 bytes. Damaged signatures, of every length
// around 64 and 65 bytes, go all the way to verification against the signer's real key (compressed
// and uncompressed): none may read past its end, and none may verify unless its last 64 bytes are
// still the signature (a 65th byte in front is the header, which verification ignores).
TEST_F(decoders_fuzz, public_keys_and_signatures_reach_verification) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(kPrivateKey, pub));
  const Bytes good_key = wallet::hex_decode(pub);
  wallet::PointPtr point = wallet::point_from_bytes(good_key.data(), good_key.size());
  Bytes full_key(65);
  ASSERT_EQ(EC_POINT_point2oct(wallet::secp256k1_group(), point.get(),
                               POINT_CONVERSION_UNCOMPRESSED, full_key.data(), 65, nullptr),
            65u);
  std::string compact, identity;
  ASSERT_TRUE(wallet::sign_message_compact(kPrivateKey, "row", compact));
  ASSERT_TRUE(wallet::identity_signature(kPrivateKey, "row", identity));
  Bytes good_sig;
  ASSERT_TRUE(wallet::base64_decode(identity, good_sig));
  wallet::Digest32 digest{};
  ASSERT_TRUE(wallet::message_digest("row", digest));
  ASSERT_TRUE(wallet::verify_digest(digest, good_sig, good_key));
  ASSERT_TRUE(wallet::verify_digest(digest, good_sig, full_key));
  Bytes compact_sig;
  ASSERT_TRUE(wallet::base64_decode(compact, compact_sig));
  const auto still = [](const Bytes& sig, const Bytes& original) {
    return sig.size() >= 64 && std::equal(sig.end() - 64, sig.end(), original.end() - 64);
  };
  for (int i = 0; i < 3000; ++i) {
    Bytes key = i % 2 ? mangled(good_key) : any_bytes(70);
    if (i % 5 == 0) key.resize(i % 10 == 0 ? 33 : 65, 0x02);
    const std::string normal = wallet::normalize_public_key(key);
    ASSERT_TRUE(normal.empty() || normal.size() == 66u);
    (void)wallet::verify_digest(digest, good_sig, key);

    Bytes signature = i % 4 ? mangled(good_sig) : any_bytes(70);
    if (i % 7 == 0) signature.resize(i % 70);
    ASSERT_EQ(wallet::verify_digest(digest, signature, i % 2 ? good_key : full_key),
              signature.size() <= 65 && still(signature, good_sig))
        << wallet::hex_encode(signature);
    const std::string text = mangled(i % 2 ? compact : identity);
    if (wallet::verify_message("row", pub, text)) {
      Bytes decoded;
      ASSERT_TRUE(wallet::base64_decode(text, decoded));
      ASSERT_LE(decoded.size(), 65u);
      ASSERT_TRUE(still(decoded, i % 2 ? compact_sig : good_sig)) << text;
    }
    (void)wallet::verify_message(any_text(20), any_text(140), any_text(100));
  }
}

TEST_F(decoders_fuzz, der_signatures) {
  SCOPED_TRACE(wallet_test::seed_note());
  Bytes der;
  ASSERT_TRUE(wallet::sign_digest_der(kPrivateKey, wallet::sha256("x"), der));
  for (int i = 0; i < 20000; ++i) {
    const Bytes input = i % 2 ? mangled(der) : any_bytes(90);
    std::array<unsigned char, 64> rs{};
    if (!wallet::parse_der_signature(input, rs)) {
      ASSERT_EQ(rs, (std::array<unsigned char, 64>{}));
    }
  }
}

TEST_F(decoders_fuzz, envelopes_parts_and_mnemonics) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::string pub, envelope;
  ASSERT_TRUE(wallet::public_key_from_private(kPrivateKey, pub));
  ASSERT_TRUE(wallet::ecies_wrap(pub, Bytes(32, 9), envelope));
  wallet::MessageKey32 key{};
  const std::string part = wallet::encrypt_part(key, "some report text");
  const std::string phrase =
      "legal winner thank year wave sausage worth useful legal winner thank yellow";
  for (int i = 0; i < 2000; ++i) {
    Bytes plain;
    if (wallet::ecies_unwrap(kPrivateKey, mangled(envelope), plain)) {
      ASSERT_LE(plain.size(), 48u);
    }
    std::string text;
    (void)wallet::decrypt_part(key, mangled(part), text);
    (void)wallet::validate_mnemonic(mangled(phrase));
    (void)wallet::validate_mnemonic(any_text(120));
  }
}

}  // namespace
