// ARC, GorillaPool and the maker's service host (submission, paymail names, reports) answer in
// the shapes their real counterparts use, and they all see the same chain.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { createCipheriv, createHash, randomBytes } from 'node:crypto'
import { readFileSync } from 'node:fs'
import { ECIES, PrivateKey, PublicKey } from '@bsv/sdk'
import { sharedDevnet, fundedKey, signedTx, dataScript, claimBody, svc } from './helpers.mjs'
import { signMessage } from '../lib/claims.js'

const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))
const net = sharedDevnet()
const arc = (tx) => net.post('/arc/v1/tx', { rawTx: typeof tx === 'string' ? tx : tx.toHex() })
const claim = (body) => net.post('/api/paymail/claim', body, svc)
const lookup = (what, ref) => net.get('/api/' + what + '/' + ref, svc)
const profile = async (alias) => (await lookup('bsvalias/public-profile', alias + '@orbweave.test')).json

// ARC answers 200 with a txStatus for what it holds, RFC 7807 errors otherwise. Inputs it cannot
// find, which is how an input already spent in a block looks to it, are no error: it keeps the
// transaction as an orphan waiting for parents that never come.
test('ARC answers SEEN_ON_NETWORK, DOUBLE_SPEND_ATTEMPTED and orphans with 200, and errors with the ARC codes', async () => {
  const { address, coin } = await fundedKey(net, 10000)
  const tx = await signedTx([coin], [{ satoshis: 9000, address }])
  let r = await arc(tx)
  assert.deepEqual([r.status, r.json.txStatus, r.json.txid, r.json.title, r.json.status], [200, 'SEEN_ON_NETWORK', tx.id('hex'), 'OK', 200])
  const rival = await signedTx([coin], [{ satoshis: 8000, address }])
  r = await arc(rival)
  assert.deepEqual([r.json.txStatus, r.json.competingTxs], ['DOUBLE_SPEND_ATTEMPTED', [tx.id('hex')]])

  await net.post('/admin/mine', {})
  r = await arc(rival)
  assert.deepEqual([r.status, r.json.txStatus, r.json.txid], [200, 'SEEN_IN_ORPHAN_MEMPOOL', rival.id('hex')])
  assert.equal(net.dn.chain.getTx(rival.id('hex')), null)

  r = await arc(await signedTx([{ ...coin, txid: tx.id('hex'), vout: 0, satoshis: 9000 }], [{ satoshis: 9000, address }]))
  assert.deepEqual([r.status, r.json.title], [465, 'Fee too low'])
  assert.equal((await arc('zz')).status, 463)
})

test('own submission answers ok or the reason, and the oracle listing follows', async () => {
  const { address, coin } = await fundedKey(net, 20000)
  const pay = await signedTx([coin], [{ satoshis: 1, address: config.oracle_address }, { satoshis: 0, script: dataScript('{"type":"arcade_score"}') }, { satoshis: 19000, address }])
  const submit = async (body) => (await net.post('/oi/submit', body, svc)).json
  assert.deepEqual(await submit({ txhex: pay.toHex() }), { ok: true, txid: pay.id('hex') })
  assert.deepEqual(await submit({ txhex: pay.toHex() }), { ok: true, txid: pay.id('hex'), known: true }) // sent again: no failure
  assert.deepEqual(await submit({ txhex: (await signedTx([coin], [{ satoshis: 100, address }])).toHex() }), { ok: false, error: '258: txn-mempool-conflict' })
  assert.equal((await submit({ nothing: true })).ok, false)
  assert.deepEqual((await net.get('/oi/oracle/arcade/txids?limit=1&offset=0', svc)).json.txids, [pay.id('hex')])
})

// GorillaPool lists outputs locked by a script under their owner's address, with data.lock;
// WhatsOnChain, which indexes the owner's P2PKH script, does not list them.
test('GorillaPool lists an inscription with its origin and file, and a locked output with data.lock', async () => {
  const owner = PrivateKey.fromRandom().toAddress()
  const image = Buffer.concat([Buffer.from('89504e470d0a1a0a', 'hex'), Buffer.alloc(64, 7)])
  const { origin } = (await net.post('/admin/inscribe', { address: owner, content_type: 'image/png', base64: image.toString('base64') })).json
  const locked = (await net.post('/admin/lock', { address: owner, satoshis: 50000, until: 900000 })).json
  const plain = (await net.post('/admin/fund', { address: owner, satoshis: 20000 })).json.txid
  const listed = (await net.get('/gorillapool/api/txos/address/' + owner + '/unspent')).json
  const insc = listed.find((t) => t.outpoint === origin)
  assert.deepEqual([insc.satoshis, insc.owner, insc.origin.outpoint], [1, owner, origin])
  assert.deepEqual(insc.origin.data.insc.file, { hash: createHash('sha256').update(image).digest('hex'), size: image.length, type: 'image/png' })
  const lock = listed.find((t) => t.outpoint === locked.outpoint)
  assert.deepEqual([lock.owner, lock.satoshis, lock.origin, lock.data], [owner, 50000, null, { lock: { address: owner, until: 900000 } }])
  const woc = (await net.get('/woc/v1/bsv/main/address/' + owner + '/unspent/all')).json.result
  assert.deepEqual(woc.filter((u) => u.value > 1).map((u) => u.tx_hash), [plain])
})

test('a signed claim publishes the key and the avatar; a claim that does not verify publishes nothing', async () => {
  const key = PrivateKey.fromRandom()
  const origin = 'ab'.repeat(32) + '_0'
  let r = await claim(claimBody(key, 'alice', { avatar: origin, ordAddress: PrivateKey.fromRandom().toAddress() }))
  assert.deepEqual([r.status, r.json.success], [200, true])
  assert.deepEqual((await lookup('bsvalias/id', 'alice@orbweave.test')).json, { bsvalias: '1.0', handle: 'alice@orbweave.test', pubkey: key.toPublicKey().toString() })
  assert.deepEqual(await profile('alice'), { name: 'alice', avatar: '', ord: origin, origin })
  assert.equal((await lookup('bsvalias/id', 'alice@elsewhere.test')).status, 404)

  const forged = { ...claimBody(key, 'bob'), address: PrivateKey.fromRandom().toAddress() }
  const borrowed = { ...claimBody(PrivateKey.fromRandom(), 'carol'), pubkey: key.toPublicKey().toString() }
  for (const body of [forged, borrowed]) assert.deepEqual(await claim(body).then((r) => [r.status, r.json.success]), [401, false], body.alias)
  // The holder claims again with a new avatar; another key is refused the name as taken.
  assert.equal((await claim(claimBody(key, 'alice', { avatar: 'https://img.test/a.png' }))).status, 200)
  assert.deepEqual(await profile('alice'), { name: 'alice', avatar: 'https://img.test/a.png' })
  r = await claim(claimBody(PrivateKey.fromRandom(), 'alice'))
  assert.deepEqual([r.status, r.json.error], [409, 'alice@orbweave.test is already taken'])
  for (const body of [claimBody(key, 'Bad Name'), claimBody(key, 'old', { ts: 1000 }), { alias: 'x' }]) assert.equal((await claim(body)).status, 400, body.alias)
})

test('the quota follows the role: 10 names by default, no limit for the architect', async () => {
  const key = PrivateKey.fromRandom()
  const pubkey = key.toPublicKey().toString()
  for (let i = 0; i < 10; i++) assert.equal((await claim(claimBody(key, 'q' + i))).status, 200, 'q' + i)
  const r = await claim(claimBody(key, 'q10'))
  assert.deepEqual([r.status, r.json.error], [403, 'paymail quota reached (10 free labels per identity)'])
  assert.deepEqual((await lookup('paymail/quota', pubkey)).json, { pubkey, role: 'default', quota: 10, used: 10, remaining: 0 })
  // A name already held is claimed again without counting twice.
  assert.equal((await claim(claimBody(key, 'q3'))).status, 200)
  assert.equal((await net.post('/admin/role', { pubkey, role: 'architect' })).status, 200)
  assert.equal((await claim(claimBody(key, 'q10'))).status, 200)
})

// A report built the way the game builds it: AES-256-CBC text, its key wrapped by ECIES "BIE1"
// to the architect and to the sender, a signed claim naming the sender's encryption key.
function buildReport (identity, text, change = () => ({})) {
  const k = randomBytes(32)
  const iv = randomBytes(16)
  const cipher = createCipheriv('aes-256-cbc', k, iv)
  const wrap = (pub) => Buffer.from(ECIES.electrumEncrypt([...k], PublicKey.fromString(pub))).toString('hex')
  const encPub = PrivateKey.fromRandom().toPublicKey().toString()
  const p = {
    protocol: 'RQT-Wire', type: 'report', app: 'O-Stakka', handle: 'fran', to_handle: 'hollin', location: 'arcade', game: 'stakka',
    ts: Math.floor(Date.now() / 1000), enc_v: 2, enc_pub: encPub, wrap_to: wrap(config.architect_encryption_pubkey), wrap_me: wrap(encPub),
    pmessage1: iv.toString('hex') + Buffer.concat([cipher.update(text, 'utf8'), cipher.final()]).toString('hex'),
    actor: 'fran', paymail: 'fran@orbweave.test', pubkey: identity.toPublicKey().toString()
  }
  p.sig = signMessage('OW1|report|arcade|fran|fran|' + p.ts + '|' + p.enc_pub, identity)
  return { ...p, ...change(p) }
}

test('the architect reads reports in plain and sees which ones are signed by the sender', async () => {
  const identity = PrivateKey.fromRandom()
  assert.equal((await claim(claimBody(identity, 'fran'))).status, 200)
  const text = 'The piece rotated through the wall at level 7. '.repeat(20)
  const reports = {
    good: [buildReport(identity, text), [text, true, true, true]],
    impostor: [buildReport(PrivateKey.fromRandom(), 'fake'), ['fake', true, false, false]],
    tampered: [buildReport(identity, 'changed key', () => ({ enc_pub: PrivateKey.fromRandom().toPublicKey().toString() })), ['changed key', false, true, false]],
    sealed: [buildReport(identity, 'secret', (p) => ({ wrap_to: p.wrap_me })), [null, true, true, true]]
  }
  const sent = {}
  for (const [name, [payload]] of Object.entries(reports)) {
    const { address, coin } = await fundedKey(net, 10000)
    const tx = await signedTx([coin], [{ satoshis: 1000, address: config.report_fee_address }, { satoshis: 1, address: config.report_oracle_address },
      { satoshis: 0, script: dataScript(JSON.stringify(payload)) }, { satoshis: 8000, address }])
    assert.equal((await net.broadcast(tx)).status, 200)
    sent[tx.id('hex')] = name
  }
  const listed = (await net.get('/admin/reports')).json.reports.filter((r) => sent[r.txid])
  assert.equal(listed.length, 4)
  for (const r of listed) assert.deepEqual([r.text, r.signature_ok, r.identity_ok, r.verified], reports[sent[r.txid]][1], sent[r.txid])
  assert.match(listed.find((r) => sent[r.txid] === 'sealed').error, /could not decrypt/)
})
