#include "wallet/encoding.h"

#include <cstdint>

#include <openssl/crypto.h>

namespace wallet {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase58Alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int base58_value(char c) {
  for (int i = 0; i < 58; ++i) {
    if (kBase58Alphabet[i] == c) return i;
  }
  return -1;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string hex_encode(const unsigned char* data, std::size_t size) {
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(kHexDigits[data[i] >> 4]);
    out.push_back(kHexDigits[data[i] & 0x0f]);
  }
  return out;
}

std::string hex_encode(const Bytes& data) {
  return hex_encode(data.data(), data.size());
}

Bytes hex_decode(std::string_view text) {
  Bytes out;
  if (text.size() % 2 != 0) return out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hex_value(text[i]);
    const int lo = hex_value(text[i + 1]);
    if (hi < 0 || lo < 0) {
      // The text may be a private key: leave no part of it behind in freed memory.
      OPENSSL_cleanse(out.data(), out.size());
      return Bytes{};
    }
    out.push_back(static_cast<unsigned char>(hi << 4 | lo));
  }
  return out;
}

bool hex_decode_lenient(std::string_view text, Bytes& out) {
  out.clear();
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.size() % 2 != 0) return false;
  out = hex_decode(text);
  return out.size() * 2 == text.size();
}

std::string base58_encode(const unsigned char* data, std::size_t size) {
  std::size_t zeros = 0;
  while (zeros < size && data[zeros] == 0) ++zeros;
  // Repeated division of the big-endian number by 58, remainders collected least significant
  // first. Leading zero digits of each quotient are dropped as we go.
  std::vector<unsigned char> number(data + zeros, data + size);
  std::string digits;
  while (!number.empty()) {
    std::vector<unsigned char> quotient;
    quotient.reserve(number.size());
    unsigned int remainder = 0;
    for (unsigned char byte : number) {
      const unsigned int value = remainder * 256 + byte;
      const unsigned int q = value / 58;
      remainder = value % 58;
      if (!quotient.empty() || q != 0) quotient.push_back(static_cast<unsigned char>(q));
    }
    digits.push_back(kBase58Alphabet[remainder]);
    number.swap(quotient);
  }
  std::string out(zeros, '1');
  out.append(digits.rbegin(), digits.rend());
  return out;
}

bool base58_decode(std::string_view text, Bytes& out) {
  out.clear();
  if (text.size() > kBase58MaxText) return false;
  std::size_t ones = 0;
  while (ones < text.size() && text[ones] == '1') ++ones;
  // Big-endian running number: multiply by 58 and add each digit.
  Bytes number;
  for (char c : text) {
    const int digit = base58_value(c);
    if (digit < 0) return false;
    unsigned int carry = static_cast<unsigned int>(digit);
    for (auto it = number.rbegin(); it != number.rend(); ++it) {
      const unsigned int value = static_cast<unsigned int>(*it) * 58 + carry;
      *it = static_cast<unsigned char>(value & 0xff);
      carry = value >> 8;
    }
    while (carry != 0) {
      number.insert(number.begin(), static_cast<unsigned char>(carry & 0xff));
      carry >>= 8;
    }
  }
  std::size_t skip = 0;
  while (skip < number.size() && number[skip] == 0) ++skip;
  out.assign(ones, 0);
  out.insert(out.end(), number.begin() + static_cast<std::ptrdiff_t>(skip), number.end());
  return true;
}

std::string base64_encode(const unsigned char* data, std::size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
    out.push_back(kBase64Alphabet[v >> 18 & 63]);
    out.push_back(kBase64Alphabet[v >> 12 & 63]);
    out.push_back(kBase64Alphabet[v >> 6 & 63]);
    out.push_back(kBase64Alphabet[v & 63]);
  }
  const std::size_t rest = size - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{data[i]} << 16;
    out.push_back(kBase64Alphabet[v >> 18 & 63]);
    out.push_back(kBase64Alphabet[v >> 12 & 63]);
    out.append("==");
  } else if (rest == 2) {
    const uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8;
    out.push_back(kBase64Alphabet[v >> 18 & 63]);
    out.push_back(kBase64Alphabet[v >> 12 & 63]);
    out.push_back(kBase64Alphabet[v >> 6 & 63]);
    out.push_back('=');
  }
  return out;
}

std::string base64_encode(const Bytes& data) {
  return base64_encode(data.data(), data.size());
}

bool base64_decode(std::string_view text, Bytes& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int bit_count = 0;
  for (char c : text) {
    if (c == '=' || is_space(c)) continue;
    const int value = base64_value(c);
    if (value < 0) {
      out.clear();
      return false;
    }
    bits = (bits << 6 | static_cast<uint32_t>(value)) & 0xffffff;
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      out.push_back(static_cast<unsigned char>(bits >> bit_count & 0xff));
    }
  }
  return true;
}

}  // namespace wallet
