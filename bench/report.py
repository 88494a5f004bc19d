#!/usr/bin/env python3
"""Turns one bench run (bench/out/<date>/) into docs/PERFORMANCE.md and the docs/perf-*.png plots.

usage: report.py RUN_DIR DOCS_DIR
"""
import os
import re
import subprocess
import sys

WARMUP = 10  # first commands of every run left out of the tables (connection set-up, cold caches)
SLOW_US = 20000

BRIDGES = [
    ("floor", "poll() relay (floor)"),
    ("socat", "socat, nodelay"),
    ("ser2net-tuned", "ser2net, nodelay + chardelay off"),
    ("ser2net-default", "ser2net, defaults"),
    ("tolvane-offscreen", "Tolvane, offscreen"),
    ("tolvane-xvfb", "Tolvane, Xvfb"),
]


def read_meta(run):
    meta = {}
    with open(os.path.join(run, "meta.env")) as f:
        for line in f:
            if "=" in line:
                k, v = line.rstrip("\n").split("=", 1)
                meta[k] = v
    return meta


def pct(sorted_values, p):
    """Nearest-rank percentile of an ascending list."""
    if not sorted_values:
        return None
    k = max(0, min(len(sorted_values) - 1, int(round(p / 100.0 * len(sorted_values) + 0.5)) - 1))
    return sorted_values[k]


def median(values):
    return pct(sorted(values), 50)


def read_numbers(path, skip_comments=True):
    rows = []
    if not os.path.exists(path):
        return rows
    with open(path) as f:
        for line in f:
            if skip_comments and line.startswith("#"):
                continue
            parts = line.split()
            if parts:
                rows.append([int(x) for x in parts])
    return rows


def projector_times(path):
    """CMD arrival and REPLY write times (us) in order, from the virtual projector's event log."""
    cmds, replies = [], []
    if not os.path.exists(path):
        return cmds, replies
    with open(path, errors="replace") as f:
        for line in f:
            parts = line.split(" ", 2)
            if len(parts) < 2:
                continue
            if parts[1] == "CMD":
                if len(parts) > 2 and parts[2].strip() != "op status ?":
                    # Commands joined into one by the bridge: pairing by order ends here.
                    break
                cmds.append(int(parts[0]))
            elif parts[1] in ("REPLY", "REPLY\n"):
                replies.append(int(parts[0]))
    return cmds, replies


class Run:
    """One bridge's commands: round trip, device time, overhead and its two halves, in us."""

    def __init__(self, run, name):
        self.name = name
        rows = read_numbers(os.path.join(run, name + ".rtt"))
        cmds, replies = projector_times(os.path.join(run, name + ".proj.log"))
        self.status = read_text(os.path.join(run, name + ".status")) or "not run"
        self.retries = read_text(os.path.join(run, name + ".retries")) or "0"
        self.index, self.rtt, self.device, self.overhead, self.out, self.back = [], [], [], [], [], []
        self.stale = 0
        self.stalls = sum(1 for r in rows if len(r) > 3 and r[3])
        self.first_stall = next((r[0] for r in rows if len(r) > 3 and r[3]), None)
        n = min(len(rows), len(cmds), len(replies))
        self.commands = len(rows)
        self.unmatched = len(rows) - n
        for k in range(n):
            i, sent, got = rows[k][:3]
            rtt = (got - sent) / 1000.0
            dev = replies[k] - cmds[k]
            back = got / 1000.0 - replies[k]
            if back < 0:
                self.stale += 1
            self.index.append(i)
            self.rtt.append(rtt)
            self.device.append(dev)
            self.overhead.append(rtt - dev)
            self.out.append(cmds[k] - sent / 1000.0)
            self.back.append(back)
        rss = read_numbers(os.path.join(run, name + ".rss"))
        self.rss = [(r[0], r[1]) for r in rss if len(r) == 2 and r[1] > 0]

    def measured(self, values):
        return sorted(v for i, v in zip(self.index, values) if i > WARMUP)

    def window(self, first, last):
        return sorted(v for i, v in zip(self.index, self.overhead) if first <= i <= last)

    def summary(self):
        ov = self.measured(self.overhead)
        return {
            "n": len(ov),
            "rtt50": pct(self.measured(self.rtt), 50),
            "dev50": pct(self.measured(self.device), 50),
            "ov50": pct(ov, 50),
            "ov99": pct(ov, 99),
            "ovmax": ov[-1] if ov else None,
            "slow": sum(1 for v in ov if v > SLOW_US),
            "out50": pct(self.measured(self.out), 50),
            "back50": pct(self.measured(self.back), 50),
        }


def read_text(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return None


def us(v):
    if v is None:
        return "–"
    if abs(v) >= 10000:
        return "%.1f ms" % (v / 1000.0)
    if abs(v) >= 1000:
        return "%.2f ms" % (v / 1000.0)
    return "%.0f µs" % v


def ratio(a, b):
    if a is None or b in (None, 0):
        return None
    return a / b


def verdict(value, limit, fmt="%.2f×"):
    if value is None:
        return "not measured"
    if value <= limit:
        return "met (" + fmt % value + ")"
    return "**missed** (" + fmt % value + ", " + "%.0f%%" % ((value / limit - 1) * 100) + " over)"


def rss_growth(samples, skip_first=0):
    """Growth per step in bytes: total over the run, and the least-squares slope after skip_first."""
    if len(samples) < 2:
        return None, None
    (x0, y0), (x1, y1) = samples[0], samples[-1]
    total = (y1 - y0) * 1024.0 / (x1 - x0) if x1 > x0 else None
    pts = [(x, y) for x, y in samples if x >= skip_first]
    slope = None
    if len(pts) >= 3:
        mx = sum(x for x, _ in pts) / len(pts)
        my = sum(y for _, y in pts) / len(pts)
        sxx = sum((x - mx) ** 2 for x, _ in pts)
        if sxx > 0:
            slope = sum((x - mx) * (y - my) for x, y in pts) / sxx * 1024.0
    return total, slope


def kb(v):
    return "–" if v is None else "%.2f KB" % (v / 1024.0)


def write_series(path, rows):
    with open(path, "w") as f:
        for row in rows:
            f.write(" ".join(str(x) for x in row) + "\n")


def plot(run, docs, runs, tolvane):
    """CDF of overhead per bridge, p50/p99 bars, and Tolvane's cost and memory as the panes grow."""
    pdir = os.path.join(run, "plot")
    os.makedirs(pdir, exist_ok=True)
    cdf_lines, bars = [], []
    for key, label in BRIDGES:
        r = runs.get(key)
        if not r or not r.overhead:
            continue
        ov = r.measured(r.overhead)
        step = max(1, len(ov) // 2000)
        pts = [(max(v, 1.0), (k + 1) / len(ov)) for k, v in enumerate(ov) if k % step == 0 or k == len(ov) - 1]
        write_series(os.path.join(pdir, key + ".cdf"), pts)
        cdf_lines.append("'%s' using 1:2 with lines lw 2 title '%s'" % (os.path.join(pdir, key + ".cdf"), label))
        s = r.summary()
        if s["ov50"] is not None:
            bars.append((label.replace(" ", "\\n", 1).replace(",", ""), s["ov50"], s["ov99"]))
    write_series(os.path.join(pdir, "bars.dat"), [('"%s"' % b[0], "%.1f" % b[1], "%.1f" % b[2]) for b in bars])
    growth = []
    if tolvane and tolvane.overhead:
        w = 1000
        last = tolvane.index[-1]
        rss = dict(tolvane.rss)
        for start in range(1, last + 1, w):
            vals = tolvane.window(start, start + w - 1)
            if vals:
                growth.append((start + w - 1, "%.3f" % (pct(vals, 50) / 1000.0), "%.3f" % (pct(vals, 90) / 1000.0),
                               "%.2f" % (rss.get(start - 1 + w, rss.get(start - 1, 0)) / 1024.0)))
    write_series(os.path.join(pdir, "growth.dat"), growth)

    script = """
set terminal pngcairo size 1000,560 font 'Liberation Sans,11'
set output '{docs}/perf-overhead-cdf.png'
set title 'Bridge overhead per command (round trip minus the projector''s own time), {n} commands each'
set logscale x
set xlabel 'overhead (µs, log scale)'
set ylabel 'fraction of commands'
set key bottom right
set grid
set xrange [50:*]
set yrange [0:1]
plot {cdf}

set output '{docs}/perf-overhead-bars.png'
unset logscale x
set logscale y
set title 'Overhead p50 and p99 per bridge (log scale)'
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set xrange [*:*]
set yrange [50:*]
set ylabel 'overhead (µs)'
set xlabel ''
set key top left
set xtics font ',9'
set bmargin 5
plot '{pdir}/bars.dat' using 2:xtic(1) title 'p50', '' using 3 title 'p99'
""".format(docs=docs, pdir=pdir, cdf=", ".join(cdf_lines) or "1/0 notitle",
           n=max([len(r.overhead) for r in runs.values()] + [0]))
    if not bars:
        script = script[:script.index("set output '%s/perf-overhead-bars.png'" % docs)]
    if growth:
        script += """
set output '{docs}/perf-tolvane-growth.png'
unset logscale y
unset bmargin
set style data lines
set title 'Tolvane under Xvfb as the panes grow (long run): overhead per 1000 commands, and resident memory'
set xlabel 'commands sent'
set ylabel 'overhead (ms)'
set y2label 'resident memory (MB)'
set y2tics
set ytics nomirror
set yrange [0:*]
set y2range [0:*]
set xrange [0:*]
set xtics font ',11'
set key top left
plot '{pdir}/growth.dat' using 1:2 with lines lw 2 title 'overhead p50', \\
     '' using 1:3 with lines lw 1 title 'overhead p90', \\
     '' using 1:4 axes x1y2 with lines lw 2 dt 2 title 'resident memory (right)'
""".format(docs=docs, pdir=pdir)
    with open(os.path.join(pdir, "plots.gp"), "w") as f:
        f.write(script)
    try:
        subprocess.run(["gnuplot", os.path.join(pdir, "plots.gp")], check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        print("report: gnuplot failed: %s" % e, file=sys.stderr)


def top_frames(path, limit=15):
    """The heaviest lines of a perf report (percent, object, symbol), or callgrind's summary lines."""
    out = []
    text = read_text(path)
    if not text:
        return out
    for line in text.splitlines():
        m = re.match(r"\s*([0-9.]+)%\s+(\S+)\s+\[\.\]\s+(.*)", line) or re.match(r"\s*([0-9.]+)%\s+(\S+)\s+\[k\]\s+(.*)", line)
        if m:
            out.append((float(m.group(1)), m.group(2), m.group(3).strip()))
        if len(out) >= limit:
            break
    return out


BORING = re.compile(r"exec\(|notify|processEvents\(QFlags|g_main|sendEvent|sendSpontaneousEvent|0x0000|qt_static_metacall|"
                    r"QMetaObject::activate|\(below main\)|^main$|libc_start|sendPostedEvents|QWidget::event|QFrame::event|"
                    r"QMainWindow::event|QAbstractSlider::event|QScrollBar::event|viewportEvent|EventFilters|start_thread|clone|"
                    r"drawWidget|paintSiblingsRecursive|QEventLoop::processEvents|QEventDispatcherGlib")


def interesting(fn):
    return not BORING.search(fn) and not fn.startswith("(unnamed")


def callgrind_lines(path):
    """(instructions, percent, function) from callgrind_annotate output, heaviest first; recursion marks merged."""
    out, seen = [], set()
    text = read_text(path) or ""
    for line in text.splitlines():
        m = re.match(r"\s*([0-9,]+) \(\s*([0-9.]+)%\)\s+(.*?):(.+?)(?: \[(.*)\])?$", line)
        if not m or "PROGRAM TOTALS" in line:
            continue
        fn = re.sub(r"'\d+$", "", m.group(4).strip())
        fn = re.sub(r"\(.*\)( const)?$", "()", fn)
        if fn.startswith("0x"):
            fn = "(unnamed, %s)" % os.path.basename(m.group(5) or "?").split(".so")[0]
        if fn in seen and not fn.startswith("(unnamed"):
            continue
        seen.add(fn)
        out.append((int(m.group(1).replace(",", "")), float(m.group(2)), fn))
    return out


def callgrind_total(path):
    text = read_text(path) or ""
    m = re.search(r"([0-9,]+) \(100.0%\)\s+PROGRAM TOTALS", text)
    return int(m.group(1).replace(",", "")) if m else None


def main():
    run, docs = sys.argv[1], sys.argv[2]
    meta = read_meta(run)
    runs = {key: Run(run, key) for key, _ in BRIDGES}
    longs = {key: Run(run, key) for key in ("socat-long", "tolvane-long")}
    S = {k: r.summary() for k, r in runs.items()}
    socat = S["socat"]
    tolx = longs["tolvane-long"]
    plot(run, docs, runs, tolx)

    md = []
    w = md.append
    w("# Performance")
    w("")
    w("Tolvane measured beside the usual TCP-to-serial relays, all driving the same virtual projector "
      "(`virtual-projector --delay %s`) on a pseudo-terminal over loopback TCP, one bridge at a time, "
      "each in a network namespace of its own." % meta.get("delay_ms"))
    w("")
    if meta.get("quick") == "1":
        w("> **Quick run** (development figures, short counts): not a reference measurement.")
        w("")
    w("- Recorded: **%s**, by `%s` (commit %s)." % (meta.get("date"), meta.get("invocation").strip(), meta.get("commit")))
    w("- Machine: %s, %s cores, %s memory; %s, kernel %s; Qt %s, socat %s, ser2net %s." % (
        meta.get("cpu"), meta.get("cores"), meta.get("memory"), meta.get("os"), meta.get("kernel"),
        meta.get("qt"), meta.get("socat"), meta.get("ser2net")))
    w("- Load average before/after the run: %s / %s. Figures from a shared or busy machine are noisy: "
      "compare ratios within one run, and record the reference run on a quiet machine." % (
          meta.get("load_before"), meta.get("load_after", "?")))
    w("- Commands: `op status ?`, one at a time; %s per bridge side by side (projector delay %s ms), and "
      "%s in Tolvane's long run under Xvfb (delay %s ms). The first %d of each run are left out as warm-up." % (
          meta.get("compare_count"), meta.get("delay_ms"), meta.get("count"), meta.get("long_delay_ms"), WARMUP))
    w("")
    w("## Round trip and overhead per command")
    w("")
    w("Overhead is the round trip seen by the client minus the projector's own time for that command "
      "(its REPLY write time minus its CMD arrival time, both CLOCK_MONOTONIC, from `--log`). It is the "
      "bridge's whole cost, both directions: *to device* is client send → projector reads the command, "
      "*back* is projector writes the reply → client has the line.")
    w("")
    w("| bridge | commands | round trip p50 | device p50 | overhead p50 | overhead p99 | overhead max | > 20 ms | stalls | to device p50 | back p50 | run |")
    w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for key, label in BRIDGES:
        s, r = S[key], runs[key]
        state = r.status
        if r.retries not in ("0", None):
            state += " (rerun %s× after a stall)" % r.retries
        if r.stale:
            state += ", %d stale replies" % r.stale
        if r.unmatched:
            state += ", last %d not paired with the device's log (commands joined)" % r.unmatched
        w("| %s | %d | %s | %s | **%s** | %s | %s | %d | %d | %s | %s | %s |" % (
            label, s["n"], us(s["rtt50"]), us(s["dev50"]), us(s["ov50"]), us(s["ov99"]), us(s["ovmax"]),
            s["slow"], r.stalls, us(s["out50"]), us(s["back50"]), state))
    w("")
    w("![overhead CDF](perf-overhead-cdf.png)")
    w("")
    w("![overhead p50 and p99](perf-overhead-bars.png)")
    w("")
    w("socat, ser2net and the relay pass the projector's echo line (`op status ?`) on to the client; the "
      "client reads past every line that does not begin with `OP ` and times the reply line. Tolvane drops "
      "the echo itself.")
    w("")

    w("The projector sends its bytes one at a time at the line speed (`--baud %s`), as a UART delivers them. "
      "A *stall* is a reply still missing 250 ms after its command: the client then sends the next command "
      "anyway, as a control program would retry, and the late reply is timed when it comes (replies answer "
      "the oldest open command, in order)." % meta.get("baud"))
    w("")
    # --- targets ---------------------------------------------------------------------------------
    w("## Targets")
    w("")
    w("Side by side (projector delay %s ms, %s commands each):" % (meta.get("delay_ms"), meta.get("compare_count")))
    w("")
    w("| target | Tolvane, Xvfb | Tolvane, offscreen |")
    w("|---|---|---|")
    rows = []
    for key in ("tolvane-xvfb", "tolvane-offscreen"):
        s = S[key]
        rows.append((ratio(s["ov50"], socat["ov50"]), ratio(s["ov99"], socat["ov99"]), s["slow"], s["n"]))
    w("| overhead p50 ≤ 1.5× socat-nodelay's (%s) | %s | %s |" % (us(socat["ov50"]), verdict(rows[0][0], 1.5), verdict(rows[1][0], 1.5)))
    w("| overhead p99 ≤ 2× socat-nodelay's (%s) | %s | %s |" % (us(socat["ov99"]), verdict(rows[0][1], 2.0), verdict(rows[1][1], 2.0)))

    def slow_text(n, total):
        return ("met (0 of %d)" % total) if n == 0 else "**missed** (%d of %d)" % (n, total)

    w("| no command above 20 ms | %s | %s |" % (slow_text(rows[0][2], rows[0][3]), slow_text(rows[1][2], rows[1][3])))

    lr = longs["tolvane-long"]
    ls_ = longs["socat-long"]
    if lr.index:
        last = lr.index[-1]
        win = min(1000, last // 4)
        fa = pct(lr.window(win + 1, 2 * win), 50)
        fb = pct(lr.window(last - win + 1, last), 50)
        flat = (fa, fb, ratio(fb, fa), "commands %d–%d vs %d–%d" % (win + 1, 2 * win, last - win + 1, last))
    else:
        flat = (None, None, None, "")
    mem_long = rss_growth(lr.rss, skip_first=1000)
    after = [(x, y) for x, y in lr.rss if x >= 1000]
    steady = (after[-1][1] - after[0][1]) * 1024.0 / (after[-1][0] - after[0][0]) if len(after) >= 2 and after[-1][0] > after[0][0] else None
    w("")
    w("Long run (Tolvane under Xvfb, %s commands, projector delay %s ms):" % (meta.get("count"), meta.get("long_delay_ms")))
    w("")
    w("| target | result |")
    w("|---|---|")
    w("| flat cost as the panes grow: late p50 ≤ 1.2× early p50 | %s (%s → %s; %s) |" % (
        verdict(flat[2], 1.2), us(flat[0]), us(flat[1]), flat[3]))
    w("| resident growth per command ≤ 3 KB, from command 1,000 on | %s (%s per command; %s counting from the first command, "
      "whose first paints load fonts and the backing store) |" % (
        verdict(None if steady is None else steady / 1024.0, 3.0, "%.2f KB"), kb(steady), kb(mem_long[0])))
    sl, sc = lr.summary(), ls_.summary()
    w("| overhead p50 ≤ 1.5× socat-nodelay's at the same delay (%s) | %s (%s) |" % (
        us(sc["ov50"]), verdict(ratio(sl["ov50"], sc["ov50"]), 1.5), us(sl["ov50"])))
    w("| overhead p99 ≤ 2× socat-nodelay's at the same delay (%s) | %s (%s) |" % (
        us(sc["ov99"]), verdict(ratio(sl["ov99"], sc["ov99"]), 2.0), us(sl["ov99"])))
    w("| no command above 20 ms | %s; %d stalls |" % (slow_text(sl["slow"], sl["n"]), lr.stalls))
    w("")
    w("| run | commands | overhead p50 | p99 | max | > 20 ms | stalls | run |")
    w("|---|---:|---:|---:|---:|---:|---:|---|")
    for r, label in ((ls_, "socat, nodelay"), (lr, "Tolvane, Xvfb")):
        x = r.summary()
        w("| %s | %d | %s | %s | %s | %d | %d | %s |" % (label, x["n"], us(x["ov50"]), us(x["ov99"]), us(x["ovmax"]),
                                                    x["slow"], r.stalls, r.status))
    w("")
    gaps = [(Run(run, "socat-gap"), "socat, nodelay"), (Run(run, "tolvane-gap"), "Tolvane, Xvfb")]
    if any(r.commands for r, _ in gaps):
        w("With a pause of %s ms before each command (projector delay %s ms), so that what the bridge still does "
          "after one reply (logging, painting) no longer delays the next command:" % (meta.get("gap_ms"), meta.get("delay_ms")))
        w("")
        w("| run | commands | overhead p50 | p99 | max | > 20 ms | stalls | to device p50 | back p50 |")
        w("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        for r, label in gaps:
            x = r.summary()
            w("| %s | %d | %s | %s | %s | %d | %d | %s | %s |" % (label, x["n"], us(x["ov50"]), us(x["ov99"]), us(x["ovmax"]),
                                                              x["slow"], r.stalls, us(x["out50"]), us(x["back50"])))
        g0, g1 = gaps[0][0].summary(), gaps[1][0].summary()
        w("")
        w("Ratios with the pause: p50 %s, p99 %s." % (
            "%.2f×" % ratio(g1["ov50"], g0["ov50"]) if ratio(g1["ov50"], g0["ov50"]) else "–",
            "%.2f×" % ratio(g1["ov99"], g0["ov99"]) if ratio(g1["ov99"], g0["ov99"]) else "–"))
        w("")
    if tolx.overhead:
        w("![Tolvane as the panes grow](perf-tolvane-growth.png)")
        w("")
    mem = {"tolvane-long": mem_long}

    # --- memory ----------------------------------------------------------------------------------
    w("## Memory")
    w("")
    w("Resident set (VmRSS from `/proc/<pid>/status`) sampled every 1,000 commands. Every command puts five "
      "HTML lines in the panes (network pane: `TCP>` and the reply; serial pane: `>`, `>>>` and the reply), "
      "which the panes keep by design. The floor is `bench/paneflood`: two bare `QPlainTextEdit`s taking the "
      "same five lines per command under Xvfb, with nothing else.")
    w("")
    w("| process | commands | RSS at start | RSS at end | growth per command from the start | slope after 1,000 | peak (VmHWM) |")
    w("|---|---:|---:|---:|---:|---:|---:|")
    for key, label in (("tolvane-long", "Tolvane, Xvfb (long run)"),):
        r = longs[key]
        if len(r.rss) >= 2:
            hwm = read_text(os.path.join(run, key + ".hwm")) or ""
            hwm = re.sub(r"VmHWM:\s*", "", hwm)
            total, slope = mem[key]
            w("| %s | %d | %.1f MB | %.1f MB | %s | %s | %s |" % (label, r.rss[-1][0], r.rss[0][1] / 1024.0, r.rss[-1][1] / 1024.0,
                                                             kb(total), kb(slope), hwm))
    for name, label in (("paneflood", "bare QPlainTextEdit panes (floor)"), ("paneflood-noundo", "bare panes, undo history off")):
        rows_ = read_numbers(os.path.join(run, name + ".txt"))
        if len(rows_) >= 2:
            samples = [(r_[0], r_[1]) for r_ in rows_]
            total, slope = rss_growth(samples, skip_first=1000)
            secs = rows_[-1][2] / 1e9
            w("| %s | %d | %.1f MB | %.1f MB | %s | %s | (%.1f µs per command) |" % (
                label, rows_[-1][0], rows_[0][1] / 1024.0, rows_[-1][1] / 1024.0, kb(total), kb(slope),
                secs * 1e6 / max(1, rows_[-1][0])))
    w("")

    # --- connect/close cycles ---------------------------------------------------------------------
    cyc = read_numbers(os.path.join(run, "cycles.txt"))
    w("## Connect/close cycles")
    w("")
    if len(cyc) >= 2:
        total, slope = rss_growth([(c[0], c[1]) for c in cyc])
        w("%d cycles (connect, close; every 100th cycle one command and its reply, then an RSS sample) against "
          "Tolvane offscreen: RSS %.1f MB → %.1f MB, **%s per cycle** (slope %s). The bridge keeps every accepted "
          "socket until it ends, by design." % (cyc[-1][0], cyc[0][1] / 1024.0, cyc[-1][1] / 1024.0,
                                                 "%.0f bytes" % total if total is not None else "–",
                                                 "%.0f bytes" % slope if slope is not None else "–"))
    else:
        w("Not measured in this run.")
    w("")

    # --- discovery ------------------------------------------------------------------------------
    w("## Discovery burst")
    w("")
    w("Tolvane (offscreen) in one network namespace, the prober in another, joined by a veth pair. Burst: "
      "%s probes sent back to back by unicast to UDP 35070, replies (limited broadcast to 35069) collected. "
      "One at a time: the next probe only after the reply to the last." % meta.get("probes"))
    w("")
    w("| mode | probes | replies | counters | probe → reply p50 | p99 | max |")
    w("|---|---:|---:|---|---:|---:|---:|")
    for mode, label in (("burst", "burst"), ("seq", "one at a time")):
        rows_ = read_numbers(os.path.join(run, "discovery-%s.txt" % mode))
        if not rows_:
            w("| %s | – | – | not measured | – | – | – |" % label)
            continue
        got = [r_ for r_ in rows_ if r_[2] > 0]
        counters = [r_[3] for r_ in got]
        lat = sorted((r_[2] - r_[1]) / 1000.0 for r_ in got)
        if mode == "burst":
            probes = int(meta.get("probes", 0))
            expect = list(range(len(counters)))
            if counters == list(range(probes)):
                ctext = "0..%d in order" % (probes - 1)
            elif counters == expect:
                ctext = "0..%d in order, then none" % (len(counters) - 1)
            else:
                inorder = all(b > a for a, b in zip(counters, counters[1:]))
                ctext = "%s, %s" % ("rising" if inorder else "**out of order**",
                                   "from %s to %s" % (counters[0], counters[-1]) if counters else "none")
        else:
            probes = len(rows_)
            ctext = "%s..%s" % (counters[0], counters[-1]) if counters else "none"
        w("| %s | %d | %d | %s | %s | %s | %s |" % (label, probes, len(got), ctext, us(pct(lat, 50)), us(pct(lat, 99)),
                                                   us(lat[-1] if lat else None)))
    w("")

    def snmp(path):
        text = read_text(path) or ""
        lines = [l.split() for l in text.splitlines() if l.startswith("Udp:")]
        if len(lines) >= 2:
            return dict(zip(lines[0][1:], (int(v) for v in lines[1][1:])))
        return {}
    before, after_ = snmp(os.path.join(run, "discovery-snmp-before.txt")), snmp(os.path.join(run, "discovery-snmp-after.txt"))
    if before and after_:
        w("During the burst the kernel turned away %d datagrams at the bridge's UDP socket (RcvbufErrors; "
          "receive buffer %s bytes by default here)." % (
              after_.get("RcvbufErrors", 0) - before.get("RcvbufErrors", 0), read_text(os.path.join(run, "discovery-rmem.txt")) or "?"))
        w("")

    # --- start-up -------------------------------------------------------------------------------
    w("## Start-up")
    w("")
    w("From fork/exec to the first accepted TCP connection, Tolvane offscreen with its serial port on the "
      "projector, beside ser2net (defaults) on the same line.")
    w("")
    w("| program | starts | p50 | min | max |")
    w("|---|---:|---:|---:|---:|")
    for name, label in (("startup-tolvane", "Tolvane (TCP 7000)"), ("startup-ser2net", "ser2net")):
        rows_ = read_numbers(os.path.join(run, name + ".txt"))
        vals = sorted(r_[1] / 1000.0 for r_ in rows_)
        if vals:
            w("| %s | %d | %s | %s | %s |" % (label, len(vals), us(pct(vals, 50)), us(vals[0]), us(vals[-1])))
        else:
            w("| %s | 0 | – | – | – |" % label)
    w("")

    # --- profile --------------------------------------------------------------------------------
    w("## Hot path profile")
    w("")
    frames = top_frames(os.path.join(run, "profile.txt"))
    dsos = top_frames(os.path.join(run, "profile-dso.txt"), 8)
    profiler = meta.get("profiler")
    if profiler == "perf" and frames:
        w("`perf record -e cpu-clock` (software clock: this machine has no hardware counters) on Tolvane under "
          "Xvfb during a run of the same commands; self time, heaviest symbols first.")
        w("")
        w("| self | object | symbol |")
        w("|---:|---|---|")
        for p, obj, sym in frames:
            w("| %.1f%% | %s | `%s` |" % (p, obj, sym.replace("|", "\\|")[:110]))
        w("")
        if dsos:
            w("By object: " + ", ".join("%s %.1f%%" % (d[1] if d[1] != "[.]" else d[2], d[0]) for d in dsos) + ".")
            w("")
    elif profiler == "callgrind":
        inc = callgrind_lines(os.path.join(run, "profile-children.txt"))
        own = callgrind_lines(os.path.join(run, "profile.txt"))
        total = callgrind_total(os.path.join(run, "profile-children.txt"))
        done = len(read_numbers(os.path.join(run, "profile.rtt")))
        w("valgrind callgrind on Tolvane under Xvfb: instructions counted from the first command to the last "
          "of %d commands (start-up left out; this machine has no hardware counters for perf). "
          "%s instructions in all, **%s per command**." % (
              done, "{:,}".format(total) if total else "?",
              "{:,}".format(total // done) if total and done else "?"))
        w("")
        w("Inclusive cost of the frames that matter (a frame's share includes everything it calls; "
          "the event loop's own frames are left out):")
        w("")
        w("| inclusive | per command | frame |")
        w("|---:|---:|---|")
        for ir, share, fn in [x for x in inc if interesting(x[2]) and x[1] <= 100.0][:20]:
            w("| %.1f%% | %s | `%s` |" % (share, "{:,}".format(ir // done) if done else "?", fn))
        w("")
        w("Heaviest functions by their own cost:")
        w("")
        w("| self | function |")
        w("|---:|---|")
        for ir, share, fn in own[:10]:
            w("| %.1f%% | `%s` |" % (share, fn))
        w("")
    else:
        w("No profile in this run.")
        w("")
    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")
    if os.path.exists(notes):
        w(read_text(notes))
        w("")
    w("## How to reproduce")
    w("")
    w("`sudo bench/run.sh` (root: network namespaces). It installs what it lacks (socat, ser2net, gnuplot, "
      "Xvfb; perf or valgrind if available), builds Tolvane (RelWithDebInfo) and the bench programs into "
      "`build/`, runs every scenario and rewrites this page and its plots; raw results go to `bench/out/`. "
      "`--quick` gives a short development run. The virtual projector and the load client run at real-time "
      "priority where the system allows it, so that the bridges, not the stand-ins, are measured.")
    w("")
    with open(os.path.join(docs, "PERFORMANCE.md"), "w") as f:
        f.write("\n".join(md))


if __name__ == "__main__":
    main()
