// A report built the way the game builds it (AES-256-CBC text, key wrapped by ECIES "BIE1" to
// the architect, signed claim) is read back in plain by the architect's listing.
import { test, before, after } from 'node:test'
import assert from 'node:assert/strict'
import { createCipheriv, randomBytes } from 'node:crypto'
import { readFileSync } from 'node:fs'
import { ECIES, PrivateKey, PublicKey } from '@bsv/sdk'
import { startDevnet, fundedKey, signedTx, dataScript, WOC } from './helpers.mjs'
import { signMessage } from '../lib/claims.js'

const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))

let net
before(async () => { net = await startDevnet() })
after(async () => { await net.close() })

function encryptPart (text, key) {
  const iv = randomBytes(16)
  const c = createCipheriv('aes-256-cbc', key, iv)
  return iv.toString('hex') + Buffer.concat([c.update(text, 'utf8'), c.final()]).toString('hex')
}

function buildReport (identity, encryption, handle, text) {
  const k = randomBytes(32)
  const wrap = (pub) => Buffer.from(ECIES.electrumEncrypt([...k], PublicKey.fromString(pub))).toString('hex')
  const p = {
    protocol: 'RQT-Wire', type: 'report', app: 'O-Stakka', handle, to_handle: 'hollin', location: 'arcade', game: 'stakka',
    ts: Math.floor(Date.now() / 1000),
    pmessage1: encryptPart(text, k), enc_v: 2, enc_pub: encryption.toPublicKey().toString(),
    wrap_to: wrap(config.architect_encryption_pubkey), wrap_me: wrap(encryption.toPublicKey().toString()),
    actor: handle, paymail: handle + '@orbweave.test', pubkey: identity.toPublicKey().toString()
  }
  assert.equal(p.wrap_to.length, 234)
  const message = 'OW1|report|arcade|' + handle + '|' + handle + '|' + p.ts + '|' + p.enc_pub
  p.sig = signMessage(message, identity)
  return p
}

async function sendReport (payload) {
  const { key, address, coin } = await fundedKey(net, 10000)
  const json = JSON.stringify(Object.fromEntries(Object.entries(payload).sort(([a], [b]) => (a < b ? -1 : 1))))
  const tx = await signedTx([{ ...coin, key }], [
    { satoshis: 1000, address: config.report_fee_address },
    { satoshis: 1, address: config.report_oracle_address },
    { satoshis: 0, script: dataScript(json) },
    { satoshis: 8000, address }])
  assert.equal((await net.post(WOC + '/tx/raw', { txhex: tx.toHex() })).status, 200)
  return tx.id('hex')
}

test('a signed, encrypted report is decrypted and verified; a forged one is shown as not verified', async () => {
  const identity = PrivateKey.fromRandom()
  const encryption = PrivateKey.fromRandom()
  const ts = Math.floor(Date.now() / 1000)
  const claimText = 'OW-PAYMAIL-CLAIM|fran|' + identity.toPublicKey().toString() + '|' + identity.toAddress() + '||' + ts
  const claimed = await net.post('/api/paymail/claim', {
    alias: 'fran', pubkey: identity.toPublicKey().toString(), address: identity.toAddress(), avatar: '', ts, sig: signMessage(claimText, identity)
  })
  assert.equal(claimed.status, 200)

  const text = 'The piece rotated through the wall at level 7. '.repeat(20)
  const good = await sendReport(buildReport(identity, encryption, 'fran', text))
  // Same report, but signed by a key the service does not publish for fran.
  const impostor = await sendReport(buildReport(PrivateKey.fromRandom(), encryption, 'fran', 'fake'))
  const tampered = buildReport(identity, encryption, 'fran', 'changed key')
  tampered.enc_pub = PrivateKey.fromRandom().toPublicKey().toString()
  const broken = await sendReport(tampered)

  const { reports } = (await net.get('/admin/reports')).json
  const byTx = Object.fromEntries(reports.map((r) => [r.txid, r]))
  assert.equal(byTx[good].text, text)
  assert.equal(byTx[good].verified, true)
  assert.equal(byTx[good].fee_paid, true)
  assert.equal(byTx[good].handle, 'fran')
  assert.equal(byTx[impostor].signature_ok, true)
  assert.equal(byTx[impostor].identity_ok, false)
  assert.equal(byTx[impostor].verified, false)
  assert.equal(byTx[broken].signature_ok, false)
  assert.equal(byTx[broken].text, 'changed key')
})

test('a report whose key was not wrapped to the architect is listed without text', async () => {
  const identity = PrivateKey.fromRandom()
  const encryption = PrivateKey.fromRandom()
  const p = buildReport(identity, encryption, 'gus', 'secret')
  p.wrap_to = p.wrap_me
  const txid = await sendReport(p)
  const item = (await net.get('/admin/reports')).json.reports.find((r) => r.txid === txid)
  assert.equal(item.text, null)
  assert.match(item.error, /could not decrypt/)
})
