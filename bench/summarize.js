#!/usr/bin/env node
'use strict';
// The throughput benchmark's tables, from its results file (one row per timed run, written by
// bench/throughput.sh): for each comparison, every contender's median over its accepted runs with
// the fastest and slowest, then the ratios the targets are stated in, the scale table and the
// refused runs. Medians, not bests: on a shared machine the best run is the luckiest one.
//
//   node bench/summarize.js RESULTS.tsv

const fs = require('node:fs');

const COLUMNS = ['group', 'title', 'tool', 'label', 'run', 'status', 'wallNs', 'user', 'sys', 'rssKB', 'bytes', 'files'];
const PEAK_LIMIT_MIB = 8 * 32 + 128; // 8 parts in flight + 128 MiB

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

// Runs grouped by comparison (title) and contender, in the order they first appear.
function collect(rows) {
  const blocks = new Map();
  for (const row of rows) {
    if (!blocks.has(row.title)) blocks.set(row.title, { title: row.title, group: row.group, contenders: new Map() });
    const contenders = blocks.get(row.title).contenders;
    if (!contenders.has(row.label)) contenders.set(row.label, { label: row.label, tool: row.tool, runs: [] });
    contenders.get(row.label).runs.push(row);
  }
  return [...blocks.values()];
}

// Median figures of one contender's accepted runs, or null when every run was refused.
function figures(contender) {
  const ok = contender.runs.filter((r) => r.status === 'ok');
  if (ok.length === 0) return null;
  const walls = ok.map((r) => r.wallNs / 1e9);
  const { bytes, files } = ok[0];
  const seconds = median(walls);
  return {
    accepted: ok.length,
    total: contender.runs.length,
    seconds,
    min: Math.min(...walls),
    max: Math.max(...walls),
    filesPerSecond: files / seconds,
    mbPerSecond: bytes / 1e6 / seconds,
    cpuSeconds: median(ok.map((r) => r.user + r.sys)),
    cpuMin: Math.min(...ok.map((r) => r.user + r.sys)),
    cpuMax: Math.max(...ok.map((r) => r.user + r.sys)),
    cpuMsPerFile: (median(ok.map((r) => r.user + r.sys)) * 1000) / files,
    cpuSecondsPerGB: median(ok.map((r) => r.user + r.sys)) / (bytes / 1e9),
    peakMiB: Math.max(...ok.map((r) => r.rssKB)) / 1024,
    files,
    bytes,
  };
}

const fmt = (value, digits = 1) => (value === undefined || value === null || Number.isNaN(value) ? '—' : value.toFixed(digits));

// One large file is measured per byte, many small ones per file.
function printBlock(block) {
  const perByte = block.group === 'big';
  console.log(`\n${block.title}`);
  console.log(`  ${'contendiente'.padEnd(30)} ${(perByte ? 'MB/s (mín–máx)' : 'archivos/s (mín–máx)').padStart(24)} ${(perByte ? 'archivos/s' : 'MB/s').padStart(10)} ${'segundos (mín–máx)'.padStart(22)} ${(perByte ? 'CPU s/GB' : 'CPU ms/archivo').padStart(15)} ${'RSS máx MiB'.padStart(12)} ${'válidas'.padStart(8)}`);
  for (const contender of block.contenders.values()) {
    const f = figures(contender);
    if (!f) {
      console.log(`  ${contender.label.padEnd(30)} todas las ejecuciones rechazadas`);
      continue;
    }
    const amount = perByte ? f.mbPerSecond : f.filesPerSecond;
    const rate = `${fmt(amount)} (${fmt((amount * f.seconds) / f.max)}–${fmt((amount * f.seconds) / f.min)})`;
    const time = `${fmt(f.seconds, 2)} (${fmt(f.min, 2)}–${fmt(f.max, 2)})`;
    const other = perByte ? fmt(f.filesPerSecond, 2) : fmt(f.mbPerSecond);
    const cpu = perByte ? fmt(f.cpuSecondsPerGB, 2) : fmt(f.cpuMsPerFile, 3);
    console.log(`  ${contender.label.padEnd(30)} ${rate.padStart(24)} ${other.padStart(10)} ${time.padStart(22)} ${cpu.padStart(15)} ${fmt(f.peakMiB).padStart(12)} ${`${f.accepted}/${f.total}`.padStart(8)}`);
  }
}

function byTool(block, tool) {
  const contender = [...block.contenders.values()].find((c) => c.tool === tool);
  return contender ? figures(contender) : null;
}

// The program's own CPU (user + system of its process tree) per file, or per GB for one large
// file: median (min–max) of the accepted runs. CPU time is what a busy machine moves least.
function cpuFigure(f, perByte) {
  const scale = perByte ? 1 / (f.bytes / 1e9) : 1000 / f.files;
  return `${fmt(f.cpuSeconds * scale, perByte ? 2 : 3)} (${fmt(f.cpuMin * scale, perByte ? 2 : 3)}–${fmt(f.cpuMax * scale, perByte ? 2 : 3)})`;
}

// Zafrel's CPU beside the reference uploader's of the same interleaved runs, with the target the
// ratio is held to (200 KB and 10 KB files per file, one large file per GB).
function printCpu(block, zafrel, reference, base) {
  const perByte = block.group === 'big';
  if (!perByte && block.group !== 'small') return;
  const unit = perByte ? 's/GB' : 'ms/archivo';
  const target = perByte ? 1.05 : zafrel.bytes / zafrel.files >= 100000 ? 1.3 : 3;
  let line = `  CPU ${unit}, mediana (mín–máx): Zafrel ${cpuFigure(zafrel, perByte)}`;
  if (reference) {
    const ratio = zafrel.cpuSeconds / reference.cpuSeconds;
    line += `, referencia ${cpuFigure(reference, perByte)}: ${fmt(ratio, 2)} × (objetivo ≤ ${target})`;
  }
  if (base) line += `; Zafrel de base ${cpuFigure(base, perByte)}`;
  console.log(line);
}

function printRatios(block) {
  const zafrel = byTool(block, 'zafrel');
  const reference = byTool(block, 'ref2');
  const base = byTool(block, 'zafrel-base');
  if (zafrel && base) {
    console.log(`  Zafrel / Zafrel de base (${block.group === 'big' ? 'MB/s' : 'archivos/s'}): ${fmt(base.seconds / zafrel.seconds, 2)}`);
  }
  if (zafrel) printCpu(block, zafrel, reference, base);
  if (block.group === 'big' && zafrel && reference) {
    console.log(`  Zafrel / referencia (MB/s): ${fmt(zafrel.mbPerSecond / reference.mbPerSecond, 2)} (objetivo ≥ 0.9)`);
    console.log(`  Memoria máxima de Zafrel: ${fmt(zafrel.peakMiB)} MiB (límite 8 partes + 128 MiB = ${PEAK_LIMIT_MIB} MiB)`);
  }
  if (block.group === 'small' && zafrel && reference) {
    console.log(`  Zafrel / referencia de 2 hilos (archivos/s): ${fmt(zafrel.filesPerSecond / reference.filesPerSecond, 2)}`);
  }
  if (block.group === 'peers') {
    const peers = ['rclone', 'aws'].map((t) => byTool(block, t)).filter(Boolean);
    if (zafrel && peers.length) {
      const fastest = Math.min(...peers.map((p) => p.seconds));
      console.log(`  Zafrel directo / el más rápido de rclone y aws (tiempo): ${fmt(zafrel.seconds / fastest, 2)} (objetivo ≤ 0.85)`);
    }
    const front = byTool(block, 'zafrel-front');
    if (zafrel && front) console.log(`  Zafrel por la entrada / Zafrel directo (tiempo): ${fmt(front.seconds / zafrel.seconds, 2)}`);
  }
}

function printScale(blocks) {
  const scale = blocks.filter((b) => b.group === 'scale');
  if (scale.length === 0) return;
  console.log('\nEscala (archivos de 10 KB al sumidero): coste por archivo según cuántos hay');
  console.log(`  ${'archivos'.padStart(9)} ${'Zafrel s'.padStart(9)} ${'archivos/s'.padStart(11)} ${'CPU s'.padStart(8)} ${'CPU ms/archivo'.padStart(15)} ${'ref. CPU ms/arch.'.padStart(18)} ${'RSS máx MiB'.padStart(12)}`);
  for (const block of scale) {
    const zafrel = byTool(block, 'zafrel');
    const reference = byTool(block, 'ref2');
    const files = zafrel?.files ?? reference?.files;
    console.log(`  ${String(files).padStart(9)} ${fmt(zafrel?.seconds, 2).padStart(9)} ${fmt(zafrel?.filesPerSecond).padStart(11)} ${fmt(zafrel?.cpuSeconds, 2).padStart(8)} ${fmt(zafrel?.cpuMsPerFile, 3).padStart(15)} ${fmt(reference?.cpuMsPerFile, 3).padStart(18)} ${fmt(zafrel?.peakMiB).padStart(12)}`);
  }
}

function main(file) {
  const rows = fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
    const row = Object.fromEntries(line.split('\t').map((value, i) => [COLUMNS[i], value]));
    for (const name of ['run', 'wallNs', 'user', 'sys', 'rssKB', 'bytes', 'files']) row[name] = Number(row[name]);
    return row;
  });
  const blocks = collect(rows);
  for (const block of blocks) {
    printBlock(block);
    printRatios(block);
  }
  printScale(blocks);
  const refused = rows.filter((r) => r.status !== 'ok');
  if (refused.length) {
    console.log(`\nEjecuciones rechazadas (no cuentan en las medianas): ${refused.length}`);
    for (const r of refused) console.log(`  #${r.run} ${r.label}, ${r.title}: ${r.status}`);
  }
}

if (process.argv.length !== 3) {
  console.error('uso: summarize.js RESULTS.tsv');
  process.exit(2);
}
main(process.argv[2]);
