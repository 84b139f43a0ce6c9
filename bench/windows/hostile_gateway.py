#!/usr/bin/env python3
"""A gateway on 127.0.0.1 whose version answer misbehaves, for bench_failure_shown.

    hostile_gateway.py MODE PORT

MODE is "normal" (1.7), "endless" (a body that never ends, sent as fast as the client
takes it) or "trickle" (one byte every 5 seconds). The lists always answer at once; other
paths get 404. Each hostile answer stops by itself after 200 seconds or when the client
goes.
"""
import http.server
import sys
import time

MODE = sys.argv[1]
PORT = int(sys.argv[2])
LIMIT_S = 200


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/clients.php":
            return self.answer(b"alice<BR>bob")
        if path == "/paks.php":
            return self.answer(b"basic<BR>gold")
        if path != "/version.txt":
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if MODE == "normal":
            return self.answer(b"1.7")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        chunk, pause = (b"x" * (8 << 20), 0) if MODE == "endless" else (b"x", 5)
        end = time.monotonic() + LIMIT_S
        try:
            while time.monotonic() < end:
                self.connection.sendall(chunk)
                if pause:
                    time.sleep(pause)
        except OSError:
            pass  # the client gave up
        self.close_connection = True


http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
