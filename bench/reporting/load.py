"""Reading one run's raw files (bench/out/<date>/): the control program's timings beside the projector's
event log, discovery bursts and the markup stream."""
import glob
import os

from types import SimpleNamespace

from reporting.stats import SLOW_US, STREAM_LIMIT_MS, WARMUP, med, pct

BRIDGES = [("socat", "socat, nodelay"), ("ser2net", "ser2net, nodelay, chardelay off"),
           ("ser2net-default", "ser2net, defaults"), ("linerelay", "Qt line relay (reference)"),
           ("tolvane-before", "Tolvane before, Xvfb"),
           ("tolvane-after", "Tolvane, Xvfb")]


def text(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().strip()
    except OSError:
        return ""


class Rtt:
    """One run of the control program: overhead per command (round trip minus the projector's own
    time) and its two halves, in µs, from the client's times and the projector's event log."""

    def __init__(self, path):
        self.name = path[:-4]
        rows = [[int(x) for x in l.split()] for l in text(path).splitlines() if l and not l.startswith("#")]
        cmds, replies = [], []
        for line in text(self.name + ".proj.log").splitlines():
            t, _, rest = line.partition(" ")
            kind, _, data = rest.partition(" ")
            if kind == "CMD" and data.strip() != "op status ?":
                break  # commands joined into one by the bridge: pairing by order ends here
            (cmds if kind == "CMD" else replies if kind == "REPLY" else []).append(int(t))
        self.status = text(self.name + ".status") or "not run"
        self.commands = len(rows)
        self.stalls = sum(1 for r in rows if r[3] and r[0] > WARMUP)
        self.unpaired = len(rows) - min(len(rows), len(cmds), len(replies))
        self.index, self.overhead, self.out, self.back = [], [], [], []
        for (i, sent, got, _), cmd, reply in zip(rows, cmds, replies):
            self.index.append(i)
            self.overhead.append((got - sent) / 1e3 - (reply - cmd))
            self.out.append(cmd - sent / 1e3)
            self.back.append(got / 1e3 - reply)
        self.rss = [tuple(int(x) for x in l.split()) for l in text(self.name + ".rss").splitlines()]

    def measured(self, values=None):
        return [v for i, v in zip(self.index, self.overhead if values is None else values) if i > WARMUP]

    def window(self, first, last):
        return [v for i, v in zip(self.index, self.overhead) if first <= i <= last]

    def summary(self):
        ov = self.measured()
        return {"n": len(ov), "p50": pct(ov, 50), "p99": pct(ov, 99), "max": max(ov) if ov else None,
                "slow": sum(v > SLOW_US for v in ov), "stalls": self.stalls,
                "out": pct(self.measured(self.out), 50), "back": pct(self.measured(self.back), 50)}


def bridge(run, prefix):
    """Every run of one bridge: the runs, their summaries, and the median of each figure."""
    runs = [Rtt(p[:-len("status")] + "rtt") for p in sorted(glob.glob(os.path.join(run, prefix + ".*.status")))]
    sums = [r.summary() for r in runs]
    return {"runs": runs, "each": sums, **{k: med([s[k] for s in sums]) for k in ("p50", "p99", "max", "out", "back")}}


def discovery(path):
    """A probe burst against a fresh bridge: probes, replies (by counter), in order, last probe to last reply."""
    sent, got = {}, []
    for line in text(path).splitlines():
        kind, a, b = line.split()
        if kind == "P":
            sent[int(a)] = int(b)
        else:
            got.append((int(a), int(b)))
    if not sent:
        return None
    counters = [c for c, _ in got]
    lat = [(t - sent[c]) / 1e3 for c, t in got if c in sent]
    return {"probes": len(sent), "replies": len(got), "in_order": counters == list(range(len(got))),
            "tail": (got[-1][1] - max(sent.values())) / 1e3 if got else None, "p50": pct(lat, 50),
            "max": max(lat) if lat else None}


def stream(path):
    rows = [[int(x) for x in l.split()] for l in text(path).splitlines() if l and not l.startswith("#")]
    if not rows:
        return None
    lat = [(r[2] - r[1]) / 1e6 for r in rows if r[1] >= 0 and r[2] >= 0]
    return {"ticks": len(rows), "sent": sum(r[1] >= 0 for r in rows), "answered": len(lat),
            "p50": pct(lat, 50), "p99": pct(lat, 99), "max": max(lat) if lat else None,
            "late": sum(v > STREAM_LIMIT_MS for v in lat), "probes": len(rows), "replied": sum(r[4] >= 0 for r in rows)}


def load(run):
    """Everything one run measured: B and G (each bridge back to back and with pauses), the long run,
    discovery bursts and markup streams by build, and the run's meta.env."""
    meta = dict(l.split("=", 1) for l in text(os.path.join(run, "meta.env")).splitlines() if "=" in l)
    has_before = "before" in meta
    B = {key: bridge(run, key) for key, _ in BRIDGES}
    G = {key: bridge(run, "gap-" + key) for key in ("socat", "linerelay", "tolvane-before", "tolvane-after")}
    longs = [Rtt(p) for p in glob.glob(os.path.join(run, "long-tolvane-after.rtt"))]
    disc = {b: [d for d in (discovery(p) for p in sorted(glob.glob(os.path.join(run, "discovery-%s.*.txt" % b)))) if d]
            for b in ("after", "before")}
    streams = {(b, m): stream(os.path.join(run, "stream-%s-%s.txt" % (b, m)))
               for b in ("after", "before") for m in ("markup", "quiet")}

    return SimpleNamespace(run=run, meta=meta, has_before=has_before, B=B, G=G, longs=longs, disc=disc, streams=streams)
