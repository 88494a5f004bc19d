#pragma once

#include <cstdint>
#include <string>

// What the projector saw and did, one timestamped line per event, for tests and benchmarks.
class EventLog
{
public:
    bool open(const std::string &path);
    // One write per line, so a reader never sees half an event.
    void event(int64_t t, const char *name, const std::string &data = std::string());

private:
    int fd = -1;
};

// Bytes as one printable word of a log line, escaped as text::escapeBytes does.
std::string escaped(const std::string &bytes);

// CLOCK_MONOTONIC in microseconds: the log's time scale.
int64_t nowUs();
