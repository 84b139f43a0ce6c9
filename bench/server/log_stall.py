#!/usr/bin/env python3
"""What a reader of the log that stops reading costs corvala-gateway's clients, for
several builds side by side in one run.

    python3 bench/server/log_stall.py BINARY [BINARY ...]

Each build serves the demo on a free loopback port with its standard error on a pipe that
nobody reads (as a journal that has stalled), so the pipe fills after 64 KiB of log. One
client then asks for the demo's list 3000 times on a kept-alive connection, and another
client asks for /version.txt. Printed: how many lists were answered and in what time, and
how long the other client waited. Figures are printed, never asserted. Loopback only.
"""
import http.client
import os
import re
import subprocess
import sys
import time

REQUESTS = 3000
LIMIT = 5.0  # seconds a request may take before it counts as held up


def measure(binary):
    unread, log = os.pipe()
    gateway = subprocess.Popen([binary, "--demo", "--listen", "127.0.0.1:0"],
                               stdout=subprocess.PIPE, stderr=log)
    os.close(log)
    try:
        port = int(re.search(rb"127\.0\.0\.1:(\d+)", gateway.stdout.readline()).group(1))
        client = http.client.HTTPConnection("127.0.0.1", port, timeout=LIMIT)
        served, start, held = 0, time.monotonic(), ""
        for i in range(REQUESTS):
            try:
                client.request("GET", "/clients.php?user=root&host=localhost&accesshash=K")
                client.getresponse().read()
            except OSError:
                held = f" (list {i + 1} had no answer within {LIMIT:.0f} s)"
                break
            served += 1
        took = time.monotonic() - start
        start = time.monotonic()
        try:
            other = http.client.HTTPConnection("127.0.0.1", port, timeout=LIMIT)
            other.request("GET", "/version.txt")
            other.getresponse().read()
            waited = f"{time.monotonic() - start:.3f} s"
        except OSError:
            waited = f"no answer within {LIMIT:.0f} s"
        print(f"{binary}\n  {served} of {REQUESTS} lists answered in {took:.2f} s{held}; "
              f"another client's /version.txt: {waited}")
    finally:
        gateway.kill()
        gateway.wait()
        os.close(unread)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    print("corvala-gateway with a log nobody reads (standard error on a full pipe)")
    for binary in sys.argv[1:]:
        measure(binary)


if __name__ == "__main__":
    main()
