#!/usr/bin/python3
"""What the status end-to-end test does on sockets, each bounded in time:
  datagrams PORT TEXT...      one datagram per TEXT to 127.0.0.1:PORT
  connections PORT N          N connections to 127.0.0.1:PORT, each closed at once
  hold PORT SECONDS           one connection, its local port printed, kept open for at most SECONDS
  hostile HOST PORT           random bytes, then a 1 MiB header: each must be closed by the server"""
import os
import socket
import sys
import time


def closed_by_server(sock, limit=20):
    """True when the server closes the connection (or resets it) within `limit` seconds."""
    sock.settimeout(limit)
    end = time.monotonic() + limit
    try:
        while time.monotonic() < end:
            if not sock.recv(65536):
                return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False
    return False


def send_all(sock, data):
    try:
        sock.sendall(data)
    except (BrokenPipeError, ConnectionResetError):
        pass  # closed while sending: what a hostile client should get


def main(args):
    what = args[0]
    if what == "datagrams":
        port = int(args[1])
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            for text in args[2:]:
                s.sendto(text.encode(), ("127.0.0.1", port))
        return 0
    if what == "connections":
        for _ in range(int(args[2])):
            socket.create_connection(("127.0.0.1", int(args[1])), timeout=10).close()
        return 0
    if what == "hold":
        with socket.create_connection(("127.0.0.1", int(args[1])), timeout=10) as s:
            print(s.getsockname()[1], flush=True)
            time.sleep(float(args[2]))  # the test stops it by its PID once it has looked
        return 0
    if what == "hostile":
        where = (args[1], int(args[2]))
        failures = 0
        with socket.create_connection(where, timeout=10) as s:
            send_all(s, os.urandom(4096) + b"\r\n\r\n")
            if not closed_by_server(s):
                print("random bytes: still open", file=sys.stderr)
                failures += 1
        with socket.create_connection(where, timeout=10) as s:
            send_all(s, b"GET /status HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * (1 << 20) + b"\r\n\r\n")
            if not closed_by_server(s):
                print("1 MiB header: still open", file=sys.stderr)
                failures += 1
        return 1 if failures else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
