'use strict';
// What the service knows about the multipart uploads it opened: the declared size and part layout
// (kept on disk, so a restart can still check a completion), and the parts the store front has
// seen arrive whole (kept in memory; after a restart s3rver's own part files stand in).

const fs = require('node:fs');
const path = require('node:path');
const { writeFileAtomic } = require('./sessions');

class UploadRegistry {
  constructor(file) {
    this.file = file;
    this.uploads = new Map(); // uploadId -> { uploadId, bucket, key, size, partSize, parts, contentType, owner, created, sink }
    this.parts = new Map(); // uploadId -> Map(partNumber -> { size, md5 })
    this.completing = new Set();
    this.completed = new Map(); // uploadId -> { key, signature } of recent completions, for repeated requests
    this.load();
  }

  load() {
    if (!this.file || !fs.existsSync(this.file)) return;
    try {
      for (const record of JSON.parse(fs.readFileSync(this.file, 'utf8'))) {
        if (record && typeof record.uploadId === 'string') this.uploads.set(record.uploadId, record);
      }
    } catch (err) {
      process.stderr.write(`zafrel-devserver: registro de subidas ilegible en ${this.file}, se descarta (${err.message})\n`);
    }
  }

  save() {
    if (!this.file) return;
    fs.mkdirSync(path.dirname(this.file), { recursive: true });
    writeFileAtomic(this.file, JSON.stringify([...this.uploads.values()], null, 1));
  }

  add(record) {
    this.uploads.set(record.uploadId, record);
    this.save();
  }

  get(uploadId) {
    return this.uploads.get(uploadId) ?? null;
  }

  remove(uploadId) {
    this.parts.delete(uploadId);
    if (this.uploads.delete(uploadId)) this.save();
  }

  setPart(uploadId, partNumber, info) {
    if (!this.parts.has(uploadId)) this.parts.set(uploadId, new Map());
    this.parts.get(uploadId).set(partNumber, info);
  }

  dropPart(uploadId, partNumber) {
    this.parts.get(uploadId)?.delete(partNumber);
  }

  part(uploadId, partNumber) {
    return this.parts.get(uploadId)?.get(partNumber) ?? null;
  }

  markCompleted(uploadId, key, signature) {
    this.completed.set(uploadId, { key, signature });
    if (this.completed.size > 1000) this.completed.delete(this.completed.keys().next().value);
  }

  wasCompleted(uploadId, key, signature) {
    const done = this.completed.get(uploadId);
    return Boolean(done && done.key === key && done.signature === signature);
  }
}

module.exports = { UploadRegistry };
