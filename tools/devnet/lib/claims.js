// Signed-message checks shared by the paymail claim and the report reader. A signature is the
// Base64 of r‖s (64 bytes, or 65 with a recovery header) over the Bitcoin Signed Message digest;
// like the game's own verifier we also accept SHA-256 and double SHA-256 of the text.
import { BigNumber, BSM, ECDSA, Hash, PublicKey, Signature, Utils } from '@bsv/sdk'

const B64_RE = /^[A-Za-z0-9+/=\s]*$/

export function decodeSignature (b64) {
  if (typeof b64 !== 'string' || !B64_RE.test(b64)) return null
  const bytes = Buffer.from(b64.replace(/[=\s]/g, ''), 'base64')
  if (bytes.length !== 64 && bytes.length !== 65) return null
  const rs = bytes.length === 65 ? bytes.subarray(1) : bytes
  return new Signature(new BigNumber([...rs.subarray(0, 32)]), new BigNumber([...rs.subarray(32)]))
}

export function parsePublicKey (hex) {
  if (typeof hex !== 'string' || !/^(0[23][0-9a-fA-F]{64}|04[0-9a-fA-F]{128})$/.test(hex)) return null
  try {
    return PublicKey.fromString(hex)
  } catch {
    return null
  }
}

export function verifyMessage (message, pubkeyHex, sigB64) {
  const key = parsePublicKey(pubkeyHex)
  const sig = decodeSignature(sigB64)
  if (!key || !sig) return false
  const msg = Utils.toArray(message, 'utf8')
  const digests = [BSM.magicHash(msg), Hash.sha256(msg), Hash.sha256(Hash.sha256(msg))]
  return digests.some((d) => {
    try {
      return ECDSA.verify(new BigNumber(d), sig, key)
    } catch {
      return false
    }
  })
}

// Signs as the game's identity signer does: Bitcoin Signed Message digest, bare r‖s in Base64.
export function signMessage (message, privateKey) {
  const sig = BSM.sign(Utils.toArray(message, 'utf8'), privateKey, 'raw')
  const r = Buffer.from(sig.r.toArray('be', 32))
  const s = Buffer.from(sig.s.toArray('be', 32))
  return Buffer.concat([r, s]).toString('base64')
}

export function normalizeHandle (text) {
  let t = String(text ?? '').trim()
  if (t.startsWith('@') || t.startsWith('$')) t = t.slice(1)
  return t.trim()
}

function stringField (obj, key, alt) {
  if (typeof obj[key] === 'string') return obj[key]
  if (alt && typeof obj[alt] === 'string') return obj[alt]
  return ''
}

// Integer reading as the game does it: integers as they are, floats truncated, strings by their
// leading decimal part, anything else 0.
export function intField (obj, key) {
  const v = obj[key]
  if (typeof v === 'number' && Number.isFinite(v)) return Math.trunc(v)
  if (typeof v === 'string') {
    const m = /^\s*([+-]?\d+)/.exec(v)
    if (!m) return 0
    const n = BigInt(m[1])
    if (n > 9223372036854775807n || n < -9223372036854775808n) return 0
    return Number(n)
  }
  return 0
}

// The "OW1|" claim message that score rows and reports sign.
export function claimMessage (p) {
  const type = stringField(p, 'type').trim()
  let place = stringField(p, 'channel').trim()
  if (place === '') place = stringField(p, 'location')
  place = place.trim().toLowerCase()
  const handle = normalizeHandle(stringField(p, 'handle')).toLowerCase()
  const actor = normalizeHandle(stringField(p, 'actor')).toLowerCase()
  let fields
  if (type === 'arcade_score') {
    fields = [stringField(p, 'game').toLowerCase(), intField(p, 'score'), intField(p, 'week'),
      stringField(p, 'entry').toLowerCase(), stringField(p, 'pay_addr')].join('|')
    const tapeHash = stringField(p, 'tape_hash')
    if (tapeHash !== '') fields += '|' + tapeHash.toLowerCase()
  } else {
    fields = stringField(p, 'enc_pub').toLowerCase()
  }
  return ['OW1', type, place, handle, actor, intField(p, 'ts'), fields].join('|')
}

export function claimSigner (p) {
  return { pubkey: stringField(p, 'pubkey', 'publicKey'), sig: stringField(p, 'sig', 'signature') }
}
