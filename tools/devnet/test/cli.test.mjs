// The command as the CTest fixture and a player run it: ready line, loopback only, clean stop.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { spawn } from 'node:child_process'
import { mkdtempSync, readFileSync, rmSync, existsSync } from 'node:fs'
import { tmpdir } from 'node:os'
import { join } from 'node:path'
import net from 'node:net'
import { once } from 'node:events'
import { makeClient } from './helpers.mjs'

const connects = (host, port) => new Promise((resolve) => {
  const s = net.connect({ host, port }, () => { s.destroy(); resolve(true) })
  s.on('error', () => resolve(false))
})

test('start prints one ready line, serves on 127.0.0.1 only and saves its state on SIGTERM', async () => {
  const state = mkdtempSync(join(tmpdir(), 'devnet-cli-'))
  const args = ['start', '--port', '0', '--state', state, '--block-seconds', '3600']
  const child = spawn(process.execPath, [new URL('../devnet', import.meta.url).pathname, ...args], { stdio: ['ignore', 'pipe', 'inherit'] })
  try {
    const exited = once(child, 'exit')
    // An early exit leaves no line to parse and fails here rather than hanging.
    const first = await Promise.race([once(child.stdout, 'data').then(([d]) => d.toString()), exited.then(() => '')])
    const info = JSON.parse(first.split('\n')[0])
    assert.deepEqual([info.ready, info.ca, info.state, info.admin], [true, join(state, 'ca.pem'), state, 'https://127.0.0.1:' + info.port + '/admin'])
    assert.equal((await makeClient(info.port, readFileSync(info.ca)).get('/admin/state')).json.height, 0)
    // Probes stay on loopback: nothing is sent to the machine's other addresses.
    for (const [address, open] of [['127.0.0.1', true], ['127.0.0.2', false], ['::1', false]]) assert.equal(await connects(address, info.port), open, address)
    child.kill('SIGTERM')
    assert.deepEqual(await exited, [0, null])
    assert.ok(existsSync(join(state, 'state.json')))
  } finally {
    if (child.exitCode === null) child.kill('SIGKILL') // a failed check must not leave it running
    rmSync(state, { recursive: true, force: true })
  }
})
