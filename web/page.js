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
  // The model's answers, as the core numbers them (page_core.cc).
  const START = 4;
  const CLOSE_NOW = 0;
  const ANSWER_CLOSE = 1;
  const ANSWER_STOP = 2;
  // A device that has just arrived may not be usable yet: while the model
  // says so, the device is looked at again this often.
  const SETTLE_RETRY_MS = 500;
  // The most output reports a link may keep in flight.
  const MAX_WINDOW = 32;
  // How long the core may take to load before the page says that it is
  // still loading (a slow line, a slow computer): it goes on waiting.
  const CORE_SLOW_MS = 15000;
  // The mark of an update under way, kept by the browser across a closed
  // tab, a crash or a power cut.
  const UNFINISHED_MARK = 'gps-update-unfinished';
  // How long a new copy waits for the lock of one that is going away.
  const LOCK_WAIT_MS = 2000;

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
    facts: null,          // from the core: texts, device ids
    hid: null,
    image: null,          // {name, size, read(): Promise<ArrayBuffer>}
    view: null,           // the dialog's model, as the core last showed it
    blocked: false,       // nothing may start here (another copy, a foreign frame)
    running: false,       // a job is in the core (between 更新 and its end)
    lastProbe: -1,        // the outcome of the last look that opened the device
    looking: null,        // the look under way, if any
    lookAgain: false,
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

  // The model's view. A new status text or box is drawn at once (each text
  // is seen, and announced). The bar, the line under it and the title
  // follow the job's progress on an animation frame at most every
  // PROGRESS_MS, less often where drawing such a frame takes the page's
  // thread more than 1/PROGRESS_SHARE of that time (a slow computer), and
  // never less often than PROGRESS_MOST_MS. Every frame the browser draws
  // costs it far more than the reports the job writes meanwhile, and those
  // reports go through the same processes (web/README.md, "Pace").
  const PROGRESS_MS = 250;
  const PROGRESS_SHARE = 20;
  const PROGRESS_MOST_MS = 2000;
  // A new title costs the browser's own process more than a frame: it
  // redraws the tab strip and records the title. The title's number is for
  // a glance from elsewhere: while the page's own bar is in view it changes
  // at most every TITLE_MS; in a hidden tab, where it is all the user sees
  // of the update, every TITLE_HIDDEN_MS.
  const TITLE_MS = 5000;
  const TITLE_HIDDEN_MS = 2000;
  const drawing = {frame: 0, timer: 0, at: -Infinity, titleAt: -Infinity, cost: 0};
  function show(view) {
    const last = state.view;
    state.view = view;
    if (!last || view.status !== last.status || view.statusFailed !== last.statusFailed ||
        view.boxSerial !== last.boxSerial) {
      drawNow();
    } else {
      progressed();
    }
  }

  // The job moved on: its progress is drawn on the next progress frame,
  // asked for from a timer (never from inside the core's call that said the
  // bar moved). A hidden tab draws no frames, but its title is what the tab
  // strip shows of the update: there the timer draws the progress itself.
  function progressed() {
    if (drawing.frame || drawing.timer) return;
    const every = Math.min(Math.max(PROGRESS_MS, PROGRESS_SHARE * drawing.cost),
                           PROGRESS_MOST_MS);
    const wait = Math.max(0, drawing.at + every - performance.now());
    drawing.timer = setTimeout(() => {
      drawing.timer = 0;
      if (document.hidden) drawProgress();
      else drawing.frame = requestAnimationFrame(drawProgress);
    }, wait);
  }

  // A tab hidden while its frame was asked for would never get it.
  function hiddenWithFrameAsked() {
    if (!document.hidden || !drawing.frame) return;
    cancelAnimationFrame(drawing.frame);
    drawing.frame = 0;
    progressed();
  }

  // A frame of progress, and how long the browser took over it: from its
  // callback to the first task after it, the frame's style, layout, paint
  // and hand-over to the compositor come in between. The core hands the
  // page a view when a status or a box changes, and otherwise only says
  // that the bar moved: the view is asked for here.
  function drawProgress() {
    const start = performance.now();
    if (state.core) state.view = JSON.parse(state.core.UTF8ToString(state.core._gps_web_view()));
    draw(false);
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      drawing.cost = performance.now() - start;
      channel.port1.close();
    };
    channel.port2.postMessage(null);
  }

  function drawNow() {
    cancelAnimationFrame(drawing.frame);
    clearTimeout(drawing.timer);
    drawing.timer = 0;
    draw(true);
  }

  let drawnWidth = null;  // the bar's width as last written (the style reads it back rounded)
  // `now`: the title too, however recently it changed.
  function draw(now) {
    drawing.frame = 0;
    drawing.at = performance.now();
    const view = state.view;
    if (!view || state.blocked) return;
    if (ui.status.textContent !== view.status || ui.status.classList.contains('failure') !==
        view.statusFailed) {
      showStatus(view.status, view.statusFailed);
    }
    setText(ui.detail, view.progressLine);
    setAttribute(ui.bar, 'aria-valuetext', view.progressLine || null);
    const titleEvery = document.hidden ? TITLE_HIDDEN_MS : TITLE_MS;
    if (document.title !== view.title && (now || drawing.at - drawing.titleAt >= titleEvery)) {
      drawing.titleAt = drawing.at;
      document.title = view.title;
    }
    const range = view.barRange;
    const position = Math.min(view.barPosition, range);
    setAttribute(ui.bar, 'aria-valuemax', String(range));
    setAttribute(ui.bar, 'aria-valuenow', String(position));
    const width = range > 0 ? `${(100 * position) / range}%` : '0';
    if (drawnWidth !== width) {
      drawnWidth = width;
      ui.fill.style.width = width;
    }
    keepScreenAwake(view.keepAwake);
    refreshButtons();
    showBox(view);
  }

  // The view comes after every page the job writes, and most of it is as
  // it was: only what changed is written to the document. A write of the
  // same text or attribute still costs the browser a style and layout pass,
  // and a title a message to the browser's own process, which the reports
  // in flight wait on.
  function setText(element, value) {
    if (element.textContent !== value) element.textContent = value;
  }

  function setAttribute(element, name, value) {
    if (value === null) {
      if (element.hasAttribute(name)) element.removeAttribute(name);
    } else if (element.getAttribute(name) !== value) {
      element.setAttribute(name, value);
    }
  }

  function setDisabled(element, disabled) {
    if (element.disabled !== disabled) element.disabled = disabled;
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
    const view = state.view;
    const may = !!view && !state.blocked && !!state.core;
    setDisabled(ui.update, !may || !view.updateEnabled || !state.image || !state.hid);
    setText(ui.cancel, view && view.keepAwake ? '取消' : '關閉');
    setDisabled(ui.cancel, !!view && !view.cancelEnabled);
    setDisabled(ui.fileInput, !may || !view.chooseFileEnabled);
    const job = state.running ? 'running' : 'idle';
    if (document.body.dataset.job !== job) document.body.dataset.job = job;
  }

  // The model's box: one with a new number opens; one that is no longer in
  // the view goes, unanswered.
  const boxShown = {serial: 0, element: null};
  function showBox(view) {
    if (view.boxSerial === boxShown.serial) return;
    if (boxShown.element && boxShown.element.open) {
      boxShown.element.dataset.withdrawn = '1';
      boxShown.element.close();
    }
    boxShown.serial = view.boxSerial;
    boxShown.element = null;
    if (view.boxKind === 'close') {
      const box = $('confirm-close');
      $('confirm-text').textContent = view.boxText;
      box.returnValue = '';
      delete box.dataset.withdrawn;
      delete box.dataset.answered;
      boxShown.element = box;
      box.showModal();
    } else if (view.boxKind === 'message' || view.boxKind === 'advice') {
      const serial = view.boxSerial;
      if (state.kiosk && state.kiosk.station) {
        // A station goes on to the next device: the advice stays on the
        // page instead of in a box that would wait for a click.
        stationNote(view.boxText);
        state.core._gps_web_box_closed();
        return;
      }
      message(view.boxText).then(() => {
        if (boxShown.serial === serial) state.core._gps_web_box_closed();
      });
    }
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
      gpsPage: {view: show, progressed, message},
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
    core._gps_web_open(simulate ? 1 : 0);
  }

  // The core takes one call that waits at a time (a look, an update): such
  // a call pauses it through Asyncify, and no other that waits may enter it
  // until that one has ended. The model's events never wait, and may come
  // meanwhile (a close asked for during an update).
  let coreTurn = Promise.resolve();
  function exclusively(task) {
    const run = coreTurn.then(task);
    coreTurn = run.catch(() => {});
    return run;
  }

  // Calls one of the core's functions that never wait, with numbers and
  // strings. Not through ccall: while another call is paused (a look at the
  // device, an update), ccall takes any call for the paused one's
  // resumption, hands it the paused call's result, and the paused call
  // never ends.
  function callCore(name, ...args) {
    const core = state.core;
    const strings = [];
    try {
      const cArgs = args.map(arg => {
        if (typeof arg !== 'string') return arg;
        const size = core.lengthBytesUTF8(arg) + 1;
        const at = core._malloc(size);
        if (!at) throw new Error('out of memory');
        strings.push(at);
        core.stringToUTF8(arg, at, size);
        return at;
      });
      return core[`_${name}`](...cArgs);
    } finally {
      for (const at of strings) core._free(at);
    }
  }

  // One look at the device: the list of granted devices, and, when the
  // model wants it, the device opened once and closed again. Looks never
  // overlap; one asked for meanwhile follows the current one.
  async function look() {
    if (state.looking) {
      state.lookAgain = true;
      return state.looking;
    }
    state.looking = (async () => {
      do {
        state.lookAgain = false;
        const outcome = await exclusively(
            () => state.core.ccall('gps_web_look', 'number', [], [], {async: true}));
        if (outcome >= 0) state.lastProbe = outcome;
      } while (state.lookAgain && !state.running);
    })();
    await state.looking;
    state.looking = null;
    showGrantHint();
    // A device that would not open may still become usable for a while.
    if (state.view && state.view.settling) setTimeout(followDevice, SETTLE_RETRY_MS);
    maybeAutostart();
  }

  // Plugged in or out: the model says whether the page follows the device
  // (an update's last text stays), except at a station, where a device that
  // arrives is the next one to update.
  function followDevice() {
    if (state.running || state.blocked || !state.core) return;
    if (!(state.view && state.view.watchDevice) && !state.autostart) return;
    look();
  }

  function onDeviceChange(event) {
    if (event.type === 'connect' && stationTakes(event.device)) state.autostart = true;
    followDevice();
  }

  // --- the image ----------------------------------------------------------------

  // A refusal that only the page makes (where the image comes from).
  async function refuseSource(boxText) {
    state.image = null;
    state.autostart = false;
    refreshButtons();
    await message(boxText);
  }

  // The model takes the file, or refuses it from its size alone (before a
  // byte of it is read); its view says why.
  async function takeImage(name, size, read) {
    state.image = null;
    const taken = callCore('gps_web_file_chosen', name, size);
    if (taken) state.image = {name, size, read};
    else state.autostart = false;
    refreshButtons();
    return taken;
  }

  async function chooseFile(file) {
    if (!file || state.running || state.blocked || !state.core) return;
    describeImage(file.name, file.size, new Date(file.lastModified));
    await takeImage(file.name, file.size, () => file.arrayBuffer());
  }

  // What a drop holds, as the desktop programs take it: one file is taken;
  // one folder (the unpacked download) gives its code_data.bin; several get
  // the core's box that asks for one. The items are read during the drop
  // event, while the browser still hands them out.
  function dropped(transfer) {
    if (state.running || state.blocked || !state.core) return;
    const items = [...transfer.items].filter(item => item.kind === 'file');
    if (items.length > 1) {
      state.core._gps_web_several_dropped(items.length);
      return;
    }
    const entry = items.length === 1 && items[0].webkitGetAsEntry ? items[0].webkitGetAsEntry() : null;
    if (!entry || !entry.isDirectory) {
      chooseFile(transfer.files[0]);
      return;
    }
    entry.getFile(state.facts.defaultImageFile, {}, found => found.file(chooseFile), () => {
      callCore('gps_web_folder_without_image', entry.name);
    });
  }

  function tooLarge(size) {
    return callCore('gps_web_too_large', size);
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
    if (declared !== null && /^\d+$/.test(declared.trim()) && await tooLarge(Number(declared))) {
      response.body?.cancel();
      describeImage(path, Number(declared), date);
      return takeImage(path, Number(declared), null);
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
        if (await tooLarge(size)) {
          reader.cancel();
          pieces.length = 0;
          describeImage(path, size, date);
          return takeImage(path, size, null);
        }
      }
    } catch (e) {
      return refuseSource(state.facts.readFilePrefix + path + state.facts.readFileSuffix);
    }
    describeImage(path, size, date);
    const bytes = new Uint8Array(size);
    let at = 0;
    for (const piece of pieces) {
      bytes.set(piece, at);
      at += piece.byteLength;
    }
    await takeImage(path, size, async () => bytes.buffer);
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
  const awake = {wanted: false, lock: null, asking: false};
  async function keepScreenAwake(wanted) {
    if (wanted === awake.wanted && (!wanted || awake.lock || awake.asking)) return;
    awake.wanted = wanted;
    if (!wanted) {
      const lock = awake.lock;
      awake.lock = null;
      if (lock) lock.release().catch(() => {});
      return;
    }
    if (awake.lock || !navigator.wakeLock || document.visibilityState !== 'visible') return;
    awake.asking = true;
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
    } finally {
      awake.asking = false;
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
    const pressed = device => callCore('gps_web_update_pressed', image.size, device);
    let outcome = null;
    try {
      // The file first, before any device chooser opens.
      if (await pressed(1) !== START) return;
      // The device for the update: one already granted, or one the user
      // picks now (the browser asks only during a click).
      if (fromClick && !(await haveDevice())) {
        await pressed(0);  // nothing was sent: the model says the device is missing
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
      outcome = await exclusively(async () => {
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
        try {
          return await core.ccall('gps_web_update', 'number', ['number', 'number'],
                                  [buffer, length], {async: true});
        } finally {
          core._gps_web_release(buffer);
          state.stop = null;
        }
      });
    } finally {
      markUnfinished(false);
      state.running = false;
      drawNow();
    }
    if (outcome !== null) await afterEnd(outcome);
  }

  async function afterEnd(outcome) {
    if (state.core._gps_web_job_closes()) {
      closePage();
      return;
    }
    if (state.kiosk && state.kiosk.station) {
      const succeeded = outcome === 0;
      state.station[succeeded ? 'updated' : 'failed']++;
      state.station.lastEnd = performance.now();
      state.station.lastSucceeded = succeeded;
      stationNote('');
    }
  }

  function stationNote(advice) {
    const count = $('station-count');
    count.hidden = false;
    count.textContent = text.stationCount(state.station.updated, state.station.failed) +
                        (advice ? `\n${advice}` : '');
  }

  // A station updates the device behind each connect event, but not the
  // one that just returns from the restart that ended its update.
  function stationTakes(device) {
    if (!state.kiosk || !state.kiosk.station || state.blocked || !matches(device)) return false;
    const s = state.station;
    return !(s.lastSucceeded && performance.now() - s.lastEnd < state.facts.restartWindowMs);
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
      ui.cancel.title = text.closeTab;
      state.core._gps_web_close_refused();
    }, 200);
  }

  // 取消, Esc: the model asks first during an update (the device would be
  // left without a complete database); confirmed, the update stops at its
  // current report and the page closes once it has ended.
  async function onCancel() {
    if (!state.core || state.blocked) {
      closePage();
      return;
    }
    const action = state.core._gps_web_close_requested();
    if (action === CLOSE_NOW) closePage();
  }

  // The answer to the close question, once (a box taken away by the model
  // is no answer). A button's answer goes to the core as it is pressed, not
  // a task later with the dialog's close event: a close asked for in between
  // would still find the question open and be ignored. Esc and the close
  // event keep the update. A close event that arrives when the box is open
  // again belongs to an earlier question (the event comes a task after the
  // box shut): it must not answer the new one.
  function onCloseAnswered(stop, event) {
    const box = $('confirm-close');
    if (event && box.open) return;
    if (box.dataset.withdrawn || box.dataset.answered) return;
    box.dataset.answered = '1';
    const action = state.core._gps_web_close_answered(stop ? 1 : 0);
    if (action === ANSWER_CLOSE) closePage();
    if (action === ANSWER_STOP && state.stop) state.stop();
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
    const advice = state.core.UTF8ToString(state.core._gps_web_unfinished_advice());
    await message(text.unfinished + advice);
  }

  // One copy at a time, as on the desktop: the lock has the desktop
  // programs' name and is held while the page is open.
  // A copy that is going away (a reload, a tab being closed) holds the lock
  // until its document is gone, a moment after the new copy asks: the new
  // copy waits for it that long before it says another copy is open.
  async function takeInstanceLock() {
    if (!navigator.locks) return true;
    return new Promise(resolve => {
      navigator.locks.request('GPS_UPDATE_CLIENT', {signal: AbortSignal.timeout(LOCK_WAIT_MS)},
                              () => {
                                resolve(true);
                                return new Promise(() => {});
                              }).catch(() => resolve(false));
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
    $('confirm-stop').addEventListener('click', () => onCloseAnswered(true));
    $('confirm-keep').addEventListener('click', () => onCloseAnswered(false));
    $('confirm-close').addEventListener('close', event => onCloseAnswered(false, event));
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
      dropped(event.dataTransfer);
    });
    document.addEventListener('visibilitychange', () => {
      hiddenWithFrameAsked();
      if (awake.wanted && document.visibilityState === 'visible' && !awake.lock) {
        awake.wanted = false;
        keepScreenAwake(true);
      }
    });
    window.addEventListener('beforeunload', event => {
      if (state.view && state.view.keepAwake && state.view.cancelEnabled) event.preventDefault();
    });
  }

  async function start() {
    wireEvents();
    refreshButtons();
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
      await look();
    }
    const image = params.get('image') ?? (state.kiosk && state.kiosk.image);
    if (typeof image === 'string') await fetchImage(image);
    maybeAutostart();
  }

  start();
})();
