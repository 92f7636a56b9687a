#include "wallet/hd_keys.h"

#include <algorithm>

#include "wallet/curve.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/ow_korb_wallet.h"

namespace wallet {

void ExtendedKey::wipe() {
  key.wipe();
  chain_code.wipe();
}

DerivationPath receive_path(uint32_t index) {
  return {44 | kHardened, kCoinType | kHardened, 1 | kHardened, 0, index};
}

DerivationPath identity_path() {
  return {44 | kHardened, kCoinType | kHardened, 100 | kHardened, 0, 0};
}

DerivationPath encryption_path() {
  return {44 | kHardened, kCoinType | kHardened, 101 | kHardened, 0, 0};
}

DerivationPath ordinals_path(uint32_t index) {
  return {44 | kHardened, kCoinType | kHardened, 5 | kHardened, 0, index};
}

bool master_key_from_seed(const unsigned char* seed, std::size_t size, ExtendedKey& master) {
  static const unsigned char kSalt[] = {'B', 'i', 't', 'c', 'o', 'i', 'n', ' ', 's', 'e', 'e', 'd'};
  SecretBytes<64> i;
  bool ok = hmac_sha512(kSalt, sizeof kSalt, seed, size, i.bytes);
  if (ok) {
    std::copy(i.begin(), i.begin() + 32, master.key.begin());
    std::copy(i.begin() + 32, i.end(), master.chain_code.begin());
    // A master key of zero or above the order is astronomically unlikely but not a usable key.
    ok = private_key_in_range(master.key.data());
  }
  if (!ok) master.wipe();
  return ok;
}

bool derive_child_private(const ExtendedKey& parent, uint32_t index, ExtendedKey& child) {
  SecretBytes<37> data;
  if (index >= kHardened) {
    data[0] = 0x00;
    std::copy(parent.key.begin(), parent.key.end(), data.begin() + 1);
  } else {
    PublicKey33 point{};
    if (!public_key_from_private_bytes(parent.key.data(), point)) {
      child.wipe();
      return false;
    }
    std::copy(point.begin(), point.end(), data.begin());
  }
  data[33] = static_cast<unsigned char>(index >> 24);
  data[34] = static_cast<unsigned char>(index >> 16);
  data[35] = static_cast<unsigned char>(index >> 8);
  data[36] = static_cast<unsigned char>(index);

  SecretBytes<64> i;
  bool ok = hmac_sha512(parent.chain_code.data(), parent.chain_code.size(), data.data(),
                        data.size(), i.bytes);
  data.wipe();

  BnCtxPtr ctx(BN_CTX_secure_new());
  BnPtr il(BN_secure_new());
  BnPtr k(BN_secure_new());
  ok = ok && ctx && il && k && BN_bin2bn(i.data(), 32, il.get()) != nullptr &&
       BN_cmp(il.get(), secp256k1_order()) < 0 &&
       BN_bin2bn(parent.key.data(), 32, k.get()) != nullptr && !BN_is_zero(k.get()) &&
       BN_cmp(k.get(), secp256k1_order()) < 0 &&
       BN_mod_add(k.get(), k.get(), il.get(), secp256k1_order(), ctx.get()) == 1 &&
       !BN_is_zero(k.get());
  // The child may be the same object as the parent; the parent was fully read above.
  ok = ok && BN_bn2binpad(k.get(), child.key.data(), 32) == 32;
  if (ok) std::copy(i.begin() + 32, i.end(), child.chain_code.begin());
  if (!ok) child.wipe();
  return ok;
}

namespace {

// Fills the session's seed and master cache when they are not ready. Caller holds the mutex.
bool ensure_master(WalletSession& s) {
  if (s.master_ready) return true;
  if (s.mnemonic.empty()) return false;
  if (!s.seed_ready) {
    if (!mnemonic_to_seed(s.mnemonic.str(), "", s.seed.bytes)) {
      s.seed.wipe();
      return false;
    }
    s.seed_ready = true;
  }
  ExtendedKey master;
  if (!master_key_from_seed(s.seed.data(), s.seed.size(), master)) {
    reset_derivation_cache();
    return false;
  }
  s.master_key = master.key;
  s.master_chain_code = master.chain_code;
  s.master_ready = true;
  return true;
}

}  // namespace

bool derive_path_keys(const DerivationPath& path, std::string& private_key_hex,
                      std::string& public_key_hex, std::string& address) {
  wipe_string(private_key_hex);
  public_key_hex.clear();
  address.clear();

  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  WalletSession& s = session();
  if (!ensure_master(s)) return false;

  ExtendedKey key;
  key.key = s.master_key;
  key.chain_code = s.master_chain_code;
  for (uint32_t index : path) {
    // Deriving in place leaves no copy of the intermediate key behind.
    if (!derive_child_private(key, index, key)) return false;
  }
  PublicKey33 point{};
  const bool ok = public_key_from_private_bytes(key.key.data(), point);
  if (ok) {
    private_key_hex = hex_encode(key.key.data(), key.key.size());
    public_key_hex = hex_encode(point.data(), point.size());
    address = address_from_public_key(public_key_hex);
  }
  if (address.empty()) {
    wipe_string(private_key_hex);
    public_key_hex.clear();
    return false;
  }
  return true;
}

}  // namespace wallet
