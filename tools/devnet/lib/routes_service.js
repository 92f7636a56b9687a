// The maker's service host (submission, decoded transactions, the oracle listing, paymail) and
// the download page.
import { decodedTx } from './decode.js'
import { HEX64, queryInt, readJsonObject, send, sendJson } from './http.js'
import { aliasOf, claim, compressedKey, namesHeldBy, PAYMAIL_DOMAIN, publicProfile, quotaFor } from './paymail.js'
import { NODE_TEXT } from './chain.js'
import { table } from './state.js'

function decodePath (segment) {
  try {
    return decodeURIComponent(segment)
  } catch {
    return ''
  }
}

export function serviceRoutes (dn) {
  const oracles = table({ arcade: 'oracle_address', report: 'report_oracle_address' })
  const nameFor = (segment) => {
    const alias = aliasOf(decodePath(segment))
    return alias !== null && dn.state.names[alias] ? alias : null
  }
  const keyParam = (segment, res) => {
    const key = compressedKey(decodePath(segment).trim())
    if (!key) sendJson(res, 400, { error: 'invalid pubkey' })
    return key
  }
  return [
    ['POST', /^\/oi\/submit$/, async ({ req, res }) => {
      const body = await readJsonObject(req)
      if (!body || typeof body.txhex !== 'string') return sendJson(res, 400, { ok: false, error: 'need txhex' })
      const result = dn.submit(body.txhex)
      if (result.ok) return sendJson(res, 200, { ok: true, txid: result.txid })
      // A transaction the network already has is no failure for the one who sends it again.
      if (result.kind === 'known') return sendJson(res, 200, { ok: true, txid: result.txid, known: true })
      sendJson(res, 200, { ok: false, error: result.text ?? NODE_TEXT.decode })
    }],
    ['GET', /^\/oi\/tx\/([^/]+)$/, ({ res, params }) => {
      const tx = HEX64.test(params[0]) ? decodedTx(dn.chain, params[0]) : null
      if (!tx) return sendJson(res, 404, { error: 'not found' })
      sendJson(res, 200, tx)
    }],
    ['GET', /^\/oi\/oracle\/([^/]+)\/txids$/, ({ res, params, query }) => {
      const field = oracles[params[0]]
      if (!field) return sendJson(res, 404, { error: 'unknown oracle' })
      const limit = queryInt(query, 'limit', 100, 5000)
      const offset = queryInt(query, 'offset', 0, 1e9)
      const all = dn.chain.paymentsTo(dn.addresses[field]).map((r) => r.txid)
      sendJson(res, 200, { txids: all.slice(offset, offset + limit), total: all.length, limit, offset })
    }],
    ['GET', /^\/api\/bsvalias\/id\/([^/]+)$/, ({ res, params }) => {
      const alias = nameFor(params[0])
      if (!alias) return sendJson(res, 404, { error: 'not found' })
      sendJson(res, 200, { bsvalias: '1.0', handle: alias + '@' + PAYMAIL_DOMAIN, pubkey: dn.state.names[alias].pubkey })
    }],
    ['GET', /^\/api\/bsvalias\/public-profile\/([^/]+)$/, ({ res, params }) => {
      const alias = nameFor(params[0])
      if (!alias) return sendJson(res, 404, { error: 'not found' })
      sendJson(res, 200, publicProfile(alias, dn.state.names[alias]))
    }],
    ['GET', /^\/api\/paymail\/identity\/([^/]+)$/, ({ res, params }) => {
      const key = keyParam(params[0], res)
      if (!key) return
      const note = dn.state.frozen[key]
      sendJson(res, 200, { pubkey: key, frozen: note !== undefined, frozenNote: note ?? '' })
    }],
    ['GET', /^\/api\/paymail\/quota\/([^/]+)$/, ({ res, params }) => {
      const key = keyParam(params[0], res)
      if (!key) return
      const role = dn.state.roles[key] ?? 'default'
      const quota = quotaFor(role)
      const used = namesHeldBy(dn.state, key).length
      sendJson(res, 200, { pubkey: key, role, quota, used, remaining: quota === null ? null : Math.max(0, quota - used) })
    }],
    ['POST', /^\/api\/paymail\/claim$/, async ({ req, res }) => {
      const result = claim(dn.state, await readJsonObject(req), Math.floor(Date.now() / 1000))
      if (result.status === 200) dn.save()
      sendJson(res, result.status, result.body)
    }],
    ['GET', /^\/download\/ostakka\/?$/, ({ res }) => {
      const build = dn.state.build
      const version = (build / 1000).toFixed(3)
      send(res, 200, '<!DOCTYPE html>\n<html><head><title>O-Stakka download</title></head><body>\n' +
        '<h1>O-Stakka</h1>\n<p>Current build: Version ' + version + '</p>\n' +
        '<p><a href="/download/ostakka/ostakka-' + version + '.tar.gz">Download O-Stakka ' + version + '</a></p>\n' +
        '</body></html>\n', 'text/html; charset=utf-8')
    }]
  ]
}
