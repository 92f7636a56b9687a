// The devnet's own certificate authority and server certificate, made once with the openssl
// command and kept in the state folder so a client that trusts ca.pem keeps trusting it.
import { execFileSync } from 'node:child_process'
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync, chmodSync, renameSync } from 'node:fs'
import { join } from 'node:path'

export const SERVICE_HOST = 'svc.orbweave.test'

const FILES = { ca: 'ca.pem', caKey: 'ca-key.pem', cert: 'server.pem', key: 'server-key.pem' }

function openssl (args, cwd) {
  execFileSync('openssl', args, { cwd, stdio: ['ignore', 'ignore', 'pipe'], timeout: 30000 })
}

export function ensureCertificates (stateDir) {
  const paths = Object.fromEntries(Object.entries(FILES).map(([k, f]) => [k, join(stateDir, f)]))
  if (!Object.values(paths).every((p) => existsSync(p))) {
    // Made in a scratch folder and moved in at the end, so an interrupted first start leaves
    // no half set behind.
    const work = mkdtempSync(join(stateDir, '.certs-'))
    try {
      writeFileSync(join(work, 'server.ext'), [
        'basicConstraints=critical,CA:FALSE',
        'keyUsage=critical,digitalSignature,keyEncipherment',
        'extendedKeyUsage=serverAuth',
        `subjectAltName=DNS:${SERVICE_HOST},DNS:www.${SERVICE_HOST},DNS:localhost,IP:127.0.0.1`,
        'subjectKeyIdentifier=hash',
        'authorityKeyIdentifier=keyid'
      ].join('\n') + '\n')
      openssl(['ecparam', '-name', 'prime256v1', '-genkey', '-noout', '-out', FILES.caKey], work)
      openssl(['req', '-x509', '-new', '-key', FILES.caKey, '-sha256', '-days', '3650',
        '-subj', '/CN=O-Stakka devnet CA', '-addext', 'basicConstraints=critical,CA:TRUE',
        '-addext', 'keyUsage=critical,keyCertSign,cRLSign', '-out', FILES.ca], work)
      openssl(['ecparam', '-name', 'prime256v1', '-genkey', '-noout', '-out', FILES.key], work)
      openssl(['req', '-new', '-key', FILES.key, '-subj', '/CN=' + SERVICE_HOST, '-out', 'server.csr'], work)
      openssl(['x509', '-req', '-in', 'server.csr', '-CA', FILES.ca, '-CAkey', FILES.caKey,
        '-CAcreateserial', '-days', '3650', '-sha256', '-extfile', 'server.ext', '-out', FILES.cert], work)
      chmodSync(join(work, FILES.caKey), 0o600)
      chmodSync(join(work, FILES.key), 0o600)
      for (const [k, f] of Object.entries(FILES)) renameSync(join(work, f), paths[k])
    } finally {
      rmSync(work, { recursive: true, force: true })
    }
  }
  return {
    caPath: paths.ca,
    cert: readFileSync(paths.cert),
    key: readFileSync(paths.key),
    ca: readFileSync(paths.ca)
  }
}
