#include "tools/projector/projector.h"

#include "tools/projector/linesettings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t togglePlugRequested = 0;
volatile sig_atomic_t plugRequested = 0;

Projector::Projector(const Options &options, EventLog &log)
    : options(options)
    , log(log)
    , link(options.linkPath)
{
    for (const auto &entry : options.overrides)
        table.set(entry.first, entry.second);
    if (options.baud > 0)
        byteIntervalUs = std::max<int64_t>(1, 10000000 / options.baud);
}

Projector::~Projector()
{
    link.remove();
    if (plugged())
        close(master);
}

bool Projector::plug()
{
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("virtual-projector: openpty");
        master = -1;
        return false;
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

    std::string error;
    if (!options.linkPath.empty() && !link.point(name, &error)) {
        std::fprintf(stderr, "virtual-projector: %s\n", error.c_str());
        close(master);
        master = -1;
        return false;
    }
    const int64_t now = nowUs();
    log.event(now, "PLUG", name);
    std::printf(plugs++ == 0 ? "%s\n" : "PLUG %s\n", name);
    std::fflush(stdout);
    lastLine.clear();
    hungUp = false;
    plugAt = 0;
    unplugAt = options.replugEveryMs > 0 ? now + options.replugEveryMs * 1000 : 0;
    checkLine(now);
    return true;
}

void Projector::unplug(const char *why)
{
    // The name goes first, so whoever sees the hang-up no longer finds it.
    link.remove();
    close(master);
    master = -1;
    const int64_t now = nowUs();
    log.event(now, "UNPLUG", why);
    if (queuedBytes > 0)
        log.event(now, "DROP", "unplugged with " + std::to_string(queuedBytes) + " bytes unsent");
    finished = std::any_of(queue.begin(), queue.end(), [](const Segment &segment) { return segment.unplug; });
    queue.clear();
    queuedBytes = 0;
    splitter = LineSplitter();
    std::printf("UNPLUG\n");
    std::fflush(stdout);
    unplugAt = 0;
    if (options.unpluggedForMs >= 0)
        plugAt = now + options.unpluggedForMs * 1000;
    else
        plugAt = std::strcmp(why, "timer") == 0 ? now + timerUnpluggedUs : 0;
}

bool Projector::followPlugging()
{
    if (togglePlugRequested) {
        togglePlugRequested = 0;
        if (plugged())
            unplug("signal");
        else if (!plug())
            return false;
    }
    if (plugRequested) {
        plugRequested = 0;
        if (!plugged() && !plug())
            return false;
    }
    const int64_t now = nowUs();
    if (plugged() && unplugAt > 0 && now >= unplugAt)
        unplug("timer");
    if (!plugged() && plugAt > 0 && now >= plugAt && !plug())
        return false;
    return true;
}

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
    log.event(t, "CMD", escaped(line));
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
            chunk.events.emplace_back("ECHO", escaped(echo));
        }
        if (reply && options.noise) {
            chunk.bytes += noise;
            chunk.events.emplace_back("NOISE", escaped(noise));
        }
        if (reply) {
            chunk.bytes += *reply;
            chunk.events.emplace_back("REPLY", escaped(*reply));
        }
        if (!chunk.bytes.empty())
            enqueue(std::move(chunk));
    } else {
        if (options.echo)
            enqueue(Segment{echo, t, {{"ECHO", escaped(echo)}}});
        if (reply && options.noise)
            enqueue(Segment{noise, replyDue, {{"NOISE", escaped(noise)}}});
        if (reply)
            enqueue(Segment{*reply, replyDue, {{"REPLY", escaped(*reply)}}});
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
            link.remove();
            log.event(now, "UNPLUG");
            close(master);
            master = -1;
            return false;
        }
        if (byteIntervalUs > 0 && nextByteAt > now) {
            wakeAt = std::min(wakeAt, nextByteAt);
            return true;
        }
        if (segment.written == 0 && !lineHeld()) {
            // The kernel would keep these bytes for whoever opens the line next; a real device's are lost.
            log.event(now, "DROP", "nobody holds the line open: " + escaped(segment.bytes));
            queuedBytes -= segment.bytes.size();
            queue.pop_front();
            continue;
        }
        const size_t remaining = segment.bytes.size() - segment.written;
        const ssize_t n = write(master, segment.bytes.data() + segment.written, byteIntervalUs > 0 ? 1 : remaining);
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

int Projector::run(const sigset_t &waitMask)
{
    int64_t nextLineCheck = nowUs() + termiosPeriodUs;
    char buffer[4096];

    while (!stopRequested) {
        if (!followPlugging())
            return 1;
        if (finished)
            return 0;
        int64_t now = nowUs();
        int64_t wakeAt = now + idleWakeUs;
        bool waitWritable = false;
        if (plugged()) {
            if (now >= nextLineCheck) {
                checkLine(now);
                nextLineCheck = now + termiosPeriodUs;
            }
            wakeAt = std::min(wakeAt, nextLineCheck);
            if (!flushOutput(wakeAt, waitWritable))
                return 0;
        }
        if (unplugAt > 0)
            wakeAt = std::min(wakeAt, unplugAt);
        if (plugAt > 0)
            wakeAt = std::min(wakeAt, plugAt);

        now = nowUs();
        // The master reports hang-up for as long as the other side stays closed: nap instead of polling it.
        const bool nap = !plugged() || hungUp;
        if (hungUp)
            wakeAt = std::min(wakeAt, now + hungUpNapUs);
        const int64_t waitUs = std::max<int64_t>(0, wakeAt - now);
        const timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        pollfd fd{master, short(POLLIN | (waitWritable ? POLLOUT : 0)), 0};
        const int ready = ppoll(nap ? nullptr : &fd, nap ? 0 : 1, &timeout, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("virtual-projector: poll");
            return 1;
        }
        if (nap) {
            hungUp = false; // look again: the other side may be back
            continue;
        }
        if (ready == 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;

        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            const int64_t t = nowUs();
            checkLine(t);
            log.event(t, "RX", escaped(std::string(buffer, size_t(n))));
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
