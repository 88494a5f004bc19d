#include "bench/tvbench/status.h"

#include "bench/tvbench/sockets.h"
#include "bench/tvbench/traffic.h"

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>
#include <vector>

namespace tvbench {

HttpAnswer httpGet(const std::string &host, int port, const std::string &path, double seconds)
{
    HttpAnswer a;
    const int64_t deadline = after(seconds);
    Conn c;
    if (!c.open(host, port, seconds)
        || !c.send("GET " + path + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n", seconds))
        return a;
    while (!c.closed && nowNs() < deadline)
        c.pump(deadline);
    const size_t head = c.got.find("\r\n\r\n");
    if (!c.closed || c.got.compare(0, 5, "HTTP/") != 0 || head == std::string::npos)
        return a; // late or not HTTP: no answer
    a.code = std::atoi(c.got.c_str() + c.got.find(' ') + 1);
    a.body = c.got.substr(head + 4);
    return a;
}

namespace {

// A top-level value of the compact JSON the endpoint writes: a string's text, or the literal.
std::string jsonField(const std::string &json, const std::string &name)
{
    const std::string key = "\"" + name + "\":";
    size_t at = json.find(key);
    if (at == std::string::npos)
        return {};
    at += key.size();
    if (json[at] == '"')
        return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}", at) - at);
}

volatile sig_atomic_t stopRequested = 0;

} // namespace

// Connections one after another; each carries its share of the commands ("op status ?", the next
// once the reply is in or 100 ms have gone), then its share of the datagrams (probes evenly among
// them) follows while no client is connected, and after some of them the device is unplugged and
// plugged back in while idle. Writes "expect COUNTER VALUE" lines, the counts the endpoint must
// report, "note NAME VALUE" lines, and the endpoint's final /status to --status-out. A reply the
// bridge holds back (echo and reply in one read of the port) is counted as it reaches the client.
int statusCounters(const Options &o)
{
    const std::string host = o.str("host", "127.0.0.1");
    const int statusPort = int(o.whole("status-port", product::statusPort));
    const long commands = o.whole("commands", 10000), datagrams = o.whole("datagrams", 1000);
    const long probes = o.whole("probes", 100), connections = o.whole("connections", 100);
    const long replugs = o.whole("replugs", 5), projector = o.whole("projector-pid", 0);
    if (connections < 1 || probes > datagrams || replugs > connections || (replugs && projector <= 1))
        die("counters: needs --connections >= 1, --probes <= --datagrams, --replugs <= --connections, --projector-pid");
    FILE *out = openOut(o.need("out"));
    const auto share = [&](long total, long k) { return total * (k + 1) / connections - total * k / connections; };
    const auto waitStatus = [&](double seconds, auto ok) {
        const int64_t deadline = after(seconds);
        for (int tries = 0; nowNs() < deadline && tries < 100000; ++tries) {
            const HttpAnswer a = httpGet(host, statusPort, "/status", 2);
            if (a.code == 200 && ok(a.body))
                return true;
            usleep(20000);
        }
        return false;
    };

    std::map<std::string, long> n;
    std::string failure;
    const int udp = udpSocket("4", 0);
    long datagram = 0;
    const int64_t start = nowNs();
    for (long k = 0; k < connections && failure.empty(); ++k) {
        if (!waitSettled(10)) {
            failure = "the bridge kept a closed connection for 10 s";
            break;
        }
        Conn c;
        if (!c.open(host, tcpPort)) {
            failure = std::string("connect: ") + std::strerror(errno);
            break;
        }
        ++n["connections"];
        size_t scanned = 0;
        long replies = 0, sent = 0;
        const auto collect = [&](int64_t deadline) {
            for (;;) {
                for (size_t at; (at = c.got.find(statusReply, scanned)) != std::string::npos;)
                    ++replies, scanned = at + statusReply.size();
                if (replies >= sent || c.closed || nowNs() >= deadline)
                    return replies >= sent;
                c.pump(deadline);
            }
        };
        for (long i = 0; i < share(commands, k); ++i) {
            if (!c.send(statusQuery)) {
                failure = "the bridge closed the connection";
                break;
            }
            ++sent;
            if (!collect(after(0.1)))
                ++n["stalls"]; // the next command goes anyway and lets the held reply out
        }
        collect(after(0.5));
        // Unplugged while this client is still connected: a reply held back that the bridge takes when
        // the line hangs up reaches it, and is counted.
        if (share(replugs, k) && failure.empty()) {
            const std::string step = "replug " + std::to_string(n["replugs"] + 1) + ": ";
            const std::string reopens = std::to_string(n["replugs"] + 1);
            kill(pid_t(projector), SIGUSR1);
            if (!waitStatus(15, [](const std::string &s) { return jsonField(s, "port_state") != "open"; })) {
                failure = step + "/status never left \"open\" after the unplug";
            } else {
                ++n["unplugs"];
                kill(pid_t(projector), SIGUSR2);
                if (waitStatus(30, [&](const std::string &s) {
                        return jsonField(s, "port_state") == "open" && jsonField(s, "reopens") == reopens;
                    }))
                    ++n["replugs"];
                else
                    failure = step + "/status never said \"open\" with reopens " + reopens + " after the plug";
            }
        }
        collect(after(0.5));
        n["commands"] += sent;
        n["replies"] += replies;
        c.shut();

        for (long j = 0; j < share(datagrams, k); ++j, ++datagram) {
            const bool probe = (datagram + 1) * probes / datagrams > datagram * probes / datagrams;
            sendDatagram(udp, host, product::udpRxPort, probe ? "?ZZ?" : "status bench " + std::to_string(datagram));
            ++n["datagrams"];
            n["probes"] += probe;
            usleep(500); // no burst that a receive buffer could drop
        }
    }
    waitSettled(10);
    waitStatus(10, [](const std::string &s) { return jsonField(s, "current_client") == "null"; });
    const HttpAnswer last = httpGet(host, statusPort, "/status", 5);
    FILE *status = openOut(o.need("status-out"));
    std::fputs(last.body.c_str(), status);
    std::fclose(status);

    // What the device sent, from its own log: a reply the bridge took with no client connected
    // (let out by the hang-up) is read from the port but never forwarded.
    long deviceEchoes = 0, deviceReplies = 0;
    {
        FILE *log = openOut(o.need("projector-log"), "r");
        char line[512];
        while (std::fgets(line, sizeof line, log)) {
            deviceEchoes += std::strstr(line, " ECHO ") != nullptr;
            deviceReplies += std::strstr(line, " REPLY ") != nullptr;
        }
        std::fclose(log);
    }
    const std::string query = statusQuery, reply = statusReply;
    const long echo = long(query.size()); // the device echoes the command line as it came
    const std::vector<std::pair<const char *, long>> expected = {
        {"commands_written", n["commands"]},
        {"replies_forwarded", n["replies"]},
        {"echoes_dropped", n["commands"]},
        {"timeouts", 0},
        {"local_answers", 0},
        {"bytes_to_serial", n["commands"] * long(query.size())},
        {"bytes_from_serial", deviceEchoes * echo + deviceReplies * long(reply.size())},
        {"bytes_to_tcp", n["replies"] * long(reply.size())},
        {"bytes_from_tcp", n["commands"] * long(query.size())},
        {"tcp_accepted", n["connections"]},
        {"probes_answered", n["probes"]},
        {"datagrams", n["datagrams"]},
        {"reopens", n["replugs"]},
        {"losses", n["unplugs"]},
    };
    for (const auto &[name, value] : expected)
        std::fprintf(out, "expect %s %ld\n", name, value);
    std::fprintf(out, "expect port_state open\nexpect current_client null\n");
    for (const char *name : {"commands", "datagrams", "probes", "connections", "replugs"})
        std::fprintf(out, "note planned_%s %ld\n", name, o.whole(name, 0));
    std::fprintf(out, "note stalls %ld\nnote seconds %.1f\nnote http %d\n", n["stalls"], secondsSince(start),
                 last.code);
    if (!failure.empty())
        std::fprintf(out, "note failure %s\n", failure.c_str());
    std::fclose(out);
    std::fprintf(stderr,
                 "tvbench: %ld commands, %ld replies, %ld datagrams, %ld connections, %ld replugs in %.1f s%s\n",
                 n["commands"], n["replies"], n["datagrams"], n["connections"], n["replugs"], secondsSince(start),
                 failure.empty() ? "" : ("; " + failure).c_str());
    return failure.empty() ? 0 : 1;
}

// GET --path every --every-ms until SIGTERM or --seconds; one line per request: "send_ns took_ns
// code bytes", code 0 when no complete answer came within 5 s.
int statusScrape(const Options &o)
{
    const std::string host = o.str("host", "127.0.0.1"), path = o.str("path", "/metrics");
    const int port = int(o.whole("port", product::statusPort));
    const int64_t every = int64_t(std::max(1.0, o.num("every-ms", 100)) * 1e6);
    const int64_t end = after(o.num("seconds", 600));
    signal(SIGTERM, [](int) { stopRequested = 1; });
    FILE *out = openOut(o.need("out"));
    std::fprintf(out, "# send_ns took_ns code bytes\n");
    const int64_t start = nowNs();
    for (int64_t tick = start; !stopRequested && tick < end;) {
        sleepUntil(tick);
        if (stopRequested)
            break;
        const int64_t t0 = nowNs();
        const HttpAnswer a = httpGet(host, port, path, 5);
        std::fprintf(out, "%lld %lld %d %zu\n", (long long)t0, (long long)(nowNs() - t0), a.code, a.body.size());
        tick = std::max(tick + every, nowNs()); // a late answer moves the next request, never piles them up
    }
    std::fclose(out);
    return 0;
}

namespace {

// One hostile client of the status port.
struct Attacker {
    enum Kind { Slow, Big, Junk } kind;
    int fd = -1;
    std::string pending; // what is still to be sent
    std::string got;
    int64_t opened = 0, nextLine = 0;
};

const char *kindName(Attacker::Kind k) { return k == Attacker::Slow ? "slow" : k == Attacker::Big ? "big" : "junk"; }

} // namespace

// For --seconds: --slowloris connections that send a request line and then one header line a
// second, each reopened a second after the server closes it; --big requests with a header of
// --header-bytes, and --junk connections of --junk-bytes random bytes, spread over the time; a
// plain GET /status every half second. Then everything is closed and /status is asked until it
// answers (at most 15 s). Writes "NAME VALUE" lines: the window (CLOCK_MONOTONIC ns), and per kind
// how many connected, were closed by the server, what it answered and how long they lived.
int statusHostile(const Options &o)
{
    const std::string host = o.str("host", "127.0.0.1");
    const int port = int(o.whole("port", product::statusPort));
    const long slow = o.whole("slowloris", 500), big = o.whole("big", 8), junk = o.whole("junk", 50);
    const long headerBytes = o.whole("header-bytes", 1 << 20), junkBytes = o.whole("junk-bytes", 65536);
    const double seconds = o.num("seconds", 30);
    Random random(o.whole("seed", 1));
    FILE *out = openOut(o.need("out"));

    std::map<std::string, double> n; // "KIND_connected", "KIND_closed", "KIND_refused", "KIND_code_NNN", ...
    std::map<std::string, double> longest;
    std::vector<std::unique_ptr<Attacker>> live;
    std::vector<int64_t> slowDue; // when a closed slowloris connection comes back
    const auto open = [&](Attacker::Kind kind, std::string first) {
        const int fd = connectTcp(host, port, 0.5);
        if (fd < 0) {
            ++n[std::string(kindName(kind)) + "_refused"];
            return;
        }
        ++n[std::string(kindName(kind)) + "_connected"];
        auto a = std::make_unique<Attacker>();
        a->kind = kind;
        a->fd = fd;
        a->pending = std::move(first);
        a->opened = a->nextLine = nowNs();
        live.push_back(std::move(a));
    };
    const auto finish = [&](Attacker &a, bool byServer) {
        const std::string kind = kindName(a.kind);
        if (byServer) {
            ++n[kind + "_closed"];
            if (a.got.compare(0, 5, "HTTP/") == 0)
                ++n[kind + "_code_" + a.got.substr(9, 3)];
            longest[kind] = std::max(longest[kind], secondsSince(a.opened));
            if (a.kind == Attacker::Slow)
                slowDue.push_back(after(1));
        }
        close(a.fd);
        a.fd = -1;
    };

    const int64_t start = nowNs(), end = after(seconds);
    std::fprintf(out, "start_ns %lld\n", (long long)start);
    for (long i = 0; i < slow; ++i)
        open(Attacker::Slow, "GET /status HTTP/1.1\r\nHost: bench\r\n");
    long bigStarted = 0, junkStarted = 0, legitTries = 0, legitOk = 0;
    int64_t nextLegit = after(0.5);
    for (int round = 0; nowNs() < end && round < 10000000; ++round) {
        const int64_t now = nowNs();
        const double done = double(now - start) / double(end - start);
        while (bigStarted < big && bigStarted < long(done * double(big)) + 1) {
            open(Attacker::Big,
                 "GET /status HTTP/1.1\r\nHost: bench\r\nX-Big: " + std::string(size_t(headerBytes), 'a') + "\r\n\r\n");
            ++bigStarted;
        }
        while (junkStarted < junk && junkStarted < long(done * double(junk)) + 1) {
            open(Attacker::Junk, random.bytes(junkBytes));
            ++junkStarted;
        }
        for (auto it = slowDue.begin(); it != slowDue.end();) {
            if (*it <= now) {
                open(Attacker::Slow, "GET /status HTTP/1.1\r\nHost: bench\r\n");
                it = slowDue.erase(it);
            } else {
                ++it;
            }
        }
        if (now >= nextLegit) {
            ++legitTries;
            legitOk += httpGet(host, port, "/status", 0.5).code == 200;
            nextLegit = after(0.5);
        }

        std::vector<pollfd> fds;
        for (const auto &a : live) {
            if (a->kind == Attacker::Slow && a->pending.empty() && nowNs() >= a->nextLine) {
                a->pending = "X-Slow-" + std::to_string(random.between(0, 999999)) + ": x\r\n";
                a->nextLine = after(1);
            }
            fds.push_back({a->fd, short(POLLIN | (a->pending.empty() ? 0 : POLLOUT)), 0});
        }
        poll(fds.data(), fds.size(), 10);
        for (size_t i = 0; i < fds.size(); ++i) {
            Attacker &a = *live[i];
            bool gone = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[16384];
                const ssize_t r = recv(a.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (r > 0 && a.got.size() < 65536)
                    a.got.append(buf, size_t(r));
                gone = r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR);
            }
            if (!gone && (fds[i].revents & POLLOUT) && !a.pending.empty()) {
                const ssize_t w = send(a.fd, a.pending.data(), std::min<size_t>(a.pending.size(), 65536),
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                if (w > 0) {
                    a.pending.erase(0, size_t(w));
                    n[std::string(kindName(a.kind)) + "_bytes_sent"] += double(w);
                } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                    gone = true;
                }
            }
            if (gone)
                finish(a, true);
        }
        live.erase(std::remove_if(live.begin(), live.end(), [](const auto &a) { return a->fd < 0; }), live.end());
    }
    for (auto &a : live) {
        n[std::string(kindName(a->kind)) + "_open_at_end"] += 1;
        longest[kindName(a->kind)] = std::max(longest[kindName(a->kind)], secondsSince(a->opened));
        finish(*a, false);
    }
    const int64_t stop = nowNs();
    std::fprintf(out, "end_ns %lld\n", (long long)stop);

    double recovered = -1;
    for (int tries = 0; tries < 150 && recovered < 0 && secondsSince(stop) < 15; ++tries) {
        const HttpAnswer a = httpGet(host, port, "/status", 1);
        if (a.code == 200 && a.body.compare(0, 1, "{") == 0)
            recovered = secondsSince(stop);
        else
            usleep(100000);
    }
    for (const auto &[name, value] : n)
        std::fprintf(out, "%s %.0f\n", name.c_str(), value);
    for (const auto &[kind, s] : longest)
        std::fprintf(out, "%s_longest_s %.2f\n", kind.c_str(), s);
    std::fprintf(out, "legit_tries %ld\nlegit_ok %ld\nrecovered_s %.3f\n", legitTries, legitOk, recovered);
    std::fclose(out);
    std::fprintf(stderr, "tvbench: hostile for %.1f s; /status %s\n", double(stop - start) / 1e9,
                 recovered < 0 ? "never answered again"
                               : ("answered again after " + std::to_string(recovered) + " s").c_str());
    return recovered < 0 ? 1 : 0;
}

} // namespace tvbench
