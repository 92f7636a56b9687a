// Administration of the devnet, loopback only: money, blocks, identities, the download build,
// reports and fault injection.
import { isAddress } from './keys.js'
import { readJsonObject, sendJson } from './http.js'
import { inscriptionScript, lockScript, p2pkhScript } from './script.js'
import { compressedKey, normalizeAlias, ROLE_NAMES } from './paymail.js'
import { listReports } from './reports.js'
import { ARC_STATUSES, WOC_BROADCAST_ANSWERS } from './faults.js'

const MAX_INSCRIPTION = 1024 * 1024

export function adminRoutes (dn) {
  const post = (name, handler) => ['POST', new RegExp('^/admin/' + name + '$'), async (ctx) => {
    const body = await readJsonObject(ctx.req)
    if (!body) return sendJson(ctx.res, 400, { error: 'body must be a JSON object' })
    const answer = await handler(body)
    if (answer.error) return sendJson(ctx.res, answer.status ?? 400, { error: answer.error })
    dn.save()
    sendJson(ctx.res, 200, answer)
  }]
  const keyOf = (body) => compressedKey(typeof body.pubkey === 'string' ? body.pubkey.trim() : '')

  return [
    ['GET', /^\/admin\/state$/, ({ res }) => sendJson(res, 200, dn.summary())],
    ['GET', /^\/admin\/reports$/, ({ res }) => sendJson(res, 200, listReports(dn))],
    // One transaction paying `count` outputs (default 1) of `satoshis` each to the address.
    post('fund', async ({ address, satoshis, count = 1 }) => {
      if (!isAddress(address)) return { error: 'address must be a P2PKH address' }
      if (!Number.isSafeInteger(satoshis) || satoshis < 1 || satoshis > 1e13) return { error: 'satoshis must be 1 to 10000000000000' }
      if (!Number.isInteger(count) || count < 1 || count > 5000) return { error: 'count must be 1 to 5000' }
      return { txid: await dn.pay(Array.from({ length: count }, () => ({ satoshis, script: p2pkhScript(address) }))) }
    }),
    // An output locked to the address until a block height by a lock script.
    post('lock', async ({ address, satoshis, until }) => {
      if (!isAddress(address)) return { error: 'address must be a P2PKH address' }
      if (!Number.isSafeInteger(satoshis) || satoshis < 1 || satoshis > 1e13) return { error: 'satoshis must be 1 to 10000000000000' }
      if (!Number.isInteger(until) || until < 1 || until > 0x7fffffff) return { error: 'until must be a block height' }
      const txid = await dn.pay([{ satoshis, script: lockScript(address, until) }])
      return { txid, outpoint: txid + '_0' }
    }),
    post('mine', ({ blocks = 1 }) => {
      if (!Number.isInteger(blocks) || blocks < 1 || blocks > 100) return { error: 'blocks must be 1 to 100' }
      const mined = []
      for (let i = 0; i < blocks; i++) mined.push(dn.chain.mine())
      const last = mined[mined.length - 1]
      return { height: last.height, hash: last.hash, txids: mined.flatMap((b) => b.txids) }
    }),
    post('reset', () => {
      dn.reset()
      return { height: dn.chain.height }
    }),
    post('freeze', (body) => {
      const key = keyOf(body)
      if (!key) return { error: 'invalid pubkey' }
      dn.state.frozen[key] = typeof body.note === 'string' ? body.note.slice(0, 2000) : ''
      return { pubkey: key, frozen: true }
    }),
    post('unfreeze', (body) => {
      const key = keyOf(body)
      if (!key) return { error: 'invalid pubkey' }
      delete dn.state.frozen[key]
      return { pubkey: key, frozen: false }
    }),
    post('role', (body) => {
      const key = keyOf(body)
      if (!key) return { error: 'invalid pubkey' }
      const role = typeof body.role === 'string' ? body.role.toLowerCase() : ''
      if (role === '' || role === 'default') delete dn.state.roles[key]
      else if (ROLE_NAMES.includes(role)) dn.state.roles[key] = role
      else return { error: 'role must be one of default, ' + ROLE_NAMES.join(', ') }
      return { pubkey: key, role: dn.state.roles[key] ?? 'default' }
    }),
    post('avatar', ({ alias, avatar }) => {
      const name = typeof alias === 'string' ? normalizeAlias(alias) : ''
      if (!dn.state.names[name]) return { error: 'unknown alias', status: 404 }
      if (typeof avatar !== 'string' || avatar.length > 2048) return { error: 'avatar must be a text' }
      dn.state.names[name].avatar = avatar
      return { alias: name, avatar }
    }),
    post('inscribe', async ({ address, content_type: type = 'image/png', base64 }) => {
      if (!isAddress(address)) return { error: 'address must be a P2PKH address' }
      if (typeof type !== 'string' || type.length === 0 || type.length > 100) return { error: 'content_type must be a short text' }
      if (typeof base64 !== 'string') return { error: 'base64 must hold the content' }
      const bytes = Buffer.from(base64, 'base64')
      if (bytes.length === 0 || bytes.length > MAX_INSCRIPTION) return { error: 'content must be 1 byte to 1 MiB' }
      const txid = await dn.pay([{ satoshis: 1, script: inscriptionScript(address, type, bytes) }])
      return { txid, origin: txid + '_0' }
    }),
    post('download-build', ({ build }) => {
      if (!Number.isInteger(build) || build < 0 || build > 1e9) return { error: 'build must be a non-negative integer' }
      dn.state.build = build
      return { build }
    }),
    post('fault', (wanted) => {
      const error = dn.faults.add(wanted)
      return error ? { error } : { armed: dn.faults.count }
    }),
    post('fault/woc-broadcast', ({ answer, count = 1 }) => {
      if (!Object.hasOwn(WOC_BROADCAST_ANSWERS, answer)) return { error: 'answer must be one of ' + Object.keys(WOC_BROADCAST_ANSWERS).join(', ') }
      if (!Number.isInteger(count) || count < 1 || count > 1e6) return { error: 'count must be a positive integer' }
      dn.faults.wocBroadcast.push({ answer, count })
      return { armed: dn.faults.count }
    }),
    post('fault/arc', ({ txStatus, extraInfo, count = 1 }) => {
      if (!ARC_STATUSES.includes(txStatus)) return { error: 'txStatus must be one of ' + ARC_STATUSES.join(', ') }
      if (extraInfo !== undefined && typeof extraInfo !== 'string') return { error: 'extraInfo must be a text' }
      if (!Number.isInteger(count) || count < 1 || count > 1e6) return { error: 'count must be a positive integer' }
      dn.faults.arcStatus.push({ txStatus, extraInfo, count })
      return { armed: dn.faults.count }
    }),
    post('fault/clear', () => {
      dn.faults.clear()
      return { armed: 0 }
    })
  ]
}
