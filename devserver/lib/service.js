'use strict';
// The company's web service: sign-in, folder tree and upload bookkeeping under /api/.

const crypto = require('node:crypto');
const { HttpError, sendJson, sendError, readJsonObject, readBody } = require('./http-util');
const { userRecord, normalizeEmail } = require('./accounts');
const { verifyPassword } = require('./passwords');
const { SessionStore } = require('./sessions');
const { Scope, checkName, MAX_KEY_BYTES } = require('./scope');
const { waitForSize, UPLOAD_ID } = require('./store');

const SINGLE_PUT_MAX = 33554432;
const MIN_PART_SIZE = 33554432;
const MAX_PARTS = 10000;
const MAX_OBJECT_SIZE = 5 * 1024 ** 4;
const MIN_INNER_PART = 5 * 1024 * 1024; // S3's smallest part except the last
const MAX_URLS_PER_CALL = 1000;
const DEFAULT_CONTENT_TYPE = 'application/octet-stream';
const MiB = 1024 * 1024;

const collator = new Intl.Collator('es', { numeric: true });

// The part size for a file: at least MIN_PART_SIZE, whole MiB, and never more than MAX_PARTS parts.
function partSizeFor(size) {
  const needed = Math.ceil(size / MAX_PARTS);
  return Math.max(MIN_PART_SIZE, Math.ceil(needed / MiB) * MiB);
}

// A company's own folder always exists, even before anything is stored in it.
function isCompanyRoot(folder) {
  return folder.prefix === `${folder.company.slug}/`;
}

function stripQuotes(etag) {
  return String(etag).replace(/"/g, '');
}

function stringParam(value, what) {
  if (typeof value !== 'string') throw new HttpError(400, `Falta ${what}`);
  return value;
}

function partNumberParam(value, what) {
  if (typeof value !== 'string' || !/^\d{1,5}$/.test(value)) throw new HttpError(400, `${what} no válido`);
  const n = Number(value);
  if (n < 1 || n > MAX_PARTS) throw new HttpError(400, `${what} fuera de rango (1 a ${MAX_PARTS})`);
  return n;
}

// Splits the objects below `prefix` into the folder's direct files and subfolders. Keys ending in
// "/" are folder markers: they make a folder exist but are not counted as its contents.
function summarize(objects, prefix, path) {
  const folders = new Map();
  const files = [];
  for (const o of objects) {
    const rest = o.key.slice(prefix.length);
    if (rest === '') continue;
    const slash = rest.indexOf('/');
    if (slash < 0) {
      files.push({ name: rest, path: path + rest, size: o.size, modified: Math.floor(o.modified.getTime() / 1000) });
      continue;
    }
    const name = rest.slice(0, slash);
    if (!folders.has(name)) folders.set(name, { name, path: `${path}${name}/`, count: 0, size: 0 });
    if (!o.key.endsWith('/')) {
      const folder = folders.get(name);
      folder.count += 1;
      folder.size += o.size;
    }
  }
  return {
    folders: [...folders.values()].sort((a, b) => collator.compare(a.name, b.name)),
    files: files.sort((a, b) => collator.compare(a.name, b.name)),
  };
}

class Service {
  constructor({ accounts, sessions, throttle, store, registry, presigner, sinkMode }) {
    Object.assign(this, { accounts, sessions, throttle, store, registry, presigner, sinkMode });
    this.routes = {
      'POST /api/login': (req, res) => this.login(req, res),
      'GET /api/me': (req, res) => this.me(req, res),
      'POST /api/logout': (req, res) => this.logout(req, res),
      'GET /api/ls': (req, res, q) => this.ls(req, res, q),
      'POST /api/mkdir': (req, res) => this.mkdir(req, res),
      'POST /api/upload/init': (req, res) => this.init(req, res),
      'GET /api/upload/urls': (req, res, q) => this.urls(req, res, q),
      'POST /api/upload/complete': (req, res) => this.complete(req, res),
      'POST /api/upload/abort': (req, res) => this.abort(req, res),
      'POST /api/upload/done': (req, res) => this.done(req, res),
    };
  }

  // Answers true when the path is one of the service's; false lets the caller answer 404.
  async handle(req, res, pathname, query) {
    const handler = this.routes[`${req.method} ${pathname}`];
    if (!handler) {
      const allowed = Object.keys(this.routes).filter((r) => r.endsWith(` ${pathname}`)).map((r) => r.split(' ')[0]);
      if (allowed.length === 0) return false;
      sendError(res, 405, 'Método no permitido', { Allow: allowed.join(', ') });
      return true;
    }
    try {
      await handler(req, res, query);
    } catch (err) {
      if (err instanceof HttpError) {
        sendError(res, err.status, err.message, err.headers);
      } else {
        process.stderr.write(`zafrel-devserver: ${req.method} ${pathname}: ${err.stack ?? err}\n`);
        sendError(res, 500, 'Error interno del servidor');
      }
    }
    return true;
  }

  account(req) {
    const email = this.sessions.emailFor(req);
    const account = email && this.accounts.find(email);
    if (!account) throw new HttpError(401, 'Sesión no iniciada o caducada');
    return account;
  }

  scope(req) {
    return new Scope(this.account(req), this.accounts.companies);
  }

  async login(req, res) {
    const body = await readJsonObject(req);
    if (typeof body.email !== 'string' || typeof body.password !== 'string' || body.email.trim() === '') {
      throw new HttpError(400, 'Faltan el correo o la contraseña');
    }
    const email = normalizeEmail(body.email).slice(0, 320);
    const wait = this.throttle.retryAfter(email);
    if (wait > 0) {
      throw new HttpError(429, 'Demasiados intentos fallidos. Espera unos minutos y vuelve a probar.', { 'Retry-After': String(wait) });
    }
    const account = this.accounts.find(email);
    const matches = await verifyPassword(body.password, account?.passwordHash);
    if (!account || !matches) {
      this.throttle.recordFailure(email);
      throw new HttpError(401, 'Correo o contraseña incorrectos');
    }
    this.throttle.recordSuccess(email);
    const token = this.sessions.create(account.email);
    sendJson(res, 200, { ok: true }, { 'Set-Cookie': SessionStore.cookie(token) });
  }

  async me(req, res) {
    sendJson(res, 200, userRecord(this.account(req)));
  }

  async logout(req, res) {
    await readBody(req);
    this.sessions.destroy(req);
    sendJson(res, 200, { ok: true }, { 'Set-Cookie': SessionStore.clearingCookie() });
  }

  async ls(req, res, query) {
    const scope = this.scope(req);
    const path = query.path ?? '';
    if (typeof path !== 'string') throw new HttpError(400, 'Ruta de carpeta no válida');
    const folder = scope.folder(path);
    if (folder.top) {
      const folders = [];
      for (const company of [...this.accounts.companies.values()].sort((a, b) => collator.compare(a.name, b.name))) {
        const objects = await this.store.list(company.bucket, `${company.slug}/`);
        const files = objects.filter((o) => !o.key.endsWith('/'));
        folders.push({
          name: company.slug,
          path: `${company.slug}/`,
          label: company.name,
          count: files.length,
          size: files.reduce((sum, o) => sum + o.size, 0),
        });
      }
      sendJson(res, 200, { path, folders, files: [] });
      return;
    }
    const objects = await this.store.list(folder.bucket, folder.prefix);
    if (objects.length === 0 && !isCompanyRoot(folder)) throw new HttpError(404, 'La carpeta no existe');
    sendJson(res, 200, { path, ...summarize(objects, folder.prefix, path) });
  }

  async mkdir(req, res) {
    const scope = this.scope(req);
    const body = await readJsonObject(req);
    checkName(body.name, 'Nombre de carpeta');
    const parent = scope.folder(body.path);
    if (parent.top) throw new HttpError(403, 'Las carpetas se crean dentro de una empresa');
    if (!isCompanyRoot(parent) && !(await this.store.anyUnder(parent.bucket, parent.prefix))) {
      throw new HttpError(404, 'La carpeta de destino no existe');
    }
    const key = `${parent.prefix}${body.name}/`;
    if (Buffer.byteLength(key) > MAX_KEY_BYTES) throw new HttpError(400, 'La ruta de la carpeta es demasiado larga');
    if (await this.store.anyUnder(parent.bucket, key)) throw new HttpError(409, 'La carpeta ya existe');
    await this.store.putEmpty(parent.bucket, key);
    sendJson(res, 200, { ok: true });
  }

  async init(req, res) {
    const scope = this.scope(req);
    const body = await readJsonObject(req);
    checkName(body.name, 'Nombre de archivo');
    const folder = scope.folder(body.path);
    if (folder.top) throw new HttpError(400, 'Elige como destino una carpeta de empresa');
    const { size } = body;
    if (!Number.isSafeInteger(size) || size < 0) throw new HttpError(400, 'Tamaño de archivo no válido');
    if (size > MAX_OBJECT_SIZE) throw new HttpError(400, 'El archivo supera el tamaño máximo de 5 TB');
    let contentType = body.type ?? '';
    if (typeof contentType !== 'string' || contentType.length > 255 || (contentType !== '' && !/^[!-~][ -~]*$/.test(contentType))) {
      throw new HttpError(400, 'Tipo de contenido no válido');
    }
    if (contentType === '') contentType = DEFAULT_CONTENT_TYPE;
    if (body.accelerate !== undefined && body.accelerate !== null && typeof body.accelerate !== 'boolean') {
      throw new HttpError(400, '"accelerate" debe ser verdadero o falso');
    }
    const key = folder.prefix + body.name;
    if (Buffer.byteLength(key) > MAX_KEY_BYTES) throw new HttpError(400, 'La ruta completa del archivo es demasiado larga');

    if (size <= SINGLE_PUT_MAX) {
      const url = await this.presigner.putObject(folder.bucket, key, contentType);
      sendJson(res, 200, { mode: 'single', key, url, contentType });
      return;
    }
    const partSize = partSizeFor(size);
    const parts = Math.ceil(size / partSize);
    const uploadId = this.sinkMode
      ? crypto.randomBytes(16).toString('hex')
      : await this.store.createMultipart(folder.bucket, key, contentType);
    this.registry.add({
      uploadId, bucket: folder.bucket, key, size, partSize, parts, contentType,
      owner: scope.account.email, created: new Date().toISOString(), sink: this.sinkMode,
    });
    sendJson(res, 200, { mode: 'multipart', key, uploadId, partSize, parts, contentType });
  }

  // Finds the open upload `uploadId` of `target` (a resolved key), or throws 404.
  async openUpload(target, uploadId) {
    if (typeof uploadId !== 'string' || !UPLOAD_ID.test(uploadId)) throw new HttpError(404, 'La subida no existe');
    const record = this.registry.get(uploadId);
    if (record && (record.bucket !== target.bucket || record.key !== target.key)) throw new HttpError(404, 'La subida no existe');
    if (record?.sink) return record;
    const storedKey = await this.store.uploadKey(target.bucket, uploadId);
    if (storedKey === null && record) this.registry.remove(uploadId);
    if (storedKey !== target.key) throw new HttpError(404, 'La subida no existe');
    return record ?? { uploadId, bucket: target.bucket, key: target.key };
  }

  async urls(req, res, query) {
    const scope = this.scope(req);
    const target = scope.key(stringParam(query.key, 'la clave ("key")'));
    const uploadId = stringParam(query.uploadId, 'el identificador de subida ("uploadId")');
    const first = partNumberParam(query.first, 'Primer número de parte ("first")');
    const last = partNumberParam(query.last, 'Último número de parte ("last")');
    if (last < first) throw new HttpError(400, '"last" no puede ser menor que "first"');
    if (last - first + 1 > MAX_URLS_PER_CALL) throw new HttpError(400, `Como máximo ${MAX_URLS_PER_CALL} partes por petición`);
    // Signing needs no word from the store: an upload the service opened is signed for as long as
    // the service has not seen it completed or aborted, even when the store has ended it.
    const record = this.registry.get(uploadId);
    const known = record && record.bucket === target.bucket && record.key === target.key;
    const upload = known ? record : await this.openUpload(target, uploadId);
    if (upload.parts && last > upload.parts) throw new HttpError(400, `La subida solo tiene ${upload.parts} partes`);
    const urls = {};
    for (let n = first; n <= last; n++) {
      urls[n] = await this.presigner.uploadPart(target.bucket, target.key, uploadId, n);
    }
    sendJson(res, 200, { urls });
  }

  async complete(req, res) {
    const scope = this.scope(req);
    const body = await readJsonObject(req);
    const target = scope.key(body.key);
    const parts = this.checkPartList(body.parts);
    const signature = parts.map((p) => `${p.number}:${p.etag}`).join(',');
    if (this.registry.wasCompleted(body.uploadId, target.key, signature)) {
      sendJson(res, 200, { ok: true });
      return;
    }
    const upload = await this.openUpload(target, body.uploadId);
    if (upload.sink) {
      this.registry.remove(upload.uploadId);
      sendJson(res, 200, { ok: true });
      return;
    }
    if (this.registry.completing.has(upload.uploadId)) throw new HttpError(409, 'La subida ya se está completando');
    this.registry.completing.add(upload.uploadId);
    try {
      const stored = [];
      for (const [i, p] of parts.entries()) {
        const info = this.registry.part(upload.uploadId, p.number)
          ?? (await this.store.storedPart(target.bucket, upload.uploadId, p.number));
        if (!info) throw new HttpError(400, `Falta la parte ${p.number}: no se ha recibido entera`);
        if (stripQuotes(p.etag) !== info.md5) throw new HttpError(400, `La ETag de la parte ${p.number} no coincide con la recibida`);
        if (i < parts.length - 1 && info.size < MIN_INNER_PART) {
          throw new HttpError(400, `La parte ${p.number} es demasiado pequeña (mínimo 5 MB salvo la última)`);
        }
        stored.push({ number: p.number, md5: info.md5, size: info.size });
      }
      const total = stored.reduce((sum, p) => sum + p.size, 0);
      if (upload.size !== undefined && total !== upload.size) {
        throw new HttpError(400, `Las partes suman ${total} bytes y el archivo declarado tiene ${upload.size}`);
      }
      await this.store.completeMultipart(target.bucket, target.key, upload.uploadId, stored);
      if (!(await waitForSize(this.store.objectPath(target.bucket, target.key), total))) {
        throw new Error(`el objeto ${target.key} no llegó a ${total} bytes tras completarlo`);
      }
      this.registry.markCompleted(upload.uploadId, target.key, signature);
      this.registry.remove(upload.uploadId);
    } finally {
      this.registry.completing.delete(upload.uploadId);
    }
    sendJson(res, 200, { ok: true });
  }

  checkPartList(parts) {
    if (!Array.isArray(parts) || parts.length === 0) throw new HttpError(400, 'Falta la lista de partes');
    if (parts.length > MAX_PARTS) throw new HttpError(400, `Como máximo ${MAX_PARTS} partes`);
    let previous = 0;
    return parts.map((p) => {
      const number = p?.PartNumber;
      if (!Number.isSafeInteger(number) || number < 1 || number > MAX_PARTS || typeof p.ETag !== 'string') {
        throw new HttpError(400, 'Cada parte necesita "PartNumber" (1 a 10000) y "ETag"');
      }
      if (number <= previous) throw new HttpError(400, 'Las partes deben ir en orden ascendente y sin repetirse');
      previous = number;
      return { number, etag: p.ETag };
    });
  }

  async abort(req, res) {
    const scope = this.scope(req);
    const body = await readJsonObject(req);
    const target = scope.key(body.key);
    const uploadId = body.uploadId;
    if (typeof uploadId !== 'string' || !UPLOAD_ID.test(uploadId)) throw new HttpError(404, 'La subida no existe');
    const record = this.registry.get(uploadId);
    if (record && (record.bucket !== target.bucket || record.key !== target.key)) throw new HttpError(404, 'La subida no existe');
    if (!record?.sink) {
      const storedKey = await this.store.uploadKey(target.bucket, uploadId);
      if (storedKey !== null && storedKey !== target.key) throw new HttpError(404, 'La subida no existe');
      if (this.registry.completing.has(uploadId)) throw new HttpError(409, 'La subida se está completando');
      if (storedKey !== null) await this.store.removeUpload(target.bucket, uploadId);
    }
    this.registry.remove(uploadId);
    sendJson(res, 200, { ok: true });
  }

  async done(req, res) {
    this.account(req);
    await readBody(req);
    sendJson(res, 200, { ok: true });
  }
}

module.exports = { Service, partSizeFor, summarize, SINGLE_PUT_MAX, MIN_PART_SIZE };
