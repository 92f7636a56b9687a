// Builds and signs transactions for the keys the devnet holds (the faucet above all) with
// @bsv/sdk, then hands them to the chain like any other client would.
import { LockingScript, P2PKH, Transaction } from '@bsv/sdk'
import { p2pkhScript } from './script.js'

const FEE_PER_KB = 500 // well above any configured minimum, like a careful wallet

export async function buildPayment (chain, key, outputs) {
  const address = key.toAddress()
  const want = outputs.reduce((s, o) => s + o.satoshis, 0)
  const coins = chain.unspentFor(address, { includeSpentInMempool: false })
    .filter((u) => u.satoshis > 1)
    .sort((a, b) => b.satoshis - a.satoshis)
  const picked = []
  let total = 0
  const estimate = (nIn) => 10 + nIn * 148 + outputs.reduce((s, o) => s + 9 + o.script.length / 2 + 3, 0) + 34
  const feeFor = (nIn) => Math.max(1, Math.ceil(estimate(nIn) * FEE_PER_KB / 1000))
  for (const coin of coins) {
    if (total >= want + feeFor(picked.length)) break
    picked.push(coin)
    total += coin.satoshis
  }
  const fee = feeFor(picked.length)
  if (total < want + fee) throw new Error('faucet has ' + total + ' satoshis, needs ' + (want + fee))
  const change = total - want - fee
  const all = change > 0 ? [...outputs, { satoshis: change, script: p2pkhScript(address) }] : outputs
  return signTransaction(picked.map((coin) => ({ ...coin, key })), all)
}

// A version-1 transaction spending P2PKH coins ({ txid, vout, satoshis, script, key }) into
// outputs ({ satoshis, script }), every input signed SIGHASH_ALL|FORKID.
export async function signTransaction (coins, outputs) {
  const tx = new Transaction()
  tx.version = 1
  for (const c of coins) {
    tx.addInput({
      sourceTXID: c.txid,
      sourceOutputIndex: c.vout,
      sequence: 0xffffffff,
      unlockingScriptTemplate: new P2PKH().unlock(c.key, 'all', false, c.satoshis, LockingScript.fromHex(c.script))
    })
  }
  for (const o of outputs) tx.addOutput({ satoshis: o.satoshis, lockingScript: LockingScript.fromHex(o.script) })
  await tx.sign()
  return tx
}

export async function pay (chain, key, outputs) {
  const tx = await buildPayment(chain, key, outputs)
  const result = chain.submit(tx.toHex())
  if (!result.ok) throw new Error('devnet payment refused: ' + result.text)
  return result.txid
}
