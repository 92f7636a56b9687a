// Small helpers for the request handlers: bounded bodies, JSON that never throws, answers.

export const MAX_BODY = 8 * 1024 * 1024 // a score payload with a full tape stays well below this

export class HttpError extends Error {
  constructor (status, body, type = 'text/plain; charset=utf-8') {
    super(typeof body === 'string' ? body : JSON.stringify(body))
    this.status = status
    this.body = body
    this.type = type
  }
}

export function readBody (req, limit = MAX_BODY) {
  return new Promise((resolve, reject) => {
    const declared = Number(req.headers['content-length'])
    if (Number.isFinite(declared) && declared > limit) {
      reject(new HttpError(413, 'Payload Too Large'))
      req.resume()
      return
    }
    const parts = []
    let size = 0
    req.on('data', (chunk) => {
      size += chunk.length
      if (size > limit) {
        reject(new HttpError(413, 'Payload Too Large'))
        req.destroy()
        return
      }
      parts.push(chunk)
    })
    req.on('end', () => resolve(Buffer.concat(parts)))
    req.on('error', reject)
  })
}

// Parses a JSON body; answers { ok: true, value } or { ok: false } and never throws.
export function parseJson (buf) {
  try {
    const text = Buffer.isBuffer(buf) ? buf.toString('utf8') : String(buf)
    return { ok: true, value: JSON.parse(text) }
  } catch {
    return { ok: false }
  }
}

export async function readJsonObject (req) {
  const parsed = parseJson(await readBody(req))
  if (!parsed.ok || parsed.value === null || typeof parsed.value !== 'object' || Array.isArray(parsed.value)) {
    return null
  }
  return parsed.value
}

export function send (res, status, body, type = 'text/plain; charset=utf-8') {
  if (res.headersSent || res.destroyed) return
  const data = Buffer.isBuffer(body) ? body : Buffer.from(String(body), 'utf8')
  res.writeHead(status, { 'Content-Type': type, 'Content-Length': data.length })
  res.end(data)
}

export function sendJson (res, status, value) {
  send(res, status, JSON.stringify(value), 'application/json; charset=utf-8')
}

export const HEX64 = /^[0-9a-fA-F]{64}$/

// A non-negative integer query value within bounds, or the default.
export function queryInt (params, name, fallback, max) {
  const raw = params.get(name)
  if (raw === null || !/^\d{1,9}$/.test(raw)) return fallback
  return Math.min(Number(raw), max)
}
