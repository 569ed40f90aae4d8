// A stand-in for navigator.hid with a simulated device on it, for the page's
// ?simulate=1 and for the tests under Node.js.
//
// It plays WebHID's part: granted devices, open and close, output reports
// sent one after another in the order they were handed over, input reports
// as "inputreport" events while the device is open, "connect" and
// "disconnect" events. What the device does with the reports is the device
// model of the desktop programs' simulated device, compiled to WebAssembly
// (gps_sim_device.js): this file holds no logic of the device itself.
'use strict';

(root => {
  const VENDOR_ID = 0x0416;
  const PRODUCT_ID = 0xB500;

  function domError(name, message) {
    if (typeof DOMException === 'function') return new DOMException(message, name);
    const e = new Error(message);
    e.name = name;
    return e;
  }

  // The device model in its WebAssembly module, behind plain calls.
  class DeviceModel {
    constructor(module, id) {
      this.m = module;
      this.id = id;
      this.buffer = module._malloc(64);
      this.scratch = module._malloc(16);
    }

    // One output report's payload (the 64 bytes after the report identifier).
    receive(payload) {
      this.m.HEAPU8.set(payload, this.buffer);
      this.m._gps_sim_receive(this.id, this.buffer);
    }

    // The first input report numbered `from` or later that the device has
    // sent or plans to send: {number, inMs (negative once sent), payload}.
    nextInput(from) {
      const m = this.m;
      if (!m._gps_sim_next_input(this.id, from, this.buffer, this.scratch, this.scratch + 8)) {
        return null;
      }
      return {
        number: m.HEAPF64[this.scratch >> 3],
        inMs: m.HEAPF64[(this.scratch + 8) >> 3],
        payload: m.HEAPU8.slice(this.buffer, this.buffer + 64),
      };
    }

    // What the flash holds (a device that keeps its bytes, as the tests' does).
    read(address, length) {
      const out = this.m._malloc(length);
      try {
        if (!this.m._gps_sim_read_flash(this.id, address, length, out)) return null;
        return this.m.HEAPU8.slice(out, out + length);
      } finally {
        this.m._free(out);
      }
    }

    restarts() { return this.m._gps_sim_restarts(this.id); }
    rejectedCommands() { return this.m._gps_sim_rejected(this.id); }
    writeDefects() { return this.m._gps_sim_defects(this.id); }
  }

  // Makes a device model in `module` (a made gps_sim_device module): the
  // demo device of the desktop programs, or, with `test`, one that keeps
  // its flash's bytes and answers an erase at once.
  function makeModel(module, {test = false} = {}) {
    return new DeviceModel(module, test ? module._gps_sim_create_test() : module._gps_sim_create_demo());
  }

  class SimHidDevice extends EventTarget {
    // Faults, all off by default:
    //   refuseOpen: 'NotAllowedError'   open() fails with that name
    //   failReportAt: n                 the n-th output report (1-based) is refused
    //   unplugAfterReports: n           the device leaves after taking n reports
    //   stallReportAt: n                the n-th output report is never taken,
    //                                   nor anything after it, until a close
    //   reportMs: ms                    the wire's time per output report
    constructor(hid, model, options = {}) {
      super();
      this.hid = hid;
      this.model = model;
      this.options = options;
      this.vendorId = options.vendorId ?? VENDOR_ID;
      this.productId = options.productId ?? PRODUCT_ID;
      this.productName = 'GPS road-safety warning device (simulated)';
      // The device's report descriptor as WebHID parses it: vendor page
      // 0xFF00, one input and one output report of 64 bytes, no identifiers.
      const bytes64 = bytes => [{reportId: 0, items: [{reportSize: 8, reportCount: bytes}]}];
      this.collections = [{usagePage: 0xFF00, usage: 1, type: 1, children: [],
                           inputReports: bytes64(options.reportBytes ?? 64),
                           outputReports: bytes64(options.reportBytes ?? 64),
                           featureReports: []}];
      this.opened = false;
      this.plugged = true;
      this.granted = options.granted ?? true;
      this.queue = [];          // output reports handed over, not yet taken
      this.draining = false;
      this.stalled = false;
      this.reportsTaken = 0;
      this.reportsOffered = 0;
      this.mostInFlight = 0;    // the most output reports ever waiting at once
      this.inputFrom = 0;       // number of the next input report to deliver
      this.openedAt = 0;
      this.timer = null;
      this.opens = 0;
    }

    async open() {
      await null;
      if (!this.plugged) throw domError('NotFoundError', 'The device was disconnected.');
      if (this.opened) throw domError('InvalidStateError', 'The device is already open.');
      if (this.options.refuseOpen) throw domError(this.options.refuseOpen, 'Failed to open the device.');
      this.opened = true;
      this.opens++;
      // Input reports sent while the device was closed are not delivered.
      this.openedAt = performance.now();
      this.pump();
    }

    async close() {
      await null;
      this.opened = false;
      clearTimeout(this.timer);
      this.failQueue('The device was closed.');
    }

    async forget() {
      await this.close();
      this.granted = false;
    }

    sendReport(reportId, data) {
      const bytes = new Uint8Array(ArrayBuffer.isView(data) ? data.buffer.slice(
          data.byteOffset, data.byteOffset + data.byteLength) : data);
      return new Promise((resolve, reject) => {
        if (!this.opened) {
          reject(domError('InvalidStateError', 'The device must be opened first.'));
          return;
        }
        this.queue.push({reportId, bytes, resolve, reject});
        this.mostInFlight = Math.max(this.mostInFlight, this.queue.length);
        this.drain();
      });
    }

    // Takes the queued reports one at a time, each after the wire's time.
    async drain() {
      if (this.draining) return;
      this.draining = true;
      while (this.queue.length > 0 && !this.stalled) {
        const ms = this.options.reportMs || 0;
        await new Promise(resolve => (ms > 0 ? setTimeout(resolve, ms) : setImmediateOr(resolve)));
        if (this.queue.length === 0) break;
        if (this.reportsOffered + 1 === this.options.stallReportAt) {
          this.reportsOffered++;
          this.stalled = true;
          break;
        }
        this.take(this.queue.shift());
      }
      this.draining = false;
    }

    take({reportId, bytes, resolve, reject}) {
      const n = ++this.reportsOffered;
      if (!this.plugged || !this.opened) {
        reject(domError('NotAllowedError', 'Failed to write the report.'));
        return;
      }
      if (n === this.options.failReportAt || reportId !== 0 || bytes.length !== 64) {
        reject(domError('NotAllowedError', 'Failed to write the report.'));
        return;
      }
      this.model.receive(bytes);
      this.reportsTaken++;
      resolve();
      if (this.reportsTaken === this.options.unplugAfterReports) this.hid.unplug(this);
      else this.pump();
    }

    failQueue(why) {
      this.stalled = false;
      const pending = this.queue.splice(0);
      pending.forEach(r => r.reject(domError('NotAllowedError', why)));
    }

    // Sends every input report that is due, and sets a timer for the next.
    pump() {
      clearTimeout(this.timer);
      this.timer = null;
      while (this.opened) {
        const next = this.model.nextInput(this.inputFrom);
        if (!next) return;
        if (next.inMs > 0) {
          this.timer = setTimeout(() => this.pump(), Math.max(1, Math.ceil(next.inMs)));
          return;
        }
        this.inputFrom = next.number + 1;
        if (performance.now() + next.inMs < this.openedAt) continue;
        const event = new Event('inputreport');
        event.device = this;
        event.reportId = 0;
        event.data = new DataView(next.payload.buffer);
        this.dispatchEvent(event);
      }
    }
  }

  function setImmediateOr(resolve) {
    if (typeof setImmediate === 'function') setImmediate(resolve);
    else setTimeout(resolve, 0);
  }

  class SimHid extends EventTarget {
    constructor() {
      super();
      this.devices = [];
    }

    // A device on this bus (plugged in and, unless options.granted is
    // false, granted to the page).
    add(model, options = {}) {
      const device = new SimHidDevice(this, model, options);
      this.devices.push(device);
      return device;
    }

    async getDevices() {
      return this.devices.filter(d => d.plugged && d.granted);
    }

    // The user picks the first plugged device that matches: there is no
    // chooser to show.
    async requestDevice({filters = []} = {}) {
      const found = this.devices.find(d => d.plugged && filters.some(
          f => (f.vendorId === undefined || f.vendorId === d.vendorId) &&
               (f.productId === undefined || f.productId === d.productId)));
      if (!found) return [];
      found.granted = true;
      return [found];
    }

    unplug(device) {
      if (!device.plugged) return;
      device.plugged = false;
      device.opened = false;
      clearTimeout(device.timer);
      device.failQueue('The device was disconnected.');
      this.announce('disconnect', device);
    }

    plug(device) {
      if (device.plugged) return;
      device.plugged = true;
      this.announce('connect', device);
    }

    announce(type, device) {
      const event = new Event(type);
      event.device = device;
      this.dispatchEvent(event);
    }
  }

  // The page's ?simulate=1: the demo device of the desktop programs on a
  // bus of its own, granted to the page. `query` follows the URLs of the
  // model's files (the page's release).
  async function demo(query = '') {
    if (typeof GpsSimDevice !== 'function') {
      await new Promise((resolve, reject) => {
        const script = document.createElement('script');
        script.src = 'gps_sim_device.js' + query;
        script.onload = resolve;
        script.onerror = reject;
        document.head.appendChild(script);
      });
    }
    const hid = new SimHid();
    hid.add(makeModel(await GpsSimDevice({locateFile: path => path + query})));
    api.demos.push(hid);  // for the page's tests, which plug and unplug it
    return hid;
  }

  const api = {SimHid, SimHidDevice, makeModel, demo, demos: []};
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.GpsSimHid = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);
