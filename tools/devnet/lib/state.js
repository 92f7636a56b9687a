// The service's saved records and their checks. Tables keyed by names and keys that outsiders
// choose are null-prototype objects: "__proto__" or "constructor" is then a plain key, never a
// way into every object's prototype. A state file is checked before it is trusted, so a damaged
// one stops the start with a message instead of making every route fail later.
import { ROLE_NAMES } from './paymail.js'

// A table with no prototype, holding `entries`.
export function table (entries = {}) {
  return Object.assign(Object.create(null), entries)
}

const HEX64 = /^[0-9a-f]{64}$/
const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v)
const isTime = (v) => Number.isFinite(v) && v >= 0

function nameProblem (entry) {
  if (!isObject(entry)) return 'is not an object'
  for (const field of ['pubkey', 'address', 'avatar', 'ordAddress']) {
    if (typeof entry[field] !== 'string') return 'has no text "' + field + '"'
  }
  return Number.isInteger(entry.ts) ? null : 'has no whole-number "ts"'
}

// The first thing wrong with a saved state document, or null when it can be loaded.
export function stateProblem (saved) {
  if (!isObject(saved)) return 'it is not a JSON object'
  const chain = saved.chain
  if (!isObject(chain) || !Array.isArray(chain.txs) || !Array.isArray(chain.blocks)) return '"chain" needs "txs" and "blocks" lists'
  if (chain.blocks.length === 0) return '"chain.blocks" is empty: the genesis block is missing'
  if (!chain.txs.every((t) => isObject(t) && typeof t.hex === 'string' && isTime(t.time))) return 'a transaction in "chain.txs" is not {hex, time}'
  const blockOk = (b) => isObject(b) && HEX64.test(b.hash) && isTime(b.time) && Array.isArray(b.txids) && b.txids.every((id) => HEX64.test(id))
  if (!chain.blocks.every(blockOk)) return 'a block in "chain.blocks" is not {hash, time, txids}'
  for (const member of ['names', 'roles', 'frozen']) {
    if (saved[member] !== undefined && !isObject(saved[member])) return '"' + member + '" is not an object'
  }
  for (const [name, entry] of Object.entries(saved.names ?? {})) {
    const problem = nameProblem(entry)
    if (problem) return 'the name "' + name.slice(0, 64) + '" ' + problem
  }
  for (const [key, role] of Object.entries(saved.roles ?? {})) {
    if (!ROLE_NAMES.includes(role)) return 'the role of ' + key.slice(0, 66) + ' is not one of ' + ROLE_NAMES.join(', ')
  }
  if (!Object.values(saved.frozen ?? {}).every((note) => typeof note === 'string')) return 'a frozen note is not a text'
  if (saved.build !== undefined && !(Number.isInteger(saved.build) && saved.build >= 0)) return '"build" is not a non-negative integer'
  return null
}

// The records of a checked document, in null-prototype tables.
export function loadedState (saved) {
  return { names: table(saved.names), roles: table(saved.roles), frozen: table(saved.frozen), build: saved.build ?? 1 }
}
