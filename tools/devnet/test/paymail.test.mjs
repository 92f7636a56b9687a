// Names are published only by a valid claim of the key that holds them, within the quota of
// that key's role; identity, quota and profile answers follow what the admin set.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { sharedDevnet, claimBody, svc } from './helpers.mjs'

const net = sharedDevnet()
const claim = (body) => net.post('/api/paymail/claim', body, svc)
const lookup = async (what, ref) => (await net.get('/api/' + what + '/' + ref, svc))
const profile = async (alias) => (await lookup('bsvalias/public-profile', alias + '@orbweave.test')).json
const quota = async (pubkey) => (await lookup('paymail/quota', pubkey)).json

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
  for (const body of [forged, borrowed]) {
    r = await claim(body)
    assert.deepEqual([r.status, r.json.success], [401, false], body.alias)
    assert.equal((await lookup('bsvalias/id', body.alias + '@orbweave.test')).status, 404)
  }
  // Claiming again with a new avatar updates the profile.
  assert.equal((await claim(claimBody(key, 'alice', { avatar: 'https://img.test/a.png' }))).status, 200)
  assert.deepEqual(await profile('alice'), { name: 'alice', avatar: 'https://img.test/a.png' })
})

test('a name held by another key is refused as taken; malformed claims are refused', async () => {
  const owner = PrivateKey.fromRandom()
  assert.equal((await claim(claimBody(owner, 'dora'))).status, 200)
  const r = await claim(claimBody(PrivateKey.fromRandom(), 'dora'))
  assert.deepEqual([r.status, r.json.error], [409, 'dora@orbweave.test is already taken'])
  assert.equal((await lookup('bsvalias/id', 'dora@orbweave.test')).json.pubkey, owner.toPublicKey().toString())
  for (const body of [claimBody(owner, 'Bad Name'), claimBody(owner, 'old', { ts: 1000 }), { alias: 'x' }]) {
    assert.equal((await claim(body)).status, 400, body.alias)
  }
  assert.equal((await net.request('POST', '/api/paymail/claim', undefined, { ...svc, raw: '{not json' })).status, 400)
})

test('the quota follows the role: 10 names by default, 20 for dev, no limit for the architect', async () => {
  const key = PrivateKey.fromRandom()
  const pubkey = key.toPublicKey().toString()
  for (let i = 0; i < 10; i++) assert.equal((await claim(claimBody(key, 'q' + i))).status, 200, 'q' + i)
  const r = await claim(claimBody(key, 'q10'))
  assert.deepEqual([r.status, r.json.error], [403, 'paymail quota reached (10 free labels per identity)'])
  assert.deepEqual(await quota(pubkey), { pubkey, role: 'default', quota: 10, used: 10, remaining: 0 })

  // A name already held is claimed again without counting twice.
  assert.equal((await claim(claimBody(key, 'q3'))).status, 200)
  for (const [role, most] of [['dev', 20], ['architect', null]]) {
    assert.equal((await net.post('/admin/role', { pubkey, role })).status, 200)
    assert.deepEqual([(await quota(pubkey)).role, (await quota(pubkey)).quota], [role, most])
  }
  assert.equal((await claim(claimBody(key, 'q10'))).status, 200)
  assert.equal((await net.post('/admin/role', { pubkey, role: 'king' })).status, 400)
  const hollin = (await lookup('bsvalias/id', 'hollin@orbweave.test')).json.pubkey
  assert.equal((await quota(hollin)).role, 'architect')
})

// Names are chosen by outsiders; the names of every object's built-in members must be plain
// names, never a way into the prototype.
test('names such as __proto__ and constructor are plain names', async () => {
  assert.equal((await lookup('bsvalias/id', 'constructor@orbweave.test')).status, 404)
  assert.equal((await lookup('bsvalias/public-profile', '__proto__@orbweave.test')).status, 404)
  assert.equal((await net.post('/admin/avatar', { alias: '__proto__', avatar: 'https://img.test/x.png' })).status, 404)
  assert.equal((await net.post('/admin/fault/woc-broadcast', { answer: 'constructor' })).status, 400)
  assert.equal((await net.get('/oi/oracle/constructor/txids', svc)).status, 404)

  const key = PrivateKey.fromRandom()
  for (const alias of ['__proto__', 'constructor', 'tostring']) {
    assert.equal((await claim(claimBody(key, alias))).status, 200, alias)
    assert.equal((await lookup('bsvalias/id', alias + '@orbweave.test')).json.pubkey, key.toPublicKey().toString())
  }
  assert.equal((await net.post('/admin/avatar', { alias: '__proto__', avatar: 'cd'.repeat(32) + '_1' })).status, 200)
  assert.equal((await profile('__proto__')).origin, 'cd'.repeat(32) + '_1')
  // A later claim with no avatar of its own still publishes none.
  assert.equal((await claim(claimBody(PrivateKey.fromRandom(), 'after-proto'))).status, 200)
  assert.deepEqual(await profile('after-proto'), { name: 'after-proto', avatar: '' })
  assert.equal((await quota(key.toPublicKey().toString())).used, 3)
})
