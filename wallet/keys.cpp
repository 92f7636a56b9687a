#include "wallet/keys.h"

#include <algorithm>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/secret.h"

namespace wallet {

std::string address_from_hash160(const Hash160& hash) {
  std::array<unsigned char, 25> payload{};
  payload[0] = 0x00;
  std::copy(hash.begin(), hash.end(), payload.begin() + 1);
  const Digest32 check = sha256d(payload.data(), 21);
  std::copy(check.begin(), check.begin() + 4, payload.begin() + 21);
  return base58_encode(payload.data(), payload.size());
}

bool address_to_hash160(std::string_view address, Hash160& hash) {
  hash.fill(0);
  if (address.size() < 26 || address.size() > 35) return false;
  Bytes payload;
  if (!base58_decode(address, payload)) return false;
  if (payload.size() != 25 || payload[0] != 0x00) return false;
  const Digest32 check = sha256d(payload.data(), 21);
  if (!std::equal(check.begin(), check.begin() + 4, payload.begin() + 21)) return false;
  std::copy(payload.begin() + 1, payload.begin() + 21, hash.begin());
  return true;
}

bool public_key_from_private(const std::string& private_key_hex, std::string& public_key_hex) {
  public_key_hex.clear();
  SecretBytes<32> key;
  PublicKey33 point{};
  const bool ok = private_key_from_hex(private_key_hex, key) &&
                  public_key_from_private_bytes(key.data(), point);
  if (ok) public_key_hex = hex_encode(point.data(), point.size());
  return ok;
}

std::string address_from_public_key(const std::string& public_key_hex) {
  const Bytes key = hex_decode(public_key_hex);
  if (key.size() != 33) return {};
  return address_from_hash160(hash160(key.data(), key.size()));
}

}  // namespace wallet
