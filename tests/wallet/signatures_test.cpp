// Signatures: a signature made elsewhere verifies here, random round trips of every signer, and
// the malformed and borderline inputs verification meets when it reads other players' rows.
#include "wallet/signatures.h"

#include <gtest/gtest.h>

#include <random>

#include "random_key.h"
#include "random_seed.h"
#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"

namespace {

using wallet::Bytes;
using wallet::Digest32;

constexpr char kOrderHex[] = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";

Digest32 random_digest(std::mt19937_64& rng) {
  Digest32 d{};
  for (auto& b : d) b = static_cast<unsigned char>(rng());
  return d;
}

std::array<unsigned char, 64> rs_of(const Bytes& der) {
  std::array<unsigned char, 64> rs{};
  EXPECT_TRUE(wallet::parse_der_signature(der, rs));
  return rs;
}

bool s_is_low(const std::array<unsigned char, 64>& rs) {
  wallet::BnPtr s(BN_bin2bn(rs.data() + 32, 32, nullptr));
  wallet::BnPtr half(BN_dup(wallet::secp256k1_order()));
  BN_rshift1(half.get(), half.get());
  return BN_cmp(s.get(), half.get()) <= 0;
}

std::string b64(const std::array<unsigned char, 64>& rs) {
  return wallet::base64_encode(rs.data(), rs.size());
}

// Bitcoin Core's signmessage test (test/functional/rpc_signmessage.py): a deterministic signature
// made by another implementation must verify here.
TEST(signatures, verifies_a_signature_made_by_another_implementation) {
  Bytes wif;
  ASSERT_TRUE(wallet::base58_decode("cUeKHd5orzT3mz8P9pxyREHfsWtVfgsfDjiZZBcjUBAaGk1BTj7N", wif));
  ASSERT_EQ(wif.size(), 38u);  // version, key, compressed flag, checksum
  const std::string priv = wallet::hex_encode(wif.data() + 1, 32);
  std::string pub;
  ASSERT_TRUE(wallet::public_key_from_private(priv, pub));
  Bytes address;
  ASSERT_TRUE(wallet::base58_decode("mpLQjfK79b7CCV4VMJWEWAj5Mpx8Up5zxB", address));
  const Bytes pub_bytes = wallet::hex_decode(pub);
  const wallet::Hash160 id = wallet::hash160(pub_bytes.data(), pub_bytes.size());
  ASSERT_TRUE(std::equal(id.begin(), id.end(), address.begin() + 1));

  const char* message = "This is just a test message";
  const char* signature =
      "INbVnW4e6PeRmsv2Qgu8NuopvrVjkcxob+sX8OcZG0SALhWybUjzMLPdAsXI46YZGb0KQTRii+wWIQzRpG/U+S0=";
  EXPECT_TRUE(wallet::verify_message(message, pub, signature));
  EXPECT_FALSE(wallet::verify_message("This is just a test message.", pub, signature));

  // Its header byte names the recovery id the way every other implementation reads it; our
  // recovery must arrive at the signer's key with that id (and only that one).
  Bytes raw;
  ASSERT_TRUE(wallet::base64_decode(signature, raw));
  ASSERT_EQ(raw.size(), 65u);
  ASSERT_EQ(raw[0], 32) << "compressed key, recovery id 1";
  Digest32 digest{};
  ASSERT_TRUE(wallet::message_digest(message, digest));
  wallet::BnPtr r(BN_bin2bn(raw.data() + 1, 32, nullptr));
  wallet::BnPtr s(BN_bin2bn(raw.data() + 33, 32, nullptr));
  const EC_GROUP* group = wallet::secp256k1_group();
  for (int id = 0; id < 4; ++id) {
    wallet::PointPtr point(EC_POINT_new(group));
    wallet::PublicKey33 recovered{};
    const bool ok = wallet::recover_public_key(group, digest, r.get(), s.get(), id, point.get()) &&
                    wallet::point_to_compressed(point.get(), recovered);
    EXPECT_EQ(ok && wallet::hex_encode(recovered.data(), recovered.size()) == pub, id == 1) << id;
  }
}

TEST(signatures, random_round_trips_of_every_signer) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x736967);
  for (int round = 0; round < 24; ++round) {
    const wallet_test::TestKey key = wallet_test::random_key(rng);
    const wallet_test::TestKey other = wallet_test::random_key(rng);
    const Digest32 digest = random_digest(rng);

    Bytes der;
    ASSERT_TRUE(wallet::sign_digest_der(key.priv, digest, der));
    const auto rs = rs_of(der);
    EXPECT_TRUE(s_is_low(rs)) << "DER signatures must always be low-S";
    const Bytes sig(rs.begin(), rs.end());
    EXPECT_TRUE(wallet::verify_digest(digest, sig, wallet::hex_decode(key.pub)));
    EXPECT_TRUE(wallet::verify_digest(digest, sig, wallet::hex_decode(key.pub_uncompressed)));
    EXPECT_FALSE(wallet::verify_digest(digest, sig, wallet::hex_decode(other.pub)));
    Digest32 changed = digest;
    changed[round % 32] ^= 0x01;
    EXPECT_FALSE(wallet::verify_digest(changed, sig, wallet::hex_decode(key.pub)));

    std::string message(rng() % 300, 'x');
    for (auto& c : message) c = static_cast<char>(rng());
    std::string compact;
    ASSERT_TRUE(wallet::sign_message_compact(key.priv, message, compact));
    ASSERT_EQ(compact.size(), 88u);
    EXPECT_EQ(compact.substr(87), "=") << "a 65-byte signature ends in exactly one '='";
    EXPECT_NE(compact[86], '=');
    EXPECT_TRUE(wallet::verify_message(message, key.pub, compact));
    EXPECT_TRUE(wallet::verify_message(message, key.pub_uncompressed, compact));
    EXPECT_FALSE(wallet::verify_message(message + "!", key.pub, compact));
    EXPECT_FALSE(wallet::verify_message(message, other.pub, compact));

    // The header's recovery id must recover exactly the signer's key.
    Bytes raw;
    ASSERT_TRUE(wallet::base64_decode(compact, raw));
    ASSERT_EQ(raw.size(), 65u);
    ASSERT_GE(raw[0], 31);
    ASSERT_LE(raw[0], 34);
    wallet::BnPtr r(BN_bin2bn(raw.data() + 1, 32, nullptr));
    wallet::BnPtr s(BN_bin2bn(raw.data() + 33, 32, nullptr));
    wallet::PointPtr recovered(EC_POINT_new(wallet::secp256k1_group()));
    Digest32 message_digest{};
    ASSERT_TRUE(wallet::message_digest(message, message_digest));
    ASSERT_TRUE(wallet::recover_public_key(wallet::secp256k1_group(), message_digest, r.get(),
                                           s.get(), raw[0] - 31, recovered.get()));
    wallet::PublicKey33 recovered_pub{};
    ASSERT_TRUE(wallet::point_to_compressed(recovered.get(), recovered_pub));
    EXPECT_EQ(wallet::hex_encode(recovered_pub.data(), recovered_pub.size()), key.pub);

    std::string identity;
    ASSERT_TRUE(wallet::identity_signature(key.priv, message, identity));
    ASSERT_EQ(identity.size(), 88u);
    EXPECT_EQ(identity.substr(86), "==");
    EXPECT_TRUE(wallet::verify_message(message, key.pub, identity));
  }
}

// Verification follows plain ECDSA: the mirror image (n - s) of a signature is accepted.
TEST(signatures, high_s_signature_is_accepted_by_verification) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x68696768);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  const Digest32 digest = random_digest(rng);
  Bytes der;
  ASSERT_TRUE(wallet::sign_digest_der(key.priv, digest, der));
  auto rs = rs_of(der);
  wallet::BnPtr s(BN_bin2bn(rs.data() + 32, 32, nullptr));
  ASSERT_EQ(BN_sub(s.get(), wallet::secp256k1_order(), s.get()), 1);
  ASSERT_EQ(BN_bn2binpad(s.get(), rs.data() + 32, 32), 32);
  ASSERT_FALSE(s_is_low(rs));
  EXPECT_TRUE(
      wallet::verify_digest(digest, Bytes(rs.begin(), rs.end()), wallet::hex_decode(key.pub)));
}

// 252 bytes still fit the one-byte length, 253 need 0xFD and two bytes, 70000 need 0xFE and four
// (answers from Python's hashlib over the prefixed text).
TEST(signatures, message_digest_length_prefix) {
  const std::pair<std::size_t, const char*> known[] = {
      {252, "b7b164ef991d52735c6bb888642ad7eb6b6939dc984a7fceff4376be041d142f"},
      {253, "df167ad249ff5837e6acada677118b2ecc6757ab4cdade39caead99ef0220230"},
      {70000, "2eeb385515dadd60d8d040b37f1f9294ee25b8ae1472f0a1a639e9973c780f51"}};
  for (const auto& [size, hex] : known) {
    Digest32 digest{};
    ASSERT_TRUE(wallet::message_digest(std::string(size, 'a'), digest));
    EXPECT_EQ(wallet::hex_encode(digest.data(), digest.size()), hex) << size;
  }
}

// Signers write at most a 3-byte length; a longer message falls back (identity) or fails
// (compact), and verification still understands the 0xFE form.
TEST(signatures, long_messages) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x6c6f6e67);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  const std::string longest(wallet::kMaxSignedMessage, 'q');
  const std::string too_long(wallet::kMaxSignedMessage + 1, 'q');
  std::string sig;
  EXPECT_TRUE(wallet::sign_message_compact(key.priv, longest, sig));
  EXPECT_TRUE(wallet::verify_message(longest, key.pub, sig));
  EXPECT_FALSE(wallet::sign_message_compact(key.priv, too_long, sig));
  EXPECT_TRUE(sig.empty());

  ASSERT_TRUE(wallet::identity_signature(key.priv, too_long, sig));
  Bytes raw;
  ASSERT_TRUE(wallet::base64_decode(sig, raw));
  EXPECT_TRUE(wallet::verify_digest(wallet::sha256(too_long), raw, wallet::hex_decode(key.pub)));
  EXPECT_TRUE(wallet::verify_message(too_long, key.pub, sig));

  Digest32 digest{};
  ASSERT_TRUE(wallet::message_digest(too_long, digest));
  Bytes der;
  ASSERT_TRUE(wallet::sign_digest_der(key.priv, digest, der));
  EXPECT_TRUE(wallet::verify_message(too_long, key.pub, b64(rs_of(der))));
}

// Rows signed by older copies may use a single or double SHA-256 of the message.
TEST(signatures, plain_hash_signatures_verify_through_the_fallback_digests) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x66616c6c);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  const std::string message = "OW1|score|arcade|alice|alice|1700000000|4200";
  Bytes der;
  ASSERT_TRUE(wallet::sign_digest_der(key.priv, wallet::sha256(message), der));
  EXPECT_TRUE(wallet::verify_message(message, key.pub, b64(rs_of(der))));
  ASSERT_TRUE(wallet::sign_digest_der(key.priv, wallet::sha256d(message), der));
  EXPECT_TRUE(wallet::verify_message(message, key.pub, b64(rs_of(der))));
  ASSERT_TRUE(wallet::sign_digest_der(key.priv, wallet::sha256(message + "x"), der));
  EXPECT_FALSE(wallet::verify_message(message, key.pub, b64(rs_of(der))));
}

TEST(signatures, lenient_key_and_signature_text) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x6c656e);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  const std::string message = "hello board";
  std::string sig;
  ASSERT_TRUE(wallet::identity_signature(key.priv, message, sig));

  std::string upper = key.pub;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(wallet::verify_message(message, " \t0x" + upper + "\r\n", sig));
  EXPECT_FALSE(wallet::verify_message(message, key.pub.substr(1), sig));
  EXPECT_FALSE(wallet::verify_message(message, key.pub.substr(0, 64) + "zz", sig));

  const std::string wrapped =
      sig.substr(0, 40) + "\r\n" + sig.substr(40, 30) + "\n" + sig.substr(70);
  EXPECT_TRUE(wallet::verify_message(message, key.pub, wrapped));
  EXPECT_TRUE(wallet::verify_message(message, key.pub, sig.substr(0, 86)));  // padding lost
  EXPECT_FALSE(wallet::verify_message(message, key.pub, sig.substr(0, 40) + "*" + sig.substr(40)));

  // Signatures of other lengths are the decoder fuzz test's (every length around 64 and 65).
}

TEST(signatures, signing_refuses_invalid_private_keys) {
  const Digest32 digest = wallet::sha256("x");
  for (const std::string& priv : {std::string(64, '0'), std::string(kOrderHex),
                                  std::string(63, '1'), std::string(64, 'g'), std::string()}) {
    Bytes der{1, 2, 3};
    std::string text = "stale";
    EXPECT_FALSE(wallet::sign_digest_der(priv, digest, der)) << priv;
    EXPECT_TRUE(der.empty());
    EXPECT_FALSE(wallet::sign_message_compact(priv, "m", text));
    EXPECT_FALSE(wallet::identity_signature(priv, "m", text));
    EXPECT_TRUE(text.empty());
  }
}

TEST(signatures, recovery_refuses_bad_arguments) {
  const EC_GROUP* group = wallet::secp256k1_group();
  wallet::PointPtr out(EC_POINT_new(group));
  wallet::BnPtr one(BN_new()), zero(BN_new());
  BN_one(one.get());
  BN_zero(zero.get());
  const Digest32 digest = wallet::sha256("x");
  EXPECT_FALSE(wallet::recover_public_key(group, digest, one.get(), one.get(), 4, out.get()));
  EXPECT_FALSE(wallet::recover_public_key(group, digest, one.get(), one.get(), -1, out.get()));
  EXPECT_FALSE(wallet::recover_public_key(group, digest, zero.get(), one.get(), 0, out.get()));
  EXPECT_FALSE(wallet::recover_public_key(group, digest, one.get(), zero.get(), 0, out.get()));
  EXPECT_FALSE(wallet::recover_public_key(nullptr, digest, one.get(), one.get(), 0, out.get()));
  EXPECT_FALSE(wallet::recover_public_key(group, digest, one.get(), one.get(), 0, nullptr));
  // Recovery ids 2 and 3 use x = r + n, which must stay below the field prime: not for r = n - 1.
  wallet::BnPtr big(BN_dup(wallet::secp256k1_order()));
  BN_sub_word(big.get(), 1);
  EXPECT_FALSE(wallet::recover_public_key(group, digest, big.get(), one.get(), 2, out.get()));
}

TEST(signatures, normalize_public_key_forms) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x6e6f726d);
  const wallet_test::TestKey key = wallet_test::random_key(rng);
  EXPECT_EQ(wallet::normalize_public_key(wallet::hex_decode(key.pub)), key.pub);
  EXPECT_EQ(wallet::normalize_public_key(wallet::hex_decode(key.pub_uncompressed)), key.pub);
  Bytes off_curve = wallet::hex_decode(key.pub_uncompressed);
  off_curve[64] ^= 0x01;
  EXPECT_EQ(wallet::normalize_public_key(off_curve), "");
  Bytes wrong_prefix = wallet::hex_decode(key.pub);
  wrong_prefix[0] = 0x04;
  EXPECT_EQ(wallet::normalize_public_key(wrong_prefix), "");
  EXPECT_EQ(wallet::normalize_public_key(Bytes(64, 0x02)), "");
  EXPECT_EQ(wallet::normalize_public_key({}), "");
}

}  // namespace
