// secp256k1 plumbing shared by the key, derivation, signature and encryption modules: owning
// handles for libcrypto objects, the curve group, and point/scalar conversions.
//
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>

#include "wallet/hashes.h"

namespace wallet {

struct BnFree {
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
struct BnCtxFree {
  void operator()(BN_CTX* p) const { BN_CTX_free(p); }
};
struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
struct EcdsaSigFree {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;
using PointPtr = std::unique_ptr<EC_POINT, PointFree>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, EcdsaSigFree>;

using PrivateKey32 = std::array<unsigned char, 32>;
using PublicKey33 = std::array<unsigned char, 33>;

// The process-wide secp256k1 group (created once, never freed; read-only afterwards).
const EC_GROUP* secp256k1_group();
// The group order n.
const BIGNUM* secp256k1_order();

// True when 0 < key < n.
[[nodiscard]] bool private_key_in_range(const unsigned char* key32);

// k times G, compressed. False for a key outside 1..n-1.
[[nodiscard]] bool public_key_from_private_bytes(const unsigned char* key32, PublicKey33& out);

// Parses a 33-byte compressed or 65-byte uncompressed point on the curve; null otherwise.
PointPtr point_from_bytes(const unsigned char* data, std::size_t size);
// Compressed encoding of a point; false for the point at infinity.
[[nodiscard]] bool point_to_compressed(const EC_POINT* point, PublicKey33& out);

}  // namespace wallet
