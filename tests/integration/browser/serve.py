#!/usr/bin/env python3
"""The browser checks' web server on a free loopback port (printed first).

Serves the test page and document from PAGE_DIR, passes /pki/ on to the
certificate service (a page's certificate domain is its own host and port),
keeps what the page reports: POST /report/NAME stores the body in
OUT_DIR/NAME.json, GET /wait/NAME answers once OUT_DIR/NAME exists (at most
60 s), so the test can hold the page at a step.

Usage: serve.py PAGE_DIR OUT_DIR PKI_PORT
"""
import http.server
import os
import re
import sys
import time
import urllib.error
import urllib.request

PAGE_DIR, OUT_DIR, PKI_PORT = sys.argv[1], sys.argv[2], int(sys.argv[3])
NAME = re.compile(r"^[a-z0-9-]{1,40}$")
MAX_REPORT = 64 * 1024 * 1024


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", kind="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path.startswith("/pki/"):
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{PKI_PORT}{self.path}", timeout=30) as r:
                    self.answer(r.status, r.read(), r.headers.get("Content-Type", "application/octet-stream"))
            except urllib.error.HTTPError as e:
                self.answer(e.code, e.read())
            return
        if path.startswith("/wait/") and NAME.match(path[6:]):
            flag = os.path.join(OUT_DIR, path[6:])
            for _ in range(600):
                if os.path.exists(flag):
                    return self.answer(200, b"go")
                time.sleep(0.1)
            return self.answer(504, b"no go")
        name = os.path.basename(path)
        file = os.path.join(PAGE_DIR, name)
        if name and os.path.isfile(file):
            kind = "text/html; charset=utf-8" if name.endswith(".html") else "application/xml"
            with open(file, "rb") as f:
                return self.answer(200, f.read(), kind)
        self.answer(404, b"not found")

    def do_POST(self):
        path = self.path.split("?", 1)[0]
        length = int(self.headers.get("Content-Length", "0"))
        if not path.startswith("/report/") or not NAME.match(path[8:]) or not 0 <= length <= MAX_REPORT:
            return self.answer(400, b"bad report")
        body = self.rfile.read(length)
        temporary = os.path.join(OUT_DIR, path[8:] + ".part")
        with open(temporary, "wb") as f:
            f.write(body)
        os.replace(temporary, os.path.join(OUT_DIR, path[8:] + ".json"))
        self.answer(200, b"kept")


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
