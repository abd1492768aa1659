'use strict';
// The options the throughput benchmark starts the stand-in with.

const test = require('node:test');
const assert = require('node:assert/strict');
const { setTimeout: sleep } = require('node:timers/promises');
const { startServer, signedIn, put, md5, bytes, storedObject, MiB } = require('./helpers');

const PART = 32 * MiB;

test('with --direct-store the signed URLs name s3rver itself and uploads land there', async (t) => {
  const server = await startServer(['--direct-store']);
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');

  const single = (await demo.post('/api/upload/init', { path: 'D/', name: 'a.bin', size: 3, type: '', accelerate: false })).body;
  assert.equal(new URL(single.url).origin, server.info.s3rver);
  assert.equal((await put(single.url, Buffer.from('abc'), { 'Content-Type': single.contentType })).etag, `"${md5('abc')}"`);

  const data = bytes(PART + 7, 'direct');
  const multi = (await demo.post('/api/upload/init', { path: 'D/', name: 'b.bin', size: data.length, type: '', accelerate: false })).body;
  const urls = (await demo.get('/api/upload/urls', { key: multi.key, uploadId: multi.uploadId, first: '1', last: '2', accelerate: '0' })).body.urls;
  const parts = [];
  for (const [n, url] of Object.entries(urls)) {
    assert.equal(new URL(url).origin, server.info.s3rver);
    const res = await put(url, data.subarray((n - 1) * PART, n * PART));
    assert.equal(res.status, 200, res.text);
    parts.push({ PartNumber: Number(n), ETag: res.etag });
  }
  const done = await demo.post('/api/upload/complete', { key: multi.key, uploadId: multi.uploadId, parts });
  assert.equal(done.status, 200, done.text);

  assert.equal((await storedObject(server, 'demo-films/D/a.bin')).body.toString(), 'abc');
  assert.equal(md5((await storedObject(server, multi.key)).body), md5(data));
  assert.deepEqual((await server.control.get('/__control/requests', { server: 'store' })).body, [], 'the front saw nothing');
});

test('with --latency the service and the store front hold every request, the control endpoint does not', async (t) => {
  const server = await startServer(['--latency', '60000']);
  t.after(() => server.stop());
  const answered = [];
  const send = (url, init) => fetch(url, init).then(() => answered.push(url), () => {});
  send(new URL('/api/me', server.info.service));
  send(new URL('/zafrel-demo/x.bin', server.info.store), { method: 'PUT', body: 'x' });
  await sleep(500);
  assert.deepEqual((await server.control.get('/__control/requests')).body, [], 'neither request has been handled');
  assert.deepEqual(answered, []);
});

test('measurement options are checked', async () => {
  for (const args of [['--latency', '-1'], ['--latency', 'x'], ['--latency', '60001'], ['--direct-store', '--latency', '5'],
    ['--direct-store', '--upload-origin', 'http://127.0.0.1:9']]) {
    const outcome = await startServer(args).catch((err) => err);
    if (!(outcome instanceof Error)) await outcome.stop();
    assert.match(String(outcome?.message), /exited with 2/, args.join(' '));
  }
});
