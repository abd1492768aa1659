'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { startServer, signedIn, put } = require('./helpers');

// Whether the request gets an answer at all (any status).
async function answers(request) {
  try {
    await request();
    return true;
  } catch {
    return false;
  }
}

// Polls until `request` is answered again; the outages here last a few seconds.
async function answersAgain(request) {
  const deadline = Date.now() + 20000;
  while (Date.now() < deadline) {
    if (await answers(request)) return true;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return false;
}

test('outages: listeners that go away for some seconds and come back on the same port', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const demo = await signedIn(server, 'demo');
  const control = server.control;
  const me = () => demo.get('/api/me');
  const init = (name) => demo.post('/api/upload/init', { path: '', name, size: 4, type: 'application/octet-stream', accelerate: false });
  const url = (await init('antes.bin')).body.url;
  const upload = () => put(url, Buffer.from('abcd'), { 'Content-Type': 'application/octet-stream' });

  await t.test('a control request takes the service, the store or both away', async () => {
    for (const [down, serviceAway, storeAway] of [['service', true, false], ['store', false, true], ['both', true, true]]) {
      const res = await control.post('/__control/outage', { down, seconds: 1 });
      assert.equal(res.status, 200, res.text);
      assert.equal(await answers(me), !serviceAway, down);
      assert.equal(await answers(upload), !storeAway, down);
      assert.ok(await answersAgain(me), down);
      assert.ok(await answersAgain(upload), down);
    }
    // The session and the stored objects outlive the outage.
    assert.equal((await me()).status, 200);
    assert.equal((await upload()).status, 200);
  });

  await t.test('an outage fault starts at a chosen request, which it cuts too', async () => {
    await control.post('/__control/reset');
    const armed = await control.post('/__control/faults', {
      server: 'service', pathContains: '/api/upload/init', skip: 1, action: 'outage', seconds: 2, ms: 200,
    });
    assert.equal(armed.status, 200, armed.text);
    assert.equal((await init('uno.bin')).status, 200);
    assert.equal(await answers(() => init('dos.bin')), false);
    assert.ok(await answersAgain(me));
    assert.equal((await init('tres.bin')).status, 200);
    const inits = (await control.get('/__control/requests', { server: 'service' })).body.filter((e) => e.path === '/api/upload/init');
    assert.deepEqual(inits.map((e) => [e.status, e.fault ?? null]), [[200, null], [0, 'outage'], [200, null]]);
  });

  await t.test('a logout fault ends the session of the request it meets', async () => {
    await control.post('/__control/faults', { server: 'service', pathContains: '/api/ls', action: 'logout' });
    assert.equal((await demo.get('/api/ls', { path: '' })).status, 401);
    assert.equal((await me()).status, 401);
  });

  await t.test('malformed outages are refused', async () => {
    for (const body of [{ seconds: 0 }, { seconds: 1.5 }, { seconds: 2, down: 'front' }]) {
      assert.equal((await control.post('/__control/outage', body)).status, 400, JSON.stringify(body));
    }
    assert.equal((await control.post('/__control/faults', { server: 'store', action: 'logout' })).status, 400);
    assert.equal((await control.post('/__control/faults', { action: 'status', status: 500, skip: -1 })).status, 400);
  });
});
