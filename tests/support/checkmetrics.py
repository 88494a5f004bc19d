#!/usr/bin/python3
"""Reads Prometheus text exposition (format 0.0.4) on stdin and exits 1, saying why, unless it is
strictly well formed: HELP then TYPE before each family's samples, every family once, sample names
of their family, counters ending in _total, labels and values as the format spells them, no
duplicate series, tolvane_ names, a line break at the end. Then prometheus_client must read it too."""
import math
import re
import sys

from prometheus_client.parser import text_string_to_metric_families

NAME = r"[a-zA-Z_:][a-zA-Z0-9_:]*"
LABEL = r'[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*"'
SAMPLE = re.compile(rf"^({NAME})(\{{{LABEL}(?:,{LABEL})*\}})? (\S+)$")
HELP = re.compile(rf"^# HELP ({NAME}) (\S.*)$")
TYPE = re.compile(rf"^# TYPE ({NAME}) (counter|gauge|histogram|summary|untyped)$")


def problems(text):
    if not text.endswith("\n"):
        yield "no line break at the end"
    family, kind, series, seen = None, None, set(), set()
    for number, line in enumerate(text.split("\n")[:-1], 1):
        where = f"line {number}: {line!r}"
        if m := HELP.match(line):
            if m[1] in seen:
                yield f"{where}: family {m[1]} again"
            family, kind = m[1], None
            seen.add(family)
        elif m := TYPE.match(line):
            if m[1] != family or kind:
                yield f"{where}: TYPE not right after its HELP"
            kind = m[2]
        elif m := SAMPLE.match(line):
            name, labels, value = m[1], m[2] or "", m[3]
            if name != family or not kind:
                yield f"{where}: sample outside its family's HELP and TYPE"
            if not name.startswith("tolvane_"):
                yield f"{where}: not named tolvane_..."
            if kind == "counter" and not name.endswith("_total"):
                yield f"{where}: counter without _total"
            if (name, labels) in series:
                yield f"{where}: series again"
            series.add((name, labels))
            try:
                if math.isnan(float(value)) and value != "NaN":
                    raise ValueError
            except ValueError:
                yield f"{where}: value {value!r} is no number"
            if kind == "counter" and value.startswith("-"):
                yield f"{where}: negative counter"
        else:
            yield f"{where}: neither HELP, TYPE nor a sample"


def main():
    text = sys.stdin.read()
    found = list(problems(text))
    try:
        list(text_string_to_metric_families(text))
    except Exception as e:  # the parser's own complaint, whatever its kind
        found.append(f"prometheus_client: {e}")
    for p in found:
        print(p, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
