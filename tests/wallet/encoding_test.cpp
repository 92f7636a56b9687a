// Hex, Base58 and Base64: known answers, round trips on random bytes, and refusals.
#include "wallet/encoding.h"

#include <gtest/gtest.h>

#include <random>

#include "random_seed.h"

namespace {

using wallet::Bytes;

Bytes bytes_of(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

TEST(encoding, hex_known_answers_and_case) {
  const Bytes data = {0x00, 0x01, 0xab, 0xff};
  EXPECT_EQ(wallet::hex_encode(data), "0001abff");
  EXPECT_EQ(wallet::hex_decode("0001ABff"), data);
  EXPECT_TRUE(wallet::hex_decode("").empty());
}

// An odd length or a stray character must give nothing rather than a shortened key.
TEST(encoding, hex_decode_refuses_odd_length_and_bad_digits) {
  EXPECT_TRUE(wallet::hex_decode("abc").empty());
  EXPECT_TRUE(wallet::hex_decode("0g").empty());
  EXPECT_TRUE(wallet::hex_decode("00 1").empty());
  EXPECT_TRUE(wallet::hex_decode("0x00").empty());
}

TEST(encoding, lenient_hex_trims_and_drops_0x_prefix) {
  Bytes out;
  ASSERT_TRUE(wallet::hex_decode_lenient("  0XaB01\n", out));
  EXPECT_EQ(out, (Bytes{0xab, 0x01}));
  EXPECT_FALSE(wallet::hex_decode_lenient("0xabc", out));
  EXPECT_FALSE(wallet::hex_decode_lenient("ab c1", out));
  EXPECT_TRUE(out.empty());
}

// Vectors from Bitcoin Core's base58_encode_decode.json.
TEST(encoding, base58_known_answers) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"61", "2g"},
      {"626262", "a3gV"},
      {"636363", "aPEr"},
      {"73696d706c792061206c6f6e6720737472696e67", "2cFupjhnEsSn59qHXstmK2ffpLv2"},
      {"00eb15231dfceb60925886b67d065299925915aeb172c06647", "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L"},
      {"516b6fcd0f", "ABnLTmg"},
      {"bf4f89001e670274dd", "3SEo3LWLoPntC"},
      {"572e4794", "3EFU7m"},
      {"ecac89cad93923c02321", "EJDM8drfXA6uyA"},
      {"10c8511e", "Rt5zm"},
      {"00000000000000000000", "1111111111"},
  };
  for (const auto& [hex, text] : vectors) {
    const Bytes data = wallet::hex_decode(hex);
    EXPECT_EQ(wallet::base58_encode(data.data(), data.size()), text);
    Bytes decoded;
    ASSERT_TRUE(wallet::base58_decode(text, decoded)) << text;
    EXPECT_EQ(wallet::hex_encode(decoded), hex);
  }
}

TEST(encoding, base58_refuses_characters_outside_alphabet_and_overlong_text) {
  Bytes out;
  for (const char* text : {"10", "1O", "1I", "1l", "1+", "a b"}) {
    EXPECT_FALSE(wallet::base58_decode(text, out)) << text;
  }
  EXPECT_FALSE(wallet::base58_decode(std::string(wallet::kBase58MaxText + 1, '2'), out));
}

// RFC 4648 section 10.
TEST(encoding, base64_known_answers) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, text] : vectors) {
    EXPECT_EQ(wallet::base64_encode(bytes_of(plain)), text);
    Bytes decoded;
    ASSERT_TRUE(wallet::base64_decode(text, decoded));
    EXPECT_EQ(decoded, bytes_of(plain));
  }
}

// Signatures pasted from mail or chat arrive wrapped and with padding lost.
TEST(encoding, base64_decode_skips_padding_and_white_space_anywhere) {
  Bytes out;
  ASSERT_TRUE(wallet::base64_decode("Zm9v\r\nYm\tE", out));
  EXPECT_EQ(out, bytes_of("fooba"));
  ASSERT_TRUE(wallet::base64_decode("Zg=\n=", out));
  EXPECT_EQ(out, bytes_of("f"));
  EXPECT_FALSE(wallet::base64_decode("Zm9v-Ym", out));
  EXPECT_FALSE(wallet::base64_decode("Zm9v.", out));
  EXPECT_TRUE(out.empty());
}

TEST(encoding, random_round_trips) {
  SCOPED_TRACE(wallet_test::seed_note());
  std::mt19937_64 rng(wallet_test::test_seed());
  for (int round = 0; round < 300; ++round) {
    Bytes data(rng() % 70);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    // Leading zeros are the tricky part of Base58; make them common.
    for (std::size_t i = 0; i < data.size() && rng() % 3 == 0; ++i) data[i] = 0;
    Bytes back;
    EXPECT_EQ(wallet::hex_decode(wallet::hex_encode(data)), data);
    ASSERT_TRUE(wallet::base58_decode(wallet::base58_encode(data.data(), data.size()), back));
    EXPECT_EQ(back, data);
    ASSERT_TRUE(wallet::base64_decode(wallet::base64_encode(data), back));
    EXPECT_EQ(back, data);
  }
}

}  // namespace
