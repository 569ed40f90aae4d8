// The update dialog as a web page. The core (gps_core.js, the same C++ as the
// desktop programs, in WebAssembly) finds the device through WebHID, runs
// the update and says what the user sees: the status texts, the bar, the
// progress line, how an update ended and what to do after a failure, which
// files it refuses. This file keeps the page's own part: the document, the
// file input, WebHID and the browser's APIs, and what only a web page has to
// decide (where an image may come from, frames, the kiosk, offline use).
//
// Query parameters:
//   simulate=1   a simulated device stands in for WebHID (sim_hid.js)
//   image=PATH   the image comes from PATH on this page's own site
//   window=N     output reports kept in flight, 1..32 (1: each awaited
//                before the next)
// The page starts an update by itself only when its site says so in
// kiosk.json (see web/README.md).
'use strict';

(() => {
  const TITLE = document.title;
  const RELEASE = document.querySelector('meta[name="gps-release"]').content;
  // ProbeOutcome's order in the core.
  const PROBE_PRESENT = 0;
  const PROBE_ABSENT = 1;
  // A device that has just arrived may not be usable yet: within the core's
  // settle time after a change, a device that would not open is looked at
  // again this often.
  const SETTLE_RETRY_MS = 500;
  // The most output reports a link may keep in flight.
  const MAX_WINDOW = 32;
  // How long the core may take to load before the page says that it is
  // still loading (a slow line, a slow computer): it goes on waiting.
  const CORE_SLOW_MS = 15000;
  // The mark of an update under way, kept by the browser across a closed
  // tab, a crash or a power cut.
  const UNFINISHED_MARK = 'gps-update-unfinished';
  // A station takes a device that arrives this soon after a successful
  // update for that device coming back from its restart, not a new one.
  const RESTART_GRACE_MS = 10000;

  const params = new URLSearchParams(location.search);
  const simulate = params.get('simulate') === '1';
  const $ = id => document.getElementById(id);
  const ui = {
    status: $('status'), update: $('update'), cancel: $('cancel'), fill: $('progress-fill'),
    bar: $('progress'), fileText: $('file-text'), fileInput: $('file-input'),
    detail: $('progress-detail'),
  };

  const state = {
    core: null,
    facts: null,          // from the core: texts, device ids, settle time
    hid: null,
    image: null,          // {line, name, size, read(): Promise<ArrayBuffer>}
    blocked: false,       // nothing may start here (another copy, a foreign frame)
    running: false,
    closing: false,
    statusFromProbe: false,
    lastProbe: PROBE_ABSENT,
    changedAt: -Infinity,
    probing: null,        // the probe under way, if any
    probeAgain: false,
    range: 100,
    position: 0,
    framing: 'none',      // 'none', 'same' (a same-origin frame) or 'foreign'
    kiosk: null,          // kiosk.json, when the site has one
    autostart: false,     // the next granted device that answers is updated
    station: {updated: 0, failed: 0, lastEnd: -Infinity, lastSucceeded: false},
  };

  const text = {
    notAlone: '此頁必須單獨開啟，不能放在其他網站的頁面中使用。請直接在瀏覽器的網址列開啟此頁。',
    fromFile: '此頁不能直接從檔案開啟 (file://)：瀏覽器只在網站上 (https://) 允許此頁連接 USB 設備。' +
              '請開啟貴公司網站上的更新頁，或使用電腦版更新程式：Windows 的 Update.exe，Linux 的 gps-update。',
    noWasm: '這個瀏覽器不能執行此頁的更新程式 (不支援 WebAssembly)。請用最新版的 Chrome 或 Edge 開啟此頁，' +
            '或使用電腦版更新程式：Windows 的 Update.exe，Linux 的 gps-update。',
    noCore: '此頁的更新程式 (gps_core.js、gps_core.wasm) 無法載入。請重新整理此頁；' +
            '若仍然如此，請通知網站管理員：網站上缺少這些檔案，或檔案不完整。',
    noWebHid: '這個瀏覽器不能連接 USB 設備 (不支援 WebHID)。請在 Windows、macOS、Linux 或 ChromeOS 上用 ' +
              'Chrome 或 Edge 開啟此頁，或使用電腦版更新程式：Windows 的 Update.exe，Linux 的 gps-update。',
    notSecure: '此頁必須以 https:// 開啟，瀏覽器才能連接 USB 設備。',
    coreSlow: '正在載入更新程式…網路或電腦較慢時需要一些時間。若一直停在這裡，請重新整理此頁。',
    foreignImage: value => `不接受此網站以外的資料庫檔案：${value}\n沒有送出任何資料。` +
                           '請選擇電腦上的檔案，或使用此網站提供的檔案。',
    notAllowed: path => `${path} 不在此網站 kiosk.json 允許的資料庫檔案中。沒有送出任何資料。`,
    redirected: path => `讀取 ${path} 錯誤! 網站沒有回應，或把這個網址轉到了別處。沒有送出任何資料。`,
    isPage: path => `${path} 不是資料庫檔案 (網站送來的是網頁)。沒有送出任何資料。`,
    simulated: '（模擬設備）',
    kioskNote: '自動更新站：插入設備後，更新會自動開始。',
    stationNote: '自動更新站：每插入一台設備，更新會自動開始；完成後拔下設備，再插入下一台。',
    stationCount: (updated, failed) =>
      `已更新 ${updated} 台，失敗 ${failed} 台。請拔下設備，再插入下一台。`,
    unfinished: '上次在這個瀏覽器中的更新沒有完成 (分頁或瀏覽器在更新中被關閉)。\n\n',
    closeTab: '請關閉瀏覽器的分頁或視窗。',
  };

  // --- what the user sees ---------------------------------------------------

  function showStatus(statusText, failure = false) {
    ui.status.textContent = statusText;
    ui.status.classList.toggle('failure', failure);
    // A failure is announced at once by a screen reader; the rest politely.
    ui.status.setAttribute('role', failure ? 'alert' : 'status');
  }

  function baseTitle() {
    return simulate ? TITLE + text.simulated : TITLE;
  }

  // The line under the bar and, while an update runs, the title's
  // percentage (both from the core); the bar's spoken value is the line.
  function showLine(line, percent) {
    ui.detail.textContent = line;
    if (line) ui.bar.setAttribute('aria-valuetext', line);
    else ui.bar.removeAttribute('aria-valuetext');
    document.title = percent >= 0 ? `${percent}% - ${baseTitle()}` : baseTitle();
  }

  // The bar behaves as the Windows progress control: the range keeps only
  // the low 16 bits of its upper bound, and a position outside it is clamped.
  // The bar is drawn once per frame at most: a report's position costs the
  // update nothing but a number.
  let barFrame = 0;
  function setRange(upper) {
    state.range = upper & 0xFFFF;
    setPosition(0);
  }

  function setPosition(position) {
    state.position = Math.min(Math.max(position, 0), state.range);
    if (!barFrame) barFrame = requestAnimationFrame(drawBar);
  }

  function drawBar() {
    barFrame = 0;
    ui.bar.setAttribute('aria-valuemax', String(state.range));
    ui.bar.setAttribute('aria-valuenow', String(state.position));
    ui.fill.style.width = state.range > 0 ? `${(100 * state.position) / state.range}%` : '0';
  }

  function drawBarNow() {
    if (barFrame) cancelAnimationFrame(barFrame);
    drawBar();
  }

  // A modal box with one OK button; resolves when the user has closed it.
  // A box asked for while one is open waits for it.
  let boxes = Promise.resolve();
  function message(boxText) {
    const shown = boxes.then(() => new Promise(resolve => {
      const box = $('message');
      $('message-text').textContent = boxText;
      box.addEventListener('close', () => resolve(), {once: true});
      box.showModal();
    }));
    boxes = shown;
    return shown;
  }

  // Why the page cannot go on, or what it waits for.
  function note(noteText) {
    const el = $('unsupported');
    el.hidden = false;
    el.textContent = noteText;
  }

  // The page cannot run here: it says why and what to do, and stays so.
  function halt(why) {
    note(why);
    document.body.dataset.halted = 'yes';
  }

  function describeImage(line, size, date) {
    const parts = [line, `${size.toLocaleString('zh-TW')} 位元組`];
    if (date && !Number.isNaN(date.getTime())) {
      parts.push(date.toLocaleString('zh-TW', {dateStyle: 'short', timeStyle: 'short'}));
    }
    ui.fileText.textContent = parts.join('　');
    ui.fileText.title = ui.fileText.textContent;
  }

  function refreshButtons() {
    const idle = !state.running && !state.closing && !state.blocked;
    ui.update.disabled = !idle || !state.core || !state.image || !state.hid;
    ui.cancel.textContent = state.running ? '取消' : '關閉';
    ui.cancel.disabled = state.closing;
    ui.fileInput.disabled = !idle || !state.core;
    document.body.dataset.job = state.running ? 'running' : 'idle';
  }

  // The browser lists only devices the user has granted to the page: until
  // then a plugged-in device looks missing, and the way to grant it is the
  // update button.
  async function showGrantHint() {
    if (simulate || !state.hid || state.kiosk) return;
    $('grant-hint').hidden = (await grantedDevices()).some(matches);
  }

  // --- the core ---------------------------------------------------------------

  // Why the core cannot run here, or null when it can.
  function whyNoCore() {
    if (location.protocol === 'file:') return text.fromFile;
    if (typeof WebAssembly !== 'object') return text.noWasm;
    if (typeof GpsCore !== 'function') return text.noCore;
    return null;
  }

  async function loadCore() {
    const made = GpsCore({
      gpsHid: state.hid,
      // The core's .wasm carries the release in its URL, as every file does.
      locateFile: path => `${path}?v=${encodeURIComponent(RELEASE)}`,
      gpsPage: {
        status(statusText) {
          state.statusFromProbe = false;
          showStatus(statusText);
        },
        range: setRange,
        position: setPosition,
        line: showLine,
        message,
        probed(outcome, probeText) {
          state.lastProbe = outcome;
          state.statusFromProbe = true;
          showStatus(probeText);
        },
      },
    });
    // A .wasm that is slow to come (or to compile) gets a note meanwhile;
    // one that cannot come at all ends in the promise's failure.
    const slow = setTimeout(() => note(text.coreSlow), CORE_SLOW_MS);
    let core;
    try {
      core = await made;
    } finally {
      clearTimeout(slow);
    }
    if ($('unsupported').textContent === text.coreSlow) $('unsupported').hidden = true;
    const inFlight = Number(params.get('window'));
    if (params.has('window') && Number.isFinite(inFlight)) {
      core.gpsWebHid.window = Math.min(Math.max(Math.round(inFlight), 1), MAX_WINDOW);
    }
    state.facts = JSON.parse(core.UTF8ToString(core._gps_web_facts()));
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

  // The core's verdict on an image of `size` bytes, before any byte of it
  // is read: null when it may be written, else {kind, status, box}.
  async function checkImage(name, size) {
    const answer = await exclusively(() => state.core.UTF8ToString(
        state.core.ccall('gps_web_check_image', 'number', ['string', 'number'], [name, size])));
    return answer ? JSON.parse(answer) : null;
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
    if (unusable && performance.now() - state.changedAt < state.facts.settleMs) {
      setTimeout(followDevice, SETTLE_RETRY_MS);
    }
    maybeAutostart();
  }

  // Plugged in or out: while the status line shows a look's text and no
  // update runs, the page looks again. An update's last text stays, except
  // at a station, where a device that arrives is the next one to update.
  function followDevice() {
    if (state.running || state.closing || state.blocked) return;
    if (!state.statusFromProbe && !state.autostart) return;
    probe();
  }

  function onDeviceChange(event) {
    state.changedAt = performance.now();
    if (event.type === 'connect' && stationTakes(event.device)) state.autostart = true;
    followDevice();
  }

  // --- the image ----------------------------------------------------------------

  // An image the core refuses from its size alone: its line stays, with
  // the reason on the status line and in a box; nothing is read or sent.
  async function refuse(refusal) {
    state.image = null;
    refreshButtons();
    if (refusal.status) {
      state.statusFromProbe = false;
      showStatus(refusal.status, true);
    }
    if (refusal.box) await message(refusal.box);
  }

  // A refusal that only the page makes (where the image comes from).
  async function refuseSource(boxText) {
    state.image = null;
    state.autostart = false;
    refreshButtons();
    await message(boxText);
  }

  async function chooseFile(file) {
    if (!file || state.running || state.closing || state.blocked || !state.core) return;
    const date = new Date(file.lastModified);
    describeImage(file.name, file.size, date);
    state.image = null;
    const refusal = await checkImage(file.name, file.size);
    if (refusal) {
      await refuse(refusal);
      return;
    }
    state.image = {name: file.name, size: file.size, read: () => file.arrayBuffer()};
    refreshButtons();
  }

  // ?image= and kiosk.json's image: a URL of this page's own site (http or
  // https, this origin), or null. Any other (another site, data:, blob:,
  // javascript:) is refused.
  function sameSiteUrl(value) {
    let url;
    try {
      url = new URL(value, location.href);
    } catch (e) {
      return null;
    }
    if (url.protocol !== 'http:' && url.protocol !== 'https:') return null;
    return url.origin === location.origin ? url : null;
  }

  function pathOf(url) {
    try {
      return decodeURIComponent(url.pathname);
    } catch (e) {
      return url.pathname;
    }
  }

  // The image from a URL of this site, fetched afresh (a kiosk whose image
  // was replaced writes the new one), refused when it is not an image the
  // device takes; nothing is sent for a refused one.
  async function fetchImage(value) {
    const url = sameSiteUrl(value);
    if (!url) return refuseSource(text.foreignImage(value));
    const path = pathOf(url);
    const allowed = state.kiosk && state.kiosk.images;
    if (Array.isArray(allowed) && !allowed.some(p => sameSiteUrl(p)?.pathname === url.pathname)) {
      return refuseSource(text.notAllowed(path));
    }
    const name = path.split('/').pop() || path;
    let response;
    try {
      response = await fetch(url.href, {cache: 'no-store', redirect: 'error',
                                        credentials: 'same-origin', mode: 'same-origin'});
    } catch (e) {
      return refuseSource(text.redirected(path));
    }
    if (!response.ok) return refuseSource(state.facts.cantFindPrefix + path);
    if (/^\s*text\/html\b/i.test(response.headers.get('Content-Type') || '')) {
      response.body?.cancel();
      return refuseSource(text.isPage(path));
    }
    const date = new Date(response.headers.get('Last-Modified') || NaN);
    const declared = response.headers.get('Content-Length');
    if (declared !== null && /^\d+$/.test(declared.trim())) {
      const refusal = await checkImage(name, Number(declared));
      if (refusal && refusal.kind === 'tooLarge') {
        response.body?.cancel();
        describeImage(path, Number(declared), date);
        return refuse(refusal);
      }
    }
    // Read piece by piece: an answer that grows past what the device takes
    // is dropped as soon as it does, whatever its header said.
    const pieces = [];
    let size = 0;
    try {
      const reader = response.body.getReader();
      for (;;) {
        const {done, value: piece} = await reader.read();
        if (done) break;
        size += piece.byteLength;
        pieces.push(piece);
        const refusal = await checkImage(name, size);
        if (refusal && refusal.kind === 'tooLarge') {
          reader.cancel();
          pieces.length = 0;
          describeImage(path, size, date);
          return refuse(refusal);
        }
      }
    } catch (e) {
      return refuseSource(state.facts.readFilePrefix + path + state.facts.readFileSuffix);
    }
    describeImage(path, size, date);
    const refusal = await checkImage(name, size);
    if (refusal) return refuse(refusal);
    const bytes = new Uint8Array(size);
    let at = 0;
    for (const piece of pieces) {
      bytes.set(piece, at);
      at += piece.byteLength;
    }
    state.image = {name, size, read: async () => bytes.buffer};
    refreshButtons();
  }

  // --- the update -------------------------------------------------------------

  // The device for the update: one already granted, or one the user picks
  // now (the browser asks only during a click). False when there is none.
  async function haveDevice() {
    if ((await grantedDevices()).some(matches)) return true;
    let picked = [];
    try {
      picked = await state.hid.requestDevice({
        filters: [{vendorId: state.facts.vendorId, productId: state.facts.productId}]});
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
    return device.vendorId === state.facts.vendorId && device.productId === state.facts.productId;
  }

  // The screen stays on during an update (a sleeping tablet or laptop would
  // leave the device half written); the browser drops the lock whenever the
  // page is hidden, so it is taken again when the page is seen again.
  const awake = {wanted: false, lock: null};
  async function keepScreenAwake(wanted) {
    awake.wanted = wanted;
    if (!wanted) {
      const lock = awake.lock;
      awake.lock = null;
      if (lock) lock.release().catch(() => {});
      return;
    }
    if (awake.lock || !navigator.wakeLock || document.visibilityState !== 'visible') return;
    try {
      const lock = await navigator.wakeLock.request('screen');
      if (!awake.wanted || awake.lock) {
        lock.release().catch(() => {});
        return;
      }
      awake.lock = lock;
      lock.addEventListener('release', () => {
        if (awake.lock === lock) awake.lock = null;
      });
    } catch (e) {
      // Refused (a power saver, a policy): the update goes on without it.
    }
  }

  function markUnfinished(on) {
    try {
      if (on) localStorage.setItem(UNFINISHED_MARK, new Date().toISOString());
      else localStorage.removeItem(UNFINISHED_MARK);
    } catch (e) {
      // Storage turned off: nothing to remember with.
    }
  }

  async function runUpdate(fromClick) {
    if (state.running || state.blocked || !state.image || !state.core) return;
    const core = state.core;
    const image = state.image;
    state.running = true;
    state.autostart = false;
    refreshButtons();
    let ended = null;
    try {
      if (fromClick && !(await haveDevice())) {
        // Nothing was sent: the device is missing, and the user is told so.
        state.statusFromProbe = false;
        showStatus(state.facts.deviceConnectFailed, true);
        return;
      }
      let bytes;
      try {
        bytes = await image.read();
      } catch (e) {
        await message(state.facts.readFilePrefix + image.name + state.facts.readFileSuffix);
        return;
      }
      markUnfinished(true);
      keepScreenAwake(true);
      ended = await exclusively(async () => {
        if (state.closing) return null;  // stopped before it could start
        const length = bytes.byteLength;
        const buffer = core._gps_web_image(length);
        if (!buffer) {
          await message(state.facts.outOfMemory + image.name);
          return null;
        }
        core.HEAPU8.set(new Uint8Array(bytes), buffer);
        bytes = null;  // the core's copy is the one that counts now
        const stop = core._gps_web_stop_event();
        state.stop = () => core.gpsStopEvents.set(stop);
        let outcome;
        try {
          outcome = await core.ccall('gps_web_update', 'number', ['number', 'number'],
                                     [buffer, length], {async: true});
        } finally {
          core._gps_web_release(buffer);
          state.stop = null;
        }
        return JSON.parse(core.UTF8ToString(core.ccall(
            'gps_web_job_end', 'number', ['number', 'string', 'number', 'number'],
            [outcome, image.name, image.size, state.closing ? 1 : 0])));
      });
    } finally {
      markUnfinished(false);
      keepScreenAwake(false);
      state.running = false;
      if (ended) showEnd(ended);
      refreshButtons();
    }
    if (ended) await afterEnd(ended);
  }

  // How the update ended, as the core says: the stop's text, the failure in
  // red, the bar where a failure left it, the line with the time it took.
  function showEnd(end) {
    showLine(end.line, -1);
    if (end.stopText) showStatus(end.stopText);
    else if (end.failure) showStatus(ui.status.textContent, true);
    if (end.barRange !== undefined) {
      state.range = end.barRange & 0xFFFF;
      state.position = Math.min(end.barPosition, state.range);
    }
    drawBarNow();
  }

  async function afterEnd(end) {
    if (state.closing) {
      closePage();
      return;
    }
    if (state.kiosk && state.kiosk.station) {
      // A station goes on to the next device: the advice stays on the page
      // instead of in a box that would wait for a click.
      const succeeded = !end.failure && !end.stopText;
      state.station[succeeded ? 'updated' : 'failed']++;
      state.station.lastEnd = performance.now();
      state.station.lastSucceeded = succeeded;
      const count = $('station-count');
      count.hidden = false;
      count.textContent = text.stationCount(state.station.updated, state.station.failed) +
                          (end.advice ? `\n${end.advice}` : '');
      return;
    }
    if (end.advice) await message(end.advice);
  }

  // A station updates the device behind each connect event, but not the
  // one that just returns from the restart that ended its update.
  function stationTakes(device) {
    if (!state.kiosk || !state.kiosk.station || state.blocked || !matches(device)) return false;
    const s = state.station;
    return !(s.lastSucceeded && performance.now() - s.lastEnd < RESTART_GRACE_MS);
  }

  // Kiosk mode: the update starts by itself once the image is here and a
  // granted device answered a look.
  function maybeAutostart() {
    if (!state.autostart || !state.image || state.lastProbe !== PROBE_PRESENT) return;
    state.autostart = false;
    runUpdate(false);
  }

  // --- closing ----------------------------------------------------------------

  // A browser closes only a window that a script opened or that has no
  // history. When it does not, the page stays usable: the stop's text is on
  // the status line and the controls work again.
  function closePage() {
    window.close();
    setTimeout(() => {
      if (window.closed) return;
      state.closing = false;
      ui.cancel.title = text.closeTab;
      refreshButtons();
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
    $('confirm-text').textContent = state.facts.confirmClose;
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

  // Where the page is shown: by itself, in a frame of its own site (a test
  // driver), or in a frame of another site, where it must not update.
  function framing() {
    if (window.top === window.self) return 'none';
    const ancestors = location.ancestorOrigins;
    if (ancestors) {
      return Array.from(ancestors).every(origin => origin === location.origin) ? 'same' : 'foreign';
    }
    try {
      return window.top.location.origin === location.origin ? 'same' : 'foreign';
    } catch (e) {
      return 'foreign';
    }
  }

  // The site's kiosk.json, fetched afresh, or null when it has none (a
  // public site ships none). {"autostart": true} lets the page start by
  // itself; "images" lists the paths it may write; "image" is the one to
  // write when the link names none; "station": true updates each device
  // plugged in after the last update has ended.
  async function loadKiosk() {
    try {
      const response = await fetch('kiosk.json', {cache: 'no-store', redirect: 'error',
                                                  credentials: 'same-origin', mode: 'same-origin'});
      if (!response.ok) return null;
      const kiosk = await response.json();
      return kiosk && typeof kiosk === 'object' && !Array.isArray(kiosk) ? kiosk : null;
    } catch (e) {
      return null;  // none, or not JSON: no kiosk
    }
  }

  function showKiosk() {
    $('kiosk').hidden = false;
    const kioskNote = $('kiosk-note');
    kioskNote.hidden = false;
    kioskNote.textContent = state.kiosk.station ? text.stationNote : text.kioskNote;
  }

  // A browser that found the mark of an update that never ended tells the
  // user what that means for the device (the core's advice).
  async function reportUnfinished() {
    let mark = null;
    try {
      mark = localStorage.getItem(UNFINISHED_MARK);
      localStorage.removeItem(UNFINISHED_MARK);
    } catch (e) {
      return;
    }
    if (!mark) return;
    const advice = await exclusively(() => state.core.UTF8ToString(
        state.core._gps_web_unfinished_advice()));
    await message(text.unfinished + advice);
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

  // The release's files, kept for use without the network.
  function registerServiceWorker() {
    if (!('serviceWorker' in navigator) || state.framing !== 'none') return;
    navigator.serviceWorker.register(`sw.js?v=${encodeURIComponent(RELEASE)}`)
        .catch(e => console.warn('service worker:', e));
  }

  function wireEvents() {
    ui.update.addEventListener('click', () => runUpdate(true));
    ui.cancel.addEventListener('click', onCancel);
    $('confirm-close').addEventListener('close', onCloseAnswered);
    ui.fileInput.addEventListener('change', () => chooseFile(ui.fileInput.files[0]));
    $('about-open').addEventListener('click', () => $('about').showModal());
    document.addEventListener('keydown', event => {
      if (event.altKey && event.key.toLowerCase() === 'a') $('about').showModal();
      // Esc asks the close question during an update, as the desktop's does;
      // a box that is open takes its own Esc.
      if (event.key === 'Escape' && state.running && !document.querySelector('dialog[open]')) {
        event.preventDefault();
        onCancel();
      }
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
    document.addEventListener('visibilitychange', () => {
      if (awake.wanted && document.visibilityState === 'visible') keepScreenAwake(true);
    });
    window.addEventListener('beforeunload', event => {
      if (state.running && !state.closing) event.preventDefault();
    });
  }

  async function start() {
    wireEvents();
    refreshButtons();
    showLine('', -1);
    if (simulate) {
      $('simulated').hidden = false;
      $('status-simulated').hidden = false;
    }
    const why = whyNoCore();
    if (why) {
      halt(why);
      return;
    }
    state.framing = framing();
    if (simulate) {
      state.hid = await GpsSimHid.demo(`?v=${encodeURIComponent(RELEASE)}`);
    } else if (navigator.hid) {
      state.hid = navigator.hid;
    }
    try {
      await loadCore();
    } catch (e) {
      console.error('core:', e);
      halt(text.noCore);
      return;
    }
    registerServiceWorker();
    if (state.framing === 'foreign') {
      // Someone else's page around this one could make the user's clicks
      // start an update they never saw: nothing starts here.
      state.blocked = true;
      refreshButtons();
      showStatus(text.notAlone, true);
      return;
    }
    if (!state.hid) note(window.isSecureContext ? text.noWebHid : text.notSecure);
    if (!(await takeInstanceLock())) {
      state.blocked = true;  // nothing may start here
      refreshButtons();
      await message(state.facts.softwareInUse);
      return;
    }
    refreshButtons();
    // A page in a frame never starts by itself, even on its own site.
    state.kiosk = state.framing === 'none' ? await loadKiosk() : null;
    if (state.kiosk) {
      // A station starts by itself too: that is what it is for.
      state.autostart = (state.kiosk.autostart === true || state.kiosk.station === true) &&
                        !!state.hid;
      showKiosk();
    }
    await reportUnfinished();
    if (state.hid) {
      state.hid.addEventListener('connect', onDeviceChange);
      state.hid.addEventListener('disconnect', onDeviceChange);
      await probe();
    }
    const image = params.get('image') ?? (state.kiosk && state.kiosk.image);
    if (typeof image === 'string') await fetchImage(image);
    maybeAutostart();
  }

  start();
})();
