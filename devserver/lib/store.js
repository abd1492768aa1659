'use strict';
// The object store: s3rver in-process on 127.0.0.1 with its files under <data>/store, and the SDK
// client the service uses to talk to it. s3rver lacks ListParts and AbortMultipartUpload, and its
// list pagination relies on directory order, so those few things read its (pinned) on-disk layout
// directly: <store>/<bucket>/._S3rver_uploads/<uploadId>/{key,metadata,<n>,<n>.md5}.

const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');
const S3rver = require('s3rver');
const {
  S3Client,
  PutObjectCommand,
  GetObjectCommand,
  CreateMultipartUploadCommand,
  CompleteMultipartUploadCommand,
} = require('@aws-sdk/client-s3');

const ACCESS_KEY = 'S3RVER';
const SECRET_KEY = 'S3RVER';
const REGION = 'us-east-1';
const UPLOAD_ID = /^[0-9a-f]{32}$/;
const OBJECT_SUFFIX = '._S3rver_object';
const UPLOADS_DIR = '._S3rver_uploads';

function clientConfig(endpoint) {
  return {
    endpoint,
    region: REGION,
    credentials: { accessKeyId: ACCESS_KEY, secretAccessKey: SECRET_KEY },
    forcePathStyle: true,
    requestChecksumCalculation: 'WHEN_REQUIRED',
    responseChecksumValidation: 'WHEN_REQUIRED',
  };
}

class Store {
  constructor({ directory, buckets, port = 0 }) {
    this.directory = directory;
    this.buckets = buckets;
    this.port = port;
  }

  async start() {
    fs.mkdirSync(this.directory, { recursive: true });
    this.s3rver = new S3rver({
      address: '127.0.0.1',
      port: this.port,
      silent: true,
      directory: this.directory,
      configureBuckets: this.buckets.map((name) => ({ name })),
    });
    const address = await this.s3rver.run();
    this.endpoint = `http://127.0.0.1:${address.port}`;
    this.client = new S3Client(clientConfig(this.endpoint));
  }

  async close() {
    this.client?.destroy();
    if (this.s3rver?.httpServer) {
      this.s3rver.httpServer.closeAllConnections?.();
      await this.s3rver.close();
    }
  }

  hasBucket(bucket) {
    return this.buckets.includes(bucket);
  }

  // Every object whose key starts with `prefix`, sorted by key:
  // [{ key, size, modified (Date, whole seconds as S3 gives it), md5 }].
  // Read from s3rver's layout, visiting only the folders under the prefix and two files per
  // object; s3rver's own listing stats every file it passes and reads each object's metadata,
  // which made a listing cost milliseconds per few dozen objects where S3 answers at once.
  async list(bucket, prefix) {
    const bucketPath = path.join(this.directory, bucket);
    const slash = prefix.lastIndexOf('/');
    const base = prefix.slice(0, slash + 1);
    const start = prefix.slice(slash + 1);
    const objects = [];
    const visit = (dir, keyBase, first) => {
      let entries;
      try {
        entries = fs.readdirSync(dir, { withFileTypes: true });
      } catch (err) {
        if (err.code === 'ENOENT' || err.code === 'ENOTDIR') return;
        throw err;
      }
      for (const entry of entries) {
        if (first && !entry.name.startsWith(start)) continue;
        const full = path.join(dir, entry.name);
        if (entry.isDirectory()) {
          if (keyBase === '' && entry.name === UPLOADS_DIR) continue;
          visit(full, `${keyBase}${entry.name}/`, false);
        } else if (entry.name.endsWith(OBJECT_SUFFIX)) {
          const key = keyBase + entry.name.slice(0, -OBJECT_SUFFIX.length);
          if (key.startsWith(prefix)) objects.push(this.describe(bucket, key, full));
        }
      }
    };
    visit(path.join(bucketPath, ...base.split('/').filter((p) => p !== '')), base, true);
    const listed = (await Promise.all(objects)).filter((o) => o !== null);
    return listed.sort((a, b) => (a.key < b.key ? -1 : a.key > b.key ? 1 : 0));
  }

  // One object as listed, or null when it went away meanwhile. Its MD5 is the one s3rver stored
  // beside it; s3rver makes that file itself when it is missing.
  async describe(bucket, key, file) {
    let stat;
    let md5;
    try {
      stat = fs.statSync(file);
      md5 = fs.readFileSync(`${file}.md5`, 'utf8');
    } catch (err) {
      if (err.code !== 'ENOENT') throw err;
      if (!stat) return null;
      const metadata = await this.s3rver.store.getMetadata(bucket, key).catch(() => null);
      if (!metadata) return null;
      md5 = JSON.parse(metadata.etag);
    }
    const modified = new Date(Math.floor(stat.mtimeMs / 1000) * 1000);
    return { key, size: stat.size, modified, md5: md5.replace(/"/g, '') };
  }

  async anyUnder(bucket, prefix) {
    return (await this.list(bucket, prefix)).length > 0;
  }

  async putEmpty(bucket, key) {
    await this.client.send(new PutObjectCommand({ Bucket: bucket, Key: key, Body: Buffer.alloc(0), ContentLength: 0 }));
  }

  // The object's body as a stream plus its headers, or null when there is no such object.
  async getObject(bucket, key) {
    try {
      const out = await this.client.send(new GetObjectCommand({ Bucket: bucket, Key: key }));
      return { body: out.Body, contentType: out.ContentType, etag: out.ETag, size: out.ContentLength };
    } catch (err) {
      if (err.name === 'NoSuchKey' || err.$metadata?.httpStatusCode === 404) return null;
      throw err;
    }
  }

  async createMultipart(bucket, key, contentType) {
    const out = await this.client.send(new CreateMultipartUploadCommand({ Bucket: bucket, Key: key, ContentType: contentType }));
    return out.UploadId;
  }

  async completeMultipart(bucket, key, uploadId, parts) {
    await this.client.send(new CompleteMultipartUploadCommand({
      Bucket: bucket,
      Key: key,
      UploadId: uploadId,
      MultipartUpload: { Parts: parts.map((p) => ({ PartNumber: p.number, ETag: `"${p.md5}"` })) },
    }));
  }

  objectPath(bucket, key) {
    return this.s3rver.store.getResourcePath(bucket, key, 'object');
  }

  uploadsDir(bucket) {
    return path.join(this.directory, bucket, '._S3rver_uploads');
  }

  uploadDir(bucket, uploadId) {
    if (!UPLOAD_ID.test(uploadId)) return null;
    return path.join(this.uploadsDir(bucket), uploadId);
  }

  partPath(bucket, uploadId, partNumber) {
    const dir = this.uploadDir(bucket, uploadId);
    return dir && path.join(dir, String(partNumber));
  }

  // The key of an open multipart upload, or null when s3rver holds no such upload.
  async uploadKey(bucket, uploadId) {
    const dir = this.uploadDir(bucket, uploadId);
    if (!dir) return null;
    try {
      return await fsp.readFile(path.join(dir, 'key'), 'utf8');
    } catch (err) {
      if (err.code === 'ENOENT' || err.code === 'ENOTDIR') return null;
      throw err;
    }
  }

  // A stored part as s3rver left it: { size, md5 } or null. The .md5 file is written only after
  // the whole part arrived, so a part without it does not count as stored.
  async storedPart(bucket, uploadId, partNumber) {
    const file = this.partPath(bucket, uploadId, partNumber);
    if (!file) return null;
    try {
      const [stat, md5] = await Promise.all([fsp.stat(file), fsp.readFile(`${file}.md5`, 'utf8')]);
      return { size: stat.size, md5: md5.trim() };
    } catch (err) {
      if (err.code === 'ENOENT' || err.code === 'ENOTDIR') return null;
      throw err;
    }
  }

  async forgetPart(bucket, uploadId, partNumber) {
    const file = this.partPath(bucket, uploadId, partNumber);
    if (file) await fsp.rm(`${file}.md5`, { force: true });
  }

  async removeUpload(bucket, uploadId) {
    const dir = this.uploadDir(bucket, uploadId);
    if (dir) await fsp.rm(dir, { recursive: true, force: true });
  }

  // Open multipart uploads of a bucket: [{ uploadId, key, parts: [numbers] }].
  async openUploads(bucket) {
    let ids;
    try {
      ids = await fsp.readdir(this.uploadsDir(bucket));
    } catch (err) {
      if (err.code === 'ENOENT') return [];
      throw err;
    }
    const uploads = [];
    for (const uploadId of ids.filter((id) => UPLOAD_ID.test(id)).sort()) {
      const key = await this.uploadKey(bucket, uploadId);
      if (key === null) continue;
      const files = await fsp.readdir(this.uploadDir(bucket, uploadId)).catch(() => []);
      const parts = files.filter((f) => /^\d+\.md5$/.test(f)).map((f) => Number(f.slice(0, -4))).sort((a, b) => a - b);
      uploads.push({ uploadId, key, parts });
    }
    return uploads;
  }
}

// Waits until `file` holds exactly `size` bytes. s3rver answers once it has *read* the body,
// which can be a moment before its last write reached the file.
async function waitForSize(file, size, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const stat = await fsp.stat(file).catch(() => null);
    if (stat && stat.size === size) return true;
    if (Date.now() >= deadline) return false;
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

module.exports = { Store, clientConfig, waitForSize, ACCESS_KEY, SECRET_KEY, REGION, UPLOAD_ID };
