#!/usr/bin/env python3
"""Runs a whole update with the web page in headless Chromium, for the VM's
cases: serves the page (GPS_WEB_DIR, else build/web) as a kiosk that writes
FILE (kiosk.json says autostart, as an operator's site would) on
http://localhost:PORT, opens it on whatever device the browser's policy
grants, and waits for the update to end.

    vm_page.py [--port 8000] [--window N] [--timeout SECONDS] [--browser-log FILE]
               [--simulate] [--bare-loop REPORTS] [--pages N] [--probe] FILE

Prints each status text the page showed, one a line, and then on standard
error the update's time, measured in the page from the first text of the
update to its last, and the time of its page writes (from the first
"正在寫入資料庫..." to "資料庫寫入成功!"). With --bare-loop, runs the harness's
bare sendReport loop (harness/bare_loop.html) for REPORTS reports in the
same browser before the page and again after it (a browser's first minutes
carry work of its own), and prints those times too. With --pages N, the
page updates N times, each in a new tab, with a bare loop before each. With --probe, prints
where the time of the output reports went in each (pace_probe.js, the
renderer's own figures, the CPU time of the browser's processes). Exit
status 0 when the last text is "更新成功!".
"""

import argparse
import bisect
import http.server
import json
import os
import re
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


PROBE = open(os.path.join(HERE, 'pace_probe.js'), encoding='utf-8').read()


def bare_loop(browser, port, reports, window, timeout, probe):
    page = browser.open(f'http://localhost:{port}/harness/bare_loop.html?reports={reports}'
                        f'&window={window}', PROBE if probe else None)
    try:
        if probe:
            page.command('Performance.enable')
            before = main_thread(page)
            cpu_before = browser_cpu(browser.process.pid)
        result = json.loads(page.wait_for('window.bareLoop && JSON.stringify(window.bareLoop)',
                                          timeout=timeout))
        if probe:
            result['probe'] = page.evaluate('window.paceProbe')
            result['main_thread'] = spent(before, main_thread(page))
            result['cpu'] = spent(cpu_before, browser_cpu(browser.process.pid))
        return result
    finally:
        page.close()


def main_thread(page):
    """The renderer so far: the CPU time of its process and of its main thread,
    the main thread's time in tasks, scripts, style and layout (ms), and how
    many style and layout passes it made."""
    got = {m['name']: m['value'] for m in page.command('Performance.getMetrics')['metrics']}
    times = {name: got.get(name, 0) * 1000 for name in
             ['ProcessTime', 'ThreadTime', 'TaskDuration', 'ScriptDuration',
              'RecalcStyleDuration', 'LayoutDuration']}
    return {**times, 'RecalcStyleCount': got.get('RecalcStyleCount', 0),
            'LayoutCount': got.get('LayoutCount', 0)}


def browser_cpu(root):
    """The CPU time (user and system, ms) that the browser's processes have
    used so far, by process type (the browser itself, renderer, gpu-process,
    utility...)."""
    tick_ms = 1000 / os.sysconf('SC_CLK_TCK')
    parent, used, kind, threads = {}, {}, {}, {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        pid = int(entry)
        try:
            with open(f'/proc/{pid}/stat') as f:
                stat = f.read()
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                # (Chromium rewrites its processes' command lines as one string.)
                found = re.search(rb'--type=([\w-]+)', f.read())
        except OSError:
            continue
        fields = stat[stat.rindex(')') + 2:].split()
        parent[pid] = int(fields[1])
        used[pid] = (int(fields[11]) + int(fields[12])) * tick_ms
        kind[pid] = found.group(1).decode() if found else 'browser'
        if kind[pid] in ('browser', 'renderer', 'gpu-process'):
            threads[pid] = thread_cpu(pid, tick_ms)

    totals = {}
    for pid in used:
        p = pid
        while p in parent and p != root:
            p = parent[p]
        if p == root:
            totals[kind[pid]] = totals.get(kind[pid], 0) + used[pid]
            # The threads by name: the page's own thread, the compositor,
            # V8's background workers (wasm compiles), IO, the browser's
            # main and IO threads, its thread pool (devices, storage)...
            for name, ms in threads.get(pid, {}).items():
                key = f'{kind[pid]}/{name}'
                totals[key] = totals.get(key, 0) + ms
    return totals


def thread_cpu(pid, tick_ms):
    """The CPU time (ms) of a process's threads, summed by thread name."""
    by_name = {}
    try:
        tasks = os.listdir(f'/proc/{pid}/task')
    except OSError:
        return by_name
    for task in tasks:
        try:
            with open(f'/proc/{pid}/task/{task}/stat') as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index('(') + 1:stat.rindex(')')]
        fields = stat[stat.rindex(')') + 2:].split()
        by_name[name] = by_name.get(name, 0) + (int(fields[11]) + int(fields[12])) * tick_ms
    return by_name


def spent(before, after):
    return {name: round(after[name] - before.get(name, 0), 1) for name in after}


def within(pairs, begin, end):
    return [p for p in pairs if begin <= p[0] <= end]


def pace_summary(probe, begin=float('-inf'), end=float('inf')):
    """What the probe saw of the output reports sent between BEGIN and END."""
    sends = [(t, probe['settled'][i] if i < len(probe['settled']) else None)
             for i, t in enumerate(probe['sends']) if begin <= t <= end]
    summary = {}
    for name in ['frames', 'views']:
        seen = within(probe[name], begin, end)
        summary[name] = len(seen)
        summary[name + '_ms'] = round(sum(d for _, d in seen), 1)
    long_frames = within(probe['longFrames'], begin, end)
    summary['long_frames'] = len(long_frames)
    summary['long_frames_ms'] = round(sum(f[1] for f in long_frames), 1)
    summary['long_frames_render_ms'] = round(sum(f[2] for f in long_frames), 1)
    if not sends:
        return summary
    done = [abs(s) for _, s in sends if s is not None]
    first, last = sends[0][0], max(done) if done else sends[-1][0]
    settles = sorted(abs(s) for _, s in sends if s is not None)
    # Reports in flight at each send; a report settles only after its send.
    in_flight = [i - bisect.bisect_right(settles, t) for i, (t, _) in enumerate(sends)]
    # Time with no report in flight: from the settling of every report sent
    # so far to the next send.
    idle = 0.0
    latest = float('-inf')
    for i in range(1, len(sends)):
        if sends[i - 1][1] is not None:
            latest = max(latest, abs(sends[i - 1][1]))
        if in_flight[i] == 0 and latest < sends[i][0]:
            idle += sends[i][0] - latest
    summary.update({
        'reports': len(sends), 'span_ms': round(last - first, 1),
        'ms_per_report': round((last - first) / len(sends), 2),
        'latency_ms': round(sum(abs(s) - t for t, s in sends if s is not None) / max(1, len(done)), 2),
        'mean_in_flight': round(sum(in_flight) / len(in_flight), 2),
        'idle_ms': round(idle, 1),
        'send_gaps_over_20ms': sum(1 for a, b in zip(sends, sends[1:]) if b[0] - a[0] > 20),
    })
    pauses = [p for p in probe['pauses'] if begin <= p[0] <= end]
    if pauses:
        summary['pauses'] = len(pauses)
        summary['paused_ms'] = round(sum(b - a for a, b in pauses), 1)
        summary['core_ms'] = round(last - first - summary['paused_ms'], 1)
    return summary


def page_update(browser, port, query, timeout, probe):
    """One update by the kiosk page in a new tab: its status texts with their
    times, the box it ended with (if any) and, with `probe`, where the time
    of its page writes went."""
    page = browser.open(f'http://localhost:{port}/index.html?{query}',
                        RECORD_STATUSES + (PROBE if probe else ''))
    result = {'probe': None, 'writing': None, 'writing_cpu': None}
    try:
        # Ended: the update has run and is over, or a message box tells why
        # nothing started.
        try:
            if probe:
                page.command('Performance.enable')
                page.wait_for("window.statuses.some(s => s.text === '正在寫入資料庫...')",
                              timeout=timeout)
                before = main_thread(page)
                cpu_before = browser_cpu(browser.process.pid)
                page.wait_for("window.statuses.some(s => s.text === '資料庫寫入成功!')",
                              timeout=timeout)
                result['writing'] = spent(before, main_thread(page))
                result['writing_cpu'] = spent(cpu_before, browser_cpu(browser.process.pid))
            page.wait_for("(document.body.dataset.job === 'idle' && "
                          "window.statuses.some(s => s.text === '正在清除...')) || "
                          "document.getElementById('message').open || "
                          "document.body.dataset.halted", timeout=timeout)
        except BrowserError:
            print(f'the page did not end in time: {page.evaluate(STATE, timeout=30)}',
                  file=sys.stderr, flush=True)
            raise
        result['statuses'] = page.evaluate('window.statuses')
        if probe:
            result['probe'] = page.evaluate('window.paceProbe')
        result['message'] = page.evaluate(
            "(document.getElementById('message').open && "
            "document.getElementById('message-text').textContent) || "
            "(document.body.dataset.halted && "
            "document.getElementById('unsupported').textContent)")
        return result
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
    parser.add_argument('--pages', type=int, default=1, metavar='N',
                        help='N updates by the page, each in a new tab')
    parser.add_argument('--probe', action='store_true',
                        help='say where the time of the output reports went (pace_probe.js)')
    args = parser.parse_args()

    web_dir = os.environ.get('GPS_WEB_DIR') or os.path.join(HERE, '..', '..', 'build', 'web')
    files = {**kiosk_files(os.path.abspath(args.file)), **harness_files()}
    server = http.server.ThreadingHTTPServer(('127.0.0.1', args.port),
                                             make_handler(web_dir, files))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Under QEMU without KVM the browser's own start can take minutes.
    browser = Browser(timeout=args.timeout, log=args.browser_log)
    bares, updates = [], []
    query = f'window={args.window}' + ('&simulate=1' if args.simulate else '')
    try:
        # A bare loop before each update of the page and one after the
        # last: the browser's warming up (its first minutes, the core's
        # compile) falls on both alike.
        for run in range(args.pages):
            if args.bare_loop:
                bares.append(('bare' if run == 0 else f'bare{run + 1}',
                              bare_loop(browser, args.port, args.bare_loop, args.window,
                                        args.timeout, args.probe)))
            updates.append(('page' if run == 0 else f'page{run + 1}',
                            page_update(browser, args.port, query, args.timeout, args.probe)))
        if args.bare_loop:
            bares.append(('bare_after', bare_loop(browser, args.port, args.bare_loop,
                                                  args.window, args.timeout, args.probe)))
    finally:
        browser.close()
        server.shutdown()
    statuses = []
    for name, update in updates:
        statuses = update['statuses']
        for s in statuses:
            print(s['text'])
        if update['message']:
            print(f"message: {update['message']}", file=sys.stderr)
        suffix = '' if name == 'page' else name[len('page'):]
        if len(statuses) >= 2:
            print(f"update{suffix}_ms {statuses[-1]['at'] - statuses[1]['at']:.0f}",
                  file=sys.stderr)
        texts = [s['text'] for s in statuses]
        if '正在寫入資料庫...' in texts and '資料庫寫入成功!' in texts:
            begin = statuses[texts.index('正在寫入資料庫...')]['at']
            end = statuses[texts.index('資料庫寫入成功!')]['at']
            print(f'write{suffix}_ms {end - begin:.1f}', file=sys.stderr)
            if update['probe']:
                print(f"probe_{name} {json.dumps(pace_summary(update['probe'], begin, end))}",
                      file=sys.stderr)
                print(f"main_thread_{name} {json.dumps(update['writing'])}", file=sys.stderr)
                print(f"cpu_{name} {json.dumps(update['writing_cpu'])}", file=sys.stderr)
        if not statuses or statuses[-1]['text'] != '更新成功!':
            break
    for name, bare in bares:
        if 'error' in bare:
            print(f"{name}_error {bare['error']}", file=sys.stderr)
            continue
        print(f"{name}_ms {bare['ms']:.1f} reports {bare['reports']}", file=sys.stderr)
        if 'probe' in bare:
            print(f"probe_{name} {json.dumps(pace_summary(bare['probe']))}", file=sys.stderr)
            print(f"main_thread_{name} {json.dumps(bare['main_thread'])}", file=sys.stderr)
            print(f"cpu_{name} {json.dumps(bare['cpu'])}", file=sys.stderr)
    if not all(u['statuses'] and u['statuses'][-1]['text'] == '更新成功!' for _, u in updates):
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
