#!/usr/bin/env python3
"""Loopback HTTP server for the http benchmarks beside it.

Usage: http_server.py PORTFILE. Listens on a free port of 127.0.0.1, writes
the number to PORTFILE (whole, through a rename) and serves /small (a page
of 100 bytes) and /big/N (N megabytes). Ends on GET /quit, or after a
minute without requests.
"""
import http.server
import os
import sys
import threading
import time

SMALL = b"x" * 99 + b"\n"
BLOCK = b"y" * (1 << 20)
last = [time.time()]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, size):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def do_GET(self):
        last[0] = time.time()
        if self.path == "/small":
            self.head(len(SMALL))
            self.wfile.write(SMALL)
        elif self.path.startswith("/big/"):
            mb = int(self.path[5:])
            self.head(mb << 20)
            for _ in range(mb):
                self.wfile.write(BLOCK)
        elif self.path == "/quit":
            self.head(0)
            threading.Thread(target=server.shutdown).start()
        else:
            self.send_error(404)


def idle_watch():
    while time.time() - last[0] < 60:
        time.sleep(1)
    server.shutdown()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
threading.Thread(target=idle_watch, daemon=True).start()
server.serve_forever()
