// The "BIE1" envelope that carries each report's key. The part cipher is read back by the devnet's
// own decryptor in the arcade job and report window tests; its hostile input is the fuzz test's.
#include "wallet/ecies.h"

#include <gtest/gtest.h>

#include <random>

#include "random_key.h"
#include "random_seed.h"

namespace {

using wallet::Bytes;

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

// Each envelope has its own ephemeral key; a flipped bit anywhere (magic, R, body, the MAC's first
// and last byte) or a cut is refused.
TEST(ecies, wrap_is_fresh_each_time_and_unwrap_refuses_tampering) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed() ^ 0x73697a65);
  const wallet_test::TestKey recipient = wallet_test::random_key(rng);
  const Bytes plain(32, static_cast<unsigned char>(rng()));
  std::string envelope, again;
  ASSERT_TRUE(wallet::ecies_wrap(recipient.pub, plain, envelope));
  ASSERT_TRUE(wallet::ecies_wrap(recipient.pub, plain, again));
  EXPECT_NE(envelope, again);
  Bytes back;
  ASSERT_TRUE(wallet::ecies_unwrap(recipient.priv, again, back));
  EXPECT_EQ(back, plain);
  Bytes out;
  for (std::size_t byte : {0u, 10u, 50u, 85u, 116u}) {
    Bytes data = wallet::hex_decode(envelope);
    data[byte] ^= 0x04;
    EXPECT_FALSE(wallet::ecies_unwrap(recipient.priv, wallet::hex_encode(data), out)) << byte;
  }
  for (std::size_t cut : {232u, 233u, 138u, 0u})
    EXPECT_FALSE(wallet::ecies_unwrap(recipient.priv, envelope.substr(0, cut), out)) << cut;
}

}  // namespace
