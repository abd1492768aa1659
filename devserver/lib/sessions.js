'use strict';
// Cookie sessions kept in memory and mirrored to a file, so that a devserver restarted on the same
// data folder keeps everybody signed in. Only a hash of each token is stored.

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const COOKIE_NAME = 'zafrel_session';
const SESSION_SECONDS = 7 * 24 * 3600;

function tokenHash(token) {
  return crypto.createHash('sha256').update(token).digest('hex');
}

function parseCookies(header) {
  const cookies = {};
  for (const part of String(header ?? '').split(';')) {
    const eq = part.indexOf('=');
    if (eq < 0) continue;
    const name = part.slice(0, eq).trim();
    if (name && !(name in cookies)) cookies[name] = part.slice(eq + 1).trim();
  }
  return cookies;
}

function writeFileAtomic(file, text) {
  const tmp = `${file}.${process.pid}.tmp`;
  fs.writeFileSync(tmp, text, { mode: 0o600 });
  fs.renameSync(tmp, file);
}

class SessionStore {
  constructor(file, now = () => Date.now()) {
    this.file = file;
    this.now = now;
    this.sessions = new Map(); // token hash -> { email, expires (ms) }
    this.load();
  }

  load() {
    if (!this.file || !fs.existsSync(this.file)) return;
    try {
      const saved = JSON.parse(fs.readFileSync(this.file, 'utf8'));
      for (const [hash, s] of Object.entries(saved)) {
        if (typeof s?.email === 'string' && Number.isFinite(s.expires) && s.expires > this.now()) {
          this.sessions.set(hash, { email: s.email, expires: s.expires });
        }
      }
    } catch (err) {
      process.stderr.write(`zafrel-devserver: sesiones ilegibles en ${this.file}, se descartan (${err.message})\n`);
    }
  }

  save() {
    if (!this.file) return;
    fs.mkdirSync(path.dirname(this.file), { recursive: true });
    writeFileAtomic(this.file, JSON.stringify(Object.fromEntries(this.sessions), null, 1));
  }

  create(email) {
    const token = crypto.randomBytes(32).toString('base64url');
    this.sessions.set(tokenHash(token), { email, expires: this.now() + SESSION_SECONDS * 1000 });
    this.purge();
    this.save();
    return token;
  }

  // The e-mail of the session the request's cookie names, or null.
  emailFor(req) {
    const token = parseCookies(req.headers.cookie)[COOKIE_NAME];
    if (!token) return null;
    const hash = tokenHash(token);
    const session = this.sessions.get(hash);
    if (!session) return null;
    if (session.expires <= this.now()) {
      this.sessions.delete(hash);
      this.save();
      return null;
    }
    return session.email;
  }

  destroy(req) {
    const token = parseCookies(req.headers.cookie)[COOKIE_NAME];
    if (token && this.sessions.delete(tokenHash(token))) this.save();
  }

  purge() {
    const now = this.now();
    for (const [hash, s] of this.sessions) if (s.expires <= now) this.sessions.delete(hash);
  }

  static cookie(token) {
    return `${COOKIE_NAME}=${token}; Path=/; Max-Age=${SESSION_SECONDS}; HttpOnly; SameSite=Lax`;
  }

  static clearingCookie() {
    return `${COOKIE_NAME}=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax`;
  }
}

module.exports = { SessionStore, COOKIE_NAME, SESSION_SECONDS, writeFileAtomic };
