#!/usr/bin/env python3
"""The month in an hour (bench/month.sh): prints every target with "met" or "MISSED" and writes the
page, month.md in the run's folder and MONTH.md in DOCS_DIR.

usage: month.py RUN_DIR DOCS_DIR
"""
import glob
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from reporting.load import text  # noqa: E402
from reporting.stats import WARMUP, med, pct  # noqa: E402

SPEED_TOLERANCE = 1.05  # rounds of a few thousand commands on a shared machine differ by this much


def env(path):
    return dict(l.split("=", 1) for l in text(path).splitlines() if "=" in l)


def rows(path):
    return [l.split() for l in text(path).splitlines() if l and not l.startswith("#")]


def num(d, key):
    try:
        return float(d[key])
    except (KeyError, ValueError):
        return None


def speed(run):
    """Median over the rounds of each bridge's p50 and p99 round trip (ms), warm-up left out."""
    out = {}
    for bridge in ("socat", "window", "service"):
        p50s, p99s = [], []
        for path in sorted(glob.glob(os.path.join(run, "speed-%s.*.rtt" % bridge))):
            trips = [(int(r[2]) - int(r[1])) / 1e6 for r in rows(path)[WARMUP:]]
            if trips:
                p50s.append(pct(trips, 50))
                p99s.append(pct(trips, 99))
        out[bridge] = (med(p50s), med(p99s), len(p50s))
    return out


def targets(run):
    """(area, target, verdict True/False/None, figure) rows."""
    svc, win, late = env(os.path.join(run, "service", "summary.env")), env(os.path.join(run, "window", "summary.env")), \
        env(os.path.join(run, "late.env"))
    samples = rows(os.path.join(run, "service", "samples.txt"))
    out = []

    def add(area, target, ok, figure):
        out.append((area, target, ok, figure))

    if svc:
        grow = num(svc, "rss_end_kb") - num(svc, "rss_warm_kb")
        add("service", "resident memory grows at most 2 MB from after warm-up to the end", grow <= 2048,
            "%+.0f kB (%.1f → %.1f MB) over %s commands, %s connect/close cycles, %s replugs" % (
                grow, num(svc, "rss_warm_kb") / 1024, num(svc, "rss_end_kb") / 1024, svc.get("commands"),
                svc.get("cycles"), svc.get("replugs")))
        warm = [int(s[5]) for s in samples if s[1] == "warmup"]
        later = [int(s[5]) for s in samples if s[1] != "warmup"]
        if warm and later:
            add("service", "open files flat (never more than during warm-up, none left at the end)",
                max(later) <= max(warm) and later[-1] <= max(warm),
                "warm-up %d–%d, afterwards %d–%d, at the end %d" % (min(warm), max(warm), min(later), max(later),
                                                                     later[-1]))
        early, lateP50 = num(svc, "p50_early_ms"), num(svc, "p50_late_ms")
        if early and early > 0 and lateP50 and lateP50 > 0:
            add("service", "late p50 round trip within 1.1× the early one", lateP50 <= 1.1 * early,
                "%.2f ms → %.2f ms (%.2f×; first and last tenth of the days)" % (early, lateP50, lateP50 / early))
        unanswered = int(svc.get("cycles_unanswered", 0)) + int(svc.get("cycles_refused", 0))
        add("service", "every one-command client answered and closed", unanswered + int(svc.get("cycles_unclosed", 0)) == 0,
            "%s unanswered, %s refused, %s left open; %s answered only when asked again" % (
                svc.get("cycles_unanswered"), svc.get("cycles_refused"), svc.get("cycles_unclosed"),
                svc.get("cycles_asked_again")))
        add("service", "alive at the end", svc.get("alive") == "1", "yes" if svc.get("alive") == "1" else "no")
        dg = env(os.path.join(run, "service.datagrams.env"))
        if dg:
            add("service", "every probe answered", dg.get("probes") == dg.get("probe_replies"),
                "%s of %s probes among %s datagrams" % (dg.get("probe_replies"), dg.get("probes"), dg.get("datagrams")))
        replugs = rows(os.path.join(run, "service", "replugs.txt"))
        asked = int(env(os.path.join(run, "meta.env")).get("replugs", len(replugs)) or 0)
        times = [float(r[4]) for r in replugs if float(r[4]) >= 0]
        stuck = len(replugs) - len(times)
        fig = "%d of %d replugs done, %d stuck" % (len(replugs), asked, stuck)
        if times:
            fig += "; reopen median %.2f s, max %.2f s" % (med(times), max(times))
        add("replugs", "every replug reopened within 2 s, median ≤ 1 s, none stuck",
            len(times) == asked and asked > 0 and max(times) <= 2 and med(times) <= 1, fig)
    if late:
        answer = num(late, "late_answer_s")
        add("replugs", "started %.0f s before the device: first answer within 2 s of its appearance" % (
            num(late, "late_plug_after_s") or 0), answer is not None and 0 <= answer <= 2,
            "%.2f s" % answer if answer is not None and answer >= 0 else "never answered")
    if win:
        per = (num(win, "rss_end_kb") - num(win, "rss_warm_kb")) * 1024 / max(1, num(win, "cycles"))
        add("window", "connect/close cycles cost at most 64 bytes each", per <= 64,
            "%.1f bytes per cycle over %s cycles (%.1f → %.1f MB)" % (per, win.get("cycles"), num(win, "rss_warm_kb") / 1024,
                                                                    num(win, "rss_end_kb") / 1024))
    sp = speed(run)
    if all(sp[b][0] for b in sp):
        rw, rs = sp["window"][0] / sp["socat"][0], sp["service"][0] / sp["socat"][0]
        add("speed", "p50 ratio to socat-nodelay no worse in service mode than in the window (±%d%%)" % (
            round((SPEED_TOLERANCE - 1) * 100)), rs <= rw * SPEED_TOLERANCE,
            "service %.2f×, window %.2f× (p99: %.2f×, %.2f×); median of %d rounds" % (
                rs, rw, sp["service"][1] / sp["socat"][1], sp["window"][1] / sp["socat"][1], sp["service"][2]))
    return out, sp


def page(run, out, sp):
    meta = env(os.path.join(run, "meta.env"))
    md = ["# A month in an hour\n",
          "The release build of the bridge under a month of a room control system's traffic, compressed: "
          "`bench/month.sh` (see bench/README.md). Targets are ratios and counts from this one run.\n",
          "- Recorded **%s** by `%s` (scale %s), build %s; machine: %s; load average before and after: %s / %s." % (
              meta.get("date"), meta.get("invocation", "").strip(), meta.get("scale"), meta.get("commit"),
              meta.get("cpu"), meta.get("load_before"), meta.get("load_after", "?")),
          "- Service mode: `tolvane --service --config FILE`; a warm-up day, then %s days each of polling on one "
          "connection (`op status ?`, one at a time) and one-command clients, datagrams from a second namespace "
          "all along (one in ten a probe), then the replugs with polling going on. The virtual projector answers "
          "1 ms after each command at 1,000,000 baud." % meta.get("days", "30"),
          "- Window mode: the same bridge under Xvfb, connect/close cycles only (its panes keep every "
          "command, by design).\n",
          "## Targets\n", "| | target | verdict | figure |", "|---|---|---|---|"]
    for area, target, ok, figure in out:
        md.append("| %s | %s | %s | %s |" % (area, target, {True: "pass", False: "**FAIL**", None: "-"}[ok], figure))
    md += ["", "## Speed beside socat\n",
           "`tvbench rtt` against each bridge in turn on bench/run.sh's projector (2 ms, 115,200 baud); "
           "median of the rounds. These are whole round trips, the projector's own time included. A bridge that "
           "takes one line from the device per arrival of data holds an answer that came in the same read as "
           "its echo until the device sends again, so the client's next command (250 ms later) frees it: "
           "that is where a p99 far above socat's comes from.\n", "| bridge | p50 ms | p99 ms |", "|---|---|---|"]
    for b, label in (("socat", "socat, nodelay"), ("window", "Tolvane, window (Xvfb)"), ("service", "Tolvane, service")):
        if sp[b][0]:
            md.append("| %s | %.3f | %.3f |" % (label, sp[b][0], sp[b][1]))
    days = rows(os.path.join(run, "service", "days.txt"))
    if days:
        md += ["", "## Service mode, day by day\n", "| day | commands | p50 ms | p99 ms | stalls |", "|---|---|---|---|---|"]
        step = max(1, len(days) // 10)
        for d in days[::step] + ([days[-1]] if (len(days) - 1) % step else []):
            md.append("| %s | %s | %.2f | %.2f | %s |" % (d[0], d[1], float(d[2]), float(d[3]), d[4]))
    samples = rows(os.path.join(run, "service", "samples.txt"))
    if samples:
        md += ["", "## Service mode, memory and open files\n",
               "| seconds | phase | commands | cycles | VmRSS kB | open fds |", "|---|---|---|---|---|---|"]
        step = max(1, len(samples) // 12)
        for s in samples[::step] + ([samples[-1]] if (len(samples) - 1) % step else []):
            md.append("| %s |" % " | ".join(s))
    return "\n".join(md) + "\n"


def main():
    run, docs = sys.argv[1], sys.argv[2]
    out, sp = targets(run)
    print("month: targets")
    for area, target, ok, figure in out:
        print("  %-7s %-8s %s: %s" % ({True: "met", False: "MISSED", None: "-"}[ok], area, target, figure))
    text_ = page(run, out, sp)
    for path in (os.path.join(run, "month.md"), os.path.join(docs, "MONTH.md")):
        with open(path, "w") as f:
            f.write(text_)
    print("month: wrote %s/month.md and %s/MONTH.md" % (run, docs))


if __name__ == "__main__":
    main()
