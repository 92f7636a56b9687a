// config/devnet.json must name exactly the addresses and the architect key the devnet derives
// from its seed, or the game would pay addresses nobody holds.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { readFileSync } from 'node:fs'
import { configValues, isAddress } from '../lib/keys.js'

test('config/devnet.json matches the derived addresses and architect key, six distinct valid values', () => {
  const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))
  const values = configValues()
  for (const [field, value] of Object.entries(values)) assert.equal(config[field], value, field)
  assert.equal(new Set(Object.values(values)).size, 6)
  for (const field of ['house_address', 'pot_address', 'oracle_address', 'report_fee_address', 'report_oracle_address']) assert.ok(isAddress(config[field]), field)
  // A published address, and the same with its checksum broken.
  assert.deepEqual([isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyT'), isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyU')], [true, false])
})
