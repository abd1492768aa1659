'use strict';
// Password hashes as stored in the accounts file: "scrypt$N$r$p$salt$hash" (salt and hash in base64).

const crypto = require('node:crypto');

const N = 16384;
const R = 8;
const P = 1;
const KEY_LENGTH = 32;

function hashPassword(password) {
  const salt = crypto.randomBytes(16);
  const hash = crypto.scryptSync(password, salt, KEY_LENGTH, { N, r: R, p: P });
  return ['scrypt', N, R, P, salt.toString('base64'), hash.toString('base64')].join('$');
}

function parseHash(stored) {
  const fields = typeof stored === 'string' ? stored.split('$') : [];
  if (fields.length !== 6 || fields[0] !== 'scrypt') return null;
  const [n, r, p] = fields.slice(1, 4).map(Number);
  const salt = Buffer.from(fields[4], 'base64');
  const hash = Buffer.from(fields[5], 'base64');
  if (![n, r, p].every(Number.isSafeInteger) || n < 2 || (n & (n - 1)) !== 0 || r < 1 || p < 1) return null;
  if (salt.length < 8 || hash.length < 16) return null;
  return { n, r, p, salt, hash };
}

function isValidHash(stored) {
  return parseHash(stored) !== null;
}

// Resolves to true when `password` matches `stored`. Unknown accounts are checked against a
// throwaway hash so that a wrong e-mail costs as much time as a wrong password.
const DUMMY_HASH = hashPassword(crypto.randomBytes(12).toString('hex'));

function verifyPassword(password, stored) {
  const parsed = parseHash(stored ?? DUMMY_HASH) ?? parseHash(DUMMY_HASH);
  const known = stored !== undefined && stored !== null;
  return new Promise((resolve, reject) => {
    crypto.scrypt(String(password), parsed.salt, parsed.hash.length,
      { N: parsed.n, r: parsed.r, p: parsed.p, maxmem: 256 * parsed.n * parsed.r + 1024 * 1024 },
      (err, derived) => {
        if (err) return reject(err);
        resolve(known && crypto.timingSafeEqual(derived, parsed.hash));
      });
  });
}

module.exports = { hashPassword, verifyPassword, isValidHash };
