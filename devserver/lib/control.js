'use strict';
// /__control/...: what tests use to look inside (request log, stored objects, open uploads) and to
// arm faults. Answers only to loopback clients.

const { pipeline } = require('node:stream/promises');
const { HttpError, sendJson, sendError, readJsonObject, isLoopback } = require('./http-util');
const { Outages } = require('./outage');

class Control {
  constructor({ recorder, store, outages, defaultBucket }) {
    Object.assign(this, { recorder, store, outages, defaultBucket });
  }

  bucketParam(query) {
    const bucket = query.bucket ?? this.defaultBucket;
    if (typeof bucket !== 'string' || !this.store.hasBucket(bucket)) throw new HttpError(404, 'El bucket no existe');
    return bucket;
  }

  async handle(req, res, pathname, query) {
    if (!isLoopback(req.socket.remoteAddress)) {
      sendError(res, 403, 'El control solo está disponible desde 127.0.0.1');
      return;
    }
    const route = `${req.method} ${pathname}`;
    try {
      switch (route) {
        case 'GET /__control/requests':
          return sendJson(res, 200, this.recorder.list({ server: typeof query.server === 'string' ? query.server : undefined }));
        case 'GET /__control/faults':
          return sendJson(res, 200, this.recorder.faults);
        case 'POST /__control/faults': {
          const fault = this.recorder.addFault(await readJsonObject(req));
          return sendJson(res, 200, { ok: true, id: fault.id });
        }
        case 'POST /__control/outage': {
          const outage = Outages.parse(await readJsonObject(req), 'service');
          // Answered first: the answer travels on a connection the outage may cut.
          res.once('finish', () => this.outages.begin(outage));
          return sendJson(res, 200, { ok: true });
        }
        case 'POST /__control/reset':
          this.recorder.reset();
          return sendJson(res, 200, { ok: true });
        case 'GET /__control/object':
          return await this.object(res, query);
        case 'GET /__control/objects': {
          const prefix = typeof query.prefix === 'string' ? query.prefix : '';
          const objects = await this.store.list(this.bucketParam(query), prefix);
          return sendJson(res, 200, objects.map((o) => ({ key: o.key, size: o.size, md5: o.md5 })));
        }
        case 'GET /__control/uploads':
          return sendJson(res, 200, await this.store.openUploads(this.bucketParam(query)));
        case 'POST /__control/forget-upload':
          return await this.forgetUpload(res, query, await readJsonObject(req));
        default:
          return sendError(res, 404, 'No encontrado');
      }
    } catch (err) {
      if (err instanceof HttpError) return sendError(res, err.status, err.message);
      process.stderr.write(`zafrel-devserver: ${route}: ${err.stack ?? err}\n`);
      return sendError(res, 500, 'Error interno del servidor');
    }
  }

  // The store ends an open multipart upload on its own, as a lifecycle rule or an administrator
  // does: its parts are gone, while the service, which only signs part URLs, still knows it.
  async forgetUpload(res, query, body) {
    const bucket = this.bucketParam({ bucket: body.bucket ?? query.bucket });
    if (typeof body.uploadId !== 'string') throw new HttpError(400, 'Falta "uploadId"');
    if ((await this.store.uploadKey(bucket, body.uploadId)) === null) throw new HttpError(404, 'La subida no existe');
    await this.store.removeUpload(bucket, body.uploadId);
    return sendJson(res, 200, { ok: true });
  }

  async object(res, query) {
    if (typeof query.key !== 'string' || query.key === '') throw new HttpError(400, 'Falta "key"');
    const object = await this.store.getObject(this.bucketParam(query), query.key);
    if (!object) throw new HttpError(404, 'El objeto no existe');
    res.writeHead(200, {
      'Content-Type': object.contentType ?? 'application/octet-stream',
      'Content-Length': object.size,
      ETag: object.etag,
    });
    await pipeline(object.body, res);
  }
}

module.exports = { Control };
