// The page's core (gps_core.js) and its WebHID backend under Node.js, on the
// stand-in for navigator.hid (sim_hid.js) with the simulated device's model
// (gps_sim_device.js) at the other end.
//
// Run by ctest in the web preset: node --test web/tests/, with GPS_WEB_DIR
// set to the built page's folder.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const test = require('node:test');

const dir = path.resolve(process.env.GPS_WEB_DIR || path.join(__dirname, '../../build/web'));
const GpsCore = require(path.join(dir, 'gps_core.js'));
const GpsSimDevice = require(path.join(dir, 'gps_sim_device.js'));
const {SimHid, makeModel} = require(path.join(dir, 'sim_hid.js'));

const DATABASE_ADDRESS = 0xA000;
const HEADER_ADDRESS = 0x8000;
const MAX_DATABASE_SIZE = 0xFF6000;
const UPDATE = {succeeded: 0, tooLarge: 3, noDevice: 5, eraseFailed: 6, writeFailed: 7,
                restartFailed: 8};
const PROBE = {present: 0, absent: 1, noPermission: 2, wrongFirmware: 5};

const T = {
  connectFailed: '設備連線失敗! 請檢查USB連接。',
  erasing: '正在清除...',
  writing: '正在寫入資料庫...',
  written: '資料庫寫入成功!',
  succeeded: '更新成功!',
  tooMuch: '資料量過大!',
  eraseFailed: '寫入資料庫 清除Flash失敗!',
  writeDataError: '寫入資料錯誤',
  writeFailed: '資料庫寫入失敗!',
  restartCommandError: '復位命令錯誤',
  restartFailed: '重新啟動設備失敗!',
  connected: '設備連線正常!',
  noPermissionLinux: '設備無存取權限! 請安裝 udev 規則 70-gps-update.rules 後重新插入設備。',
  noPermissionElsewhere: '設備無存取權限! 請洽系統管理員開放此USB設備的存取權限。',
  wrongFirmware: '設備韌體不符! 此設備無法以本程式更新。',
};
const SUCCESS = [T.erasing, T.writing, T.written, T.writing, T.succeeded];

function image(length) {
  const bytes = new Uint8Array(length);
  let x = 12345;
  for (let i = 0; i < length; i++) {
    x = (Math.imul(x, 1103515245) + 12345) >>> 0;
    bytes[i] = x >>> 16;
  }
  return bytes;
}

// The header page's first 32 bytes for an image of `length` bytes.
function header(length) {
  const words = [0x474D495F, 0x20, 0x00130000, 0x4000A000, 0x4000A000, length, 0x00100001, 0];
  const bytes = new Uint8Array(32);
  words.forEach((w, i) => new DataView(bytes.buffer).setUint32(4 * i, w, true));
  return bytes;
}

// A page's core on a bus of its own with one simulated device on it.
async function rig({device = {}, window, userAgent} = {}) {
  Object.defineProperty(globalThis, 'navigator', {
    value: userAgent ? {userAgent} : undefined, configurable: true, writable: true});
  const hid = new SimHid();
  const model = makeModel(await GpsSimDevice(), {test: true});
  const dev = hid.add(model, device);
  const statuses = [];
  const messages = [];
  // Each new status text of the views the core shows, in order; `onStatus`
  // sees each as it comes.
  const r = {onStatus: () => {}, views: []};
  const core = await GpsCore({
    gpsHid: hid,
    gpsPage: {
      view(v) {
        r.views.push(v);
        if (v.status && v.status !== r.lastStatus) {
          statuses.push(v.status);
          r.onStatus(v.status);
        }
        r.lastStatus = v.status;
      },
      message: async text => { messages.push(text); },
    },
  });
  if (window) core.gpsWebHid.window = window;
  core._gps_web_open(0);
  return Object.assign(r, {
    hid, model, dev, statuses, messages, core,
    // The look at the device as the page opens: the probe's outcome and text.
    async probe() {
      const outcome = await core.ccall('gps_web_look', 'number', [], [], {async: true});
      return {outcome, text: r.views[r.views.length - 1].status};
    },
    async update(bytes) {
      const buffer = core._gps_web_image(bytes.length);
      if (buffer) core.HEAPU8.set(bytes, buffer);
      try {
        return await core.ccall('gps_web_update', 'number', ['number', 'number'],
                                [buffer, bytes.length], {async: true});
      } finally {
        core._gps_web_release(buffer);
      }
    },
  });
}

test('whole updates put the image and its header into the flash, with the texts in order',
     async t => {
  for (const [length, window] of [[1000, 8], [1000, 1], [65537, 8], [65537, 1]]) {
    await t.test(`${length} bytes, ${window} in flight`, async () => {
      const r = await rig({window});
      const bytes = image(length);
      assert.equal(await r.update(bytes), UPDATE.succeeded);
      assert.deepEqual(r.statuses, SUCCESS);
      assert.deepEqual(r.model.read(DATABASE_ADDRESS, length), bytes);
      assert.deepEqual(r.model.read(HEADER_ADDRESS, 32), header(length));
      assert.equal(r.model.restarts(), 1);
      assert.equal(r.model.rejectedCommands(), 0);
      assert.equal(r.model.writeDefects(), 0);
      // The wire was kept as busy as the window allows, and no busier.
      assert.equal(r.dev.mostInFlight, window);
      assert.equal(r.dev.opened, false, 'the device is closed after the update');
    });
  }
});

test('an image larger than the device takes is refused before anything is sent', async () => {
  const r = await rig();
  assert.equal(await r.update(new Uint8Array(MAX_DATABASE_SIZE + 1)), UPDATE.tooLarge);
  assert.deepEqual(r.statuses, [T.tooMuch]);
  assert.equal(r.dev.reportsOffered, 0);
});

test('each failure ends in its stage\'s texts, never in success', async t => {
  const length = 1000;                  // 4 pages: 16 data reports
  const dataReports = 16;
  const cases = [
    {name: 'no device', unplugged: true, outcome: UPDATE.noDevice,
     last: [T.connectFailed, T.eraseFailed]},
    {name: 'unplugged in the middle of the page writes', device: {unplugAfterReports: 8},
     outcome: UPDATE.writeFailed, last: [T.writing, T.writeDataError, T.writeFailed]},
    // Handed over and then refused while later reports were in flight: only
    // the flush at the end of the page write can see it.
    {name: 'the last data report refused after it was accepted',
     device: {failReportAt: 2 + dataReports}, outcome: UPDATE.writeFailed,
     last: [T.writing, T.writeDataError, T.writeFailed]},
    {name: 'the restart refused', device: {failReportAt: 2 + dataReports + 2 + 4 + 1},
     outcome: UPDATE.restartFailed, last: [T.succeeded, T.restartCommandError, T.restartFailed]},
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const r = await rig({device: c.device || {}});
      if (c.unplugged) r.hid.unplug(r.dev);
      assert.equal(await r.update(image(length)), c.outcome);
      assert.deepEqual(r.statuses.slice(-c.last.length), c.last);
      assert.ok(!r.statuses.includes(T.succeeded) || c.outcome === UPDATE.restartFailed);
      assert.equal(r.dev.opened, false);
    });
  }
});

test('nothing queued behind the window goes out after a report was refused', async () => {
  // The first data report is refused while the window and the queue behind
  // it are full: the reports already handed to WebHID may still go, the
  // queued ones are never handed over.
  const window = 8;
  const r = await rig({window, device: {failReportAt: 3}});
  let handed = 0;
  const sendReport = r.dev.sendReport.bind(r.dev);
  r.dev.sendReport = (...report) => {
    handed++;
    return sendReport(...report);
  };
  assert.equal(await r.update(image(64 * 1024)), UPDATE.writeFailed);
  assert.deepEqual(r.statuses.slice(-3), [T.writing, T.writeDataError, T.writeFailed]);
  assert.equal(r.dev.mostInFlight, window);
  // The erase command, the write command and the window of data reports.
  assert.equal(handed, 2 + window);
  assert.equal(r.dev.opened, false);
});

test('a stop ends a wait on a stalled wire at once, with the failing stage\'s texts',
     async () => {
  // The first data report is never taken: the core waits with a full window.
  const r = await rig({device: {stallReportAt: 3}});
  const stop = r.core._gps_web_stop_event();
  let stopped = false;
  r.onStatus = text => {
    if (text !== T.writing || stopped) return;
    stopped = true;
    setImmediate(() => r.core.gpsStopEvents.set(stop));
  };
  const started = performance.now();
  assert.equal(await r.update(image(64 * 1024)), UPDATE.writeFailed);
  assert.ok(performance.now() - started < 2000, 'the stop did not wait for the bounds');
  assert.deepEqual(r.statuses.slice(-3), [T.writing, T.writeDataError, T.writeFailed]);
  assert.equal(r.dev.reportsTaken, 2);
  assert.equal(r.dev.opened, false);
  // The next update, on a device that takes every report, starts afresh: a
  // stop is void once its update has ended.
  r.hid.unplug(r.dev);
  const next = r.hid.add(makeModel(await GpsSimDevice(), {test: true}));
  r.statuses.length = 0;
  assert.equal(await r.update(image(1000)), UPDATE.succeeded);
  assert.deepEqual(r.statuses, SUCCESS);
  assert.equal(next.model.restarts(), 1);
});

test('a wait on the wire times out when it stalls, not while its reports keep going',
     async t => {
  // 40 reports at 20 ms each take 800 ms, four times the wait's bound.
  const bound = 200;
  const cases = [
    {name: 'slow but moving', device: {reportMs: 20}, result: 0, taken: 40},
    {name: 'stalled at the 10th report', device: {reportMs: 20, stallReportAt: 10},
     result: 2, taken: 9},
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const r = await rig({device: c.device});
      const hid = r.core.gpsWebHid;
      const [number] = await hid.enumerate();
      const [id] = await hid.open(number, false);
      // A report the device takes and ignores: no command block starts it.
      const report = r.core._malloc(65);
      r.core.HEAPU8.fill(0xFF, report, report + 65);
      r.core.HEAPU8[report] = 0;
      for (let i = 0; i < 40; i++) assert.equal(hid.send(id, report, 65, 0), 0);
      r.core._free(report);
      const started = performance.now();
      assert.equal(await hid.flush(id, bound, 0), c.result);
      if (c.result === 2) assert.ok(performance.now() - started >= bound);
      assert.equal(r.dev.reportsTaken, c.taken);
      await hid.close(id);
    });
  }
});

test('the look at start tells a usable, a missing and a refused device apart', async t => {
  const cases = [
    {name: 'granted and plugged in', device: {}, outcome: PROBE.present, text: T.connected},
    {name: 'not granted to the page', device: {granted: false}, outcome: PROBE.absent,
     text: T.connectFailed},
    {name: 'refused by the system, on Linux', device: {refuseOpen: 'NotAllowedError'},
     userAgent: 'Mozilla/5.0 (X11; Linux x86_64) Chrome/156.0', outcome: PROBE.noPermission,
     text: T.noPermissionLinux},
    {name: 'refused by the system, on Windows', device: {refuseOpen: 'NotAllowedError'},
     userAgent: 'Mozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/156.0',
     outcome: PROBE.noPermission, text: T.noPermissionElsewhere},
    // The lengths come from the report descriptor as the browser parsed it.
    {name: 'reports of another firmware', device: {reportBytes: 32},
     outcome: PROBE.wrongFirmware, text: T.wrongFirmware},
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const r = await rig({device: c.device, userAgent: c.userAgent});
      assert.deepEqual(await r.probe(), {outcome: c.outcome, text: c.text});
      assert.equal(r.dev.opened, false);
      assert.equal(r.dev.reportsOffered, 0);
    });
  }
  // A browser whose calls throw, or never answer, still gets an answer.
  const broken = [
    {name: 'the device list throws', getDevices: () => { throw new Error('broken'); }},
    {name: 'the device list never comes', getDevices: () => new Promise(() => {})},
  ];
  for (const c of broken) {
    await t.test(c.name, async () => {
      const r = await rig();
      r.hid.getDevices = c.getDevices;
      r.core.gpsWebHid.answerMs = 100;
      assert.deepEqual(await r.probe(), {outcome: PROBE.absent, text: T.connectFailed});
      assert.equal(r.dev.opened, false);
      assert.equal(r.dev.reportsOffered, 0);
    });
  }
});
