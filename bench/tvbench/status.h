// The status endpoint under load (bench/status.sh): a generator whose counts the endpoint must
// report exactly, a scraper that times each answer, and hostile clients on the status port.
#pragma once

#include "bench/tvbench/options.h"

#include <string>

namespace tvbench {

// One request on a fresh connection, the answer read until the server closes it.
struct HttpAnswer {
    int code = 0; // 0: no status line came
    std::string body;
};
HttpAnswer httpGet(const std::string &host, int port, const std::string &path, double seconds);

int statusCounters(const Options &o);
int statusScrape(const Options &o);
int statusHostile(const Options &o);

} // namespace tvbench
