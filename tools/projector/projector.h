#pragma once

#include "tools/projector/commands.h"
#include "tools/projector/devicelink.h"
#include "tools/projector/eventlog.h"
#include "tools/projector/options.h"

#include <csignal>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// Set by the signals, read by the loop at its next turn: stop; unplug or plug back in; plug back in.
extern volatile sig_atomic_t stopRequested;
extern volatile sig_atomic_t togglePlugRequested;
extern volatile sig_atomic_t plugRequested;

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
    Projector(const Options &options, EventLog &log);
    ~Projector();

    // Plugs in on a new terminal and prints its path; false (and why on stderr) when it cannot.
    bool plug();
    // Echoes, answers, unplugs and plugs back in until a stop signal (0), the last command of
    // --unplug-after (0) or a failure (1). The signals stay blocked but while it waits, with `waitMask`.
    int run(const sigset_t &waitMask);

private:
    static constexpr int64_t termiosPeriodUs = 50000;
    static constexpr int64_t hungUpNapUs = 20000;
    static constexpr int64_t idleWakeUs = 1000000;
    static constexpr size_t maxQueued = 1024 * 1024;
    static constexpr int64_t timerUnpluggedUs = 1000000;

    bool plugged() const { return master >= 0; }
    // Pulls the cable: what was not sent yet is lost.
    void unplug(const char *why);
    // Acts on the signals and timers; false when plugging back in failed.
    bool followPlugging();
    void checkLine(int64_t t);
    bool lineHeld() const;
    void onCommand(const std::string &line, int64_t t);
    void enqueue(Segment segment);
    // Writes what is due; false when the device has unplugged itself.
    bool flushOutput(int64_t &wakeAt, bool &waitWritable);

    const Options &options;
    int master = -1; // the terminal's side the projector holds, non-blocking; -1 while unplugged
    EventLog &log;
    DeviceLink link;
    int plugs = 0;
    int64_t unplugAt = 0; // when the timer unplugs, 0: never
    int64_t plugAt = 0;   // when to plug back in, 0: on a signal
    bool hungUp = false;
    bool finished = false;
    ProjectorTable table;
    LineSplitter splitter;
    std::deque<Segment> queue;
    size_t queuedBytes = 0;
    long commands = 0;
    int64_t byteIntervalUs = 0;
    int64_t nextByteAt = 0;
    std::string lastLine;
};
