// A stand-in projector on a pseudo-terminal: echoes each command line, answers "op" queries and
// settings from a small table, and logs what it saw so tests can check bytes and timing.
#include "tools/projector/projector.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

int64_t nowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct Options
{
    long delayMs = 2;
    bool echo = true;
    bool silent = false;
    bool oneChunk = false;
    bool noise = false;
    bool termiosToStdout = false;
    long baud = 0;
    long unplugAfter = 0;
    long unplugGraceMs = 200;
    std::string logPath;
    std::vector<std::pair<std::string, std::string>> overrides;
};

void usage(FILE *out)
{
    std::fputs(
        "usage: virtual-projector [OPTION]...\n"
        "Opens a pseudo-terminal, prints its device path on the first line and behaves as a projector\n"
        "on it until SIGTERM/SIGINT: echoes each command line (ended by CR, CR LF or LF) and answers\n"
        "\"op KEY ?\" with \"OP KEY=VALUE\" and \"op KEY = VALUE\" by storing and repeating it.\n"
        "\n"
        "  --delay MS         wait MS milliseconds between a command and its reply (default 2)\n"
        "  --no-echo          do not echo command lines\n"
        "  --silent           echo only, never reply\n"
        "  --one-chunk        write echo and reply in a single write, after the delay\n"
        "  --noise            send \"# lamp ok\" and an empty line before each reply\n"
        "  --set KEY=VALUE    add or change a table value; VALUE may use \\r \\n \\t \\\\ \\0 \\xHH\n"
        "                     (defaults: model=KT5520M ser.no=ABC-1234567 status=1 power=1\n"
        "                     input=HDMI1 lamp=1200)\n"
        "  --baud N           pace output one byte at a time, 10/N seconds apart (0: no pacing)\n"
        "  --unplug-after N   close the terminal after answering the N-th command, then exit\n"
        "  --unplug-grace MS  time left to read the last reply before closing (default 200)\n"
        "  --log FILE         append timestamped events (CLOCK_MONOTONIC microseconds): RX, CMD,\n"
        "                     ECHO, NOISE, REPLY, TERMIOS, DROP, UNPLUG\n"
        "  --termios          also print the TERMIOS lines (line settings) on standard output\n"
        "  --help             show this help\n",
        out);
}

bool parseNumber(const char *text, long &value)
{
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 0)
        return false;
    value = parsed;
    return true;
}

// 0: go on, 1: exit 0 (help), 2: usage error.
int parseOptions(int argc, char **argv, Options &options)
{
    enum { Delay = 1000, NoEcho, Silent, OneChunk, Noise, Set, Baud, Unplug, UnplugGrace, Log, Termios, Help };
    static const option longOptions[] = {
        {"delay", required_argument, nullptr, Delay},
        {"no-echo", no_argument, nullptr, NoEcho},
        {"silent", no_argument, nullptr, Silent},
        {"one-chunk", no_argument, nullptr, OneChunk},
        {"noise", no_argument, nullptr, Noise},
        {"set", required_argument, nullptr, Set},
        {"baud", required_argument, nullptr, Baud},
        {"unplug-after", required_argument, nullptr, Unplug},
        {"unplug-grace", required_argument, nullptr, UnplugGrace},
        {"log", required_argument, nullptr, Log},
        {"termios", no_argument, nullptr, Termios},
        {"help", no_argument, nullptr, Help},
        {nullptr, 0, nullptr, 0},
    };
    int opt;
    while ((opt = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1) {
        switch (opt) {
        case Delay:
            if (!parseNumber(optarg, options.delayMs)) {
                std::fprintf(stderr, "virtual-projector: bad --delay '%s'\n", optarg);
                return 2;
            }
            break;
        case NoEcho: options.echo = false; break;
        case Silent: options.silent = true; break;
        case OneChunk: options.oneChunk = true; break;
        case Noise: options.noise = true; break;
        case Set: {
            const std::string arg = optarg;
            const size_t eq = arg.find('=');
            const auto value = eq == std::string::npos ? std::nullopt : unescapeArgument(arg.substr(eq + 1));
            if (eq == 0 || !value) {
                std::fprintf(stderr, "virtual-projector: bad --set '%s' (KEY=VALUE)\n", optarg);
                return 2;
            }
            options.overrides.emplace_back(arg.substr(0, eq), *value);
            break;
        }
        case Baud:
            if (!parseNumber(optarg, options.baud)) {
                std::fprintf(stderr, "virtual-projector: bad --baud '%s'\n", optarg);
                return 2;
            }
            break;
        case Unplug:
            if (!parseNumber(optarg, options.unplugAfter) || options.unplugAfter == 0) {
                std::fprintf(stderr, "virtual-projector: bad --unplug-after '%s'\n", optarg);
                return 2;
            }
            break;
        case UnplugGrace:
            if (!parseNumber(optarg, options.unplugGraceMs)) {
                std::fprintf(stderr, "virtual-projector: bad --unplug-grace '%s'\n", optarg);
                return 2;
            }
            break;
        case Log: options.logPath = optarg; break;
        case Termios: options.termiosToStdout = true; break;
        case 'h':
        case Help: usage(stdout); return 1;
        default: usage(stderr); return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "virtual-projector: unexpected argument '%s'\n", argv[optind]);
        usage(stderr);
        return 2;
    }
    return 0;
}

class EventLog
{
public:
    bool open(const std::string &path)
    {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        return fd >= 0;
    }
    // One write per line, so a reader never sees half an event.
    void event(int64_t t, const char *name, const std::string &data = std::string())
    {
        if (fd < 0)
            return;
        std::string line = std::to_string(t) + " " + name;
        if (!data.empty())
            line += " " + data;
        line += "\n";
        const ssize_t written = ::write(fd, line.data(), line.size());
        (void)written;
    }

private:
    int fd = -1;
};

long speedFromConstant(speed_t speed)
{
    static const std::pair<speed_t, long> rates[] = {
        {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    };
    for (const auto &rate : rates)
        if (rate.first == speed)
            return rate.second;
    return -1;
}

std::string describeLine(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return std::string();
    long speed = kernelLineSpeed(fd);
    if (speed < 0)
        speed = speedFromConstant(cfgetospeed(&tio));
    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: break;
    }
    auto flag = [](tcflag_t field, tcflag_t mask) { return (field & mask) ? 1 : 0; };
    char text[200];
    std::snprintf(text, sizeof text,
                  "speed=%ld cs=%d cstopb=%d parenb=%d parodd=%d cmspar=%d crtscts=%d ixon=%d ixoff=%d",
                  speed, bits, flag(tio.c_cflag, CSTOPB), flag(tio.c_cflag, PARENB),
                  flag(tio.c_cflag, PARODD), flag(tio.c_cflag, CMSPAR), flag(tio.c_cflag, CRTSCTS),
                  flag(tio.c_iflag, IXON), flag(tio.c_iflag, IXOFF));
    return text;
}

// Bytes waiting to go out, in order; the log events are written once the last byte has gone.
struct Segment
{
    std::string bytes;
    int64_t due = 0;
    std::vector<std::pair<const char *, std::string>> events;
    bool unplug = false;
    bool settling = false;
    size_t written = 0;
};

class Projector
{
public:
    Projector(const Options &options, int master, EventLog &log)
        : options(options), master(master), log(log)
    {
        for (const auto &entry : options.overrides)
            table.set(entry.first, entry.second);
        if (options.baud > 0)
            byteIntervalUs = std::max<int64_t>(1, 10000000 / options.baud);
    }

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

bool Projector::lineHeld() const
{
    pollfd fd{master, POLLOUT, 0};
    return poll(&fd, 1, 0) >= 0 && !(fd.revents & POLLHUP);
}

void Projector::checkLine(int64_t t)
{
    const std::string line = describeLine(master);
    if (line.empty() || line == lastLine)
        return;
    lastLine = line;
    log.event(t, "TERMIOS", line);
    if (options.termiosToStdout) {
        std::printf("TERMIOS %s\n", line.c_str());
        std::fflush(stdout);
    }
}

void Projector::enqueue(Segment segment)
{
    if (queuedBytes + segment.bytes.size() > maxQueued) {
        log.event(nowUs(), "DROP", "output queue full, " + std::to_string(segment.bytes.size()) + " bytes");
        return;
    }
    queuedBytes += segment.bytes.size();
    queue.push_back(std::move(segment));
}

void Projector::onCommand(const std::string &line, int64_t t)
{
    log.event(t, "CMD", escapeBytes(line));
    if (options.unplugAfter > 0 && commands >= options.unplugAfter) {
        log.event(t, "DROP", "command after the last one before unplugging");
        return;
    }
    ++commands;

    std::optional<std::string> reply = table.answer(line);
    if (options.silent)
        reply.reset();
    const int64_t replyDue = t + options.delayMs * 1000;
    const std::string echo = line + "\r\n";
    const std::string noise = "# lamp ok\r\n\r\n";

    if (options.oneChunk) {
        Segment chunk;
        chunk.due = replyDue;
        if (options.echo) {
            chunk.bytes += echo;
            chunk.events.emplace_back("ECHO", escapeBytes(echo));
        }
        if (reply && options.noise) {
            chunk.bytes += noise;
            chunk.events.emplace_back("NOISE", escapeBytes(noise));
        }
        if (reply) {
            chunk.bytes += *reply;
            chunk.events.emplace_back("REPLY", escapeBytes(*reply));
        }
        if (!chunk.bytes.empty())
            enqueue(std::move(chunk));
    } else {
        if (options.echo)
            enqueue(Segment{echo, t, {{"ECHO", escapeBytes(echo)}}});
        if (reply && options.noise)
            enqueue(Segment{noise, replyDue, {{"NOISE", escapeBytes(noise)}}});
        if (reply)
            enqueue(Segment{*reply, replyDue, {{"REPLY", escapeBytes(*reply)}}});
    }
    if (commands == options.unplugAfter) {
        Segment unplug;
        unplug.due = replyDue;
        unplug.unplug = true;
        queue.push_back(std::move(unplug));
    }
}

bool Projector::flushOutput(int64_t &wakeAt, bool &waitWritable)
{
    while (!queue.empty()) {
        Segment &segment = queue.front();
        int64_t now = nowUs();
        if (segment.due > now) {
            wakeAt = std::min(wakeAt, segment.due);
            return true;
        }
        if (segment.unplug && !segment.settling) {
            // Closing the master discards what the other side has not read yet: give it time to read the reply.
            segment.settling = true;
            segment.due = now + options.unplugGraceMs * 1000;
            continue;
        }
        if (segment.unplug) {
            log.event(now, "UNPLUG");
            close(master);
            return false;
        }
        if (byteIntervalUs > 0 && nextByteAt > now) {
            wakeAt = std::min(wakeAt, nextByteAt);
            return true;
        }
        if (segment.written == 0 && !lineHeld()) {
            // The kernel would keep these bytes for whoever opens the line next; a real device's are lost.
            log.event(now, "DROP", "nobody holds the line open: " + escapeBytes(segment.bytes));
            queuedBytes -= segment.bytes.size();
            queue.pop_front();
            continue;
        }
        const size_t remaining = segment.bytes.size() - segment.written;
        const ssize_t n = write(master, segment.bytes.data() + segment.written,
                                byteIntervalUs > 0 ? 1 : remaining);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitWritable = true;
                return true;
            }
            // Nobody holds the line open: what was said is lost, as on a real cable.
            log.event(nowUs(), "DROP", std::string("write failed: ") + std::strerror(errno));
            queuedBytes -= segment.bytes.size();
            queue.pop_front();
            continue;
        }
        segment.written += size_t(n);
        if (byteIntervalUs > 0)
            nextByteAt = nowUs() + byteIntervalUs;
        if (segment.written == segment.bytes.size()) {
            const int64_t t = nowUs();
            for (const auto &event : segment.events)
                log.event(t, event.first, event.second);
            queuedBytes -= segment.bytes.size();
            queue.pop_front();
        }
    }
    return true;
}

int Projector::run()
{
    checkLine(nowUs());
    int64_t nextLineCheck = nowUs() + termiosPeriodUs;
    bool hungUp = false;
    char buffer[4096];

    while (!stopRequested) {
        int64_t now = nowUs();
        if (now >= nextLineCheck) {
            checkLine(now);
            nextLineCheck = now + termiosPeriodUs;
        }
        int64_t wakeAt = nextLineCheck;
        bool waitWritable = false;
        if (!flushOutput(wakeAt, waitWritable))
            return 0;

        now = nowUs();
        if (hungUp) {
            // The master reports hang-up for as long as the other side stays closed: nap instead of polling it.
            wakeAt = std::min(wakeAt, now + hungUpNapUs);
        }
        const int64_t waitUs = std::max<int64_t>(0, wakeAt - now);
        const timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        pollfd fd{master, short(POLLIN | (waitWritable ? POLLOUT : 0)), 0};
        const int ready = ppoll(hungUp ? nullptr : &fd, hungUp ? 0 : 1, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("virtual-projector: poll");
            return 1;
        }
        if (hungUp) {
            hungUp = false; // look again: the other side may be back
            continue;
        }
        if (ready == 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;

        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            const int64_t t = nowUs();
            checkLine(t);
            log.event(t, "RX", escapeBytes(std::string(buffer, size_t(n))));
            splitter.feed(
                buffer, size_t(n), [&](const std::string &line) { onCommand(line, t); },
                [&](size_t length) {
                    log.event(t, "DROP", "line of " + std::to_string(length) + " bytes is too long");
                });
        } else if (!(n < 0 && errno == EINTR)) {
            // EIO: nobody holds the other side open. Anything else readable but empty: nap as well.
            hungUp = true;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const int parsed = parseOptions(argc, argv, options); parsed != 0)
        return parsed == 1 ? 0 : 2;

    EventLog log;
    if (!options.logPath.empty() && !log.open(options.logPath)) {
        std::fprintf(stderr, "virtual-projector: cannot open log '%s': %s\n", options.logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("virtual-projector: openpty");
        return 1;
    }
    // Raw from the start, so the line discipline never echoes or rewrites what the bridge sends.
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    // Only the bridge holds the slave open, so its closing shows here as a hang-up.
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    std::printf("%s\n", name);
    std::fflush(stdout);

    Projector projector(options, master, log);
    return projector.run();
}
