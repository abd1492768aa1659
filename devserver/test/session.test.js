'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startServer, Client, signedIn, ACCOUNTS } = require('./helpers');

test('sign-in, session cookie, sign-out and throttling', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());

  await t.test('announces itself on exactly one stdout line', () => {
    assert.match(server.stdout, /^ZAFREL_DEVSERVER \{.*\}\n$/);
    const { service, store, s3rver, bucket, data } = server.info;
    for (const url of [service, store, s3rver]) assert.match(url, /^http:\/\/127\.0\.0\.1:\d+$/);
    assert.equal(new Set([service, store, s3rver]).size, 3);
    assert.equal(bucket, 'zafrel-demo');
    assert.ok(fs.existsSync(data));
  });

  await t.test('a request without a session gets 401 with a JSON error', async () => {
    const anonymous = new Client(server.info.service);
    for (const [method, p] of [['GET', '/api/me'], ['GET', '/api/ls'], ['POST', '/api/mkdir'], ['POST', '/api/upload/init'],
      ['GET', '/api/upload/urls'], ['POST', '/api/upload/complete'], ['POST', '/api/upload/abort'], ['POST', '/api/upload/done']]) {
      const res = await anonymous.request(method, p, { body: method === 'POST' ? {} : undefined });
      assert.equal(res.status, 401, `${method} ${p}`);
      assert.equal(typeof res.body.error, 'string');
    }
  });

  await t.test('sign-in sets an HttpOnly cookie with an expiry and me answers the user', async () => {
    const client = new Client(server.info.service);
    const res = await client.post('/api/login', ACCOUNTS.demo);
    assert.equal(res.status, 200);
    assert.deepEqual(res.body, { ok: true });
    const cookie = res.headers.getSetCookie()[0];
    assert.match(cookie, /HttpOnly/);
    assert.match(cookie, /Max-Age=604800/);
    const me = await client.get('/api/me');
    assert.equal(me.status, 200);
    assert.deepEqual(me.body, {
      email: 'demo@zafrel.test',
      name: 'Equipo Demo',
      is_admin: false,
      company: { slug: 'demo-films', name: 'Demo Films' },
      bucket: 'zafrel-demo',
      app_name: 'Zafrel (local)',
    });
  });

  await t.test('the administrator has no company', async () => {
    const admin = await signedIn(server, 'admin');
    const me = await admin.get('/api/me');
    assert.equal(me.body.is_admin, true);
    assert.equal(me.body.company, undefined);
    assert.equal(me.body.bucket, 'zafrel-demo');
  });

  await t.test('e-mail is matched without regard to case and spaces', async () => {
    const client = new Client(server.info.service);
    const res = await client.post('/api/login', { email: '  Otra@Zafrel.TEST ', password: 'zafrel-otra' });
    assert.equal(res.status, 200);
    assert.equal((await client.get('/api/me')).body.email, 'otra@zafrel.test');
  });

  await t.test('sign-out ends the session', async () => {
    const client = await signedIn(server, 'demo');
    const stolen = client.cookie;
    const out = await client.post('/api/logout');
    assert.equal(out.status, 200);
    assert.equal((await client.get('/api/me')).status, 401);
    const replay = new Client(server.info.service);
    replay.cookie = stolen;
    assert.equal((await replay.get('/api/me')).status, 401);
  });

  await t.test('a forged cookie is not a session', async () => {
    const client = new Client(server.info.service);
    client.cookie = 'zafrel_session=forged';
    assert.equal((await client.get('/api/me')).status, 401);
  });

  await t.test('bad bodies are refused with 400', async () => {
    const client = new Client(server.info.service);
    assert.equal((await client.post('/api/login', { email: 'demo@zafrel.test' })).status, 400);
    const raw = await fetch(new URL('/api/login', server.info.service), { method: 'POST', body: '{nope' });
    assert.equal(raw.status, 400);
    assert.equal(typeof (await raw.json()).error, 'string');
  });

  await t.test('wrong password is 401; after five failures within the window the sixth attempt is 429', async () => {
    const client = new Client(server.info.service);
    for (let i = 0; i < 5; i++) {
      const res = await client.post('/api/login', { email: 'admin@zafrel.test', password: `wrong-${i}` });
      assert.equal(res.status, 401);
      assert.equal(typeof res.body.error, 'string');
    }
    const blocked = await client.post('/api/login', ACCOUNTS.admin);
    assert.equal(blocked.status, 429);
    assert.ok(Number(blocked.headers.get('retry-after')) > 0);
    assert.equal(typeof blocked.body.error, 'string');
    assert.equal(client.cookie, null);
    // Other e-mails are not affected.
    await signedIn(server, 'demo');
  });

  await t.test('unknown paths and methods answer JSON errors', async () => {
    const client = await signedIn(server, 'demo');
    const missing = await client.get('/api/nothing');
    assert.equal(missing.status, 404);
    assert.equal(typeof missing.body.error, 'string');
    const wrongMethod = await client.get('/api/login');
    assert.equal(wrongMethod.status, 405);
  });
});

test('sessions survive a restart on the same data folder, and SIGTERM exits 0', async () => {
  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'zafrel-devserver-test-'));
  try {
    const first = await startServer(['--data', data]);
    const client = await signedIn(first, 'demo');
    assert.deepEqual(await first.stop(), { code: 0, signal: null });

    const second = await startServer(['--data', data]);
    try {
      client.base = second.info.service;
      const me = await client.get('/api/me');
      assert.equal(me.status, 200);
      assert.equal(me.body.email, 'demo@zafrel.test');
      assert.equal(second.info.data, data);
    } finally {
      assert.deepEqual(await second.stop(), { code: 0, signal: null });
    }
    assert.ok(fs.existsSync(path.join(data, 'store')), 'a given data folder is kept');
  } finally {
    fs.rmSync(data, { recursive: true, force: true });
  }
});

test('without --data the temporary data folder is removed at exit', async () => {
  const server = await startServer();
  assert.ok(fs.existsSync(server.info.data));
  assert.deepEqual(await server.stop(), { code: 0, signal: null });
  assert.equal(fs.existsSync(server.info.data), false);
});

test('an accounts file with a plain-text password is refused at start', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zafrel-devserver-test-'));
  try {
    const file = path.join(dir, 'accounts.json');
    fs.writeFileSync(file, JSON.stringify({
      companies: [{ slug: 'x', name: 'X', bucket: 'zafrel-x' }],
      accounts: [{ email: 'a@x.test', company: 'x', password: 'plain' }],
    }));
    await assert.rejects(startServer(['--accounts', file]), /hash-password/);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
