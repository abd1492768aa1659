'use strict';
// Small helpers shared by the service and the store front: JSON answers, bounded body reading,
// S3-style XML errors and a query parser that keeps "+" literal (S3 signs "+" as %2B, never as a space).

const crypto = require('node:crypto');

const MAX_JSON_BODY = 1024 * 1024;

class HttpError extends Error {
  constructor(status, message, headers = {}) {
    super(message);
    this.status = status;
    this.headers = headers;
  }
}

function sendJson(res, status, value, headers = {}) {
  if (res.headersSent || res.destroyed) return;
  // A "json" fault of the control endpoint changes members of the next successful answer.
  const answer = res.mergeJson && status < 300 && value && typeof value === 'object' ? { ...value, ...res.mergeJson } : value;
  const body = Buffer.from(JSON.stringify(answer));
  res.writeHead(status, {
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': body.length,
    'Cache-Control': 'no-store',
    ...headers,
  });
  res.end(body);
}

function sendError(res, status, message, headers = {}) {
  sendJson(res, status, { error: message }, headers);
}

function xmlEscape(text) {
  return String(text).replace(/[<>&'"]/g, (c) => ({ '<': '&lt;', '>': '&gt;', '&': '&amp;', "'": '&apos;', '"': '&quot;' })[c]);
}

function sendS3Error(res, status, code, message, extra = {}) {
  if (res.headersSent || res.destroyed) return;
  const fields = Object.entries({ Code: code, Message: message, ...extra, RequestId: crypto.randomBytes(8).toString('hex').toUpperCase() })
    .map(([name, value]) => `<${name}>${xmlEscape(value)}</${name}>`)
    .join('');
  const body = Buffer.from(`<?xml version="1.0" encoding="UTF-8"?>\n<Error>${fields}</Error>`);
  res.writeHead(status, { 'Content-Type': 'application/xml', 'Content-Length': body.length });
  res.end(body);
}

// Reads the whole body up to `limit` bytes. Larger bodies end in 413 without being kept.
function readBody(req, limit = MAX_JSON_BODY) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    let tooLarge = false;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (req.logEntry) req.logEntry.bodyBytes += chunk.length;
      if (size > limit) tooLarge = true;
      else chunks.push(chunk);
    });
    req.on('end', () => {
      if (tooLarge) reject(new HttpError(413, 'La petición es demasiado grande'));
      else resolve(Buffer.concat(chunks));
    });
    req.on('error', reject);
  });
}

// Parses a JSON request body that must be an object. An empty body counts as {} so that
// endpoints without parameters accept the client's bodiless POSTs.
async function readJsonObject(req) {
  const raw = await readBody(req);
  if (raw.length === 0) return {};
  let value;
  try {
    value = JSON.parse(raw.toString('utf8'));
  } catch {
    throw new HttpError(400, 'El cuerpo de la petición no es JSON válido');
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) {
    throw new HttpError(400, 'El cuerpo de la petición debe ser un objeto JSON');
  }
  return value;
}

function safeDecode(text) {
  try {
    return decodeURIComponent(text);
  } catch {
    return null;
  }
}

// Splits "a=1&b=x%2By" into { a: '1', b: 'x+y' }; repeated names become arrays. With
// `plusIsSpace` a bare "+" is a space, as in web forms (the service's queries); S3 keeps it literal.
// Returns null when an item is not valid percent-encoding.
function parseQuery(rawQuery, { plusIsSpace = false } = {}) {
  const query = {};
  if (!rawQuery) return query;
  for (let item of rawQuery.split('&')) {
    if (item === '') continue;
    if (plusIsSpace) item = item.replace(/\+/g, ' ');
    const eq = item.indexOf('=');
    const name = safeDecode(eq < 0 ? item : item.slice(0, eq));
    const value = safeDecode(eq < 0 ? '' : item.slice(eq + 1));
    if (name === null || value === null) return null;
    if (Object.prototype.hasOwnProperty.call(query, name)) {
      query[name] = [].concat(query[name], value);
    } else {
      query[name] = value;
    }
  }
  return query;
}

function splitUrl(url) {
  const q = url.indexOf('?');
  return q < 0 ? { rawPath: url, rawQuery: '' } : { rawPath: url.slice(0, q), rawQuery: url.slice(q + 1) };
}

function isLoopback(address) {
  return address === '127.0.0.1' || address === '::1' || address === '::ffff:127.0.0.1';
}

module.exports = {
  HttpError,
  sendJson,
  sendError,
  sendS3Error,
  readBody,
  readJsonObject,
  parseQuery,
  splitUrl,
  safeDecode,
  isLoopback,
};
