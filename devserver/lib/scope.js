'use strict';
// What an account may see and where its paths live in the buckets.
//
// Every company's objects sit under "<slug>/" in the company's bucket. A company account's paths
// are relative to that folder ("Dia 1/" is the key prefix "demo-films/Dia 1/"); an administrator's
// paths start with the company folder ("demo-films/Dia 1/"), so for them path and key coincide.
// Folder paths are "" (the top) or end with "/"; file keys never do.

const { HttpError } = require('./http-util');

const MAX_KEY_BYTES = 1024;
const MAX_SEGMENT_BYTES = 200; // s3rver adds up to 22 bytes to a name on disk; file systems stop at 255
const CONTROL_CHARS = /[\u0000-\u001f\u007f]/;
const RESERVED = '._S3rver_';

function segmentProblem(segment) {
  if (segment === '') return 'vacío';
  if (segment === '.' || segment === '..') return 'no permitido';
  if (CONTROL_CHARS.test(segment)) return 'con caracteres de control';
  if (segment.includes(RESERVED)) return 'reservado';
  if (Buffer.byteLength(segment) > MAX_SEGMENT_BYTES) return 'demasiado largo';
  return null;
}

function folderSegments(path) {
  if (typeof path !== 'string') throw new HttpError(400, 'Falta la ruta de la carpeta');
  if (path === '') return [];
  if (!path.endsWith('/') || path.startsWith('/')) throw new HttpError(400, `Ruta de carpeta no válida: "${path}"`);
  const segments = path.slice(0, -1).split('/');
  if (segments.some(segmentProblem)) throw new HttpError(400, `Ruta de carpeta no válida: "${path}"`);
  return segments;
}

// Validates a new file or folder name. Names carry no "/" and are not "." or "..".
function checkName(name, what = 'Nombre') {
  if (typeof name !== 'string' || name.trim() === '') throw new HttpError(400, `${what} vacío`);
  if (name.includes('/')) throw new HttpError(400, `${what} no válido: no puede contener "/"`);
  const problem = segmentProblem(name);
  if (problem) throw new HttpError(400, `${what} no válido (${problem}): "${name}"`);
}

class Scope {
  constructor(account, companies) {
    this.account = account;
    this.companies = companies;
  }

  get isAdmin() {
    return !this.account.company;
  }

  // Resolves a folder path. Answers { top: true } for the administrator's list of companies,
  // otherwise { company, bucket, prefix } with `prefix` the folder's key prefix in the bucket.
  folder(path) {
    const segments = folderSegments(path);
    if (!this.isAdmin) {
      const company = this.account.company;
      return { company, bucket: company.bucket, prefix: `${company.slug}/${path}` };
    }
    if (segments.length === 0) return { top: true };
    const company = this.companies.get(segments[0]);
    if (!company) throw new HttpError(404, 'La carpeta no existe');
    return { company, bucket: company.bucket, prefix: path };
  }

  // Resolves an object key handed back by the client. Keys outside the account's companies are
  // refused with 403 whatever their shape.
  key(key) {
    if (typeof key !== 'string' || key === '') throw new HttpError(400, 'Falta la clave del objeto');
    const segments = key.split('/');
    const company = this.isAdmin ? this.companies.get(segments[0]) : this.account.company;
    if (!company || segments[0] !== company.slug) throw new HttpError(403, 'No tienes permiso sobre ese objeto');
    if (segments.length < 2 || segments.some(segmentProblem) || Buffer.byteLength(key) > MAX_KEY_BYTES) {
      throw new HttpError(400, 'Clave de objeto no válida');
    }
    return { company, bucket: company.bucket, key };
  }
}

module.exports = { Scope, checkName, folderSegments, MAX_KEY_BYTES };
