#!/usr/bin/env python3
"""Fake bridges for tests of tolvane-probe survey; run it inside a private network namespace.
Usage: fake_bridges.py READY_FILE ADDRESS:MODE...
Answers every discovery probe on UDP 35070 with one reply per ADDRESS, sent from that address (which
must be local) to the prober's port 35069 and naming it. MODE says what TCP 7000 on ADDRESS does:
  answer  accept, and answer each command line with "OP <COMMAND>=<n>" CR LF (n: the bridge's number)
  silent  accept, never answer
  refuse  nothing listens, so connections are refused
  garbled refuse, and the discovery reply is malformed
Writes READY_FILE once everything listens; runs until stopped."""
import selectors, socket, sys

ready, wanted = sys.argv[1], [a.rsplit(":", 1) for a in sys.argv[2:]]
sel = selectors.DefaultSelector()

udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
udp.bind(("0.0.0.0", 35070))
sel.register(udp, selectors.EVENT_READ, None)

bridges = []
for n, (addr, mode) in enumerate(wanted, 1):
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.bind((addr, 0))
    reply = "ip=%s;mac=02:00:00:00:%02X:%02X;model=KT5520M;serial=Tolvane-%d;" % (addr, n // 256, n % 256, n)
    bridges.append((sender, b"ip=%s;mac=\xff;model" % addr.encode() if mode == "garbled" else reply.encode()))
    if mode in ("answer", "silent"):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((addr, 7000))
        listener.listen(64)
        sel.register(listener, selectors.EVENT_READ, (n, mode == "answer", None))

with open(ready, "w") as f:
    f.write("ready\n")

pending = {}
while True:
    for key, _ in sel.select():
        if key.data is None:
            data, (host, _) = udp.recvfrom(65536)
            if b"?ZZ?" in data.split(b"\0")[0]:
                for sender, reply in bridges:
                    sender.sendto(reply, (host, 35069))
            continue
        n, answers, conn = key.data
        if conn is None:
            conn, _ = key.fileobj.accept()
            pending[conn] = b""
            sel.register(conn, selectors.EVENT_READ, (n, answers, conn))
            continue
        try:
            data = conn.recv(4096)
        except OSError:
            data = b""
        if not data:
            sel.unregister(conn)
            conn.close()
            del pending[conn]
            continue
        pending[conn] += data
        while b"\r\n" in pending[conn]:
            line, pending[conn] = pending[conn].split(b"\r\n", 1)
            if answers:
                conn.sendall(b"OP %s=%d\r\n" % (line.upper(), n))
