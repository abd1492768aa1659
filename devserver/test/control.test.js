'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const http = require('node:http');
const { startServer, signedIn, put, signedPutUrl, md5, bytes, storedObject, MiB } = require('./helpers');

const PART = 32 * MiB;

test('fault injection and the request log', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');
  const control = server.control;

  const arm = async (fault) => {
    const res = await control.post('/__control/faults', fault);
    assert.equal(res.status, 200, res.text);
  };
  const requests = async () => (await control.get('/__control/requests')).body;

  async function singleUrl(name, size) {
    const init = await demo.post('/api/upload/init', { path: '', name, size, type: 'application/octet-stream', accelerate: false });
    return init.body.url;
  }

  await t.test('the log records service and store requests with their status and body size', async () => {
    assert.equal((await control.post('/__control/reset')).status, 200);
    const url = await singleUrl('log.bin', 10);
    await put(url, Buffer.alloc(10, 1), { 'Content-Type': 'application/octet-stream' });
    const log = await requests();
    assert.deepEqual(log.map((e) => [e.seq, e.server, e.method, e.path, e.status]), [
      [1, 'service', 'POST', '/api/upload/init', 200],
      [2, 'store', 'PUT', '/zafrel-demo/demo-films/log.bin', 200],
    ]);
    const [init, upload] = log;
    assert.ok(init.bodyBytes > 0);
    assert.match(init.headers.cookie, /zafrel_session=/);
    assert.equal(upload.bodyBytes, 10);
    assert.equal(upload.headers['content-type'], 'application/octet-stream');
    assert.equal(upload.query['x-id'], 'PutObject');
    assert.ok(upload.query['X-Amz-Signature']);
  });

  await t.test('a status fault answers the next matching requests with that status, then lets them through', async () => {
    await control.post('/__control/reset');
    const url = await singleUrl('fallo.bin', 4);
    await arm({ server: 'store', method: 'PUT', pathContains: 'fallo.bin', count: 2, action: 'status', status: 503 });
    const statuses = [];
    for (let i = 0; i < 3; i++) statuses.push((await put(url, Buffer.from('abcd'), { 'Content-Type': 'application/octet-stream' })).status);
    assert.deepEqual(statuses, [503, 503, 200]);
    const puts = (await requests()).filter((e) => e.server === 'store');
    assert.deepEqual(puts.map((e) => [e.status, e.fault ?? null, e.bodyBytes]), [[503, 'status', 4], [503, 'status', 4], [200, null, 4]]);
    assert.equal((await storedObject(server, 'demo-films/fallo.bin')).body.toString(), 'abcd');
  });

  await t.test('faults match on the query, so one part of a multipart upload can fail', async () => {
    const data = bytes(PART + 10, 'faults');
    const init = (await demo.post('/api/upload/init', { path: '', name: 'partes.mxf', size: data.length, type: 'application/octet-stream', accelerate: false })).body;
    const urls = (await demo.get('/api/upload/urls', { key: init.key, uploadId: init.uploadId, first: '1', last: '2', accelerate: '0' })).body.urls;
    await arm({ server: 'store', method: 'PUT', queryContains: 'partNumber=2', count: 1, action: 'status', status: 500 });
    const first = await put(urls['1'], data.subarray(0, PART));
    const failed = await put(urls['2'], data.subarray(PART));
    const retried = await put(urls['2'], data.subarray(PART));
    assert.deepEqual([first.status, failed.status, retried.status], [200, 500, 200]);
    assert.match(failed.text, /<Code>InternalError<\/Code>/);
    const done = await demo.post('/api/upload/complete', {
      key: init.key, uploadId: init.uploadId,
      parts: [{ PartNumber: 1, ETag: first.etag }, { PartNumber: 2, ETag: retried.etag }],
    });
    assert.equal(done.status, 200, done.text);
    assert.equal(md5((await storedObject(server, init.key)).body), md5(data));
  });

  await t.test('an etag fault stores the bytes but answers a wrong ETag', async () => {
    const url = await singleUrl('etag.bin', 5);
    await arm({ server: 'store', method: 'PUT', pathContains: 'etag.bin', action: 'etag' });
    const res = await put(url, Buffer.from('hello'), { 'Content-Type': 'application/octet-stream' });
    assert.equal(res.status, 200);
    assert.match(res.etag, /^"[0-9a-f]{32}"$/);
    assert.notEqual(res.etag, `"${md5('hello')}"`);
    assert.equal((await storedObject(server, 'demo-films/etag.bin')).body.toString(), 'hello');
    const again = await put(url, Buffer.from('hello'), { 'Content-Type': 'application/octet-stream' });
    assert.equal(again.etag, `"${md5('hello')}"`);
  });

  await t.test('a reset fault drops the connection without an answer', async () => {
    const url = await singleUrl('reset.bin', 5);
    await arm({ server: 'store', pathContains: 'reset.bin', action: 'reset' });
    await assert.rejects(put(url, Buffer.from('hello'), { 'Content-Type': 'application/octet-stream' }));
    assert.equal((await storedObject(server, 'demo-films/reset.bin')).status, 404);
    const entry = (await requests()).filter((e) => e.path.endsWith('reset.bin')).at(-1);
    assert.equal(entry.fault, 'reset');
    assert.equal(entry.status, 0);
    assert.equal((await put(url, Buffer.from('hello'), { 'Content-Type': 'application/octet-stream' })).status, 200);
  });

  await t.test('a delay fault holds the request back, then serves it', async () => {
    const url = await singleUrl('lento.bin', 1);
    await arm({ server: 'store', pathContains: 'lento.bin', action: 'delay', ms: 300 });
    const started = Date.now();
    const res = await put(url, Buffer.from('x'), { 'Content-Type': 'application/octet-stream' });
    assert.equal(res.status, 200);
    assert.ok(Date.now() - started >= 250);
  });

  await t.test('an expire fault refuses URLs signed longer ago than its seconds and lets younger ones pass', async () => {
    const old = await signedPutUrl(server, 'demo-films/caduca.bin', { expiresIn: 3600, signingDate: new Date(Date.now() - 20e3) });
    const young = await signedPutUrl(server, 'demo-films/caduca.bin', { expiresIn: 3600 });
    await arm({ server: 'store', pathContains: 'caduca.bin', action: 'expire', seconds: 10, count: 1 });
    assert.equal((await put(young, Buffer.from('x'))).status, 200);
    const refused = await put(old, Buffer.from('x'));
    assert.equal(refused.status, 403);
    assert.match(refused.text, /<Code>AccessDenied<\/Code><Message>Request has expired<\/Message>/);
    assert.equal((await requests()).at(-1).fault, 'expire');
    assert.equal((await put(old, Buffer.from('x'))).status, 200, 'its count is used up');
  });

  await t.test('a json fault changes members of the next successful service answer', async () => {
    await arm({ server: 'service', pathContains: '/api/upload/init', action: 'json', merge: { partSize: 2 ** 62 } });
    const body = { path: '', name: 'enorme.mxf', size: 3 * PART, type: '', accelerate: false };
    const changed = (await demo.post('/api/upload/init', body)).body;
    assert.deepEqual([changed.mode, changed.partSize], ['multipart', 2 ** 62]);
    assert.equal((await demo.post('/api/upload/init', body)).body.partSize, PART);
  });

  await t.test('service requests can be failed too', async () => {
    await arm({ server: 'service', method: 'GET', pathContains: '/api/ls', action: 'status', status: 500 });
    const failed = await demo.get('/api/ls', { path: '' });
    assert.equal(failed.status, 500);
    assert.equal(typeof failed.body.error, 'string');
    assert.equal((await demo.get('/api/ls', { path: '' })).status, 200);
  });

  await t.test('reset clears the log and the armed faults', async () => {
    await arm({ server: 'service', pathContains: '/api/me', action: 'status', status: 500, count: 5 });
    assert.equal((await control.get('/__control/faults')).body.length, 1);
    await control.post('/__control/reset');
    assert.deepEqual(await requests(), []);
    assert.deepEqual((await control.get('/__control/faults')).body, []);
    assert.equal((await demo.get('/api/me')).status, 200);
  });

  await t.test('malformed faults are refused', async () => {
    for (const fault of [{ action: 'explode' }, { action: 'status' }, { action: 'status', status: 99 },
      { action: 'delay' }, { action: 'reset', count: 0 }, { action: 'reset', server: 'other' }, { action: 'expire' },
      { action: 'json', server: 'service' }, { action: 'json', merge: {} }]) {
      assert.equal((await control.post('/__control/faults', fault)).status, 400, JSON.stringify(fault));
    }
  });

  await t.test('objects lists keys, sizes and MD5s; object answers 404 when absent', async () => {
    const listed = (await control.get('/__control/objects', { prefix: 'demo-films/etag' })).body;
    assert.deepEqual(listed, [{ key: 'demo-films/etag.bin', size: 5, md5: md5('hello') }]);
    assert.equal((await storedObject(server, 'demo-films/nada.bin')).status, 404);
    assert.deepEqual((await control.get('/__control/objects', { prefix: '', bucket: 'zafrel-otra' })).body, []);
  });
});

test('with --upload-origin the PUT URLs point at the given sink and completion needs no store', async (t) => {
  const seen = [];
  const sink = http.createServer((req, res) => {
    const hash = require('node:crypto').createHash('md5');
    req.on('data', (c) => hash.update(c));
    req.on('end', () => {
      seen.push(`${req.method} ${req.url.split('?')[0]}`);
      res.writeHead(200, { ETag: `"${hash.digest('hex')}"` });
      res.end();
    });
  });
  await new Promise((resolve) => sink.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${sink.address().port}`;
  t.after(() => new Promise((resolve) => sink.close(resolve)));

  const server = await startServer(['--upload-origin', origin]);
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');

  const single = (await demo.post('/api/upload/init', { path: '', name: 'a.bin', size: 3, type: '', accelerate: false })).body;
  assert.equal(new URL(single.url).origin, origin);
  const res = await put(single.url, Buffer.from('abc'), { 'Content-Type': single.contentType });
  assert.equal(res.etag, `"${md5('abc')}"`);

  const multi = (await demo.post('/api/upload/init', { path: 'X/', name: 'b.bin', size: 3 * PART, type: '', accelerate: false })).body;
  assert.equal(multi.mode, 'multipart');
  assert.equal(multi.parts, 3);
  const urls = (await demo.get('/api/upload/urls', { key: multi.key, uploadId: multi.uploadId, first: '1', last: '3', accelerate: '0' })).body.urls;
  for (const url of Object.values(urls)) assert.equal(new URL(url).origin, origin);
  const done = await demo.post('/api/upload/complete', { key: multi.key, uploadId: multi.uploadId, parts: [{ PartNumber: 1, ETag: '"x"' }] });
  assert.equal(done.status, 200);
  const other = (await demo.post('/api/upload/init', { path: '', name: 'c.bin', size: 3 * PART, type: '', accelerate: false })).body;
  assert.equal((await demo.post('/api/upload/abort', { key: other.key, uploadId: other.uploadId })).status, 200);
  const otra = await signedIn(server, 'otra');
  assert.equal((await otra.post('/api/upload/abort', { key: other.key, uploadId: other.uploadId })).status, 403);

  assert.deepEqual(seen, ['PUT /zafrel-demo/demo-films/a.bin']);
  assert.deepEqual((await server.control.get('/__control/requests', { server: 'store' })).body, []);
});
