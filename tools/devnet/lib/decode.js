// The decoded transaction as WhatsOnChain serves it (and the maker's service repeats it).
import { asm, ownerAddress, scriptType } from './script.js'

// Satoshis to coins as an exact eight-decimal number.
export function coins (satoshis) {
  return Number((BigInt(satoshis) / 100000000n).toString() + '.' + (BigInt(satoshis) % 100000000n).toString().padStart(8, '0'))
}

// WhatsOnChain cuts an output's script hex above 100 KB in its decoded transaction and says so
// with "isTruncated"; the whole script is only in "/tx/{txid}/hex". The maker's service does not
// cut. The exact cut is not documented to the byte: 100,000 hex characters here.
export const TRUNCATE_SCRIPT_HEX = 100000

export function decodedTx (chain, txid, { truncateScripts = false } = {}) {
  const rec = chain.getTx(txid)
  if (!rec) return null
  const { parsed } = rec
  const out = {
    txid: rec.txid,
    hash: rec.txid,
    version: parsed.version,
    size: parsed.size,
    locktime: parsed.locktime,
    vin: parsed.inputs.map((input) => {
      if (input.txid === '0'.repeat(64)) return { coinbase: input.script, sequence: input.sequence }
      return { txid: input.txid, vout: input.vout, scriptSig: { asm: asm(input.script, true), hex: input.script }, sequence: input.sequence }
    }),
    vout: parsed.outputs.map((o, n) => {
      const type = scriptType(o.script)
      const truncated = truncateScripts && o.script.length > TRUNCATE_SCRIPT_HEX
      const hex = truncated ? o.script.slice(0, TRUNCATE_SCRIPT_HEX) : o.script
      const spk = { asm: asm(hex), hex }
      const address = ownerAddress(o.script)
      if (type === 'pubkeyhash') spk.reqSigs = 1
      spk.type = type
      if (address) spk.addresses = [address]
      spk.isTruncated = truncated
      return { value: coins(o.satoshis), n, scriptPubKey: spk }
    })
  }
  if (rec.block) {
    out.blockhash = rec.block.hash
    out.confirmations = rec.confirmations
    out.time = rec.block.time
    out.blocktime = rec.block.time
    out.blockheight = rec.block.height
  }
  return out
}
