// Hex, Base58 and Base64 against published answers, and what the lenient readers take and refuse.
#include "wallet/encoding.h"

#include <gtest/gtest.h>

namespace {

using wallet::Bytes;

Bytes bytes_of(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// Keys are pasted by hand: white space and "0x" go, but an odd length or a stray character gives
// nothing rather than a shortened key.
TEST(encoding, lenient_hex) {
  Bytes out;
  ASSERT_TRUE(wallet::hex_decode_lenient("  0XaB01\n", out));
  EXPECT_EQ(out, (Bytes{0xab, 0x01}));
  EXPECT_FALSE(wallet::hex_decode_lenient("0xabc", out));
  EXPECT_FALSE(wallet::hex_decode_lenient("ab c1", out));
  EXPECT_TRUE(out.empty());
}

// Vectors from Bitcoin Core's base58_encode_decode.json, leading zero bytes included.
TEST(encoding, base58_known_answers) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"61", "2g"},
      {"73696d706c792061206c6f6e6720737472696e67", "2cFupjhnEsSn59qHXstmK2ffpLv2"},
      {"00eb15231dfceb60925886b67d065299925915aeb172c06647", "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L"},
      {"00000000000000000000", "1111111111"},
  };
  Bytes out;
  for (const auto& [hex, text] : vectors) {
    const Bytes data = wallet::hex_decode(hex);
    EXPECT_EQ(wallet::base58_encode(data.data(), data.size()), text);
    ASSERT_TRUE(wallet::base58_decode(text, out)) << text;
    EXPECT_EQ(wallet::hex_encode(out), hex);
  }
}

// RFC 4648 section 10. Signatures pasted from mail or chat arrive wrapped and with padding lost.
TEST(encoding, base64_known_answers_white_space_and_refusals) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
  };
  Bytes out;
  for (const auto& [plain, text] : vectors) {
    EXPECT_EQ(wallet::base64_encode(bytes_of(plain)), text);
    ASSERT_TRUE(wallet::base64_decode(text, out));
    EXPECT_EQ(out, bytes_of(plain));
  }
  ASSERT_TRUE(wallet::base64_decode("Zm9v\r\nYm\tE", out));
  EXPECT_EQ(out, bytes_of("fooba"));
  EXPECT_FALSE(wallet::base64_decode("Zm9v-Ym", out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
