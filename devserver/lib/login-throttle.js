'use strict';
// Refuses sign-ins for an e-mail that failed MAX_FAILURES times within WINDOW_MS. While refused,
// the password is not even checked, so guessing cannot continue behind the 429.

const MAX_FAILURES = 5;
const WINDOW_MS = 10 * 60 * 1000;

class LoginThrottle {
  constructor(now = () => Date.now()) {
    this.now = now;
    this.failures = new Map(); // e-mail -> failure times (ms), oldest first
  }

  recent(email) {
    const cutoff = this.now() - WINDOW_MS;
    const times = (this.failures.get(email) ?? []).filter((t) => t > cutoff);
    if (times.length) this.failures.set(email, times);
    else this.failures.delete(email);
    return times;
  }

  // Seconds until the next attempt is allowed, or 0 when it is allowed now.
  retryAfter(email) {
    const times = this.recent(email);
    if (times.length < MAX_FAILURES) return 0;
    const oldestCounted = times[times.length - MAX_FAILURES];
    return Math.max(1, Math.ceil((oldestCounted + WINDOW_MS - this.now()) / 1000));
  }

  recordFailure(email) {
    const times = this.recent(email);
    times.push(this.now());
    this.failures.set(email, times.slice(-MAX_FAILURES));
    if (this.failures.size > 10000) this.sweep();
  }

  recordSuccess(email) {
    this.failures.delete(email);
  }

  sweep() {
    for (const email of [...this.failures.keys()]) this.recent(email);
  }
}

module.exports = { LoginThrottle, MAX_FAILURES, WINDOW_MS };
