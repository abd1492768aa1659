'use strict';
// Starts the devserver as a child process on free ports and talks to it like the uploader does.

const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const path = require('node:path');
const { S3Client, PutObjectCommand } = require('@aws-sdk/client-s3');
const { getSignedUrl } = require('@aws-sdk/s3-request-presigner');

const SERVER = path.join(__dirname, '..', 'server.js');
const MiB = 1024 * 1024;

const ACCOUNTS = {
  demo: { email: 'demo@zafrel.test', password: 'zafrel-demo' },
  admin: { email: 'admin@zafrel.test', password: 'zafrel-admin' },
  otra: { email: 'otra@zafrel.test', password: 'zafrel-otra' },
};

async function startServer(extraArgs = []) {
  const child = spawn(process.execPath, [SERVER, '--port', '0', '--store-port', '0', ...extraArgs], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stdout = '';
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const info = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`the devserver did not start:\n${stderr}`)), 30000);
    child.stdout.on('data', (d) => {
      stdout += d;
      const m = /^ZAFREL_DEVSERVER (.*)\n/.exec(stdout);
      if (m) {
        clearTimeout(timer);
        resolve(JSON.parse(m[1]));
      }
    });
    exited.then(({ code }) => {
      clearTimeout(timer);
      reject(new Error(`the devserver exited with ${code}:\n${stderr}`));
    });
  });
  return {
    info,
    child,
    exited,
    get stdout() { return stdout; },
    get stderr() { return stderr; },
    alive() { return child.exitCode === null && child.signalCode === null; },
    async stop() {
      if (this.alive()) child.kill('SIGTERM');
      return exited;
    },
    control: new Client(info.service),
  };
}

// A JSON client with its own cookie, like the uploader's service session.
class Client {
  constructor(base) {
    this.base = base;
    this.cookie = null;
  }

  async request(method, path, { query, body, headers = {} } = {}) {
    const url = new URL(path, this.base);
    for (const [name, value] of Object.entries(query ?? {})) url.searchParams.set(name, value);
    const h = { 'Content-Type': 'application/json', ...headers };
    if (this.cookie) h.Cookie = this.cookie;
    let res;
    try {
      res = await fetch(url, { method, headers: h, body: body === undefined ? undefined : JSON.stringify(body) });
    } catch (err) {
      throw new Error(`${method} ${url}: ${err.message} (${err.cause?.code ?? err.cause?.message ?? 'no cause'})`);
    }
    for (const c of res.headers.getSetCookie()) {
      const [pair] = c.split(';');
      this.cookie = pair.endsWith('=') ? null : pair;
    }
    const text = await res.text();
    let json = null;
    try { json = JSON.parse(text); } catch { /* not JSON */ }
    return { status: res.status, body: json, text, headers: res.headers };
  }

  get(path, query) { return this.request('GET', path, { query }); }
  post(path, body) { return this.request('POST', path, { body }); }

  async login(account) {
    const res = await this.post('/api/login', account);
    if (res.status !== 200) throw new Error(`sign-in failed: ${res.status} ${res.text}`);
    return res;
  }
}

async function signedIn(server, who) {
  const client = new Client(server.info.service);
  await client.login(ACCOUNTS[who]);
  return client;
}

function md5(data) {
  return crypto.createHash('md5').update(data).digest('hex');
}

// Deterministic pseudo-random bytes, so failures are reproducible.
function bytes(size, seed = 1) {
  const out = Buffer.alloc(size);
  let state = crypto.createHash('sha256').update(String(seed)).digest();
  for (let offset = 0; offset < size; offset += state.length) {
    state.copy(out, offset, 0, Math.min(state.length, size - offset));
    state = crypto.createHash('sha256').update(state).digest();
  }
  return out;
}

async function put(url, body, headers = {}) {
  const res = await fetch(url, { method: 'PUT', body, headers });
  return { status: res.status, etag: res.headers.get('etag'), text: await res.text() };
}

// A PUT URL of the store front signed by the test itself, so that its age can be chosen
// (`signingDate`) the way the service never would.
async function signedPutUrl(server, key, options) {
  const client = new S3Client({
    endpoint: server.info.store, region: 'us-east-1', forcePathStyle: true,
    credentials: { accessKeyId: 'S3RVER', secretAccessKey: 'S3RVER' }, requestChecksumCalculation: 'WHEN_REQUIRED',
  });
  try {
    return await getSignedUrl(client, new PutObjectCommand({ Bucket: 'zafrel-demo', Key: key }), options);
  } finally {
    client.destroy();
  }
}

async function storedObject(server, key, bucket) {
  const query = { key };
  if (bucket) query.bucket = bucket;
  const url = new URL('/__control/object', server.info.service);
  for (const [n, v] of Object.entries(query)) url.searchParams.set(n, v);
  const res = await fetch(url);
  return { status: res.status, body: Buffer.from(await res.arrayBuffer()) };
}

module.exports = { startServer, Client, signedIn, md5, bytes, put, signedPutUrl, storedObject, ACCOUNTS, MiB };
