#!/usr/bin/env node
'use strict';
// Local stand-in for the company's upload service and its S3 bucket:
//   service (JSON API and /__control) -> store front (checks pre-signed URLs) -> s3rver.
// Prints one line "ZAFREL_DEVSERVER {json}" with the addresses, then serves until SIGTERM/SIGINT.

process.env.AWS_SDK_JS_NODE_VERSION_SUPPORT_WARNING_DISABLED ??= 'true';

const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { loadAccounts } = require('./lib/accounts');
const { SessionStore } = require('./lib/sessions');
const { LoginThrottle } = require('./lib/login-throttle');
const { Store } = require('./lib/store');
const { UploadRegistry } = require('./lib/registry');
const { Presigner, MAX_EXPIRES } = require('./lib/presign');
const { Recorder, sleep } = require('./lib/recorder');
const { Service } = require('./lib/service');
const { StoreFront } = require('./lib/front');
const { Control } = require('./lib/control');
const { Outages } = require('./lib/outage');
const { sendError, sendS3Error, parseQuery, splitUrl, safeDecode } = require('./lib/http-util');

const MAX_LATENCY_MS = 60000;

const USAGE = `Uso: node devserver/server.js [opciones]
  --port N             puerto del servicio (0: uno libre; por defecto 0)
  --store-port N       puerto de la entrada al almacén, a la que apuntan las URL firmadas (por defecto 0)
  --data DIR           carpeta de datos persistente (por defecto una temporal que se borra al salir)
  --accounts FILE      archivo de cuentas (por defecto devserver/accounts.json)
  --upload-origin URL  las URL de subida (PUT) apuntan a este origen (banco de pruebas)
  --url-expires S      validez de las URL firmadas en segundos (por defecto 21600)
  --latency MS         cada respuesta del servicio y de la entrada al almacén llega MS milisegundos
                       más tarde, como por una red lejana (por defecto 0)
  --direct-store       las URL firmadas apuntan directamente a s3rver, sin la entrada al almacén
                       (banco de pruebas, para comparar con otros clientes de S3)
`;

function parseArgs(argv) {
  const options = {
    port: 0,
    storePort: 0,
    data: null,
    accounts: path.join(__dirname, 'accounts.json'),
    uploadOrigin: null,
    urlExpires: 21600,
    latency: 0,
    directStore: false,
  };
  const names = {
    '--port': 'port', '--store-port': 'storePort', '--data': 'data', '--accounts': 'accounts',
    '--upload-origin': 'uploadOrigin', '--url-expires': 'urlExpires', '--latency': 'latency',
  };
  const flags = { '--direct-store': 'directStore' };
  for (let i = 0; i < argv.length; i++) {
    let arg = argv[i];
    if (arg === '--help' || arg === '-h') {
      process.stdout.write(USAGE);
      process.exit(0);
    }
    if (flags[arg]) {
      options[flags[arg]] = true;
      continue;
    }
    let value;
    const eq = arg.indexOf('=');
    if (arg.startsWith('--') && eq > 0) {
      value = arg.slice(eq + 1);
      arg = arg.slice(0, eq);
    }
    const field = names[arg];
    if (!field) throw new Error(`opción desconocida: ${arg}`);
    if (value === undefined) {
      if (i + 1 >= argv.length) throw new Error(`falta el valor de ${arg}`);
      value = argv[++i];
    }
    options[field] = value;
  }
  for (const field of ['port', 'storePort']) {
    const n = Number(options[field]);
    if (!Number.isInteger(n) || n < 0 || n > 65535) throw new Error(`puerto no válido: ${options[field]}`);
    options[field] = n;
  }
  const expires = Number(options.urlExpires);
  if (!Number.isInteger(expires) || expires < 1 || expires > MAX_EXPIRES) {
    throw new Error(`--url-expires debe estar entre 1 y ${MAX_EXPIRES}`);
  }
  options.urlExpires = expires;
  const latency = Number(options.latency);
  if (!Number.isInteger(latency) || latency < 0 || latency > MAX_LATENCY_MS) {
    throw new Error(`--latency debe ser un número entero de milisegundos entre 0 y ${MAX_LATENCY_MS}`);
  }
  options.latency = latency;
  if (options.directStore && options.uploadOrigin !== null) {
    throw new Error('--direct-store y --upload-origin no se pueden usar juntos');
  }
  // s3rver itself is not slowed down, so the uploads would cross no distance while the service's
  // answers did: a figure that would describe no real network.
  if (options.directStore && latency > 0) {
    throw new Error('--direct-store no admite --latency: s3rver responde sin demora');
  }
  if (options.uploadOrigin !== null) {
    let url;
    try {
      url = new URL(options.uploadOrigin);
    } catch {
      throw new Error(`--upload-origin no es una URL: ${options.uploadOrigin}`);
    }
    if (!/^https?:$/.test(url.protocol) || (url.pathname !== '/' && url.pathname !== '')) {
      throw new Error('--upload-origin debe ser un origen http(s) sin ruta, p. ej. http://127.0.0.1:9000');
    }
    options.uploadOrigin = url.origin;
  }
  return options;
}

// Idle connections stay open longer than clients keep them (curl and undici reuse them for a few
// seconds), so a request is never sent on a connection the server is just closing.
function keepIdleConnections(server) {
  server.keepAliveTimeout = 65000;
  server.headersTimeout = 66000;
}

function listen(server, port) {
  keepIdleConnections(server);
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => {
      server.off('error', reject);
      resolve(server.address().port);
    });
  });
}

// Shutdown steps, registered as each part comes up and run in reverse order. The signal handlers
// exist from the first moment, so a signal during start-up also leaves nothing behind.
const closers = [];
let stopping = false;

async function stop(code = 0) {
  if (stopping) return;
  stopping = true;
  setTimeout(() => process.exit(code), 5000).unref();
  for (const close of closers.reverse()) {
    try {
      await close();
    } catch (err) {
      process.stderr.write(`zafrel-devserver: al cerrar: ${err.message}\n`);
    }
  }
  process.exit(code);
}

function closeServer(server) {
  return new Promise((resolve) => {
    server.close(() => resolve());
    server.closeAllConnections();
  });
}

async function main() {
  process.on('SIGTERM', () => stop(0));
  process.on('SIGINT', () => stop(0));
  let options;
  try {
    options = parseArgs(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`zafrel-devserver: ${err.message}\n${USAGE}`);
    process.exit(2);
  }
  const accounts = loadAccounts(options.accounts);

  const temporary = options.data === null;
  const dataDir = path.resolve(temporary ? fs.mkdtempSync(path.join(os.tmpdir(), 'zafrel-devserver-')) : options.data);
  if (temporary) closers.push(() => fs.rmSync(dataDir, { recursive: true, force: true }));
  fs.mkdirSync(dataDir, { recursive: true });

  const store = new Store({ directory: path.join(dataDir, 'store'), buckets: accounts.buckets() });
  closers.push(() => store.close());
  await store.start();
  // With --direct-store uploaders talk to s3rver itself.
  keepIdleConnections(store.s3rver.httpServer);
  const recorder = new Recorder();
  const registry = new UploadRegistry(path.join(dataDir, 'service', 'uploads.json'));
  const sessions = new SessionStore(path.join(dataDir, 'service', 'sessions.json'));
  closers.push(() => { sessions.save(); registry.save(); });
  const outages = new Outages();
  const front = new StoreFront({ store, registry, recorder, tempDir: path.join(dataDir, 'incoming'), outages });
  closers.push(() => front.close());

  const frontServer = http.createServer(async (req, res) => {
    // --latency: every request waits one simulated round trip before it is handled.
    if (options.latency > 0) await sleep(options.latency);
    front.handle(req, res).catch((err) => {
      process.stderr.write(`zafrel-devserver: almacén: ${err.stack ?? err}\n`);
      sendS3Error(res, 500, 'InternalError', 'We encountered an internal error. Please try again.');
    });
  });
  // Large parts on slow links take longer than Node's default five-minute request limit.
  frontServer.requestTimeout = 0;
  closers.push(() => closeServer(frontServer));
  const storePort = await listen(frontServer, options.storePort);
  outages.add('store', frontServer, storePort);
  const storeOrigin = `http://127.0.0.1:${storePort}`;

  const uploadOrigin = options.directStore ? store.endpoint : (options.uploadOrigin ?? storeOrigin);
  const presigner = new Presigner(uploadOrigin, options.urlExpires);
  const service = new Service({
    accounts, sessions, throttle: new LoginThrottle(), store, registry, presigner, sinkMode: options.uploadOrigin !== null,
  });
  const control = new Control({ recorder, store, outages, defaultBucket: accounts.defaultBucket });

  const serviceServer = http.createServer(async (req, res) => {
    const { rawPath, rawQuery } = splitUrl(req.url);
    const pathname = safeDecode(rawPath) ?? rawPath;
    const query = parseQuery(rawQuery, { plusIsSpace: true });
    try {
      if (pathname.startsWith('/__control/')) {
        await control.handle(req, res, pathname, query ?? {});
        return;
      }
      // Tests and the benchmark's checks look in through /__control undelayed.
      if (options.latency > 0) await sleep(options.latency);
      const entry = recorder.begin('service', req, pathname, query ?? {});
      req.logEntry = entry;
      res.on('finish', () => { entry.status = res.statusCode; });
      res.on('close', () => { if (entry.status === null) entry.status = 0; });
      const fault = recorder.takeFault('service', req.method, {
        path: pathname, rawPath, rawQuery, decodedQuery: safeDecode(rawQuery) ?? rawQuery,
      });
      if (fault) {
        entry.fault = fault.action;
        if (fault.action === 'reset') return req.socket.destroy();
        if (fault.action === 'status') {
          req.resume();
          return sendError(res, fault.status, 'Fallo simulado por el control de pruebas');
        }
        if (fault.action === 'delay' || (fault.action === 'outage' && fault.ms)) await sleep(fault.ms);
        if (fault.action === 'json') res.mergeJson = fault.merge;
        if (fault.action === 'logout') sessions.destroy(req);
        if (fault.action === 'outage') {
          // Cuts this request too when the service is among what goes away.
          outages.begin(fault.outage);
          if (req.socket.destroyed) return;
        }
      }
      if (query === null) return sendError(res, 400, 'Parámetros de la petición mal codificados');
      if (!(await service.handle(req, res, pathname, query))) sendError(res, 404, 'No encontrado');
    } catch (err) {
      process.stderr.write(`zafrel-devserver: ${req.method} ${pathname}: ${err.stack ?? err}\n`);
      sendError(res, 500, 'Error interno del servidor');
    }
  });
  closers.push(() => closeServer(serviceServer));
  const servicePort = await listen(serviceServer, options.port);
  outages.add('service', serviceServer, servicePort);
  // Runs first at shutdown: a listener away for an outage must not come back while closing.
  closers.push(() => outages.stop());

  const announcement = {
    service: `http://127.0.0.1:${servicePort}`,
    store: storeOrigin,
    s3rver: store.endpoint,
    bucket: accounts.defaultBucket,
    data: dataDir,
  };
  process.stdout.write(`ZAFREL_DEVSERVER ${JSON.stringify(announcement)}\n`);
  process.stderr.write(`zafrel-devserver: servicio en ${announcement.service}, almacén en ${storeOrigin}` +
    `${uploadOrigin !== storeOrigin ? `, subidas hacia ${uploadOrigin}` : ''}` +
    `${options.latency ? `, ${options.latency} ms de latencia` : ''}, datos en ${dataDir}\n`);
}

main().catch((err) => {
  process.stderr.write(`zafrel-devserver: no se pudo arrancar: ${err.message}\n`);
  stop(1);
});
