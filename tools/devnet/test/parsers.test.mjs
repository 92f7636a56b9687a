// Everything that comes from outside is parsed without throwing: raw transactions, JSON bodies,
// paths. Randomised cases print their seed; set DEVNET_FUZZ_SEED to repeat one.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { parseRawTx } from '../lib/txparse.js'
import { Chain } from '../lib/chain.js'
import { chunks, asm, dataPayload, parseInscription } from '../lib/script.js'
import { startDevnet, signedTx, WOC } from './helpers.mjs'

const seed = Number(process.env.DEVNET_FUZZ_SEED ?? Date.now() % 1e9)
function rng (s) {
  return () => {
    s = (s * 1103515245 + 12345) % 2147483648
    return s / 2147483648
  }
}

let sample
before(async () => {
  const key = PrivateKey.fromRandom()
  sample = await signedTx([{ txid: '11'.repeat(32), vout: 1, satoshis: 5000, script: '76a914' + '22'.repeat(20) + '88ac', key }],
    [{ satoshis: 4000, address: key.toAddress() }, { satoshis: 0, script: '006a0568656c6c6f' }])
})

test('the raw transaction reader takes a real transaction apart exactly', () => {
  const parsed = parseRawTx(sample.toHex())
  assert.equal(parsed.ok, true)
  assert.equal(parsed.inputs[0].txid, '11'.repeat(32))
  assert.equal(parsed.inputs[0].vout, 1)
  assert.deepEqual(parsed.outputs.map((o) => o.satoshis), [4000n, 0n])
  assert.equal(parsed.size, sample.toHex().length / 2)
  assert.equal(parseRawTx(sample.toHex() + '00').ok, false)
  assert.equal(parseRawTx(sample.toHex().slice(0, -2)).ok, false)
  assert.equal(parseRawTx('0').ok, false)
  assert.equal(parseRawTx(42).ok, false)
  // A count of 2^64-1 inputs must be refused before any loop starts.
  assert.equal(parseRawTx('01000000ffffffffffffffffff00000000').ok, false)
  assert.equal(parseRawTx('01000000fe0000010000000000').ok, false)
})

test('mutated and random transactions never throw, and whatever parses re-serialises to itself (seed ' + seed + ')', () => {
  const next = rng(seed)
  const base = Buffer.from(sample.toHex(), 'hex')
  const chain = new Chain()
  for (let i = 0; i < 1500; i++) {
    const buf = Buffer.from(base)
    const edits = 1 + Math.floor(next() * 4)
    for (let e = 0; e < edits; e++) buf[Math.floor(next() * buf.length)] = Math.floor(next() * 256)
    const cut = next() < 0.2 ? buf.subarray(0, Math.floor(next() * buf.length)) : buf
    const hex = cut.toString('hex')
    const parsed = parseRawTx(hex)
    if (parsed.ok) assert.equal(parsed.size, cut.length)
    const result = chain.submit(hex)
    assert.equal(result.ok, false) // nothing here spends a known output
    assert.equal(typeof result.text, 'string')
  }
  for (let i = 0; i < 500; i++) {
    const bytes = Buffer.from(Array.from({ length: Math.floor(next() * 300) }, () => Math.floor(next() * 256)))
    parseRawTx(bytes.toString('hex'))
    const c = chunks(bytes)
    assert.ok(Array.isArray(c))
    asm(bytes.toString('hex'), true)
    dataPayload(bytes.toString('hex'))
    parseInscription(bytes.toString('hex'))
  }
})

test('the server answers garbage bodies and odd paths with a client error, never a crash (seed ' + seed + ')', async () => {
  const net = await startDevnet()
  try {
    const next = rng(seed)
    const bodies = ['', 'null', '[]', '"x"', '{', '{"txhex":5}', '{"rawTx":null}', '{"alias":{"a":1}}', '{"address":[],"satoshis":"1"}',
      '{"txhex":"' + 'ff'.repeat(1000) + '"}', '{"satoshis":1e400}', '\u0000\u0001', '{"__proto__":{"x":1}}']
    for (let i = 0; i < 40; i++) bodies.push(Buffer.from(Array.from({ length: Math.floor(next() * 200) }, () => Math.floor(next() * 256))).toString('latin1'))
    const posts = [WOC + '/tx/raw', '/arc/v1/tx', '/oi/submit', '/api/paymail/claim', '/admin/fund', '/admin/mine', '/admin/role',
      '/admin/freeze', '/admin/inscribe', '/admin/fault', '/admin/fault/arc', '/admin/download-build', '/admin/avatar']
    for (const path of posts) {
      for (const raw of bodies) {
        const r = await net.request('POST', path, undefined, { raw })
        assert.ok(r.status < 500, path + ' answered ' + r.status + ' to ' + JSON.stringify(raw))
      }
    }
    for (const path of ['/%', '/woc/v1/bsv/main/tx/%zz', '/api/bsvalias/id/%E0%A4%A', '/gorillapool/content/..%2f..%2fca-key.pem',
      '/oi/oracle/arcade/txids?limit=-5&offset=abc', WOC + '/address/' + 'x'.repeat(5000) + '/unspent', '/admin/../woc']) {
      const r = await net.get(path)
      assert.ok(r.status < 500, path + ' answered ' + r.status)
      assert.doesNotMatch(r.text, /BEGIN (EC )?PRIVATE KEY/)
    }
    const big = await net.request('POST', '/oi/submit', undefined, { raw: 'x'.repeat(9 * 1024 * 1024) }).catch((e) => ({ status: 413, e }))
    assert.equal(big.status, 413)
    assert.equal((await net.get('/admin/state')).status, 200)
  } finally {
    await net.close()
  }
})
