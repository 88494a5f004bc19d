// What every part of tvbench shares: the bridge's answers, the clock, fatal errors and small formatting.
#pragma once

#include "core/product.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tvbench {

inline const int tcpPort = product::tcpPort;
inline const std::string modelReply = std::string(product::modelAnswer) + "\r\n";
inline const std::string serialNumberReply = std::string(product::serialNumberAnswer) + "\r\n";
inline const std::string statusQuery = "op status ?\r\n";
inline const std::string statusReply = "OP STATUS=1\r\n";
// Markup that made the bridge fetch a URL would connect here (the soak's peer namespace listens).
inline const std::string trapAddress = "10.203.0.2";
inline const int trapPort = 8099;

// CLOCK_MONOTONIC nanoseconds, the clock the virtual projector logs in.
int64_t nowNs();
int64_t after(double seconds);
double secondsSince(int64_t t0);
void sleepUntil(int64_t t);

// Bad usage or a broken environment: says so and exits with status 2.
[[noreturn]] void die(const std::string &what);

FILE *openOut(const std::string &path, const char *mode = "w");
// Bytes as Python would show them, for messages.
std::string shown(const std::string &bytes, size_t max = 200);
// Resident set of a process in kB, from /proc/PID/status; -1 when it cannot be read.
long rssKb(long pid);
// "p50/p99/max ms (count)" of durations in seconds.
std::string latencies(std::vector<double> s);

} // namespace tvbench
