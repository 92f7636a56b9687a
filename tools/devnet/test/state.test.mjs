// What the devnet keeps: the keys the game's config names, and a chain and service records that
// survive a restart (faults do not) until reset.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { readFileSync, writeFileSync } from 'node:fs'
import { join } from 'node:path'
import { PrivateKey } from '@bsv/sdk'
import { startDevnet, fundedKey, signedTx } from './helpers.mjs'
import { Devnet } from '../lib/devnet.js'
import { configValues, isAddress } from '../lib/keys.js'

// Otherwise the game would pay addresses nobody holds.
test('config/devnet.json names exactly the six distinct addresses and key the devnet derives', () => {
  const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))
  const values = configValues()
  for (const [field, value] of Object.entries(values)) assert.equal(config[field], value, field)
  assert.equal(new Set(Object.values(values)).size, 6)
  // A published address, and the same with its checksum broken.
  assert.deepEqual([isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyT'), isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyU')], [true, false])
})

test('state survives a restart, faults are cleared, and reset returns to the genesis state', async () => {
  const first = await startDevnet()
  const { address, coin } = await fundedKey(first, 10000)
  await first.post('/admin/mine', {})
  assert.equal((await first.broadcast(await signedTx([coin], [{ satoshis: 9000, address }]))).status, 200)
  const pubkey = PrivateKey.fromRandom().toPublicKey().toString()
  await first.post('/admin/freeze', { pubkey, note: 'held' })
  await first.post('/admin/role', { pubkey, role: 'dev' })
  await first.post('/admin/download-build', { build: 7 })
  await first.post('/admin/fault', { route: '/', kind: 'status', status: 500, count: -1 })
  const before = (await first.get('/admin/state')).json
  await first.close({ keepState: true })

  const second = await startDevnet({ stateDir: first.stateDir })
  try {
    assert.deepEqual((await second.get('/admin/state')).json, { ...before, faults: 0 })
    assert.equal((await second.get('/api/paymail/identity/' + pubkey)).json.frozenNote, 'held')
    // The restored mempool still refuses a double spend.
    assert.match((await second.broadcast(await signedTx([coin], [{ satoshis: 8000, address }]))).text, /txn-mempool-conflict/)
    // A second devnet on a port in use fails its start instead of waiting.
    await assert.rejects(new Devnet({ port: second.dn.port, stateDir: second.stateDir, blockSeconds: 0 }).start(), /EADDRINUSE/)

    await second.post('/admin/reset', {})
    const reset = (await second.get('/admin/state')).json
    assert.deepEqual([reset.height, reset.transactions, reset.mempool, reset.frozen, reset.roles, reset.names, reset.build], [0, 1, 0, 0, 1, 1, 1])
  } finally {
    await second.close()
  }
})

// A state file that does not parse, or parses but is not a devnet state, would make every route
// answer 500 later: it must stop the start instead, naming what is wrong, and stay as it was.
test('a damaged or hostile state file stops the start with a clear message and is left as it is', async () => {
  const net = await startDevnet()
  await net.close({ keepState: true })
  const file = join(net.stateDir, 'state.json')
  const good = JSON.parse(readFileSync(file, 'utf8'))
  const cases = [
    ['{"chain": ', /unreadable/],
    [[], /not a JSON object/],
    [{ ...good, chain: { ...good.chain, blocks: [] } }, /genesis block is missing/],
    [{ ...good, chain: { ...good.chain, blocks: [{ ...good.chain.blocks[0], txids: ['00'.repeat(32)] }] } }, /does not hold/],
    [{ ...good, names: { hollin: null } }, /the name "hollin" is not an object/],
    [{ ...good, roles: { x: 'emperor' } }, /role of x/],
    [{ ...good, frozen: { x: 5 } }, /frozen note/],
    [{ ...good, build: 'seven' }, /"build"/]
  ]
  for (const [doc, reason] of cases) {
    const text = typeof doc === 'string' ? doc : JSON.stringify(doc)
    writeFileSync(file, text)
    const dn = new Devnet({ port: 0, stateDir: net.stateDir, blockSeconds: 0 })
    const failure = await dn.start().then(() => null, (e) => e)
    if (!failure) await dn.stop() // started after all: stop it, or the test never ends
    assert.match(failure?.message ?? 'started', /state file .* is unreadable/)
    assert.match(failure.message, reason)
    assert.equal(readFileSync(file, 'utf8'), text)
  }
})
