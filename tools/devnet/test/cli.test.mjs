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

function run (args) {
  const child = spawn(process.execPath, [DEVNET, ...args], { stdio: ['ignore', 'pipe', 'pipe'] })
  let out = ''
  let err = ''
  child.stdout.on('data', (d) => { out += d })
  child.stderr.on('data', (d) => { err += d })
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal, out, err })))
  const ready = new Promise((resolve, reject) => {
    child.stdout.on('data', () => {
      if (!out.includes('\n')) return
      try {
        resolve(JSON.parse(out.split('\n')[0]))
      } catch (e) {
        reject(e)
      }
    })
    exited.then((r) => reject(new Error('devnet exited: ' + r.err)))
  })
  ready.catch(() => {}) // not every caller waits for the ready line
  return { child, ready, exited }
}

function connects (host, port) {
  return new Promise((resolve) => {
    const s = net.connect({ host, port, timeout: 2000 })
    s.on('connect', () => { s.destroy(); resolve(true) })
    s.on('error', () => resolve(false))
    s.on('timeout', () => { s.destroy(); resolve(false) })
  })
}

test('start prints one ready line, serves on loopback only and stops cleanly on SIGTERM', async () => {
  const state = mkdtempSync(join(tmpdir(), 'devnet-cli-'))
  const { child, ready, exited } = run(['start', '--port', '0', '--state', state, '--block-seconds', '3600'])
  try {
    const info = await ready
    assert.equal(info.ready, true)
    assert.equal(info.ca, join(state, 'ca.pem'))
    assert.equal(info.state, state)
    assert.equal(info.admin, 'https://127.0.0.1:' + info.port + '/admin')
    const client = makeClient(info.port, readFileSync(info.ca))
    assert.equal((await client.get('/admin/state')).json.height, 0)

    assert.equal(await connects('127.0.0.1', info.port), true)
    // Bound to 127.0.0.1 alone, not to every address: another loopback address and the IPv6
    // loopback are refused, and the kernel lists exactly one listening socket for the port.
    // (Probes stay on loopback; nothing is sent to the machine's other addresses.)
    for (const address of ['127.0.0.2', '::1']) assert.equal(await connects(address, info.port), false, address)
    const portHex = info.port.toString(16).toUpperCase().padStart(4, '0')
    const listening = ['/proc/net/tcp', '/proc/net/tcp6'].filter((f) => existsSync(f))
      .flatMap((f) => readFileSync(f, 'utf8').split('\n').slice(1))
      .map((line) => line.trim().split(/\s+/))
      .filter((cols) => cols[1]?.endsWith(':' + portHex) && cols[3] === '0A')
      .map((cols) => cols[1])
    assert.deepEqual(listening, ['0100007F:' + portHex])

    child.kill('SIGTERM')
    const end = await exited
    assert.equal(end.code, 0)
    assert.ok(existsSync(join(state, 'state.json')))
  } finally {
    if (child.exitCode === null) child.kill('SIGKILL') // a failed check must not leave it running
    rmSync(state, { recursive: true, force: true })
  }
})

test('bad arguments exit 2 with the usage text', async () => {
  for (const args of [[], ['stop'], ['start'], ['start', '--state', '/tmp/x', '--port', 'abc'], ['start', '--state', '/tmp/x', '--bogus', '1']]) {
    const { exited } = run(args)
    const end = await exited
    assert.equal(end.code, 2, args.join(' '))
    assert.match(end.err, /usage: devnet start/)
  }
})

test('a port already in use fails the start instead of hanging', async () => {
  const state = mkdtempSync(join(tmpdir(), 'devnet-cli-'))
  const blocker = net.createServer().listen(0, '127.0.0.1')
  await new Promise((r) => blocker.once('listening', r))
  try {
    const { child, ready, exited } = run(['start', '--port', String(blocker.address().port), '--state', state])
    try {
      await assert.rejects(ready, /EADDRINUSE/)
      assert.equal((await exited).code, 1)
    } finally {
      if (child.exitCode === null) child.kill('SIGKILL')
    }
  } finally {
    blocker.close()
    rmSync(state, { recursive: true, force: true })
  }
})
