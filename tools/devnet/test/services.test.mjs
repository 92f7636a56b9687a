// ARC, the maker's service host, GorillaPool and the download page answer in the shapes their
// real counterparts use, and they all see the same chain.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { startDevnet, fundedKey, signedTx, dataScript, WOC } from './helpers.mjs'

let net
before(async () => { net = await startDevnet() })
after(async () => { await net.close() })

const svc = { host: '127.0.0.1', servername: 'svc.orbweave.test' }

// ARC's documented answers: 200 with a txStatus for what it holds (SEEN_ON_NETWORK, MINED,
// DOUBLE_SPEND_ATTEMPTED with competingTxs, SEEN_IN_ORPHAN_MEMPOOL for inputs it cannot find,
// which is how an input already spent in a block looks to it), RFC 7807 errors otherwise.
test('ARC answers SEEN_ON_NETWORK, MINED, orphans with 200, and RFC 7807 errors with the ARC codes', async () => {
  const { key, address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([{ ...coin, key }], [{ satoshis: 9000, address }])
  let r = await net.post('/arc/v1/tx', { rawTx: tx.toHex() })
  assert.equal(r.status, 200)
  assert.equal(r.json.txStatus, 'SEEN_ON_NETWORK')
  assert.equal(r.json.txid, tx.id('hex'))
  assert.equal(r.json.title, 'OK')
  assert.equal(r.json.status, 200)
  for (const k of ['blockHash', 'blockHeight', 'extraInfo', 'merklePath', 'timestamp']) assert.ok(k in r.json, k)

  const rival = await signedTx([{ ...coin, key }], [{ satoshis: 8000, address }])
  r = await net.post('/arc/v1/tx', { rawTx: rival.toHex() })
  assert.equal(r.json.txStatus, 'DOUBLE_SPEND_ATTEMPTED')
  assert.deepEqual(r.json.competingTxs, [tx.id('hex')])

  const mined = (await net.post('/admin/mine', {})).json
  r = await net.post('/arc/v1/tx', { rawTx: tx.toHex() })
  assert.equal(r.json.txStatus, 'MINED')
  assert.equal(r.json.blockHash, mined.hash)

  r = await net.post('/arc/v1/tx', { rawTx: rival.toHex() })
  assert.equal(r.status, 200)
  assert.equal(r.json.txStatus, 'SEEN_IN_ORPHAN_MEMPOOL')
  assert.equal(r.json.txid, rival.id('hex'))
  assert.equal(net.dn.chain.getTx(rival.id('hex')), null)

  const next = { txid: tx.id('hex'), vout: 0, satoshis: 9000, script: coin.script, key }
  r = await net.post('/arc/v1/tx', { rawTx: (await signedTx([next], [{ satoshis: 9000, address }])).toHex() })
  assert.equal(r.status, 465)
  assert.equal(r.json.title, 'Fee too low')
  r = await net.post('/arc/v1/tx', { rawTx: 'zz' })
  assert.equal(r.status, 463)
})

test('own submission answers ok, and ok false with the reason; decoded transactions and the oracle listing follow', async () => {
  const oracle = net.dn.addresses.oracle_address
  const { key, address, coin } = await fundedKey(net, 20000)
  const pay = await signedTx([{ ...coin, key }], [{ satoshis: 1, address: oracle }, { satoshis: 0, script: dataScript('{"type":"arcade_score"}') }, { satoshis: 19000, address }])
  let r = await net.post('/oi/submit', { txhex: pay.toHex() }, svc)
  assert.deepEqual(r.json, { ok: true, txid: pay.id('hex') })
  r = await net.post('/oi/submit', { txhex: (await signedTx([{ ...coin, key }], [{ satoshis: 100, address }])).toHex() }, svc)
  assert.equal(r.status, 200)
  assert.deepEqual(r.json, { ok: false, error: '258: txn-mempool-conflict' })
  assert.equal((await net.post('/oi/submit', { nothing: true }, svc)).json.ok, false)

  const decoded = (await net.get('/oi/tx/' + pay.id('hex'), svc)).json
  assert.equal(decoded.vout[1].scriptPubKey.type, 'nulldata')
  assert.match(decoded.vout[1].scriptPubKey.asm, /^0 OP_RETURN [0-9a-f]+$/)
  assert.equal(decoded.vout[1].value, 0)
  assert.equal((await net.get('/oi/tx/' + '00'.repeat(32), svc)).status, 404)

  const second = await signedTx([{ txid: pay.id('hex'), vout: 2, satoshis: 19000, script: coin.script, key }], [{ satoshis: 1, address: oracle }, { satoshis: 18000, address }])
  assert.equal((await net.post('/oi/submit', { txhex: second.toHex() }, svc)).json.ok, true)
  const listing = (await net.get('/oi/oracle/arcade/txids?limit=2000&offset=0', svc)).json
  assert.deepEqual(listing.txids.slice(0, 2), [second.id('hex'), pay.id('hex')])
  assert.deepEqual((await net.get('/oi/oracle/arcade/txids?limit=1&offset=1', svc)).json.txids, [pay.id('hex')])
  assert.equal((await net.get('/oi/oracle/nobody/txids', svc)).status, 404)
})

test('GorillaPool lists inscriptions with their origin, follows them when they move, and serves their bytes', async () => {
  const owner = PrivateKey.fromRandom()
  const image = Buffer.concat([Buffer.from('89504e470d0a1a0a', 'hex'), Buffer.alloc(64, 7)])
  const r = await net.post('/admin/inscribe', { address: owner.toAddress(), content_type: 'image/png', base64: image.toString('base64') })
  assert.equal(r.status, 200)
  const { txid, origin } = r.json
  let txos = (await net.get('/gorillapool/api/txos/address/' + owner.toAddress() + '/unspent')).json
  assert.equal(txos.length, 1)
  assert.equal(txos[0].outpoint, origin)
  assert.equal(txos[0].satoshis, 1)
  assert.equal(txos[0].owner, owner.toAddress())
  assert.equal(txos[0].origin.outpoint, origin)
  assert.deepEqual(txos[0].origin.data.insc.file, { hash: txos[0].origin.data.insc.file.hash, size: image.length, type: 'image/png' })
  assert.match(txos[0].origin.data.insc.file.hash, /^[0-9a-f]{64}$/)

  const content = await net.get('/gorillapool/content/' + origin)
  assert.equal(content.status, 200)
  assert.equal(content.type, 'image/png')
  assert.deepEqual(content.bytes, image)
  assert.deepEqual((await net.get('/gorillapool/content/' + txid)).bytes, image)
  assert.equal((await net.get('/gorillapool/content/' + 'ef'.repeat(32) + '_0')).status, 404)
  assert.equal((await net.get('/gorillapool/content/..%2F..%2Fstate.json')).status, 404)

  // Moving the inscribed satoshi to another owner (with a funding input after it) keeps the origin.
  const { key, address, coin } = await fundedKey(net, 5000)
  const next = PrivateKey.fromRandom().toAddress()
  const insc = net.dn.chain.output(txid, 0)
  const move = await signedTx([{ txid, vout: 0, satoshis: 1, script: insc.script, key: owner }, { ...coin, key }],
    [{ satoshis: 1, address: next }, { satoshis: 4000, address }])
  assert.equal((await net.post(WOC + '/tx/raw', { txhex: move.toHex() })).status, 200)
  txos = (await net.get('/gorillapool/api/txos/address/' + next + '/unspent')).json
  assert.equal(txos[0].origin.outpoint, origin)
  assert.deepEqual(txos[0].data, {})
  assert.deepEqual((await net.get('/gorillapool/api/txos/address/' + owner.toAddress() + '/unspent')).json, [])
  const plain = (await net.get('/gorillapool/api/txos/address/' + address + '/unspent')).json
  assert.equal(plain.find((t) => t.txid === move.id('hex')).origin, null)
})

// GorillaPool lists outputs locked by a script under their owner's address, with data.lock;
// WhatsOnChain, which indexes the owner's P2PKH script, does not list them.
test('GorillaPool lists an output locked to an address with data.lock; WhatsOnChain does not', async () => {
  const owner = PrivateKey.fromRandom().toAddress()
  const locked = (await net.post('/admin/lock', { address: owner, satoshis: 50000, until: 900000 })).json
  const plain = (await net.post('/admin/fund', { address: owner, satoshis: 20000 })).json.txid
  const txos = (await net.get('/gorillapool/api/txos/address/' + owner + '/unspent')).json
  const lock = txos.find((t) => t.outpoint === locked.outpoint)
  assert.equal(lock.owner, owner)
  assert.equal(lock.satoshis, 50000)
  assert.equal(lock.origin, null)
  assert.deepEqual(lock.data, { lock: { address: owner, until: 900000 } })
  assert.deepEqual(txos.find((t) => t.txid === plain).data, {})
  const woc = (await net.get(WOC + '/address/' + owner + '/unspent/all')).json.result
  assert.deepEqual(woc.map((u) => u.tx_hash), [plain])
  assert.equal((await net.post('/admin/lock', { address: owner, satoshis: 5, until: 0 })).status, 400)
})

test('the download page carries the current build, which the admin can change', async () => {
  let page = await net.get('/download/ostakka')
  assert.equal(page.status, 200)
  assert.match(page.type, /^text\/html/)
  assert.match(page.text, /Current build: Version 0\.001</)
  assert.equal((await net.post('/admin/download-build', { build: 2 })).status, 200)
  page = await net.get('/download/ostakka')
  assert.match(page.text, /Current build: Version 0\.002</)
  assert.equal((await net.post('/admin/download-build', { build: -1 })).status, 400)
})

test('the certificate names the service host, localhost and 127.0.0.1', async () => {
  for (const servername of ['svc.orbweave.test', 'localhost', undefined]) {
    const r = await net.get('/api/bsvalias/id/hollin@orbweave.test', { servername })
    assert.equal(r.json.pubkey, net.dn.keys.architect_identity.toPublicKey().toString())
  }
  await assert.rejects(net.get('/admin/state', { servername: 'other.example' }), /altnames|Hostname/i)
})
