"""Plain SVG plots, no plotting package."""
import math
import os

from reporting.load import BRIDGES
from reporting.stats import pct

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


def draw(data, docs):
    """docs/perf-overhead-cdf.svg, and docs/perf-tolvane-growth.svg when the long run was made."""
    B, longs = data.B, data.longs
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
