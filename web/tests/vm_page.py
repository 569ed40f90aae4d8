#!/usr/bin/env python3
"""Runs a whole update with the web page in headless Chromium, for the VM's
cases: serves the page (GPS_WEB_DIR, else build/web) as a kiosk that writes
FILE (kiosk.json says autostart, as an operator's site would) on
http://localhost:PORT, opens it on whatever device the browser's policy
grants, and waits for the update to end.

    vm_page.py [--port 8000] [--window N] [--timeout SECONDS] [--browser-log FILE]
               [--simulate] [--bare-loop REPORTS] FILE

Prints each status text the page showed, one a line, and then on standard
error the update's time, measured in the page from the first text of the
update to its last, and the time of its page writes (from the first
"正在寫入資料庫..." to "資料庫寫入成功!"). With --bare-loop, first runs the
harness's bare sendReport loop (harness/bare_loop.html) for REPORTS reports
in the same browser and prints its time too. Exit status 0 when the last
text is "更新成功!".
"""

import argparse
import http.server
import json
import os
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..'))
from chromium import Browser, BrowserError  # noqa: E402
from serve import kiosk_files, make_handler  # noqa: E402

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
// What went wrong, should the page not get to its end.
window.faults = [];
window.addEventListener('error', e => window.faults.push(String(e.message)));
window.addEventListener('unhandledrejection', e => window.faults.push(String(e.reason)));
'''
# The page's state, for a page that did not get to its end in time.
STATE = '''JSON.stringify({
  statuses: window.statuses, faults: window.faults, job: document.body.dataset.job,
  note: document.getElementById('unsupported').textContent,
  kiosk: !document.getElementById('kiosk').hidden,
  update: !document.getElementById('update').disabled,
  file: document.getElementById('file-text').textContent})'''


def harness_files():
    """The harness's own pages, under /harness/."""
    files = {}
    for name, kind in [('bare_loop.html', 'text/html'), ('bare_loop.js', 'text/javascript')]:
        path = os.path.join(HERE, 'harness', name)
        files['/harness/' + name] = (kind, lambda path=path: open(path, 'rb').read())
    return files


def bare_loop(browser, port, reports, window, timeout):
    page = browser.open(f'http://localhost:{port}/harness/bare_loop.html?reports={reports}'
                        f'&window={window}')
    try:
        return json.loads(page.wait_for('window.bareLoop && JSON.stringify(window.bareLoop)',
                                        timeout=timeout))
    finally:
        page.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('file')
    parser.add_argument('--port', type=int, default=8000)
    parser.add_argument('--window', type=int, default=8)
    parser.add_argument('--timeout', type=float, default=600)
    parser.add_argument('--browser-log', help="where Chromium's own messages go")
    parser.add_argument('--simulate', action='store_true',
                        help="the page's simulated device instead of WebHID (a dry run)")
    parser.add_argument('--bare-loop', type=int, metavar='REPORTS',
                        help='first measure a bare sendReport loop of REPORTS reports')
    args = parser.parse_args()

    web_dir = os.environ.get('GPS_WEB_DIR') or os.path.join(HERE, '..', '..', 'build', 'web')
    files = {**kiosk_files(os.path.abspath(args.file)), **harness_files()}
    server = http.server.ThreadingHTTPServer(('127.0.0.1', args.port),
                                             make_handler(web_dir, files))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Under QEMU without KVM the browser's own start can take minutes.
    browser = Browser(timeout=args.timeout, log=args.browser_log)
    bare = None
    try:
        if args.bare_loop:
            bare = bare_loop(browser, args.port, args.bare_loop, args.window, args.timeout)
        query = f'window={args.window}'
        if args.simulate:
            query += '&simulate=1'
        page = browser.open(f'http://localhost:{args.port}/index.html?{query}', RECORD_STATUSES)
        # Ended: the update has run and is over, or a message box tells why
        # nothing started.
        try:
            page.wait_for("(document.body.dataset.job === 'idle' && "
                          "window.statuses.some(s => s.text === '正在清除...')) || "
                          "document.getElementById('message').open || "
                          "document.body.dataset.halted", timeout=args.timeout)
        except BrowserError:
            print(f'the page did not end in time: {page.evaluate(STATE, timeout=30)}',
                  file=sys.stderr, flush=True)
            raise
        statuses = page.evaluate('window.statuses')
        message = page.evaluate("(document.getElementById('message').open && "
                                "document.getElementById('message-text').textContent) || "
                                "(document.body.dataset.halted && "
                                "document.getElementById('unsupported').textContent)")
    finally:
        browser.close()
        server.shutdown()
    for s in statuses:
        print(s['text'])
    if message:
        print(f'message: {message}', file=sys.stderr)
    if len(statuses) >= 2:
        print(f"update_ms {statuses[-1]['at'] - statuses[1]['at']:.0f}", file=sys.stderr)
    texts = [s['text'] for s in statuses]
    if '正在寫入資料庫...' in texts and '資料庫寫入成功!' in texts:
        begin = statuses[texts.index('正在寫入資料庫...')]['at']
        end = statuses[texts.index('資料庫寫入成功!')]['at']
        print(f'write_ms {end - begin:.1f}', file=sys.stderr)
    if bare:
        if 'error' in bare:
            print(f"bare_error {bare['error']}", file=sys.stderr)
        else:
            print(f"bare_ms {bare['ms']:.1f} reports {bare['reports']}", file=sys.stderr)
    return 0 if statuses and statuses[-1]['text'] == '更新成功!' else 1


if __name__ == '__main__':
    sys.exit(main())
