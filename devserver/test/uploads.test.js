'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { startServer, signedIn, put, signedPutUrl, md5, bytes, storedObject, MiB } = require('./helpers');

const PART = 32 * MiB;

function initBody(path, name, size, type = 'application/octet-stream') {
  return { path, name, size, type, accelerate: false };
}

async function openUploads(server, bucket = 'zafrel-demo') {
  const res = await fetch(new URL(`/__control/uploads?bucket=${bucket}`, server.info.service));
  return res.json();
}

test('single uploads through pre-signed URLs', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');

  await t.test('a file up to 32 MiB gets a single PUT URL on the store front, and lands byte for byte', async () => {
    const data = bytes(100000, 'single');
    const init = await demo.post('/api/upload/init', initBody('Día 1/', 'clip 01.mov', data.length, 'video/quicktime'));
    assert.equal(init.status, 200);
    assert.equal(init.body.mode, 'single');
    assert.equal(init.body.key, 'demo-films/Día 1/clip 01.mov');
    assert.equal(init.body.contentType, 'video/quicktime');
    assert.equal(init.body.uploadId, undefined);
    const url = new URL(init.body.url);
    assert.equal(url.origin, server.info.store);
    assert.equal(url.pathname, '/zafrel-demo/demo-films/D%C3%ADa%201/clip%2001.mov');
    assert.ok(url.searchParams.get('X-Amz-Signature'));
    assert.equal(url.searchParams.get('x-amz-checksum-crc32'), null);

    const res = await put(init.body.url, data, { 'Content-Type': 'video/quicktime' });
    assert.equal(res.status, 200);
    assert.equal(res.etag, `"${md5(data)}"`);
    const stored = await storedObject(server, 'demo-films/Día 1/clip 01.mov');
    assert.equal(stored.status, 200);
    assert.ok(stored.body.equals(data));
  });

  await t.test('exactly 32 MiB is still single; one byte more is multipart', async () => {
    const single = await demo.post('/api/upload/init', initBody('', 'a.bin', PART));
    assert.equal(single.body.mode, 'single');
    const multi = await demo.post('/api/upload/init', initBody('', 'b.bin', PART + 1));
    assert.equal(multi.body.mode, 'multipart');
    await demo.post('/api/upload/abort', { key: multi.body.key, uploadId: multi.body.uploadId });
  });

  await t.test('an empty type becomes application/octet-stream, and that is what the URL is signed for', async () => {
    const init = await demo.post('/api/upload/init', initBody('', 'sin-tipo', 3, ''));
    assert.equal(init.body.contentType, 'application/octet-stream');
    assert.equal((await put(init.body.url, Buffer.from('abc'), { 'Content-Type': 'application/octet-stream' })).status, 200);
  });

  await t.test('a PUT with another Content-Type is refused with 403 and stores nothing', async () => {
    const init = await demo.post('/api/upload/init', initBody('', 'tipo.txt', 5, 'text/plain'));
    const res = await put(init.body.url, Buffer.from('hello'), { 'Content-Type': 'text/html' });
    assert.equal(res.status, 403);
    assert.match(res.text, /<Code>SignatureDoesNotMatch<\/Code>/);
    assert.equal((await storedObject(server, 'demo-films/tipo.txt')).status, 404);
  });

  await t.test('a tampered URL is refused with 403', async () => {
    const init = await demo.post('/api/upload/init', initBody('', 'firmado.bin', 4));
    const good = new URL(init.body.url);
    const badSignature = new URL(good);
    const sig = good.searchParams.get('X-Amz-Signature');
    badSignature.searchParams.set('X-Amz-Signature', (sig[0] === 'a' ? 'b' : 'a') + sig.slice(1));
    const otherKey = new URL(good);
    otherKey.pathname = otherKey.pathname.replace('firmado.bin', 'otro.bin');
    const longer = new URL(good);
    longer.searchParams.set('X-Amz-Expires', '604800');
    const unsigned = new URL(good.origin + good.pathname);
    for (const url of [badSignature, otherKey, longer, unsigned]) {
      const res = await put(url.href, Buffer.from('data'), { 'Content-Type': 'application/octet-stream' });
      assert.equal(res.status, 403, url.href);
      assert.match(res.text, /<Error><Code>(SignatureDoesNotMatch|AccessDenied)<\/Code>/);
    }
    assert.equal((await storedObject(server, 'demo-films/otro.bin')).status, 404);
  });

  await t.test('an expired URL is refused with "Request has expired"', async () => {
    const expired = await signedPutUrl(server, 'demo-films/viejo.bin', { expiresIn: 60, signingDate: new Date(Date.now() - 3600e3) });
    const fresh = await signedPutUrl(server, 'demo-films/viejo.bin', { expiresIn: 60 });
    const res = await put(expired, Buffer.from('x'));
    assert.equal(res.status, 403);
    assert.match(res.text, /<Code>AccessDenied<\/Code><Message>Request has expired<\/Message>/);
    assert.equal((await put(fresh, Buffer.from('x'))).status, 200, 'the verifier accepts what the SDK signs');
  });

  await t.test('init validates its body', async () => {
    const cases = [
      initBody('', '', 1), initBody('', 'a/b', 1), initBody('', '..', 1), initBody('../', 'x', 1),
      initBody('', 'x', -1), initBody('', 'x', 1.5), initBody('', 'x', '10'), initBody('', 'x', 6 * 1024 ** 4),
      initBody('', 'x', 1, 'text/plain\r\nX-Evil: 1'), { ...initBody('', 'x', 1), accelerate: 'yes' },
    ];
    for (const body of cases) {
      const res = await demo.post('/api/upload/init', body);
      assert.equal(res.status, 400, JSON.stringify(body));
      assert.equal(typeof res.body.error, 'string');
    }
  });
});

test('multipart uploads', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');
  const data = bytes(PART + 1000, 'multipart');
  const parts = [data.subarray(0, PART), data.subarray(PART)];

  async function begin(name) {
    const init = await demo.post('/api/upload/init', initBody('Día 2/', name, data.length, 'application/mxf'));
    assert.equal(init.status, 200, init.text);
    return init.body;
  }

  async function partUrls(upload, first, last) {
    const res = await demo.get('/api/upload/urls', { key: upload.key, uploadId: upload.uploadId, first, last, accelerate: '0' });
    assert.equal(res.status, 200, res.text);
    return res.body.urls;
  }

  await t.test('init, part URLs, part PUTs and completion assemble the file', async () => {
    const upload = await begin('A001.mxf');
    assert.deepEqual(
      { mode: upload.mode, key: upload.key, partSize: upload.partSize, parts: upload.parts, contentType: upload.contentType },
      { mode: 'multipart', key: 'demo-films/Día 2/A001.mxf', partSize: PART, parts: 2, contentType: 'application/mxf' });
    assert.match(upload.uploadId, /^[0-9a-f]{32}$/);

    const urls = await partUrls(upload, 1, 2);
    assert.deepEqual(Object.keys(urls), ['1', '2']);
    for (const url of Object.values(urls)) assert.equal(new URL(url).origin, server.info.store);

    // Parts go without Content-Type, in any order.
    const second = await put(urls['2'], parts[1]);
    const first = await put(urls['1'], parts[0]);
    assert.equal(first.status, 200);
    assert.equal(first.etag, `"${md5(parts[0])}"`);
    assert.equal(second.etag, `"${md5(parts[1])}"`);

    const done = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 1, ETag: first.etag }, { PartNumber: 2, ETag: second.etag }],
    });
    assert.equal(done.status, 200, done.text);
    assert.deepEqual(done.body, { ok: true });
    const stored = await storedObject(server, upload.key);
    assert.equal(stored.body.length, data.length);
    assert.equal(md5(stored.body), md5(data));
    const listing = await demo.get('/api/ls', { path: 'Día 2/' });
    assert.deepEqual(listing.body.files.map((f) => [f.name, f.size]), [['A001.mxf', data.length]]);
    assert.deepEqual(await openUploads(server), []);
  });

  await t.test('the part size keeps every upload within 10,000 parts', async () => {
    for (const size of [10000 * PART, 10000 * PART + 1, 3 * 1024 ** 4, 5 * 1024 ** 4]) {
      const res = await demo.post('/api/upload/init', initBody('', 'enorme.bin', size));
      assert.equal(res.status, 200);
      const { partSize, parts } = res.body;
      assert.ok(partSize >= PART);
      assert.equal(parts, Math.ceil(size / partSize));
      assert.ok(parts <= 10000, `${size}: ${parts} parts`);
      await demo.post('/api/upload/abort', { key: res.body.key, uploadId: res.body.uploadId });
    }
  });

  await t.test('part URL requests are validated', async () => {
    const upload = await begin('urls.mxf');
    const ask = (query) => demo.get('/api/upload/urls', { key: upload.key, uploadId: upload.uploadId, accelerate: '0', ...query });
    for (const query of [{ first: '0', last: '1' }, { first: '2', last: '1' }, { first: 'x', last: '1' }, { first: '1' },
      { first: '1', last: '3' }, { first: '1', last: '10001' }]) {
      const res = await ask(query);
      assert.equal(res.status, 400, JSON.stringify(query));
      assert.equal(typeof res.body.error, 'string');
    }
    assert.equal((await ask({ first: '1', last: '1', uploadId: 'f'.repeat(32) })).status, 404);
    assert.equal((await ask({ first: '1', last: '1', uploadId: '../../x' })).status, 404);
    assert.equal((await ask({ first: '1', last: '1', key: 'demo-films/Día 2/otro.mxf' })).status, 404);

    const big = await demo.post('/api/upload/init', initBody('', 'grande.bin', 1024 ** 4));
    const many = await demo.get('/api/upload/urls', { key: big.body.key, uploadId: big.body.uploadId, first: '1', last: '1000', accelerate: '1' });
    assert.equal(many.status, 200);
    assert.equal(Object.keys(many.body.urls).length, 1000);
    const tooMany = await demo.get('/api/upload/urls', { key: big.body.key, uploadId: big.body.uploadId, first: '1', last: '1001', accelerate: '0' });
    assert.equal(tooMany.status, 400);
    await demo.post('/api/upload/abort', { key: big.body.key, uploadId: big.body.uploadId });
    await demo.post('/api/upload/abort', { key: upload.key, uploadId: upload.uploadId });
  });

  await t.test('a completion naming a missing part or a wrong ETag is refused, the server stays up, and the upload can still finish', async () => {
    const upload = await begin('A002.mxf');
    const urls = await partUrls(upload, 1, 2);
    const first = await put(urls['1'], parts[0]);

    const missing = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 1, ETag: first.etag }, { PartNumber: 2, ETag: `"${md5(parts[1])}"` }],
    });
    assert.equal(missing.status, 400);
    assert.match(missing.body.error, /parte 2/);
    assert.ok(server.alive());
    assert.equal((await demo.get('/api/me')).status, 200);

    const second = await put(urls['2'], parts[1]);
    const wrongEtag = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 1, ETag: `"${md5('otra cosa')}"` }, { PartNumber: 2, ETag: second.etag }],
    });
    assert.equal(wrongEtag.status, 400);
    assert.match(wrongEtag.body.error, /parte 1/);

    const unordered = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 2, ETag: second.etag }, { PartNumber: 1, ETag: first.etag }],
    });
    assert.equal(unordered.status, 400);

    const short = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId, parts: [{ PartNumber: 1, ETag: first.etag }],
    });
    assert.equal(short.status, 400, 'a completion that would store fewer bytes than declared is refused');
    assert.equal((await storedObject(server, upload.key)).status, 404);

    const done = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 1, ETag: first.etag.replace(/"/g, '') }, { PartNumber: 2, ETag: second.etag }],
    });
    assert.equal(done.status, 200, done.text);
    assert.equal(md5((await storedObject(server, upload.key)).body), md5(data));
  });

  await t.test('abort removes the upload; its URLs stop working and it cannot be completed', async () => {
    const upload = await begin('A003.mxf');
    const urls = await partUrls(upload, 1, 2);
    const first = await put(urls['1'], parts[0]);
    assert.ok((await openUploads(server)).some((u) => u.uploadId === upload.uploadId && u.parts.includes(1)));

    const aborted = await demo.post('/api/upload/abort', { key: upload.key, uploadId: upload.uploadId });
    assert.equal(aborted.status, 200);
    assert.deepEqual(aborted.body, { ok: true });
    assert.ok(!(await openUploads(server)).some((u) => u.uploadId === upload.uploadId));

    const late = await put(urls['2'], parts[1]);
    assert.equal(late.status, 404);
    assert.match(late.text, /NoSuchUpload/);
    const complete = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId, parts: [{ PartNumber: 1, ETag: first.etag }],
    });
    assert.equal(complete.status, 404);
    assert.equal((await demo.post('/api/upload/abort', { key: upload.key, uploadId: upload.uploadId })).status, 200, 'abort is idempotent');
    assert.equal((await demo.post('/api/upload/done')).status, 200);
  });

  await t.test('an upload the store forgets refuses its parts while the service still signs for it', async () => {
    const upload = await begin('A005.mxf');
    const urls = await partUrls(upload, 1, 2);
    assert.equal((await put(urls['1'], parts[0])).status, 200);
    const forget = (uploadId) => server.control.post('/__control/forget-upload', { uploadId });
    assert.equal((await forget(upload.uploadId)).status, 200);
    assert.ok(!(await openUploads(server)).some((u) => u.uploadId === upload.uploadId));
    assert.equal((await forget(upload.uploadId)).status, 404);

    const late = await put((await partUrls(upload, 2, 2))['2'], parts[1]);
    assert.equal(late.status, 404);
    assert.match(late.text, /NoSuchUpload/);
    assert.equal((await demo.post('/api/upload/abort', { key: upload.key, uploadId: upload.uploadId })).status, 200);
    assert.equal((await demo.get('/api/upload/urls', { key: upload.key, uploadId: upload.uploadId, first: 1, last: 1, accelerate: '0' })).status, 404);
  });

  await t.test('a part PUT cut off halfway leaves the part stored before intact', async () => {
    const upload = await begin('A004.mxf');
    const urls = await partUrls(upload, 1, 2);
    const first = await put(urls['1'], parts[0]);
    const second = await put(urls['2'], parts[1]);

    // Re-send part 1 with a declared length larger than what is sent, then hang up.
    const http = require('node:http');
    const url = new URL(urls['1']);
    await new Promise((resolve) => {
      const req = http.request(url, { method: 'PUT', headers: { 'Content-Length': PART } });
      req.on('error', resolve);
      req.write(Buffer.alloc(1000, 7), () => setTimeout(() => { req.destroy(); resolve(); }, 200));
    });

    const done = await demo.post('/api/upload/complete', {
      key: upload.key, uploadId: upload.uploadId,
      parts: [{ PartNumber: 1, ETag: first.etag }, { PartNumber: 2, ETag: second.etag }],
    });
    assert.equal(done.status, 200, done.text);
    assert.equal(md5((await storedObject(server, upload.key)).body), md5(data));
  });

  await t.test('the administrator uploads into a company folder', async () => {
    const admin = await signedIn(server, 'admin');
    const init = await admin.post('/api/upload/init', initBody('otra-productora/Rodaje/', 'adm.txt', 3));
    assert.equal(init.status, 200);
    assert.equal(init.body.key, 'otra-productora/Rodaje/adm.txt');
    assert.match(new URL(init.body.url).pathname, /^\/zafrel-otra\/otra-productora\/Rodaje\/adm\.txt$/);
    assert.equal((await put(init.body.url, Buffer.from('abc'), { 'Content-Type': 'application/octet-stream' })).status, 200);
    assert.equal((await storedObject(server, 'otra-productora/Rodaje/adm.txt', 'zafrel-otra')).body.toString(), 'abc');
    assert.equal((await admin.post('/api/upload/init', initBody('', 'top.txt', 3))).status, 400);
  });
});

test('one company can never reach another company\'s uploads', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');
  const otra = await signedIn(server, 'otra');

  const init = await demo.post('/api/upload/init', initBody('', 'secreto.mxf', PART + 1));
  const { key, uploadId } = init.body;

  const urls = await otra.get('/api/upload/urls', { key, uploadId, first: '1', last: '1', accelerate: '0' });
  assert.equal(urls.status, 403);
  assert.equal(typeof urls.body.error, 'string');
  const complete = await otra.post('/api/upload/complete', { key, uploadId, parts: [{ PartNumber: 1, ETag: '"x"' }] });
  assert.equal(complete.status, 403);
  const abort = await otra.post('/api/upload/abort', { key, uploadId });
  assert.equal(abort.status, 403);
  assert.ok((await openUploads(server)).some((u) => u.uploadId === uploadId), 'the upload is still there');

  // Its own key prefix with another company's upload id does not work either.
  const ownKey = 'otra-productora/secreto.mxf';
  assert.equal((await otra.get('/api/upload/urls', { key: ownKey, uploadId, first: '1', last: '1', accelerate: '0' })).status, 404);
  assert.equal((await otra.post('/api/upload/abort', { key: ownKey, uploadId })).status, 404);
  assert.ok((await openUploads(server)).some((u) => u.uploadId === uploadId));

  for (const bad of ['otra-productora/../demo-films/secreto.mxf', 'demo-films/secreto.mxf', '../x', '']) {
    const res = await otra.get('/api/upload/urls', { key: bad, uploadId, first: '1', last: '1', accelerate: '0' });
    assert.ok([400, 403].includes(res.status), `${bad}: ${res.status}`);
  }
  assert.equal((await demo.post('/api/upload/abort', { key, uploadId })).status, 200);
});
