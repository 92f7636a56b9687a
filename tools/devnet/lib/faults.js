// Fault injection: the admin arms faults on a route (a path prefix) and the next matching
// requests answer with them. Faults live in memory only: a restarted devnet starts healthy.

export const FAULT_KINDS = ['status', 'rate-limit', 'latency', 'drop']
export const WOC_BROADCAST_ANSWERS = {
  'missing-inputs': 'Missing inputs',
  'mempool-conflict': '258: txn-mempool-conflict'
}
// ARC's documented txStatus values (ARC's "Transaction lifecycle" documentation).
export const ARC_STATUSES = ['UNKNOWN', 'QUEUED', 'RECEIVED', 'STORED', 'ANNOUNCED_TO_NETWORK',
  'REQUESTED_BY_NETWORK', 'SENT_TO_NETWORK', 'ACCEPTED_BY_NETWORK', 'SEEN_IN_ORPHAN_MEMPOOL',
  'SEEN_ON_NETWORK', 'DOUBLE_SPEND_ATTEMPTED', 'REJECTED', 'MINED_IN_STALE_BLOCK', 'MINED']
// The statuses of a transaction that is not (yet) stored or that the network refused: a forced
// answer with one of these leaves the transaction out of the chain.
export const ARC_NOT_TAKEN = ['UNKNOWN', 'QUEUED', 'RECEIVED', 'SEEN_IN_ORPHAN_MEMPOOL',
  'DOUBLE_SPEND_ATTEMPTED', 'REJECTED', 'MINED_IN_STALE_BLOCK']

const MAX_FAULTS = 100

export class Faults {
  constructor () {
    this.clear()
  }

  clear () {
    this.routes = []
    this.wocBroadcast = [] // queued forced answers for the next WhatsOnChain broadcasts
    this.arcStatus = [] // queued forced txStatus answers for the next ARC submissions
  }

  get count () {
    return this.routes.length + this.wocBroadcast.length + this.arcStatus.length
  }

  // Validates and arms a route fault; answers an error text or null.
  add (wanted) {
    const { route, kind } = wanted
    if (typeof route !== 'string' || !route.startsWith('/') || route.length > 500) return 'route must be a path starting with "/"'
    if (!FAULT_KINDS.includes(kind)) return 'kind must be one of ' + FAULT_KINDS.join(', ')
    const count = wanted.count === undefined ? 1 : wanted.count
    if (!Number.isInteger(count) || count < -1 || count === 0 || count > 1e6) return 'count must be a positive integer, or -1 for until cleared'
    const method = wanted.method === undefined ? null : String(wanted.method).toUpperCase()
    const fault = { route, kind, count, method }
    if (kind === 'status') {
      if (!Number.isInteger(wanted.status) || wanted.status < 100 || wanted.status > 599) return 'status must be an HTTP status'
      fault.status = wanted.status
      fault.body = typeof wanted.body === 'string' ? wanted.body.slice(0, 65536) : ''
      fault.type = typeof wanted.content_type === 'string' ? wanted.content_type.slice(0, 100) : 'text/plain; charset=utf-8'
    }
    if (kind === 'latency') {
      if (!Number.isInteger(wanted.ms) || wanted.ms < 0 || wanted.ms > 120000) return 'ms must be 0 to 120000'
      fault.ms = wanted.ms
    }
    if (this.routes.length >= MAX_FAULTS) return 'too many faults armed'
    this.routes.push(fault)
    return null
  }

  // The fault for this request, consuming one of its uses, or null.
  take (method, path) {
    const i = this.routes.findIndex((f) => path.startsWith(f.route) && (f.method === null || f.method === method))
    if (i < 0) return null
    const fault = this.routes[i]
    if (fault.count > 0 && --fault.count === 0) this.routes.splice(i, 1)
    return fault
  }

  takeQueued (list) {
    if (list.length === 0) return null
    const head = list[0]
    if (head.count > 0 && --head.count === 0) list.shift()
    return head
  }
}
