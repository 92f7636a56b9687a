// Names are published only by a valid claim of the key that holds them, within the quota of
// that key's role; identity, quota and profile answers follow what the admin set.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { startDevnet } from './helpers.mjs'
import { signMessage } from '../lib/claims.js'
import { claimMessage } from '../lib/paymail.js'

let net
before(async () => { net = await startDevnet() })
after(async () => { await net.close() })

const svc = { servername: 'svc.orbweave.test' }

function claimBody (key, alias, extra = {}) {
  const body = {
    alias,
    pubkey: key.toPublicKey().toString(),
    address: key.toAddress(),
    avatar: '',
    ts: Math.floor(Date.now() / 1000),
    ...extra
  }
  const message = 'OW-PAYMAIL-CLAIM|' + body.alias + '|' + body.pubkey + '|' + body.address + '|' + body.avatar + '|' +
    (body.ordAddress ? body.ordAddress + '|' : '') + body.ts
  assert.equal(claimMessage(body), message)
  return { ...body, sig: signMessage(message, key) }
}

const claim = (body) => net.post('/api/paymail/claim', body, svc)

test('a signed claim publishes the key and the avatar; a bad signature publishes nothing', async () => {
  const key = PrivateKey.fromRandom()
  const origin = 'ab'.repeat(32) + '_0'
  const ordAddress = PrivateKey.fromRandom().toAddress()
  let r = await claim(claimBody(key, 'alice', { avatar: origin, ordAddress }))
  assert.equal(r.status, 200)
  assert.equal(r.json.success, true)
  const id = (await net.get('/api/bsvalias/id/alice@orbweave.test', svc)).json
  assert.deepEqual(id, { bsvalias: '1.0', handle: 'alice@orbweave.test', pubkey: key.toPublicKey().toString() })
  assert.deepEqual((await net.get('/api/bsvalias/public-profile/alice@orbweave.test', svc)).json, { name: 'alice', avatar: '', ord: origin, origin })
  assert.equal((await net.get('/api/bsvalias/id/alice@elsewhere.test', svc)).status, 404)

  const forged = claimBody(key, 'bob')
  forged.address = PrivateKey.fromRandom().toAddress() // signed text no longer matches
  r = await claim(forged)
  assert.equal(r.status, 401)
  assert.equal(r.json.success, false)
  const intruder = PrivateKey.fromRandom()
  r = await claim({ ...claimBody(intruder, 'carol'), pubkey: key.toPublicKey().toString() })
  assert.equal(r.status, 401)
  assert.equal((await net.get('/api/bsvalias/id/bob@orbweave.test', svc)).status, 404)
  assert.equal((await net.get('/api/bsvalias/id/carol@orbweave.test', svc)).status, 404)

  // Claiming again with a new avatar updates the profile.
  r = await claim(claimBody(key, 'alice', { avatar: 'https://img.test/a.png' }))
  assert.equal(r.status, 200)
  assert.deepEqual((await net.get('/api/bsvalias/public-profile/alice@orbweave.test', svc)).json, { name: 'alice', avatar: 'https://img.test/a.png' })
})

test('a name held by another key is refused as taken; malformed claims are refused', async () => {
  const owner = PrivateKey.fromRandom()
  assert.equal((await claim(claimBody(owner, 'dora'))).status, 200)
  const r = await claim(claimBody(PrivateKey.fromRandom(), 'dora'))
  assert.equal(r.status, 409)
  assert.equal(r.json.error, 'dora@orbweave.test is already taken')
  assert.equal((await net.get('/api/bsvalias/id/dora@orbweave.test', svc)).json.pubkey, owner.toPublicKey().toString())

  assert.equal((await claim(claimBody(owner, 'Bad Name'))).status, 400)
  assert.equal((await claim(claimBody(owner, 'old', { ts: 1000 }))).status, 400)
  assert.equal((await claim({ alias: 'x' })).status, 400)
  assert.equal((await net.request('POST', '/api/paymail/claim', undefined, { ...svc, raw: '{not json' })).status, 400)
})

test('the quota follows the role: 10 names by default, 20 for dev, no limit for the architect', async () => {
  const key = PrivateKey.fromRandom()
  const pubkey = key.toPublicKey().toString()
  for (let i = 0; i < 10; i++) assert.equal((await claim(claimBody(key, 'q' + i))).status, 200)
  let r = await claim(claimBody(key, 'q10'))
  assert.equal(r.status, 403)
  assert.equal(r.json.error, 'paymail quota reached (10 free labels per identity)')
  // Re-claiming a name already held does not count again.
  assert.equal((await claim(claimBody(key, 'q3'))).status, 200)
  assert.deepEqual((await net.get('/api/paymail/quota/' + pubkey, svc)).json, { pubkey, role: 'default', quota: 10, used: 10, remaining: 0 })

  assert.equal((await net.post('/admin/role', { pubkey, role: 'dev' })).status, 200)
  assert.equal((await net.get('/api/paymail/quota/' + pubkey, svc)).json.role, 'dev')
  for (let i = 10; i < 20; i++) assert.equal((await claim(claimBody(key, 'q' + i))).status, 200)
  r = await claim(claimBody(key, 'q20'))
  assert.equal(r.json.error, 'paymail quota reached (20 free labels per identity)')

  await net.post('/admin/role', { pubkey, role: 'architect' })
  assert.equal((await claim(claimBody(key, 'q20'))).status, 200)
  assert.equal((await net.get('/api/paymail/quota/' + pubkey, svc)).json.quota, null)
  assert.equal((await net.post('/admin/role', { pubkey, role: 'king' })).status, 400)
  await net.post('/admin/role', { pubkey, role: 'default' })
  assert.equal((await net.get('/api/paymail/quota/' + pubkey, svc)).json.role, 'default')
})

test('identities can be frozen with a note and unfrozen', async () => {
  const pubkey = PrivateKey.fromRandom().toPublicKey().toString()
  const path = '/api/paymail/identity/' + pubkey
  assert.deepEqual((await net.get(path, svc)).json, { pubkey, frozen: false, frozenNote: '' })
  await net.post('/admin/freeze', { pubkey, note: 'chargeback' })
  assert.deepEqual((await net.get(path, svc)).json, { pubkey, frozen: true, frozenNote: 'chargeback' })
  await net.post('/admin/unfreeze', { pubkey })
  assert.equal((await net.get(path, svc)).json.frozen, false)
  assert.equal((await net.get('/api/paymail/identity/nothex', svc)).status, 400)
})

test('the admin sets a profile avatar; the architect hollin is published from the start', async () => {
  const key = PrivateKey.fromRandom()
  await claim(claimBody(key, 'erin'))
  assert.equal((await net.post('/admin/avatar', { alias: 'erin', avatar: 'cd'.repeat(32) + '_1' })).status, 200)
  assert.equal((await net.get('/api/bsvalias/public-profile/erin@orbweave.test', svc)).json.origin, 'cd'.repeat(32) + '_1')
  assert.equal((await net.post('/admin/avatar', { alias: 'nobody', avatar: '' })).status, 404)
  const hollin = (await net.get('/api/bsvalias/id/hollin@orbweave.test', svc)).json.pubkey
  assert.equal((await net.get('/api/paymail/quota/' + hollin, svc)).json.role, 'architect')
})

// Names are chosen by outsiders; the ones that are also the names of every object's built-in
// members must be plain names, never a way into the prototype.
test('names such as __proto__ and constructor are plain names', async () => {
  assert.equal((await net.get('/api/bsvalias/id/constructor@orbweave.test', svc)).status, 404)
  assert.equal((await net.get('/api/bsvalias/public-profile/__proto__@orbweave.test', svc)).status, 404)
  assert.equal((await net.post('/admin/avatar', { alias: '__proto__', avatar: 'https://img.test/x.png' })).status, 404)
  assert.equal((await net.post('/admin/fault/woc-broadcast', { answer: 'constructor' })).json.error?.startsWith('answer must be'), true)
  assert.equal((await net.get('/oi/oracle/constructor/txids', svc)).status, 404)

  const key = PrivateKey.fromRandom()
  for (const alias of ['__proto__', 'constructor', 'tostring']) {
    assert.equal((await claim(claimBody(key, alias))).status, 200, alias)
    assert.equal((await net.get('/api/bsvalias/id/' + alias + '@orbweave.test', svc)).json.pubkey, key.toPublicKey().toString())
  }
  assert.equal((await net.post('/admin/avatar', { alias: '__proto__', avatar: 'https://img.test/p.png' })).status, 200)
  // A later claim with no avatar of its own still publishes none.
  const other = PrivateKey.fromRandom()
  assert.equal((await claim(claimBody(other, 'after-proto'))).status, 200)
  assert.deepEqual((await net.get('/api/bsvalias/public-profile/after-proto@orbweave.test', svc)).json, { name: 'after-proto', avatar: '' })
  assert.equal((await net.get('/api/paymail/quota/' + key.toPublicKey().toString(), svc)).json.used, 3)
})
