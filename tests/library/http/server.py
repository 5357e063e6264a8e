#!/usr/bin/env python3
"""Loopback HTTP server for the script tests beside it.

Usage: server.py PORTFILE. Listens on a free port of 127.0.0.1 and writes
the number to PORTFILE (whole, through a rename). Serves the fixed pages
below and counts the requests of each path (GET /hits/PATH answers the
count). Ends on GET /quit, or after two idle minutes.
"""
import http.server
import os
import sys
import threading
import time

SCRIPT = b'Kiv [Title: "remote"]\nprint "remote script ran"\n1 + 2\n'
hits = {}
last = [time.time()]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, code, body, ctype="text/plain", extra=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        last[0] = time.time()
        path = self.path
        hits[path] = hits.get(path, 0) + 1
        if path == "/hello":
            self.answer(200, "h\u00e9llo\n".encode(), "text/plain; charset=utf-8",
                        [("X-Twice", "a"), ("X-Twice", "b")])
        elif path == "/empty":
            self.answer(200, b"")
        elif path.startswith("/status/"):
            code = int(path[8:])
            self.answer(code, b"status %d" % code)
        elif path.startswith("/script"):
            self.answer(200, SCRIPT)
        elif path.startswith("/data"):
            self.answer(200, b"[1 2 three]")
        elif path == "/moved":
            self.answer(302, b"", extra=[("Location", "/hello")])
        elif path == "/chunked":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     b"3\r\none\r\n4\r\n two\r\n0\r\n\r\n")
        elif path == "/close-early":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..")
        elif path == "/garbage":
            self.raw(b"no status line here\r\n\r\n")
        elif path.startswith("/hits/"):
            self.answer(200, str(hits.get(path[5:], 0)).encode())
        elif path == "/quit":
            self.answer(200, b"bye")
            threading.Thread(target=server.shutdown).start()
        else:
            self.answer(404, b"no such page")

    do_HEAD = do_GET

    def do_POST(self):
        last[0] = time.time()
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.answer(201, b"got " + self.command.encode() + b" " + body)

    do_PUT = do_POST


def idle_watch():
    while time.time() - last[0] < 120:
        time.sleep(1)
    server.shutdown()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
tmp = sys.argv[1] + ".tmp"
with open(tmp, "w") as f:
    f.write(str(server.server_address[1]))
os.rename(tmp, sys.argv[1])
threading.Thread(target=idle_watch, daemon=True).start()
server.serve_forever()
