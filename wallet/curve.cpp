#include "wallet/curve.h"

#include <cstdlib>

#include <openssl/crypto.h>
#include <openssl/obj_mac.h>

namespace wallet {
namespace {

struct Curve {
  EC_GROUP* group = nullptr;
  BIGNUM* order = nullptr;
};

// Built once and shared read-only by every thread. Without the curve no key operation can work;
// that is a broken libcrypto, not bad input.
const Curve& curve() {
  static const Curve instance = [] {
    Curve c;
    c.group = EC_GROUP_new_by_curve_name(NID_secp256k1);
    c.order = BN_new();
    if (c.group == nullptr || c.order == nullptr ||
        EC_GROUP_get_order(c.group, c.order, nullptr) != 1) {
      std::abort();
    }
    return c;
  }();
  return instance;
}

}  // namespace

const EC_GROUP* secp256k1_group() {
  return curve().group;
}

const BIGNUM* secp256k1_order() {
  return curve().order;
}

bool private_key_in_range(const unsigned char* key32) {
  BnPtr k(BN_secure_new());
  if (!k || BN_bin2bn(key32, 32, k.get()) == nullptr) return false;
  return !BN_is_zero(k.get()) && BN_cmp(k.get(), secp256k1_order()) < 0;
}

bool public_key_from_private_bytes(const unsigned char* key32, PublicKey33& out) {
  out.fill(0);
  const EC_GROUP* group = secp256k1_group();
  BnCtxPtr ctx(BN_CTX_new());
  BnPtr k(BN_secure_new());
  PointPtr point(EC_POINT_new(group));
  if (!ctx || !k || !point || BN_bin2bn(key32, 32, k.get()) == nullptr) return false;
  if (BN_is_zero(k.get()) || BN_cmp(k.get(), secp256k1_order()) >= 0) return false;
  if (EC_POINT_mul(group, point.get(), k.get(), nullptr, nullptr, ctx.get()) != 1) return false;
  return point_to_compressed(point.get(), out);
}

PointPtr point_from_bytes(const unsigned char* data, std::size_t size) {
  if (data == nullptr) return nullptr;
  if (!(size == 33 && (data[0] == 0x02 || data[0] == 0x03)) && !(size == 65 && data[0] == 0x04)) {
    return nullptr;
  }
  const EC_GROUP* group = secp256k1_group();
  PointPtr point(EC_POINT_new(group));
  BnCtxPtr ctx(BN_CTX_new());
  if (!point || !ctx) return nullptr;
  // oct2point checks that the point lies on the curve.
  if (EC_POINT_oct2point(group, point.get(), data, size, ctx.get()) != 1) return nullptr;
  if (EC_POINT_is_at_infinity(group, point.get()) == 1) return nullptr;
  return point;
}

bool point_to_compressed(const EC_POINT* point, PublicKey33& out) {
  out.fill(0);
  const EC_GROUP* group = secp256k1_group();
  if (point == nullptr || EC_POINT_is_at_infinity(group, point) == 1) return false;
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) return false;
  return EC_POINT_point2oct(group, point, POINT_CONVERSION_COMPRESSED, out.data(), out.size(),
                            ctx.get()) == out.size();
}

}  // namespace wallet
