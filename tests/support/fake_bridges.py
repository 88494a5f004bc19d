#!/usr/bin/env python3
"""Many fake bridges on loopback, for tests of tolvane-probe survey. Run inside a private network
namespace: it answers discovery probes on UDP 35070 with one reply per bridge, each sent from and
naming 127.0.0.N (N = 1..COUNT), and listens on TCP 7000 of those addresses. Bridge N answers every
command line with "OP <COMMAND>=<N>" CR LF, except: N % 10 == 0 refuses TCP (no listener), N % 10 == 5
accepts but never answers. One malformed discovery reply comes from 127.0.1.1.
Usage: fake_bridges.py COUNT READY_FILE"""
import os, selectors, socket, sys

count, ready = int(sys.argv[1]), sys.argv[2]
sel = selectors.DefaultSelector()

udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
udp.bind(("0.0.0.0", 35070))
sel.register(udp, selectors.EVENT_READ, "probe")

senders = {}
for n in range(1, count + 1):
    addr = "127.0.%d.%d" % divmod(n, 256) if n >= 256 else "127.0.0.%d" % n
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, 0))
    senders[n] = (addr, s)
    if n % 10 != 0:
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((addr, 7000))
        listener.listen(16)
        sel.register(listener, selectors.EVENT_READ, ("listen", n))
junk = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
junk.bind(("127.0.1.1", 0))

with open(ready, "w") as f:
    f.write("ready\n")

buffers = {}
while True:
    for key, _ in sel.select():
        what = key.data
        if what == "probe":
            data, (host, _) = udp.recvfrom(65536)
            if b"?ZZ?" not in data.split(b"\0")[0]:
                continue
            for n, (addr, s) in senders.items():
                reply = "ip=%s;mac=02:00:00:00:%02X:%02X;model=KT5520M;serial=Tolvane-%d;" % (addr, n // 256, n % 256, n)
                s.sendto(reply.encode(), (host, 35069))
            junk.sendto(b"ip=127.0.1.1;mac=\xff;model", (host, 35069))
        elif what[0] == "listen":
            conn, _ = key.fileobj.accept()
            buffers[conn] = b""
            sel.register(conn, selectors.EVENT_READ, ("conn", what[1]))
        else:
            conn, n = key.fileobj, what[1]
            try:
                data = conn.recv(4096)
            except OSError:
                data = b""
            if not data:
                sel.unregister(conn)
                conn.close()
                del buffers[conn]
                continue
            buffers[conn] += data
            while b"\r\n" in buffers[conn]:
                line, buffers[conn] = buffers[conn].split(b"\r\n", 1)
                if n % 10 != 5:
                    conn.sendall(b"OP " + line.upper() + b"=%d\r\n" % n)
