// The devnet server: one HTTPS port on 127.0.0.1 carrying every outside service under its own
// path prefix, the chain behind them, and the state folder that keeps both across restarts.
import https from 'node:https'
import { existsSync, mkdirSync, readFileSync, renameSync, writeFileSync } from 'node:fs'
import { join, resolve } from 'node:path'
import { setTimeout as sleep } from 'node:timers/promises'
import { Chain } from './chain.js'
import { ensureCertificates } from './certs.js'
import { Faults } from './faults.js'
import { HttpError, send } from './http.js'
import { configValues, roleKey, ROLES } from './keys.js'
import { p2pkhScript } from './script.js'
import { pay } from './wallet.js'
import { chainRoutes } from './routes_chain.js'
import { serviceRoutes } from './routes_service.js'
import { adminRoutes } from './routes_admin.js'
import { namesHeldBy } from './paymail.js'
import { loadedState, stateProblem } from './state.js'

export const DEFAULT_PORT = 47823
const STATE_FILE = 'state.json'
const GENESIS_SATOSHIS = 100_000_000_000_000 // one million coins for the faucet
const ARCHITECT = 'hollin'

export function isLoopback (address) {
  return typeof address === 'string' && (address.startsWith('127.') || address === '::1' || address.startsWith('::ffff:127.'))
}

export class Devnet {
  constructor ({ port = DEFAULT_PORT, stateDir, blockSeconds = 10, latencyMs = 0, wocRateLimit = 0, minFeeRate = 1, log = () => {} }) {
    if (!stateDir) throw new Error('a state folder is needed')
    this.port = port
    this.stateDir = resolve(stateDir)
    this.blockSeconds = blockSeconds
    this.latencyMs = latencyMs
    this.wocRateLimit = wocRateLimit
    this.log = log
    this.chain = new Chain({ minFeeRate })
    this.faults = new Faults()
    this.keys = Object.fromEntries(ROLES.map((r) => [r, roleKey(r)]))
    this.addresses = configValues()
    this.wocTimes = []
    this.rateLimited = 0 // WhatsOnChain requests answered 429 by --woc-rate-limit
    this.payQueue = Promise.resolve()
    this.routes = [...chainRoutes(this), ...serviceRoutes(this), ...adminRoutes(this)]
  }

  async start () {
    mkdirSync(this.stateDir, { recursive: true })
    const tls = ensureCertificates(this.stateDir)
    this.caPath = tls.caPath
    this.load()
    this.server = https.createServer({ key: tls.key, cert: tls.cert, requestTimeout: 60000, headersTimeout: 15000 },
      (req, res) => { this.handle(req, res) })
    await new Promise((resolveListen, reject) => {
      this.server.once('error', reject)
      this.server.listen(this.port, '127.0.0.1', () => resolveListen())
    })
    this.port = this.server.address().port
    if (this.blockSeconds > 0) {
      this.blockTimer = setInterval(() => {
        this.chain.mine()
        this.save()
      }, this.blockSeconds * 1000)
    }
    return this.info()
  }

  info () {
    return { port: this.port, ca: this.caPath, state: this.stateDir, admin: 'https://127.0.0.1:' + this.port + '/admin', woc_rate_limit: this.wocRateLimit }
  }

  async stop () {
    clearInterval(this.blockTimer)
    if (this.server) {
      const closed = new Promise((r) => this.server.close(() => r()))
      this.server.closeAllConnections()
      await closed
      this.server = null
    }
    this.flush()
  }

  // Chain, names, roles, frozen identities and the download build; faults are not kept.
  load () {
    const file = join(this.stateDir, STATE_FILE)
    if (!existsSync(file)) return this.reset()
    let saved
    try {
      saved = JSON.parse(readFileSync(file, 'utf8'))
      const problem = stateProblem(saved)
      if (problem) throw new Error(problem)
      this.chain.load(saved.chain)
      const unknown = saved.chain.blocks.findIndex((b) => b.txids.some((id) => !this.chain.txs.has(id)))
      if (unknown >= 0) throw new Error('block ' + unknown + ' lists a transaction the file does not hold')
    } catch (e) {
      throw new Error('state file ' + file + ' is unreadable (' + e.message + '); remove it or start with a fresh --state folder')
    }
    this.state = loadedState(saved)
  }

  // Changes are written within a tenth of a second, many at once under load; stop() writes
  // whatever is still pending, so a SIGTERM loses nothing.
  save () {
    if (this.saveTimer) return
    this.saveTimer = setTimeout(() => {
      try {
        this.flush()
      } catch (e) {
        this.log('devnet: could not write the state file: ' + e.message)
      }
    }, 100)
    this.saveTimer.unref()
  }

  flush () {
    clearTimeout(this.saveTimer)
    this.saveTimer = null
    const file = join(this.stateDir, STATE_FILE)
    const doc = { version: 1, chain: this.chain.toJSON(), ...this.state }
    writeFileSync(file + '.tmp', JSON.stringify(doc))
    renameSync(file + '.tmp', file)
  }

  // Back to a chain of one block paying the faucet, with only the architect's name published.
  reset () {
    const faucet = this.keys.faucet.toAddress()
    this.chain.genesis(faucet, GENESIS_SATOSHIS, p2pkhScript(faucet))
    const architect = this.keys.architect_identity
    const architectKey = architect.toPublicKey().toString()
    this.state = loadedState({
      names: { [ARCHITECT]: { pubkey: architectKey, address: architect.toAddress(), avatar: '', ordAddress: '', ts: 0 } },
      roles: { [architectKey]: 'architect' },
      frozen: {},
      build: 1
    })
    this.faults.clear()
    this.flush()
  }

  submit (hex) {
    const result = this.chain.submit(hex)
    if (result.ok) this.save()
    return result
  }

  // Faucet payments run one at a time: signing is asynchronous, and two payments chosen from the
  // same faucet outputs at once would double spend each other.
  async pay (outputs) {
    const run = this.payQueue.then(() => pay(this.chain, this.keys.faucet, outputs))
    this.payQueue = run.catch(() => {})
    const txid = await run
    this.save()
    return txid
  }

  summary () {
    const c = this.chain
    const utxos = [...c.outputs.values()].filter((o) => !o.spentBy).length
    return {
      height: c.height,
      tip: c.blocks[c.height].hash,
      transactions: c.txs.size,
      mempool: c.mempool.length,
      utxos,
      names: Object.keys(this.state.names).length,
      roles: Object.keys(this.state.roles).length,
      frozen: Object.keys(this.state.frozen).length,
      inscriptions: c.inscriptions,
      faults: this.faults.count,
      rate_limited: this.rateLimited,
      build: this.state.build,
      faucet: { address: this.keys.faucet.toAddress(), satoshis: c.unspentFor(this.keys.faucet.toAddress(), { includeSpentInMempool: false }).reduce((s, u) => s + u.satoshis, 0) },
      addresses: this.addresses,
      architect: { handle: ARCHITECT, names: namesHeldBy(this.state, this.keys.architect_identity.toPublicKey().toString()).length }
    }
  }

  wocAllowed () {
    const now = Date.now()
    while (this.wocTimes.length && now - this.wocTimes[0] >= 1000) this.wocTimes.shift()
    if (this.wocTimes.length >= this.wocRateLimit) return false
    this.wocTimes.push(now)
    return true
  }

  async handle (req, res) {
    try {
      if (!isLoopback(req.socket.remoteAddress)) {
        req.socket.destroy()
        return
      }
      let url
      try {
        url = new URL(req.url, 'https://127.0.0.1')
      } catch {
        return send(res, 400, 'Bad Request')
      }
      const path = url.pathname
      // Faults never touch the admin routes, so an armed fault can always be cleared.
      const fault = path.startsWith('/admin/') ? null : this.faults.take(req.method, path)
      if (fault?.kind === 'drop') {
        req.socket.destroy()
        return
      }
      if (fault?.kind === 'latency') await sleep(fault.ms)
      if (this.latencyMs > 0) await sleep(this.latencyMs)
      if (fault?.kind === 'rate-limit') return send(res, 429, 'Rate limit exceeded')
      if (fault?.kind === 'status') return send(res, fault.status, fault.body, fault.type)
      if (path.startsWith('/woc/') && this.wocRateLimit > 0 && !this.wocAllowed()) {
        this.rateLimited++
        this.log('devnet: rate limit: 429 for ' + req.method + ' ' + path)
        return send(res, 429, 'Rate limit exceeded')
      }
      let pathMatched = false
      for (const [method, pattern, handler] of this.routes) {
        const m = pattern.exec(path)
        if (!m) continue
        pathMatched = true
        if (method !== req.method) continue
        await handler({ req, res, params: m.slice(1), query: url.searchParams })
        return
      }
      send(res, pathMatched ? 405 : 404, pathMatched ? 'Method Not Allowed' : 'Not Found')
    } catch (e) {
      if (e instanceof HttpError) {
        if (typeof e.body === 'string') send(res, e.status, e.body, e.type)
        else send(res, e.status, JSON.stringify(e.body), 'application/json; charset=utf-8')
        return
      }
      this.log('devnet: ' + req.method + ' ' + req.url + ' failed: ' + (e.stack ?? e))
      send(res, 500, 'Internal Server Error')
    }
  }
}
