#include "bench/tvbench/common.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tvbench {

int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t after(double seconds) { return nowNs() + int64_t(seconds * 1e9); }

double secondsSince(int64_t t0) { return double(nowNs() - t0) / 1e9; }

void sleepUntil(int64_t t)
{
    const timespec ts{time_t(t / 1000000000), long(t % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "tvbench: %s\n", what.c_str());
    std::exit(2);
}

FILE *openOut(const std::string &path, const char *mode)
{
    FILE *f = std::fopen(path.c_str(), mode);
    if (!f)
        die(path + ": " + std::strerror(errno));
    return f;
}

std::string shown(const std::string &bytes, size_t max)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char buf[8];
        if (c == '\r' || c == '\n')
            out += c == '\r' ? "\\r" : "\\n";
        else if (c < 32 || c >= 127)
            std::snprintf(buf, sizeof buf, "\\x%02x", c), out += buf;
        else
            out += char(c);
    }
    return "'" + out + (bytes.size() > max ? "...'" : "'");
}

long rssKb(long pid)
{
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

std::string latencies(std::vector<double> s)
{
    if (s.empty())
        return "none";
    std::sort(s.begin(), s.end());
    auto pick = [&](double q) { return s[std::min(s.size() - 1, size_t(q * double(s.size())))] * 1000; };
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.2f/%.2f/%.2f ms (%zu)", pick(0.5), pick(0.99), s.back() * 1000, s.size());
    return buf;
}

} // namespace tvbench
