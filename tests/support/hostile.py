#!/usr/bin/python3
"""hostile.py HOST PORT: random bytes, then a request with a 1 MiB header; the server must close each
connection within 20 seconds. Exit status 1, saying which, when it does not."""
import os
import socket
import sys


def closed_by_server(where, data):
    with socket.create_connection(where, timeout=20) as s:
        try:
            s.sendall(data)
            while s.recv(65536):
                pass
        except (BrokenPipeError, ConnectionResetError):
            pass  # closed while we sent or read: what a hostile client should get
        except socket.timeout:
            return False
    return True


where = (sys.argv[1], int(sys.argv[2]))
requests = {"random bytes": os.urandom(4096) + b"\r\n\r\n",
            "1 MiB header": b"GET /status HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * (1 << 20) + b"\r\n\r\n"}
still_open = [name for name, data in requests.items() if not closed_by_server(where, data)]
for name in still_open:
    print(f"{name}: still open", file=sys.stderr)
sys.exit(1 if still_open else 0)
