#!/usr/bin/env python3
"""Hostile traffic for bench/soak.sh, one phase per sub-command.

Every phase is bounded in count and time, prints what it measured, appends one JSON line to
--results and exits non-zero when the bridge misbehaved. TCP phases run in the bridge's own network
namespace (loopback); the UDP phase runs in the peer namespace across the veth pair, so probes and
broadcast replies travel a real link.
"""
import argparse
import fcntl
import json
import os
import random
import select
import signal
import socket
import struct
import sys
import termios
import threading
import time

TCP_PORT = 7000
UDP_PORT = 35070
REPLY_PORT = 35069

MODEL_REPLY = b"OP MODEL=KT5520M\r\n"
SERNO_REPLY = b"OP SER.NO=ABC-1234567\r\n"

# Markup that must stay text: anything here that made the bridge open a file, a device or a URL
# would show in the strace log (soak.sh checks it) or as a connection to the peer's trap listener.
TRAP = "10.203.0.2:8099"
MARKUP = [
    '<img src="/dev/zero">',
    '<img src="file:///etc/passwd">',
    '<img src="/etc/passwd" width="4000" height="4000">',
    '<img src="/dev/urandom"><img src="/proc/self/mem">',
    '<img src="http://%s/pixel.png">' % TRAP,
    '<link rel=stylesheet href="file:///etc/passwd">',
    '<link rel="stylesheet" type="text/css" href="http://%s/evil.css">' % TRAP,
    '<style>@import url(file:///etc/passwd); p { background-image: url(/dev/zero) }</style><p>x</p>',
    '<p style="background-image:url(file:///etc/shadow)">styled</p>',
    '<span style="background: url(\'/dev/zero\')">bg</span>',
    '<ul style="list-style-image:url(/dev/zero)"><li>item</li></ul>',
    '<table background="/dev/zero"><tr><td background="file:///etc/passwd">cell</td></tr></table>',
    '<body background="/etc/passwd"><a href="file:///etc/passwd">link</a></body>',
    '<a href="javascript:alert(1)">js</a><a href="http://%s/">http</a>' % TRAP,
    '<iframe src="/dev/zero"></iframe><object data="/dev/zero"></object><embed src="/dev/zero">',
    '<img src="qrc:/html/About_en_US.html"><img src="data:image/png;base64,AAAA">',
    '<font size="+99" color="#zzzzzz" face="Comic">big</font><h1 style="font-size:99999px">huge</h1>',
    '<pre>%1 %2 %n %s &amp; &#0; &#xffff; &#1114112; &nosuch;</pre>',
    '</font></b></table></td></tr></html><!-- unclosed comment',
    '<![CDATA[ x ]]><?xml version="1.0"?><!DOCTYPE x SYSTEM "file:///etc/passwd">',
    '<div dir="rtl">\u202e\u0645\u0631\u062d\u0628\u0627</div>\U0001F600\ufeff',
]


def nested(kind, depth):
    opening, closing = {
        "b": ("<b>", "</b>"),
        "div": ("<div>", "</div>"),
        "table": ("<table><tr><td>", "</td></tr></table>"),
        "list": ("<ul><li>", "</li></ul>"),
        "span": ('<span style="font-size:30px">', "</span>"),
        "a": ('<a href="file:///etc/passwd">', "</a>"),
    }[kind]
    return opening * depth + "deep" + closing * depth


def stats(samples):
    if not samples:
        return {"n": 0}
    s = sorted(samples)

    def pick(q):
        return round(s[min(len(s) - 1, int(q * len(s)))] * 1000, 2)

    return {"n": len(s), "p50_ms": pick(0.5), "p99_ms": pick(0.99), "max_ms": round(s[-1] * 1000, 2)}


class Phase:
    """Collects measurements and failures of one phase, with its own deadline."""

    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.started = time.monotonic()
        self.deadline = self.started + args.budget
        self.failures = []
        self.data = {}

    def left(self):
        return self.deadline - time.monotonic()

    def fail(self, text):
        print("  FAIL %s: %s" % (self.name, text), flush=True)
        self.failures.append(text)

    def out_of_time(self):
        if self.left() <= 0:
            self.fail("did not finish within its %d s budget" % self.args.budget)
            return True
        return False

    def finish(self):
        self.data["seconds"] = round(time.monotonic() - self.started, 2)
        self.data["failures"] = self.failures
        for key, value in self.data.items():
            if key != "failures":
                print("  %s.%s = %s" % (self.name, key, json.dumps(value)), flush=True)
        if self.args.results:
            with open(self.args.results, "a") as f:
                f.write(json.dumps({"phase": self.name, **self.data}) + "\n")
        return 1 if self.failures else 0


# --- TCP side ------------------------------------------------------------------------------------------

def tcp_table():
    """(local port, remote port, state) -> (tx queue, rx queue) for every TCP socket in this namespace."""
    table = {}
    for path in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(path) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    lport = int(fields[1].rsplit(":", 1)[1], 16)
                    rport = int(fields[2].rsplit(":", 1)[1], 16)
                    tx, rx = (int(x, 16) for x in fields[4].split(":"))
                    table[(lport, rport, fields[3])] = (tx, rx)
        except FileNotFoundError:
            pass
    return table


def accept_queue():
    """Connections the bridge has not taken yet (the listening socket's receive queue)."""
    for (lport, _rport, state), (_tx, rx) in tcp_table().items():
        if lport == TCP_PORT and state == "0A":
            return rx
    return None


def wait_settled(deadline):
    """True once the bridge has taken every connection and seen every client that left go (no
    socket of its port waits in CLOSE_WAIT for the bridge to notice)."""
    while time.monotonic() < deadline:
        table = tcp_table()
        if all(not (lport == TCP_PORT and (state == "08" or (state == "0A" and rx))) for (lport, _r, state), (_t, rx) in table.items()):
            return True
        time.sleep(0.002)
    return False


def wait_accepted(deadline):
    while time.monotonic() < deadline:
        if accept_queue() == 0:
            return True
        time.sleep(0.001)
    return False


def projector_quiet(log_path, quiet_s, deadline):
    """True once the virtual projector's log has not grown for quiet_s (it has nothing left to say)."""
    if not log_path:
        return True
    last = -1
    since = time.monotonic()
    while time.monotonic() < deadline:
        size = os.path.getsize(log_path)
        now = time.monotonic()
        if size != last:
            last, since = size, now
        elif now - since >= quiet_s:
            return True
        time.sleep(0.01)
    return False


class Client:
    """A TCP client of the bridge that keeps everything it receives."""

    def __init__(self, timeout=5.0):
        # A client that left earlier, once the bridge notices, closes whoever is current then.
        wait_settled(time.monotonic() + 30)
        self.sock = socket.create_connection(("127.0.0.1", TCP_PORT), timeout=timeout)
        self.sock.settimeout(None)  # the reader blocks; quiet spells are no reason to stop
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.port = self.sock.getsockname()[1]
        self.received = bytearray()
        self.closed = False
        self.lock = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            try:
                data = self.sock.recv(65536)
            except OSError:
                data = b""
            with self.lock:
                if not data:
                    self.closed = True
                    self.lock.notify_all()
                    return
                self.received += data
                self.lock.notify_all()

    def mark(self):
        with self.lock:
            return len(self.received)

    def wait_for(self, marker, start, timeout):
        end = time.monotonic() + timeout
        with self.lock:
            while marker not in self.received[start:]:
                left = end - time.monotonic()
                if left <= 0 or self.closed:
                    return False
                self.lock.wait(left)
            return True

    def since(self, start):
        with self.lock:
            return bytes(self.received[start:])

    def unsent(self):
        return struct.unpack("i", fcntl.ioctl(self.sock.fileno(), termios.TIOCOUTQ, b"\0\0\0\0"))[0]

    def bridge_unread(self):
        """Bytes the bridge has not read yet from this connection (None: not found)."""
        entry = tcp_table().get((TCP_PORT, self.port, "01"))
        return None if entry is None else entry[1]

    def wait_consumed(self, deadline):
        """Waits until the bridge has read everything sent so far; returns the time it took or None."""
        t0 = time.monotonic()
        while time.monotonic() < deadline:
            if self.unsent() == 0 and self.bridge_unread() in (0, None):
                return time.monotonic() - t0
            time.sleep(0.001)
        return None

    def close(self, reset=False):
        if reset:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        try:
            self.sock.close()
        except OSError:
            pass
        self.thread.join(2)


def release(phase, client, start, marker, nudges):
    """Lets out a reply the bridge still holds: each further command makes the device talk, and each
    arrival of data lets the bridge take one more line. True once the marker came."""
    for _ in range(nudges):
        # One command per read: wait until the bridge has taken the previous one.
        if phase.left() <= 0 or client.wait_consumed(time.monotonic() + 10) is None:
            break
        phase.data["nudges"] = phase.data.get("nudges", 0) + 1
        client.sock.sendall(b"op status ?\r\n")
        if client.wait_for(marker, start, 0.5):
            return True
    return False


def round_trip(phase, client, command, marker, timeout=3.0, nudges=200):
    """Times one command's reply, sent when the device is quiet and the bridge holds no old lines.

    The bridge takes one line from the device per arrival of data, so when several lines came in
    one read the later ones wait for the next arrival (by design). Such a late reply is let out by
    further commands and counted in late_replies; its time is not used. None unless on time."""
    end = time.monotonic() + max(1.0, min(30.0, phase.left()))
    if client.wait_consumed(end) is None:
        phase.fail("the bridge stopped reading its TCP client")
        return None
    if not projector_quiet(phase.args.projector_log, 0.15, end):
        phase.fail("the virtual projector never went quiet")
        return None
    # Lines are taken in order: a query answered on time, with nothing else coming out, leaves
    # nothing older waiting.
    for _ in range(8):
        start = client.mark()
        client.sock.sendall(b"op status ?\r\n")
        if client.wait_for(b"OP STATUS=1\r\n", start, 3.0):
            projector_quiet(phase.args.projector_log, 0.2, time.monotonic() + 10)
            if client.since(start) == b"OP STATUS=1\r\n":
                break
            continue
        phase.data["backlog_flushes"] = phase.data.get("backlog_flushes", 0) + 1
        if not release(phase, client, start, b"OP STATUS=1\r\n", nudges):
            phase.fail("the bridge never let out the device's answers (got %r)" % client.since(start)[-200:])
            return None
        client.wait_consumed(time.monotonic() + 10)
        projector_quiet(phase.args.projector_log, 0.15, time.monotonic() + 10)
    client.wait_consumed(time.monotonic() + 10)
    projector_quiet(phase.args.projector_log, 0.1, time.monotonic() + 10)
    start = client.mark()
    t0 = time.monotonic()
    client.sock.sendall(command)
    if client.wait_for(marker, start, timeout):
        return time.monotonic() - t0
    phase.data["late_replies"] = phase.data.get("late_replies", 0) + 1
    if not release(phase, client, start, marker, nudges):
        phase.fail("no %r after %r and %d more commands (got %r)" % (marker, command, nudges, client.since(start)[-200:]))
    return None


def junk_chunk(rng):
    """One chunk of hostile TCP bytes: random, NUL-laden, invalid UTF-8, "op "-prefixed, huge, markup."""
    kind = rng.random()
    if kind < 0.30:
        return bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 4096)))
    if kind < 0.45:
        body = bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz ?=.<>&;\t") for _ in range(rng.randint(0, 300)))
        return rng.choice([b"op ", b"OP ", b"Op  ", b" op "]) + body + rng.choice([b"", b"\r\n", b"\n", b"\r"])
    if kind < 0.55:
        return rng.choice([b"op model ?\0\xff junk", b"\0\0\0", b"op status ?\r\n\0op power = 0\r\n",
                           b"\xff\xfe\xc3\x28\xe2\x82\x28\xf0\x28\x8c\xbc\xed\xa0\x80\xf4\x90\x80\x80",
                           b"op \xc3\xa9t\xc3\xa9 ?\r\n", b"op \xe2\x82 ?\r\n", b"\r\n", b" \t \r\n \n"])
    if kind < 0.60:
        # A huge line: no line end for tens of kilobytes.
        head = rng.choice([b"op ", b"", b"OP LAMP="])
        return head + bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz0123456789 ") for _ in range(rng.randint(16384, 131072)))
    if kind < 0.75:
        text = rng.choice(MARKUP) if rng.random() < 0.8 else nested(rng.choice(["b", "div", "table", "list"]), rng.randint(10, 60))
        return (rng.choice(["op ", "", "op x = "]) + text + rng.choice(["", "\r\n"])).encode("utf-8")
    return rng.choice([b"op status ?\r\n", b"OP  Power ?\n", b"op input=HDMI2\r\n", b"op lamp ?\r", b"hello\r\n",
                       b"op %1 %2 ?\r\n", b"op ser.no=\r\n", b"op ?\r\n"])


def cmd_tcp_flood(args):
    phase = Phase(args, "tcp")
    rng = random.Random(args.seed)
    client = Client()
    sent = 0
    next_rtt = 0
    rtts, drains = [], []
    chunks = 0
    while sent < args.bytes and not phase.out_of_time() and not phase.failures:
        chunk = junk_chunk(rng)
        chunk = chunk[: args.bytes - sent] if sent + len(chunk) > args.bytes else chunk
        try:
            client.sock.sendall(chunk)
        except OSError as e:
            phase.fail("send failed after %d bytes: %s" % (sent, e))
            break
        sent += len(chunk)
        chunks += 1
        if sent >= next_rtt:
            drain = client.wait_consumed(time.monotonic() + min(30.0, max(1.0, phase.left())))
            if drain is None:
                phase.fail("the bridge stopped reading after %d bytes" % sent)
                break
            drains.append(drain)
            rtt = round_trip(phase, client, b"op ser.no ?\r\n", SERNO_REPLY)
            if rtt is not None:
                rtts.append(rtt)
            next_rtt = sent + args.rtt_every
    client.wait_consumed(time.monotonic() + 10)
    phase.data.update(bytes=sent, chunks=chunks, received=client.mark(), drain=stats(drains), command_rtt=stats(rtts))
    client.close()
    return phase.finish()


def current(sock, phase, i, name):
    """Makes sock prove it is the bridge's current client: its query is answered to it."""
    sock.settimeout(5)
    data = b""
    for attempt in range(20):
        sock.sendall(b"op model ?\r\n")
        end = time.monotonic() + (3 if attempt == 0 else 0.5)
        while MODEL_REPLY not in data and time.monotonic() < end:
            sock.settimeout(max(0.01, end - time.monotonic()))
            try:
                got = sock.recv(4096)
            except socket.timeout:
                continue
            except ConnectionResetError:
                got = b""
            if not got:
                return False  # closed by the bridge: an earlier client's leaving took it along
            data += got
        if MODEL_REPLY in data:
            return True
    phase.fail("cycle %d: client %s never got its answer" % (i, name))
    return False


def fight(phase, i):
    """A and B fight over the one current-client slot. B connects after A and becomes current; A
    talks (the bridge reads B instead, so nothing comes of it) and leaves; the bridge then closes
    its current client, which is B."""
    for _ in range(5):
        # Whoever left before must be seen off first: each leaving closes the current client.
        if not wait_settled(time.monotonic() + 10):
            phase.fail("cycle %d: the bridge never took in earlier clients leaving" % i)
        a = socket.create_connection(("127.0.0.1", TCP_PORT), timeout=5)
        if current(a, phase, i, "A"):
            break
        a.close()  # an earlier client's leaving closed it; try again
    else:
        phase.fail("cycle %d: no client stayed current" % i)
        return 0
    b = socket.create_connection(("127.0.0.1", TCP_PORT), timeout=5)
    ok = current(b, phase, i, "B")
    a.sendall(b"op status ?\r\n")
    a.settimeout(0.2)
    try:
        stray = a.recv(4096)
        if stray:
            phase.fail("cycle %d: the old client still gets replies: %r" % (i, stray[:80]))
    except socket.timeout:
        pass
    a.close()
    closed = 0
    if ok:
        b.settimeout(5)
        try:
            while True:
                got = b.recv(4096)
                if not got:
                    closed = 1
                    break
        except ConnectionResetError:
            closed = 1
        except socket.timeout as e:
            phase.fail("cycle %d: the current client was not closed when the other one left (%s)" % (i, e))
    b.close()
    return closed


def cmd_cycles(args):
    """Connect/close cycles of every kind, and two clients fighting over the one current-client slot."""
    phase = Phase(args, "cycles")
    rng = random.Random(args.seed)
    kinds = {}
    fights_closed = 0
    held = []
    for i in range(args.count):
        if phase.out_of_time() or len(phase.failures) > 5:
            break
        kind = rng.choice(["close", "reset", "send", "send-reset", "fight", "fight", "hold"])
        kinds[kind] = kinds.get(kind, 0) + 1
        try:
            if kind in ("close", "reset"):
                c = socket.create_connection(("127.0.0.1", TCP_PORT), timeout=5)
                if kind == "reset":
                    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                c.close()
            elif kind in ("send", "send-reset"):
                c = socket.create_connection(("127.0.0.1", TCP_PORT), timeout=5)
                c.sendall(rng.choice([b"op status ?\r\n", b"\0", b"junk\r\n", b"<b>" * 50, b"op model ?", b"\xff" * 7]))
                if kind == "send-reset":
                    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                c.close()
            elif kind == "hold":
                held.append(socket.create_connection(("127.0.0.1", TCP_PORT), timeout=5))
                if len(held) >= 40:
                    for c in held:
                        c.close()
                    held = []
            else:
                fights_closed += fight(phase, i)
        except OSError as e:
            phase.fail("cycle %d (%s): %s" % (i, kind, e))
    for c in held:
        c.close()
    phase.data.update(cycles=sum(kinds.values()), kinds=kinds, fights_closed=fights_closed)
    return phase.finish()


def cmd_markup(args):
    """Markup through the TCP text and through projector replies (keys the projector was given)."""
    phase = Phase(args, "markup")
    rng = random.Random(args.seed)
    client = Client()
    rtts = []
    texts = 0
    for round_ in range(args.rounds):
        if phase.out_of_time() or phase.failures:
            break
        for text in MARKUP + [nested(k, 300) for k in ("b", "div", "table", "list", "span", "a")]:
            raw = text.encode("utf-8")[:1000]
            client.sock.sendall(rng.choice([b"", b"op "]) + raw)
            texts += 1
            if client.wait_consumed(time.monotonic() + 20) is None:
                phase.fail("the bridge stopped reading markup at %r" % raw[:60])
                break
        # Markup the projector sends back: forwarded byte for byte, shown as text.
        for key in args.keys:
            expected = ("OP %s=%s\r\n" % (key.upper(), args.values[key])).encode("utf-8")
            rtt = round_trip(phase, client, ("op %s ?\r\n" % key).encode(), expected)
            if rtt is not None:
                rtts.append(rtt)
        # Markup stored through a setting and read back.
        value = rng.choice([m for m in MARKUP if m.isascii()])
        key = "m%d" % round_
        rtt = round_trip(phase, client, ("op %s = %s\r\n" % (key, value)).encode(), ("OP %s=%s\r\n" % (key.upper(), value)).encode())
        if rtt is not None:
            rtts.append(rtt)
    phase.data.update(texts=texts, reply_rtt=stats(rtts))
    client.close()
    return phase.finish()


def cmd_unplug(args):
    """Commands keep coming while the device goes away under the bridge (its process is stopped by PID)."""
    phase = Phase(args, "unplug")
    client = Client()
    reads = []
    sent = 0
    for i in range(args.count):
        if phase.out_of_time():
            break
        if i == args.unplug_at:
            os.kill(args.projector_pid, signal.SIGTERM)
            phase.data["unplugged_after_commands"] = sent
        client.sock.sendall(b"op status ?\r\n" if i % 2 else b"op lamp ?\r\n")
        sent += 1
        took = client.wait_consumed(time.monotonic() + 15)
        if took is None:
            phase.fail("command %d was never read by the bridge" % i)
            break
        reads.append(took)
        time.sleep(args.gap / 1000)
    phase.data.update(commands=sent, read_latency=stats(reads), received=client.mark())
    client.close()
    return phase.finish()


def cmd_command(args):
    """A fresh client, one command, exactly the expected bytes back (nothing before, nothing after)."""
    phase = Phase(args, "command")
    client = Client()
    if not wait_accepted(time.monotonic() + 5):
        phase.fail("the bridge did not accept the client")
    expected = args.expect.encode().decode("unicode_escape").encode("latin-1")
    if expected:
        # Lines the device said earlier may still wait in the bridge for an arrival of data; a first
        # command lets them out, so what follows the mark is the answer to the second one alone.
        round_trip(phase, client, b"op status ?\r\n", b"OP STATUS=1\r\n")
        for key in ("late_replies", "backlog_flushes", "nudges"):
            phase.data.pop(key, None)
        client.wait_consumed(time.monotonic() + 10)
        if not projector_quiet(args.projector_log, 0.2, time.monotonic() + 20):
            phase.fail("the virtual projector never went quiet")
    start = client.mark()
    t0 = time.monotonic()
    client.sock.sendall(args.send.encode().decode("unicode_escape").encode("latin-1"))
    if expected:
        if client.wait_for(expected, start, 10):
            phase.data["rtt_ms"] = round((time.monotonic() - t0) * 1000, 2)
        time.sleep(0.3)
        if client.since(start) != expected:
            phase.fail("wanted exactly %r, got %r" % (expected, client.since(start)[:300]))
    else:
        consumed = client.wait_consumed(time.monotonic() + 10)
        if consumed is None:
            phase.fail("the bridge did not read the command")
        else:
            phase.data["read_ms"] = round(consumed * 1000, 2)
    client.close()
    return phase.finish()


# --- UDP side -------------------------------------------------------------------------------------------

def load_counter(path):
    try:
        with open(path) as f:
            return int(f.read().strip() or 0)
    except FileNotFoundError:
        return 0


def save_counter(path, value):
    with open(path, "w") as f:
        f.write("%d\n" % value)


def non_probe(rng, markup):
    """A datagram that is not a probe ("?ZZ?" absent before the first zero byte), some of them near misses."""
    kind = rng.random()
    if kind < 0.08:
        data = rng.choice([b"?zz?", b"?ZZ", b"ZZ?", b"? ZZ?", b"\0?ZZ?", b"x\0?ZZ?", b"?Z\0Z?", b"", b"%1%2%3",
                           b"?\xef\xbc\x9fZZ?", b"\xff?ZZ\xff?"])
    elif kind < 0.5 or markup:
        text = rng.choice(MARKUP) if rng.random() < 0.85 else nested(rng.choice(["b", "div", "table", "list", "span"]), rng.randint(100, 2000))
        data = text.encode("utf-8")
    elif kind < 0.97:
        data = bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 1400)))
    else:
        data = bytes(rng.getrandbits(8) for _ in range(rng.randint(8000, 60000)))
    data = data[:65000]
    head = data.split(b"\0", 1)
    if b"ZZ" in head[0]:
        data = head[0].replace(b"Z", b"z") + (b"\0" + head[1] if len(head) > 1 else b"")
    return data


def probe(rng):
    before = bytes(rng.choice(b"abc <b>&;=%1") for _ in range(rng.randint(0, 40)))
    after = bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 40)))
    return rng.choice([b"?ZZ?", before + b" ?ZZ?" + after, b"?ZZ??ZZ?", b"?ZZ?\0trailing"])


def cmd_udp(args):
    phase = Phase(args, "udp" if not args.label else args.label)
    rng = random.Random(args.seed)
    counter = load_counter(args.state)
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", REPLY_PORT))
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.bind(("0.0.0.0", 0))
    sender6 = None
    if args.bridge6:
        sender6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
        sender6.bind(("::", 0))
    latencies = []
    sent = probes = 0
    sources = {}
    trap_hits = 0

    def send(data):
        if sender6 is not None and rng.random() < 0.05:
            sender6.sendto(data, (args.bridge6, UDP_PORT))
        else:
            sender.sendto(data, (args.bridge, UDP_PORT))

    while sent < args.count and not phase.out_of_time() and len(phase.failures) < 5:
        # A burst of other datagrams, then a probe; its reply tells the burst was read too.
        big = False
        for _ in range(rng.randint(0, 12)):
            if sent >= args.count - 1:
                break
            data = non_probe(rng, args.markup)
            if len(data) > 4000:
                if big:
                    continue
                big = True
            send(data)
            sent += 1
        data = probe(rng)
        t0 = time.monotonic()
        send(data)
        sent += 1
        probes += 1
        expected = ("ip=%s;mac=%s;model=KT5520M;serial=Tolvane-%d;" % (args.bridge, args.mac, counter)).encode()
        counter += 1
        end = t0 + args.reply_timeout
        reply = None
        while reply is None and time.monotonic() < end:
            if select.select([listener], [], [], max(0, end - time.monotonic()))[0]:
                reply, source = listener.recvfrom(65536)
                sources[source[1]] = sources.get(source[1], 0) + 1
        if reply is None:
            phase.fail("probe %d (%r) got no reply within %.0f s" % (probes, data[:40], args.reply_timeout))
            counter -= 1
            continue
        latencies.append(time.monotonic() - t0)
        if reply != expected:
            phase.fail("probe %d: wanted %r, got %r" % (probes, expected, reply))
            # Follow the bridge's own count so one miss does not turn into thousands.
            try:
                counter = int(reply.rsplit(b"-", 1)[1].rstrip(b";")) + 1
            except (IndexError, ValueError):
                pass
    # Nothing more may come: a late or extra reply means a non-probe was answered.
    while select.select([listener], [], [], 0.5)[0]:
        extra = listener.recvfrom(65536)[0]
        phase.fail("reply nobody asked for: %r" % extra)
    save_counter(args.state, counter)
    phase.data.update(datagrams=sent, probes=probes, next_counter=counter, reply_source_ports=sources,
                      probe_to_reply=stats(latencies))
    return phase.finish()


def cmd_trap(args):
    """Listens on the peer's trap port; any connection means markup made the bridge fetch a URL."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    host, port = TRAP.split(":")
    server.bind((host, int(port)))
    server.listen(16)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    end = time.monotonic() + args.budget
    with open(args.out, "a") as out:
        while time.monotonic() < end:
            if select.select([server], [], [], 1)[0]:
                conn, peer = server.accept()
                conn.settimeout(1)
                try:
                    head = conn.recv(512)
                except OSError:
                    head = b""
                out.write("connection from %s: %r\n" % (peer, head))
                out.flush()
                conn.close()
    return 0


def cmd_wait_listen(args):
    end = time.monotonic() + args.budget
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", TCP_PORT), timeout=1).close()
            # That connection is now the bridge's (closed) current client; let it see the close.
            wait_settled(end)
            return 0
        except OSError:
            time.sleep(0.05)
    print("  FAIL: nothing listens on TCP %d after %d s" % (TCP_PORT, args.budget))
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", help="append one JSON line per phase here")
    parser.add_argument("--budget", type=int, default=120, help="seconds this phase may take")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--projector-log", help="the virtual projector's --log file (to wait for quiet)")
    sub = parser.add_subparsers(dest="command", required=True)

    sub.add_parser("wait-listen")

    p = sub.add_parser("tcp-flood")
    p.add_argument("--bytes", type=int, default=1 << 20)
    p.add_argument("--rtt-every", type=int, default=64 * 1024)

    p = sub.add_parser("cycles")
    p.add_argument("--count", type=int, default=2000)

    p = sub.add_parser("markup")
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--set", action="append", default=[], help="KEY=VALUE the projector was given")

    p = sub.add_parser("unplug")
    p.add_argument("--count", type=int, default=200)
    p.add_argument("--unplug-at", type=int, default=50)
    p.add_argument("--projector-pid", type=int, required=True)
    p.add_argument("--gap", type=int, default=20, help="milliseconds between commands")

    p = sub.add_parser("command")
    p.add_argument("--send", required=True, help="bytes to send (Python escapes)")
    p.add_argument("--expect", default="", help="exact bytes back (Python escapes); empty: only check it was read")

    p = sub.add_parser("udp")
    p.add_argument("--count", type=int, default=10000)
    p.add_argument("--bridge", required=True)
    p.add_argument("--bridge6")
    p.add_argument("--mac", required=True)
    p.add_argument("--state", required=True, help="file holding the next expected reply counter")
    p.add_argument("--markup", action="store_true")
    p.add_argument("--reply-timeout", type=float, default=10.0)
    p.add_argument("--label")

    p = sub.add_parser("trap")
    p.add_argument("--out", required=True)

    args = parser.parse_args()
    if args.command == "markup":
        args.values = dict(kv.split("=", 1) for kv in args.set)
        args.keys = list(args.values)
    handler = {
        "wait-listen": cmd_wait_listen, "tcp-flood": cmd_tcp_flood, "cycles": cmd_cycles, "markup": cmd_markup,
        "command": cmd_command, "unplug": cmd_unplug, "udp": cmd_udp, "trap": cmd_trap,
    }[args.command]
    return handler(args)


if __name__ == "__main__":
    sys.exit(main())
