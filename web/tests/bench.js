// What the page's core costs the host per report: a whole update of 1 MiB
// through the core, Asyncify, the WebHID backend and the stand-in for
// navigator.hid, whose device takes each report as soon as the event loop
// comes round (no wire time). Run by `./dev web --bench`.
//
//   node --no-experimental-fetch web/tests/bench.js
'use strict';

const path = require('node:path');

const dir = path.resolve(process.env.GPS_WEB_DIR || path.join(__dirname, '../../build/web'));
const GpsCore = require(path.join(dir, 'gps_core.js'));
const GpsSimDevice = require(path.join(dir, 'gps_sim_device.js'));
const {SimHid, makeModel} = require(path.join(dir, 'sim_hid.js'));

const LENGTH = 1 << 20;

// One page's core and one device, as the page has them; `updates` whole
// updates in a row, with `window` reports in flight.
async function measure(window, updates) {
  const hid = new SimHid();
  const device = hid.add(makeModel(await GpsSimDevice(), {test: true}));
  // The page as page.js is to the core: a view for each status, the bar's
  // moves only said (the page asks for the view when it draws).
  const core = await GpsCore({gpsHid: hid, gpsPage: {
    view() {}, progressed() {}, message: async () => {}}});
  core.gpsWebHid.window = window;
  const buffer = core._gps_web_image(LENGTH);
  const runs = [];
  for (let i = 0; i < updates; i++) {
    const before = device.reportsTaken;
    const started = performance.now();
    const outcome = await core.ccall('gps_web_update', 'number', ['number', 'number'],
                                     [buffer, LENGTH], {async: true});
    if (outcome !== 0) throw new Error(`the update failed: ${outcome}`);
    runs.push({ms: performance.now() - started, reports: device.reportsTaken - before});
  }
  return runs.reduce((a, b) => (a.ms < b.ms ? a : b));
}

(async () => {
  for (const window of [1, 8]) {
    const best = await measure(window, 3);
    console.log(`window ${window}: ${best.reports} reports in ${best.ms.toFixed(0)} ms, ` +
                `${((1000 * best.ms) / best.reports).toFixed(1)} µs per report (best of 3)`);
  }
})();
