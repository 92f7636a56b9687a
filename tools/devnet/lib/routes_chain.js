// The public chain services: WhatsOnChain, the GorillaPool ordinals API and content host, ARC.
import { createHash } from 'node:crypto'
import { isAddress } from './keys.js'
import { decodedTx } from './decode.js'
import { parseInscription, p2pkhScript } from './script.js'
import { HEX64, HttpError, parseJson, queryInt, readBody, readJsonObject, send, sendJson } from './http.js'
import { NODE_TEXT, txidOf } from './chain.js'
import { ARC_NOT_TAKEN, WOC_BROADCAST_ANSWERS } from './faults.js'

const WOC = '/woc/v1/bsv/main'
const NODE_PREFIX = 'unexpected response code 500: '

function addressParam (value) {
  if (!isAddress(value)) throw new HttpError(400, 'Invalid address')
  return value
}

function scriptHash (address) {
  return Buffer.from(createHash('sha256').update(Buffer.from(p2pkhScript(address), 'hex')).digest()).reverse().toString('hex')
}

function wrapper (address, result, extra = {}) {
  return { address, script: scriptHash(address), result, error: '', ...extra }
}

// Paging by an opaque token that carries the offset of the next page ("token" asks for it).
function page (list, query, limit) {
  const token = query.get('token')
  let offset = 0
  if (token) {
    const decoded = Buffer.from(token, 'base64url').toString('utf8')
    if (!/^\d{1,9}$/.test(decoded)) throw new HttpError(400, 'Invalid token')
    offset = Number(decoded)
  }
  const items = list.slice(offset, offset + limit)
  const extra = offset + limit < list.length ? { nextPageToken: Buffer.from(String(offset + limit)).toString('base64url') } : {}
  return { items, extra, offset }
}

const limitOf = (query, fallback, max) => Math.max(1, queryInt(query, 'limit', fallback, max))

// The history endpoints take "order" ("asc" oldest first, "desc" newest first) and document no
// default; the devnet answers oldest first when it is not given, so a reader that wants the
// newest rows has to ask for them. `newestFirst` is the history as the chain keeps it.
function ordered (newestFirst, query) {
  const order = query.get('order')
  if (order === null || order === 'asc') return [...newestFirst].reverse()
  if (order === 'desc') return newestFirst
  throw new HttpError(400, 'Invalid order')
}

function confirmedItem (u) {
  return { height: u.height, tx_pos: u.vout, tx_hash: u.txid, value: u.satoshis, isSpentInMempoolTx: u.spentInMempool, status: 'confirmed' }
}

function unconfirmedItem (u) {
  return { tx_pos: u.vout, tx_hash: u.txid, value: u.satoshis, isSpentInMempoolTx: u.spentInMempool, status: 'unconfirmed', hex: u.script }
}

function knownTx (dn, txid, options) {
  if (!HEX64.test(txid)) throw new HttpError(404, 'Not Found')
  const tx = decodedTx(dn.chain, txid, options)
  if (!tx) throw new HttpError(404, 'Not Found')
  return tx
}

// Shared by every broadcast route: reads the hex from a JSON member, or a bare hex body.
async function readTxHex (req, member) {
  const raw = await readBody(req)
  const parsed = parseJson(raw)
  if (parsed.ok && parsed.value && typeof parsed.value === 'object' && typeof parsed.value[member] === 'string') {
    return parsed.value[member]
  }
  const text = raw.toString('utf8').trim()
  return /^[0-9a-fA-F]+$/.test(text) ? text : null
}

export function chainRoutes (dn) {
  const c = dn.chain
  // An address the service has never seen answers 404 on every address read, as WhatsOnChain
  // does; clients read that as an empty list.
  const byAddress = (suffix, handler) => ['GET', new RegExp('^' + WOC + '/address/([^/]+)/' + suffix + '$'),
    (ctx) => {
      const a = addressParam(ctx.params[0])
      if (!c.hasHistory(a)) throw new HttpError(404, 'Not Found')
      return handler(a, ctx)
    }]
  const confirmedUnspent = (a) => c.unspentFor(a).filter((u) => u.height !== null).sort((x, y) => x.height - y.height || (x.txid + x.vout).localeCompare(y.txid + y.vout))
  const unconfirmedUnspent = (a) => c.unspentFor(a).filter((u) => u.height === null)
  const history = (a, confirmed, { res, query }) => {
    const rows = c.historyFor(a).filter((r) => (r.height !== null) === confirmed)
    const { items, extra } = page(ordered(rows, query), query, limitOf(query, 100, 1000))
    sendJson(res, 200, wrapper(a, items.map((r) => (confirmed ? { tx_hash: r.txid, height: r.height } : { tx_hash: r.txid })), extra))
  }

  const routes = [
    // Confirmed outputs come 1000 to a page with a next-page token; the unconfirmed ones (up to
    // 100k, never paged) ride on the first page. (WhatsOnChain, "Get Unspent UTXOs by Address".)
    byAddress('unspent/all', (a, { res, query }) => {
      const { items, extra, offset } = page(confirmedUnspent(a), query, 1000)
      const unconfirmed = offset === 0 ? unconfirmedUnspent(a).map(unconfirmedItem) : []
      sendJson(res, 200, wrapper(a, [...items.map(confirmedItem), ...unconfirmed], extra))
    }),
    byAddress('unspent', (a, { res }) => sendJson(res, 200, confirmedUnspent(a).map((u) => ({ height: u.height, tx_pos: u.vout, tx_hash: u.txid, value: u.satoshis })))),
    byAddress('unconfirmed/unspent', (a, { res }) => sendJson(res, 200, wrapper(a, unconfirmedUnspent(a).map(unconfirmedItem)))),
    byAddress('confirmed/unspent', (a, { res, query }) => {
      const { items, extra } = page(confirmedUnspent(a), query, limitOf(query, 1000, 1000))
      sendJson(res, 200, wrapper(a, items.map(confirmedItem), extra))
    }),
    byAddress('unconfirmed/history', (a, ctx) => history(a, false, ctx)),
    byAddress('confirmed/history', (a, ctx) => history(a, true, ctx)),
    byAddress('history', (a, { res }) => sendJson(res, 200, c.historyFor(a).map((r) => ({ tx_hash: r.txid, height: r.height ?? 0 })))),
    // There is no "/tx/{txid}/decoded" at WhatsOnChain: that path answers 404 like any unknown one.
    ['GET', new RegExp('^' + WOC + '/tx/(?:hash/)?([^/]+)$'), ({ res, params }) => sendJson(res, 200, knownTx(dn, params[0], { truncateScripts: true }))],
    ['GET', new RegExp('^' + WOC + '/tx/([^/]+)/hex$'), ({ res, params }) => send(res, 200, c.getTx(knownTx(dn, params[0]).txid).hex)],
    ['GET', new RegExp('^' + WOC + '/chain/info$'), ({ res }) => sendJson(res, 200, {
      chain: 'main', blocks: c.height, headers: c.height, bestblockhash: c.blocks[c.height].hash
    })],
    ['POST', new RegExp('^' + WOC + '/tx/raw$'), async ({ req, res }) => {
      const hex = await readTxHex(req, 'txhex')
      // A forced answer is for the next new transaction; a copy of one the chain has (the game
      // mirrors its own submissions here, at a time of its pacer's choosing) does not use it up.
      const resent = hex !== null && c.getTx(txidOf(hex.toLowerCase())) !== null
      const forced = resent ? null : dn.faults.takeQueued(dn.faults.wocBroadcast)
      if (forced) return send(res, 400, NODE_PREFIX + WOC_BROADCAST_ANSWERS[forced.answer])
      const result = hex === null ? { ok: false, text: NODE_TEXT.decode } : dn.submit(hex)
      if (!result.ok) return send(res, 400, NODE_PREFIX + result.text)
      send(res, 200, result.txid)
    }],

    // GorillaPool ordinals API and content host.
    ['GET', /^\/gorillapool\/api\/txos\/address\/([^/]+)\/unspent$/, ({ res, params, query }) => {
      const a = params[0]
      if (!isAddress(a)) return sendJson(res, 400, { message: 'invalid address' })
      const limit = queryInt(query, 'limit', 100, 10000)
      const offset = queryInt(query, 'offset', 0, 1e9)
      // The ordinals indexer drops an output as soon as a mempool transaction spends it, and lists
      // outputs locked to the address by a script (data.lock) beside its plain ones.
      const list = c.unspentFor(a, { includeSpentInMempool: false, includeLocked: true }).sort((x, y) => (x.height ?? Infinity) - (y.height ?? Infinity))
      sendJson(res, 200, list.slice(offset, offset + limit).map((u) => txo(c, u)))
    }],
    ['GET', /^\/gorillapool\/content\/([^/]+)$/, ({ res, params }) => {
      const m = /^([0-9a-fA-F]{64})(?:_(\d{1,6}))?$/.exec(params[0])
      const out = m ? c.output(m[1].toLowerCase(), Number(m[2] ?? 0)) : null
      const insc = out ? parseInscription(out.script) : null
      if (!insc) return sendJson(res, 404, { message: 'not found' })
      send(res, 200, insc.bytes, insc.type || 'application/octet-stream')
    }],

    // ARC. A forced status that means the network does not have the transaction does not take it.
    ['POST', /^\/arc\/v1\/tx$/, async ({ req, res }) => {
      const hex = await readTxHex(req, 'rawTx')
      const forced = dn.faults.takeQueued(dn.faults.arcStatus)
      const refused = forced && ARC_NOT_TAKEN.includes(forced.txStatus)
      const result = refused ? null : hex === null ? { ok: false, kind: 'decode' } : dn.submit(hex)
      if (forced) {
        return sendJson(res, 200, arcOk(result?.txid ?? (hex ? txidOf(hex) : ''), forced.txStatus, forced.extraInfo ?? ''))
      }
      if (result.ok) return sendJson(res, 200, arcOk(result.txid, 'SEEN_ON_NETWORK', ''))
      if (result.kind === 'known') {
        const rec = c.getTx(result.txid)
        const mined = rec.block ? { blockHash: rec.block.hash, blockHeight: rec.block.height } : {}
        return sendJson(res, 200, { ...arcOk(result.txid, rec.block ? 'MINED' : 'SEEN_ON_NETWORK', ''), ...mined })
      }
      if (result.kind === 'conflict') {
        return sendJson(res, 200, { ...arcOk(result.txid, 'DOUBLE_SPEND_ATTEMPTED', 'double spend attempted'), competingTxs: result.conflicts })
      }
      // Inputs that are unknown or already spent in a block are no error to ARC: it keeps the
      // transaction in its orphan mempool, waiting for parents that will never come, and answers
      // 200 (ARC's documented SEEN_IN_ORPHAN_MEMPOOL: "parent transaction was not found").
      if (result.kind === 'missing') return sendJson(res, 200, arcOk(result.txid, 'SEEN_IN_ORPHAN_MEMPOOL', ''))
      const [status, title, detail] = ARC_ERRORS[result.kind] ?? ARC_ERRORS.decode
      sendJson(res, status, {
        type: 'https://bitcoin-sv.github.io/arc/#/errors?id=_' + status,
        title, status, detail, instance: null, txid: result.txid ?? '', extraInfo: result.text ?? ''
      })
    }]
  ]
  return routes
}

const ARC_ERRORS = {
  decode: [463, 'Malformed transaction', 'Transaction is malformed and cannot be processed'],
  script: [461, 'Invalid unlocking scripts', 'Transaction is invalid because the unlocking scripts are not valid'],
  'prevout-null': [462, 'Invalid inputs', 'Transaction is invalid because the inputs are non-existent or spent'],
  duplicate: [462, 'Invalid inputs', 'Transaction is invalid because the inputs are non-existent or spent'],
  'vin-empty': [462, 'Invalid inputs', 'Transaction is invalid because the inputs are non-existent or spent'],
  belowout: [464, 'Invalid outputs', 'Transaction is invalid because the outputs are non-existent or invalid'],
  'vout-empty': [464, 'Invalid outputs', 'Transaction is invalid because the outputs are non-existent or invalid'],
  toolarge: [464, 'Invalid outputs', 'Transaction is invalid because the outputs are non-existent or invalid'],
  dust: [464, 'Invalid outputs', 'Transaction is invalid because the outputs are non-existent or invalid'],
  'non-final': [463, 'Malformed transaction', 'Transaction is malformed and cannot be processed'],
  fee: [465, 'Fee too low', 'Fees are insufficient']
}

function arcOk (txid, txStatus, extraInfo) {
  return { blockHash: '', blockHeight: 0, extraInfo, merklePath: '', status: 200, title: 'OK', timestamp: new Date().toISOString(), txStatus, txid }
}

// One GorillaPool txo: the output, its owner, and the inscription it carries or inherited.
function txo (c, u) {
  const origin = u.satoshis === 1 ? c.origin(u.txid, u.vout) : null
  const rec = c.getTx(u.txid)
  const acc = rec.parsed.outputs.slice(0, u.vout + 1).reduce((s, o) => s + Number(o.satoshis), 0)
  const own = parseInscription(u.script)
  const fileOf = (o) => ({ insc: { file: { hash: o.hash, size: o.size, type: o.type } } })
  return {
    txid: u.txid,
    vout: u.vout,
    outpoint: u.txid + '_' + u.vout,
    satoshis: u.satoshis,
    accSats: acc,
    owner: u.address ?? u.lock?.address,
    spend: '',
    origin: origin ? { outpoint: origin.outpoint, data: fileOf(origin), num: String(origin.num) } : null,
    height: u.height ?? 0,
    idx: rec.block ? rec.block.txids.indexOf(u.txid) : 0,
    data: u.lock ? { lock: { address: u.lock.address, until: u.lock.until } } : own && origin ? fileOf(origin) : {}
  }
}
