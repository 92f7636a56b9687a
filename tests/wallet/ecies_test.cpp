// Report encryption: the canonical key text, the "BIE1" envelope (opened from envelopes another
// implementation made, so wrap and unwrap cannot agree on a wrong layout) and the part cipher
// (read from a cipher text the openssl command line made).
#include "wallet/ecies.h"

#include <gtest/gtest.h>

#include <random>

#include "random_key.h"
#include "random_seed.h"
#include "wallet/encoding.h"

namespace {

using wallet::Bytes;

Bytes random_bytes(std::mt19937_64& rng, std::size_t size) {
  Bytes out(size);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

TEST(ecies, canonical_public_key_text) {
  const std::string key = "02" + std::string(64, 'a');
  std::string out;
  ASSERT_TRUE(wallet::canonical_public_key(
      " 0X02" + std::string(30, 'A') + " \n" + std::string(34, 'a') + "\t", out));
  EXPECT_EQ(out, key);
  for (const std::string& bad :
       {"04" + std::string(128, 'a'), std::string(), std::string(64, 'a'), key + "0", key + "00",
        key.substr(0, 65) + "g", std::string("0x")}) {
    EXPECT_FALSE(wallet::canonical_public_key(bad, out)) << bad;
    EXPECT_TRUE(out.empty());
  }
}

// Envelopes of Electrum's test_decrypt_message (there Base64; the key is the one it derives from
// the password "pw123").
TEST(ecies, opens_envelopes_made_by_another_implementation) {
  const std::string priv = "2db55bc2121375cef4274b59c36ac703922622527a5af5e6c8df149e3b85b0df";
  const std::string envelopes[] = {
      "42494531030316d813df359242c6be5227bc1ff5af7d48e5bbd50df4e26d4eddca96029e4938ba4907ee85c835"
      "b88cfd869dd62143851932ebe1135005d8cf36acd7c2191c3e2d97b1b8b0e9408d2677153c9e9006",
      "4249453102973976f294e41348c19fa383054708af0317841247b0590ae97584f38cf86a8c7706049c1d22107b"
      "0f245f4508a1b97c75cb464b2efed7c4bceb20bce497f1f8614b59078b968ee380726c501f88bf3a",
  };
  for (const std::string& envelope : envelopes) {
    Bytes plain;
    ASSERT_TRUE(wallet::ecies_unwrap(priv, envelope, plain)) << envelope;
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "me<(s_s)>age");
  }
}

// Every plaintext size round trips, to the compressed and the uncompressed form of the key, with
// a fresh ephemeral key each time.
TEST(ecies, wrap_round_trips_every_size) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x73697a65);
  const wallet_test::TestKey recipient = wallet_test::random_key(rng);
  std::string previous;
  for (std::size_t size : {0, 1, 15, 16, 17, 32, 100}) {
    const Bytes plain = random_bytes(rng, size);
    for (const std::string& pub : {recipient.pub, recipient.pub_uncompressed}) {
      std::string envelope;
      ASSERT_TRUE(wallet::ecies_wrap(pub, plain, envelope));
      EXPECT_EQ(envelope.size(), 2 * (4 + 33 + (size / 16 + 1) * 16 + 32));
      EXPECT_EQ(envelope, wallet::hex_encode(wallet::hex_decode(envelope))) << "lower-case hex";
      EXPECT_NE(envelope, previous);
      Bytes back;
      ASSERT_TRUE(wallet::ecies_unwrap(recipient.priv, envelope, back));
      EXPECT_EQ(back, plain);
      previous = envelope;
    }
  }
}

TEST(ecies, unwrap_refuses_tampering_wrong_keys_and_malformed_envelopes) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x74616d70);
  const wallet_test::TestKey recipient = wallet_test::random_key(rng);
  const wallet_test::TestKey stranger = wallet_test::random_key(rng);
  std::string envelope;
  ASSERT_TRUE(wallet::ecies_wrap(recipient.pub, random_bytes(rng, 32), envelope));
  Bytes out{1};
  EXPECT_FALSE(wallet::ecies_unwrap(stranger.priv, envelope, out));
  EXPECT_TRUE(out.empty());
  // One flipped bit in the magic, R, the body or the MAC.
  for (std::size_t byte : {0u, 10u, 50u, 100u, 116u}) {
    Bytes data = wallet::hex_decode(envelope);
    data[byte] ^= 0x04;
    EXPECT_FALSE(wallet::ecies_unwrap(recipient.priv, wallet::hex_encode(data), out)) << byte;
  }
  for (std::size_t cut : {232u, 233u, 138u, 0u})
    EXPECT_FALSE(wallet::ecies_unwrap(recipient.priv, envelope.substr(0, cut), out)) << cut;
  EXPECT_FALSE(wallet::ecies_unwrap(std::string(64, '0'), envelope, out));
  EXPECT_FALSE(wallet::ecies_unwrap("", envelope, out));
  std::string refused = "stale";
  for (const std::string& not_a_point : {"02" + std::string(64, 'f'), "05" + std::string(64, '1'),
                                         "02" + std::string(62, '1'), std::string("not hex")}) {
    EXPECT_FALSE(wallet::ecies_wrap(not_a_point, Bytes(32, 7), refused)) << not_a_point;
    EXPECT_TRUE(refused.empty());
  }
}

// The part layout is hex(IV) || hex(AES-256-CBC with PKCS#7): this cipher text is what
// `openssl enc -aes-256-cbc -K 0001..1f -iv a0a1..af` writes for the text below.
TEST(ecies, part_cipher_known_answer_round_trips_and_refusals) {
  wallet::MessageKey32 key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i);
  const std::string known =
      "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"
      "2e610127fe0ac99604b6968e0fa5b2127a02cc25ce842bc847c30250966a62cd";
  std::string out = "stale";
  ASSERT_TRUE(wallet::decrypt_part(key, known, out));
  EXPECT_EQ(out, "report text, sixteen+ bytes");

  const std::string text(2000, 'r');
  const std::string part = wallet::encrypt_part(key, text);
  EXPECT_EQ(part.size(), 4064u);
  EXPECT_EQ(part, wallet::hex_encode(wallet::hex_decode(part))) << "lower-case hex";
  EXPECT_NE(wallet::encrypt_part(key, text), part) << "a fresh IV each time";
  for (std::size_t size : {0, 1, 15, 16, 17, 255}) {
    const std::string short_text(size, 'x');
    ASSERT_TRUE(wallet::decrypt_part(key, wallet::encrypt_part(key, short_text), out));
    EXPECT_EQ(out, short_text);
  }
  for (const std::string& bad : {known.substr(0, known.size() - 1), known.substr(0, 32),
                                 known.substr(0, known.size() - 2), "zz" + known.substr(2)}) {
    EXPECT_FALSE(wallet::decrypt_part(key, bad, out)) << bad;
    EXPECT_TRUE(out.empty());
  }
  // A wrong key either trips the padding check or yields other text, never the report.
  key[0] ^= 1;
  if (wallet::decrypt_part(key, known, out)) {
    EXPECT_NE(out, "report text, sixteen+ bytes");
  }
}

}  // namespace
