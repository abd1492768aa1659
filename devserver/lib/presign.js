'use strict';
// Pre-signed URLs: issued by the service for the store front (or the --upload-origin sink) and
// verified by the front with the very same SDK signer, as S3 would verify them.

const crypto = require('node:crypto');
const { S3RequestPresigner } = require('@aws-sdk/s3-request-presigner');
const { ACCESS_KEY, SECRET_KEY, REGION } = require('./store');

const MAX_EXPIRES = 7 * 24 * 3600;
const CLOCK_SKEW_MS = 15 * 60 * 1000;

// S3's encoding of one path segment (encodeURIComponent plus !'()*).
function encodeSegment(segment) {
  return encodeURIComponent(segment).replace(/[!'()*]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
}

// SHA-256 and HMAC-SHA-256 of node's crypto, in the shape the SDK's signer takes.
class NodeSha256 {
  constructor(secret) {
    this.hash = secret ? crypto.createHmac('sha256', secret) : crypto.createHash('sha256');
  }

  update(data) {
    this.hash.update(data);
  }

  async digest() {
    return new Uint8Array(this.hash.digest());
  }
}

// Signs with the SDK's S3 presigner the same request its S3Client would build (path-style URL,
// the command's "x-id"): the URLs are those of getSignedUrl, at a fifth of its cost, which
// matters when a run asks for thousands of them.
class Presigner {
  constructor(origin, expiresIn) {
    this.origin = new URL(origin);
    this.expiresIn = expiresIn;
    this.signer = new S3RequestPresigner({
      credentials: { accessKeyId: ACCESS_KEY, secretAccessKey: SECRET_KEY },
      region: REGION,
      sha256: NodeSha256,
    });
  }

  async sign(bucket, key, query, headers, signableHeaders) {
    const path = `${this.origin.pathname.replace(/\/$/, '')}/${[bucket, ...key.split('/')].map(encodeSegment).join('/')}`;
    const request = {
      method: 'PUT',
      protocol: this.origin.protocol,
      hostname: this.origin.hostname,
      port: this.origin.port ? Number(this.origin.port) : undefined,
      path,
      query,
      headers: { host: this.origin.host, ...headers },
    };
    const signed = await this.signer.presign(request, { expiresIn: this.expiresIn, signableHeaders });
    const search = Object.keys(signed.query).sort()
      .map((name) => `${encodeSegment(name)}=${encodeSegment(signed.query[name])}`).join('&');
    return `${this.origin.protocol}//${this.origin.host}${path}?${search}`;
  }

  // A PUT URL for a whole object. The content type is signed, so a PUT with another one is refused.
  putObject(bucket, key, contentType) {
    return this.sign(bucket, key, { 'x-id': 'PutObject' }, { 'content-type': contentType }, new Set(['content-type']));
  }

  uploadPart(bucket, key, uploadId, partNumber) {
    return this.sign(bucket, key, { 'x-id': 'UploadPart', partNumber: String(partNumber), uploadId }, {});
  }
}

class SignatureError extends Error {
  constructor(status, code, message) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

function parseAmzDate(text) {
  const m = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(text ?? '');
  if (!m) return null;
  const date = new Date(Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]));
  return Number.isNaN(date.getTime()) ? null : date;
}

const verifier = new S3RequestPresigner({
  credentials: { accessKeyId: ACCESS_KEY, secretAccessKey: SECRET_KEY },
  region: REGION,
  sha256: NodeSha256,
});

const AUTH_PARAMS = ['X-Amz-Algorithm', 'X-Amz-Credential', 'X-Amz-Date', 'X-Amz-Expires', 'X-Amz-SignedHeaders', 'X-Amz-Signature'];

// Checks the query-string signature of a request to the store front. `segments` are the decoded
// path segments (bucket first), `query` the decoded query. Throws SignatureError; answers nothing.
async function verifyPresigned({ method, headers, segments, query, now = new Date() }) {
  const missing = AUTH_PARAMS.filter((p) => typeof query[p] !== 'string');
  if (missing.length === AUTH_PARAMS.length) {
    throw new SignatureError(403, 'AccessDenied', 'Access Denied');
  }
  if (missing.length) {
    throw new SignatureError(400, 'AuthorizationQueryParametersError',
      'Query-string authentication version 4 requires the X-Amz-Algorithm, X-Amz-Credential, X-Amz-Signature, X-Amz-Date, X-Amz-SignedHeaders, and X-Amz-Expires parameters.');
  }
  if (query['X-Amz-Algorithm'] !== 'AWS4-HMAC-SHA256') {
    throw new SignatureError(400, 'AuthorizationQueryParametersError', 'X-Amz-Algorithm only supports "AWS4-HMAC-SHA256"');
  }
  const credential = query['X-Amz-Credential'].split('/');
  if (credential.length !== 5 || credential[4] !== 'aws4_request') {
    throw new SignatureError(400, 'AuthorizationQueryParametersError', 'Error parsing the X-Amz-Credential parameter');
  }
  if (credential[2] !== REGION || credential[3] !== 's3') {
    throw new SignatureError(400, 'AuthorizationQueryParametersError',
      `Error parsing the X-Amz-Credential parameter; the region '${credential[2]}' is wrong; expecting '${REGION}'`);
  }
  if (credential[0] !== ACCESS_KEY) {
    throw new SignatureError(403, 'InvalidAccessKeyId', 'The AWS Access Key Id you provided does not exist in our records.');
  }
  const signingDate = parseAmzDate(query['X-Amz-Date']);
  if (!signingDate) {
    throw new SignatureError(400, 'AuthorizationQueryParametersError', 'X-Amz-Date must be in the ISO8601 Long Format "yyyyMMdd\'T\'HHmmss\'Z\'"');
  }
  const expires = /^\d{1,7}$/.test(query['X-Amz-Expires']) ? Number(query['X-Amz-Expires']) : NaN;
  if (!(expires >= 1 && expires <= MAX_EXPIRES)) {
    throw new SignatureError(400, 'AuthorizationQueryParametersError', 'X-Amz-Expires must be between 1 and 604800 seconds');
  }
  if (now.getTime() > signingDate.getTime() + expires * 1000) {
    throw new SignatureError(403, 'AccessDenied', 'Request has expired');
  }
  if (signingDate.getTime() > now.getTime() + CLOCK_SKEW_MS) {
    throw new SignatureError(403, 'AccessDenied', 'Request is not valid yet');
  }

  const signedHeaders = query['X-Amz-SignedHeaders'].split(';');
  const requestHeaders = {};
  for (const name of signedHeaders) {
    if (headers[name] !== undefined) requestHeaders[name] = String(headers[name]);
  }
  const host = String(headers.host ?? '');
  const colon = host.lastIndexOf(':');
  const toSign = {
    method,
    protocol: 'http:',
    hostname: colon > 0 ? host.slice(0, colon) : host,
    port: colon > 0 ? Number(host.slice(colon + 1)) : undefined,
    path: '/' + segments.map(encodeSegment).join('/'),
    query: Object.fromEntries(Object.entries(query).filter(([name]) => name !== 'X-Amz-Signature')),
    headers: requestHeaders,
  };
  const signed = await verifier.presign(toSign, {
    signingDate,
    expiresIn: expires,
    signingRegion: REGION,
    signingService: 's3',
    signableHeaders: new Set(signedHeaders),
  });
  const expected = Buffer.from(String(signed.query['X-Amz-Signature']));
  const provided = Buffer.from(query['X-Amz-Signature']);
  const sameHeaders = signed.query['X-Amz-SignedHeaders'] === query['X-Amz-SignedHeaders'];
  if (!sameHeaders || expected.length !== provided.length || !crypto.timingSafeEqual(expected, provided)) {
    throw new SignatureError(403, 'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided. Check your key and signing method.');
  }
}

module.exports = { Presigner, verifyPresigned, SignatureError, encodeSegment, parseAmzDate, MAX_EXPIRES };
