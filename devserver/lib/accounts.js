'use strict';
// The accounts file: companies (slug, name, bucket) and the people who sign in. An account with a
// company sees only that company's folder tree; an account without one is an administrator who
// sees every company as a top-level folder.

const fs = require('node:fs');
const { isValidHash } = require('./passwords');

const SLUG = /^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?$/;
const BUCKET = /^[a-z0-9](?:[a-z0-9.-]{1,61}[a-z0-9])$/;

function normalizeEmail(email) {
  return String(email).trim().toLowerCase();
}

function fail(file, message) {
  throw new Error(`${file}: ${message}`);
}

function loadAccounts(file) {
  let data;
  try {
    data = JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch (err) {
    fail(file, `no se puede leer: ${err.message}`);
  }
  if (!data || !Array.isArray(data.companies) || !Array.isArray(data.accounts)) {
    fail(file, 'debe tener "companies" y "accounts" (listas)');
  }
  const appName = data.app_name === undefined || data.app_name === null ? null : String(data.app_name);

  const companies = new Map();
  for (const c of data.companies) {
    if (!c || !SLUG.test(c.slug ?? '')) fail(file, `empresa con slug no válido: ${JSON.stringify(c?.slug)}`);
    if (typeof c.name !== 'string' || c.name === '') fail(file, `la empresa ${c.slug} no tiene nombre`);
    if (!BUCKET.test(c.bucket ?? '') || c.bucket.includes('..')) fail(file, `la empresa ${c.slug} tiene un bucket no válido`);
    if (companies.has(c.slug)) fail(file, `empresa repetida: ${c.slug}`);
    companies.set(c.slug, { slug: c.slug, name: c.name, bucket: c.bucket });
  }
  if (companies.size === 0) fail(file, 'hace falta al menos una empresa');
  const firstBucket = companies.values().next().value.bucket;

  const accounts = new Map();
  for (const a of data.accounts) {
    const email = normalizeEmail(a?.email ?? '');
    if (!email.includes('@')) fail(file, `cuenta con correo no válido: ${JSON.stringify(a?.email)}`);
    if (accounts.has(email)) fail(file, `cuenta repetida: ${email}`);
    if (!isValidHash(a.password)) fail(file, `la contraseña de ${email} no es un hash scrypt (usa hash-password.js)`);
    let company = null;
    if (a.company !== undefined && a.company !== null) {
      company = companies.get(a.company);
      if (!company) fail(file, `${email} pertenece a una empresa que no existe: ${a.company}`);
    } else if (a.is_admin !== true) {
      fail(file, `${email} no tiene empresa y no es administrador`);
    }
    if (a.bucket !== undefined && !BUCKET.test(a.bucket)) fail(file, `${email} tiene un bucket no válido`);
    accounts.set(email, {
      email,
      name: typeof a.name === 'string' ? a.name : email,
      passwordHash: a.password,
      isAdmin: a.is_admin === true,
      company,
      bucket: company ? company.bucket : (a.bucket ?? firstBucket),
      appName: a.app_name === undefined ? appName : a.app_name,
    });
  }

  return {
    companies,
    accounts,
    find(email) {
      return accounts.get(normalizeEmail(email)) ?? null;
    },
    buckets() {
      return [...new Set([...companies.values()].map((c) => c.bucket).concat([...accounts.values()].map((a) => a.bucket)))];
    },
    defaultBucket: firstBucket,
  };
}

// The User record of "api/me".
function userRecord(account) {
  const user = {
    email: account.email,
    name: account.name,
    is_admin: account.isAdmin,
  };
  if (account.company) user.company = { slug: account.company.slug, name: account.company.name };
  user.bucket = account.bucket;
  if (account.appName !== null && account.appName !== undefined) user.app_name = account.appName;
  return user;
}

module.exports = { loadAccounts, userRecord, normalizeEmail };
