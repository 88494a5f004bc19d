"""Percentiles, medians and ratios, and how figures are written in the report."""
import statistics

WARMUP = 10  # first commands of every run left out (connection set-up, cold caches)
SLOW_US = 20000
STREAM_LIMIT_MS = 50


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


def ms(v):
    return "–" if v is None else "%.1f ms" % v


def rss_slope(samples, first=1000):
    """Resident growth per command in bytes, from command `first` on."""
    pts = [(x, y) for x, y in samples if x >= first and y > 0]
    return (pts[-1][1] - pts[0][1]) * 1024.0 / (pts[-1][0] - pts[0][0]) if len(pts) >= 2 and pts[-1][0] > pts[0][0] else None


def targets(r):
    """The targets, each with this build's and (with --before) the earlier build's verdict (met, text),
    and the reference relay's line (None when it was not measured)."""
    meta, has_before, B, G, longs, disc, streams = r.meta, r.has_before, r.B, r.G, r.longs, r.disc, r.streams

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

    return names, targets, reference()
