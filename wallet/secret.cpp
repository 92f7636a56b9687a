#include "wallet/secret.h"

#include <openssl/crypto.h>

namespace wallet {

void wipe_bytes(void* data, std::size_t size) {
  if (data != nullptr && size > 0) OPENSSL_cleanse(data, size);
}

bool private_key_from_hex(const std::string& hex, SecretBytes<32>& key) {
  const auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bool ok = hex.size() == 2 * key.size();
  for (std::size_t i = 0; ok && i < key.size(); ++i) {
    const int high = nibble(hex[2 * i]), low = nibble(hex[2 * i + 1]);
    ok = high >= 0 && low >= 0;
    key[i] = static_cast<unsigned char>(ok ? high << 4 | low : 0);
  }
  if (!ok) key.wipe();
  return ok;
}

void wipe_string(std::string& text) {
  wipe_bytes(text.data(), text.capacity());
  text.clear();
}

}  // namespace wallet
