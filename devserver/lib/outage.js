'use strict';
// Outages on demand: the service or the store front goes away for some seconds and comes back on
// the same port, so that tests can watch an uploader ride out a restart or a lost link without
// killing the process. While away a listener refuses new connections and its open ones are cut.

const { HttpError } = require('./http-util');

const WHICH = { service: ['service'], store: ['store'], both: ['service', 'store'] };
const MAX_SECONDS = 3600;

class Outages {
  constructor() {
    this.listeners = new Map();
  }

  // Follows the connections of `server`, which listens on `port`, so that an outage can cut them.
  add(name, server, port) {
    const sockets = new Set();
    server.on('connection', (socket) => {
      sockets.add(socket);
      socket.on('close', () => sockets.delete(socket));
    });
    this.listeners.set(name, { server, port, sockets, timer: null });
  }

  // Checks what a control request or a fault asks for: `down` "service", "store" or "both" (default
  // `fallback`), and whole `seconds` from 1 to 3600.
  static parse({ down, seconds }, fallback) {
    const which = down ?? fallback;
    if (!WHICH[which]) throw new HttpError(400, '"down" debe ser "service", "store" o "both"');
    if (!(Number.isSafeInteger(seconds) && seconds >= 1 && seconds <= MAX_SECONDS)) {
      throw new HttpError(400, `"seconds" debe ser un entero entre 1 y ${MAX_SECONDS}`);
    }
    return { which, seconds };
  }

  // Takes the listeners named by `which` away for `seconds`; one already away stays away until
  // the later of its two ends.
  begin({ which, seconds }) {
    for (const name of WHICH[which]) {
      const listener = this.listeners.get(name);
      if (!listener) continue;
      const back = Date.now() + seconds * 1000;
      if (listener.timer) {
        if (back <= listener.back) continue;
        clearTimeout(listener.timer);
      } else {
        listener.server.close();
        for (const socket of listener.sockets) socket.destroy();
      }
      listener.back = back;
      listener.timer = setTimeout(() => this.restore(name), back - Date.now());
    }
  }

  restore(name) {
    const listener = this.listeners.get(name);
    listener.timer = null;
    listener.server.once('error', (err) => {
      process.stderr.write(`zafrel-devserver: no se pudo volver a escuchar en el puerto ${listener.port}: ${err.message}\n`);
    });
    listener.server.listen(listener.port, '127.0.0.1');
  }

  // At shutdown: nothing comes back any more.
  stop() {
    for (const listener of this.listeners.values()) {
      if (listener.timer) clearTimeout(listener.timer);
      listener.timer = null;
    }
  }
}

module.exports = { Outages };
