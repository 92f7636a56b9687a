// Every key the devnet holds comes from one fixed seed text, so that the addresses and the
// architect's key written into config/devnet.json can always be explained and re-derived:
// the private key of a role is SHA-256 of the UTF-8 text DEVNET_SEED + "/" + role.
import { Hash, PrivateKey, Utils } from '@bsv/sdk'

export const DEVNET_SEED = 'orbweave-ostakka-devnet-seed-1'

export const ROLES = ['faucet', 'house', 'pot', 'oracle', 'report_fee', 'report_oracle',
  'architect_identity', 'architect_encryption']

export function roleKey (role) {
  if (!ROLES.includes(role)) throw new Error('unknown devnet role ' + role)
  return PrivateKey.fromHex(Utils.toHex(Hash.sha256(Utils.toArray(DEVNET_SEED + '/' + role, 'utf8'))))
}

export function roleAddress (role) {
  return roleKey(role).toAddress()
}

// The values of config/devnet.json that the devnet owns.
export function configValues () {
  return {
    house_address: roleAddress('house'),
    pot_address: roleAddress('pot'),
    oracle_address: roleAddress('oracle'),
    report_fee_address: roleAddress('report_fee'),
    report_oracle_address: roleAddress('report_oracle'),
    architect_encryption_pubkey: roleKey('architect_encryption').toPublicKey().toString()
  }
}

export function isAddress (text) {
  if (typeof text !== 'string' || text.length < 26 || text.length > 35) return false
  try {
    const { prefix, data } = Utils.fromBase58Check(text)
    return prefix.length === 1 && prefix[0] === 0 && data.length === 20
  } catch {
    return false
  }
}
