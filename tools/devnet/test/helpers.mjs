// Shared by the devnet tests: an in-process devnet on a free port with a fresh state folder,
// an HTTPS client that trusts only its CA, and a small wallet built on @bsv/sdk.
import https from 'node:https'
import { mkdtempSync, rmSync, readFileSync } from 'node:fs'
import { tmpdir } from 'node:os'
import { join } from 'node:path'
import { PrivateKey } from '@bsv/sdk'
import { Devnet } from '../lib/devnet.js'
import { signTransaction } from '../lib/wallet.js'
import { p2pkhScript } from '../lib/script.js'

export const WOC = '/woc/v1/bsv/main'

export async function startDevnet (options = {}) {
  const stateDir = options.stateDir ?? mkdtempSync(join(tmpdir(), 'devnet-test-'))
  const dn = new Devnet({ port: 0, stateDir, blockSeconds: 0, ...options })
  await dn.start()
  const ca = readFileSync(dn.caPath)
  const client = makeClient(dn.port, ca)
  return {
    dn,
    ...client,
    stateDir,
    async close ({ keepState = false } = {}) {
      await dn.stop()
      if (!keepState) rmSync(stateDir, { recursive: true, force: true })
    }
  }
}

export function makeClient (port, ca) {
  // One request; resolves { status, type, text, json } or rejects on a transport error.
  function request (method, path, body, { host = '127.0.0.1', servername, raw } = {}) {
    return new Promise((resolve, reject) => {
      const data = raw !== undefined ? Buffer.from(raw) : body === undefined ? null : Buffer.from(JSON.stringify(body))
      const req = https.request({
        host, port, method, path, ca, servername, agent: false,
        headers: data ? { 'Content-Type': 'application/json', 'Content-Length': data.length } : {}
      }, (res) => {
        const parts = []
        res.on('data', (c) => parts.push(c))
        res.on('end', () => {
          const buf = Buffer.concat(parts)
          const text = buf.toString('utf8')
          let json
          try { json = JSON.parse(text) } catch { json = undefined }
          resolve({ status: res.statusCode, type: res.headers['content-type'], text, json, bytes: buf })
        })
      })
      req.on('error', reject)
      req.setTimeout(20000, () => req.destroy(new Error('request timed out')))
      if (data) req.write(data)
      req.end()
    })
  }
  return {
    request,
    get: (path, opts) => request('GET', path, undefined, opts),
    post: (path, body, opts) => request('POST', path, body, opts)
  }
}

// Funds a fresh key through the faucet and answers the key and the funded output.
export async function fundedKey (net, satoshis = 100000) {
  const key = PrivateKey.fromRandom()
  const address = key.toAddress()
  const r = await net.post('/admin/fund', { address, satoshis })
  if (r.status !== 200) throw new Error('fund failed: ' + r.text)
  const tx = net.dn.chain.getTx(r.json.txid)
  const vout = tx.parsed.outputs.findIndex((o) => o.satoshis === BigInt(satoshis))
  return { key, address, coin: { txid: r.json.txid, vout, satoshis, script: tx.parsed.outputs[vout].script } }
}

// Signs a version-1 transaction spending the given coins (each { txid, vout, satoshis, script,
// key }) into the given outputs ({ satoshis, script } or { satoshis, address }).
export function signedTx (coins, outputs) {
  return signTransaction(coins, outputs.map((o) => (o.address ? { satoshis: o.satoshis, script: p2pkhScript(o.address) } : o)))
}

// The data output script the game writes: OP_FALSE OP_RETURN and one push.
export function dataScript (text) {
  const b = Buffer.from(text, 'utf8')
  let head
  if (b.length < 76) head = Buffer.from([b.length])
  else if (b.length < 256) head = Buffer.from([0x4c, b.length])
  else { head = Buffer.alloc(3); head[0] = 0x4d; head.writeUInt16LE(b.length, 1) }
  return '006a' + Buffer.concat([head, b]).toString('hex')
}
