#include "bench/tvbench/modes.h"

#include "bench/tvbench/sockets.h"
#include "bench/tvbench/traffic.h"

#include <algorithm>
#include <vector>

namespace tvbench {

// Commands go one at a time, "op status ?". A reply still missing after --timeout-ms is a stall:
// the next command goes out anyway (a control program would retry), since a bridge holding a
// complete reply may pass it on only when the device sends again; replies answer the oldest open
// command, in order. More than --max-stalls stalls end the run (exit 4). The first --warmup
// commands wait --warmup-ms (1 s) instead, so a bridge still starting never gets two commands in one read.
// With --stop-file, no command goes out once that file exists: the run ends early, in good order.
int benchRtt(const Options &o)
{
    const long count = o.whole("count", 0), gapMs = o.whole("gap-ms", 0), pid = o.whole("pid", 0);
    const long rssEvery = o.whole("rss-every", 0), warmup = o.whole("warmup", 10);
    const long maxStalls = o.whole("max-stalls", count / 4 + 50);
    const int64_t timeout = int64_t(o.num("timeout-ms", 250) * 1e6);
    const int64_t warmupWait = int64_t(o.num("warmup-ms", 1000) * 1e6);
    const std::string stopFile = o.str("stop-file");
    if (!count)
        die("rtt needs --count");
    // The bridge closes its current client whenever an earlier one goes, so no port check goes
    // first: connections are tried until the bridge accepts, up to a minute.
    Conn c;
    const int port = int(o.whole("port", tcpPort));
    for (int attempt = 0; attempt < 600 && !c.open(o.str("host", "127.0.0.1"), port); ++attempt)
        usleep(100000);
    if (c.fd < 0)
        die(std::string("connect: ") + std::strerror(errno));
    // The next reply line and the time of the read that completed it. Relays that pass the
    // projector's echo on are read past: the reply is the first line that begins with "OP ".
    size_t line = 0;
    enum { Reply, Closed, TimedOut };
    auto reply = [&](int64_t deadline, int64_t *at) {
        for (;;) {
            const size_t nl = c.got.find('\n', line);
            if (nl != std::string::npos) {
                const bool isReply = c.got.compare(line, 3, "OP ") == 0;
                line = nl + 1;
                if (isReply) {
                    *at = c.lastRead;
                    return Reply;
                }
            } else if (c.closed) {
                return Closed;
            } else if (nowNs() >= deadline) {
                return TimedOut;
            } else {
                c.pump(deadline);
            }
        }
    };
    FILE *out = openOut(o.need("out"));
    FILE *rss = o.has("rss-out") ? openOut(o.str("rss-out")) : nullptr;
    std::fprintf(out, "# i send_ns reply_ns stalled\n");
    std::vector<int64_t> sent(size_t(count) + 1, 0);
    std::vector<char> stalled(size_t(count) + 1, 0);
    long next = 1, answered = 0, stalls = 0, extra = 0;
    const int64_t start = nowNs();
    int64_t lastSend = 0;
    auto sendOne = [&]() {
        if (next <= count) {
            if (rss && rssEvery && (next - 1) % rssEvery == 0 && answered == next - 1)
                std::fprintf(rss, "%ld %ld\n", next - 1, rssKb(pid));
            sent[size_t(next++)] = lastSend = nowNs();
        } else {
            lastSend = nowNs();
            ++extra; // a nudge after the last command, not measured
        }
        if (!c.send(statusQuery))
            die("send failed");
    };
    sendOne();
    while (answered < count) {
        int64_t got = 0;
        const int res = reply(lastSend + (answered < warmup ? warmupWait : timeout), &got);
        if (res == Closed) {
            std::fprintf(stderr, "tvbench: command %ld: connection closed\n", answered + 1);
            return 3;
        }
        if (res == TimedOut) {
            stalled[size_t(answered + 1)] = 1;
            if (++stalls > maxStalls || extra > 10) {
                std::fprintf(stderr, "tvbench: command %ld: no reply in time, %ld stalls: giving up\n", answered + 1,
                             stalls);
                return 4;
            }
            sendOne();
            continue;
        }
        ++answered;
        std::fprintf(out, "%ld %lld %lld %d\n", answered, (long long)sent[size_t(answered)], (long long)got,
                     int(stalled[size_t(answered)]));
        if (answered == next - 1 && next <= count) {
            if (gapMs)
                usleep(useconds_t(gapMs * 1000)); // a control program's pause between commands
            if (!stopFile.empty() && access(stopFile.c_str(), F_OK) == 0)
                break;
            sendOne();
        }
    }
    if (rss) {
        std::fprintf(rss, "%ld %ld\n", count, rssKb(pid));
        std::fclose(rss);
    }
    std::fprintf(stderr, "tvbench: %ld commands in %.1f s, %ld stalls\n", answered, secondsSince(start), stalls);
    std::fclose(out);
    return 0;
}

// Probes sent at a steady rate (--per-ms per millisecond) to a fresh bridge, replies collected
// until all have come or none for 2 s. Writes "P index send_ns" and "R counter receive_ns" lines.
int benchDiscovery(const Options &o)
{
    const std::string target = o.need("target");
    const long count = o.whole("count", 2000);
    const int64_t interval = int64_t(1e6 / std::max(0.001, o.num("per-ms", 4)));
    const int rx = udpSocket("4", product::udpTxPort), tx = udpSocket("4", 0);
    std::vector<std::pair<long, int64_t>> replies;
    auto take = [&](int64_t deadline) {
        std::string data;
        int64_t at;
        if (!receiveDatagram(rx, deadline, &data, &at))
            return false;
        replies.emplace_back(counterOf(data), at);
        return true;
    };
    std::vector<int64_t> sent;
    const int64_t start = nowNs();
    for (long i = 0; i < count; ++i) {
        sleepUntil(start + i * interval);
        sent.push_back(nowNs());
        sendDatagram(tx, target, product::udpRxPort, "?ZZ?");
        while (take(0)) { }
    }
    int64_t last = nowNs();
    while (long(replies.size()) < count && take(last + 2000000000LL))
        last = replies.back().second;
    FILE *out = openOut(o.need("out"));
    for (size_t i = 0; i < sent.size(); ++i)
        std::fprintf(out, "P %zu %lld\n", i, (long long)sent[i]);
    for (const auto &rep : replies)
        std::fprintf(out, "R %ld %lld\n", rep.first, (long long)rep.second);
    std::fclose(out);
    std::fprintf(stderr, "tvbench: %ld probes, %zu replies\n", count, replies.size());
    return 0;
}

// Once a second: a datagram of nested markup (none with --markup-bytes 0), 20 ms later a probe and
// "op model ?" over TCP, answered by a bridge with no serial port. A command goes out only when the
// last one has been answered (two in one read would be taken as one text). One line per second:
// "tick command_send_ns command_reply_ns probe_send_ns probe_reply_ns", -1 for what never came.
int benchStream(const Options &o)
{
    const std::string target = o.need("target");
    const long seconds = o.whole("seconds", 60), bytes = o.whole("markup-bytes", 60000);
    const std::string kind = o.str("markup-kind", "div");
    const long shell = long(nested(kind, 0).size()), level = long(nested(kind, 1).size()) - shell;
    const std::string markup = bytes > 0 ? nested(kind, std::max<long>(0, (bytes - shell) / level)) : std::string();
    Conn c;
    for (int attempt = 0; attempt < 600 && !c.open(target); ++attempt)
        usleep(100000);
    if (c.fd < 0)
        die("the bridge never accepted");
    const int rx = udpSocket("4", product::udpTxPort), tx = udpSocket("4", 0);
    std::vector<int64_t> cmdSent(size_t(seconds), -1), cmdReply(size_t(seconds), -1), probeSent(size_t(seconds), -1),
        probeReply(size_t(seconds), -1);
    long open = -1;       // the command still waiting for its answer
    size_t replyFrom = 0; // where its answer may begin
    auto serve = [&](int64_t until) {
        do {
            pollfd p[2] = {{c.closed ? -1 : c.fd, POLLIN, 0}, {rx, POLLIN, 0}};
            const int64_t left = until - nowNs();
            poll(p, 2, left > 0 ? int(left / 1000000) + 1 : 0);
            c.pump(nowNs());
            if (open >= 0 && c.got.find(product::modelAnswer, replyFrom) != std::string::npos) {
                cmdReply[size_t(open)] = nowNs();
                replyFrom = c.got.size();
                open = -1;
            }
            std::string data;
            int64_t at;
            while (receiveDatagram(rx, 0, &data, &at))
                if (counterOf(data) >= 0 && counterOf(data) < seconds)
                    probeReply[size_t(counterOf(data))] = at;
        } while (nowNs() < until);
    };
    const int64_t start = nowNs();
    for (long i = 0; i < seconds; ++i) {
        const int64_t tick = start + i * 1000000000LL;
        serve(tick);
        if (!markup.empty())
            sendDatagram(tx, target, product::udpRxPort, markup);
        serve(tick + 20000000);
        probeSent[size_t(i)] = nowNs();
        sendDatagram(tx, target, product::udpRxPort, "?ZZ?");
        if (open < 0) {
            replyFrom = c.got.size();
            cmdSent[size_t(i)] = nowNs();
            c.send(std::string(product::modelQuery) + "\r\n");
            open = i;
        }
    }
    // What is still owed gets up to 10 s more.
    const int64_t deadline = after(10);
    while (nowNs() < deadline && (open >= 0 || std::count(probeReply.begin(), probeReply.end(), -1) > 0))
        serve(std::min(deadline, after(0.05)));
    FILE *out = openOut(o.need("out"));
    std::fprintf(out, "# markup_bytes %zu kind %s\n", markup.size(), kind.c_str());
    for (long i = 0; i < seconds; ++i)
        std::fprintf(out, "%ld %lld %lld %lld %lld\n", i, (long long)cmdSent[size_t(i)], (long long)cmdReply[size_t(i)],
                     (long long)probeSent[size_t(i)], (long long)probeReply[size_t(i)]);
    std::fclose(out);
    return 0;
}

} // namespace tvbench
