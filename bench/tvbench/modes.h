// Benchmark modes (bench/run.sh): each writes raw timings to --out for bench/report.py.
#pragma once

#include "bench/tvbench/options.h"

namespace tvbench {

int benchRtt(const Options &o);
int benchDiscovery(const Options &o);
int benchStream(const Options &o);

} // namespace tvbench
