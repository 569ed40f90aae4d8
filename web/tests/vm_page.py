#!/usr/bin/env python3
"""Runs a whole update with the web page in headless Chromium, for the VM's
cases: serves the page (GPS_WEB_DIR, else build/web) and FILE on
http://localhost:PORT, opens the page in kiosk mode (?image=FILE&autostart=1)
on whatever device the browser's policy grants, and waits for the update to
end.

    vm_page.py [--port 8000] [--window N] [--timeout SECONDS] [--browser-log FILE]
               [--simulate] FILE

Prints each status text the page showed, one a line, and then on standard
error the update's time and the number of output reports it took, measured
in the page from the first text of the update to its last. Exit status 0
when the last text is "更新成功!".
"""

import argparse
import functools
import http.server
import os
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import Browser  # noqa: E402

TITLE = '道路安全警示系統更新介面'

# Each status text with the page's clock, in window.statuses.
RECORD_STATUSES = '''
window.statuses = [];
document.addEventListener('DOMContentLoaded', () => {
  const status = document.getElementById('status');
  new MutationObserver(() => {
    const last = window.statuses[window.statuses.length - 1];
    if (!last || status.textContent !== last.text)
      window.statuses.push({text: status.textContent, at: performance.now()});
  }).observe(status, {childList: true, characterData: true, subtree: true});
});
'''


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('file')
    parser.add_argument('--port', type=int, default=8000)
    parser.add_argument('--window', type=int)
    parser.add_argument('--timeout', type=float, default=600)
    parser.add_argument('--browser-log', help="where Chromium's own messages go")
    parser.add_argument('--simulate', action='store_true',
                        help="the page's simulated device instead of WebHID (a dry run)")
    args = parser.parse_args()

    web_dir = os.environ.get('GPS_WEB_DIR') or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', '..', 'build', 'web')
    image_path = os.path.abspath(args.file)
    image_url = '/' + os.path.basename(image_path)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def translate_path(self, path):
            if path.split('?')[0] == image_url:
                return image_path
            return super().translate_path(path)

        def log_message(self, *unused):
            pass

    server = http.server.ThreadingHTTPServer(
        ('127.0.0.1', args.port), functools.partial(Handler, directory=web_dir))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Under QEMU without KVM the browser's own start can take minutes.
    browser = Browser(timeout=args.timeout, log=args.browser_log)
    try:
        query = f'image={image_url}&autostart=1'
        if args.window:
            query += f'&window={args.window}'
        if args.simulate:
            query += '&simulate=1'
        page = browser.open(f'http://localhost:{args.port}/index.html?{query}', RECORD_STATUSES)
        # Ended: the update button is usable again and the title carries the
        # update's last text (or a message box tells why nothing started).
        page.wait_for("(!document.getElementById('update').disabled && "
                      f"document.title.startsWith('{TITLE} - ')) || "
                      "document.getElementById('message').open", timeout=args.timeout)
        statuses = page.evaluate('window.statuses')
        message = page.evaluate("document.getElementById('message').open && "
                                "document.getElementById('message-text').textContent")
    finally:
        browser.close()
        server.shutdown()
    for s in statuses:
        print(s['text'])
    if message:
        print(f'message: {message}', file=sys.stderr)
    if len(statuses) >= 2:
        ms = statuses[-1]['at'] - statuses[1]['at']
        print(f'update_ms {ms:.0f}', file=sys.stderr)
    return 0 if statuses and statuses[-1]['text'] == '更新成功!' else 1


if __name__ == '__main__':
    sys.exit(main())
