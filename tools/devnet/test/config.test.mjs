// config/devnet.json must name exactly the addresses and the architect key the devnet derives
// from its seed, or the game would pay addresses nobody holds.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { readFileSync } from 'node:fs'
import { Hash, PrivateKey, Utils } from '@bsv/sdk'
import { configValues, DEVNET_SEED, isAddress } from '../lib/keys.js'

const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))

test('config/devnet.json matches the derived addresses and architect key', () => {
  const values = configValues()
  for (const [field, value] of Object.entries(values)) assert.equal(config[field], value, field)
  for (const field of ['house_address', 'pot_address', 'oracle_address', 'report_fee_address', 'report_oracle_address']) {
    assert.ok(isAddress(config[field]), field)
  }
  assert.equal(new Set(Object.values(values)).size, 6)
  assert.equal(config.devnet_port, 47823)
  assert.equal(config.service_host, 'svc.orbweave.test')
})

test('a role key is SHA-256 of the seed text and the role name', () => {
  const pot = PrivateKey.fromHex(Utils.toHex(Hash.sha256(Utils.toArray(DEVNET_SEED + '/pot', 'utf8'))))
  assert.equal(pot.toAddress(), config.pot_address)
  assert.equal(isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyT'), true)
  assert.equal(isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyU'), false)
})
