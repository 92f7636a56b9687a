// Every decoder of outside input fed random and mangled input, built with AddressSanitizer and
// UBSan so that a read out of bounds fails; what a decoder accepts must still meet its contract.
#include <gtest/gtest.h>
#include <strings.h>

#include <random>

#include "mangle.h"
#include "random_key.h"
#include "random_seed.h"
#include "wallet/ecies.h"
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
constexpr char kPhrase[] =
    "legal winner thank year wave sausage worth useful legal winner thank yellow";

class decoders_fuzz : public ::testing::Test {
 protected:
  // Text of up to max_size characters from `alphabet`, or of any byte when it is empty.
  std::string text(std::size_t max_size, std::string_view alphabet = {}) {
    std::string out(random_() % (max_size + 1), ' ');
    for (auto& c : out) {
      c = alphabet.empty() ? static_cast<char>(random_()) : alphabet[random_() % alphabet.size()];
    }
    return out;
  }
  Bytes bytes(std::size_t max_size) {
    const std::string out = text(max_size);
    return Bytes(out.begin(), out.end());
  }
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

// Whatever a text decoder accepts encodes back to the same text (hex up to case).
TEST_F(decoders_fuzz, hex_base58_addresses_and_base64) {
  SCOPED_TRACE(wallet_test::seed_note());
  const std::string address = wallet::address_from_hash160(wallet::Hash160{});
  for (int i = 0; i < 20000; ++i) {
    const bool garbage = i % 3 == 0;
    const std::string hex = garbage ? text(80) : text(80, kHex);
    const Bytes out = wallet::hex_decode(hex);
    ASSERT_TRUE(out.empty() || ::strcasecmp(wallet::hex_encode(out).c_str(), hex.c_str()) == 0)
        << hex;
    Bytes decoded;
    ASSERT_TRUE(!wallet::hex_decode_lenient(hex, decoded) || decoded.size() * 2 <= hex.size());
    std::string canonical;
    ASSERT_TRUE(!wallet::canonical_public_key(hex, canonical) || canonical.size() == 66u);

    const std::string b58 = garbage ? text(60) : i % 3 == 1 ? mangled(address) : text(60, kBase58);
    ASSERT_TRUE(!wallet::base58_decode(b58, decoded) ||
                wallet::base58_encode(decoded.data(), decoded.size()) == b58)
        << b58;
    wallet::Hash160 hash{};
    ASSERT_TRUE(!wallet::address_to_hash160(b58, hash) || wallet::address_from_hash160(hash) == b58)
        << b58;

    const std::string b64 = garbage ? text(120) : text(120, kBase64);
    ASSERT_TRUE(!wallet::base64_decode(b64, decoded) || decoded.size() <= b64.size() * 3 / 4 + 1);
  }
  Bytes out;
  EXPECT_FALSE(wallet::base58_decode(std::string(100000, 'z'), out));
}

// Damaged signatures reach verification against the signer's real key: none may verify unless its
// last 64 bytes are still the signature (a 65th byte in front is the header, which is ignored).
TEST_F(decoders_fuzz, keys_signatures_envelopes_parts_and_mnemonics) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed());
  const wallet_test::TestKey signer = wallet_test::random_key(rng);
  const Bytes good_key = wallet::hex_decode(signer.pub);
  const Bytes full_key = wallet::hex_decode(signer.pub_uncompressed);
  std::string compact, identity;
  ASSERT_TRUE(wallet::sign_message_compact(signer.priv, "row", compact));
  ASSERT_TRUE(wallet::identity_signature(signer.priv, "row", identity));
  Bytes good_sig, compact_sig, der;
  ASSERT_TRUE(wallet::base64_decode(identity, good_sig));
  ASSERT_TRUE(wallet::base64_decode(compact, compact_sig));
  wallet::Digest32 digest{};
  ASSERT_TRUE(wallet::message_digest("row", digest));
  ASSERT_TRUE(wallet::sign_digest_der(signer.priv, digest, der));
  std::string envelope;
  ASSERT_TRUE(wallet::ecies_wrap(signer.pub, Bytes(32, 9), envelope));
  const wallet::MessageKey32 part_key{};
  const std::string part = wallet::encrypt_part(part_key, "some report text");
  const auto still = [](const Bytes& sig, const Bytes& original) {
    return sig.size() >= 64 && std::equal(sig.end() - 64, sig.end(), original.end() - 64);
  };
  for (int i = 0; i < 3000; ++i) {
    Bytes key = i % 2 ? mangled(good_key) : bytes(70);
    if (i % 5 == 0) key.resize(i % 10 == 0 ? 33 : 65, 0x02);
    const std::string normal = wallet::normalize_public_key(key);
    ASSERT_TRUE(normal.empty() || normal.size() == 66u);
    (void)wallet::verify_digest(digest, good_sig, key);

    Bytes signature = i % 4 ? mangled(good_sig) : bytes(70);
    if (i % 7 == 0) signature.resize(i % 70);
    ASSERT_EQ(wallet::verify_digest(digest, signature, i % 2 ? good_key : full_key),
              signature.size() <= 65 && still(signature, good_sig))
        << wallet::hex_encode(signature);
    const std::string sig_text = mangled(i % 2 ? compact : identity);
    if (wallet::verify_message("row", signer.pub, sig_text)) {
      Bytes decoded;
      ASSERT_TRUE(wallet::base64_decode(sig_text, decoded));
      ASSERT_LE(decoded.size(), 65u);
      ASSERT_TRUE(still(decoded, i % 2 ? compact_sig : good_sig)) << sig_text;
    }
    (void)wallet::verify_message(text(20), text(140), text(100));

    std::array<unsigned char, 64> rs{};
    if (!wallet::parse_der_signature(i % 2 ? mangled(der) : bytes(90), rs)) {
      ASSERT_EQ(rs, (std::array<unsigned char, 64>{}));
    }
    Bytes plain;
    ASSERT_TRUE(!wallet::ecies_unwrap(signer.priv, mangled(envelope), plain) ||
                plain.size() <= 48u);
    std::string out;
    (void)wallet::decrypt_part(part_key, mangled(part), out);
    (void)wallet::validate_mnemonic(mangled(std::string(kPhrase)));
    (void)wallet::validate_mnemonic(text(120));
  }
}

}  // namespace
