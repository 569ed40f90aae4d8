#!/usr/bin/env python3
"""The web page in headless Chromium, on its simulated device (?simulate=1).

Serves the built page (GPS_WEB_DIR) on http://localhost, with test images
under /test/, and drives the page as a user would: a whole update started
by the kiosk mode and by the buttons, a close during an update, a second
copy, a missing image, a browser without WebHID.

    python3 web/tests/page_test.py                     # the tests
    python3 web/tests/page_test.py --screenshot FILE   # also the README's picture
"""

import argparse
import email.utils
import functools
import http.server
import os
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import Browser  # noqa: E402

WEB_DIR = os.environ.get('GPS_WEB_DIR') or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '..', '..', 'build', 'web')
TITLE = '道路安全警示系統更新介面'
SUCCESS = ['設備連線正常!', '正在清除...', '正在寫入資料庫...', '資料庫寫入成功!',
           '正在寫入資料庫...', '更新成功!']
IMAGE_DATE = email.utils.formatdate(time.mktime((2024, 5, 1, 10, 22, 0, 0, 0, -1)), usegmt=True)
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


def test_image(length):
    return bytes((i * 7 + 3) & 0xFF for i in range(length))


class Handler(http.server.SimpleHTTPRequestHandler):
    images = {'/test/code_data.bin': test_image(1000), '/test/large.bin': test_image(200_000)}

    def do_GET(self):
        image = self.images.get(self.path)
        if image is None:
            return super().do_GET()
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(len(image)))
        self.send_header('Last-Modified', IMAGE_DATE)
        self.end_headers()
        self.wfile.write(image)

    def log_message(self, *args):
        pass


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        handler = functools.partial(Handler, directory=WEB_DIR)
        cls.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.base = f'http://localhost:{cls.server.server_address[1]}/index.html'
        cls.browser = Browser(['--window-size=760,660'])

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.shutdown()
        cls.server.server_close()

    def setUp(self):
        self.pages = []

    def tearDown(self):
        for page in self.pages:
            page.close()

    def open(self, query, before_load=RECORD_STATUSES):
        page = self.browser.open(f'{self.base}?{query}', before_load)
        self.pages.append(page)
        return page

    def wait_until_done(self, page):
        """The title once the update has ended (the update button is usable again)."""
        return page.wait_for(
            "!document.getElementById('update').disabled && "
            f"document.title.startsWith('{TITLE} - ') && document.title")

    def test_kiosk_mode_updates_and_the_title_ends_with_each_status(self):
        page = self.open('simulate=1&image=/test/code_data.bin&autostart=1')
        page.wait_for("document.getElementById('status').textContent === '正在清除...'")
        self.assertEqual(page.evaluate('document.title'), f'{TITLE} - 正在清除...')
        if SCREENSHOT:
            page.wait_for("parseFloat(document.getElementById('progress-fill').style.width) >= 40")
            page.screenshot(SCREENSHOT)
        self.assertEqual(self.wait_until_done(page), f'{TITLE} - 更新成功!')
        self.assertEqual(page.evaluate('window.statuses'), SUCCESS)
        self.assertEqual(page.evaluate("document.getElementById('progress').ariaValueNow"), '0')
        file_line = page.evaluate("document.getElementById('file-text').textContent")
        self.assertIn('code_data.bin', file_line)
        self.assertIn('1,000 位元組', file_line)
        self.assertIn('2024', file_line)

    def test_a_chosen_file_is_shown_and_written_with_the_buttons(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, 'code_data (1).bin')
            with open(path, 'wb') as f:
                f.write(test_image(3000))
            page = self.open('simulate=1')
            page.wait_for("document.getElementById('status').textContent === '設備連線正常!'")
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
            page.set_files('#file-input', [path])
            file_line = page.wait_for(
                "document.getElementById('file-text').textContent.includes('code_data (1).bin') &&"
                " document.getElementById('file-text').textContent")
            self.assertIn('3,000 位元組', file_line)
            self.assertEqual(page.evaluate("document.getElementById('cancel').textContent"), '關閉')
            page.click('#update')
            page.wait_for("document.getElementById('cancel').textContent === '取消'")
            self.assertTrue(page.evaluate("document.getElementById('update').disabled"))
            self.assertEqual(self.wait_until_done(page), f'{TITLE} - 更新成功!')
            self.assertEqual(page.evaluate('window.statuses'), SUCCESS)

    def test_a_close_during_the_update_asks_and_then_stops_it(self):
        # The page closes itself once the update has stopped: the test's tab
        # notes the request instead, so that it can still be looked at.
        page = self.open('simulate=1&image=/test/large.bin&autostart=1', RECORD_STATUSES +
                         'window.close = () => { window.closeRequested = true; };')
        page.wait_for("document.getElementById('status').textContent === '正在清除...'")
        page.click('#cancel')
        question = page.wait_for("document.getElementById('confirm-close').open && "
                                 "document.getElementById('confirm-text').textContent")
        self.assertIn('確定要中斷更新並關閉嗎?', question)
        page.click("#confirm-close button[value='keep']")
        page.wait_for("!document.getElementById('confirm-close').open")
        self.assertEqual(page.evaluate("document.getElementById('cancel').textContent"), '取消')
        page.click('#cancel')
        page.wait_for("document.getElementById('confirm-close').open")
        page.click("#confirm-close button[value='stop']")
        title = page.wait_for(
            "document.getElementById('cancel').textContent === '關閉' && document.title")
        statuses = page.evaluate('window.statuses')
        self.assertNotIn('更新成功!', statuses)
        self.assertEqual(title, f'{TITLE} - 寫入資料庫 清除Flash失敗!')
        self.assertEqual(statuses[-2:], ['讀取清除訊息錯誤!', '寫入資料庫 清除Flash失敗!'])
        self.assertTrue(page.evaluate('window.closeRequested'))

    def test_a_second_copy_is_refused(self):
        first = self.open('simulate=1')
        first.wait_for("document.getElementById('status').textContent === '設備連線正常!'")
        second = self.open('simulate=1')
        text = second.wait_for("document.getElementById('message').open && "
                               "document.getElementById('message-text').textContent")
        self.assertEqual(text, '軟體正在使用中')
        self.assertTrue(second.evaluate("document.getElementById('update').disabled"))

    def test_an_image_that_is_not_there_is_named(self):
        page = self.open('simulate=1&image=/test/missing.bin&autostart=1')
        text = page.wait_for("document.getElementById('message').open && "
                             "document.getElementById('message-text').textContent")
        self.assertEqual(text, "Can't find missing.bin")
        self.assertTrue(page.evaluate("document.getElementById('update').disabled"))

    def test_without_webhid_the_page_says_so_and_points_to_the_programs(self):
        page = self.open('', before_load='delete Navigator.prototype.hid;')
        note = page.wait_for("!document.getElementById('unsupported').hidden && "
                             "document.getElementById('unsupported').textContent")
        self.assertIn('WebHID', note)
        self.assertIn('Update.exe', note)
        self.assertIn('gps-update', note)
        self.assertTrue(page.evaluate("document.getElementById('update').disabled"))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--screenshot', help='also save the page during an update here')
    args, rest = parser.parse_known_args()
    SCREENSHOT = os.path.abspath(args.screenshot) if args.screenshot else None
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
