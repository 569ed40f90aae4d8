#!/usr/bin/env python3
"""Serves the built page (a folder of static files) on http://localhost, as
`./dev web` does, optionally as a kiosk: kiosk.json and the image are then
served beside the page, so that it updates each device by itself.

    web/serve.py [--port 8000] [--dir build/web] [--kiosk IMAGE [--station]]

The answers carry the headers an operator's server should send (see
web/README.md): frame-ancestors 'none', and no caching of kiosk.json and
the image.
"""

import argparse
import functools
import http.server
import json
import os
import sys

FRAME_POLICY = "frame-ancestors 'none'"


def kiosk_files(image_path, station=False):
    """The URL paths a kiosk adds to the page's folder: kiosk.json and the image."""
    name = os.path.basename(image_path)
    kiosk = {'autostart': True, 'image': name, 'images': [name]}
    if station:
        kiosk['station'] = True
    return {'/kiosk.json': ('application/json', lambda: json.dumps(kiosk).encode()),
            '/' + name: ('application/octet-stream', lambda: open(image_path, 'rb').read())}


def make_handler(web_dir, extra=None, frame_policy=True):
    """A request handler for `web_dir`, with `extra` URL paths mapped to
    (content type, function that gives the bytes), served uncached."""
    extra = extra or {}

    class Handler(http.server.SimpleHTTPRequestHandler):
        extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                          '.wasm': 'application/wasm', '.webmanifest': 'application/manifest+json',
                          '.js': 'text/javascript'}

        def end_headers(self):
            if frame_policy:
                self.send_header('Content-Security-Policy', FRAME_POLICY)
            super().end_headers()

        def do_GET(self):
            entry = extra.get(self.path.split('?')[0])
            if entry is None:
                return super().do_GET()
            content_type, body = entry
            data = body()
            self.send_response(200)
            self.send_header('Content-Type', content_type)
            self.send_header('Content-Length', str(len(data)))
            self.send_header('Cache-Control', 'no-store')
            self.end_headers()
            self.wfile.write(data)

        def handle(self):
            try:
                super().handle()
            except (BrokenPipeError, ConnectionResetError):
                pass  # the browser went away in the middle of an answer

        def log_message(self, *unused):
            pass

    return functools.partial(Handler, directory=web_dir)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--port', type=int, default=8000)
    parser.add_argument('--dir', default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                      '..', 'build', 'web'))
    parser.add_argument('--kiosk', metavar='IMAGE', help='serve a kiosk that writes IMAGE')
    parser.add_argument('--station', action='store_true',
                        help='with --kiosk: update every device plugged in, one after another')
    args = parser.parse_args()
    extra = {}
    if args.kiosk:
        if not os.path.isfile(args.kiosk):
            sys.exit(f'web/serve.py: {args.kiosk}: no such file')
        extra = kiosk_files(os.path.abspath(args.kiosk), args.station)
    # WebHID needs a secure page: http://localhost counts as one.
    server = http.server.ThreadingHTTPServer(('127.0.0.1', args.port),
                                             make_handler(os.path.abspath(args.dir), extra))
    what = f'a kiosk writing {os.path.basename(args.kiosk)}' if args.kiosk else 'the page'
    print(f'== serving {what} on http://localhost:{args.port}/ (Ctrl+C ends it)', flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
