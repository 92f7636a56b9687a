// Everything that comes from outside is parsed without throwing: raw transactions, signatures,
// JSON bodies, paths. Randomised cases print their seed; set DEVNET_FUZZ_SEED to repeat one.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { PrivateKey } from '@bsv/sdk'
import { parseRawTx } from '../lib/txparse.js'
import { Chain } from '../lib/chain.js'
import { chunks, asm, dataPayload, parseInscription } from '../lib/script.js'
import { signMessage, verifyMessage } from '../lib/claims.js'
import { sharedDevnet, signedTx, WOC } from './helpers.mjs'

const seed = Number(process.env.DEVNET_FUZZ_SEED ?? Date.now() % 1e9)
let s = seed
const random = () => (s = (s * 1103515245 + 12345) % 2147483648) / 2147483648
const net = sharedDevnet()
const randomBytes = (max) => Buffer.from(Array.from({ length: Math.floor(random() * max) }, () => Math.floor(random() * 256)))

test('the raw transaction reader takes a real transaction apart exactly, and mutated ones never throw (seed ' + seed + ')', async () => {
  const key = PrivateKey.fromRandom()
  const sample = (await signedTx([{ txid: '11'.repeat(32), vout: 1, satoshis: 5000, script: '76a914' + '22'.repeat(20) + '88ac', key }],
    [{ satoshis: 4000, address: key.toAddress() }, { satoshis: 0, script: '006a0568656c6c6f' }])).toHex()
  const parsed = parseRawTx(sample)
  assert.deepEqual([parsed.ok, parsed.inputs[0].txid, parsed.inputs[0].vout, parsed.size], [true, '11'.repeat(32), 1, sample.length / 2])
  assert.deepEqual(parsed.outputs.map((o) => o.satoshis), [4000n, 0n])
  // Trailing and missing bytes, and input counts of 2^64-1 and 2^24 that must be refused before
  // any loop starts.
  for (const bad of [sample + '00', sample.slice(0, -2), '0', 42, '01000000ffffffffffffffffff00000000', '01000000fe0000010000000000']) {
    assert.equal(parseRawTx(bad).ok, false, String(bad).slice(0, 40))
  }
  const base = Buffer.from(sample, 'hex')
  const chain = new Chain()
  for (let i = 0; i < 1500; i++) {
    const buf = Buffer.from(base)
    for (let e = Math.floor(random() * 4); e >= 0; e--) buf[Math.floor(random() * buf.length)] = Math.floor(random() * 256)
    const cut = random() < 0.2 ? buf.subarray(0, Math.floor(random() * buf.length)) : buf
    const again = parseRawTx(cut.toString('hex'))
    if (again.ok) assert.equal(again.size, cut.length)
    const result = chain.submit(cut.toString('hex'))
    assert.deepEqual([result.ok, typeof result.text], [false, 'string']) // nothing here spends a known output
  }
  for (let i = 0; i < 500; i++) {
    const hex = randomBytes(300).toString('hex')
    for (const parse of [parseRawTx, asm, dataPayload, parseInscription]) parse(hex)
    assert.ok(Array.isArray(chunks(Buffer.from(hex, 'hex'))))
  }
})

// A signature is r and s, 32 bytes each, after an optional recovery header: any other length is
// refused even when the numbers it holds would verify.
test('signatures of any other length are refused and random ones never verify (seed ' + seed + ')', () => {
  const key = PrivateKey.fromRandom()
  const pub = key.toPublicKey().toString()
  const good = Buffer.from(signMessage('hello', key), 'base64')
  const cases = [[good, true], [Buffer.concat([Buffer.from([0x1f]), good]), true],
    [Buffer.concat([good.subarray(0, 32), Buffer.alloc(2), good.subarray(32)]), false], [Buffer.concat([Buffer.alloc(2), good]), false]]
  for (const [sig, ok] of cases) assert.equal(verifyMessage('hello', pub, sig.toString('base64')), ok, sig.length + ' bytes')
  for (let i = 0; i < 300; i++) {
    const sig = random() < 0.5 ? randomBytes(100) : Buffer.from(good).fill(Math.floor(random() * 256), Math.floor(random() * 64))
    if (!sig.equals(good)) assert.equal(verifyMessage('hello', pub, sig.toString('base64')), false, sig.toString('hex'))
  }
})

test('the server answers garbage bodies and odd paths with a client error, never a crash (seed ' + seed + ')', async () => {
  const bodies = ['', 'null', '[]', '"x"', '{', '{"txhex":5}', '{"rawTx":null}', '{"alias":{"a":1}}', '{"address":[],"satoshis":"1"}',
    '{"txhex":"' + 'ff'.repeat(1000) + '"}', '{"satoshis":1e400}', '\u0000\u0001', '{"__proto__":{"x":1}}']
  for (let i = 0; i < 15; i++) bodies.push(randomBytes(200).toString('latin1'))
  const posts = [WOC + '/tx/raw', '/arc/v1/tx', '/oi/submit', '/api/paymail/claim', '/admin/fund', '/admin/mine', '/admin/role',
    '/admin/freeze', '/admin/inscribe', '/admin/fault', '/admin/fault/arc', '/admin/download-build', '/admin/avatar']
  for (const path of posts) {
    for (const raw of bodies) {
      const r = await net.request('POST', path, undefined, { raw })
      assert.ok(r.status < 500, path + ' answered ' + r.status + ' to ' + JSON.stringify(raw))
    }
  }
  for (const path of ['/%', WOC + '/tx/%zz', '/api/bsvalias/id/%E0%A4%A', '/gorillapool/content/..%2f..%2fca-key.pem',
    '/oi/oracle/arcade/txids?limit=-5&offset=abc', WOC + '/address/' + 'x'.repeat(5000) + '/unspent', '/admin/../woc']) {
    const r = await net.get(path)
    assert.ok(r.status < 500, path + ' answered ' + r.status)
    assert.doesNotMatch(r.text, /BEGIN (EC )?PRIVATE KEY/)
  }
  const big = await net.request('POST', '/oi/submit', undefined, { raw: 'x'.repeat(9 * 1024 * 1024) }).catch(() => ({ status: 413 }))
  assert.equal(big.status, 413)
  assert.equal((await net.get('/admin/state')).status, 200)
})
