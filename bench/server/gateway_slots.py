#!/usr/bin/env python3
"""What clients that go away, one address's silent connections and a stop cost the other
clients of corvala-gateway, for two builds side by side in one run.

    python3 bench/server/gateway_slots.py BEFORE_BINARY AFTER_BINARY [--whm-timeout S]

Against a WHM stand-in on 127.0.0.1 that reads each request and never answers (HTTPS,
with a certificate made for the run), it measures:
  1. 64 list requests sent and closed at once, --max-connections 64: how long a new
     client gets 503s;
  2. 8 /ad.php sent and closed at once, --max-connections 8: the same;
  3. 128 silent TLS handshakes from 127.0.0.1, --max-connections 128, HTTPS: how long
     until a request from 127.0.0.2 is answered;
  4. SIGTERM with 8 list and 8 command requests waiting on WHM: how long until the
     process has ended, and its exit status.
Every WHM call is bounded by --whm-timeout (default 10 s; 0: the gateway's own, 50 s
for lists and 240 s for /ad.php), which bounds what a slot held by a gone client costs.
Figures are printed, never asserted. Loopback only.
"""
import argparse
import asyncio
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

LOGIN = "user=root&host=127.0.0.1&accesshash=KEY"
LIST = f"/clients.php?{LOGIN}"
CREATE = f"/ad.php?acctdomain=shop.example&acctuser=shop&acctpass=pw&acctplan=gold&{LOGIN}"
COMMAND = f"/sus.php?suspenduser=bob&{LOGIN}"


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    return cert, key


class SilentWhm:
    """HTTPS on 127.0.0.1 that reads requests and never answers."""

    def __init__(self, cert, key):
        self.loop = asyncio.new_event_loop()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        ready = threading.Event()

        async def serve(reader, writer):
            try:
                while await reader.read(65536):
                    pass
            except (ConnectionError, ssl.SSLError):
                pass

        async def start():
            self.server = await asyncio.start_server(serve, "127.0.0.1", 0, ssl=context)
            self.port = self.server.sockets[0].getsockname()[1]
            ready.set()

        threading.Thread(target=lambda: (self.loop.run_until_complete(start()),
                                         self.loop.run_forever()), daemon=True).start()
        ready.wait()


class Gateway:
    def __init__(self, binary, args):
        self.process = subprocess.Popen([binary, "--listen", "127.0.0.1:0"] + args,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        line = self.process.stdout.readline()
        self.port = int(line.rsplit(":", 1)[1].split()[0])

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def request_text(target):
    return f"GET {target} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode()


def send_and_close(port, target, count):
    sockets = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(request_text(target))
        sockets.append(s)
    for s in sockets:
        s.close()


def status_of(port, target="/version.txt", source="127.0.0.1", tls=None, timeout=2.0):
    """The answer's status, or None when the connection was refused or closed."""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                     source_address=(source, 0))
        if tls:
            s = tls.wrap_socket(s, server_hostname="127.0.0.1")
        s.sendall(request_text(target))
        answer = b""
        while b"\r\n" not in answer:
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
        s.close()
        return int(answer.split()[1]) if answer.startswith(b"HTTP/") else None
    except (OSError, ssl.SSLError):
        return None


def seconds_until_served(port, limit, **kwargs):
    start = time.monotonic()
    while time.monotonic() - start < limit:
        if status_of(port, **kwargs) == 200:
            return time.monotonic() - start
        time.sleep(0.05)
    return None


def describe(seconds, limit):
    return f"{seconds:6.2f} s" if seconds is not None else f"not within {limit:.0f} s"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--whm-timeout", type=int, default=10)
    options = parser.parse_args()
    limit = (options.whm_timeout or 240) + 5
    folder = tempfile.mkdtemp()
    cert, key = make_certificate(folder)
    whm = SilentWhm(cert, key)
    whm_args = ["--whm-host", "127.0.0.1", "--whm-port", str(whm.port), "--whm-ca", cert]
    if options.whm_timeout:
        whm_args += ["--whm-timeout", str(options.whm_timeout)]
    client_tls = ssl.create_default_context(cafile=cert)
    builds = [("before", options.before), ("after", options.after)]
    timeout = f"--whm-timeout {options.whm_timeout}" if options.whm_timeout else "default timeouts"
    print(f"corvala-gateway slots and stop (loopback; WHM never answers; {timeout})\n")

    for title, target, count in [("64 lists sent and closed, --max-connections 64", LIST, 64),
                                 ("8 /ad.php sent and closed, --max-connections 8", CREATE, 8)]:
        print(f"{title}: a new client gets 503s for")
        for name, binary in builds:
            gateway = Gateway(binary, whm_args + ["--max-connections", str(count)])
            send_and_close(gateway.port, target, count)
            time.sleep(0.02)
            print(f"  {name:6} {describe(seconds_until_served(gateway.port, limit), limit)}")
            gateway.stop()

    print("128 silent TLS handshakes from 127.0.0.1, --max-connections 128: "
          "a request from 127.0.0.2 is answered after")
    for name, binary in builds:
        gateway = Gateway(binary, whm_args + ["--max-connections", "128", "--tls-cert", cert,
                                              "--tls-key", key])
        silent = [socket.create_connection(("127.0.0.1", gateway.port)) for _ in range(128)]
        time.sleep(0.2)
        waited = seconds_until_served(gateway.port, limit, source="127.0.0.2", tls=client_tls)
        print(f"  {name:6} {describe(waited, limit)}")
        for s in silent:
            s.close()
        gateway.stop()

    print("SIGTERM with 8 lists and 8 commands waiting on WHM: the process ends after")
    for name, binary in builds:
        gateway = Gateway(binary, whm_args)
        waiting = []
        for target in [LIST] * 8 + [COMMAND] * 8:
            s = socket.create_connection(("127.0.0.1", gateway.port))
            s.sendall(request_text(target))
            waiting.append(s)
        time.sleep(0.5)
        start = time.monotonic()
        gateway.process.send_signal(signal.SIGTERM)
        try:
            status = gateway.process.wait(timeout=limit)
            print(f"  {name:6} {time.monotonic() - start:6.2f} s, exit status {status}")
        except subprocess.TimeoutExpired:
            print(f"  {name:6} not within {limit} s")
        gateway.stop()
        for s in waiting:
            s.close()


if __name__ == "__main__":
    sys.exit(main())
