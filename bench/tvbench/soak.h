// Soak phases: each throws one kind of traffic at a running bridge, checks how it behaved, prints what
// it measured, adds a summary line to --results and returns 1 when the bridge misbehaved.
#pragma once

#include "bench/tvbench/options.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tvbench {

// One soak phase: its deadline, what it measured, and what went wrong.
struct Phase {
    Phase(const Options &o, const std::string &name)
        : o(o)
        , name(name)
    { }
    const Options &o;
    const std::string name;
    const std::string projectorLog = o.str("projector-log");
    const int64_t started = nowNs();
    const int64_t deadline = after(o.num("budget", 120));
    std::vector<std::string> failures;
    std::vector<std::pair<std::string, std::string>> data;
    std::map<std::string, long> counts;

    double left() const { return double(deadline - nowNs()) / 1e9; }
    void fail(const std::string &text)
    {
        std::printf("  FAIL %s: %s\n", name.c_str(), text.c_str());
        std::fflush(stdout);
        failures.push_back(text);
    }
    bool outOfTime()
    {
        if (left() > 0)
            return false;
        fail("did not finish within its " + o.str("budget", "120") + " s budget");
        return true;
    }
    void put(const std::string &key, const std::string &value) { data.emplace_back(key, value); }
    void put(const std::string &key, long value) { put(key, std::to_string(value)); }
    int finish()
    {
        for (const auto &c : counts)
            put(c.first, c.second);
        std::string line;
        for (const auto &d : data) {
            std::printf("  %s.%s = %s\n", name.c_str(), d.first.c_str(), d.second.c_str());
            line += (line.empty() ? "" : "; ") + d.first + " " + d.second;
        }
        if (o.has("results")) {
            FILE *f = openOut(o.str("results"), "a");
            std::fprintf(f, "  %-14s %6.1f s  %s\n", name.c_str(), secondsSince(started), line.c_str());
            std::fclose(f);
        }
        return failures.empty() ? 0 : 1;
    }
};

int phaseWaitListen(const Options &o);
int phaseTcpFlood(const Options &o);
int phaseCycles(const Options &o);
int phaseMarkup(const Options &o);
int phaseUnplug(const Options &o);
int phaseCommand(const Options &o);
int phaseUdp(const Options &o);
int phaseTrap(const Options &o);

} // namespace tvbench
