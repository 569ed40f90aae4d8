#!/usr/bin/env python3
"""The web page in headless Chromium, on its simulated device (?simulate=1).

Serves the built page (GPS_WEB_DIR) on http://localhost, with test images
under /test/ and the site's kiosk.json as each test sets it, and a second
site (http://127.0.0.1, another origin) that offers images to anyone and
frames the page. Drives the page as a user, a kiosk operator and an
attacker would.

    python3 web/tests/page_test.py                     # the tests
    python3 web/tests/page_test.py --screenshot FILE   # also the README's picture
"""

import argparse
import email.utils
import http.server
import json
import os
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from chromium import Browser  # noqa: E402
from serve import make_handler  # noqa: E402

WEB_DIR = os.environ.get('GPS_WEB_DIR') or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '..', '..', 'build', 'web')
TITLE = '道路安全警示系統更新介面'
SIMULATED_TITLE = TITLE + '（模擬設備）'
SUCCESS = ['設備連線正常!', '正在清除...', '正在寫入資料庫...', '資料庫寫入成功!',
           '正在寫入資料庫...', '更新成功!']
IMAGE_DATE = email.utils.formatdate(time.mktime((2024, 5, 1, 10, 22, 0, 0, 0, -1)), usegmt=True)
MAX_DATABASE_SIZE = 0xFF6000
TOO_MUCH = '資料量過大!'
SCREENSHOT = None

# Every status text the page shows, in order, kept in window.statuses.
RECORD_STATUSES = '''
window.statuses = [];
document.addEventListener('DOMContentLoaded', () => {
  const status = document.getElementById('status');
  new MutationObserver(() => {
    if (status.textContent !== window.statuses[window.statuses.length - 1])
      window.statuses.push(status.textContent);
  }).observe(status, {childList: true, characterData: true, subtree: true});
});
'''
# The browser's tab does not close during the tests: the request is noted.
NO_CLOSE = 'window.close = () => { window.closeRequested = true; };'

STATUS = "document.getElementById('status').textContent"
MESSAGE = ("document.getElementById('message').open && "
           "document.getElementById('message-text').textContent")
# The output reports the page's simulated device has been offered.
REPORTS = ('GpsSimHid.demos.reduce((n, hid) => n + hid.devices.reduce('
           '(m, d) => m + d.reportsOffered, 0), 0)')
ENDED = "document.body.dataset.job === 'idle' && statuses.includes('正在清除...')"


def test_image(length, seed=7):
    return bytes((i * seed + 3) & 0xFF for i in range(length))


def image_file(folder, name, length):
    """A test image of `length` bytes saved as `name` in `folder`: its path."""
    path = os.path.join(folder, name)
    with open(path, 'wb') as f:
        f.write(test_image(length))
    return path


class Site:
    """One origin on this machine: the page's folder plus what a test puts
    under `routes` (URL path -> function(handler) that answers)."""

    def __init__(self, host_name):
        self.routes = {}
        self.requests = []
        site = self
        base = make_handler(WEB_DIR, frame_policy=False).func

        class Handler(base):
            def do_GET(self):
                path = self.path.split('?')[0]
                site.requests.append(path)
                route = site.routes.get(path)
                if route is None:
                    return super().do_GET()
                try:
                    route(self)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the page stopped reading, as it should

        self.server = http.server.ThreadingHTTPServer(
            ('127.0.0.1', 0), lambda *a: Handler(*a, directory=WEB_DIR))
        self.origin = f'http://{host_name}:{self.server.server_address[1]}'
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def answer(data, content_type='application/octet-stream', headers=None, length=None,
           status=200):
    def send(handler):
        handler.send_response(status)
        handler.send_header('Content-Type', content_type)
        if length is not False:
            handler.send_header('Content-Length', str(len(data) if length is None else length))
        handler.send_header('Last-Modified', IMAGE_DATE)
        # Tempting the browser to keep it: the page must not.
        handler.send_header('Cache-Control', 'max-age=3600')
        for key, value in (headers or {}).items():
            handler.send_header(key, value)
        handler.end_headers()
        handler.wfile.write(data)
    return send


def endless(sent):
    """An answer without a length that goes on past the device's limit;
    `sent` counts what went."""
    def send(handler):
        handler.send_response(200)
        handler.send_header('Content-Type', 'application/octet-stream')
        handler.end_headers()
        piece = bytes(1 << 16)
        for _ in range((1 << 30) // len(piece)):
            handler.wfile.write(piece)
            sent[0] += len(piece)
    return send


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site('localhost')
        # The stand-in for another site: the same machine by another name.
        cls.other = Site('127.0.0.1')
        cls.base = f'{cls.site.origin}/index.html'
        # A frame of another site in the page's own process, where the
        # DevTools protocol's view of the tab reaches it.
        cls.browser = Browser(['--window-size=760,700', '--disable-site-isolation-trials',
                               '--disable-features=IsolateOrigins,site-per-process'])

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.site.stop()
        cls.other.stop()

    def setUp(self):
        self.pages = []
        self.site.routes = {
            '/test/code_data.bin': answer(test_image(1000)),
            '/test/large.bin': answer(test_image(200_000)),
        }
        self.other.routes = {}

    def tearDown(self):
        # A test that ends with an update under way leaves the page's mark of
        # an unfinished update: the next test would open on its advice box.
        # (The browser takes this command only through a tab.)
        if self.pages:
            self.pages[0].command('Storage.clearDataForOrigin',
                                  {'origin': self.site.origin, 'storageTypes': 'local_storage'})
        for page in self.pages:
            page.close()

    def kiosk(self, settings):
        self.site.routes['/kiosk.json'] = answer(json.dumps(settings).encode(), 'application/json')

    def open(self, query, before_load=RECORD_STATUSES, url=None):
        page = self.browser.open(url or f'{self.base}?{query}', before_load)
        self.pages.append(page)
        return page

    def wait_until_done(self, page):
        """The last status text once the update has ended."""
        page.wait_for(ENDED)
        return page.evaluate(STATUS)

    def test_kiosk_mode_updates_and_shows_its_progress(self):
        self.kiosk({'autostart': True})
        page = self.open('simulate=1&image=/test/large.bin&window=100')
        page.wait_for(f"{STATUS} === '正在清除...'")
        self.assertFalse(page.evaluate("document.getElementById('kiosk').hidden"))
        line = page.wait_for("document.getElementById('progress-detail').textContent.includes('%')"
                             " && document.getElementById('progress-detail').textContent")
        self.assertTrue(line.startswith('步驟 '), line)
        self.assertTrue(line.endswith('更新中，請勿拔除設備'), line)
        self.assertRegex(page.evaluate('document.title'), rf'^\d+% - {SIMULATED_TITLE}$')
        self.assertEqual(page.evaluate(
            "document.getElementById('progress').getAttribute('aria-valuetext')"), line)
        self.assertEqual(self.wait_until_done(page), '更新成功!')
        self.assertEqual(page.evaluate('window.statuses'), SUCCESS)
        self.assertEqual(page.evaluate('document.title'), SIMULATED_TITLE)
        self.assertFalse(page.evaluate("document.getElementById('status-simulated').hidden"))
        self.assertIn('更新完成', page.evaluate("document.getElementById('progress-detail').textContent"))
        self.assertEqual(page.evaluate("document.getElementById('progress').ariaValueNow"), '0')
        # window=100 is held to 32 reports in flight.
        self.assertEqual(page.evaluate('GpsSimHid.demos[0].devices[0].mostInFlight'), 32)
        # A URL image is shown by where it came from.
        file_line = page.evaluate("document.getElementById('file-text').textContent")
        self.assertIn('/test/large.bin', file_line)
        self.assertIn('200,000 位元組', file_line)
        self.assertIn('2024', file_line)

    def test_a_hidden_tab_shows_the_progress_in_its_title(self):
        # A tab in the background draws no frames; its title is what the
        # user sees of the update there.
        self.kiosk({'autostart': True})
        page = self.open('simulate=1&image=/test/large.bin', RECORD_STATUSES + """
            Object.defineProperty(Document.prototype, 'hidden', {get: () => true});
            Object.defineProperty(Document.prototype, 'visibilityState', {get: () => 'hidden'});
            window.requestAnimationFrame = () => 1;""")
        title = page.wait_for(f"{STATUS} === '正在寫入資料庫...' && "
                              r"Number((/^(\d+)% - /.exec(document.title) || [0, 0])[1]) >= 30 && "
                              "document.title")
        self.assertTrue(title.endswith(SIMULATED_TITLE), title)

    def test_images_come_only_from_the_page_s_own_site(self):
        sent = [0]
        self.other.routes['/foreign.bin'] = answer(
            test_image(1000), headers={'Access-Control-Allow-Origin': '*'})
        self.site.routes.update({
            '/test/elsewhere.bin': answer(b'', status=302, headers={
                'Location': f'{self.other.origin}/foreign.bin'}),
            '/test/page.bin': answer(b'<!DOCTYPE html><p>hello', 'text/html; charset=utf-8'),
            '/test/declared.bin': answer(bytes(1000), length=MAX_DATABASE_SIZE + 1),
            '/test/endless.bin': endless(sent),
        })
        self.kiosk({'autostart': True})
        foreign = f'{self.other.origin}/foreign.bin'
        cases = [
            ('another site, open to all', foreign, foreign),
            ('data:', 'data:application/octet-stream;base64,AAECAwQ=', 'data:'),
            ('a redirect to another site', '/test/elsewhere.bin', '讀取 /test/elsewhere.bin 錯誤!'),
            ('a web page', '/test/page.bin', '/test/page.bin 不是資料庫檔案'),
            ('a web page of the site itself', '/index.html', '/index.html 不是資料庫檔案'),
            ('declared over the limit', '/test/declared.bin', '16,736,257 位元組'),
            ('over the limit, no length given', '/test/endless.bin', '超過設備可容納的'),
        ]
        for name, image, refusal in cases:
            with self.subTest(name):
                page = self.open(f'simulate=1&image={image.replace("&", "%26")}')
                text = page.wait_for(MESSAGE)
                self.assertIn(refusal, text)
                self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
                self.assertEqual(page.evaluate(REPORTS), 0)
                if 'limit' in name:
                    self.assertEqual(page.evaluate(STATUS), TOO_MUCH)
                    self.assertTrue(page.evaluate(
                        "document.getElementById('status').classList.contains('failure')"))
                page.close()
                self.pages.remove(page)
        # The answer of 1 GiB was dropped soon after the limit.
        self.assertLess(sent[0], 4 * MAX_DATABASE_SIZE)
        self.assertNotIn('/foreign.bin', self.other.requests)

    def test_only_the_site_s_kiosk_json_starts_an_update(self):
        query = 'simulate=1&image=/test/code_data.bin&autostart=1'
        with self.subTest('no kiosk.json: the link alone starts nothing'):
            page = self.open(query)
            page.wait_for("document.getElementById('file-text').textContent.includes('1,000')")
            page.wait_for("!document.getElementById('update').disabled")
            time.sleep(1)  # nothing is expected to happen: give it a chance to
            self.assertEqual(page.evaluate(REPORTS), 0)
            self.assertEqual(page.evaluate(STATUS), '設備連線正常!')
            self.assertTrue(page.evaluate("document.getElementById('kiosk').hidden"))
            page.close()
            self.pages.remove(page)
        self.kiosk({'autostart': True})
        with self.subTest('kiosk.json says so'):
            page = self.open(query)
            self.assertEqual(self.wait_until_done(page), '更新成功!')
            page.close()
            self.pages.remove(page)
        with self.subTest('in a frame of another site'):
            frame = (f'<iframe src="{self.base}?{query}" allow="hid" width="700" '
                     'height="600"></iframe>')
            self.other.routes['/frame.html'] = answer(frame.encode(), 'text/html')
            page = self.open('', url=f'{self.other.origin}/frame.html')
            inner = ("(() => { const f = document.querySelector('iframe');"
                     " return f && f.contentDocument; })()")
            # The frame is another origin: its text is read through the
            # DevTools protocol's view of every frame.
            text = self.frame_text(page, 'status')
            self.assertIn('此頁必須單獨開啟', text)
            self.assertIsNone(page.evaluate(inner))
            time.sleep(1)
            self.assertIn('此頁必須單獨開啟', self.frame_text(page, 'status'))

    def frame_text(self, page, element_id, timeout=30):
        """The text of `element_id` in the page's first frame of another origin."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            tree = page.command('Page.getFrameTree')['frameTree']
            for child in tree.get('childFrames', []):
                context = page.command('Page.createIsolatedWorld',
                                       {'frameId': child['frame']['id']})['executionContextId']
                result = page.command('Runtime.evaluate', {
                    'expression': f"document.getElementById('{element_id}')?.textContent || ''",
                    'contextId': context, 'returnByValue': True})
                value = result['result'].get('value')
                if value:
                    return value
            time.sleep(0.2)
        self.fail(f'no text in #{element_id} of the frame')

    def test_a_kiosk_writes_the_image_as_it_is_now_on_the_site(self):
        self.kiosk({'autostart': True, 'image': '/test/kiosk.bin', 'images': ['/test/kiosk.bin']})
        reports = []
        for length, seed in [(1000, 7), (3000, 11)]:
            self.site.routes['/test/kiosk.bin'] = answer(test_image(length, seed))
            page = self.open('simulate=1')
            self.assertEqual(self.wait_until_done(page), '更新成功!')
            self.assertIn(f'{length:,} 位元組',
                          page.evaluate("document.getElementById('file-text').textContent"))
            reports.append(page.evaluate(REPORTS))
            page.close()
            self.pages.remove(page)
        # 4 pages then 12: the second load wrote the new file.
        self.assertEqual(reports[1] - reports[0], 8 * 4)
        # An image the kiosk does not list is refused.
        page = self.open('simulate=1&image=/test/code_data.bin')
        self.assertIn('kiosk.json', page.wait_for(MESSAGE))
        self.assertEqual(page.evaluate(REPORTS), 0)

    def test_a_station_updates_each_device_plugged_in(self):
        self.kiosk({'station': True, 'image': '/test/code_data.bin'})
        page = self.open('simulate=1')
        self.assertEqual(self.wait_until_done(page), '更新成功!')
        count = "document.getElementById('station-count').textContent"
        self.assertIn('已更新 1 台', page.wait_for(count))
        first = page.evaluate(REPORTS)
        # Still plugged in: left alone. Unplugged and plugged in again (after
        # the time a restarting device takes to come back): updated again.
        page.evaluate('GpsSimHid.demos[0].unplug(GpsSimHid.demos[0].devices[0])')
        time.sleep(10.5)
        page.evaluate('GpsSimHid.demos[0].plug(GpsSimHid.demos[0].devices[0])')
        page.wait_for(f"{count}.includes('已更新 2 台')")
        self.assertEqual(page.evaluate(REPORTS), 2 * first)

    def test_a_chosen_file_is_shown_and_written_with_the_buttons(self):
        with tempfile.TemporaryDirectory() as folder:
            path = image_file(folder, 'code_data (1).bin', 3000)
            page = self.open('simulate=1')
            page.wait_for(f"{STATUS} === '設備連線正常!'")
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
            page.set_files('#file-input', [path])
            file_line = page.wait_for(
                "document.getElementById('file-text').textContent.includes('code_data (1).bin') &&"
                " document.getElementById('file-text').textContent")
            self.assertIn('3,000 位元組', file_line)
            page.wait_for("!document.getElementById('update').disabled")
            self.assertEqual(page.evaluate("document.getElementById('cancel').textContent"), '關閉')
            page.click('#update')
            page.wait_for("document.getElementById('cancel').textContent === '取消'")
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
            self.assertEqual(self.wait_until_done(page), '更新成功!')
            self.assertEqual(page.evaluate('window.statuses'), SUCCESS)

    def test_a_file_chosen_while_the_device_is_looked_at_is_written(self):
        # A look at the device pauses the core (the list of devices comes
        # later): a file chosen meanwhile must not take the look's place.
        with tempfile.TemporaryDirectory() as folder:
            path = image_file(folder, 'code_data.bin', 3000)
            page = self.open('simulate=1')
            page.wait_for(f"{STATUS} === '設備連線正常!'")
            self.assertTrue(page.evaluate('''(async () => {
                const hid = GpsSimHid.demos[0];
                const getDevices = hid.getDevices.bind(hid);
                let held = true;
                hid.getDevices = () => {
                  if (!held) return getDevices();
                  held = false;
                  return new Promise(resolve => { window.letLookGo = () => resolve(getDevices()); });
                };
                hid.announce('connect', hid.devices[0]);
                await new Promise(resolve => setTimeout(resolve, 100));
                return typeof window.letLookGo === 'function';
            })()'''))
            page.set_files('#file-input', [path])
            page.wait_for("document.getElementById('file-text').textContent.includes('3,000')")
            page.evaluate('window.letLookGo()')
            page.wait_for("!document.getElementById('update').disabled")
            page.click('#update')
            self.assertEqual(self.wait_until_done(page), '更新成功!')

    def test_a_drop_takes_one_file_and_asks_for_one_of_several(self):
        page = self.open('simulate=1')
        page.wait_for(f"{STATUS} === '設備連線正常!'")
        drop = ('(names => { const data = new DataTransfer();'
                ' for (const name of names) data.items.add(new File([new Uint8Array(700)], name));'
                " document.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true,"
                ' cancelable: true})); })')
        page.evaluate(drop + "(['a.bin', 'b.bin'])")
        self.assertEqual(page.wait_for(MESSAGE), '請一次只選一個檔案。')
        page.click('#message button')
        page.evaluate(drop + "(['dropped.bin'])")
        page.wait_for("document.getElementById('file-text').textContent.includes('dropped.bin')")
        page.wait_for("!document.getElementById('update').disabled")

    def test_files_refused_from_their_size_before_anything_is_read(self):
        with tempfile.TemporaryDirectory() as folder:
            large = os.path.join(folder, 'large.bin')
            with open(large, 'wb') as f:
                f.truncate(3 << 30)  # 3 GiB, sparse: it would take seconds to read
            empty = os.path.join(folder, 'empty.bin')
            open(empty, 'wb').close()
            page = self.open('simulate=1', RECORD_STATUSES + '''
                window.reads = 0;
                for (const name of ['arrayBuffer', 'text', 'stream', 'slice'])
                  Blob.prototype[name] = new Proxy(Blob.prototype[name], {
                    apply(f, self, args) { window.reads++; return Reflect.apply(f, self, args); }});
            ''')
            page.wait_for(f"{STATUS} === '設備連線正常!'")
            page.set_files('#file-input', [large])
            text = page.wait_for(MESSAGE)
            self.assertIn('3,221,225,472 位元組', text)
            self.assertIn('16,736,256', text)
            self.assertEqual(page.evaluate(STATUS), TOO_MUCH)
            self.assertTrue(page.evaluate(
                "document.getElementById('status').classList.contains('failure')"))
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
            page.click("#message button")
            page.set_files('#file-input', [empty])
            self.assertEqual(page.wait_for(MESSAGE), '檔案 empty.bin 是空的! 請重新下載資料庫。')
            self.assertEqual(page.evaluate('window.reads'), 0)
            self.assertEqual(page.evaluate(REPORTS), 0)

    def test_an_unplug_halfway_leaves_the_failure_in_view(self):
        self.kiosk({'autostart': True})
        page = self.open('simulate=1&image=/test/large.bin')
        # The write's bar: its range is the page count.
        page.wait_for(f"{STATUS} === '正在寫入資料庫...' && "
                      "document.getElementById('progress').ariaValueMax !== '100' && "
                      "Number(document.getElementById('progress').ariaValueNow) >= 30")
        page.evaluate('GpsSimHid.demos[0].unplug(GpsSimHid.demos[0].devices[0])')
        advice = page.wait_for(MESSAGE)
        self.assertIn('更新沒有完成', advice)
        self.assertEqual(page.evaluate(STATUS), '資料庫寫入失敗!')
        self.assertTrue(page.evaluate(
            "document.getElementById('status').classList.contains('failure')"))
        self.assertGreaterEqual(int(page.evaluate(
            "document.getElementById('progress').ariaValueNow")), 30)
        self.assertGreater(page.evaluate(
            "parseFloat(document.getElementById('progress-fill').style.width)"), 0)
        line = page.evaluate("document.getElementById('progress-detail').textContent")
        self.assertTrue(line.startswith('更新停止於步驟 2/2 寫入中'), line)
        self.assertIn('共用時', line)
        if SCREENSHOT:
            page.click("#message button")
            page.wait_for("!document.getElementById('message').open")
            page.screenshot(os.path.splitext(SCREENSHOT)[0] + '-failed.png')

    def test_a_close_during_the_update_asks_then_stops_it_and_the_page_goes_on(self):
        # An image long enough that the update is still running when the
        # second close is asked for, however fast the machine writes.
        self.site.routes['/test/long.bin'] = answer(test_image(4_000_000))
        self.kiosk({'autostart': True})
        page = self.open('simulate=1&image=/test/long.bin', RECORD_STATUSES + NO_CLOSE)
        page.wait_for(f"{STATUS} === '正在清除...'")
        if SCREENSHOT:
            page.wait_for("document.getElementById('progress-detail').textContent.includes('%')")
        # Esc asks too, as the desktop's dialog does.
        page.command('Input.dispatchKeyEvent', {'type': 'keyDown', 'key': 'Escape',
                                                'code': 'Escape', 'windowsVirtualKeyCode': 27})
        question = page.wait_for("document.getElementById('confirm-close').open && "
                                 "document.getElementById('confirm-text').textContent")
        self.assertIn('確定要中斷更新並關閉嗎?', question)
        # 繼續, and 取消 again at once: the first box's close event, which
        # comes a task later, must not answer the second question.
        self.assertTrue(page.evaluate('''(() => {
            const box = document.getElementById('confirm-close');
            const closed = new Promise(resolve => box.addEventListener('close', resolve, {once: true}));
            box.querySelector("button[value='keep']").click();
            const asked = box.open;
            document.getElementById('cancel').click();
            return closed.then(() => !asked && box.open);
        })()'''))
        self.assertEqual(page.evaluate("document.getElementById('cancel').textContent"), '取消')
        page.click("#confirm-close button[value='keep']")
        page.wait_for("!document.getElementById('confirm-close').open")
        if SCREENSHOT:
            page.wait_for(f"{STATUS} === '正在寫入資料庫...' && "
                          "Number(document.getElementById('progress').ariaValueNow) >= 300")
            page.screenshot(SCREENSHOT)
        page.click('#cancel')
        page.wait_for("document.getElementById('confirm-close').open")
        page.click("#confirm-close button[value='stop']")
        # The tab cannot close: the stop's text stays and the page works again.
        page.wait_for("document.getElementById('cancel').textContent === '關閉' && "
                      "!document.getElementById('cancel').disabled && "
                      "!document.getElementById('update').disabled")
        statuses = page.evaluate('window.statuses')
        self.assertNotIn('更新成功!', statuses)
        self.assertEqual(statuses[-1], '已中斷更新! 請再執行一次更新。')
        self.assertTrue(page.evaluate('window.closeRequested'))
        self.assertFalse(page.evaluate("document.getElementById('file-input').disabled"))

    def test_a_second_copy_is_refused(self):
        first = self.open('simulate=1')
        first.wait_for(f"{STATUS} === '設備連線正常!'")
        second = self.open('simulate=1')
        self.assertEqual(second.wait_for(MESSAGE), '軟體正在使用中')
        self.assertTrue(second.evaluate("document.getElementById('update').disabled"))

    def test_an_image_that_is_not_there_is_named(self):
        page = self.open('simulate=1&image=/test/missing.bin')
        self.assertEqual(page.wait_for(MESSAGE), "Can't find /test/missing.bin")
        self.assertTrue(page.evaluate("document.getElementById('update').disabled"))

    def test_an_unfinished_update_is_remembered(self):
        page = self.open('simulate=1', RECORD_STATUSES + '''
            localStorage.setItem('gps-update-unfinished', '2024-05-01T10:22:00Z');''')
        text = page.wait_for(MESSAGE)
        self.assertIn('上次在這個瀏覽器中的更新沒有完成', text)
        self.assertIn('設備上的資料庫現在可能不完整', text)

    def test_keyboard_and_narrow_screens_reach_every_control(self):
        page = self.open('simulate=1')
        page.wait_for(f"{STATUS} === '設備連線正常!'")
        with self.subTest('Tab reaches 選擇檔案…'):
            reached = []
            for _ in range(6):
                page.command('Input.dispatchKeyEvent', {'type': 'keyDown', 'key': 'Tab',
                                                        'code': 'Tab', 'windowsVirtualKeyCode': 9})
                page.command('Input.dispatchKeyEvent', {'type': 'keyUp', 'key': 'Tab',
                                                        'code': 'Tab', 'windowsVirtualKeyCode': 9})
                reached.append(page.evaluate('document.activeElement.id'))
            self.assertIn('file-input', reached)
            self.assertEqual(page.evaluate(
                "document.getElementById('file-input').labels[0].textContent.trim()"), '選擇檔案…')
        with self.subTest('named for screen readers'):
            self.assertEqual(page.evaluate(
                "document.getElementById('progress').getAttribute('aria-label')"), '更新進度')
            for box in ['message', 'confirm-close', 'about']:
                self.assertTrue(page.evaluate(
                    f"!!document.getElementById('{box}').getAttribute('aria-labelledby')"))
        with self.subTest('320 CSS pixels wide'):
            page.command('Emulation.setDeviceMetricsOverride',
                         {'width': 320, 'height': 480, 'deviceScaleFactor': 1, 'mobile': False})
            page.evaluate("document.getElementById('update').scrollIntoView()")
            box = page.evaluate("(() => { const r = document.getElementById('update')"
                                ".getBoundingClientRect(); return [r.left, r.right, r.top, r.bottom,"
                                " document.documentElement.scrollWidth]; })()")
            left, right, top, bottom, width = box
            self.assertGreaterEqual(left, 0)
            self.assertLessEqual(right, 320)
            self.assertGreaterEqual(top, 0)
            self.assertLessEqual(bottom, 480)
            self.assertLessEqual(width, 320)

    def test_a_core_that_cannot_load_is_explained(self):
        # A site of its own: no service worker there has kept the core.
        site = Site('localhost')
        try:
            site.routes['/gps_core.wasm'] = lambda handler: handler.send_error(404)
            page = self.open('', url=f'{site.origin}/index.html?simulate=1')
            note = page.wait_for("!document.getElementById('unsupported').hidden && "
                                 "document.getElementById('unsupported').textContent")
            self.assertIn('gps_core.wasm', note)
            self.assertEqual(page.evaluate(
                "document.getElementById('unsupported').getAttribute('role')"), 'alert')
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
        finally:
            site.stop()
        # The unpacked zip, double-clicked.
        page = self.open('', url='file://' + os.path.abspath(os.path.join(WEB_DIR, 'index.html')))
        note = page.wait_for("!document.getElementById('unsupported').hidden && "
                             "document.getElementById('unsupported').textContent")
        self.assertIn('file://', note)

    def test_without_webhid_the_page_says_so_and_points_to_the_programs(self):
        page = self.open('', before_load='delete Navigator.prototype.hid;')
        note = page.wait_for("!document.getElementById('unsupported').hidden && "
                             "document.getElementById('unsupported').textContent")
        self.assertIn('WebHID', note)
        self.assertIn('Update.exe', note)
        self.assertIn('gps-update', note)
        self.assertTrue(page.evaluate("document.getElementById('update').disabled"))


class OfflineTest(unittest.TestCase):
    """Loaded once, the page works with its site gone."""

    def test_the_page_opens_and_updates_with_the_server_stopped(self):
        site = Site('localhost')
        browser = Browser(['--window-size=760,700'])
        try:
            url = f'{site.origin}/index.html?simulate=1'
            page = browser.open(url, RECORD_STATUSES)
            page.wait_for(f"{STATUS} === '設備連線正常!'")
            self.assertTrue(page.evaluate(
                'navigator.serviceWorker.ready.then(r => !!r.active)', timeout=60))
            caches = page.evaluate('caches.keys()')
            self.assertEqual(len(caches), 1)
            self.assertTrue(caches[0].startswith('gps-update-'), caches)
            page.close()
            site.stop()
            site = None
            page = browser.open(url, RECORD_STATUSES)
            page.wait_for(f"{STATUS} === '設備連線正常!'")
            with tempfile.TemporaryDirectory() as folder:
                path = image_file(folder, 'code_data.bin', 2000)
                page.set_files('#file-input', [path])
                page.wait_for("!document.getElementById('update').disabled")
                page.click('#update')
                page.wait_for(ENDED)
            self.assertEqual(page.evaluate('window.statuses'), SUCCESS)
            # No image was kept by the service worker.
            kept = page.evaluate("caches.keys().then(n => caches.open(n[0]))"
                                 ".then(c => c.keys()).then(k => k.map(r => r.url))")
            self.assertFalse([u for u in kept if u.endswith('.bin')], kept)
        finally:
            browser.close()
            if site:
                site.stop()


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--screenshot', help='also save the page during an update here')
    args, rest = parser.parse_known_args()
    SCREENSHOT = os.path.abspath(args.screenshot) if args.screenshot else None
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
