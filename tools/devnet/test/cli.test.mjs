// The command as the CTest fixture and a player run it: ready line, loopback only, clean stop.
import { test } from 'node:test'
import assert from 'node:assert/strict'
import { spawn } from 'node:child_process'
import { mkdtempSync, readFileSync, rmSync, existsSync } from 'node:fs'
import { tmpdir } from 'node:os'
import { join } from 'node:path'
import net from 'node:net'
import { makeClient } from './helpers.mjs'

const DEVNET = new URL('../devnet', import.meta.url).pathname

// Runs the command in a fresh state folder; `check` gets the child, its ready line (a promise)
// and its exit. The child is killed and the folder removed on every path.
async function withDevnet (args, check) {
  const state = mkdtempSync(join(tmpdir(), 'devnet-cli-'))
  const child = spawn(process.execPath, [DEVNET, ...args.map((a) => (a === '$STATE' ? state : a))], { stdio: ['ignore', 'pipe', 'pipe'] })
  let out = ''
  let err = ''
  child.stderr.on('data', (d) => { err += d })
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve({ code, err })))
  const ready = new Promise((resolve, reject) => {
    child.stdout.on('data', (d) => {
      out += d
      if (out.includes('\n')) resolve(out.split('\n')[0])
    })
    exited.then(() => reject(new Error('devnet exited: ' + err)))
  }).then(JSON.parse)
  ready.catch(() => {}) // not every check waits for the ready line
  try {
    await check({ child, ready, exited, state })
  } finally {
    if (child.exitCode === null) child.kill('SIGKILL')
    rmSync(state, { recursive: true, force: true })
  }
}

function connects (host, port) {
  return new Promise((resolve) => {
    const s = net.connect({ host, port, timeout: 2000 })
    s.on('connect', () => { s.destroy(); resolve(true) })
    s.on('error', () => resolve(false))
    s.on('timeout', () => { s.destroy(); resolve(false) })
  })
}

test('start prints one ready line, serves on 127.0.0.1 only and stops cleanly on SIGTERM', async () => {
  await withDevnet(['start', '--port', '0', '--state', '$STATE', '--block-seconds', '3600'], async ({ child, ready, exited, state }) => {
    const info = await ready
    assert.deepEqual([info.ready, info.ca, info.state], [true, join(state, 'ca.pem'), state])
    assert.equal(info.admin, 'https://127.0.0.1:' + info.port + '/admin')
    assert.equal((await makeClient(info.port, readFileSync(info.ca)).get('/admin/state')).json.height, 0)
    // Probes stay on loopback: nothing is sent to the machine's other addresses.
    for (const [address, open] of [['127.0.0.1', true], ['127.0.0.2', false], ['::1', false]]) assert.equal(await connects(address, info.port), open, address)
    child.kill('SIGTERM')
    assert.equal((await exited).code, 0)
    assert.ok(existsSync(join(state, 'state.json')))
  })
})

test('bad arguments exit 2 with the usage text', async () => {
  for (const args of [[], ['stop'], ['start'], ['start', '--state', '$STATE', '--port', 'abc'], ['start', '--state', '$STATE', '--bogus', '1']]) {
    await withDevnet(args, async ({ exited }) => {
      const end = await exited
      assert.equal(end.code, 2, args.join(' '))
      assert.match(end.err, /usage: devnet start/)
    })
  }
})

test('a port already in use fails the start instead of hanging', async () => {
  const blocker = net.createServer().listen(0, '127.0.0.1')
  await new Promise((resolve) => blocker.once('listening', resolve))
  try {
    await withDevnet(['start', '--port', String(blocker.address().port), '--state', '$STATE'], async ({ ready, exited }) => {
      await assert.rejects(ready, /EADDRINUSE/)
      assert.equal((await exited).code, 1)
    })
  } finally {
    blocker.close()
  }
})
