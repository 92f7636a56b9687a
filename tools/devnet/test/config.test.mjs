// config/devnet.json must name exactly the addresses and the architect key the devnet derives
// from its seed, or the game would pay addresses nobody holds.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { readFileSync } from 'node:fs'
import { configValues, isAddress } from '../lib/keys.js'

const config = JSON.parse(readFileSync(new URL('../../../config/devnet.json', import.meta.url)))

test('config/devnet.json matches the derived addresses and architect key, six distinct values', () => {
  const values = configValues()
  for (const [field, value] of Object.entries(values)) assert.equal(config[field], value, field)
  assert.equal(new Set(Object.values(values)).size, 6)
  for (const field of ['house_address', 'pot_address', 'oracle_address', 'report_fee_address', 'report_oracle_address']) assert.ok(isAddress(config[field]), field)
})

test('an address with a wrong checksum is not an address', () => {
  assert.equal(isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyT'), true)
  assert.equal(isAddress('1BoatSLRHtKNngkdXEeobR76b53LETtpyU'), false)
})
