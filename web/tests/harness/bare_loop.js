// What the browser itself needs per output report: a bare loop of
// sendReport on the first granted device, `window` reports in flight, no
// core and no page around it. The VM's pace case sets the page against it.
//
//   bare_loop.html?reports=1004&window=8
// Leaves {ms, reports} (or {error}) in window.bareLoop.
'use strict';

(async () => {
  const params = new URLSearchParams(location.search);
  const reports = Number(params.get('reports')) || 1004;
  const inFlightMost = Math.max(1, Number(params.get('window')) || 8);
  const devices = await navigator.hid.getDevices();
  const device = devices.find(d => d.vendorId === 0x0416 && d.productId === 0xB500);
  if (!device) throw new Error('no granted device');
  await device.open();
  // A report the device takes and ignores: no command block starts it.
  const report = new Uint8Array(64).fill(0xFF);
  const inFlight = [];
  const started = performance.now();
  for (let i = 0; i < reports; i++) {
    inFlight.push(device.sendReport(0, report));
    if (inFlight.length >= inFlightMost) await inFlight.shift();
  }
  await Promise.all(inFlight);
  const ms = performance.now() - started;
  await device.close();
  return {ms, reports};
})().then(result => {
  window.bareLoop = result;
}, error => {
  window.bareLoop = {error: String(error)};
}).finally(() => {
  document.getElementById('shown').textContent = JSON.stringify(window.bareLoop);
});
