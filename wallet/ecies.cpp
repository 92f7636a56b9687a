#include "wallet/ecies.h"

#include <algorithm>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/secret.h"

namespace wallet {
namespace {

constexpr unsigned char kMagic[4] = {'B', 'I', 'E', '1'};
constexpr std::size_t kHeaderSize = 4 + 33;
constexpr std::size_t kMacSize = 32;
constexpr std::size_t kBlock = 16;
constexpr int kEphemeralDraws = 8;
// Message keys are 32 bytes and report parts a few kilobytes; anything much larger is not ours.
constexpr std::size_t kMaxEnvelopeHex = 1 << 16;
constexpr std::size_t kMaxPartHex = 1 << 24;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// AES-CBC with PKCS#7 padding in either direction. The output is wiped on failure.
bool aes_cbc(const EVP_CIPHER* cipher, bool encrypt, const unsigned char* key,
             const unsigned char* iv, const unsigned char* in, std::size_t size, Bytes& out) {
  out.assign(size + kBlock, 0);
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  int written = 0;
  int final_written = 0;
  const bool ok =
      ctx && size <= static_cast<std::size_t>(INT32_MAX - static_cast<int>(kBlock)) &&
      EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
      EVP_CipherUpdate(ctx.get(), out.data(), &written, in, static_cast<int>(size)) == 1 &&
      EVP_CipherFinal_ex(ctx.get(), out.data() + written, &final_written) == 1;
  if (!ok) {
    OPENSSL_cleanse(out.data(), out.size());
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(written + final_written));
  return true;
}

// H = SHA-512 of the compressed shared point d*P: IV, AES-128 key and MAC key.
struct EnvelopeKeys {
  Digest64 h{};
  const unsigned char* iv() const { return h.data(); }
  const unsigned char* enc_key() const { return h.data() + 16; }
  const unsigned char* mac_key() const { return h.data() + 32; }
  ~EnvelopeKeys() { OPENSSL_cleanse(h.data(), h.size()); }
};

bool shared_keys(const BIGNUM* scalar, const EC_POINT* point, EnvelopeKeys& keys) {
  const EC_GROUP* group = secp256k1_group();
  PointPtr shared(EC_POINT_new(group));
  BnCtxPtr ctx(BN_CTX_secure_new());
  PublicKey33 s{};
  const bool ok = shared && ctx &&
                  EC_POINT_mul(group, shared.get(), nullptr, point, scalar, ctx.get()) == 1 &&
                  point_to_compressed(shared.get(), s);
  if (ok) keys.h = sha512(s.data(), s.size());
  OPENSSL_cleanse(s.data(), s.size());
  return ok;
}

// A fresh ephemeral private key in 1..n-1. An all-zero draw, or one at or above the order, is
// drawn again; a zero or out-of-range scalar would not be a key at all.
bool draw_ephemeral(PrivateKey32& e) {
  for (int i = 0; i < kEphemeralDraws; ++i) {
    if (RAND_bytes(e.data(), static_cast<int>(e.size())) != 1) break;
    if (private_key_in_range(e.data())) return true;
  }
  OPENSSL_cleanse(e.data(), e.size());
  return false;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool canonical_public_key(std::string_view text, std::string& canonical_hex) {
  canonical_hex.clear();
  if (text.size() > 1024) return false;
  std::string compact;
  for (char c : text) {
    if (!is_space(c)) compact.push_back(c);
  }
  std::string_view digits = compact;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
  }
  const Bytes key = hex_decode(digits);
  if (key.size() != 33) return false;
  canonical_hex = hex_encode(key);
  return true;
}

bool ecies_wrap(const std::string& recipient_public_key_hex, const Bytes& plaintext,
                std::string& envelope_hex) {
  envelope_hex.clear();
  const Bytes recipient = hex_decode(recipient_public_key_hex);
  PointPtr point = point_from_bytes(recipient.data(), recipient.size());
  if (!point) return false;

  PrivateKey32 e{};
  if (!draw_ephemeral(e)) return false;
  BnPtr scalar(BN_secure_new());
  PublicKey33 ephemeral_public{};
  const bool scalar_ok = scalar && BN_bin2bn(e.data(), 32, scalar.get()) != nullptr &&
                         public_key_from_private_bytes(e.data(), ephemeral_public);
  OPENSSL_cleanse(e.data(), e.size());
  EnvelopeKeys keys;
  if (!scalar_ok || !shared_keys(scalar.get(), point.get(), keys)) return false;

  Bytes cipher_text;
  if (!aes_cbc(EVP_aes_128_cbc(), true, keys.enc_key(), keys.iv(), plaintext.data(),
               plaintext.size(), cipher_text)) {
    return false;
  }
  Bytes data(std::begin(kMagic), std::end(kMagic));
  data.insert(data.end(), ephemeral_public.begin(), ephemeral_public.end());
  data.insert(data.end(), cipher_text.begin(), cipher_text.end());
  Digest32 mac{};
  if (!hmac_sha256(keys.mac_key(), 32, data.data(), data.size(), mac)) return false;
  data.insert(data.end(), mac.begin(), mac.end());
  envelope_hex = hex_encode(data);
  return true;
}

bool ecies_unwrap(const std::string& private_key_hex, std::string_view envelope_hex,
                  Bytes& plaintext) {
  OPENSSL_cleanse(plaintext.data(), plaintext.size());
  plaintext.clear();
  if (envelope_hex.size() > kMaxEnvelopeHex) return false;
  const Bytes data = hex_decode(envelope_hex);
  if (data.size() < kHeaderSize + kBlock + kMacSize ||
      (data.size() - kHeaderSize - kMacSize) % kBlock != 0 ||
      !std::equal(std::begin(kMagic), std::end(kMagic), data.begin())) {
    return false;
  }
  PointPtr ephemeral = point_from_bytes(data.data() + 4, 33);
  if (!ephemeral) return false;

  SecretBytes<32> key;
  BnPtr scalar(BN_secure_new());
  const bool key_ok = private_key_from_hex(private_key_hex, key) &&
                      private_key_in_range(key.data()) && scalar &&
                      BN_bin2bn(key.data(), 32, scalar.get()) != nullptr;
  EnvelopeKeys keys;
  if (!key_ok || !shared_keys(scalar.get(), ephemeral.get(), keys)) return false;

  const std::size_t body = data.size() - kMacSize;
  Digest32 mac{};
  if (!hmac_sha256(keys.mac_key(), 32, data.data(), body, mac) ||
      CRYPTO_memcmp(mac.data(), data.data() + body, kMacSize) != 0) {
    return false;
  }
  return aes_cbc(EVP_aes_128_cbc(), false, keys.enc_key(), keys.iv(), data.data() + kHeaderSize,
                 body - kHeaderSize, plaintext);
}

std::string encrypt_part(const MessageKey32& key, std::string_view text) {
  std::array<unsigned char, kBlock> iv{};
  if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1) return {};
  Bytes cipher_text;
  if (!aes_cbc(EVP_aes_256_cbc(), true, key.data(), iv.data(),
               reinterpret_cast<const unsigned char*>(text.data()), text.size(), cipher_text)) {
    return {};
  }
  return hex_encode(iv.data(), iv.size()) + hex_encode(cipher_text);
}

bool decrypt_part(const MessageKey32& key, std::string_view part_hex, std::string& text) {
  OPENSSL_cleanse(text.data(), text.size());
  text.clear();
  if (part_hex.size() > kMaxPartHex) return false;
  const Bytes data = hex_decode(part_hex);
  if (data.size() < 2 * kBlock || data.size() % kBlock != 0) return false;
  Bytes plain;
  if (!aes_cbc(EVP_aes_256_cbc(), false, key.data(), data.data(), data.data() + kBlock,
               data.size() - kBlock, plain)) {
    return false;
  }
  text.assign(plain.begin(), plain.end());
  OPENSSL_cleanse(plain.data(), plain.size());
  return true;
}

}  // namespace wallet
