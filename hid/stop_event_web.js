// The stop events of the device link in the browser (stop_event_web.cc).
//
// A transfer there waits on a promise, so a stop must be able to end that
// wait at once: each event keeps the wake-up functions of whatever waits on
// it. The page sets an event from here directly, without calling into the
// WebAssembly core while that core is paused inside a transfer.
var gpsStopEvents = {
  next: 1,
  events: new Map(),

  create() {
    const id = this.next++;
    this.events.set(id, {set: false, wakers: new Set()});
    return id;
  },
  destroy(id) { this.events.delete(id); },
  isSet(id) {
    const e = this.events.get(id);
    return !!(e && e.set);
  },
  reset(id) {
    const e = this.events.get(id);
    if (e) e.set = false;
  },
  set(id) {
    const e = this.events.get(id);
    if (!e) return;
    e.set = true;
    const wakers = [...e.wakers];
    e.wakers.clear();
    wakers.forEach(wake => wake());
  },

  // Waits for `promise`, at most `ms` and only while event `id` stays clear.
  // Resolves {done: true, value} or {done: true, error} when the promise
  // settled, {stopped: true} or {timedOut: true} otherwise. Nothing is left
  // behind: the timer and the wake-up are withdrawn whichever way it ends.
  within(promise, ms, id) {
    if (this.isSet(id)) return Promise.resolve({stopped: true});
    const e = this.events.get(id);
    return new Promise(resolve => {
      let ended = false;
      const finish = result => {
        if (ended) return;
        ended = true;
        clearTimeout(timer);
        if (e) e.wakers.delete(wake);
        resolve(result);
      };
      const wake = () => finish({stopped: true});
      const timer = setTimeout(() => finish({timedOut: true}), Math.max(0, ms));
      if (e) e.wakers.add(wake);
      Promise.resolve(promise).then(value => finish({done: true, value}),
                                    error => finish({done: true, error}));
    });
  },

  // Resolves true when event `id` is set within `ms`, false otherwise.
  async wait(id, ms) {
    const never = new Promise(() => {});
    return !!(await this.within(never, ms, id)).stopped;
  },
};
Module['gpsStopEvents'] = gpsStopEvents;
