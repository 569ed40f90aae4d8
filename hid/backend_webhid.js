// The browser's half of the WebHID backend (backend_webhid.cc): the HIDDevice
// objects it has seen, the open handles and their report queues.
//
// Numbers shared with backend_webhid.cc:
//   transfer results  0 completed, 1 failed, 2 timed out, 3 stopped
//   open errors       0 none, 1 access denied, 2 busy, 3 gone, 4 other
var gpsWebHid = {
  // Output reports a write handle keeps in flight. WebHID sends a device's
  // reports in the order they were handed over, so the next one may go
  // before the last has settled; with 1, each is awaited before the next.
  window: 8,

  // The kernel's hidraw queue holds 64 input reports per open file and
  // drops what arrives when it is full; a handle's queue here does the same.
  queueLimit: 64,

  devices: [],       // every HIDDevice seen; its index is its path's number
  handles: new Map(),
  nextHandle: 1,
  watching: false,

  // Runs one of the calls below for the core. The core waits for its answer
  // through Asyncify and would wait for ever on a call that threw: a fault
  // here (a browser that breaks its own API, a bug) ends as a failure.
  async safely(call, failure) {
    try {
      return await call();
    } catch (e) {
      console.error('WebHID:', e);
      return failure;
    }
  },

  // The page may hand over a stand-in for navigator.hid (a simulated device,
  // the tests' devices) as Module.gpsHid.
  hid() {
    if (Module['gpsHid']) return Module['gpsHid'];
    return typeof navigator !== 'undefined' && navigator.hid ? navigator.hid : null;
  },

  // How long the browser may take over a look at the granted devices, an
  // open or a close. It answers a look once it has enumerated the system's
  // HID devices; where it cannot (a system without the device enumeration
  // it expects), it never answers, and the page must still tell the user
  // that there is no device.
  answerMs: 5000,

  // The numbers of the devices this page may use now (granted earlier and
  // plugged in); WebHID lists nothing else.
  async enumerate() {
    const hid = this.hid();
    if (!hid) return [];
    this.watch(hid);
    const end = await gpsStopEvents.within(hid.getDevices(), this.answerMs, 0);
    if (!end.done || end.error || !Array.isArray(end.value)) return [];
    return end.value.map(d => this.number(d));
  },

  number(device) {
    let n = this.devices.indexOf(device);
    if (n < 0) {
      n = this.devices.length;
      this.devices.push(device);
    }
    return n;
  },

  // A device that leaves ends every wait of its handles at once, as a
  // device node that goes away does, instead of at the end of their bounds.
  watch(hid) {
    if (this.watching) return;
    this.watching = true;
    hid.addEventListener('disconnect', event => {
      for (const h of this.handles.values()) {
        if (h.device === event.device) {
          h.gone = true;
          this.wake(h);
        }
      }
    });
  },

  wake(h) {
    const waiter = h.waiter;
    h.waiter = null;
    if (waiter) waiter();
  },

  // The device's one WebHID connection, shared by the handles on it: the
  // first opens it, the last to close closes it.
  connection(device) {
    if (!device.gpsConnection) {
      device.gpsConnection = {handles: 0, busy: Promise.resolve()};
    }
    return device.gpsConnection;
  },

  // Opens and closes of one device one at a time: WebHID refuses an open
  // while another is pending.
  serially(device, step) {
    const c = this.connection(device);
    const run = c.busy.then(step, step);
    c.busy = run.then(() => {}, () => {});
    return run;
  },

  openError(e) {
    switch (e && e.name) {
      case 'NotAllowedError': return 1;  // WebHID's one name for a refused open
      case 'NotFoundError': return 3;
      default: return 4;
    }
  },

  // Resolves [handle, 0] or [-1, open error].
  async open(number, read) {
    const device = this.devices[number];
    if (!device) return [-1, 3];
    const c = this.connection(device);
    const error = await this.serially(device, async () => {
      if (c.handles === 0 && !device.opened) {
        const end = await gpsStopEvents.within(device.open(), this.answerMs, 0);
        if (end.timedOut) return 4;
        if (end.error) return this.openError(end.error);
      }
      c.handles++;
      return 0;
    });
    if (error) return [-1, error];
    const h = {device, read, queue: [], waiter: null, gone: false, inFlight: [], queued: [],
               failed: false, stop: 0, settledCount: 0, low: 0};
    if (read) {
      h.listener = event => {
        if (h.queue.length >= this.queueLimit) return;
        const data = new Uint8Array(event.data.buffer, event.data.byteOffset,
                                    event.data.byteLength);
        h.queue.push({reportId: event.reportId, data: data.slice()});
        this.wake(h);
      };
      device.addEventListener('inputreport', h.listener);
    }
    const id = this.nextHandle++;
    this.handles.set(id, h);
    return [id, 0];
  },

  // The longest input and output report of the device, in bytes with the
  // report identifier counted, as Windows gives them: from the reports'
  // items in the descriptor that the browser parsed. Null when it describes
  // none (the lengths are then not known).
  reportLengths(id) {
    const h = this.handles.get(id);
    if (!h) return null;
    const longest = {input: 0, output: 0};
    const bytes = report => Math.ceil((report.items || []).reduce(
        (sum, item) => sum + (item.reportSize || 0) * (item.reportCount || 0), 0) / 8) + 1;
    // (No destructuring in loops here: this Emscripten's minifier breaks it.)
    const visit = collection => {
      (collection.inputReports || []).forEach(r => {
        longest.input = Math.max(longest.input, bytes(r));
      });
      (collection.outputReports || []).forEach(r => {
        longest.output = Math.max(longest.output, bytes(r));
      });
      (collection.children || []).forEach(visit);
    };
    (h.device.collections || []).forEach(visit);
    return longest.input || longest.output ? longest : null;
  },

  // One input report into HEAPU8 at `ptr` (`length` bytes): the report
  // identifier, then its data. Resolves [result, bytes].
  async read(id, ptr, length, boundMs, stop) {
    const h = this.handles.get(id);
    if (!h || !h.read) return [1, 0];
    const deadline = performance.now() + boundMs;
    for (;;) {
      if (h.queue.length > 0) {
        const report = h.queue.shift();
        const n = Math.min(report.data.length, Math.max(0, length - 1));
        HEAPU8[ptr] = report.reportId;
        HEAPU8.set(report.data.subarray(0, n), ptr + 1);
        return [0, n + 1];
      }
      if (h.gone) return [1, 0];
      const arrived = new Promise(resolve => { h.waiter = resolve; });
      const end = await gpsStopEvents.within(arrived, deadline - performance.now(), stop);
      h.waiter = null;
      if (end.stopped) return [3, 0];
      if (end.timedOut) return [2, 0];
    }
  },

  // One output report from HEAPU8 at `ptr`: byte 0 is the report identifier,
  // the rest its data. It is taken without a wait: handed to WebHID at once
  // while fewer than `window` are in flight, else kept in the handle's queue
  // and handed over as soon as one in flight has gone (from that report's
  // settling, without the core). Returns 0 when it was taken, 4 when it was
  // and the handle now holds as many as it may (the core then calls
  // makeRoom), 1 when it could not be, 3 when event `stop` is set. A report
  // that failed after it was taken fails the next write (or the flush), and
  // nothing queued after it is sent.
  send(id, ptr, length, stop) {
    try {
      const h = this.handles.get(id);
      if (gpsStopEvents.isSet(stop)) {
        if (h) this.drop(h);
        return 3;
      }
      if (!h || h.read || length < 1) return 1;
      if (h.failed || h.gone) {
        this.drop(h);
        return 1;
      }
      h.stop = stop;
      h.queued.push({reportId: HEAPU8[ptr], data: HEAPU8.slice(ptr + 1, ptr + length)});
      this.pump(h);
      return this.held(h) >= this.most() ? 4 : 0;
    } catch (e) {
      console.error('WebHID:', e);
      return 1;
    }
  },

  // The most reports a write handle holds, in flight and queued: the window
  // in flight and, behind it, `queueBehind` more, so that the core pauses
  // (an Asyncify unwind and rewind of its whole stack, which costs more
  // than a report) once for many reports. With a window of 1 nothing is
  // queued: each report is awaited before the next.
  queueBehind: 64,
  most() {
    const window = Math.max(1, this.window);
    return window === 1 ? 1 : window + this.queueBehind;
  },

  // What makeRoom leaves the handle holding: a window in flight and one
  // more queued, so that WebHID has the next reports while the core is
  // rewound and hands over the rest.
  resumeAt() {
    const window = Math.max(1, this.window);
    return window === 1 ? 0 : 2 * window;
  },

  held(h) { return h.inFlight.length + h.queued.length; },

  // Hands queued reports to WebHID while the window has room; after a
  // failure, a stop or an unplug, drops them instead.
  pump(h) {
    const window = Math.max(1, this.window);
    while (h.queued.length > 0 && h.inFlight.length < window) {
      if (h.failed || h.gone || gpsStopEvents.isSet(h.stop)) {
        this.drop(h);
        return;
      }
      const report = h.queued.shift();
      let sent;
      try {
        sent = h.device.sendReport(report.reportId, report.data);
      } catch (e) {
        sent = Promise.reject(e);
      }
      const entry = {settled: false};
      entry.promise = Promise.resolve(sent).then(() => this.settle(h, entry, true),
                                                 () => this.settle(h, entry, false));
      h.inFlight.push(entry);
    }
  },

  settle(h, entry, ok) {
    entry.settled = true;
    h.settledCount++;
    if (!ok) h.failed = true;
    while (h.inFlight.length > 0 && h.inFlight[0].settled) h.inFlight.shift();
    this.pump(h);
    if (h.waiter && (this.held(h) <= h.low || h.failed)) this.wake(h);
  },

  drop(h) { h.queued.length = 0; },

  // Waits while the handle holds as many reports as it may: until it holds
  // no more than resumeAt(), so that the core then hands over most of the
  // queue's worth before it has to pause again. 0 when the reports that
  // went meanwhile all went.
  makeRoom(id, boundMs, stop) {
    const h = this.handles.get(id);
    return h ? this.drain(h, this.resumeAt(), boundMs, stop) : 1;
  },

  // Waits until every report taken has gone: 0 when all did.
  flush(id, boundMs, stop) {
    const h = this.handles.get(id);
    return h ? this.drain(h, 0, boundMs, stop) : 1;
  },

  // Waits until the handle holds no more than `low` reports. Reports settle
  // in the order they were handed over, so the wire is stalled only when
  // none settles: the wait times out (2) at the end of the first `boundMs`
  // in which none did, and not while they keep going. One timer serves each
  // such stretch, not one each report: a timer costs the page's thread more
  // than the report it waits on (web/README.md, "Pace"). A wait that ends
  // otherwise than with 0 drops what is queued, so nothing more goes out:
  // 1 after a report failed or the device left, 3 on a stop.
  async drain(h, low, boundMs, stop) {
    let result = 0;
    while (result === 0 && !h.failed && !h.gone) {
      if (h.inFlight.length === 0) this.pump(h);
      if (this.held(h) <= low) break;
      const settled = h.settledCount;
      h.low = low;
      const drained = new Promise(resolve => { h.waiter = resolve; });
      const end = await gpsStopEvents.within(drained, boundMs, stop);
      h.waiter = null;
      if (end.stopped) result = 3;
      else if (end.timedOut && h.settledCount === settled) result = 2;
    }
    if (result === 0 && (h.failed || h.gone)) result = 1;
    if (result !== 0) this.drop(h);
    return result;
  },

  // Nothing a handle started can be withdrawn from WebHID: a read only stops
  // listening. The device closes when its last handle does; reports still in
  // flight then are dropped, which happens only after an exchange failed or
  // was stopped (a finished one has flushed them).
  async close(id) {
    const h = this.handles.get(id);
    if (!h) return;
    this.handles.delete(id);
    this.drop(h);
    if (h.listener) h.device.removeEventListener('inputreport', h.listener);
    this.wake(h);
    const device = h.device;
    const c = this.connection(device);
    await this.serially(device, async () => {
      c.handles--;
      if (c.handles > 0 || !device.opened) return;
      // A device that left is closed already; one that does not answer is
      // left to the browser.
      await gpsStopEvents.within(device.close(), this.answerMs, 0);
    });
  },
};
Module['gpsWebHid'] = gpsWebHid;
