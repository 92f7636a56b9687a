// The chain must accept what the network accepts and refuse, with the node's own words, what
// the network refuses: the game's payment retries depend on those texts.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { startDevnet, fundedKey, signedTx, dataScript, WOC } from './helpers.mjs'
import { p2pkhScript } from '../lib/script.js'
import { Chain } from '../lib/chain.js'

let net
before(async () => { net = await startDevnet() })
after(async () => { await net.close() })

const broadcast = (tx) => net.post(WOC + '/tx/raw', { txhex: typeof tx === 'string' ? tx : tx.toHex() })

test('a signed payment is accepted and indexed as unconfirmed, then as confirmed after a block', async () => {
  const { key, address, coin } = await fundedKey(net, 50000)
  const dest = PrivateKey.fromRandom().toAddress()
  const tx = await signedTx([{ ...coin, key }], [{ satoshis: 20000, address: dest }, { satoshis: 29000, address }])
  const r = await broadcast(tx)
  assert.equal(r.status, 200)
  assert.equal(r.text, tx.id('hex'))

  const all = (await net.get(WOC + '/address/' + dest + '/unspent/all')).json
  assert.equal(all.address, dest)
  assert.equal(all.error, '')
  assert.deepEqual(all.result, [{ tx_pos: 0, tx_hash: tx.id('hex'), value: 20000, isSpentInMempoolTx: false, status: 'unconfirmed', hex: all.result[0].hex }])
  assert.match(all.result[0].hex, /^76a914[0-9a-f]{40}88ac$/)
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/unspent')).json, [])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/unconfirmed/unspent')).json.result, all.result)
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/confirmed/unspent')).json.result, [])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/unconfirmed/history')).json.result, [{ tx_hash: tx.id('hex') }])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/confirmed/history')).json.result, [])
  // The funding output is now spent in the mempool and says so.
  const source = (await net.get(WOC + '/address/' + address + '/unspent/all')).json.result
  assert.ok(source.find((u) => u.tx_hash === coin.txid && u.isSpentInMempoolTx === true))

  const decoded = (await net.get(WOC + '/tx/' + tx.id('hex'))).json
  assert.equal(decoded.vout[0].value, 0.0002)
  assert.equal(decoded.vout[0].scriptPubKey.type, 'pubkeyhash')
  assert.deepEqual(decoded.vout[0].scriptPubKey.addresses, [dest])
  assert.equal(decoded.vin[0].txid, coin.txid)
  assert.match(decoded.vin[0].scriptSig.asm, /\[ALL\|FORKID\] 0[23][0-9a-f]{64}$/)
  assert.equal('confirmations' in decoded, false)
  assert.equal('blockhash' in decoded, false)

  const mined = await net.post('/admin/mine', {})
  assert.ok(mined.json.txids.includes(tx.id('hex')))
  const after = (await net.get(WOC + '/address/' + dest + '/unspent/all')).json.result
  assert.deepEqual(after, [{ height: mined.json.height, tx_pos: 0, tx_hash: tx.id('hex'), value: 20000, isSpentInMempoolTx: false, status: 'confirmed' }])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/unspent')).json, [{ height: mined.json.height, tx_pos: 0, tx_hash: tx.id('hex'), value: 20000 }])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/confirmed/unspent')).json.result, after)
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/unconfirmed/unspent')).json.result, [])
  assert.deepEqual((await net.get(WOC + '/address/' + dest + '/confirmed/history')).json.result, [{ tx_hash: tx.id('hex'), height: mined.json.height }])
  const confirmed = (await net.get(WOC + '/tx/' + tx.id('hex'))).json
  assert.equal(confirmed.confirmations, 1)
  assert.equal(confirmed.blockheight, mined.json.height)
  assert.equal(confirmed.blockhash, mined.json.hash)
  assert.equal((await net.get(WOC + '/tx/' + tx.id('hex') + '/hex')).text, tx.toHex())
})

test('refusals carry the node texts: bad signature, double spend, spent input, overspend, low fee, known, malformed', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  const other = PrivateKey.fromRandom()
  const prefix = 'unexpected response code 500: '

  // Signed by the wrong key: the script check fails.
  const forged = await signedTx([{ ...coin, key: other }], [{ satoshis: 9000, address }])
  let r = await broadcast(forged)
  assert.equal(r.status, 400)
  assert.match(r.text, /^unexpected response code 500: 16: mandatory-script-verify-flag-failed \(.+\)$/)

  // A correct signature over different outputs does not verify either.
  const good = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  const tampered = good.toHex().replace('28230000', '29230000') // 9000 -> 9001 satoshis
  assert.notEqual(tampered, good.toHex())
  r = await broadcast(tampered)
  assert.match(r.text, /mandatory-script-verify-flag-failed/)

  const overspend = await signedTx([{ ...coin, key }], [{ satoshis: 10001, address }])
  assert.equal((await broadcast(overspend)).text, prefix + '16: bad-txns-in-belowout')
  const noFee = await signedTx([{ ...coin, key }], [{ satoshis: 10000, address }])
  assert.equal((await broadcast(noFee)).text, prefix + '66: mempool min fee not met')

  const dust = await signedTx([{ ...coin, key }], [{ satoshis: 0, address }, { satoshis: 9000, address }])
  assert.equal((await broadcast(dust)).text, prefix + '64: dust')
  const later = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  later.lockTime = net.dn.chain.height + 5
  later.inputs[0].sequence = 0
  await later.sign()
  assert.equal((await broadcast(later)).text, prefix + '64: non-final')

  assert.equal((await broadcast(good)).status, 200)
  assert.equal((await broadcast(good)).text, prefix + '257: txn-already-known')
  const rival = await signedTx([{ ...coin, key }], [{ satoshis: 8000, address }])
  assert.equal((await broadcast(rival)).text, prefix + '258: txn-mempool-conflict')

  // Once the first spend is in a block the same outpoint is simply missing.
  await net.post('/admin/mine', {})
  assert.equal((await broadcast(rival)).text, prefix + 'Missing inputs')
  const unknown = await signedTx([{ txid: 'ab'.repeat(32), vout: 0, satoshis: 5000, script: coin.script, key }], [{ satoshis: 4000, address }])
  assert.equal((await broadcast(unknown)).text, prefix + 'Missing inputs')

  assert.equal((await broadcast(good.toHex() + '00')).text, prefix + 'TX decode failed')
  assert.equal((await net.post(WOC + '/tx/raw', { other: 1 })).text, prefix + 'TX decode failed')
})

test('a chain of unconfirmed payments is accepted and confirmed in one block', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  const first = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  const second = await signedTx([{ txid: first.id('hex'), vout: 0, satoshis: 9000, script: coin.script, key }], [{ satoshis: 8000, address }])
  assert.equal((await broadcast(first)).status, 200)
  assert.equal((await broadcast(second)).status, 200)
  const mined = (await net.post('/admin/mine', {})).json
  assert.deepEqual(mined.txids.slice(-2), [first.id('hex'), second.id('hex')])
  const unspent = (await net.get(WOC + '/address/' + address + '/unspent')).json
  assert.deepEqual(unspent.map((u) => u.tx_hash), [second.id('hex')])
})

// WhatsOnChain: an unknown txid, or an address with no history, answers 404 (clients read it as
// empty); an address that has history but nothing unspent answers the empty wrapper.
test('unknown transactions and addresses without history answer 404, bad addresses 400', async () => {
  assert.equal((await net.get(WOC + '/tx/' + 'cd'.repeat(32))).status, 404)
  assert.equal((await net.get(WOC + '/tx/' + 'cd'.repeat(32) + '/hex')).status, 404)
  const fresh = PrivateKey.fromRandom().toAddress()
  const reads = ['unspent/all', 'unspent', 'unconfirmed/unspent', 'confirmed/unspent', 'unconfirmed/history', 'confirmed/history', 'history']
  for (const read of reads) assert.equal((await net.get(WOC + '/address/' + fresh + '/' + read)).status, 404, read)
  const { key, address, coin } = await fundedKey(net, 10000)
  const away = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address: fresh }])
  assert.equal((await broadcast(away)).status, 200)
  const emptied = (await net.get(WOC + '/address/' + address + '/unspent/all'))
  assert.equal(emptied.status, 200)
  assert.deepEqual(emptied.json.result.filter((u) => !u.isSpentInMempoolTx), [])
  assert.equal((await net.get(WOC + '/address/1BadAddress/unspent')).status, 400)
})

// The history endpoints take "order" (asc or desc) and a "token" for the next page; the service
// documents no default order, so the devnet's default (oldest first) is the one a reader that
// does not ask would least want.
test('confirmed history pages in the order asked for, with a next page token', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  let prev = { ...coin, key }
  const ids = [coin.txid]
  for (let i = 0; i < 3; i++) {
    const tx = await signedTx([prev], [{ satoshis: prev.satoshis - 500, address }])
    assert.equal((await broadcast(tx)).status, 200)
    ids.push(tx.id('hex'))
    await net.post('/admin/mine', {})
    prev = { txid: tx.id('hex'), vout: 0, satoshis: prev.satoshis - 500, script: coin.script, key }
  }
  const history = WOC + '/address/' + address + '/confirmed/history?limit=2'
  const first = (await net.get(history + '&order=desc')).json
  assert.deepEqual(first.result.map((r) => r.tx_hash), [ids[3], ids[2]])
  assert.ok(first.nextPageToken)
  const second = (await net.get(history + '&order=desc&token=' + first.nextPageToken)).json
  assert.deepEqual(second.result.map((r) => r.tx_hash), [ids[1], ids[0]])
  assert.equal(second.nextPageToken, undefined)
  for (const order of ['', '&order=asc']) {
    assert.deepEqual((await net.get(history + order)).json.result.map((r) => r.tx_hash), [ids[0], ids[1]], order)
  }
  assert.equal((await net.get(history + '&order=newest')).status, 400)
})

// WhatsOnChain "Get Unspent UTXOs by Address" (/unspent/all): confirmed outputs are paged 1000 at
// a time with a next-page token; unconfirmed ones all come on the first page.
test('unspent/all pages confirmed outputs after 1000 with a next page token', async () => {
  const owner = PrivateKey.fromRandom().toAddress()
  assert.equal((await net.post('/admin/fund', { address: owner, satoshis: 3, count: 1200 })).status, 200)
  await net.post('/admin/mine', {})
  const pending = (await net.post('/admin/fund', { address: owner, satoshis: 7 })).json.txid
  const first = (await net.get(WOC + '/address/' + owner + '/unspent/all')).json
  assert.equal(first.result.filter((u) => u.status === 'confirmed').length, 1000)
  assert.deepEqual(first.result.filter((u) => u.status === 'unconfirmed').map((u) => u.tx_hash), [pending])
  assert.ok(first.nextPageToken)
  const second = (await net.get(WOC + '/address/' + owner + '/unspent/all?token=' + first.nextPageToken)).json
  assert.equal(second.result.length, 200)
  assert.ok(second.result.every((u) => u.status === 'confirmed'))
  assert.equal(second.nextPageToken, undefined)
  const outpoints = new Set([...first.result, ...second.result].map((u) => u.tx_hash + ':' + u.tx_pos))
  assert.equal(outpoints.size, 1201)
})

// WhatsOnChain has no "/tx/{txid}/decoded"; its "/tx/{txid}" cuts an output's script hex above
// 100 KB and sets "isTruncated", and only "/tx/{txid}/hex" carries the whole script. The maker's
// service does not cut.
test('long scripts are truncated in the decoded transaction but whole in the raw one', async () => {
  const { key, address, coin } = await fundedKey(net, 100000)
  const payload = 'x'.repeat(60000)
  const tx = await signedTx([{ ...coin, key }], [{ satoshis: 0, script: dataScript(payload) }, { satoshis: 30000, address }])
  assert.equal((await broadcast(tx)).status, 200)
  const id = tx.id('hex')
  const full = tx.outputs[0].lockingScript.toHex()
  assert.equal((await net.get(WOC + '/tx/' + id + '/decoded')).status, 404)
  for (const path of ['/tx/', '/tx/hash/']) {
    const cut = (await net.get(WOC + path + id)).json.vout
    assert.equal(cut[0].scriptPubKey.isTruncated, true)
    assert.equal(cut[0].scriptPubKey.hex, full.slice(0, 100000))
    assert.equal(cut[1].scriptPubKey.isTruncated, false)
  }
  assert.equal((await net.get(WOC + '/tx/' + id + '/hex')).text, tx.toHex())
  const own = (await net.get('/oi/tx/' + id, { servername: 'svc.orbweave.test' })).json.vout[0].scriptPubKey
  assert.equal(own.hex, full)
  assert.equal(own.isTruncated, false)
})

test('concurrent faucet payments each get their own outputs', async () => {
  const addresses = Array.from({ length: 8 }, () => PrivateKey.fromRandom().toAddress())
  const txids = await Promise.all(addresses.map((address) => net.dn.pay([{ satoshis: 777, script: p2pkhScript(address) }])))
  assert.equal(new Set(txids).size, addresses.length)
  for (const address of addresses) {
    assert.equal((await net.get(WOC + '/address/' + address + '/unspent/all')).json.result[0].value, 777)
  }
})

test('the minimum fee rate is satoshis per 1000 bytes, with at least one satoshi', async () => {
  const chain = new Chain({ minFeeRate: 1000 })
  const key = PrivateKey.fromRandom()
  chain.genesis(key.toAddress(), 100000, p2pkhScript(key.toAddress()))
  const coin = { ...chain.unspentFor(key.toAddress())[0], key }
  // Signatures vary by a byte or two, so the fees stay clear of the exact size.
  const probe = await signedTx([coin], [{ satoshis: 90000, address: key.toAddress() }])
  const size = probe.toHex().length / 2
  const short = await signedTx([coin], [{ satoshis: 100000 - (size - 10), address: key.toAddress() }])
  assert.equal(chain.submit(short.toHex()).text, '66: mempool min fee not met')
  const enough = await signedTx([coin], [{ satoshis: 100000 - (size + 10), address: key.toAddress() }])
  assert.equal(chain.submit(enough.toHex()).ok, true)
  assert.equal(new Chain({ minFeeRate: 1 }).minimumFee(226), 1n)
  assert.equal(new Chain({ minFeeRate: 500 }).minimumFee(226), 113n)
  assert.equal(new Chain({ minFeeRate: 0 }).minimumFee(226), 0n)
})
