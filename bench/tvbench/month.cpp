#include "bench/tvbench/month.h"

#include "bench/tvbench/sockets.h"
#include "bench/tvbench/traffic.h"

#include <algorithm>
#include <csignal>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <vector>

namespace tvbench {

namespace {

long openFds(long pid)
{
    DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!d)
        return -1;
    long n = 0;
    while (const dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

double quantile(std::vector<float> v, double q)
{
    if (v.empty())
        return -1;
    const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

off_t fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The time (ns) of the first PLUG line the projector logged past `from`, waiting up to `seconds`; -1 if none.
int64_t plugLogged(const std::string &log, off_t from, double seconds)
{
    const int64_t deadline = after(seconds);
    do {
        std::ifstream in(log);
        in.seekg(from);
        std::string line;
        while (std::getline(in, line)) {
            const size_t at = line.find(" PLUG ");
            if (at != std::string::npos)
                return std::stoll(line.substr(0, at)) * 1000;
        }
        usleep(2000);
    } while (nowNs() < deadline);
    return -1;
}

// A control program on one connection: "op status ?" one at a time, each answer taken for the
// oldest open command. An answer missing after the stall time gets a further command sent anyway,
// as the bridge may hold a complete answer until the device sends again.
struct Poller {
    Conn c;
    size_t scan = 0;
    std::deque<int64_t> open;
    int64_t lastSend = 0;
    long sent = 0, stalls = 0, lost = 0;

    bool connect(double seconds)
    {
        const int64_t deadline = after(seconds);
        while (!c.open() && nowNs() < deadline)
            usleep(50000);
        scan = 0;
        open.clear();
        return c.fd >= 0;
    }
    bool send()
    {
        lastSend = nowNs();
        open.push_back(lastSend);
        ++sent;
        return c.send(statusQuery);
    }
    // Answers that came, counted; the buffer keeps only what may still be part of one.
    int take()
    {
        int n = 0;
        for (size_t at; (at = c.got.find(statusReply, scan)) != std::string::npos; ++n)
            scan = at + statusReply.size();
        if (scan > 65536) {
            c.got.erase(0, scan);
            scan = 0;
        }
        return n;
    }
    // Commands until N are answered; each answer's round trip (ms) goes to `latency`; `each` runs
    // before every command sent. False when the connection ended or nothing was answered for 10 s.
    bool run(long n, double stallSeconds, std::vector<float> *latency, const std::function<void()> &each)
    {
        long done = 0;
        each();
        if (!send())
            return false;
        int64_t lastAnswer = nowNs();
        while (done < n) {
            c.pump(lastSend + int64_t(stallSeconds * 1e9));
            if (c.closed || secondsSince(lastAnswer) > 10)
                return false;
            for (int k = take(); k > 0; --k, ++done) {
                lastAnswer = c.lastRead;
                if (!open.empty()) {
                    latency->push_back(float(double(c.lastRead - open.front()) / 1e6));
                    open.pop_front();
                }
            }
            if (done >= n)
                break;
            if (open.empty()) {
                each();
                if (!send())
                    return false;
            } else if (nowNs() >= lastSend + int64_t(stallSeconds * 1e9)) {
                ++stalls;
                if (open.size() > 4) { // answers that will never come
                    lost += long(open.size());
                    open.clear();
                }
                each();
                if (!send())
                    return false;
            }
        }
        return true;
    }
    // While the device may be away: a command every `every` seconds until one is answered; the
    // time of that answer, or -1 at the deadline.
    int64_t firstAnswer(double every, int64_t deadline)
    {
        while (nowNs() < deadline) {
            send();
            const int64_t next = std::min(deadline, after(every));
            while (nowNs() < next) {
                c.pump(next);
                if (take() > 0)
                    return c.lastRead;
            }
        }
        return -1;
    }
    // Reads for `seconds` and forgets whatever was open.
    void drain(double seconds)
    {
        c.keepReading(seconds);
        take();
        open.clear();
    }
};

// Closes this side and waits for the bridge to close its own, so that the next client never meets
// a bridge still busy with this one's leaving; false when it did not within 5 s.
bool leave(Conn &k)
{
    shutdown(k.fd, SHUT_WR);
    const int64_t deadline = after(5);
    while (!k.closed && nowNs() < deadline)
        k.pump(deadline);
    k.shut();
    return k.closed;
}

// One client that connects, optionally sends one command and waits for its answer, then leaves.
// Like a control program it asks once more after 100 ms without an answer: the bridge may hold a
// complete answer until the device sends again. 0: fine; 1: no answer; 2: no connection; 3: the
// bridge never closed; 4: answered after asking again.
int cycle(bool command)
{
    Conn k;
    if (!k.open())
        return 2;
    int result = 0;
    if (command && !(k.send(statusQuery) && k.waitFor(statusReply, 0, 0.1)))
        result = k.send(statusQuery) && k.waitFor(statusReply, 0, 2) ? 4 : 1;
    if (!leave(k) && !result)
        result = 3;
    return result;
}

} // namespace

// The month: a warm-up day, then --days days of polling on one long connection (--commands in all)
// each followed by connection-per-command clients (--cycles in all; --bare-cycles: connect and close
// only, for the window, whose panes keep every command); then --replugs replugs of the device
// during polling. Resident memory and open files of --pid are sampled about --samples times.
int benchMonth(const Options &o)
{
    const long pid = o.whole("pid", 0), commands = o.whole("commands", 0), cycles = o.whole("cycles", 0);
    const long days = std::max(1L, o.whole("days", 30)), replugs = o.whole("replugs", 0);
    const long samples = std::max(10L, o.whole("samples", 300)), projector = o.whole("projector-pid", 0);
    const bool bare = o.has("bare-cycles");
    const double stall = o.num("stall-ms", 20) / 1000, outage = o.num("outage-ms", 300) / 1000;
    const double stuckAfter = o.num("stuck-seconds", 10);
    const std::string dir = o.need("out-dir"), projectorLog = o.str("projector-log");
    if (!pid)
        die("month needs --pid");
    if (replugs && (!projector || projectorLog.empty()))
        die("--replugs needs --projector-pid and --projector-log");

    FILE *sampleOut = openOut(dir + "/samples.txt"), *dayOut = openOut(dir + "/days.txt");
    std::fprintf(sampleOut, "# seconds phase commands cycles rss_kb fds\n");
    std::fprintf(dayOut, "# day commands p50_ms p99_ms stalls cycle_failures\n");
    const int64_t start = nowNs();
    long commandsDone = 0, cyclesDone = 0, work = 0, nextSample = 0, cycleFailures[5] = {0, 0, 0, 0, 0};
    const long sampleEvery = std::max(1L, (commands + cycles + (commands + cycles) / days) / samples);
    std::string phase = "warmup";
    auto sample = [&]() {
        std::fprintf(sampleOut, "%.2f %s %ld %ld %ld %ld\n", secondsSince(start), phase.c_str(), commandsDone,
                     cyclesDone, rssKb(pid), openFds(pid));
        std::fflush(sampleOut);
    };
    auto tick = [&]() {
        if (++work >= nextSample) {
            sample();
            nextSample = work + sampleEvery;
        }
    };

    Poller p;
    long stallsBefore = 0;
    std::vector<float> latency;
    std::vector<double> dayP50;
    auto day = [&](long d, long n, long k) {
        if (n > 0) {
            if (!p.connect(30))
                die("the bridge never accepted the poller");
            latency.clear();
            latency.reserve(size_t(n));
            if (!p.run(n, stall, &latency, [&] { ++commandsDone, tick(); }))
                die("the bridge stopped answering the poller on day " + std::to_string(d));
            // The poller leaves before the day's other clients come: each would take the bridge over.
            if (!leave(p.c))
                ++cycleFailures[3];
        }
        long failed = 0;
        for (long i = 0; i < k; ++i) {
            const int r = cycle(!bare);
            ++cycleFailures[r];
            failed += r != 0 && r != 4;
            ++cyclesDone;
            tick();
        }
        if (d > 0) {
            std::fprintf(dayOut, "%ld %ld %.4f %.4f %ld %ld\n", d, n, quantile(latency, 0.5), quantile(latency, 0.99),
                         p.stalls - stallsBefore, failed);
            std::fflush(dayOut);
            dayP50.push_back(quantile(latency, 0.5));
        }
        stallsBefore = p.stalls;
    };

    day(0, commands / days, cycles / days);
    commandsDone = cyclesDone = 0;
    phase = "month";
    sample();
    const long warmRss = rssKb(pid), warmFds = openFds(pid);
    for (long d = 1; d <= days; ++d)
        day(d, commands * d / days - commands * (d - 1) / days, cycles * d / days - cycles * (d - 1) / days);
    sample();
    const long monthRss = rssKb(pid), monthFds = openFds(pid);

    // Replugs: polling goes on; while the device is away commands are dropped, so one goes every
    // 50 ms until one is answered after the device is back.
    phase = "replugs";
    FILE *replugOut = openOut(dir + "/replugs.txt");
    std::fprintf(replugOut, "# replug unplug_ns plug_ns answer_ns reopen_s\n");
    long replugsDone = 0, stuck = 0, stuckInRow = 0;
    if (replugs && !p.connect(30))
        die("the bridge never accepted the poller");
    for (long r = 1; r <= replugs && stuckInRow < 3; ++r) {
        std::vector<float> ignored;
        if (!p.run(20, stall, &ignored, [&] { tick(); })) {
            stuckInRow = 3; // the device never came back
            break;
        }
        p.drain(0.02);
        const int64_t unplugAt = nowNs();
        kill(pid_t(projector), SIGUSR1);
        const int64_t back = unplugAt + int64_t(outage * 1e9);
        while (nowNs() < back) {
            p.send();
            p.c.pump(std::min(back, after(0.05)));
        }
        const off_t logFrom = fileSize(projectorLog);
        kill(pid_t(projector), SIGUSR2);
        const int64_t plugAt = plugLogged(projectorLog, logFrom, 2);
        p.take();
        const int64_t answerAt = p.firstAnswer(0.05, after(stuckAfter));
        p.drain(0.2);
        ++replugsDone;
        stuck += answerAt < 0;
        stuckInRow = answerAt < 0 ? stuckInRow + 1 : 0;
        std::fprintf(replugOut, "%ld %lld %lld %lld %.4f\n", r, (long long)unplugAt, (long long)plugAt,
                     (long long)answerAt, answerAt < 0 || plugAt < 0 ? -1.0 : double(answerAt - plugAt) / 1e9);
        std::fflush(replugOut);
    }
    std::fclose(replugOut);
    sample();

    const size_t edge = std::max<size_t>(1, dayP50.size() / 10);
    auto medianOf = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? -1 : v[v.size() / 2];
    };
    FILE *sum = openOut(dir + "/summary.env");
    std::fprintf(sum, "commands=%ld\ncycles=%ld\ndays=%ld\nstalls=%ld\nlost=%ld\n", commandsDone, cyclesDone, days,
                 p.stalls, p.lost);
    std::fprintf(sum, "cycles_unanswered=%ld\ncycles_refused=%ld\ncycles_unclosed=%ld\ncycles_asked_again=%ld\n",
                 cycleFailures[1], cycleFailures[2], cycleFailures[3], cycleFailures[4]);
    std::fprintf(sum, "rss_warm_kb=%ld\nrss_month_kb=%ld\nrss_end_kb=%ld\n", warmRss, monthRss, rssKb(pid));
    std::fprintf(sum, "fds_warm=%ld\nfds_month=%ld\nfds_end=%ld\n", warmFds, monthFds, openFds(pid));
    std::fprintf(sum, "p50_early_ms=%.4f\np50_late_ms=%.4f\n",
                 medianOf(std::vector<double>(dayP50.begin(), dayP50.begin() + long(std::min(edge, dayP50.size())))),
                 medianOf(std::vector<double>(dayP50.end() - long(std::min(edge, dayP50.size())), dayP50.end())));
    std::fprintf(sum, "replugs=%ld\nreplugs_stuck=%ld\nseconds=%.1f\n", replugsDone, stuck, secondsSince(start));
    std::fclose(sum);
    std::fclose(sampleOut);
    std::fclose(dayOut);
    std::fprintf(stderr, "tvbench: month of %ld commands, %ld cycles, %ld replugs in %.0f s\n", commandsDone,
                 cyclesDone, replugsDone, secondsSince(start));
    return 0;
}

// A bridge started before its device: a command every 100 ms from the start until one is answered
// (at most --seconds); then the time from the device's first PLUG line to that answer.
int benchFirstAnswer(const Options &o)
{
    const std::string log = o.need("projector-log");
    const int64_t start = nowNs(), deadline = after(o.num("seconds", 120));
    Poller p;
    if (!p.connect(30))
        die("the bridge never accepted");
    const int64_t answerAt = p.firstAnswer(0.1, deadline);
    const int64_t plugAt = plugLogged(log, 0, 0);
    FILE *out = openOut(o.need("out"));
    std::fprintf(out, "late_start_s=%.3f\nlate_plug_after_s=%.3f\nlate_answer_s=%.4f\n", secondsSince(start),
                 plugAt < 0 ? -1.0 : double(plugAt - start) / 1e9,
                 answerAt < 0 || plugAt < 0 ? -1.0 : double(answerAt - plugAt) / 1e9);
    std::fclose(out);
    return answerAt < 0 ? 1 : 0;
}

// Datagrams from the room at --per-second, every --probe-every-th a probe, until --stop-file appears
// or --seconds pass; counts the discovery replies.
int benchDatagrams(const Options &o)
{
    const std::string target = o.need("target"), stop = o.need("stop-file");
    const double rate = std::max(1.0, o.num("per-second", 100));
    const long probeEvery = std::max(1L, o.whole("probe-every", 10));
    const int64_t deadline = after(o.num("seconds", 3600)), interval = int64_t(1e9 / rate);
    const int rx = udpSocket("4", product::udpTxPort), tx = udpSocket("4", 0);
    Random r(o.whole("seed", 1));
    // Mostly other devices' chatter; every --probe-every-th is a discovery probe.
    long sent = 0, probes = 0, replies = 0;
    std::string data;
    int64_t at;
    const int64_t start = nowNs();
    while (nowNs() < deadline && (sent % 100 || access(stop.c_str(), F_OK) != 0)) {
        const bool isProbe = sent % probeEvery == 0;
        sendDatagram(tx, target, product::udpRxPort, isProbe ? probe(r) : "room " + std::to_string(sent));
        probes += isProbe;
        ++sent;
        while (receiveDatagram(rx, 0, &data, &at))
            replies += counterOf(data) >= 0;
        sleepUntil(start + sent * interval);
    }
    const int64_t last = after(2);
    while (replies < probes && receiveDatagram(rx, last, &data, &at))
        replies += counterOf(data) >= 0;
    FILE *out = openOut(o.need("out"));
    std::fprintf(out, "datagrams=%ld\nprobes=%ld\nprobe_replies=%ld\n", sent, probes, replies);
    std::fclose(out);
    return 0;
}

} // namespace tvbench
