#!/usr/bin/env python3
"""Statistics and plots for one bench run (bench/out/<date>/): prints every target with "met" or
"missed" and writes docs/PERFORMANCE.md and docs/perf-*.svg.

usage: report.py RUN_DIR DOCS_DIR
"""
import sys

from reporting import load, page, plots, stats


def main():
    run, docs = sys.argv[1], sys.argv[2]
    r = load.load(run)
    names, targets, floor = stats.targets(r)
    has_before, meta = r.has_before, r.meta
    print("bench: targets (Tolvane, this build%s)" % ("; before: " + meta["before"] if has_before else ""))
    for k, name in enumerate(names):
        print("  %-8s %s: %s" % ({True: "met", False: "MISSED", None: "-"}[targets[0][k][0]], name.replace("`", ""),
                                  targets[0][k][1].replace("**", "")))
    if floor:
        print("bench: " + floor.replace("**", ""))

    plots.draw(r, docs)
    page.write(r, names, targets, floor, docs)
    print("bench: wrote %s/PERFORMANCE.md and its plots" % docs)


if __name__ == "__main__":
    main()
