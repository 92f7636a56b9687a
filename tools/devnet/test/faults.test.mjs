// Each fault the admin arms hits exactly the requests it names, as often as asked, and then the
// route is healthy again.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { sharedDevnet, startDevnet, fundedKey, signedTx, WOC } from './helpers.mjs'

const net = sharedDevnet()
const page = '/download/ostakka'
const arm = (fault) => net.post('/admin/fault', fault)

test('a status or rate-limit fault answers for exactly the given number of requests', async () => {
  const cases = [
    [{ kind: 'status', status: 503, body: 'maintenance', count: 2 }, 503, 'maintenance'],
    [{ kind: 'rate-limit', count: 3 }, 429, 'Rate limit exceeded']
  ]
  for (const [fault, status, text] of cases) {
    assert.equal((await arm({ route: '/download/', ...fault })).status, 200)
    for (let i = 0; i < fault.count; i++) {
      const r = await net.get(page)
      assert.deepEqual([r.status, r.text], [status, text], fault.kind + ' ' + i)
    }
    assert.equal((await net.get(page)).status, 200, fault.kind + ' after its count')
  }
  // Another method on the route is not touched; a fault until cleared stays, but never on the
  // admin routes, so it can always be cleared.
  await arm({ route: '/download', kind: 'status', status: 500, method: 'POST' })
  assert.equal((await net.get(page)).status, 200)
  await arm({ route: '/', kind: 'status', status: 500, count: -1 })
  for (let i = 0; i < 3; i++) assert.equal((await net.get(page)).status, 500)
  assert.equal((await net.get('/admin/state')).json.faults, 2)
  await net.post('/admin/fault/clear', {})
  assert.equal((await net.get(page)).status, 200)
  for (const bad of [{ route: 'woc', kind: 'status', status: 503 }, { route: '/woc', kind: 'explode' }]) assert.equal((await arm(bad)).status, 400)
})

// Forced broadcast answers are for the next new transaction: a copy of one the chain has (the
// game mirrors its own) does not use them up, and a forced refusal does not take it.
test('the next WhatsOnChain broadcasts can be made to answer Missing inputs or a mempool conflict', async () => {
  const { address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([coin], [{ satoshis: 9000, address }])
  for (const answer of ['missing-inputs', 'mempool-conflict']) await net.post('/admin/fault/woc-broadcast', { answer })
  assert.equal((await net.broadcast(net.dn.chain.getTx(coin.txid).hex)).text, 'unexpected response code 500: 257: txn-already-known')
  for (const text of ['Missing inputs', '258: txn-mempool-conflict']) assert.equal((await net.broadcast(tx)).text, 'unexpected response code 500: ' + text)
  assert.equal((await net.broadcast(tx)).text, tx.id('hex'))
  assert.equal((await net.post('/admin/fault/woc-broadcast', { answer: 'other' })).status, 400)
})

// WhatsOnChain without a key allows about 3 requests a second and answers 429 past that; the
// devnet counts every such answer so a test can show none reached anyone.
test('--woc-rate-limit answers 429 past N WhatsOnChain requests a second', async () => {
  const limited = await startDevnet({ wocRateLimit: 2 })
  try {
    const info = WOC + '/chain/info'
    const statuses = []
    for (let i = 0; i < 4; i++) statuses.push((await limited.get(info)).status)
    assert.deepEqual(statuses.slice(0, 2), [200, 200])
    assert.ok(statuses.slice(2).includes(429))
    assert.equal((await limited.get('/admin/state')).json.rate_limited, statuses.filter((s) => s === 429).length)
  } finally {
    await limited.close()
  }
})
