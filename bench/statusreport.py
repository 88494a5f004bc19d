#!/usr/bin/env python3
"""The status endpoint's figures from one bench/status.sh run: prints every target with "met" or
"missed" and writes docs/PERFORMANCE-status.md.

usage: statusreport.py RUN_DIR DOCS_DIR
"""
import glob
import json
import os
import sys

from reporting.load import Rtt, text
from reporting.stats import WARMUP, med, pct, us

STATUS_P99_MS = 50
RATIO_CHANGE = 0.05
HOSTILE_MS = 100


def env(path):
    return dict(l.split("=", 1) for l in text(path).splitlines() if "=" in l)


def counters(run):
    """(rows of counter, expected, got, equal), notes, status) or None when the scenario did not run."""
    if not os.path.exists(os.path.join(run, "counters.expected")):
        return None
    expected, notes = [], {}
    for line in text(os.path.join(run, "counters.expected")).splitlines():
        kind, name, value = line.split(" ", 2)
        (expected.append((name, value)) if kind == "expect" else notes.__setitem__(name, value))
    try:
        got = json.loads(text(os.path.join(run, "counters.json")))
    except ValueError:
        got = {}
    rows = []
    for name, value in expected:
        have = got.get(name, "absent")
        shown = "null" if have is None else str(have)
        rows.append((name, value, shown, shown == value))
    return rows, notes, text(os.path.join(run, "counters.status"))


def scrape(path):
    rows = [[int(x) for x in l.split()] for l in text(path).splitlines() if l and not l.startswith("#")]
    took = [r[1] / 1e3 for r in rows]  # µs
    return {"n": len(rows), "failed": sum(1 for r in rows if r[2] != 200), "p50": pct(took, 50), "p99": pct(took, 99),
            "max": max(took) if took else None}


def pairs(run):
    """Per round: socat and Tolvane overhead p50, alone and with the /metrics scraper."""
    rounds = sorted({os.path.basename(p).split(".")[1] for p in glob.glob(os.path.join(run, "service-plain.*.rtt"))},
                    key=int)
    out = []
    for r in rounds:
        row = {"round": r}
        for kind in ("plain", "metrics"):
            socat = Rtt(os.path.join(run, "socat.%s%s.rtt" % (kind, r))).summary()
            tolvane = Rtt(os.path.join(run, "service-%s.%s.rtt" % (kind, r))).summary()
            row[kind] = (socat["p50"], tolvane["p50"], tolvane["p50"] / socat["p50"] if socat["p50"] and tolvane["p50"] else None,
                         tolvane["stalls"])
        metrics = os.path.join(run, "service-metrics.%s.scrape" % r)
        row["scrapes"] = scrape(metrics) if os.path.exists(metrics) else None
        out.append(row)
    return out


def hostile(run):
    facts = {}
    for line in text(os.path.join(run, "hostile.txt")).splitlines():
        k, _, v = line.partition(" ")
        facts[k] = float(v)
    rows = [[int(x) for x in l.split()] for l in text(os.path.join(run, "hostile.rtt")).splitlines()
            if l and not l.startswith("#")]
    if not facts or not rows:
        return None
    start, end = facts["start_ns"], facts["end_ns"]
    during = [(got - sent) / 1e3 for i, sent, got, _ in rows if i > WARMUP and start <= sent <= end]
    later = [(got - sent) / 1e3 for i, sent, got, _ in rows if sent > end]
    cpu = {}  # thread: CPU seconds during the attack
    for line in text(os.path.join(run, "hostile.cpu")).splitlines():
        when, secs, thread = line.split(" ", 2)
        cpu[thread] = cpu.get(thread, 0) + (float(secs) if when == "after" else -float(secs))
    after = os.path.join(run, "hostile.after.scrape")
    return {"facts": facts, "during": during, "later": later, "cpu": cpu, "after": scrape(after) if os.path.exists(after) else None, "covered": rows[-1][1] >= end, "status": text(os.path.join(run, "hostile.status"))}


def spread(values):
    values = [v for v in values if v is not None]
    return "%.2f–%.2f" % (min(values), max(values)) if values else "–"


def main():
    run, docs = sys.argv[1], sys.argv[2]
    meta = env(os.path.join(run, "status-meta.env"))
    targets = []  # (name, verdict or None, detail)

    c = counters(run)
    if c:
        rows, notes, status = c
        equal = sum(ok for *_, ok in rows)
        detail = "%d of %d equal" % (equal, len(rows))
        if "failure" in notes:
            detail += "; the generator stopped: %s" % notes["failure"]
        targets.append(("every counter of `/status` equals the generator's count", equal == len(rows) and "failure" not in notes, detail))

    scrapes = [scrape(p) for p in sorted(glob.glob(os.path.join(run, "service-status.*.scrape")))]
    if scrapes:
        p99 = max(s["p99"] for s in scrapes if s["p99"] is not None)
        failed = sum(s["failed"] for s in scrapes)
        targets.append(("`/status` answers within %d ms at p99 while commands flow back to back" % STATUS_P99_MS,
                        p99 <= STATUS_P99_MS * 1e3 and not failed,
                        "p99 %s (worst round), %d of %d requests unanswered" % (us(p99), failed, sum(s["n"] for s in scrapes))))

    ps = pairs(run)
    plain = med([p["plain"][2] for p in ps])
    metrics = med([p["metrics"][2] for p in ps])
    change = metrics / plain - 1 if plain and metrics else None
    if ps:
        targets.append(("a scraper on `/metrics` every 100 ms changes the overhead ratio against socat-nodelay by at most %d %%" % (RATIO_CHANGE * 100),
                        change is not None and abs(change) <= RATIO_CHANGE,
                        "%.2f× alone, %.2f× scraped: %+.1f %% (medians of %d rounds; from round to round %s× and %s×)" % (
                            plain, metrics, change * 100, len(ps), spread([p["plain"][2] for p in ps]),
                            spread([p["metrics"][2] for p in ps])) if change is not None else "not measured"))

    h = hostile(run)
    if h:
        f, d = h["facts"], h["during"]
        late = sum(v > HOSTILE_MS * 1e3 for v in d)
        later = sum(v > HOSTILE_MS * 1e3 for v in h["later"])
        targets.append(("during the hostile clients every TCP command is answered within %d ms" % HOSTILE_MS,
                        bool(d) and not late and h["covered"],
                        "%d commands, max %s, %d over %d ms (%.1f %%); in the 10 s after the attack %d of %d (%.1f %%)%s" % (
                            len(d), us(max(d) if d else None), late, HOSTILE_MS, 100.0 * late / max(1, len(d)), later,
                            len(h["later"]), 100.0 * later / max(1, len(h["later"])),
                            "" if h["covered"] else "; the commands ended before the attack did")))
        rec, a = f.get("recovered_s", -1), h["after"]
        targets.append(("the endpoint serves again afterwards", rec >= 0 and a is not None and a["n"] and not a["failed"],
                        ("first answer %.0f ms after the attack" % (rec * 1e3) if rec >= 0 else "no answer within 15 s")
                        + ("; then %d of %d requests answered, p99 %s" % (a["n"] - a["failed"], a["n"], us(a["p99"])) if a else "")))

    print("bench: status endpoint targets")
    for name, ok, detail in targets:
        print("  %-8s %s: %s" % ("met" if ok else "MISSED", name.replace("`", ""), detail))

    md = []
    w = md.append
    w("# The status endpoint under load\n")
    w("Tolvane in service mode with `--status-port 7080` on the virtual projector (`virtual-projector --delay 2 "
      "--baud 115200`; `--delay 5` for the counters, `--delay 20` for the hostile clients), every scenario in a network namespace of its own. "
      "[Performance](PERFORMANCE.md) has the bridge beside the other relays.\n")
    if meta.get("quick") == "1":
        w("> **Quick run**: development figures from short counts, not a reference measurement.\n")
    w("- Recorded **%s** by `%s`; build %s." % (meta.get("date"), meta.get("invocation", "").strip(), meta.get("build")))
    w("- Machine: %s; %s. Load average before and after: %s / %s. The machine is shared: compare ratios "
      "within one run, never absolute times." % (meta.get("cpu"), meta.get("system"), meta.get("load_before"), meta.get("load_after", "?")))
    w("- To regenerate this page: `sudo bench/status.sh` (about 20 minutes; `--quick` for a short development run).\n")
    w("## Targets\n")
    w("| target | result |")
    w("|---|---|")
    for name, ok, detail in targets:
        w("| %s | %s |" % (name, ("met (%s)" if ok else "**missed** (%s)") % detail))
    w("")

    if c:
        rows, notes, status = c
        w("## Exact counters\n")
        w("A generator opens %s connections one after another, each carrying its share of %s commands (`op status ?`, "
          "the next once the reply is in or 100 ms have gone); at the end of every %sth connection, still connected, it "
          "unplugs the device and plugs it back in (SIGUSR1, SIGUSR2) and waits until `/status` says the port is open "
          "again; after each connection it sends its share of %s datagrams (%s of them probes) while no client is "
          "connected. Then the counters of `/status` against its own count of what it did; `bytes_from_serial` "
          "against what the device sent, from the projector's log (%s s, %s).\n" % (
              notes.get("planned_connections"), notes.get("planned_commands"),
              int(notes.get("planned_connections", 0)) // max(1, int(notes.get("planned_replugs", 1))),
              notes.get("planned_datagrams"), notes.get("planned_probes"), notes.get("seconds"), status))
        w("| counter | expected | got | |")
        w("|---|---:|---:|---|")
        for name, want, got, ok in rows:
            w("| `%s` | %s | %s | %s |" % (name, want, got, "equal" if ok else "**differs**"))
        w("")
        w("Commands whose reply was not in after 100 ms (echo and reply came in one read of the port, and the bridge "
          "takes one line per read, so the reply waited for the next command's echo): %s. A reply held back at the end "
          "of a connection that the bridge takes only once no client is connected is read from the port but forwarded "
          "to nobody, so `replies_forwarded` can be below the commands and still exact." % notes.get("stalls"))
        if "failure" in notes:
            w(" The generator stopped early: %s." % notes["failure"])
        w("")

    if ps or scrapes:
        w("## Speed\n")
        w("Overhead p50 per command (round trip minus the projector's own time, as on the "
          "[Performance](PERFORMANCE.md) page), %s commands back to back per scenario; each Tolvane run beside a "
          "socat-nodelay run of its own (bench/run.sh's), the order swapped every round. A stall is a reply still "
          "missing 250 ms after its command.\n" % meta.get("count"))
        w("| round | socat | Tolvane | ratio | stalls | socat | Tolvane, `/metrics` every 100 ms | ratio | stalls | scrapes (p99, unanswered) |")
        w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
        for p in ps:
            s = p["scrapes"]
            w("| %s | %s | %s | %s | %d | %s | %s | %s | %d | %s |" % (
                p["round"], us(p["plain"][0]), us(p["plain"][1]), "%.2f×" % p["plain"][2] if p["plain"][2] else "–",
                p["plain"][3], us(p["metrics"][0]), us(p["metrics"][1]),
                "%.2f×" % p["metrics"][2] if p["metrics"][2] else "–", p["metrics"][3],
                "%d (%s, %d)" % (s["n"], us(s["p99"]), s["failed"]) if s else "–"))
        w("")
        if scrapes:
            w("`GET /status` every 10 ms on a fresh connection while commands flow back to back, each answer timed "
              "from connect to the server's close:\n")
            w("| round | requests | p50 | p99 | max | unanswered |")
            w("|---|---:|---:|---:|---:|---:|")
            for i, s in enumerate(scrapes, 1):
                w("| %d | %d | %s | %s | %s | %d |" % (i, s["n"], us(s["p50"]), us(s["p99"]), us(s["max"]), s["failed"]))
            w("")

    if h:
        f, d = h["facts"], h["during"]
        g = lambda k: int(f.get(k, 0))
        w("## Hostile clients\n")
        w("For %s s: 500 slowloris connections to the status port (a request line, then one header line a second; "
          "each reopened a second after the server closes it), %d requests with a 1 MiB header and %d connections of "
          "64 KiB of random bytes spread over the time, a plain `GET /status` every half second; meanwhile a control "
          "program sends `op status ?` with 5 ms pauses to a projector that answers 20 ms after its echo.\n" % (meta.get("hostile_seconds"), g("big_connected"), g("junk_connected")))
        w("| clients | connected | closed by the server | longest open | answers |")
        w("|---|---:|---:|---:|---|")
        for kind, label in (("slow", "slowloris"), ("big", "1 MiB header"), ("junk", "random bytes")):
            codes = ", ".join("%s × %d" % (k.rsplit("_", 1)[1], v) for k, v in sorted(f.items()) if k.startswith(kind + "_code_"))
            w("| %s | %d | %d | %.1f s | %s |" % (label, g(kind + "_connected"), g(kind + "_closed"),
                                                f.get(kind + "_longest_s", 0), codes or "none"))
        w("")
        w("Plain `GET /status` during the attack: %d of %d answered (the slowloris clients hold the connection "
          "limit). Commands sent during the attack: %d, round trip p50 %s, p99 %s, max %s (%s); in the 10 s after "
          "it, for comparison: %d, p50 %s, p99 %s, max %s. `/status` answered again %s after the attack ended.\n" % (
              g("legit_ok"), g("legit_tries"), len(d), us(pct(d, 50)), us(pct(d, 99)), us(max(d) if d else None),
              h["status"], len(h["later"]), us(pct(h["later"], 50)), us(pct(h["later"], 99)),
              us(max(h["later"]) if h["later"] else None), "%.0f ms" % (f["recovered_s"] * 1e3) if f.get("recovered_s", -1) >= 0 else "never"))

        if h["cpu"]:
            w("CPU time of the bridge's threads during the attack (%s s): %s.\n" % (meta.get("hostile_seconds"), ", ".join(
                "%s %.2f s" % (t, v) for t, v in sorted(h["cpu"].items(), key=lambda kv: -kv[1]) if v > 0) or "none"))

    notes = text(os.path.join(os.path.dirname(os.path.abspath(__file__)), "status-notes.md"))
    if notes:
        w(notes)
    with open(os.path.join(docs, "PERFORMANCE-status.md"), "w") as out:
        out.write("\n".join(md) + "\n")
    print("bench: wrote %s/PERFORMANCE-status.md" % docs)


if __name__ == "__main__":
    main()
