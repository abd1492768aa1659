#!/usr/bin/env node
'use strict';
// Prints the scrypt hash to put in the "password" field of an account in accounts.json.
//   node devserver/hash-password.js 'contraseña'      or      echo 'contraseña' | node devserver/hash-password.js

const { hashPassword } = require('./lib/passwords');

function readStdin() {
  return new Promise((resolve, reject) => {
    const chunks = [];
    process.stdin.on('data', (c) => chunks.push(c));
    process.stdin.on('end', () => resolve(Buffer.concat(chunks).toString('utf8').replace(/\r?\n$/, '')));
    process.stdin.on('error', reject);
  });
}

(async () => {
  const password = process.argv.length > 2 ? process.argv[2] : await readStdin();
  if (!password) {
    process.stderr.write('Uso: node devserver/hash-password.js CONTRASEÑA  (o la contraseña por la entrada estándar)\n');
    process.exit(2);
  }
  process.stdout.write(`${hashPassword(password)}\n`);
})();
