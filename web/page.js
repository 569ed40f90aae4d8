// The update dialog as a web page. The core (gps_core.js, the same C++ as the
// desktop programs, in WebAssembly) finds the device through WebHID, runs
// the update and reports every step here: the status line, the bar and the
// message box behave as in the desktop programs.
//
// Query parameters:
//   simulate=1   a simulated device stands in for WebHID (sim_hid.js)
//   image=URL    the image comes from URL instead of a file the user picks
//   autostart=1  with image=, the update starts once a granted device is present
//   window=N     output reports kept in flight (1: each awaited before the next)
'use strict';

(() => {
  const VENDOR_ID = 0x0416;
  const PRODUCT_ID = 0xB500;
  const MAX_DATABASE_SIZE = 0xFF6000;
  const TITLE = document.title;
  // ProbeOutcome's order in the core.
  const PROBE_PRESENT = 0;
  const PROBE_ABSENT = 1;
  // A device that has just arrived may not be usable yet (on Linux, udev
  // grants access a moment after the device appears): for this long after a
  // change, a device that would not open is looked at again.
  const SETTLE_MS = 2000;
  const SETTLE_RETRY_MS = 500;

  const params = new URLSearchParams(location.search);
  const simulate = params.get('simulate') === '1';
  const $ = id => document.getElementById(id);
  const ui = {
    status: $('status'), update: $('update'), cancel: $('cancel'), fill: $('progress-fill'),
    bar: $('progress'), fileText: $('file-text'), fileInput: $('file-input'),
  };

  const state = {
    core: null,
    texts: null,
    hid: null,
    image: null,          // {name, size, date, read(): Promise<ArrayBuffer>}
    running: false,
    closing: false,
    statusFromProbe: false,
    lastProbe: PROBE_ABSENT,
    changedAt: -Infinity,
    probing: null,        // the probe under way, if any
    probeAgain: false,
    range: 100,
    autostart: params.get('autostart') === '1' && params.has('image'),
  };

  // --- what the user sees ---------------------------------------------------

  function showStatus(text) {
    ui.status.textContent = text;
  }

  // The bar behaves as the Windows progress control: the range keeps only
  // the low 16 bits of its upper bound, and a position outside it is clamped.
  function setRange(upper) {
    state.range = upper & 0xFFFF;
    ui.bar.setAttribute('aria-valuemax', String(state.range));
    setPosition(0);
  }

  function setPosition(position) {
    const p = Math.min(Math.max(position, 0), state.range);
    ui.bar.setAttribute('aria-valuenow', String(p));
    ui.fill.style.width = state.range > 0 ? `${(100 * p) / state.range}%` : '0';
  }

  // A modal box with one OK button; resolves when the user has closed it.
  function message(text) {
    const box = $('message');
    $('message-text').textContent = text;
    return new Promise(resolve => {
      box.addEventListener('close', () => resolve(), {once: true});
      box.showModal();
    });
  }

  function describeFile(image) {
    const parts = [image.name, `${image.size.toLocaleString('zh-TW')} 位元組`];
    if (image.date) {
      parts.push(image.date.toLocaleString('zh-TW', {dateStyle: 'short', timeStyle: 'short'}));
    }
    ui.fileText.textContent = parts.join('　');
    ui.fileText.title = ui.fileText.textContent;
  }

  function refreshButtons() {
    ui.update.disabled = state.running || state.closing || !state.core || !state.image ||
                         !state.hid;
    ui.cancel.textContent = state.running ? '取消' : '關閉';
    ui.cancel.disabled = state.closing;
    ui.fileInput.disabled = state.running || state.closing;
  }

  // The browser lists only devices the user has granted to the page: until
  // then a plugged-in device looks missing, and the way to grant it is the
  // update button.
  async function showGrantHint() {
    if (simulate || !state.hid) return;
    $('grant-hint').hidden = (await grantedDevices()).some(matches);
  }

  // --- the core ---------------------------------------------------------------

  async function loadCore() {
    const core = await GpsCore({
      gpsHid: state.hid,
      gpsPage: {
        status(text) {
          state.statusFromProbe = false;
          showStatus(text);
          document.title = `${TITLE} - ${text}`;
        },
        range: setRange,
        position: setPosition,
        message,
        probed(outcome, text) {
          state.lastProbe = outcome;
          state.statusFromProbe = true;
          showStatus(text);
        },
      },
    });
    const inFlight = Number(params.get('window'));
    if (Number.isInteger(inFlight) && inFlight >= 1) core.gpsWebHid.window = inFlight;
    state.texts = JSON.parse(core.UTF8ToString(core._gps_web_texts()));
    state.core = core;
  }

  // The core takes one call at a time: a call that waits on WebHID pauses
  // it through Asyncify, and no other may enter it until that one has ended.
  let coreTurn = Promise.resolve();
  function exclusively(task) {
    const run = coreTurn.then(task);
    coreTurn = run.catch(() => {});
    return run;
  }

  // One look at the device: the core opens it and closes it again. Looks
  // never overlap; one asked for meanwhile follows the current one.
  async function probe() {
    if (state.probing) {
      state.probeAgain = true;
      return state.probing;
    }
    state.probing = (async () => {
      do {
        state.probeAgain = false;
        await exclusively(() => state.core.ccall('gps_web_probe', 'number', [], [], {async: true}));
      } while (state.probeAgain && !state.running);
    })();
    await state.probing;
    state.probing = null;
    showGrantHint();
    const unusable = state.lastProbe !== PROBE_PRESENT && state.lastProbe !== PROBE_ABSENT;
    if (unusable && performance.now() - state.changedAt < SETTLE_MS) {
      setTimeout(followDevice, SETTLE_RETRY_MS);
    }
    maybeAutostart();
  }

  // Plugged in or out: while the status line shows a look's text and no
  // update runs, the page looks again. An update's last text stays.
  function followDevice() {
    if (state.running || state.closing || !state.statusFromProbe) return;
    probe();
  }

  function onDeviceChange() {
    state.changedAt = performance.now();
    followDevice();
  }

  // --- the image ----------------------------------------------------------------

  function chooseFile(file) {
    if (!file || state.running) return;
    state.image = {
      name: file.name, size: file.size, date: new Date(file.lastModified),
      read: () => file.arrayBuffer(),
    };
    describeFile(state.image);
    refreshButtons();
  }

  // The kiosk and test mode: the image comes from a URL, fetched once.
  async function fetchImage(url) {
    let name = url;
    try {
      name = decodeURIComponent(new URL(url, location.href).pathname.split('/').pop()) || url;
    } catch (e) {
      // A malformed URL keeps its own spelling as the name; the fetch says the rest.
    }
    let response;
    try {
      response = await fetch(url);
    } catch (e) {
      await message(state.texts.readFilePrefix + name + state.texts.readFileSuffix);
      return;
    }
    if (!response.ok) {
      await message(state.texts.cantFindPrefix + name);
      return;
    }
    let bytes;
    try {
      bytes = await response.arrayBuffer();
    } catch (e) {
      await message(state.texts.readFilePrefix + name + state.texts.readFileSuffix);
      return;
    }
    const modified = response.headers.get('Last-Modified');
    state.image = {
      name, size: bytes.byteLength, date: modified ? new Date(modified) : null,
      read: async () => bytes,
    };
    describeFile(state.image);
    refreshButtons();
  }

  // --- the update -------------------------------------------------------------

  // The device for the update: one already granted, or one the user picks
  // now (the browser asks only during a click). False when there is none.
  async function haveDevice() {
    if ((await grantedDevices()).some(matches)) return true;
    let picked = [];
    try {
      picked = await state.hid.requestDevice({filters: [{vendorId: VENDOR_ID, productId: PRODUCT_ID}]});
    } catch (e) {
      // No permission to ask (no user gesture, a policy): as if none was picked.
    }
    return picked.some(matches);
  }

  // The granted devices, or none when the browser does not answer in time
  // (it answers only once it has enumerated the system's HID devices).
  function grantedDevices() {
    const late = new Promise(resolve => setTimeout(() => resolve([]), state.core.gpsWebHid.answerMs));
    return Promise.race([state.hid.getDevices().catch(() => []), late]);
  }

  function matches(device) {
    return device.vendorId === VENDOR_ID && device.productId === PRODUCT_ID;
  }

  async function runUpdate(fromClick) {
    if (state.running || !state.image || !state.core) return;
    const core = state.core;
    const image = state.image;
    state.running = true;
    refreshButtons();
    try {
      if (fromClick && !(await haveDevice())) {
        // Nothing was sent: the device is missing, and the user is told so.
        state.statusFromProbe = false;
        showStatus(state.texts.deviceConnectFailed);
        return;
      }
      let bytes;
      try {
        bytes = await image.read();
      } catch (e) {
        await message(state.texts.readFilePrefix + image.name + state.texts.readFileSuffix);
        return;
      }
      await exclusively(async () => {
        if (state.closing) return;  // stopped before it could start
        const length = bytes.byteLength;
        // The core refuses an image larger than the device takes with its
        // own text, before it looks at any byte of it.
        const buffer = core._gps_web_image(length);
        if (!buffer && length <= MAX_DATABASE_SIZE) {
          await message(state.texts.outOfMemory + image.name);
          return;
        }
        if (buffer) core.HEAPU8.set(new Uint8Array(bytes), buffer);
        bytes = null;  // the core's copy is the one that counts now
        const stop = core._gps_web_stop_event();
        state.stop = () => core.gpsStopEvents.set(stop);
        try {
          await core.ccall('gps_web_update', 'number', ['number', 'number'], [buffer, length],
                           {async: true});
        } finally {
          core._gps_web_release(buffer);
          state.stop = null;
        }
      });
    } finally {
      state.running = false;
      refreshButtons();
      if (state.closing) closePage();
    }
  }

  // Kiosk mode: the update starts by itself once the image is here and a
  // granted device answered a look.
  function maybeAutostart() {
    if (!state.autostart || !state.image || state.lastProbe !== PROBE_PRESENT) return;
    state.autostart = false;
    runUpdate(false);
  }

  // --- closing ----------------------------------------------------------------

  function closePage() {
    // A browser closes only a window that a script opened or that has no
    // history; otherwise the page stays, and says so on the button.
    window.close();
    setTimeout(() => {
      if (!window.closed) ui.cancel.title = '請關閉瀏覽器的分頁或視窗。';
    }, 200);
  }

  // During an update the user is asked first, since the device would be
  // left without a complete database; confirmed, the update stops at its
  // current report and the page closes once it has ended.
  function onCancel() {
    if (!state.running) {
      closePage();
      return;
    }
    const box = $('confirm-close');
    if (box.open || state.closing) return;
    $('confirm-text').textContent = state.texts.confirmClose;
    box.returnValue = '';
    box.showModal();
  }

  // The answer to the close question. One listener for every time it is
  // asked: a box's close event comes a moment after the box has closed, and
  // may come after the question was asked again.
  function onCloseAnswered() {
    if ($('confirm-close').returnValue !== 'stop' || !state.running || state.closing) return;
    state.closing = true;
    refreshButtons();
    if (state.stop) state.stop();
  }

  // --- start ------------------------------------------------------------------

  function unsupported() {
    const note = $('unsupported');
    note.hidden = false;
    note.textContent = window.isSecureContext
        ? '這個瀏覽器不能連接 USB 設備 (不支援 WebHID)。請在 Windows、macOS、Linux 或 ChromeOS 上用 ' +
          'Chrome 或 Edge 開啟此頁，或使用電腦版更新程式：Windows 的 Update.exe，Linux 的 gps-update。'
        : '此頁必須以 https:// 開啟，瀏覽器才能連接 USB 設備。';
  }

  // One copy at a time, as on the desktop: the lock has the desktop
  // programs' name and is held while the page is open.
  async function takeInstanceLock() {
    if (!navigator.locks) return true;
    return new Promise(resolve => {
      navigator.locks.request('GPS_UPDATE_CLIENT', {ifAvailable: true}, lock => {
        resolve(lock !== null);
        return lock ? new Promise(() => {}) : undefined;
      });
    });
  }

  function wireEvents() {
    ui.update.addEventListener('click', () => runUpdate(true));
    ui.cancel.addEventListener('click', onCancel);
    $('confirm-close').addEventListener('close', onCloseAnswered);
    ui.fileInput.addEventListener('change', () => chooseFile(ui.fileInput.files[0]));
    $('about-open').addEventListener('click', () => $('about').showModal());
    document.addEventListener('keydown', event => {
      if (event.altKey && event.key.toLowerCase() === 'a') $('about').showModal();
    });
    document.addEventListener('dragover', event => {
      event.preventDefault();
      document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', event => {
      if (!event.relatedTarget) document.body.classList.remove('dragging');
    });
    document.addEventListener('drop', event => {
      event.preventDefault();
      document.body.classList.remove('dragging');
      chooseFile(event.dataTransfer.files[0]);
    });
    window.addEventListener('beforeunload', event => {
      if (state.running && !state.closing) event.preventDefault();
    });
  }

  async function start() {
    wireEvents();
    if (simulate) {
      state.hid = await GpsSimHid.demo();
      $('simulated').hidden = false;
    } else if (navigator.hid) {
      state.hid = navigator.hid;
    }
    if (!state.hid) unsupported();
    await loadCore();
    if (!(await takeInstanceLock())) {
      state.closing = true;  // nothing may start here
      refreshButtons();
      await message(state.texts.softwareInUse);
      return;
    }
    refreshButtons();
    if (state.hid) {
      state.hid.addEventListener('connect', onDeviceChange);
      state.hid.addEventListener('disconnect', onDeviceChange);
      await probe();
    }
    if (params.has('image')) await fetchImage(params.get('image'));
    maybeAutostart();
  }

  start();
})();
