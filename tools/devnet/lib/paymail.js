// The maker's paymail names: who holds which name, roles and quotas, frozen identities, and the
// signed claim by which a player publishes a name.
import { parsePublicKey, verifyMessage } from './claims.js'

export const PAYMAIL_DOMAIN = 'orbweave.test'
export const ROLE_NAMES = ['dev', 'agent', 'operator', 'architect']
const CLAIM_WINDOW_SECONDS = 3600

export function quotaFor (role) {
  if (role === 'architect') return null // unlimited
  if (role === 'dev') return 20
  return 10
}

// The handle form a name is claimed and looked up in: leading "@", "$" and spaces dropped,
// trailing white space dropped, cut at "@", lowered.
export function normalizeAlias (text) {
  return String(text).replace(/^[@$ ]+/, '').replace(/[ \r\n]+$/, '').split('@')[0].toLowerCase()
}

export const ALIAS_RE = /^[a-z0-9._-]{1,64}$/

export function compressedKey (hex) {
  const key = parsePublicKey(hex)
  return key ? key.toString() : null
}

export function namesHeldBy (state, pubkey) {
  return Object.keys(state.names).filter((n) => state.names[n].pubkey === pubkey)
}

// Splits "alias@domain"; answers the alias when the domain is ours, else null.
export function aliasOf (paymail) {
  const at = paymail.indexOf('@')
  if (at <= 0 || at === paymail.length - 1) return null
  if (paymail.slice(at + 1).toLowerCase() !== PAYMAIL_DOMAIN) return null
  return normalizeAlias(paymail.slice(0, at))
}

export function claimMessage (c) {
  return 'OW-PAYMAIL-CLAIM|' + c.alias + '|' + c.pubkey + '|' + c.address + '|' + c.avatar + '|' +
    (c.ordAddress ? c.ordAddress + '|' : '') + c.ts
}

// Checks a claim body and applies it. Answers { status, body }.
export function claim (state, body, nowSeconds) {
  const refuse = (status, error) => ({ status, body: { ok: false, success: false, error } })
  if (!body) return refuse(400, 'bad request')
  const { alias, pubkey, address = '', avatar = '', ordAddress = '', ts, sig } = body
  const strings = [alias, pubkey, address, avatar, ordAddress, sig]
  if (strings.some((s) => typeof s !== 'string' || s.length > 2048) || !Number.isInteger(ts)) {
    return refuse(400, 'need alias, pubkey, address, avatar, ts and sig')
  }
  if (!ALIAS_RE.test(alias) || normalizeAlias(alias) !== alias) return refuse(400, 'need a paymail name (letters, numbers, _ - .)')
  const key = compressedKey(pubkey)
  if (!key) return refuse(400, 'invalid pubkey')
  if (Math.abs(nowSeconds - ts) > CLAIM_WINDOW_SECONDS) return refuse(400, 'claim time is too far from now')
  if (!verifyMessage(claimMessage({ alias, pubkey, address, avatar, ordAddress, ts }), pubkey, sig)) {
    return refuse(401, 'signature did not verify')
  }
  const held = state.names[alias]
  if (held && held.pubkey !== key) return refuse(409, alias + '@' + PAYMAIL_DOMAIN + ' is already taken')
  if (!held) {
    const quota = quotaFor(state.roles[key])
    if (quota !== null && namesHeldBy(state, key).length >= quota) {
      return refuse(403, 'paymail quota reached (' + quota + ' free labels per identity)')
    }
  }
  state.names[alias] = { pubkey: key, address, avatar, ordAddress, ts }
  return { status: 200, body: { ok: true, success: true, handle: alias + '@' + PAYMAIL_DOMAIN, pubkey: key } }
}

// The public profile: an https avatar as it is; any other reference is an ordinal origin.
export function publicProfile (alias, entry) {
  const profile = { name: alias, avatar: '' }
  const ref = entry.avatar ?? ''
  if (ref.startsWith('https://')) profile.avatar = ref
  else if (ref !== '') {
    profile.ord = ref
    profile.origin = ref
  }
  return profile
}
