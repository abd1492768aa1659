#!/usr/bin/env node
'use strict';
// What the throughput benchmark asks after each timed run, to refuse a run that did not do the
// whole work (see bench/throughput.sh):
//
//   node bench/check_run.js counters SINK_URL
//       prints "PUTS BYTES": the PUTs the benchmark sink has answered so far and their body bytes.
//   node bench/check_run.js objects SERVICE BUCKET PREFIX MANIFEST
//       compares the objects below PREFIX in the stand-in's store with MANIFEST (md5sum's output,
//       names relative to PREFIX): prints the number of objects and exits 0 when they are exactly
//       the manifest's files with the same MD5s; otherwise prints what differs and exits 1.

async function getJson(url) {
  const res = await fetch(url);
  if (!res.ok) throw new Error(`${url}: ${res.status} ${await res.text()}`);
  return res.json();
}

async function counters(sink) {
  const { puts, putBytes } = await getJson(new URL('/__sink/counters', sink));
  console.log(`${puts} ${putBytes}`);
  return 0;
}

async function objects(service, bucket, prefix, manifestFile) {
  const expected = new Map();
  for (const line of require('node:fs').readFileSync(manifestFile, 'utf8').split('\n')) {
    const m = /^([0-9a-f]{32}) [ *](.+)$/.exec(line);
    if (m) expected.set(m[2], m[1]);
  }
  const url = new URL('/__control/objects', service);
  url.searchParams.set('bucket', bucket);
  url.searchParams.set('prefix', prefix);
  const stored = new Map((await getJson(url)).map((o) => [o.key.slice(prefix.length), o.md5]));
  const problems = [];
  for (const [name, md5] of expected) {
    if (!stored.has(name)) problems.push(`falta ${name}`);
    else if (stored.get(name) !== md5) problems.push(`contenido distinto: ${name}`);
  }
  for (const name of stored.keys()) if (!expected.has(name)) problems.push(`sobra ${name}`);
  if (problems.length) {
    console.log(`${problems.length} diferencias: ${problems.slice(0, 5).join('; ')}${problems.length > 5 ? '; …' : ''}`);
    return 1;
  }
  console.log(`${stored.size} objetos`);
  return 0;
}

const [command, ...args] = process.argv.slice(2);
const commands = { counters: [counters, 1], objects: [objects, 4] };
if (!commands[command] || args.length !== commands[command][1]) {
  console.error('uso: check_run.js counters SINK_URL | objects SERVICE BUCKET PREFIX MANIFEST');
  process.exit(2);
}
commands[command][0](...args).then((code) => process.exit(code), (err) => {
  console.log(`no se pudo comprobar: ${err.message}`);
  process.exit(1);
});
