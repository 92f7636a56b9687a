// The devnet's ledger: every transaction ever accepted, the outputs they created (spent or not),
// the mempool and the blocks. Every submitted transaction is checked the way a node checks it,
// with the script interpreter of @bsv/sdk, before anything changes.
import { createHash } from 'node:crypto'
import { LockingScript, Spend, Transaction } from '@bsv/sdk'
import { MAX_MONEY, parseRawTx } from './txparse.js'
import { ownerAddress, parseInscription, parseLock } from './script.js'

const NULL_TXID = '0'.repeat(64)

function sha256d (buf) {
  return createHash('sha256').update(createHash('sha256').update(buf).digest()).digest()
}

export function txidOf (hex) {
  return Buffer.from(sha256d(Buffer.from(hex, 'hex'))).reverse().toString('hex')
}

const key = (txid, vout) => txid + ':' + vout

// The node's texts, by kind of refusal.
export const NODE_TEXT = {
  decode: 'TX decode failed',
  known: '257: txn-already-known',
  missing: 'Missing inputs',
  conflict: '258: txn-mempool-conflict',
  belowout: '16: bad-txns-in-belowout',
  fee: '66: mempool min fee not met',
  'vin-empty': '16: bad-txns-vin-empty',
  'vout-empty': '16: bad-txns-vout-empty',
  toolarge: '16: bad-txns-vout-toolarge',
  duplicate: '16: bad-txns-inputs-duplicate',
  'prevout-null': '16: bad-txns-prevout-null',
  dust: '64: dust',
  'non-final': '64: non-final'
}

function scriptFailureText (message) {
  const m = String(message)
  let reason = 'Script evaluated without error but finished with a false/empty top stack element'
  if (/OP_EQUALVERIFY/i.test(m)) reason = 'Script failed an OP_EQUALVERIFY operation'
  else if (/push ?only/i.test(m)) reason = 'Only non-push operators allowed in signatures'
  else if (/clean ?stack/i.test(m)) reason = 'Stack size must be exactly one after execution'
  else if (/low s|high s/i.test(m)) reason = 'Non-canonical signature: S value is unnecessarily high'
  else if (/(DER|signature format|encoding)/i.test(m)) reason = 'Non-canonical DER signature'
  return '16: mandatory-script-verify-flag-failed (' + reason + ')'
}

function refuse (kind, extra = {}) {
  return { ok: false, kind, text: extra.text ?? NODE_TEXT[kind], ...extra }
}

export class Chain {
  constructor ({ minFeeRate = 1, now = () => Date.now() } = {}) {
    this.minFeeRate = minFeeRate // satoshis per 1000 bytes
    this.now = now
    this.clear()
  }

  clear () {
    this.txs = new Map() // txid -> { txid, hex, parsed, height, seq, time }
    this.outputs = new Map() // "txid:vout" -> { txid, vout, satoshis, script, address, spentBy }
    this.addrTxs = new Map() // address -> Set(txid), first touch first
    this.origins = new Map() // "txid:vout" -> origin record of the inscription the output holds
    this.locks = new Map() // owner address -> Set("txid:vout") of outputs locked to it by a lock script
    this.blocks = []
    this.seq = 0
    this.inscriptions = 0
  }

  get height () {
    return this.blocks.length - 1
  }

  get mempool () {
    return [...this.txs.values()].filter((t) => t.height === null)
  }

  // The first block holds one coinbase transaction that pays the faucet.
  genesis (faucetAddress, satoshis, script) {
    this.clear()
    const amount = Buffer.alloc(8)
    amount.writeBigUInt64LE(BigInt(satoshis))
    const coinbase = Buffer.from('devnet genesis')
    const hex = Buffer.concat([
      Buffer.from('01000000', 'hex'), Buffer.from([1]), Buffer.alloc(32), Buffer.from('ffffffff', 'hex'),
      Buffer.from([coinbase.length]), coinbase, Buffer.from('ffffffff', 'hex'),
      Buffer.from([1]), amount, Buffer.from([script.length / 2]), Buffer.from(script, 'hex'),
      Buffer.alloc(4)
    ]).toString('hex')
    this.apply(hex, Math.floor(this.now() / 1000))
    this.mine()
  }

  // Records an already checked transaction.
  apply (hex, time) {
    const parsed = parseRawTx(hex)
    const txid = txidOf(hex)
    const rec = { txid, hex, parsed, height: null, seq: this.seq++, time }
    this.txs.set(txid, rec)
    const touch = (address) => {
      if (!address) return
      if (!this.addrTxs.has(address)) this.addrTxs.set(address, new Set())
      this.addrTxs.get(address).add(txid)
    }
    const inputRanges = []
    let offset = 0n
    for (const input of parsed.inputs) {
      const prev = this.outputs.get(key(input.txid, input.vout))
      if (prev) {
        prev.spentBy = txid
        touch(prev.address)
        inputRanges.push({ start: offset, sats: BigInt(prev.satoshis), origin: this.origins.get(key(input.txid, input.vout)) })
        offset += BigInt(prev.satoshis)
      }
    }
    offset = 0n
    parsed.outputs.forEach((out, vout) => {
      const address = ownerAddress(out.script)
      const lock = parseLock(out.script)
      this.outputs.set(key(txid, vout), { txid, vout, satoshis: Number(out.satoshis), script: out.script, address, lock, spentBy: null })
      touch(address)
      if (lock) {
        if (!this.locks.has(lock.address)) this.locks.set(lock.address, new Set())
        this.locks.get(lock.address).add(key(txid, vout))
      }
      if (out.satoshis === 1n) this.trackOrigin(txid, vout, out.script, offset, inputRanges)
      offset += out.satoshis
    })
    return rec
  }

  // A 1-satoshi output either starts a new inscription or, by ordinal order, carries the
  // inscription of the 1-satoshi input whose place in the inputs it takes.
  trackOrigin (txid, vout, script, offset, inputRanges) {
    const insc = parseInscription(script)
    if (insc) {
      this.origins.set(key(txid, vout), {
        outpoint: txid + '_' + vout,
        num: ++this.inscriptions,
        type: insc.type,
        size: insc.bytes.length,
        hash: createHash('sha256').update(insc.bytes).digest('hex')
      })
      return
    }
    const from = inputRanges.find((r) => offset >= r.start && offset < r.start + r.sats)
    if (from && from.sats === 1n && from.origin) this.origins.set(key(txid, vout), from.origin)
  }

  // Checks a raw transaction and takes it into the mempool. Answers { ok, txid } or a refusal
  // { ok: false, kind, text, conflicts? }.
  submit (hexInput) {
    const hex = typeof hexInput === 'string' ? hexInput.trim().toLowerCase() : ''
    const parsed = parseRawTx(hex)
    if (!parsed.ok) return refuse('decode')
    let tx
    try {
      tx = Transaction.fromHex(hex)
      if (tx.toHex() !== hex) return refuse('decode')
    } catch {
      return refuse('decode')
    }
    const txid = txidOf(hex)
    if (this.txs.has(txid)) return refuse('known', { txid })
    if (parsed.inputs.length === 0) return refuse('vin-empty', { txid })
    if (parsed.outputs.length === 0) return refuse('vout-empty', { txid })
    let outTotal = 0n
    for (const out of parsed.outputs) {
      if (out.satoshis > MAX_MONEY) return refuse('toolarge', { txid })
      outTotal += out.satoshis
    }
    if (outTotal > MAX_MONEY) return refuse('toolarge', { txid })
    // Policy as the node keeps it: an output without value must be a data output, and a lock
    // time that has not passed needs every input final.
    if (parsed.outputs.some((o) => o.satoshis === 0n && !/^(00)?6a/.test(o.script))) return refuse('dust', { txid })
    if (!this.isFinal(parsed)) return refuse('non-final', { txid })
    const seen = new Set()
    for (const input of parsed.inputs) {
      if (input.txid === NULL_TXID) return refuse('prevout-null', { txid })
      if (seen.has(key(input.txid, input.vout))) return refuse('duplicate', { txid })
      seen.add(key(input.txid, input.vout))
    }
    // A spend of an output that a mempool transaction already spends conflicts; one of an
    // output that is unknown or spent in a block is simply missing, as the node says.
    const conflicts = new Set()
    const prevs = []
    for (const input of parsed.inputs) {
      const prev = this.outputs.get(key(input.txid, input.vout))
      if (prev && prev.spentBy && this.txs.get(prev.spentBy).height === null) conflicts.add(prev.spentBy)
      prevs.push(prev)
    }
    if (conflicts.size > 0) return refuse('conflict', { txid, conflicts: [...conflicts] })
    if (prevs.some((p) => !p || p.spentBy)) return refuse('missing', { txid })
    const inTotal = prevs.reduce((sum, p) => sum + BigInt(p.satoshis), 0n)
    if (outTotal > inTotal) return refuse('belowout', { txid })
    const fee = inTotal - outTotal
    if (fee < this.minimumFee(parsed.size)) return refuse('fee', { txid })
    for (let i = 0; i < tx.inputs.length; i++) {
      const input = tx.inputs[i]
      try {
        const spend = new Spend({
          sourceTXID: input.sourceTXID,
          sourceOutputIndex: input.sourceOutputIndex,
          sourceSatoshis: prevs[i].satoshis,
          lockingScript: LockingScript.fromHex(prevs[i].script),
          transactionVersion: tx.version,
          otherInputs: tx.inputs.filter((_, j) => j !== i),
          outputs: tx.outputs,
          inputIndex: i,
          unlockingScript: input.unlockingScript,
          inputSequence: input.sequence,
          lockTime: tx.lockTime
        })
        if (spend.validate() !== true) return refuse('script', { txid, text: scriptFailureText('') })
      } catch (e) {
        return refuse('script', { txid, text: scriptFailureText(e.message) })
      }
    }
    this.apply(hex, Math.floor(this.now() / 1000))
    return { ok: true, txid, fee: Number(fee) }
  }

  isFinal ({ locktime, inputs }) {
    if (locktime === 0 || inputs.every((i) => i.sequence === 0xffffffff)) return true
    const now = locktime < 500000000 ? this.height + 1 : Math.floor(this.now() / 1000)
    return locktime < now
  }

  // The node's fee rule: rate × size / 1000, at least one satoshi when the rate is not zero.
  minimumFee (size) {
    if (this.minFeeRate <= 0) return 0n
    const fee = BigInt(Math.floor(this.minFeeRate * size / 1000))
    return fee === 0n ? 1n : fee
  }

  mine () {
    const prev = this.blocks.length ? this.blocks[this.blocks.length - 1].hash : NULL_TXID
    const height = this.blocks.length
    const time = Math.max(Math.floor(this.now() / 1000), this.blocks.length ? this.blocks[this.blocks.length - 1].time : 0)
    const txids = this.mempool.sort((a, b) => a.seq - b.seq).map((t) => t.txid)
    const hash = Buffer.from(sha256d(Buffer.from([prev, height, time, ...txids].join('|')))).reverse().toString('hex')
    const block = { height, hash, time, txids }
    this.blocks.push(block)
    for (const id of txids) this.txs.get(id).height = height
    return block
  }

  getTx (txid) {
    const rec = this.txs.get(String(txid).toLowerCase())
    if (!rec) return null
    const block = rec.height === null ? null : this.blocks[rec.height]
    return { ...rec, block, confirmations: block ? this.height - block.height + 1 : 0 }
  }

  output (txid, vout) {
    return this.outputs.get(key(txid, vout)) ?? null
  }

  origin (txid, vout) {
    return this.origins.get(key(txid, vout)) ?? null
  }

  heightOf (txid) {
    return this.txs.get(txid)?.height ?? null
  }

  // Unspent outputs of an address; each says whether a mempool transaction already spends it
  // (that is how the indexers show it) and its height, null while unconfirmed. Outputs locked to
  // the address by a lock script count only when asked (the ordinals indexer lists them).
  unspentFor (address, { includeSpentInMempool = true, includeLocked = false } = {}) {
    const list = []
    const consider = (out) => {
      const spender = out.spentBy ? this.txs.get(out.spentBy) : null
      if (spender && spender.height !== null) return
      if (spender && !includeSpentInMempool) return
      list.push({ ...out, height: this.txs.get(out.txid).height, spentInMempool: Boolean(spender) })
    }
    for (const txid of this.addrTxs.get(address) ?? []) {
      const rec = this.txs.get(txid)
      rec.parsed.outputs.forEach((_, vout) => {
        const out = this.outputs.get(key(txid, vout))
        if (out.address === address) consider(out)
      })
    }
    if (includeLocked) for (const k of this.locks.get(address) ?? []) consider(this.outputs.get(k))
    return list
  }

  // Whether any transaction ever paid or spent from the address.
  hasHistory (address) {
    return (this.addrTxs.get(address)?.size ?? 0) > 0
  }

  // Transactions touching an address, newest first: mempool, then blocks from the tip down.
  historyFor (address) {
    const recs = [...(this.addrTxs.get(address) ?? [])].map((id) => this.txs.get(id))
    const rank = (r) => (r.height === null ? Infinity : r.height)
    return recs.sort((a, b) => rank(b) - rank(a) || b.seq - a.seq)
  }

  // Transactions with an output paying the address, newest first.
  paymentsTo (address) {
    return this.historyFor(address).filter((r) =>
      r.parsed.outputs.some((_, vout) => this.outputs.get(key(r.txid, vout)).address === address))
  }

  toJSON () {
    return {
      txs: [...this.txs.values()].sort((a, b) => a.seq - b.seq).map((t) => ({ hex: t.hex, time: t.time })),
      blocks: this.blocks.map((b) => ({ hash: b.hash, time: b.time, txids: b.txids }))
    }
  }

  // Rebuilds the ledger from its saved form; the saved transactions were checked when they came.
  load (saved) {
    this.clear()
    for (const t of saved.txs) this.apply(t.hex, t.time)
    saved.blocks.forEach((b, height) => {
      this.blocks.push({ height, hash: b.hash, time: b.time, txids: b.txids })
      for (const id of b.txids) {
        const rec = this.txs.get(id)
        if (rec) rec.height = height
      }
    })
  }
}
