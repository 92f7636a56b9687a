// The chain must accept what the network accepts and refuse, with the node's own words, what
// the network refuses: the game's payment retries depend on those texts.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { sharedDevnet, fundedKey, signedTx, WOC } from './helpers.mjs'
import { p2pkhScript } from '../lib/script.js'

const net = sharedDevnet()
const read = async (address, what) => (await net.get(WOC + '/address/' + address + '/' + what)).json
const mine = async () => (await net.post('/admin/mine', {})).json

test('a payment and its unconfirmed child are indexed as unconfirmed, then as confirmed after a block', async () => {
  const { address, coin } = await fundedKey(net, 50000)
  const dest = PrivateKey.fromRandom().toAddress()
  const tx = await signedTx([coin], [{ satoshis: 20000, address: dest }, { satoshis: 29000, address }])
  const txid = tx.id('hex')
  const r = await net.broadcast(tx)
  assert.deepEqual([r.status, r.text], [200, txid])
  const child = await signedTx([{ ...coin, txid, vout: 1, satoshis: 29000 }], [{ satoshis: 28000, address }])
  assert.equal((await net.broadcast(child)).status, 200)

  assert.deepEqual((await read(dest, 'unspent/all')).result, [{ tx_pos: 0, tx_hash: txid, value: 20000, isSpentInMempoolTx: false, status: 'unconfirmed', hex: p2pkhScript(dest) }])
  assert.deepEqual(await read(dest, 'unspent'), [])
  assert.equal((await read(address, 'unspent/all')).result.find((u) => u.tx_hash === coin.txid).isSpentInMempoolTx, true)
  const { vin, vout } = (await net.get(WOC + '/tx/' + txid)).json
  assert.deepEqual([vin[0].txid, vin[0].vout, vout[0].value, vout[0].scriptPubKey.hex], [coin.txid, coin.vout, 0.0002, p2pkhScript(dest)])

  const block = await mine()
  assert.deepEqual(block.txids.slice(-2), [txid, child.id('hex')])
  const confirmed = { height: block.height, tx_pos: 0, tx_hash: txid, value: 20000 }
  const item = { ...confirmed, isSpentInMempoolTx: false, status: 'confirmed' }
  for (const what of ['unspent/all', 'confirmed/unspent']) assert.deepEqual((await read(dest, what)).result, [item], what)
  assert.deepEqual(await read(dest, 'unspent'), [confirmed])
  assert.deepEqual((await read(dest, 'confirmed/history')).result, [{ tx_hash: txid, height: block.height }])
  assert.equal((await net.get(WOC + '/tx/' + txid + '/hex')).text, tx.toHex())
})

test('refusals carry the node texts', async () => {
  const { address, coin } = await fundedKey(net, 10000)
  const pay = (satoshis, from = coin) => signedTx([from], [{ satoshis, address }])
  const good = await pay(9000)
  const rival = await pay(8000)
  const cases = [
    ['wrong key', await pay(9000, { ...coin, key: PrivateKey.fromRandom() }), '16: mandatory-script-verify-flag-failed (Script failed an OP_EQUALVERIFY operation)'],
    ['amount changed after signing', good.toHex().replace('28230000', '29230000'), '16: mandatory-script-verify-flag-failed (Script evaluated without error but finished with a false/empty top stack element)'],
    ['overspend', await pay(10001), '16: bad-txns-in-belowout'],
    ['no fee', await pay(10000), '66: mempool min fee not met'],
    ['dust', await signedTx([coin], [{ satoshis: 0, address }, { satoshis: 9000, address }]), '64: dust'],
    ['trailing byte', good.toHex() + '00', 'TX decode failed'],
    ['first spend', good, null],
    ['same again', good, '257: txn-already-known'],
    ['double spend', rival, '258: txn-mempool-conflict'],
    ['unknown input', await pay(4000, { ...coin, txid: 'ab'.repeat(32) }), 'Missing inputs']
  ]
  const answer = (text) => (text ? [400, 'unexpected response code 500: ' + text] : [200, good.id('hex')])
  for (const [name, tx, text] of cases) assert.deepEqual(await net.broadcast(tx).then((r) => [r.status, r.text]), answer(text), name)
  // Once the first spend is in a block, a rival spend of the same output is simply missing.
  await mine()
  assert.deepEqual(await net.broadcast(rival).then((r) => [r.status, r.text]), answer('Missing inputs'))
})

// WhatsOnChain answers 404 for an unknown txid and for an address with no history; clients read
// that as empty.
test('unknown transactions and addresses without history answer 404, bad addresses 400', async () => {
  const fresh = PrivateKey.fromRandom().toAddress()
  const paths = ['/tx/' + 'cd'.repeat(32), '/tx/' + 'cd'.repeat(32) + '/hex', '/tx/' + 'cd'.repeat(32) + '/decoded',
    ...['unspent/all', 'unspent', 'confirmed/unspent', 'confirmed/history'].map((what) => '/address/' + fresh + '/' + what)]
  for (const path of paths) assert.equal((await net.get(WOC + path)).status, 404, path)
  assert.equal((await net.get(WOC + '/address/1BadAddress/unspent')).status, 400)
})

// "Get Unspent UTXOs by Address": confirmed outputs come 1000 to a page with a next-page token;
// unconfirmed ones all come on the first page.
test('unspent/all pages confirmed outputs after 1000 with a next page token', async () => {
  const owner = PrivateKey.fromRandom().toAddress()
  assert.equal((await net.post('/admin/fund', { address: owner, satoshis: 3, count: 1200 })).status, 200)
  await mine()
  const pending = (await net.post('/admin/fund', { address: owner, satoshis: 7 })).json.txid
  const first = await read(owner, 'unspent/all')
  assert.equal(first.result.filter((u) => u.status === 'confirmed').length, 1000)
  assert.deepEqual(first.result.filter((u) => u.status === 'unconfirmed').map((u) => u.tx_hash), [pending])
  const second = await read(owner, 'unspent/all?token=' + first.nextPageToken)
  assert.deepEqual([second.result.length, second.nextPageToken], [200, undefined])
  assert.equal(new Set([...first.result, ...second.result].map((u) => u.tx_hash + ':' + u.tx_pos)).size, 1201)
})

