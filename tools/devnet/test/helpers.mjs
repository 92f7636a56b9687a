// Shared by the devnet tests: an in-process devnet on a free port with a fresh state folder,
// an HTTPS client that trusts only its CA, and a small wallet built on @bsv/sdk.
import https from 'node:https'
import { before, after } from 'node:test'
import { mkdtempSync, rmSync, readFileSync } from 'node:fs'
import { tmpdir } from 'node:os'
import { join } from 'node:path'
import { OP, PrivateKey, Script, Utils } from '@bsv/sdk'
import { Devnet } from '../lib/devnet.js'
import { signTransaction } from '../lib/wallet.js'
import { p2pkhScript } from '../lib/script.js'
import { signMessage } from '../lib/claims.js'

export const WOC = '/woc/v1/bsv/main'
export const svc = { servername: 'svc.orbweave.test' }

export async function startDevnet (options = {}) {
  const stateDir = options.stateDir ?? mkdtempSync(join(tmpdir(), 'devnet-test-'))
  const dn = new Devnet({ port: 0, stateDir, blockSeconds: 0, ...options })
  await dn.start()
  return {
    dn,
    ...makeClient(dn.port, readFileSync(dn.caPath)),
    stateDir,
    async close ({ keepState = false } = {}) {
      await dn.stop()
      if (!keepState) rmSync(stateDir, { recursive: true, force: true })
    }
  }
}

// One devnet for every test of a file.
export function sharedDevnet () {
  const net = {}
  before(async () => Object.assign(net, await startDevnet()))
  after(() => net.close())
  return net
}

export function makeClient (port, ca) {
  // One request; resolves { status, text, json } or rejects on a transport error.
  function request (method, path, body, { servername, raw } = {}) {
    return new Promise((resolve, reject) => {
      const data = raw !== undefined ? Buffer.from(raw) : body === undefined ? undefined : Buffer.from(JSON.stringify(body))
      const headers = data ? { 'Content-Type': 'application/json', 'Content-Length': data.length } : {}
      const req = https.request({ host: '127.0.0.1', port, method, path, ca, servername, agent: false, headers }, (res) => {
        const parts = []
        res.on('data', (c) => parts.push(c))
        res.on('end', () => {
          const text = Buffer.concat(parts).toString('utf8')
          let json
          try { json = JSON.parse(text) } catch { json = undefined }
          resolve({ status: res.statusCode, text, json })
        })
      })
      req.on('error', reject)
      req.setTimeout(20000, () => req.destroy(new Error('request timed out')))
      req.end(data)
    })
  }
  return {
    request,
    get: (path, opts) => request('GET', path, undefined, opts),
    post: (path, body, opts) => request('POST', path, body, opts),
    broadcast: (tx) => request('POST', WOC + '/tx/raw', { txhex: typeof tx === 'string' ? tx : tx.toHex() })
  }
}

// Funds a fresh key through the faucet, which pays the first output; the coin carries its key.
export async function fundedKey (net, satoshis = 100000) {
  const key = PrivateKey.fromRandom()
  const address = key.toAddress()
  const r = await net.post('/admin/fund', { address, satoshis })
  if (r.status !== 200) throw new Error('fund failed: ' + r.text)
  return { address, coin: { txid: r.json.txid, vout: 0, satoshis, script: p2pkhScript(address), key } }
}

// Signs coins ({ txid, vout, satoshis, script, key }) into outputs ({ satoshis, script | address }).
export function signedTx (coins, outputs) {
  return signTransaction(coins, outputs.map((o) => (o.address ? { satoshis: o.satoshis, script: p2pkhScript(o.address) } : o)))
}

// The data output script the game writes: OP_FALSE OP_RETURN and one push.
export function dataScript (text) {
  return new Script().writeOpCode(OP.OP_FALSE).writeOpCode(OP.OP_RETURN).writeBin(Utils.toArray(text, 'utf8')).toHex()
}

// A paymail claim signed by `key`, over the text the game signs.
export function claimBody (key, alias, extra = {}) {
  const body = { alias, pubkey: key.toPublicKey().toString(), address: key.toAddress(), avatar: '', ts: Math.floor(Date.now() / 1000), ...extra }
  const text = ['OW-PAYMAIL-CLAIM', body.alias, body.pubkey, body.address, body.avatar, ...(body.ordAddress ? [body.ordAddress] : []), body.ts].join('|')
  return { ...body, sig: signMessage(text, key) }
}
