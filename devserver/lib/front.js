'use strict';
// The store front: the address every pre-signed URL points at. It checks the query signature and
// expiry like S3, applies the faults armed through the control endpoint, and passes the request on
// to s3rver. A PUT body is first received whole (a small one in memory, a large one streamed to a
// temporary file), so an upload that breaks off never reaches s3rver: as on S3, an interrupted PUT
// leaves the previous object or part untouched.

const crypto = require('node:crypto');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const http = require('node:http');
const path = require('node:path');
const { Readable, Transform, Writable } = require('node:stream');
const { pipeline } = require('node:stream/promises');
const { sendS3Error, parseQuery, splitUrl, safeDecode } = require('./http-util');
const { verifyPresigned, SignatureError, encodeSegment, parseAmzDate } = require('./presign');
const { waitForSize } = require('./store');
const { sleep } = require('./recorder');

const FORWARDED_HEADERS = ['content-type', 'content-md5', 'cache-control', 'content-disposition', 'content-encoding', 'content-language', 'expires'];
// Bodies up to this size are held in memory on their way to s3rver rather than staged in a file.
const HELD_BODY_MAX = 1024 * 1024;
const HOP_BY_HOP = new Set(['connection', 'keep-alive', 'transfer-encoding', 'upgrade', 'proxy-connection']);

function faultCode(status) {
  return { 403: 'AccessDenied', 404: 'NoSuchKey', 500: 'InternalError', 503: 'SlowDown' }[status] ?? 'InjectedFault';
}

// Reads and discards the rest of a request body, counting it, then calls `then`.
function drain(req, entry, then) {
  if (req.complete || req.readableEnded) return then();
  req.on('data', (chunk) => { entry.bodyBytes += chunk.length; });
  req.on('end', then);
  req.on('error', () => {});
  req.resume();
}

class StoreFront {
  constructor({ store, registry, recorder, tempDir, outages }) {
    Object.assign(this, { store, registry, recorder, tempDir, outages });
    this.agent = new http.Agent({ keepAlive: true, maxSockets: 64 });
    fs.rmSync(tempDir, { recursive: true, force: true });
    fs.mkdirSync(tempDir, { recursive: true });
  }

  close() {
    this.agent.destroy();
    fs.rmSync(this.tempDir, { recursive: true, force: true });
  }

  async handle(req, res) {
    const { rawPath, rawQuery } = splitUrl(req.url);
    const query = parseQuery(rawQuery);
    const segments = rawPath.slice(1).split('/').map(safeDecode);
    const badUri = query === null || segments.includes(null);
    const decodedPath = badUri ? rawPath : `/${segments.join('/')}`;
    const entry = this.recorder.begin('store', req, decodedPath, query ?? {});
    res.on('finish', () => { entry.status = res.statusCode; });
    res.on('close', () => { if (entry.status === null) entry.status = 0; });

    const matchable = { path: decodedPath, rawPath, rawQuery, decodedQuery: safeDecode(rawQuery) ?? rawQuery };
    const fault = this.recorder.takeFault('store', req.method, matchable);
    let wrongEtag = false;
    if (fault) {
      entry.fault = fault.action;
      if (fault.action === 'reset') {
        req.socket.destroy();
        return;
      }
      if (fault.action === 'status') {
        drain(req, entry, () => sendS3Error(res, fault.status, faultCode(fault.status), 'Fallo simulado por el control de pruebas'));
        return;
      }
      if (fault.action === 'delay' || (fault.action === 'outage' && fault.ms)) await sleep(fault.ms);
      if (fault.action === 'etag') wrongEtag = true;
      if (fault.action === 'outage') {
        // Cuts this request too when the store is among what goes away.
        this.outages.begin(fault.outage);
        if (req.socket.destroyed) return;
      }
    }

    const refuse = (status, code, message, extra) => drain(req, entry, () => sendS3Error(res, status, code, message, extra));
    if (badUri) return refuse(400, 'InvalidURI', "Couldn't parse the specified URI.");
    // URLs that expire sooner than they were signed for, checked as S3 checks expiry: when the
    // request arrives, after any delay.
    const signed = parseAmzDate(query['X-Amz-Date']);
    if (signed && this.recorder.takeExpiry(req.method, matchable, Date.now() - signed.getTime())) {
      entry.fault = 'expire';
      return refuse(403, 'AccessDenied', 'Request has expired');
    }
    const [bucket, ...keySegments] = segments;
    const key = keySegments.join('/');
    try {
      await verifyPresigned({ method: req.method, headers: req.headers, segments, query });
    } catch (err) {
      if (err instanceof SignatureError) return refuse(err.status, err.code, err.message);
      throw err;
    }
    if (!this.store.hasBucket(bucket)) return refuse(404, 'NoSuchBucket', 'The specified bucket does not exist', { BucketName: bucket });
    if (key === '') return refuse(403, 'AccessDenied', 'Access Denied');

    const target = { bucket, key, canonicalPath: `/${segments.map(encodeSegment).join('/')}` };
    if (req.method === 'PUT') return this.put(req, res, entry, target, query, wrongEtag);
    if (req.method === 'GET' || req.method === 'HEAD') return this.passThrough(req, res, target);
    return refuse(405, 'MethodNotAllowed', 'The specified method is not allowed against this resource.', { Method: req.method });
  }

  async put(req, res, entry, target, query, wrongEtag) {
    const refuse = (status, code, message, extra) => drain(req, entry, () => sendS3Error(res, status, code, message, extra));
    let part = null;
    if ('uploadId' in query || 'partNumber' in query) {
      const n = /^\d{1,5}$/.test(query.partNumber ?? '') ? Number(query.partNumber) : NaN;
      if (!(n >= 1 && n <= 10000)) {
        return refuse(400, 'InvalidArgument', 'Part number must be an integer between 1 and 10000, inclusive');
      }
      const storedKey = typeof query.uploadId === 'string' ? await this.store.uploadKey(target.bucket, query.uploadId) : null;
      if (storedKey !== target.key) {
        return refuse(404, 'NoSuchUpload', 'The specified upload does not exist. The upload ID may be invalid, or the upload may have been aborted or completed.', { UploadId: String(query.uploadId) });
      }
      part = { uploadId: query.uploadId, number: n };
    }

    // A small body announced by its length is held in memory; any other goes to a file.
    const declared = Number(req.headers['content-length']);
    const held = Number.isSafeInteger(declared) && declared <= HELD_BODY_MAX ? [] : null;
    const staged = held ? null : path.join(this.tempDir, crypto.randomBytes(12).toString('hex'));
    try {
      const md5 = crypto.createHash('md5');
      let size = 0;
      const tap = new Transform({
        transform(chunk, _encoding, callback) {
          md5.update(chunk);
          size += chunk.length;
          entry.bodyBytes += chunk.length;
          if (held) held.push(chunk);
          callback(null, held ? undefined : chunk);
        },
      });
      try {
        if (held) await pipeline(req, tap, new Writable({ write: (_chunk, _encoding, callback) => callback() }));
        else await pipeline(req, tap, fs.createWriteStream(staged));
      } catch {
        return; // the client went away mid-body: nothing reaches the store
      }
      const digest = md5.digest('hex');

      if (part) {
        // The upload may have been aborted or completed while the body was arriving; s3rver would
        // otherwise recreate its folder for the stray part.
        if ((await this.store.uploadKey(target.bucket, part.uploadId)) !== target.key) {
          return sendS3Error(res, 404, 'NoSuchUpload', 'The specified upload does not exist. The upload ID may be invalid, or the upload may have been aborted or completed.', { UploadId: part.uploadId });
        }
        // A part being replaced is not stored until the new one is complete.
        this.registry.dropPart(part.uploadId, part.number);
        await this.store.forgetPart(target.bucket, part.uploadId, part.number);
      }
      const headers = { host: new URL(this.store.endpoint).host, 'content-length': String(size) };
      for (const name of FORWARDED_HEADERS) if (req.headers[name] !== undefined) headers[name] = req.headers[name];
      for (const [name, value] of Object.entries(req.headers)) if (name.startsWith('x-amz-meta-')) headers[name] = value;
      const upstreamPath = target.canonicalPath + (part
        ? `?partNumber=${part.number}&uploadId=${encodeURIComponent(part.uploadId)}`
        : '');

      const upstream = await this.forward('PUT', upstreamPath, headers, held ? Readable.from([Buffer.concat(held)]) : fs.createReadStream(staged));
      const ok = upstream.statusCode >= 200 && upstream.statusCode < 300;
      if (ok) {
        const file = part
          ? this.store.partPath(target.bucket, part.uploadId, part.number)
          : this.store.objectPath(target.bucket, target.key);
        await waitForSize(file, size);
        if (part) this.registry.setPart(part.uploadId, part.number, { size, md5: digest });
      }
      const answerHeaders = this.relayHeaders(upstream);
      if (ok && wrongEtag) answerHeaders.etag = `"${crypto.createHash('md5').update(`wrong:${digest}`).digest('hex')}"`;
      res.writeHead(upstream.statusCode, answerHeaders);
      await pipeline(upstream, res).catch(() => {});
    } catch (err) {
      process.stderr.write(`zafrel-devserver: PUT ${target.bucket}/${target.key}: ${err.stack ?? err}\n`);
      sendS3Error(res, 500, 'InternalError', 'We encountered an internal error. Please try again.');
    } finally {
      if (staged) await fsp.rm(staged, { force: true });
    }
  }

  passThrough(req, res, target) {
    const { rawQuery } = splitUrl(req.url);
    const kept = rawQuery.split('&').filter((item) => item && !/^x-amz-/i.test(item) && !/^x-id=/i.test(item));
    const upstreamPath = target.canonicalPath + (kept.length ? `?${kept.join('&')}` : '');
    const headers = { host: new URL(this.store.endpoint).host };
    for (const name of ['range', 'if-match', 'if-none-match', 'if-modified-since', 'if-unmodified-since']) {
      if (req.headers[name] !== undefined) headers[name] = req.headers[name];
    }
    const upstream = http.request(`${this.store.endpoint}${upstreamPath}`, { method: req.method, headers, agent: this.agent });
    upstream.on('response', (answer) => {
      res.writeHead(answer.statusCode, this.relayHeaders(answer));
      pipeline(answer, res).catch(() => {});
    });
    upstream.on('error', () => sendS3Error(res, 500, 'InternalError', 'We encountered an internal error. Please try again.'));
    res.on('close', () => upstream.destroy());
    upstream.end();
  }

  forward(method, upstreamPath, headers, body) {
    return new Promise((resolve, reject) => {
      const upstream = http.request(`${this.store.endpoint}${upstreamPath}`, { method, headers, agent: this.agent });
      upstream.on('response', resolve);
      upstream.on('error', reject);
      pipeline(body, upstream).catch(reject);
    });
  }

  relayHeaders(upstream) {
    const headers = {};
    for (const [name, value] of Object.entries(upstream.headers)) {
      if (!HOP_BY_HOP.has(name)) headers[name] = value;
    }
    return headers;
  }
}

module.exports = { StoreFront };
