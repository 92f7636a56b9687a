// Script reading the way the indexers do it: chunks, the node's asm text, the output type, the
// P2PKH owner of an output and the 1sat-ordinals inscription envelope.
import { OP, Utils } from '@bsv/sdk'

const OP_NAMES = new Map()
for (const [name, code] of Object.entries(OP)) {
  if (!OP_NAMES.has(code) && name.startsWith('OP_')) OP_NAMES.set(code, name)
}
OP_NAMES.set(0x00, 'OP_0')
OP_NAMES.set(0x6a, 'OP_RETURN')
OP_NAMES.set(0x63, 'OP_IF')
OP_NAMES.set(0x68, 'OP_ENDIF')
OP_NAMES.set(0xb1, 'OP_CHECKLOCKTIMEVERIFY')

// Splits a script into { op, data? } chunks. A push that runs past the end yields a final
// { op, bad: true } chunk instead of throwing.
export function chunks (buf) {
  const out = []
  let pos = 0
  while (pos < buf.length) {
    const op = buf[pos++]
    let len = -1
    if (op > 0 && op < 0x4c) len = op
    else if (op === 0x4c) { if (pos + 1 > buf.length) { out.push({ op, bad: true }); break } len = buf[pos]; pos += 1 }
    else if (op === 0x4d) { if (pos + 2 > buf.length) { out.push({ op, bad: true }); break } len = buf.readUInt16LE(pos); pos += 2 }
    else if (op === 0x4e) { if (pos + 4 > buf.length) { out.push({ op, bad: true }); break } len = buf.readUInt32LE(pos); pos += 4 }
    if (len >= 0) {
      if (pos + len > buf.length) { out.push({ op, bad: true }); break }
      out.push({ op, data: buf.subarray(pos, pos + len) })
      pos += len
    } else {
      out.push({ op })
    }
  }
  return out
}

const SIGHASH_NAMES = { 0x41: 'ALL|FORKID', 0x42: 'NONE|FORKID', 0x43: 'SINGLE|FORKID', 0xc1: 'ALL|FORKID|ANYONECANPAY', 0xc2: 'NONE|FORKID|ANYONECANPAY', 0xc3: 'SINGLE|FORKID|ANYONECANPAY' }

// The node's asm form: small numbers as decimals, pushes as hex, signatures in an unlocking
// script with their sighash type spelled out.
export function asm (hex, unlocking = false) {
  const parts = []
  for (const c of chunks(Buffer.from(hex, 'hex'))) {
    if (c.bad) { parts.push('[error]'); break }
    if (c.data) {
      const last = c.data[c.data.length - 1]
      if (unlocking && c.data.length > 9 && c.data[0] === 0x30 && SIGHASH_NAMES[last]) {
        parts.push(c.data.subarray(0, c.data.length - 1).toString('hex') + '[' + SIGHASH_NAMES[last] + ']')
      } else {
        parts.push(c.data.toString('hex'))
      }
    } else if (c.op === 0x00) parts.push('0')
    else if (c.op === 0x4f) parts.push('-1')
    else if (c.op >= 0x51 && c.op <= 0x60) parts.push(String(c.op - 0x50))
    else parts.push(OP_NAMES.get(c.op) ?? 'OP_UNKNOWN')
  }
  return parts.join(' ')
}

export function isP2pkhPrefix (buf) {
  return buf.length >= 25 && buf[0] === 0x76 && buf[1] === 0xa9 && buf[2] === 0x14 &&
    buf[23] === 0x88 && buf[24] === 0xac
}

export function addressFromHash160 (h160) {
  return Utils.toBase58Check([...h160], [0])
}

// The address an output pays: a plain P2PKH script, or a P2PKH script followed by an
// inscription envelope (the way 1sat ordinals are held). Anything else has no owner.
export function ownerAddress (scriptHex) {
  const buf = Buffer.from(scriptHex, 'hex')
  if (!isP2pkhPrefix(buf)) return null
  if (buf.length > 25 && parseInscription(scriptHex) === null) return null
  return addressFromHash160(buf.subarray(3, 23))
}

export function scriptType (scriptHex) {
  const buf = Buffer.from(scriptHex, 'hex')
  if (buf.length === 25 && isP2pkhPrefix(buf)) return 'pubkeyhash'
  if (buf[0] === 0x6a || (buf[0] === 0x00 && buf[1] === 0x6a)) return 'nulldata'
  if ((buf.length === 35 && buf[0] === 33) || (buf.length === 67 && buf[0] === 65)) {
    if (buf[buf.length - 1] === 0xac) return 'pubkey'
  }
  return 'nonstandard'
}

// The payload of a data output: the single push after OP_RETURN (optionally led by OP_FALSE).
export function dataPayload (scriptHex) {
  let buf = Buffer.from(scriptHex, 'hex')
  if (buf[0] === 0x00) buf = buf.subarray(1)
  if (buf[0] !== 0x6a || buf.length < 2) return null
  const c = chunks(buf.subarray(1))
  if (c.length === 0 || !c[0].data || c[0].data.length === 0) return null
  return Buffer.from(c[0].data)
}

function push (data) {
  const n = data.length
  let head
  if (n < 0x4c) head = Buffer.from([n])
  else if (n < 0x100) head = Buffer.from([0x4c, n])
  else if (n < 0x10000) { head = Buffer.alloc(3); head[0] = 0x4d; head.writeUInt16LE(n, 1) } else { head = Buffer.alloc(5); head[0] = 0x4e; head.writeUInt32LE(n, 1) }
  return Buffer.concat([head, data])
}

export function p2pkhScript (address) {
  const { data } = Utils.fromBase58Check(address)
  return Buffer.concat([Buffer.from([0x76, 0xa9, 0x14]), Buffer.from(data), Buffer.from([0x88, 0xac])]).toString('hex')
}

// P2PKH to the owner, then OP_FALSE OP_IF "ord" OP_1 <type> OP_0 <bytes> OP_ENDIF.
export function inscriptionScript (address, contentType, bytes) {
  return Buffer.concat([
    Buffer.from(p2pkhScript(address), 'hex'),
    Buffer.from([0x00, 0x63]), push(Buffer.from('ord')), Buffer.from([0x51]),
    push(Buffer.from(contentType, 'utf8')), Buffer.from([0x00]), push(bytes), Buffer.from([0x68])
  ]).toString('hex')
}

// Finds the envelope after the P2PKH part; returns { type, bytes } or null.
export function parseInscription (scriptHex) {
  const buf = Buffer.from(scriptHex, 'hex')
  if (!isP2pkhPrefix(buf)) return null
  const c = chunks(buf.subarray(25))
  if (c.length < 8 || c.some((x) => x.bad)) return null
  const ok = c[0].op === 0x00 && c[1].op === 0x63 && c[2].data?.toString() === 'ord' &&
    c[3].op === 0x51 && c[4].data && c[5].op === 0x00 && c[6].data && c[7].op === 0x68 && c.length === 8
  if (!ok) return null
  return { type: c[4].data.toString('utf8'), bytes: Buffer.from(c[6].data) }
}

// The script number push of a non-negative integer: little-endian, minimal, a zero byte added
// when the top bit would read as a sign.
function numberPush (n) {
  const bytes = []
  for (let v = n; v > 0; v = Math.floor(v / 256)) bytes.push(v % 256)
  if (bytes.length && bytes[bytes.length - 1] & 0x80) bytes.push(0)
  return push(Buffer.from(bytes))
}

// Coins locked to an owner until a block height, the way lock-up outputs are held: the owner can
// spend them only after `until`, with a signature over this very script (so a wallet that takes
// them for plain P2PKH signs the wrong script). The ordinals indexer lists them under the owner's
// address with data.lock; WhatsOnChain, which indexes exact P2PKH scripts, does not.
//   <until> OP_CHECKLOCKTIMEVERIFY OP_DROP OP_DUP OP_HASH160 <owner hash160> OP_EQUALVERIFY OP_CHECKSIG
export function lockScript (address, until) {
  const { data } = Utils.fromBase58Check(address)
  return Buffer.concat([
    numberPush(until), Buffer.from([0xb1, 0x75, 0x76, 0xa9, 0x14]), Buffer.from(data), Buffer.from([0x88, 0xac])
  ]).toString('hex')
}

// { address, until } of a lock script, or null.
export function parseLock (scriptHex) {
  const c = chunks(Buffer.from(scriptHex, 'hex'))
  const ops = [0xb1, 0x75, 0x76, 0xa9]
  if (c.length !== 8 || c.some((x) => x.bad) || !c[0].data || c[0].data.length > 5) return null
  if (ops.some((op, i) => c[i + 1].op !== op) || c[5].data?.length !== 20 || c[6].op !== 0x88 || c[7].op !== 0xac) return null
  let until = 0
  for (let i = c[0].data.length - 1; i >= 0; i--) until = until * 256 + c[0].data[i]
  return { address: addressFromHash160(c[5].data), until }
}
