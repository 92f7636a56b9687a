// Each fault the admin arms hits exactly the requests it names, as often as asked, and then the
// route is healthy again.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { startDevnet, fundedKey, signedTx, WOC } from './helpers.mjs'

let net
before(async () => {
  net = await startDevnet()
  await net.post('/admin/fund', { address: someAddress, satoshis: 1000 }) // an address the service knows
})
after(async () => { await net.close() })

const someAddress = PrivateKey.fromRandom().toAddress()
const unspentPath = WOC + '/address/' + someAddress + '/unspent'

test('a status fault answers the given status and body for the given number of requests', async () => {
  let r = await net.post('/admin/fault', { route: WOC + '/address/', kind: 'status', status: 503, body: 'maintenance', count: 2 })
  assert.equal(r.status, 200)
  assert.equal((await net.get(unspentPath)).text, 'maintenance')
  assert.equal((await net.get(unspentPath)).status, 503)
  assert.equal((await net.get(unspentPath)).status, 200)
  // Other routes and other methods are not touched.
  await net.post('/admin/fault', { route: '/download', kind: 'status', status: 500, method: 'POST' })
  assert.equal((await net.get('/download/ostakka')).status, 200)
  await net.post('/admin/fault/clear', {})
  r = await net.post('/admin/fault', { route: 'woc', kind: 'status', status: 503 })
  assert.equal(r.status, 400)
  assert.equal((await net.post('/admin/fault', { route: '/woc', kind: 'explode' })).status, 400)
})

test('a rate-limit fault answers 429 with a plain text body, then lets requests through', async () => {
  await net.post('/admin/fault', { route: WOC, kind: 'rate-limit', count: 3 })
  for (let i = 0; i < 3; i++) {
    const r = await net.get(unspentPath)
    assert.equal(r.status, 429)
    assert.equal(r.text, 'Rate limit exceeded')
  }
  assert.equal((await net.get(unspentPath)).status, 200)
})

test('a latency fault delays the answer; a drop fault closes the connection without an answer', async () => {
  await net.post('/admin/fault', { route: '/download', kind: 'latency', ms: 300 })
  const t0 = Date.now()
  assert.equal((await net.get('/download/ostakka')).status, 200)
  assert.ok(Date.now() - t0 >= 290)
  await net.post('/admin/fault', { route: '/download', kind: 'drop' })
  await assert.rejects(net.get('/download/ostakka'), /socket hang up|ECONNRESET/)
  assert.equal((await net.get('/download/ostakka')).status, 200)
})

test('faults until cleared stay armed; the admin routes are never faulted', async () => {
  await net.post('/admin/fault', { route: '/', kind: 'status', status: 500, count: -1 })
  for (let i = 0; i < 3; i++) assert.equal((await net.get('/download/ostakka')).status, 500)
  assert.equal((await net.get('/admin/state')).json.faults, 1)
  await net.post('/admin/fault/clear', {})
  assert.equal((await net.get('/download/ostakka')).status, 200)
})

test('the next WhatsOnChain broadcast can be made to answer Missing inputs or a mempool conflict', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  await net.post('/admin/fault/woc-broadcast', { answer: 'missing-inputs' })
  await net.post('/admin/fault/woc-broadcast', { answer: 'mempool-conflict' })
  const known = (await fundedKey(net, 1000)).coin.txid
  let r = await net.post(WOC + '/tx/raw', { txhex: net.dn.chain.getTx(known).hex })
  assert.equal(r.text, 'unexpected response code 500: 257: txn-already-known', 'a copy of a known one does not use them')
  r = await net.post(WOC + '/tx/raw', { txhex: tx.toHex() })
  assert.equal(r.status, 400)
  assert.equal(r.text, 'unexpected response code 500: Missing inputs')
  r = await net.post(WOC + '/tx/raw', { txhex: tx.toHex() })
  assert.equal(r.text, 'unexpected response code 500: 258: txn-mempool-conflict')
  // The forced answers did not take the transaction; the next broadcast does.
  r = await net.post(WOC + '/tx/raw', { txhex: tx.toHex() })
  assert.equal(r.text, tx.id('hex'))
  assert.equal((await net.post('/admin/fault/woc-broadcast', { answer: 'other' })).status, 400)
})

// Any of ARC's documented statuses can be forced; one that means the network does not have the
// transaction leaves it out of the chain, one on the way to miners takes it.
test('ARC can be made to answer a chosen txStatus', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  await net.post('/admin/fault/arc', { txStatus: 'REJECTED' })
  let r = await net.post('/arc/v1/tx', { rawTx: tx.toHex() })
  assert.equal(r.status, 200)
  assert.equal(r.json.txStatus, 'REJECTED')
  assert.equal(net.dn.chain.getTx(tx.id('hex')), null)
  for (const txStatus of ['SEEN_IN_ORPHAN_MEMPOOL', 'MINED_IN_STALE_BLOCK', 'QUEUED']) {
    await net.post('/admin/fault/arc', { txStatus })
    r = await net.post('/arc/v1/tx', { rawTx: tx.toHex() })
    assert.deepEqual([r.json.txStatus, r.json.txid], [txStatus, tx.id('hex')])
    assert.equal(net.dn.chain.getTx(tx.id('hex')), null, txStatus)
  }
  await net.post('/admin/fault/arc', { txStatus: 'STORED', extraInfo: 'queued for later' })
  r = await net.post('/arc/v1/tx', { rawTx: tx.toHex() })
  assert.equal(r.json.txStatus, 'STORED')
  assert.equal(r.json.extraInfo, 'queued for later')
  assert.ok(net.dn.chain.getTx(tx.id('hex')))
  assert.equal((await net.post('/admin/fault/arc', { txStatus: 'FINE' })).status, 400)
})

// WhatsOnChain without a key allows about 3 requests a second and answers 429 with a plain-text
// body past that; the devnet counts every such answer so a test can show none
// reached anyone.
test('--woc-rate-limit answers 429 past N WhatsOnChain requests a second', async () => {
  const limited = await startDevnet({ wocRateLimit: 2 })
  try {
    const statuses = []
    const info = WOC + '/chain/info'
    for (let i = 0; i < 4; i++) statuses.push((await limited.get(info)).status)
    assert.deepEqual(statuses.slice(0, 2), [200, 200])
    assert.ok(statuses.slice(2).includes(429))
    const limitedCount = statuses.filter((s) => s === 429).length
    assert.equal((await limited.get('/admin/state')).json.rate_limited, limitedCount)
    assert.equal((await limited.get('/download/ostakka')).status, 200)
    await new Promise((resolve) => setTimeout(resolve, 1000))
    assert.equal((await limited.get(info)).status, 200, 'a second later the window has room again')
  } finally {
    await limited.close()
  }
})
