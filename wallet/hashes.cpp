#include "wallet/hashes.h"

#include <cstdlib>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace wallet {
namespace {

// A hash that libcrypto cannot compute means a broken installation; continuing would hand out
// hashes (and so addresses) that belong to nobody.
template <std::size_t N>
std::array<unsigned char, N> digest_or_abort(const EVP_MD* md, const unsigned char* data,
                                             std::size_t size) {
  std::array<unsigned char, N> out{};
  unsigned int written = 0;
  static const unsigned char kEmpty = 0;
  if (md == nullptr ||
      EVP_Digest(data != nullptr ? data : &kEmpty, size, out.data(), &written, md, nullptr) != 1 ||
      written != N) {
    std::abort();
  }
  return out;
}

// RIPEMD-160 lives in the default provider from OpenSSL 3.0.7; fetch it once.
const EVP_MD* ripemd160_md() {
  static EVP_MD* md = EVP_MD_fetch(nullptr, "RIPEMD160", nullptr);
  return md != nullptr ? md : EVP_ripemd160();
}

bool hmac(const EVP_MD* md, const unsigned char* key, std::size_t key_size,
          const unsigned char* data, std::size_t data_size, unsigned char* out,
          std::size_t out_size) {
  static const unsigned char kEmpty = 0;
  unsigned int written = 0;
  const unsigned char* result = HMAC(md, key != nullptr ? key : &kEmpty, static_cast<int>(key_size),
                                     data != nullptr ? data : &kEmpty, data_size, out, &written);
  if (result == nullptr || written != out_size) {
    OPENSSL_cleanse(out, out_size);
    return false;
  }
  return true;
}

}  // namespace

Digest32 sha256(const unsigned char* data, std::size_t size) {
  return digest_or_abort<32>(EVP_sha256(), data, size);
}

Digest32 sha256(std::string_view text) {
  return sha256(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

Digest32 sha256d(const unsigned char* data, std::size_t size) {
  const Digest32 once = sha256(data, size);
  return sha256(once.data(), once.size());
}

Digest32 sha256d(std::string_view text) {
  return sha256d(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

Hash160 hash160(const unsigned char* data, std::size_t size) {
  const Digest32 inner = sha256(data, size);
  return digest_or_abort<20>(ripemd160_md(), inner.data(), inner.size());
}

Digest64 sha512(const unsigned char* data, std::size_t size) {
  return digest_or_abort<64>(EVP_sha512(), data, size);
}

bool hmac_sha512(const unsigned char* key, std::size_t key_size, const unsigned char* data,
                 std::size_t data_size, Digest64& out) {
  return hmac(EVP_sha512(), key, key_size, data, data_size, out.data(), out.size());
}

bool hmac_sha256(const unsigned char* key, std::size_t key_size, const unsigned char* data,
                 std::size_t data_size, Digest32& out) {
  return hmac(EVP_sha256(), key, key_size, data, data_size, out.data(), out.size());
}

}  // namespace wallet
