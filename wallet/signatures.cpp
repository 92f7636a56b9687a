#include "wallet/signatures.h"

#include <algorithm>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/secret.h"

namespace wallet {
namespace {

// EC_KEY, ECDSA_do_sign and ECDSA_do_verify are deprecated in OpenSSL 3 but remain the plain way
// to sign a raw 32-byte digest and apply our own low-S and recovery steps, so the wallet targets
// are built with -Wno-deprecated-declarations (wallet/CMakeLists.txt). Only this file uses them.
struct EcKeyFree {
  void operator()(EC_KEY* p) const { EC_KEY_free(p); }
};
using EcKeyPtr = std::unique_ptr<EC_KEY, EcKeyFree>;

// A key pair for libcrypto's ECDSA from a 32-byte private key. Null when out of range.
EcKeyPtr key_pair_from_private(const unsigned char* key32) {
  const EC_GROUP* group = secp256k1_group();
  EcKeyPtr key(EC_KEY_new());
  BnCtxPtr ctx(BN_CTX_new());
  BnPtr k(BN_secure_new());
  PointPtr point(EC_POINT_new(group));
  if (!key || !ctx || !k || !point || EC_KEY_set_group(key.get(), group) != 1) return nullptr;
  if (BN_bin2bn(key32, 32, k.get()) == nullptr || BN_is_zero(k.get()) ||
      BN_cmp(k.get(), secp256k1_order()) >= 0) {
    return nullptr;
  }
  if (EC_POINT_mul(group, point.get(), k.get(), nullptr, nullptr, ctx.get()) != 1) return nullptr;
  if (EC_KEY_set_private_key(key.get(), k.get()) != 1 ||
      EC_KEY_set_public_key(key.get(), point.get()) != 1) {
    return nullptr;
  }
  return key;
}

constexpr char kMessageMagic[] = "Bitcoin Signed Message:\n";
constexpr unsigned char kCompactHeaderBase = 31;

// r and s of a fresh signature with s at most n/2. The nonce is libcrypto's own.
EcdsaSigPtr sign_low_s(EC_KEY* key, const Digest32& digest) {
  EcdsaSigPtr sig(ECDSA_do_sign(digest.data(), static_cast<int>(digest.size()), key));
  if (!sig) return nullptr;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  BnPtr half(BN_dup(secp256k1_order()));
  if (!half || BN_rshift1(half.get(), half.get()) != 1) return nullptr;
  if (BN_cmp(s, half.get()) > 0) {
    BnPtr new_r(BN_dup(r));
    BnPtr new_s(BN_new());
    if (!new_r || !new_s || BN_sub(new_s.get(), secp256k1_order(), s) != 1) return nullptr;
    if (ECDSA_SIG_set0(sig.get(), new_r.get(), new_s.get()) != 1) return nullptr;
    (void)new_r.release();  // now owned by sig
    (void)new_s.release();
  }
  return sig;
}

EcKeyPtr key_from_hex(const std::string& private_key_hex) {
  SecretBytes<32> key;
  return private_key_from_hex(private_key_hex, key) ? key_pair_from_private(key.data()) : nullptr;
}

bool write_rs(const ECDSA_SIG* sig, unsigned char* out64) {
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig, &r, &s);
  return BN_bn2binpad(r, out64, 32) == 32 && BN_bn2binpad(s, out64 + 32, 32) == 32;
}

bool signer_digest(std::string_view message, Digest32& digest) {
  return message.size() <= kMaxSignedMessage && message_digest(message, digest);
}

bool verify_with_key(EC_KEY* key, const Digest32& digest, const Bytes& signature) {
  if (signature.size() != 64 && signature.size() != 65) return false;
  const unsigned char* rs = signature.data() + (signature.size() == 65 ? 1 : 0);
  EcdsaSigPtr sig(ECDSA_SIG_new());
  BnPtr r(BN_bin2bn(rs, 32, nullptr));
  BnPtr s(BN_bin2bn(rs + 32, 32, nullptr));
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
  (void)r.release();
  (void)s.release();
  return ECDSA_do_verify(digest.data(), static_cast<int>(digest.size()), sig.get(), key) == 1;
}

EcKeyPtr public_key_pair(const Bytes& public_key) {
  PointPtr point = point_from_bytes(public_key.data(), public_key.size());
  EcKeyPtr key(EC_KEY_new());
  if (!point || !key || EC_KEY_set_group(key.get(), secp256k1_group()) != 1 ||
      EC_KEY_set_public_key(key.get(), point.get()) != 1) {
    return nullptr;
  }
  return key;
}

}  // namespace

bool sign_digest_der(const std::string& private_key_hex, const Digest32& digest, Bytes& der) {
  der.clear();
  EcKeyPtr key = key_from_hex(private_key_hex);
  if (!key) return false;
  EcdsaSigPtr sig = sign_low_s(key.get(), digest);
  if (!sig) return false;
  const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (size <= 0) return false;
  der.resize(static_cast<std::size_t>(size));
  unsigned char* p = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &p) != size) {
    der.clear();
    return false;
  }
  return true;
}

bool parse_der_signature(const Bytes& der, std::array<unsigned char, 64>& rs) {
  rs.fill(0);
  if (der.empty() || der.size() > 80) return false;
  const unsigned char* p = der.data();
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  if (!sig || p != der.data() + der.size()) return false;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  if (BN_is_negative(r) || BN_is_negative(s)) return false;
  if (!write_rs(sig.get(), rs.data())) {
    rs.fill(0);
    return false;
  }
  return true;
}

bool message_digest(std::string_view message, Digest32& digest) {
  const uint64_t size = message.size();
  if (size > 0xffffffffu) return false;
  std::string preimage;
  preimage.reserve(1 + sizeof kMessageMagic + 5 + message.size());
  preimage.push_back(static_cast<char>(sizeof kMessageMagic - 1));
  preimage.append(kMessageMagic, sizeof kMessageMagic - 1);
  if (size < 253) {
    preimage.push_back(static_cast<char>(size));
  } else if (size <= 0xffff) {
    preimage.push_back(static_cast<char>(0xfd));
    for (int i = 0; i < 2; ++i) preimage.push_back(static_cast<char>(size >> (8 * i) & 0xff));
  } else {
    preimage.push_back(static_cast<char>(0xfe));
    for (int i = 0; i < 4; ++i) preimage.push_back(static_cast<char>(size >> (8 * i) & 0xff));
  }
  preimage.append(message);
  digest = sha256d(preimage);
  return true;
}

bool recover_public_key(const EC_GROUP* group, const Digest32& digest, const BIGNUM* r,
                        const BIGNUM* s, int recovery_id, EC_POINT* out) {
  if (group == nullptr || r == nullptr || s == nullptr || out == nullptr || recovery_id < 0 ||
      recovery_id > 3) {
    return false;
  }
  BnCtxPtr ctx(BN_CTX_new());
  BnPtr order(BN_new()), prime(BN_new()), x(BN_new()), e(BN_new()), r_inv(BN_new()), u1(BN_new()),
      u2(BN_new());
  PointPtr big_r(EC_POINT_new(group));
  if (!ctx || !order || !prime || !x || !e || !r_inv || !u1 || !u2 || !big_r) return false;
  if (EC_GROUP_get_order(group, order.get(), ctx.get()) != 1 ||
      EC_GROUP_get_curve(group, prime.get(), nullptr, nullptr, ctx.get()) != 1) {
    return false;
  }
  // r and s outside 1..n-1 are not a signature; r without an inverse would fail below anyway.
  if (BN_is_zero(r) || BN_is_zero(s) || BN_is_negative(r) || BN_is_negative(s) ||
      BN_cmp(r, order.get()) >= 0 || BN_cmp(s, order.get()) >= 0) {
    return false;
  }
  if (BN_copy(x.get(), r) == nullptr) return false;
  if ((recovery_id & 2) != 0 && BN_add(x.get(), x.get(), order.get()) != 1) return false;
  if (BN_cmp(x.get(), prime.get()) >= 0) return false;
  if (EC_POINT_set_compressed_coordinates(group, big_r.get(), x.get(), recovery_id & 1,
                                          ctx.get()) != 1) {
    return false;
  }
  if (BN_bin2bn(digest.data(), static_cast<int>(digest.size()), e.get()) == nullptr ||
      BN_mod_inverse(r_inv.get(), r, order.get(), ctx.get()) == nullptr) {
    return false;
  }
  // u1 = -e / r, u2 = s / r (mod n); Q = u1 G + u2 R.
  if (BN_nnmod(e.get(), e.get(), order.get(), ctx.get()) != 1 ||
      BN_mod_sub(u1.get(), order.get(), e.get(), order.get(), ctx.get()) != 1 ||
      BN_mod_mul(u1.get(), u1.get(), r_inv.get(), order.get(), ctx.get()) != 1 ||
      BN_mod_mul(u2.get(), s, r_inv.get(), order.get(), ctx.get()) != 1) {
    return false;
  }
  if (EC_POINT_mul(group, out, u1.get(), big_r.get(), u2.get(), ctx.get()) != 1) return false;
  return EC_POINT_is_at_infinity(group, out) != 1;
}

bool sign_message_compact(const std::string& private_key_hex, std::string_view message,
                          std::string& signature_base64) {
  signature_base64.clear();
  Digest32 digest{};
  if (!signer_digest(message, digest)) return false;
  EcKeyPtr key = key_from_hex(private_key_hex);
  if (!key) return false;
  EcdsaSigPtr sig = sign_low_s(key.get(), digest);
  if (!sig) return false;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  const EC_GROUP* group = secp256k1_group();
  const EC_POINT* own = EC_KEY_get0_public_key(key.get());
  PointPtr candidate(EC_POINT_new(group));
  BnCtxPtr ctx(BN_CTX_new());
  if (own == nullptr || !candidate || !ctx) return false;
  for (int id = 0; id < 4; ++id) {
    if (!recover_public_key(group, digest, r, s, id, candidate.get()) ||
        EC_POINT_cmp(group, candidate.get(), own, ctx.get()) != 0) {
      continue;
    }
    std::array<unsigned char, 65> compact{};
    compact[0] = static_cast<unsigned char>(kCompactHeaderBase + id);
    if (!write_rs(sig.get(), compact.data() + 1)) return false;
    signature_base64 = base64_encode(compact.data(), compact.size());
    return true;
  }
  return false;
}

bool identity_signature(const std::string& private_key_hex, std::string_view message,
                        std::string& signature_base64) {
  signature_base64.clear();
  std::array<unsigned char, 64> rs{};
  Bytes der;
  Digest32 digest{};
  bool ok = signer_digest(message, digest) && sign_digest_der(private_key_hex, digest, der) &&
            parse_der_signature(der, rs);
  if (!ok) {
    // A message too long for the signed-message length prefix is signed as a plain hash.
    digest = sha256(message);
    ok = sign_digest_der(private_key_hex, digest, der) && parse_der_signature(der, rs);
  }
  if (ok) signature_base64 = base64_encode(rs.data(), rs.size());
  return ok;
}

bool verify_digest(const Digest32& digest, const Bytes& signature, const Bytes& public_key) {
  EcKeyPtr key = public_key_pair(public_key);
  return key && verify_with_key(key.get(), digest, signature);
}

bool verify_message(std::string_view message, std::string_view public_key_hex,
                    std::string_view signature_base64) {
  Bytes public_key, signature;
  if (!hex_decode_lenient(public_key_hex, public_key)) return false;
  if (!base64_decode(signature_base64, signature)) return false;
  if (signature.size() != 64 && signature.size() != 65) return false;
  // The key is parsed once for all three digests.
  EcKeyPtr key = public_key_pair(public_key);
  if (!key) return false;
  Digest32 digest{};
  if (message_digest(message, digest) && verify_with_key(key.get(), digest, signature)) {
    return true;
  }
  if (verify_with_key(key.get(), sha256(message), signature)) return true;
  return verify_with_key(key.get(), sha256d(message), signature);
}

std::string normalize_public_key(const Bytes& public_key) {
  if (public_key.size() == 33 && (public_key[0] == 0x02 || public_key[0] == 0x03)) {
    return hex_encode(public_key);
  }
  if (public_key.size() != 65 || public_key[0] != 0x04) return {};
  PointPtr point = point_from_bytes(public_key.data(), public_key.size());
  PublicKey33 compressed{};
  if (!point || !point_to_compressed(point.get(), compressed)) return {};
  return hex_encode(compressed.data(), compressed.size());
}

}  // namespace wallet
