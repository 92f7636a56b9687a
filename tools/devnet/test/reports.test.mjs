// A report built the way the game builds it (AES-256-CBC text, key wrapped by ECIES "BIE1" to
// the architect, signed claim) is read back in plain by the architect's listing.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { createCipheriv, randomBytes } from 'node:crypto'
import { readFileSync } from 'node:fs'
import { ECIES, PrivateKey, PublicKey } from '@bsv/sdk'
import { sharedDevnet, fundedKey, signedTx, dataScript, claimBody } from './helpers.mjs'
import { signMessage } from '../lib/claims.js'

const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))
const net = sharedDevnet()

function buildReport (identity, encryption, handle, text) {
  const k = randomBytes(32)
  const iv = randomBytes(16)
  const cipher = createCipheriv('aes-256-cbc', k, iv)
  const wrap = (pub) => Buffer.from(ECIES.electrumEncrypt([...k], PublicKey.fromString(pub))).toString('hex')
  const p = {
    protocol: 'RQT-Wire', type: 'report', app: 'O-Stakka', handle, to_handle: 'hollin', location: 'arcade', game: 'stakka',
    ts: Math.floor(Date.now() / 1000),
    pmessage1: iv.toString('hex') + Buffer.concat([cipher.update(text, 'utf8'), cipher.final()]).toString('hex'),
    enc_v: 2, enc_pub: encryption.toPublicKey().toString(),
    wrap_to: wrap(config.architect_encryption_pubkey), wrap_me: wrap(encryption.toPublicKey().toString()),
    actor: handle, paymail: handle + '@orbweave.test', pubkey: identity.toPublicKey().toString()
  }
  p.sig = signMessage('OW1|report|arcade|' + handle + '|' + handle + '|' + p.ts + '|' + p.enc_pub, identity)
  return p
}

// Pays the report fee and the report oracle, with the payload's keys sorted as the game writes them.
async function sendReport (payload) {
  const { address, coin } = await fundedKey(net, 10000)
  const json = JSON.stringify(Object.fromEntries(Object.entries(payload).sort(([a], [b]) => (a < b ? -1 : 1))))
  const tx = await signedTx([coin], [{ satoshis: 1000, address: config.report_fee_address }, { satoshis: 1, address: config.report_oracle_address },
    { satoshis: 0, script: dataScript(json) }, { satoshis: 8000, address }])
  assert.equal((await net.broadcast(tx)).status, 200)
  return tx.id('hex')
}

test('a signed, encrypted report is decrypted and verified; forged or unreadable ones are shown as such', async () => {
  const identity = PrivateKey.fromRandom()
  const encryption = PrivateKey.fromRandom()
  assert.equal((await net.post('/api/paymail/claim', claimBody(identity, 'fran'))).status, 200)
  const text = 'The piece rotated through the wall at level 7. '.repeat(20)
  const good = await sendReport(buildReport(identity, encryption, 'fran', text))
  // Signed by a key the service does not publish for fran.
  const impostor = await sendReport(buildReport(PrivateKey.fromRandom(), encryption, 'fran', 'fake'))
  const tampered = buildReport(identity, encryption, 'fran', 'changed key')
  tampered.enc_pub = PrivateKey.fromRandom().toPublicKey().toString()
  const broken = await sendReport(tampered)
  const unwrapped = buildReport(identity, encryption, 'fran', 'secret')
  unwrapped.wrap_to = unwrapped.wrap_me
  const sealed = await sendReport(unwrapped)

  const byTx = Object.fromEntries((await net.get('/admin/reports')).json.reports.map((r) => [r.txid, r]))
  const seen = (txid) => [byTx[txid].text, byTx[txid].signature_ok, byTx[txid].identity_ok, byTx[txid].verified]
  assert.deepEqual(seen(good), [text, true, true, true])
  assert.deepEqual(seen(impostor), ['fake', true, false, false])
  assert.deepEqual(seen(broken), ['changed key', false, true, false])
  assert.equal(byTx[sealed].text, null)
  assert.match(byTx[sealed].error, /could not decrypt/)
})
