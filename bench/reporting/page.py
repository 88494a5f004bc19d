"""docs/PERFORMANCE.md: how the run was made, the targets, the tables and the notes."""
import os
import re

from reporting.load import BRIDGES, Rtt, text
from reporting.stats import STREAM_LIMIT_MS, WARMUP, each, med, ms, us

BORING = re.compile(r"exec\(|notify|processEvents|g_main|sendEvent|sendSpontaneousEvent|qt_static_metacall|activate|"
                    r"below main|^main|libc_start|sendPostedEvents|::event\(|viewportEvent|EventFilters|start_thread|clone|"
                    r"drawWidget|paintSiblingsRecursive|QEventDispatcher|_dl_")


def verdict(v):
    return v[1] if v[0] is None else ("met (%s)" % v[1]) if v[0] else "**missed** (%s)" % v[1]


def write(r, names, targets, floor, docs):
    run, meta, has_before, B, G, longs, disc, streams = r.run, r.meta, r.has_before, r.B, r.G, r.longs, r.disc, r.streams
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
    w(text(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "notes.md")))
    with open(os.path.join(docs, "PERFORMANCE.md"), "w") as f:
        f.write("\n".join(md) + "\n")
