// Signatures: one made by another implementation verifies here, every signer round trips, and
// verification reads other players' rows leniently but never wrongly.
#include "wallet/signatures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "random_key.h"
#include "random_seed.h"
#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"

namespace {

using wallet::Bytes;
using wallet::Digest32;
using RS = std::array<unsigned char, 64>;

RS rs_of(const Bytes& der) {
  RS rs{};
  EXPECT_TRUE(wallet::parse_der_signature(der, rs));
  return rs;
}

RS mirrored(RS rs) {
  wallet::BnPtr s(BN_bin2bn(rs.data() + 32, 32, nullptr));
  EXPECT_EQ(BN_sub(s.get(), wallet::secp256k1_order(), s.get()), 1);
  EXPECT_EQ(BN_bn2binpad(s.get(), rs.data() + 32, 32), 32);
  return rs;
}

// The compressed key that a compact signature's header byte names, or "".
std::string recovered_key(std::string_view message, const std::string& compact) {
  Bytes raw;
  Digest32 digest{};
  if (!wallet::base64_decode(compact, raw) || raw.size() != 65 ||
      !wallet::message_digest(message, digest)) {
    return "";
  }
  wallet::BnPtr r(BN_bin2bn(raw.data() + 1, 32, nullptr));
  wallet::BnPtr s(BN_bin2bn(raw.data() + 33, 32, nullptr));
  wallet::PointPtr point(EC_POINT_new(wallet::secp256k1_group()));
  wallet::PublicKey33 pub{};
  if (!wallet::recover_public_key(wallet::secp256k1_group(), digest, r.get(), s.get(), raw[0] - 31,
                                  point.get()) ||
      !wallet::point_to_compressed(point.get(), pub)) {
    return "";
  }
  return wallet::hex_encode(pub.data(), pub.size());
}

// Bitcoin Core's signmessage test (test/functional/rpc_signmessage.py). Its header byte (32:
// compressed key, recovery id 1) must lead our recovery to the signer's key, as it does elsewhere.
TEST(signatures, verifies_a_signature_made_by_another_implementation) {
  Bytes wif;
  ASSERT_TRUE(wallet::base58_decode("cUeKHd5orzT3mz8P9pxyREHfsWtVfgsfDjiZZBcjUBAaGk1BTj7N", wif));
  ASSERT_EQ(wif.size(), 38u);  // version, key, compressed flag, checksum
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(wallet::hex_encode(wif.data() + 1, 32), pub));
  const char* message = "This is just a test message";
  const char* signature =
      "INbVnW4e6PeRmsv2Qgu8NuopvrVjkcxob+sX8OcZG0SALhWybUjzMLPdAsXI46YZGb0KQTRii+wWIQzRpG/U+S0=";
  EXPECT_TRUE(wallet::verify_message(message, pub, signature));
  EXPECT_FALSE(wallet::verify_message("This is just a test message.", pub, signature));
  EXPECT_EQ(recovered_key(message, signature), pub);
}

TEST(signatures, random_round_trips_of_every_signer) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x736967);
  for (int round = 0; round < 16; ++round) {
    const wallet_test::TestKey key = wallet_test::random_key(rng);
    const wallet_test::TestKey other = wallet_test::random_key(rng);
    std::string message(rng() % 300, 'x');
    for (auto& c : message) c = static_cast<char>(rng());
    Digest32 digest{};
    ASSERT_TRUE(wallet::message_digest(message, digest));
    Bytes der;
    ASSERT_TRUE(wallet::sign_digest_der(key.priv, digest, der));
    const RS rs = rs_of(der), high = mirrored(rs);
    EXPECT_LT(std::memcmp(rs.data() + 32, high.data() + 32, 32), 0) << "not low-S";
    // A key read from the chain that is off the curve names nobody.
    Bytes full_key = wallet::hex_decode(key.pub_uncompressed);
    full_key[64] ^= 0x01;
    EXPECT_EQ(wallet::normalize_public_key(full_key), "") << "off the curve";

    std::string compact, identity;
    ASSERT_TRUE(wallet::sign_message_compact(key.priv, message, compact));
    EXPECT_EQ(recovered_key(message, compact), key.pub);
    ASSERT_TRUE(wallet::identity_signature(key.priv, message, identity));
    // Plain ECDSA accepts the mirror image (n - s) too: rows from signers that do not normalise.
    for (const std::string& text : {compact, identity, wallet::base64_encode(high.data(), 64)}) {
      EXPECT_TRUE(wallet::verify_message(message, key.pub, text));
      EXPECT_TRUE(wallet::verify_message(message, key.pub_uncompressed, text));
      EXPECT_FALSE(wallet::verify_message(message + "!", key.pub, text));
      EXPECT_FALSE(wallet::verify_message(message, other.pub, text));
    }
  }
}

// Rows from older copies signed a single or double SHA-256 of the row: both must still verify.
TEST(signatures, plain_hash_rows_verify) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x6c6f6e67);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  const std::string row = "OW1|score|arcade|alice|alice|1700000000|4200";
  const std::pair<Digest32, bool> signed_digests[] = {{wallet::sha256(row), true},
                                                      {wallet::sha256d(row), true},
                                                      {wallet::sha256(row + "x"), false}};
  for (const auto& [digest, verifies] : signed_digests) {
    Bytes der;
    ASSERT_TRUE(wallet::sign_digest_der(key.priv, digest, der));
    const RS rs = rs_of(der);
    EXPECT_EQ(wallet::verify_message(row, key.pub, wallet::base64_encode(rs.data(), 64)), verifies);
  }
}

}  // namespace
