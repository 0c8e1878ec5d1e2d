#!/usr/bin/env python3
"""A stand-in for the update service on loopback HTTPS, for the update check's tests.

Usage: update_server.py CERT KEY LOG
Prints "PORT PID" on one line, then serves until it is killed or its parent ends. The first path segment picks
the answer (see ANSWERS; "hang" accepts the request and never answers). Each request's path,
user agent and content type is appended to LOG as one line "path|agent|type".
"""
import http.server
import os
import ssl
import sys
import threading
import time

CERT, KEY, LOG = sys.argv[1:4]

NEWER = b'{"version": "1.2.0", "download_url": "https://downloads.example.test/huebench-1.2.0"}'
ANSWERS = {
    "newer": (200, NEWER),
    "same": (200, b'{"version": "0.9.9", "download_url": "https://downloads.example.test/x"}'),
    "nokeys": (200, b'{"latest": "1.2.0"}'),
    "missing": (404, b"not found"),
    "broken": (500, NEWER),
    "huge": (200, NEWER[:-1] + b', "pad": "' + b"x" * (1 << 20) + b'"}'),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        with open(LOG, "a") as log:
            log.write("%s|%s|%s\n" % (self.path, self.headers.get("User-Agent"),
                                      self.headers.get("Content-Type")))
        name = self.path.split("/")[1]
        if name == "hang":
            time.sleep(60)
            return
        status, body = ANSWERS.get(name, (404, b""))
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def exit_with_parent():
    # A test that crashes cannot stop its server: leave when the parent is gone.
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.2)
    os._exit(0)


threading.Thread(target=exit_with_parent, daemon=True).start()
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], os.getpid(), flush=True)
server.serve_forever()
