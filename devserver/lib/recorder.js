'use strict';
// The request log and the fault plan shared by the service and the store front. Tests read the
// log and arm faults through the control endpoint.

const { HttpError } = require('./http-util');
const { Outages } = require('./outage');

const MAX_ENTRIES = 20000;
const ACTIONS = new Set(['status', 'reset', 'delay', 'etag', 'expire', 'json', 'outage', 'logout']);
const SERVERS = new Set(['store', 'service']);

class Recorder {
  constructor() {
    this.entries = [];
    this.faults = [];
    this.seq = 0;
    this.faultSeq = 0;
  }

  // Starts an entry for a request; the caller fills in status and bodyBytes as it goes.
  begin(server, req, path, query) {
    const entry = {
      seq: ++this.seq,
      server,
      method: req.method,
      path,
      query,
      headers: { ...req.headers },
      bodyBytes: 0,
      status: null,
      time: new Date().toISOString(),
    };
    this.entries.push(entry);
    if (this.entries.length > MAX_ENTRIES) this.entries.splice(0, this.entries.length - MAX_ENTRIES);
    return entry;
  }

  list({ server } = {}) {
    return server ? this.entries.filter((e) => e.server === server) : this.entries.slice();
  }

  reset() {
    this.entries = [];
    this.faults = [];
    this.seq = 0;
  }

  addFault(wanted) {
    if (!wanted || typeof wanted !== 'object') throw new HttpError(400, 'Fallo no válido');
    const server = wanted.server ?? 'store';
    if (!SERVERS.has(server)) throw new HttpError(400, '"server" debe ser "store" o "service"');
    if (!ACTIONS.has(wanted.action)) {
      throw new HttpError(400, '"action" debe ser "status", "reset", "delay", "etag", "expire", "json", "outage" o "logout"');
    }
    const skip = wanted.skip ?? 0;
    if (!Number.isSafeInteger(skip) || skip < 0) throw new HttpError(400, '"skip" debe ser un entero, 0 o más');
    const outage = wanted.action === 'outage' ? Outages.parse(wanted, server) : undefined;
    if (wanted.action === 'logout' && server !== 'service') throw new HttpError(400, '"logout" es para el servicio');
    const count = wanted.count ?? 1;
    if (!Number.isSafeInteger(count) || count < 1) throw new HttpError(400, '"count" debe ser un entero positivo');
    for (const field of ['method', 'pathContains', 'queryContains']) {
      if (wanted[field] !== undefined && typeof wanted[field] !== 'string') throw new HttpError(400, `"${field}" debe ser texto`);
    }
    if (wanted.action === 'status' && !(Number.isSafeInteger(wanted.status) && wanted.status >= 200 && wanted.status <= 599)) {
      throw new HttpError(400, '"status" debe ser un código HTTP entre 200 y 599');
    }
    const needsMs = wanted.action === 'delay' || (wanted.action === 'outage' && wanted.ms !== undefined);
    if (needsMs && !(Number.isSafeInteger(wanted.ms) && wanted.ms >= 0 && wanted.ms <= 600000)) {
      throw new HttpError(400, '"ms" debe estar entre 0 y 600000');
    }
    if (wanted.action === 'expire' && (server !== 'store' || !(Number.isSafeInteger(wanted.seconds) && wanted.seconds >= 0))) {
      throw new HttpError(400, '"expire" es para el almacén y necesita "seconds" (entero, 0 o más)');
    }
    if (wanted.action === 'json' && (server !== 'service' || !wanted.merge || typeof wanted.merge !== 'object' || Array.isArray(wanted.merge))) {
      throw new HttpError(400, '"json" es para el servicio y necesita "merge" (un objeto)');
    }
    const fault = {
      id: ++this.faultSeq,
      server,
      method: wanted.method?.toUpperCase(),
      pathContains: wanted.pathContains,
      queryContains: wanted.queryContains,
      action: wanted.action,
      status: wanted.status,
      ms: wanted.ms,
      seconds: wanted.seconds,
      merge: wanted.merge,
      outage,
      skip,
      remaining: count,
    };
    this.faults.push(fault);
    return fault;
  }

  // Takes one use of the first armed fault matching the request, or answers null.
  // Paths match in decoded or raw form; queries in raw or decoded form. "expire" faults are not
  // taken here: they apply when the signature is checked (takeExpiry).
  takeFault(server, method, request) {
    return this.take((f) => f.action !== 'expire' && this.matches(f, server, method, request));
  }

  // Takes one use of the first "expire" fault matching a store request whose URL was signed more
  // than its "seconds" ago (`ageMs`), or answers null. A younger URL passes and uses nothing up.
  takeExpiry(method, request, ageMs) {
    return this.take((f) => f.action === 'expire' && ageMs > f.seconds * 1000 && this.matches(f, 'store', method, request));
  }

  matches(f, server, method, { path, rawPath, rawQuery, decodedQuery }) {
    return f.server === server &&
      (!f.method || f.method === method) &&
      (!f.pathContains || path.includes(f.pathContains) || rawPath.includes(f.pathContains)) &&
      (!f.queryContains || rawQuery.includes(f.queryContains) || decodedQuery.includes(f.queryContains));
  }

  take(test) {
    const index = this.faults.findIndex(test);
    if (index < 0) return null;
    const fault = this.faults[index];
    // The first `skip` matching requests pass untouched: "the 21st upload start" is reachable.
    if (fault.skip > 0) {
      fault.skip -= 1;
      return null;
    }
    fault.remaining -= 1;
    if (fault.remaining <= 0) this.faults.splice(index, 1);
    return fault;
  }
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

module.exports = { Recorder, sleep };
