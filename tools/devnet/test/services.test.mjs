// ARC, the maker's service host, GorillaPool and the download page answer in the shapes their
// real counterparts use, and they all see the same chain.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { sharedDevnet, fundedKey, signedTx, dataScript, svc } from './helpers.mjs'

const net = sharedDevnet()
const arc = (tx) => net.post('/arc/v1/tx', { rawTx: typeof tx === 'string' ? tx : tx.toHex() })
const txos = async (address) => (await net.get('/gorillapool/api/txos/address/' + address + '/unspent')).json

// ARC answers 200 with a txStatus for what it holds, RFC 7807 errors otherwise. Inputs it cannot
// find, which is how an input already spent in a block looks to it, are no error: it keeps the
// transaction as an orphan waiting for parents that never come.
test('ARC answers SEEN_ON_NETWORK, DOUBLE_SPEND_ATTEMPTED, MINED and orphans with 200, and errors with the ARC codes', async () => {
  const { address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([coin], [{ satoshis: 9000, address }])
  let r = await arc(tx)
  assert.deepEqual([r.status, r.json.txStatus, r.json.txid, r.json.title, r.json.status], [200, 'SEEN_ON_NETWORK', tx.id('hex'), 'OK', 200])
  for (const k of ['blockHash', 'blockHeight', 'extraInfo', 'merklePath', 'timestamp']) assert.ok(k in r.json, k)
  const rival = await signedTx([coin], [{ satoshis: 8000, address }])
  r = await arc(rival)
  assert.deepEqual([r.json.txStatus, r.json.competingTxs], ['DOUBLE_SPEND_ATTEMPTED', [tx.id('hex')]])

  const block = (await net.post('/admin/mine', {})).json
  r = await arc(tx)
  assert.deepEqual([r.json.txStatus, r.json.blockHash], ['MINED', block.hash])
  r = await arc(rival)
  assert.deepEqual([r.status, r.json.txStatus, r.json.txid], [200, 'SEEN_IN_ORPHAN_MEMPOOL', rival.id('hex')])
  assert.equal(net.dn.chain.getTx(rival.id('hex')), null)

  r = await arc(await signedTx([{ ...coin, txid: tx.id('hex'), vout: 0, satoshis: 9000 }], [{ satoshis: 9000, address }]))
  assert.deepEqual([r.status, r.json.title], [465, 'Fee too low'])
  assert.equal((await arc('zz')).status, 463)
})

test('own submission answers ok or the reason; decoded transactions and the oracle listing follow', async () => {
  const oracle = net.dn.addresses.oracle_address
  const { address, coin } = await fundedKey(net, 20000)
  const pay = await signedTx([coin], [{ satoshis: 1, address: oracle }, { satoshis: 0, script: dataScript('{"type":"arcade_score"}') }, { satoshis: 19000, address }])
  const submit = async (body) => (await net.post('/oi/submit', body, svc)).json
  assert.deepEqual(await submit({ txhex: pay.toHex() }), { ok: true, txid: pay.id('hex') })
  assert.deepEqual(await submit({ txhex: (await signedTx([coin], [{ satoshis: 100, address }])).toHex() }), { ok: false, error: '258: txn-mempool-conflict' })
  assert.equal((await submit({ nothing: true })).ok, false)

  const data = (await net.get('/oi/tx/' + pay.id('hex'), svc)).json.vout[1]
  assert.deepEqual([data.value, data.scriptPubKey.type], [0, 'nulldata'])
  assert.match(data.scriptPubKey.asm, /^0 OP_RETURN [0-9a-f]+$/)
  assert.equal((await net.get('/oi/tx/' + '00'.repeat(32), svc)).status, 404)

  const second = await signedTx([{ ...coin, txid: pay.id('hex'), vout: 2, satoshis: 19000 }], [{ satoshis: 1, address: oracle }, { satoshis: 18000, address }])
  assert.equal((await submit({ txhex: second.toHex() })).ok, true)
  const listing = async (query) => (await net.get('/oi/oracle/arcade/txids?' + query, svc)).json.txids
  assert.deepEqual((await listing('limit=2000&offset=0')).slice(0, 2), [second.id('hex'), pay.id('hex')])
  assert.deepEqual(await listing('limit=1&offset=1'), [pay.id('hex')])
  assert.equal((await net.get('/oi/oracle/nobody/txids', svc)).status, 404)
})

test('GorillaPool lists inscriptions with their origin and follows them when they move', async () => {
  const owner = PrivateKey.fromRandom()
  const image = Buffer.concat([Buffer.from('89504e470d0a1a0a', 'hex'), Buffer.alloc(64, 7)])
  const { txid, origin } = (await net.post('/admin/inscribe', { address: owner.toAddress(), content_type: 'image/png', base64: image.toString('base64') })).json
  const [listed] = await txos(owner.toAddress())
  assert.deepEqual([listed.outpoint, listed.satoshis, listed.owner, listed.origin.outpoint], [origin, 1, owner.toAddress(), origin])
  const { hash, ...file } = listed.origin.data.insc.file
  assert.deepEqual(file, { size: image.length, type: 'image/png' })
  assert.match(hash, /^[0-9a-f]{64}$/)
  const content = await net.get('/gorillapool/content/' + txid)
  assert.deepEqual([content.status, content.type, content.bytes], [200, 'image/png', image])

  // The inscribed satoshi moves to a new owner, with a funding input after it: the origin stays.
  const { address, coin } = await fundedKey(net, 5000)
  const next = PrivateKey.fromRandom().toAddress()
  const move = await signedTx([{ txid, vout: 0, satoshis: 1, script: net.dn.chain.output(txid, 0).script, key: owner }, coin],
    [{ satoshis: 1, address: next }, { satoshis: 4000, address }])
  assert.equal((await net.broadcast(move)).status, 200)
  const [moved] = await txos(next)
  assert.deepEqual([moved.origin.outpoint, moved.data], [origin, {}])
  assert.deepEqual(await txos(owner.toAddress()), [])
  assert.equal((await txos(address)).find((t) => t.txid === move.id('hex')).origin, null)
})

// GorillaPool lists outputs locked by a script under their owner's address, with data.lock;
// WhatsOnChain, which indexes the owner's P2PKH script, does not list them.
test('GorillaPool lists an output locked to an address with data.lock; WhatsOnChain does not', async () => {
  const owner = PrivateKey.fromRandom().toAddress()
  const locked = (await net.post('/admin/lock', { address: owner, satoshis: 50000, until: 900000 })).json
  const plain = (await net.post('/admin/fund', { address: owner, satoshis: 20000 })).json.txid
  const listed = await txos(owner)
  const lock = listed.find((t) => t.outpoint === locked.outpoint)
  assert.deepEqual([lock.owner, lock.satoshis, lock.origin, lock.data], [owner, 50000, null, { lock: { address: owner, until: 900000 } }])
  assert.deepEqual(listed.find((t) => t.txid === plain).data, {})
  const woc = (await net.get('/woc/v1/bsv/main/address/' + owner + '/unspent/all')).json.result
  assert.deepEqual(woc.map((u) => u.tx_hash), [plain])
})
