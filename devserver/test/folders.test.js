'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { startServer, signedIn, put, bytes } = require('./helpers');

async function upload(client, folder, name, data) {
  const init = await client.post('/api/upload/init', { path: folder, name, size: data.length, type: 'application/octet-stream', accelerate: false });
  assert.equal(init.status, 200, init.text);
  const res = await put(init.body.url, data, { 'Content-Type': init.body.contentType });
  assert.equal(res.status, 200, res.text);
  return init.body.key;
}

test('folder listing and creation', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');
  const admin = await signedIn(server, 'admin');
  const otra = await signedIn(server, 'otra');

  await t.test('a fresh company top is empty', async () => {
    const res = await demo.get('/api/ls', { path: '' });
    assert.equal(res.status, 200);
    assert.deepEqual(res.body, { path: '', folders: [], files: [] });
  });

  await t.test('mkdir creates folders that ls shows with counts and sizes', async () => {
    assert.deepEqual((await demo.post('/api/mkdir', { path: '', name: 'Día 1' })).body, { ok: true });
    assert.equal((await demo.post('/api/mkdir', { path: 'Día 1/', name: 'Tarjeta A' })).status, 200);
    await upload(demo, 'Día 1/', 'notas.txt', Buffer.from('hola'));
    await upload(demo, 'Día 1/Tarjeta A/', 'C0001.MXF', bytes(1000));
    await upload(demo, 'Día 1/Tarjeta A/', 'C0002.MXF', bytes(24));

    const top = await demo.get('/api/ls', { path: '' });
    assert.deepEqual(top.body.folders, [{ name: 'Día 1', path: 'Día 1/', count: 3, size: 1028 }]);
    assert.deepEqual(top.body.files, []);

    const day = await demo.get('/api/ls', { path: 'Día 1/' });
    assert.equal(day.body.path, 'Día 1/');
    assert.deepEqual(day.body.folders, [{ name: 'Tarjeta A', path: 'Día 1/Tarjeta A/', count: 2, size: 1024 }]);
    assert.equal(day.body.files.length, 1);
    const [file] = day.body.files;
    assert.equal(file.name, 'notas.txt');
    assert.equal(file.path, 'Día 1/notas.txt');
    assert.equal(file.size, 4);
    assert.ok(Number.isInteger(file.modified) && Math.abs(file.modified - Date.now() / 1000) < 600);

    const card = await demo.get('/api/ls', { path: 'Día 1/Tarjeta A/' });
    assert.deepEqual(card.body.files.map((f) => [f.name, f.size]), [['C0001.MXF', 1000], ['C0002.MXF', 24]]);
  });

  await t.test('keys live under the company folder of its bucket', async () => {
    const res = await fetch(new URL('/__control/objects?prefix=demo-films/', server.info.service));
    const keys = (await res.json()).map((o) => o.key);
    assert.deepEqual(keys, [
      'demo-films/Día 1/',
      'demo-films/Día 1/Tarjeta A/',
      'demo-films/Día 1/Tarjeta A/C0001.MXF',
      'demo-films/Día 1/Tarjeta A/C0002.MXF',
      'demo-films/Día 1/notas.txt',
    ]);
  });

  await t.test('mkdir refuses bad names, missing parents and duplicates', async () => {
    for (const name of ['', '   ', 'a/b', '..', '.', 'x\ny']) {
      const res = await demo.post('/api/mkdir', { path: '', name });
      assert.equal(res.status, 400, JSON.stringify(name));
      assert.equal(typeof res.body.error, 'string');
    }
    assert.equal((await demo.post('/api/mkdir', { path: 'No existe/', name: 'x' })).status, 404);
    assert.equal((await demo.post('/api/mkdir', { path: '../', name: 'x' })).status, 400);
    assert.equal((await demo.post('/api/mkdir', { path: 'Día 1', name: 'x' })).status, 400);
    assert.equal((await demo.post('/api/mkdir', { path: '', name: 'Día 1' })).status, 409);
  });

  await t.test('ls refuses malformed paths and answers 404 for a missing folder', async () => {
    assert.equal((await demo.get('/api/ls', { path: 'No existe/' })).status, 404);
    for (const path of ['../', 'Día 1/../', '/Día 1/', 'Día 1', 'Día 1//']) {
      assert.equal((await demo.get('/api/ls', { path })).status, 400, path);
    }
  });

  await t.test('a path in the query arrives unchanged: %2B is a plus, %20 and + are spaces', async () => {
    assert.equal((await demo.post('/api/mkdir', { path: 'Día 1/', name: 'A+B C' })).status, 200);
    for (const raw of ['D%C3%ADa%201%2FA%2BB%20C%2F', 'D%C3%ADa+1/A%2BB+C/']) {
      const res = await demo.request('GET', `/api/ls?path=${raw}`);
      assert.equal(res.status, 200, raw);
      assert.equal(res.body.path, 'Día 1/A+B C/');
    }
  });

  await t.test('the administrator sees the companies at the top, labelled by name', async () => {
    const top = await admin.get('/api/ls', { path: '' });
    assert.equal(top.status, 200);
    assert.deepEqual(top.body, {
      path: '',
      folders: [
        { name: 'demo-films', path: 'demo-films/', label: 'Demo Films', count: 3, size: 1028 },
        { name: 'otra-productora', path: 'otra-productora/', label: 'Otra Productora', count: 0, size: 0 },
      ],
      files: [],
    });
    const demoRoot = await admin.get('/api/ls', { path: 'demo-films/' });
    assert.deepEqual(demoRoot.body.folders, [{ name: 'Día 1', path: 'demo-films/Día 1/', count: 3, size: 1028 }]);
    const day = await admin.get('/api/ls', { path: 'demo-films/Día 1/' });
    assert.deepEqual(day.body.files.map((f) => f.path), ['demo-films/Día 1/notas.txt']);
    assert.equal((await admin.get('/api/ls', { path: 'nadie/' })).status, 404);
  });

  await t.test('the administrator creates folders inside a company but not at the top', async () => {
    assert.equal((await admin.post('/api/mkdir', { path: '', name: 'nueva-empresa' })).status, 403);
    assert.equal((await admin.post('/api/mkdir', { path: 'otra-productora/', name: 'Rodaje' })).status, 200);
    const otraTop = await otra.get('/api/ls', { path: '' });
    assert.deepEqual(otraTop.body.folders, [{ name: 'Rodaje', path: 'Rodaje/', count: 0, size: 0 }]);
  });

  await t.test('companies do not see each other', async () => {
    const otraTop = await otra.get('/api/ls', { path: '' });
    assert.ok(!otraTop.body.folders.some((f) => f.name === 'Día 1'));
    assert.equal((await otra.get('/api/ls', { path: 'Día 1/' })).status, 404);
    assert.equal((await otra.get('/api/ls', { path: 'demo-films/Día 1/' })).status, 404);
  });
});
