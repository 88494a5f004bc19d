#!/usr/bin/env python3
"""Statistics and plots for one bench run (bench/out/<date>/): prints every target with "met" or
"missed" and writes docs/PERFORMANCE.md and docs/perf-*.svg.

usage: report.py RUN_DIR DOCS_DIR
"""
import glob
import math
import os
import re
import statistics
import sys

WARMUP = 10  # first commands of every run left out (connection set-up, cold caches)
SLOW_US = 20000
STREAM_LIMIT_MS = 50
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


def pct(values, p):
    """Nearest-rank percentile."""
    s = sorted(values)
    return s[max(0, min(len(s) - 1, int(round(p / 100.0 * len(s) + 0.5)) - 1))] if s else None


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def ratio(a, b):
    return a / b if a is not None and b else None


def us(v):
    if v is None:
        return "–"
    return "%.1f ms" % (v / 1e3) if v >= 1e4 else "%.2f ms" % (v / 1e3) if v >= 1e3 else "%.0f µs" % v


def each(values, fmt=str):
    return " / ".join(fmt(v) for v in values)


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


def rss_slope(samples, first=1000):
    """Resident growth per command in bytes, from command `first` on."""
    pts = [(x, y) for x, y in samples if x >= first and y > 0]
    return (pts[-1][1] - pts[0][1]) * 1024.0 / (pts[-1][0] - pts[0][0]) if len(pts) >= 2 and pts[-1][0] > pts[0][0] else None


# --- plots: plain SVG, no plotting package ---------------------------------------------------------

COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#d62728", "#8c564b"]


def ticks(lo, hi, log):
    if log:
        return [10.0 ** k for k in range(math.floor(math.log10(lo)), math.ceil(math.log10(hi)) + 1)]
    raw = (hi - lo) / 8 or 1
    step = next(m * 10 ** math.floor(math.log10(raw)) for m in (1, 2, 5, 10) if raw <= m * 10 ** math.floor(math.log10(raw)))
    return [k * step for k in range(math.ceil(lo / step), math.floor(hi / step) + 1)]


def decade(v):
    return "%g µs" % v if v < 1000 else "%g ms" % (v / 1000)


def svg(path, title, xlabel, ylabel, series, logx=False, xfmt=str, right=None):
    """series: (label, [(x, y)], right_axis); right: (label, formatter) for the right-hand axis."""
    W, H, L, R, T, B = 980, 480, 70, 260 if right is None else 290, 40, 50
    pts = lambda side: [p for _, s, r in series if r == side for p in s]
    xs = [x for x, _ in pts(False) + pts(True)]
    if not xs:
        return
    x0, x1 = (max(min(xs), 1.0), max(xs)) if logx else (0, max(xs))
    fx = (lambda x: math.log10(max(x, x0))) if logx else (lambda x: x)
    sx = lambda x: L + (fx(x) - fx(x0)) / ((fx(x1) - fx(x0)) or 1) * (W - L - R)
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">' % (W, H),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="22" font-size="14">%s</text>' % (L, title)]
    for side in (False, True):
        ys = [y for _, y in pts(side)]
        if not ys:
            continue
        top = max(ys) * 1.05 or 1
        sy = lambda y, top=top: H - B - y / top * (H - T - B)
        for y in ticks(0, top, False):
            if not side:
                out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ddd"/>' % (L, W - R, sy(y), sy(y)))
            label = (right[1] if side else "%g".__mod__)(round(y, 6))
            out.append('<text x="%d" y="%.1f" text-anchor="%s">%s</text>' % (W - R + 5 if side else L - 5, sy(y) + 4, "start" if side else "end", label))
        for k, (label, s, r) in enumerate(series):
            if r == side and s:
                d = " ".join("%.1f,%.1f" % (sx(x), sy(y)) for x, y in s)
                out.append('<polyline fill="none" stroke="%s" stroke-width="2"%s points="%s"/>' % (
                    COLOURS[k % len(COLOURS)], ' stroke-dasharray="6,4"' if r else "", d))
    for x in ticks(x0, x1, logx):
        if x0 <= x <= x1:
            out.append('<line x1="%.1f" x2="%.1f" y1="%d" y2="%d" stroke="#ddd"/>' % (sx(x), sx(x), T, H - B))
            out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (sx(x), H - B + 16, xfmt(x)))
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="black"/>' % (L, T, W - L - R, H - T - B))
    out.append('<text x="%d" y="%d" text-anchor="middle">%s</text>' % ((L + W - R) / 2, H - 12, xlabel))
    out.append('<text transform="translate(16,%d) rotate(-90)" text-anchor="middle">%s</text>' % ((T + H - B) / 2, ylabel))
    if right:
        out.append('<text transform="translate(%d,%d) rotate(90)" text-anchor="middle">%s</text>' % (W - R + 60, (T + H - B) / 2, right[0]))
    for k, (label, _, r) in enumerate(series):
        y = T + 16 + 20 * k
        out.append('<line x1="%d" x2="%d" y1="%d" y2="%d" stroke="%s" stroke-width="3"%s/><text x="%d" y="%d">%s</text>' % (
            W - R + (90 if right else 15), W - R + (115 if right else 40), y - 4, y - 4, COLOURS[k % len(COLOURS)],
            ' stroke-dasharray="6,4"' if r else "", W - R + (120 if right else 45), y, label))
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n</svg>\n")


# --- the report ------------------------------------------------------------------------------------

def main():
    run, docs = sys.argv[1], sys.argv[2]
    meta = dict(l.split("=", 1) for l in text(os.path.join(run, "meta.env")).splitlines() if "=" in l)
    has_before = "before" in meta
    B = {key: bridge(run, key) for key, _ in BRIDGES}
    G = {key: bridge(run, "gap-" + key) for key in ("socat", "linerelay", "tolvane-before", "tolvane-after")}
    longs = [Rtt(p) for p in glob.glob(os.path.join(run, "long-tolvane-after.rtt"))]
    disc = {b: [d for d in (discovery(p) for p in sorted(glob.glob(os.path.join(run, "discovery-%s.*.txt" % b)))) if d]
            for b in ("after", "before")}
    streams = {(b, m): stream(os.path.join(run, "stream-%s-%s.txt" % (b, m)))
               for b in ("after", "before") for m in ("markup", "quiet")}

    # Targets: (what, after's verdict, before's verdict), each verdict (met, text).
    def limit(value, bound, fmt="%.2f×"):
        return (None, "not measured") if value is None else (value <= bound, fmt % value)

    def zero_slow(b):
        e = B[b]["each"]
        if not e:
            return None, "not measured"
        slow, stalls = [s["slow"] for s in e], [s["stalls"] for s in e]
        return sum(slow) + sum(stalls) == 0, "over 20 ms %s, stalls %s" % (each(slow), each(stalls))

    def disc_target(b):
        d = disc[b]
        if not d:
            return None, "not measured"
        ok = all(x["replies"] == x["probes"] and x["in_order"] for x in d)
        tail = med([x["tail"] for x in d])
        ref = med([x["tail"] for x in disc["before"]]) if b == "after" and disc["before"] else None
        return (ok and (ref is None or tail <= ref),
                "replies %s of %d, %s; last probe → last reply %s%s" % (
                    each([x["replies"] for x in d]), d[0]["probes"],
                    "in order" if all(x["in_order"] for x in d) else "**out of order**", us(tail),
                    ", before's %s" % us(ref) if ref is not None else ""))

    def stream_target(b):
        s = streams[(b, "markup")]
        if not s:
            return None, "not measured"
        ok = s["answered"] == s["sent"] == s["ticks"] and s["late"] == 0 and s["replied"] == s["probes"]
        return ok, "answered %d of %d, max %s, %d over %d ms; probes replied %d of %d" % (
            s["answered"], s["ticks"], ms(s["max"]), s["late"], STREAM_LIMIT_MS, s["replied"], s["probes"])

    def long_targets():
        if not longs or not longs[0].index:
            return [(None, "not measured")] * 2
        lr = longs[0]
        last = lr.index[-1]
        w = min(1000, last // 3)
        early, late = pct(lr.window(w + 1, 2 * w), 50), pct(lr.window(last - w + 1, last), 50)
        slope = rss_slope(lr.rss)
        return [(ratio(late, early) is not None and ratio(late, early) <= 1.2,
                 "%.2f×: %s → %s, commands %d–%d against %d–%d" % (ratio(late, early) or 0, us(early), us(late), w + 1, 2 * w, last - w + 1, last)),
                limit(None if slope is None else slope / 1024, 3.0, "%.2f KB per command")]

    socat, socat_gap = B["socat"], G["socat"]
    flat, memory = long_targets()
    targets = []
    for b in ("tolvane-after", "tolvane-before") if has_before else ("tolvane-after",):
        short = b.split("-")[1]
        p99 = ratio(B[b]["p99"], socat["p99"])
        rows = [limit(ratio(B[b]["p50"], socat["p50"]), 1.5),
                (None, "not measured") if p99 is None else (p99 <= 3, "%.2f×; stretch 2×: %s" % (p99, "met" if p99 <= 2 else "missed")),
                zero_slow(b), limit(ratio(G[b]["p50"], socat_gap["p50"]), 1.5),
                flat if short == "after" else (None, "–"), memory if short == "after" else (None, "–"),
                disc_target(short), stream_target(short)]
        targets.append(rows)
    names = ["overhead p50 ≤ 1.5× socat-nodelay's (%s)" % us(socat["p50"]),
             "overhead p99 ≤ 3× socat-nodelay's (%s)" % us(socat["p99"]),
             "no stall and no command over 20 ms (socat: %s)" % each([s["slow"] for s in socat["each"]]),
             "with a 10 ms pause before each command: p50 ≤ 1.5× socat-nodelay's (%s)" % us(socat_gap["p50"]),
             "long run of %s commands: late p50 ≤ 1.2× early p50" % meta.get("long_count"),
             "long run: resident growth ≤ 3 KB per command, from command 1,000 on",
             "%s probes at four per millisecond: every one answered, counters in order, last reply no later than before's" % meta.get("probes"),
             "60 KB markup datagram every second: every `op model ?` answered within %d ms, every probe replied" % STREAM_LIMIT_MS]

    def reference():
        """The reference relay beside socat and Tolvane: how much of the overhead the rules on the wire and
        Qt's socket road account for, and how much Tolvane adds."""
        relay, relay_gap, tol, tol_gap = B["linerelay"], G["linerelay"], B["tolvane-after"], G["tolvane-after"]
        if relay["p50"] is None:
            return None
        f = lambda v: "–" if v is None else "%.2f×" % v
        return ("Qt line relay (reference): p50 %s, **%s socat-nodelay's** (%s with pauses), stalls %s; "
                "Tolvane's p50 is **%s the relay's** (%s with pauses)" % (
                    us(relay["p50"]), f(ratio(relay["p50"], socat["p50"])), f(ratio(relay_gap["p50"], socat_gap["p50"])),
                    each([s["stalls"] for s in relay["each"]]), f(ratio(tol["p50"], relay["p50"])),
                    f(ratio(tol_gap["p50"], relay_gap["p50"]))))

    def verdict(v):
        return v[1] if v[0] is None else ("met (%s)" % v[1]) if v[0] else "**missed** (%s)" % v[1]

    print("bench: targets (Tolvane, this build%s)" % ("; before: " + meta["before"] if has_before else ""))
    for k, name in enumerate(names):
        print("  %-8s %s: %s" % ({True: "met", False: "MISSED", None: "-"}[targets[0][k][0]], name.replace("`", ""),
                                  targets[0][k][1].replace("**", "")))
    floor = reference()
    if floor:
        print("bench: " + floor.replace("**", ""))

    # --- plots
    cdf = []
    for key, label in BRIDGES:
        ov = sorted(v for r in B[key]["runs"] for v in r.measured())
        step = max(1, len(ov) // 1500)
        if ov:
            cdf.append((label, [(max(v, 1.0), (k + 1) / len(ov)) for k, v in enumerate(ov) if k % step == 0 or k == len(ov) - 1], False))
    svg(os.path.join(docs, "perf-overhead-cdf.svg"), "Overhead per command (round trip minus the projector's own time), all runs",
        "overhead (log scale)", "fraction of commands", cdf, logx=True, xfmt=decade)
    if longs and longs[0].index:
        lr, growth = longs[0], []
        step = max(100, lr.index[-1] // 50)
        for start in range(1, lr.index[-1] + 1, step):
            vals = lr.window(start, start + step - 1)
            if vals:
                growth.append((start + step - 1, pct(vals, 50) / 1e3, pct(vals, 90) / 1e3))
        svg(os.path.join(docs, "perf-tolvane-growth.svg"), "Tolvane under Xvfb as the panes grow: overhead per %d commands, and resident memory" % step,
            "commands sent", "overhead (ms)", [("overhead p50", [(g[0], g[1]) for g in growth], False),
                                              ("overhead p90", [(g[0], g[2]) for g in growth], False),
                                              ("resident memory", [(x, kb / 1024) for x, kb in lr.rss], True)],
            right=("resident memory (MB)", lambda v: "%g" % v))

    # --- markdown
    md = []
    w = md.append
    w("# Performance\n")
    w("Tolvane measured beside the usual TCP-to-serial relays, each driving the same virtual projector "
      "(`virtual-projector --delay 2 --baud 115200`: it answers 2 ms after each command, its bytes paced as a "
      "UART sends them) on a pseudo-terminal, over loopback TCP, one bridge at a time, each in a network "
      "namespace of its own.\n")
    if meta.get("quick") == "1":
        w("> **Quick run**: development figures from short counts, not a reference measurement.\n")
    w("- Recorded **%s** by `%s`; this build: %s%s." % (meta.get("date"), meta.get("invocation", "").strip(), meta.get("after"),
                                                          "; before: %s" % meta["before"] if has_before else " (no `--before` build)"))
    w("- Machine: %s; %s; %s." % (meta.get("cpu"), meta.get("system"), meta.get("versions")))
    w("- Load average before and after the run: %s / %s. On a shared machine the figures are noisy: compare "
      "ratios within one run, and record the reference run on a quiet machine." % (meta.get("load_before"), meta.get("load_after", "?")))
    w("- Commands: `op status ?`, one at a time; %s per bridge and run, %s run(s); with several, tables show the "
      "median of the runs, per-run figures after it. The first %d commands of each run are warm-up and left out." % (
          meta.get("count"), meta.get("runs"), WARMUP))
    w("- To regenerate this page: `sudo bench/run.sh --before REV` (REV: the commit to compare with, built "
      "beside this one; about 25 minutes), on a quiet machine; `--quick` for a short development run.\n")
    w("## Targets\n")
    w("| target | %s |" % " | ".join(["Tolvane, this build"] + (["before"] if has_before else [])))
    w("|---|---|" + ("---|" if has_before else ""))
    for k, name in enumerate(names):
        w("| %s | %s |" % (name, " | ".join(verdict(t[k]) for t in targets)))
    w("")
    if floor:
        w("The floor these ratios stand on, from the same rounds: %s. The relay (`bench/linerelay.cpp`) is what a "
          "Qt bridge with Tolvane's rules on the wire does and nothing more: the command to the port at once, one "
          "line per notification from the port, the echo dropped, no window.\n" % floor)
    w("## Round trip and overhead per command\n")
    w("Overhead is the round trip the client sees minus the projector's own time for that command (its REPLY "
      "write time minus its CMD arrival, both CLOCK_MONOTONIC, from its `--log`): the bridge's whole cost in both "
      "directions. *To device* is client send → projector reads the command; *back* is projector writes the "
      "reply → client has it. A *stall* is a reply still missing 250 ms after its command: the client then sends "
      "the next one anyway, as a control program would retry, and times the late reply when it comes. socat and "
      "ser2net pass the projector's echo on; the client reads past it. Tolvane and the Qt line relay drop it.\n")

    def table(bs, labels):
        if not any(bs[key]["runs"] for key, _ in labels):
            return w("Not measured in this run.\n")
        several = lambda values, fmt: " (%s)" % each(values, fmt) if len(values) > 1 else ""
        w("| bridge | commands | overhead p50 | p99 | max | > 20 ms | stalls | to device p50 | back p50 | runs |")
        w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
        for key, label in labels:
            b = bs[key]
            if not b["runs"]:
                continue
            e = b["each"]
            notes = sorted({r.status for r in b["runs"]} | {"%d not paired with the log" % r.unpaired for r in b["runs"] if r.unpaired})
            w("| %s | %s | **%s**%s | %s%s | %s | %s | %s | %s | %s | %s |" % (
                label, each([s["n"] for s in e]), us(b["p50"]), several([s["p50"] for s in e], us), us(b["p99"]),
                several([s["p99"] for s in e], us), us(b["max"]), each([s["slow"] for s in e]), each([s["stalls"] for s in e]),
                us(b["out"]), us(b["back"]), ", ".join(notes)))
        w("")

    table(B, BRIDGES)
    w("![overhead CDF](perf-overhead-cdf.svg)\n")
    w("With a pause of 10 ms before each command (%s per run), so that what a bridge still does after one reply "
      "no longer delays the next command:\n" % meta.get("gap_count"))
    table(G, [(k, l) for k, l in BRIDGES if k in G])
    if longs and longs[0].index:
        lr = longs[0]
        s = lr.summary()
        w("## Long run\n")
        w("Tolvane under Xvfb, %d commands back to back: overhead p50 %s, p99 %s, max %s, %d over 20 ms, %d stalls (%s). "
          "Resident set (VmRSS) every 1,000 commands: %.1f MB → %.1f MB. Every command leaves five lines in the panes, "
          "which keep them by design.\n" % (len(lr.index), us(s["p50"]), us(s["p99"]), us(s["max"]), s["slow"], s["stalls"],
                                              lr.status, lr.rss[0][1] / 1024 if lr.rss else 0, lr.rss[-1][1] / 1024 if lr.rss else 0))
        w("![Tolvane as the panes grow](perf-tolvane-growth.svg)\n")
    w("## Discovery\n")
    w("Tolvane (offscreen, no serial port) in one network namespace, the prober in another across a veth pair: "
      "%s probes sent by unicast to UDP 35070 at four per millisecond, to a freshly started bridge each run; "
      "the replies go to the limited broadcast address, port 35069.\n" % meta.get("probes"))
    w("| build | replies | counters | probe → reply p50 | max | last probe → last reply |")
    w("|---|---:|---|---:|---:|---:|")
    for b in ("after", "before"):
        if disc[b]:
            d = disc[b]
            w("| %s | %s of %d | %s | %s | %s | %s%s |" % (
                "this build" if b == "after" else "before", each([x["replies"] for x in d]), d[0]["probes"],
                each(["in order" if x["in_order"] else "**out of order**" for x in d]), us(med([x["p50"] for x in d])),
                us(med([x["max"] for x in d])), us(med([x["tail"] for x in d])), " (%s)" % each([x["tail"] for x in d], us) if len(d) > 1 else ""))
    w("")
    w("## Markup datagrams\n")
    w("Once a second for %s s: a datagram of 60 KB of nested `<div>` to UDP 35070 (or none, for the quiet row), then "
      "20 ms later a probe and `op model ?` over TCP, which Tolvane answers itself as it has no serial port (offscreen): "
      "the time is the window's own. A command goes out only once the last one was answered.\n" % meta.get("stream_seconds"))
    w("| build | datagrams | commands answered | p50 | p99 | max | over %d ms | probes replied |" % STREAM_LIMIT_MS)
    w("|---|---|---:|---:|---:|---:|---:|---:|")
    for (b, m), s in streams.items():
        if s:
            w("| %s | %s | %d of %d | %s | %s | %s | %d | %d of %d |" % (
                "this build" if b == "after" else "before", "60 KB `<div>` each second" if m == "markup" else "none",
                s["answered"], s["ticks"], ms(s["p50"]), ms(s["p99"]), ms(s["max"]), s["late"], s["replied"], s["probes"]))
    w("")
    profile = text(os.path.join(run, "profile.txt"))
    if profile:
        done = Rtt(os.path.join(run, "profile.rtt")).commands or 1
        total = re.search(r"([0-9,]+) \(100.0%\)\s+PROGRAM TOTALS", profile)
        w("## Hot path profile\n")
        w("callgrind on Tolvane under Xvfb, counted from the first of %d commands to the last: %s instructions per "
          "command. Inclusive cost of the heaviest frames of the program and Qt (event-loop frames left out):\n" % (
              done, "{:,}".format(int(total.group(1).replace(",", "")) // done) if total else "?"))
        w("| inclusive | frame |")
        w("|---:|---|")
        shown = []
        for m in re.finditer(r"^\s*[0-9,]+ \(\s*([0-9.]+)%\)\s+\S+?:(.+?)(?: \[.*\])?$", profile, re.M):
            fn = re.sub(r"\(.*\)( const)?$", "()", re.sub(r"'\d+$", "", m.group(2).strip()))
            if fn not in shown and not fn.startswith("0x") and not BORING.search(fn) and float(m.group(1)) < 100:
                shown.append(fn)
                w("| %s%% | `%s` |" % (m.group(1), fn))
            if len(shown) >= 15:
                break
        w("")
    w(text(os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")))
    with open(os.path.join(docs, "PERFORMANCE.md"), "w") as f:
        f.write("\n".join(md) + "\n")
    print("bench: wrote %s/PERFORMANCE.md and its plots" % docs)


BORING = re.compile(r"exec\(|notify|processEvents|g_main|sendEvent|sendSpontaneousEvent|qt_static_metacall|activate|"
                    r"below main|^main|libc_start|sendPostedEvents|::event\(|viewportEvent|EventFilters|start_thread|clone|"
                    r"drawWidget|paintSiblingsRecursive|QEventDispatcher|_dl_")


def ms(v):
    return "–" if v is None else "%.1f ms" % v


if __name__ == "__main__":
    main()
