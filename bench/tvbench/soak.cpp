#include "bench/tvbench/soak.h"

#include "bench/tvbench/sockets.h"
#include "bench/tvbench/traffic.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>

namespace tvbench {

namespace {

// Lets out a reply the bridge still holds: each further command makes the device talk, and each
// arrival of data lets the bridge take one more line.
bool release(Phase &ph, Conn &c, size_t start, const std::string &marker, int nudges)
{
    for (int i = 0; i < nudges; ++i) {
        // One command per read: wait until the bridge has taken the previous one.
        if (ph.left() <= 0 || c.waitConsumed(10) < 0)
            break;
        ++ph.counts["nudges"];
        c.send(statusQuery);
        if (c.waitFor(marker, start, 0.5))
            return true;
    }
    return false;
}

// Times one command's reply, sent when the device is quiet and the bridge holds no old lines. The
// bridge takes one device line per arrival of data, so lines that came in one read wait for the next
// arrival (by design); such a late reply is let out by further commands and counted, not timed.
double roundTrip(Phase &ph, Conn &c, const std::string &command, const std::string &marker, double timeout = 3)
{
    const double wait = std::max(1.0, std::min(30.0, ph.left()));
    if (c.waitConsumed(wait) < 0) {
        ph.fail("the bridge stopped reading its TCP client");
        return -1;
    }
    if (!projectorQuiet(ph.projectorLog, 0.15, wait)) {
        ph.fail("the virtual projector never went quiet");
        return -1;
    }
    // Lines are taken in order: a query answered on time, with nothing else coming out, leaves
    // nothing older waiting.
    for (int i = 0; i < 8; ++i) {
        const size_t start = c.got.size();
        c.send(statusQuery);
        if (c.waitFor(statusReply, start, 3)) {
            projectorQuiet(ph.projectorLog, 0.2, 10);
            c.pump(nowNs());
            if (c.since(start) == statusReply)
                break;
            continue;
        }
        ++ph.counts["backlog_flushes"];
        if (!release(ph, c, start, statusReply, 200)) {
            ph.fail("the bridge never let out the device's answers (got " + shown(c.since(start)) + ")");
            return -1;
        }
        c.waitConsumed(10);
        projectorQuiet(ph.projectorLog, 0.15, 10);
    }
    c.waitConsumed(10);
    projectorQuiet(ph.projectorLog, 0.1, 10);
    const size_t start = c.got.size();
    const int64_t t0 = nowNs();
    c.send(command);
    if (c.waitFor(marker, start, timeout))
        return secondsSince(t0);
    ++ph.counts["late_replies"];
    if (!release(ph, c, start, marker, 200))
        ph.fail("no " + shown(marker) + " after " + shown(command) + " and 200 more commands (got "
                + shown(c.since(start)) + ")");
    return -1;
}

// A client once the bridge has seen off the earlier ones.
bool openClient(Phase &ph, Conn &c)
{
    waitSettled(30);
    if (c.open())
        return true;
    ph.fail(std::string("cannot connect: ") + std::strerror(errno));
    return false;
}

} // namespace

int phaseWaitListen(const Options &o)
{
    const int64_t deadline = after(o.num("budget", 120));
    while (nowNs() < deadline) {
        const int fd = connectTcp("127.0.0.1", tcpPort, 1);
        if (fd >= 0) {
            close(fd);
            // That connection is now the bridge's (closed) current client; let it see the close.
            waitSettled(double(deadline - nowNs()) / 1e9);
            return 0;
        }
        usleep(50000);
    }
    std::printf("  FAIL: nothing listens on TCP %d\n", tcpPort);
    return 1;
}

int phaseTcpFlood(const Options &o)
{
    Phase ph(o, "tcp");
    Random r(o.whole("seed", 1));
    const long total = o.whole("bytes", 1 << 20), every = o.whole("rtt-every", 64 * 1024);
    Conn c;
    if (!openClient(ph, c))
        return ph.finish();
    long sent = 0, nextRtt = 0, chunks = 0;
    std::vector<double> rtts, drains;
    while (sent < total && !ph.outOfTime() && ph.failures.empty()) {
        std::string chunk = junkChunk(r);
        chunk.resize(std::min<size_t>(chunk.size(), size_t(total - sent)));
        if (!c.send(chunk)) {
            ph.fail("send failed after " + std::to_string(sent) + " bytes");
            break;
        }
        sent += long(chunk.size());
        ++chunks;
        if (sent < nextRtt)
            continue;
        const double drain = c.waitConsumed(std::min(30.0, std::max(1.0, ph.left())));
        if (drain < 0) {
            ph.fail("the bridge stopped reading after " + std::to_string(sent) + " bytes");
            break;
        }
        drains.push_back(drain);
        const double rtt = roundTrip(ph, c, "op ser.no ?\r\n", serialNumberReply);
        if (rtt >= 0)
            rtts.push_back(rtt);
        nextRtt = sent + every;
    }
    c.waitConsumed(10);
    ph.put("bytes", sent);
    ph.put("chunks", chunks);
    ph.put("TCP read", latencies(drains));
    ph.put("command round trip", latencies(rtts));
    return ph.finish();
}

namespace {

// Proves the client is the bridge's current one: its query is answered to it.
bool current(Phase &ph, Conn &c, long cycle, const char *name)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        c.send("op model ?\r\n");
        if (c.waitFor(modelReply, 0, attempt == 0 ? 3 : 0.5))
            return true;
        if (c.closed)
            return false; // an earlier client's leaving took it along
    }
    ph.fail("cycle " + std::to_string(cycle) + ": client " + name + " never got its answer");
    return false;
}

// A and B fight over the one current-client slot. B connects after A and becomes current; A talks
// (the bridge reads B instead, so nothing comes of it) and leaves; the bridge then closes its
// current client, which is B.
int fight(Phase &ph, long cycle)
{
    const std::string at = "cycle " + std::to_string(cycle) + ": ";
    Conn a, b;
    bool found = false;
    for (int i = 0; i < 5 && !found; ++i) {
        // Whoever left before must be seen off first: each leaving closes the current client.
        if (!waitSettled(10))
            ph.fail(at + "the bridge never took in earlier clients leaving");
        if (!a.open()) {
            ph.fail(at + "cannot connect");
            return 0;
        }
        found = current(ph, a, cycle, "A");
    }
    if (!found) {
        ph.fail(at + "no client stayed current");
        return 0;
    }
    if (!b.open()) {
        ph.fail(at + "cannot connect B");
        return 0;
    }
    const bool ok = current(ph, b, cycle, "B");
    const size_t mark = a.got.size();
    a.send(statusQuery);
    a.keepReading(0.2);
    if (a.got.size() > mark)
        ph.fail(at + "the old client still gets replies: " + shown(a.since(mark), 80));
    a.shut();
    if (!ok)
        return 0;
    const int64_t deadline = after(5);
    while (!b.closed && nowNs() < deadline)
        b.pump(deadline);
    if (!b.closed)
        ph.fail(at + "the current client was not closed when the other one left");
    return b.closed ? 1 : 0;
}

} // namespace

// Connect/close cycles of every kind, and two clients fighting over the one current-client slot.
int phaseCycles(const Options &o)
{
    Phase ph(o, "cycles");
    Random r(o.whole("seed", 1));
    std::map<std::string, long> kinds;
    std::vector<int> held;
    long fightsClosed = 0;
    for (long i = 0; i < o.whole("count", 2000); ++i) {
        if (ph.outOfTime() || ph.failures.size() > 5)
            break;
        const std::string kind =
            r.pick<std::string>({"close", "reset", "send", "send-reset", "fight", "fight", "hold"});
        ++kinds[kind];
        if (kind == "fight") {
            fightsClosed += fight(ph, i);
            continue;
        }
        const int fd = connectTcp("127.0.0.1", tcpPort);
        if (fd < 0) {
            ph.fail("cycle " + std::to_string(i) + " (" + kind + "): " + std::strerror(errno));
            continue;
        }
        if (kind == "hold") {
            held.push_back(fd);
            if (held.size() < 40)
                continue;
            for (int h : held)
                close(h);
            held.clear();
            continue;
        }
        if (kind.compare(0, 4, "send") == 0) {
            const std::string bytes = r.pick<std::string>(
                {statusQuery, lit("\0"), "junk\r\n", repeat("<b>", 50), "op model ?", std::string(7, '\xff')});
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        if (kind.find("reset") != std::string::npos) {
            const linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        close(fd);
    }
    for (int h : held)
        close(h);
    std::string mix;
    for (const auto &k : kinds)
        mix += (mix.empty() ? "" : " ") + k.first + "=" + std::to_string(k.second);
    ph.put("kinds", mix);
    ph.put("fights_closed", fightsClosed);
    return ph.finish();
}

// Markup through the TCP text and through projector replies (the values the projector was given).
int phaseMarkup(const Options &o)
{
    Phase ph(o, "markup");
    Random r(o.whole("seed", 1));
    Conn c;
    if (!openClient(ph, c))
        return ph.finish();
    std::vector<double> rtts;
    long texts = 0;
    for (long round = 0; round < o.whole("rounds", 3) && !ph.outOfTime() && ph.failures.empty(); ++round) {
        std::vector<std::string> all = markupTexts();
        for (const char *kind : {"b", "div", "table", "list", "span", "a"})
            all.push_back(nested(kind, 300));
        for (const std::string &text : all) {
            c.send(r.pick<std::string>({"", "op "}) + text.substr(0, 1000));
            ++texts;
            if (c.waitConsumed(20) < 0) {
                ph.fail("the bridge stopped reading markup at " + shown(text, 60));
                break;
            }
        }
        // Forwarded byte for byte, shown as text.
        for (const std::string &set : o.all("set")) {
            const size_t eq = set.find('=');
            std::string key = set.substr(0, eq), upper = key;
            std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
            const double rtt =
                roundTrip(ph, c, "op " + key + " ?\r\n", "OP " + upper + "=" + set.substr(eq + 1) + "\r\n");
            if (rtt >= 0)
                rtts.push_back(rtt);
        }
        // Markup stored through a setting and read back.
        std::string value;
        do
            value = r.pick(markupTexts());
        while (std::any_of(value.begin(), value.end(), [](char ch) { return ch & 0x80; }));
        const std::string n = std::to_string(round);
        const double rtt = roundTrip(ph, c, "op m" + n + " = " + value + "\r\n", "OP M" + n + "=" + value + "\r\n");
        if (rtt >= 0)
            rtts.push_back(rtt);
    }
    ph.put("texts", texts);
    ph.put("device reply", latencies(rtts));
    return ph.finish();
}

// Commands keep coming while the device goes away under the bridge (its process stopped by PID).
int phaseUnplug(const Options &o)
{
    Phase ph(o, "unplug");
    Conn c;
    if (!openClient(ph, c))
        return ph.finish();
    const long projector = o.whole("projector-pid", 0);
    if (projector <= 1)
        die("unplug needs --projector-pid");
    std::vector<double> reads;
    long sent = 0;
    for (long i = 0; i < o.whole("count", 200) && !ph.outOfTime(); ++i) {
        if (i == o.whole("unplug-at", 50)) {
            kill(pid_t(projector), SIGTERM);
            ph.put("unplugged_after_commands", sent);
        }
        c.send(i % 2 ? statusQuery : "op lamp ?\r\n");
        ++sent;
        const double took = c.waitConsumed(15);
        if (took < 0) {
            ph.fail("command " + std::to_string(i) + " was never read by the bridge");
            break;
        }
        reads.push_back(took);
        c.keepReading(o.num("gap", 20) / 1000);
    }
    ph.put("commands", sent);
    ph.put("command read", latencies(reads));
    return ph.finish();
}

// A fresh client, one command, exactly the expected bytes back (nothing before, nothing after).
int phaseCommand(const Options &o)
{
    Phase ph(o, "command");
    Conn c;
    if (!openClient(ph, c))
        return ph.finish();
    if (!waitAccepted(5))
        ph.fail("the bridge did not accept the client");
    const std::string expected = o.str("expect");
    if (!expected.empty()) {
        // Lines the device said earlier may still wait in the bridge for an arrival of data; a
        // first command lets them out, so what follows the mark answers the second one alone.
        roundTrip(ph, c, statusQuery, statusReply);
        ph.counts.clear();
        c.waitConsumed(10);
        if (!projectorQuiet(ph.projectorLog, 0.2, 20))
            ph.fail("the virtual projector never went quiet");
    }
    const size_t start = c.got.size();
    const int64_t t0 = nowNs();
    c.send(o.need("send"));
    if (!expected.empty()) {
        if (c.waitFor(expected, start, 10))
            ph.put("round trip ms", std::to_string(secondsSince(t0) * 1000));
        c.keepReading(0.3);
        if (c.since(start) != expected)
            ph.fail("wanted exactly " + shown(expected) + ", got " + shown(c.since(start), 300));
    } else {
        const double took = c.waitConsumed(10);
        if (took < 0)
            ph.fail("the bridge did not read the command");
        else
            ph.put("read ms", std::to_string(took * 1000));
    }
    return ph.finish();
}

// Datagrams in bursts, each burst closed by a probe whose reply must come, exact, with the
// running number going on from --state.
int phaseUdp(const Options &o)
{
    Phase ph(o, o.str("label", "udp"));
    Random r(o.whole("seed", 1));
    const std::string state = o.need("state"), bridge = o.need("bridge"), mac = o.need("mac");
    const std::string bridge6 = o.str("bridge6");
    const bool markup = o.has("markup");
    const long count = o.whole("count", 10000);
    const double replyTimeout = o.num("reply-timeout", 10);
    long counter = 0;
    if (FILE *f = std::fopen(state.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &counter) != 1)
            counter = 0;
        std::fclose(f);
    }
    const int listener = udpSocket("4", product::udpTxPort);
    const int sender = udpSocket("4", 0);
    const int sender6 = bridge6.empty() ? -1 : udpSocket("6", 0);
    auto send = [&](const std::string &data) {
        if (sender6 >= 0 && r.real() < 0.05)
            sendDatagram(sender6, bridge6, product::udpRxPort, data);
        else
            sendDatagram(sender, bridge, product::udpRxPort, data);
    };
    std::vector<double> waits;
    long sent = 0, probes = 0;
    while (sent < count && !ph.outOfTime() && ph.failures.size() < 5) {
        // A burst of other datagrams, then a probe; its reply tells the burst was read too.
        bool big = false;
        for (long i = r.between(0, 12); i > 0 && sent < count - 1; --i) {
            const std::string data = nonProbe(r, markup);
            if (data.size() > 4000 && std::exchange(big, true))
                continue;
            send(data);
            ++sent;
        }
        const std::string p = probe(r);
        const int64_t t0 = nowNs();
        send(p);
        ++sent;
        ++probes;
        char expected[200];
        std::snprintf(expected, sizeof expected, "ip=%s;mac=%s;model=%s;serial=%s-%ld;", bridge.c_str(), mac.c_str(),
                      product::model, product::appName, counter++);
        std::string reply;
        int64_t at;
        if (!receiveDatagram(listener, t0 + int64_t(replyTimeout * 1e9), &reply, &at)) {
            ph.fail("probe " + std::to_string(probes) + " (" + shown(p, 40) + ") got no reply within "
                    + std::to_string(long(replyTimeout)) + " s");
            --counter;
            continue;
        }
        waits.push_back(double(at - t0) / 1e9);
        if (reply != expected) {
            ph.fail("probe " + std::to_string(probes) + ": wanted " + shown(expected) + ", got " + shown(reply));
            if (counterOf(reply) >= 0) // follow the bridge's own count so one miss does not make thousands
                counter = counterOf(reply) + 1;
        }
    }
    // Nothing more may come: a late or extra reply means a non-probe was answered.
    std::string extra;
    int64_t at;
    while (receiveDatagram(listener, after(0.5), &extra, &at))
        ph.fail("reply nobody asked for: " + shown(extra));
    FILE *f = openOut(state);
    std::fprintf(f, "%ld\n", counter);
    std::fclose(f);
    ph.put("datagrams", sent);
    ph.put("probes", probes);
    ph.put("probe reply", latencies(waits));
    return ph.finish();
}

// Listens on the trap address; any connection means markup made the bridge fetch a URL.
int phaseTrap(const Options &o)
{
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage sa;
    const socklen_t len = address(trapAddress, trapPort, &sa);
    if (bind(server, reinterpret_cast<sockaddr *>(&sa), len) != 0 || listen(server, 16) != 0)
        die(std::string("trap: ") + std::strerror(errno));
    const int64_t deadline = after(o.num("budget", 120));
    const std::string out = o.need("out");
    while (nowNs() < deadline) {
        pollfd p{server, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1)
            continue;
        const int conn = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            continue;
        char head[512];
        pollfd q{conn, POLLIN, 0};
        const ssize_t n = poll(&q, 1, 1000) == 1 ? recv(conn, head, sizeof head, 0) : 0;
        FILE *f = openOut(out, "a");
        std::fprintf(f, "connection: %s\n", shown(std::string(head, size_t(std::max<ssize_t>(n, 0)))).c_str());
        std::fclose(f);
        close(conn);
    }
    return 0;
}

} // namespace tvbench
