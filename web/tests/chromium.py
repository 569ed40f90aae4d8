"""Headless Chromium driven over the DevTools protocol, for the page's tests.

The protocol runs over a pipe (--remote-debugging-pipe: commands on the
browser's descriptor 3, answers and events on 4, each message JSON ended by
a NUL byte), so nothing but the standard library is needed. Every wait has a
time-out; a browser that stops answering is killed.
"""

import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, extra_args=(), timeout=30.0, log=None):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix='gps-web-test-')
        to_browser_r, self._to_browser = os.pipe()
        self._from_browser, from_browser_w = os.pipe()

        def hand_over_pipes():
            os.dup2(to_browser_r, 3)
            os.dup2(from_browser_w, 4)

        chromium = shutil.which('chromium') or shutil.which('chromium-browser')
        if not chromium:
            raise BrowserError('chromium is not installed')
        # --no-sandbox: the sandbox needs user namespaces or root's setuid
        # helper, which containers and CI machines often lack; the page is
        # our own.
        self.process = subprocess.Popen(
            [chromium, '--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
             '--no-default-browser-check', '--disable-extensions', '--mute-audio',
             '--remote-debugging-pipe', f'--user-data-dir={self.profile}', *extra_args,
             'about:blank'],
            pass_fds=(3, 4), preexec_fn=hand_over_pipes,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(log, 'ab') if log else subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self._buffer = b''
        self._next_id = 0
        self._events = []
        # Tabs' comings and goings arrive as events (Page.close waits for one).
        self.command('Target.setDiscoverTargets', {'discover': True})

    def command(self, method, params=None, session=None, timeout=None):
        self._next_id += 1
        message = {'id': self._next_id, 'method': method, 'params': params or {}}
        if session:
            message['sessionId'] = session
        os.write(self._to_browser, json.dumps(message).encode() + b'\0')
        answer = self._receive(lambda m: m.get('id') == self._next_id, timeout)
        if 'error' in answer:
            raise BrowserError(f"{method}: {answer['error'].get('message')}")
        return answer.get('result', {})

    def wait_event(self, wanted, timeout=None):
        """The first event, come or to come, for which `wanted` holds."""
        for i, message in enumerate(self._events):
            if wanted(message):
                return self._events.pop(i)
        return self._receive(wanted, timeout)

    def _receive(self, wanted, timeout=None):
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            while b'\0' in self._buffer:
                raw, self._buffer = self._buffer.split(b'\0', 1)
                message = json.loads(raw)
                if wanted(message):
                    return message
                if 'method' in message:
                    self._events.append(message)
            left = deadline - time.monotonic()
            if left <= 0:
                raise BrowserError('the browser did not answer in time')
            ready, _, _ = select.select([self._from_browser], [], [], left)
            if ready:
                chunk = os.read(self._from_browser, 1 << 16)
                if not chunk:
                    raise BrowserError('the browser ended')
                self._buffer += chunk

    def open(self, url, before_load=None):
        """A new tab on `url`; `before_load` runs in it before the page's scripts."""
        target = self.command('Target.createTarget', {'url': 'about:blank'})['targetId']
        session = self.command('Target.attachToTarget',
                               {'targetId': target, 'flatten': True})['sessionId']
        page = Page(self, target, session)
        self.command('Page.enable', session=session)
        if before_load:
            self.command('Page.addScriptToEvaluateOnNewDocument', {'source': before_load},
                         session=session)
        self.command('Page.navigate', {'url': url}, session=session)
        self._receive(lambda m: m.get('method') == 'Page.loadEventFired'
                      and m.get('sessionId') == session)
        return page

    def close(self):
        try:
            self.command('Browser.close', timeout=5)
        except (BrowserError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
        os.close(self._to_browser)
        os.close(self._from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    def __init__(self, browser, target, session):
        self.browser = browser
        self.target = target
        self.session = session

    def command(self, method, params=None, timeout=None):
        return self.browser.command(method, params, self.session, timeout)

    def evaluate(self, expression, timeout=None):
        """The value of `expression`; a promise is awaited (within the time-out)."""
        result = self.command('Runtime.evaluate',
                              {'expression': expression, 'awaitPromise': True,
                               'returnByValue': True}, timeout)
        if 'exceptionDetails' in result:
            raise BrowserError(result['exceptionDetails'].get('text', 'exception')
                               + ': ' + json.dumps(result['exceptionDetails'].get('exception')))
        return result['result'].get('value')

    def wait_for(self, condition, timeout=60.0):
        """Waits until the JavaScript `condition` holds, rechecked at each change
        of the page's document, and returns its value."""
        script = f'''new Promise((resolve, reject) => {{
            const check = () => {{
              let value;
              try {{ value = ({condition}); }} catch (e) {{ return; }}
              if (value) {{ observer.disconnect(); clearTimeout(timer); resolve(value); }}
            }};
            const observer = new MutationObserver(check);
            observer.observe(document, {{subtree: true, childList: true, characterData: true,
                                         attributes: true}});
            const timer = setTimeout(() => {{ observer.disconnect();
                                              reject(new Error('timed out')); }}, {int(timeout * 1000)});
            check();
        }})'''
        return self.evaluate(script, timeout=timeout + 5)

    def click(self, selector):
        self.evaluate(f'document.querySelector({json.dumps(selector)}).click()')

    def set_files(self, selector, paths):
        document = self.command('DOM.getDocument')['root']['nodeId']
        node = self.command('DOM.querySelector', {'nodeId': document, 'selector': selector})
        self.command('DOM.setFileInputFiles', {'nodeId': node['nodeId'], 'files': paths})

    def screenshot(self, path):
        data = self.command('Page.captureScreenshot', {'format': 'png'})['data']
        with open(path, 'wb') as f:
            f.write(base64.b64decode(data))

    def close(self):
        # A page that asks before it goes (an update running after a real key
        # press) would stay open behind the question and keep holding the
        # page's one-copy lock from the next test: its question is silenced.
        try:
            self.evaluate("window.addEventListener('beforeunload',"
                          " e => e.stopImmediatePropagation(), true)", timeout=5)
        except (BrowserError, OSError):
            pass
        self.browser.command('Target.closeTarget', {'targetId': self.target})
        # Closed is not yet gone: the tab's document (and what it holds, such
        # as a lock) goes a moment later. The next tab must not meet it.
        self.browser.wait_event(lambda m: m.get('method') == 'Target.targetDestroyed'
                                and m['params'].get('targetId') == self.target, timeout=10)
