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

const DEVNET = new URL('../devnet', import.meta.url).pathname

// Runs the command with `args` (STATE stands for a fresh folder) until its first line or its end;
// `check` gets the child, that line and the folder. The child is killed on every path.
async function withDevnet (args, check) {
  const state = mkdtempSync(join(tmpdir(), 'devnet-cli-'))
  const child = spawn(process.execPath, [DEVNET, ...args.map((a) => (a === 'STATE' ? state : a))], { stdio: ['ignore', 'pipe', 'pipe'] })
  let out = ''
  let err = ''
  child.stderr.on('data', (d) => { err += d })
  const exited = once(child, 'close').then(([code]) => ({ code, err }))
  const line = new Promise((resolve) => child.stdout.on('data', (d) => { if ((out += d).includes('\n')) resolve(out.split('\n')[0]) }))
  try {
    await check({ child, first: await Promise.race([line, exited]), exited, state })
  } finally {
    if (child.exitCode === null) child.kill('SIGKILL')
    rmSync(state, { recursive: true, force: true })
  }
}

const connects = (host, port) => new Promise((resolve) => {
  const s = net.connect({ host, port, timeout: 2000 }, () => { s.destroy(); resolve(true) })
  s.on('error', () => resolve(false))
  s.on('timeout', () => { s.destroy(); resolve(false) })
})

test('start prints one ready line, serves on 127.0.0.1 only and saves its state on SIGTERM', async () => {
  await withDevnet(['start', '--port', '0', '--state', 'STATE', '--block-seconds', '3600'], async ({ child, first, exited, state }) => {
    const info = JSON.parse(first)
    assert.deepEqual([info.ready, info.ca, info.state, info.admin], [true, join(state, 'ca.pem'), state, 'https://127.0.0.1:' + info.port + '/admin'])
    assert.equal((await makeClient(info.port, readFileSync(info.ca)).get('/admin/state')).json.height, 0)
    // Probes stay on loopback: nothing is sent to the machine's other addresses.
    for (const [address, open] of [['127.0.0.1', true], ['127.0.0.2', false], ['::1', false]]) assert.equal(await connects(address, info.port), open, address)
    child.kill('SIGTERM')
    assert.equal((await exited).code, 0)
    assert.ok(existsSync(join(state, 'state.json')))
  })
})

test('bad arguments exit 2 with the usage text; a port in use exits 1 instead of hanging', async () => {
  for (const args of [[], ['stop'], ['start'], ['start', '--state', 'STATE', '--port', 'abc'], ['start', '--state', 'STATE', '--bogus', '1']]) {
    await withDevnet(args, async ({ first }) => assert.deepEqual([first.code, /usage: devnet start/.test(first.err)], [2, true], args.join(' ')))
  }
  const blocker = net.createServer().listen(0, '127.0.0.1')
  await once(blocker, 'listening')
  try {
    await withDevnet(['start', '--port', String(blocker.address().port), '--state', 'STATE'], async ({ first }) => {
      assert.equal(first.code, 1)
      assert.match(first.err, /EADDRINUSE/)
    })
  } finally {
    blocker.close()
  }
})
