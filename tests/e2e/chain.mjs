// Reads a wallet's account back from the chain, through the same public WhatsOnChain routes the
// game uses:
//   node chain.mjs BASE CA_FILE account ADDRESS
// prints one JSON object: the balance (its unspent outputs), what it received from others, every
// transaction it paid from with the fee, the amounts paid to each other address and the data
// payloads, and whether any outpoint was spent twice.
import fs from 'node:fs'
import https from 'node:https'
import { parseRawTx } from '../../tools/devnet/lib/txparse.js'
import { dataPayload, ownerAddress } from '../../tools/devnet/lib/script.js'

const [base, caFile, command, address] = process.argv.slice(2)
const ca = fs.readFileSync(caFile)
const woc = `${base}/woc/v1/bsv/main`

function get (url) {
  return new Promise((resolve, reject) => {
    https.get(url, { ca }, (res) => {
      let body = ''
      res.setEncoding('utf8')
      res.on('data', (d) => { body += d })
      res.on('end', () => resolve({ status: res.statusCode, body }))
    }).on('error', reject)
  })
}

async function getJson (path) {
  for (let attempt = 0; ; attempt++) {
    const { status, body } = await get(woc + path)
    if (status === 404) return null
    if (status === 200) return JSON.parse(body)
    // A rate limit armed by a fault run may still be in force.
    if (status !== 429 || attempt > 20) throw new Error(`${path}: ${status} ${body}`)
    await new Promise((resolve) => setTimeout(resolve, 500))
  }
}

// Every page of a wrapped list.
async function allPages (path) {
  const items = []
  let token = ''
  do {
    const sep = path.includes('?') ? '&' : '?'
    const page = await getJson(path + (token ? `${sep}token=${encodeURIComponent(token)}` : ''))
    if (page === null) break
    items.push(...(Array.isArray(page) ? page : page.result || []))
    token = page.nextPageToken || ''
  } while (token)
  return items
}

const txCache = new Map()
async function tx (txid) {
  if (!txCache.has(txid)) {
    const { status, body } = await get(`${woc}/tx/${txid}/hex`)
    if (status !== 200) throw new Error(`tx ${txid}: ${status}`)
    const parsed = parseRawTx(body.trim())
    if (!parsed.ok) throw new Error(`tx ${txid}: ${parsed.reason}`)
    txCache.set(txid, { ...parsed, bytes: body.trim().length / 2 })
  }
  return txCache.get(txid)
}

async function account () {
  const history = [
    ...(await allPages(`/address/${address}/confirmed/history?order=asc`)),
    ...(await allPages(`/address/${address}/unconfirmed/history`))
  ]
  const txids = [...new Set(history.map((h) => h.tx_hash))]
  const seen = new Set()
  let doubleSpent = 0
  let received = 0
  const paid = {}
  const spends = []
  for (const txid of txids) {
    const t = await tx(txid)
    let inTotal = 0
    let ours = false
    for (const input of t.inputs) {
      const key = `${input.txid}:${input.vout}`
      const parent = await tx(input.txid)
      const out = parent.outputs[input.vout]
      inTotal += Number(out.satoshis)
      if (ownerAddress(out.script) === address) {
        ours = true
        if (seen.has(key)) doubleSpent++
        seen.add(key)
      }
    }
    const outTotal = t.outputs.reduce((sum, o) => sum + Number(o.satoshis), 0)
    if (!ours) {
      for (const o of t.outputs) if (ownerAddress(o.script) === address) received += Number(o.satoshis)
      continue
    }
    const spend = { txid, fee: inTotal - outTotal, bytes: t.bytes, paid: {}, payloads: [] }
    for (const o of t.outputs) {
      const owner = ownerAddress(o.script)
      const payload = owner === null ? dataPayload(o.script) : null
      if (payload) spend.payloads.push(payload.toString('utf8'))
      if (owner === address) continue
      const to = owner || 'data'
      spend.paid[to] = (spend.paid[to] || 0) + Number(o.satoshis)
      paid[to] = (paid[to] || 0) + Number(o.satoshis)
    }
    spends.push(spend)
  }
  const unspent = await allPages(`/address/${address}/unspent/all`)
  // A confirmed output already spent by a transaction in the mempool is still listed, flagged.
  const balance = unspent.filter((u) => !u.isSpentInMempoolTx).reduce((sum, u) => sum + u.value, 0)
  const fees = spends.reduce((sum, s) => sum + s.fee, 0)
  const paidTotal = Object.values(paid).reduce((sum, n) => sum + n, 0)
  return { balance, received, paid, paid_total: paidTotal, fees, spends, double_spent: doubleSpent }
}

if (command !== 'account' || !address) {
  console.error('usage: chain.mjs BASE CA_FILE account ADDRESS')
  process.exit(2)
}
console.log(JSON.stringify(await account()))
