#!/usr/bin/python3
"""HTTP server for tests: records every request and answers as told.

  http_server.py --folder DIR [--cert FILE --key FILE]

Each request (GET or POST) is recorded as DIR/requests/<n>.json (method,
path, version and headers) and DIR/requests/<n>.body (the body bytes), in
the order received (n = 1, 2, ...). The answer is read from DIR/answer.json
at every request, so a test can change it between requests:
  {"status": 200, "reason": "OK", "body": "text", "contentType": "text/plain",
   "delay": 0.0}
"delay" waits that many seconds before answering (a slow server). Without
the file the answer is 200 "OK" with an empty body. With --cert and --key
the server speaks HTTPS.
"""
import argparse
import itertools
import json
import os
import sys
import threading
import time
import socketserver
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import loopback_common  # noqa: E402

_counter = itertools.count(1)
_lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    folder = None

    def log_message(self, *args):
        pass

    def _record(self, body):
        with _lock:
            n = next(_counter)
        requests = os.path.join(self.folder, "requests")
        loopback_common.write_atomically(requests, "%d.body" % n, body)
        head = {"method": self.command, "path": self.path, "version": self.request_version,
                "headers": [[k, v] for k, v in self.headers.items()]}
        loopback_common.write_atomically(requests, "%d.json" % n, json.dumps(head).encode())

    def _answer(self):
        try:
            with open(os.path.join(self.folder, "answer.json"), "rb") as f:
                answer = json.load(f)
        except FileNotFoundError:
            answer = {}
        time.sleep(float(answer.get("delay", 0)))
        body = answer.get("body", "").encode("utf-8")
        self.send_response(int(answer.get("status", 200)), answer.get("reason", "OK"))
        self.send_header("Content-Type", answer.get("contentType", "text/plain; charset=utf-8"))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        self._record(self.rfile.read(length))
        self._answer()

    def do_GET(self):
        self._record(b"")
        self._answer()


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def server_bind(self):
        # The stock server_bind looks up the host's name, which can take a
        # while; loopback needs no name.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    loopback_common.exit_with_parent()
    os.makedirs(os.path.join(args.folder, "requests"), exist_ok=True)
    Handler.folder = args.folder

    server = Server(("127.0.0.1", 0), Handler)
    if args.cert:
        import ssl

        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    loopback_common.report_port(server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
