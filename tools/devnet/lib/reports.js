// The architect's reading of reports: every report payload carried to the report oracle address
// is unwrapped with the architect's encryption key, decrypted and its signature checked.
import { createDecipheriv } from 'node:crypto'
import { ECIES } from '@bsv/sdk'
import { claimMessage, claimSigner, normalizeHandle, intField, verifyMessage } from './claims.js'
import { dataPayload } from './script.js'
import { aliasOf, compressedKey, PAYMAIL_DOMAIN } from './paymail.js'
import { parseJson } from './http.js'

const HEX_RE = /^(?:[0-9a-fA-F]{2})+$/

// One "pmessage" part: hex IV (16 bytes) then hex AES-256-CBC ciphertext.
function decryptPart (hex, key) {
  if (typeof hex !== 'string' || !HEX_RE.test(hex) || hex.length < 64) throw new Error('bad message part')
  const bytes = Buffer.from(hex, 'hex')
  const decipher = createDecipheriv('aes-256-cbc', key, bytes.subarray(0, 16))
  return Buffer.concat([decipher.update(bytes.subarray(16)), decipher.final()]).toString('utf8')
}

export function decryptReport (payload, architectKey) {
  if (typeof payload.wrap_to !== 'string' || !HEX_RE.test(payload.wrap_to)) throw new Error('no wrap_to')
  const key = Buffer.from(ECIES.electrumDecrypt([...Buffer.from(payload.wrap_to, 'hex')], architectKey))
  if (key.length !== 32) throw new Error('wrapped key is not 32 bytes')
  const parts = []
  for (let i = 1; i <= 8 && payload['pmessage' + i] !== undefined; i++) parts.push(decryptPart(payload['pmessage' + i], key))
  if (parts.length === 0) throw new Error('no pmessage1')
  return parts.join('')
}

function reportPayload (scriptHex) {
  const bytes = dataPayload(scriptHex)
  if (!bytes) return null
  const parsed = parseJson(bytes)
  const p = parsed.ok ? parsed.value : null
  return p && typeof p === 'object' && !Array.isArray(p) && p.type === 'report' ? p : null
}

export function listReports (dn) {
  const oracle = dn.addresses.report_oracle_address
  const feeAddress = dn.addresses.report_fee_address
  const reports = []
  for (const rec of dn.chain.paymentsTo(oracle)) {
    const outs = rec.parsed.outputs
    const found = outs.find((o) => o.satoshis === 0n && reportPayload(o.script))
    if (!found) continue
    const p = reportPayload(found.script)
    const str = (k) => (typeof p[k] === 'string' ? p[k] : '')
    const { pubkey, sig } = claimSigner(p)
    const item = {
      txid: rec.txid,
      height: rec.height,
      handle: str('handle'),
      actor: str('actor'),
      paymail: str('paymail'),
      to_handle: str('to_handle'),
      app: str('app'),
      ts: intField(p, 'ts'),
      enc_pub: str('enc_pub'),
      fee_paid: outs.some((o, i) => o.satoshis >= 1000n && dn.chain.output(rec.txid, i)?.address === feeAddress)
    }
    item.signature_ok = str('protocol') === 'RQT-Wire' && verifyMessage(claimMessage(p), pubkey, sig)
    // The signer must be the key the service publishes for the actor's name, as every reader
    // of a signed row demands.
    const actor = normalizeHandle(item.actor).toLowerCase()
    const sameDomain = item.paymail === '' || aliasOf(item.paymail) !== null
    const published = dn.state.names[actor]?.pubkey
    item.identity_ok = sameDomain && Boolean(published) && published === compressedKey(pubkey)
    item.verified = item.signature_ok && item.identity_ok
    try {
      item.text = decryptReport(p, dn.keys.architect_encryption)
    } catch (e) {
      item.text = null
      item.error = 'could not decrypt: ' + e.message
    }
    reports.push(item)
  }
  return { domain: PAYMAIL_DOMAIN, reports }
}
