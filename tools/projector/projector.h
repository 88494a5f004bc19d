#pragma once

#include "tools/projector/commands.h"
#include "tools/projector/eventlog.h"
#include "tools/projector/options.h"

#include <csignal>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// Set by the stop signals; the loop ends at its next turn.
extern volatile sig_atomic_t stopRequested;

// Bytes waiting to go out, in order; the log events are written once the last byte has gone.
struct Segment {
    std::string bytes;
    int64_t due = 0;
    std::vector<std::pair<const char *, std::string>> events;
    bool unplug = false;
    bool settling = false;
    size_t written = 0;
};

// The device itself: reads command lines, queues echoes and replies, writes them when they are due.
class Projector
{
public:
    // `master` is the terminal's side the projector holds, non-blocking.
    Projector(const Options &options, int master, EventLog &log);

    // Echoes, answers and logs until a stop signal (0), an unplug (0) or a poll failure (1).
    int run();

private:
    static constexpr int64_t termiosPeriodUs = 50000;
    static constexpr int64_t hungUpNapUs = 20000;
    static constexpr size_t maxQueued = 1024 * 1024;

    void checkLine(int64_t t);
    bool lineHeld() const;
    void onCommand(const std::string &line, int64_t t);
    void enqueue(Segment segment);
    // Writes what is due; false when the device has unplugged itself.
    bool flushOutput(int64_t &wakeAt, bool &waitWritable);

    const Options &options;
    int master;
    EventLog &log;
    ProjectorTable table;
    LineSplitter splitter;
    std::deque<Segment> queue;
    size_t queuedBytes = 0;
    long commands = 0;
    int64_t byteIntervalUs = 0;
    int64_t nextByteAt = 0;
    std::string lastLine;
};
