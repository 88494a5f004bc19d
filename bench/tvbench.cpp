// Load and timing client for the bridge benchmarks. Talks only to loopback or to the address it is
// given inside the bench's own network namespaces. Every loop is bounded by a count and a deadline.
//
//   tvbench rtt --port P --count N --out FILE [--timeout-ms MS --max-stalls K --warmup W --gap-ms G]
//               [--pid PID --rss-every K --rss-out FILE]
//   tvbench cycles --port P --count N --pid PID --out FILE
//   tvbench waitport --port P [--timeout-ms MS]
//   tvbench startup --port P --runs R --out FILE -- COMMAND [ARG]...
//   tvbench discovery --target IPV4 --count N --mode burst|seq --out FILE
//
// Times are CLOCK_MONOTONIC in nanoseconds, the clock the virtual projector logs in (microseconds).
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "tvbench: %s\n", what);
    std::exit(2);
}

[[noreturn]] void dieErrno(const char *what)
{
    std::fprintf(stderr, "tvbench: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

struct Args
{
    std::string host = "127.0.0.1";
    int port = 0;
    long count = 0;
    long runs = 0;
    long pid = 0;
    long rssEvery = 0;
    long timeoutMs = 5000;
    long maxStalls = 100;
    long warmup = 0;
    long gapMs = 0;
    std::string out;
    std::string rssOut;
    std::string target;
    std::string mode = "seq";
    std::vector<char *> command;
};

long number(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end || value < 0)
        die("bad number");
    return value;
}

Args parse(int argc, char **argv)
{
    Args a;
    for (int i = 2; i < argc; ++i) {
        const std::string o = argv[i];
        if (o == "--") {
            for (int j = i + 1; j < argc; ++j)
                a.command.push_back(argv[j]);
            a.command.push_back(nullptr);
            break;
        }
        if (i + 1 >= argc)
            die(("option needs a value: " + o).c_str());
        const char *v = argv[++i];
        if (o == "--host") a.host = v;
        else if (o == "--port") a.port = int(number(v));
        else if (o == "--count") a.count = number(v);
        else if (o == "--runs") a.runs = number(v);
        else if (o == "--pid") a.pid = number(v);
        else if (o == "--rss-every") a.rssEvery = number(v);
        else if (o == "--timeout-ms") a.timeoutMs = number(v);
        else if (o == "--max-stalls") a.maxStalls = number(v);
        else if (o == "--warmup") a.warmup = number(v);
        else if (o == "--gap-ms") a.gapMs = number(v);
        else if (o == "--out") a.out = v;
        else if (o == "--rss-out") a.rssOut = v;
        else if (o == "--target") a.target = v;
        else if (o == "--mode") a.mode = v;
        else die(("unknown option " + o).c_str());
    }
    return a;
}

FILE *openOut(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        dieErrno(path.c_str());
    return f;
}

// Resident set of a process in kB, from /proc/PID/status; -1 when it cannot be read.
long rssKb(long pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/status", pid);
    FILE *f = std::fopen(path, "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

sockaddr_in address(const std::string &host, int port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1)
        die("bad IPv4 address");
    return sa;
}

// A connected TCP socket with Nagle off, or -1 (errno set) if the connection was refused.
int connectTcp(const std::string &host, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        dieErrno("socket");
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in sa = address(host, port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

void sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            dieErrno("send");
        }
        data += n;
        size -= size_t(n);
    }
}

// Reads lines from a TCP stream. Relays that pass the projector's echo on ("op status ?") are read
// past: the reply is the first line that begins with "OP ".
class LineReader
{
public:
    explicit LineReader(int fd) : fd(fd) {}

    enum Result { Reply, Closed, TimedOut };

    // Waits for the next reply line; its arrival time (the read that completed it) goes to *at.
    Result reply(int64_t deadlineNs, int64_t *at, long *echoes)
    {
        for (;;) {
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl + 1);
                pending.erase(0, nl + 1);
                if (line.compare(0, 3, "OP ") == 0) {
                    *at = lastRead;
                    return Reply;
                }
                ++*echoes;
            }
            const int64_t left = deadlineNs - nowNs();
            if (left <= 0)
                return TimedOut;
            pollfd p{fd, POLLIN, 0};
            const timespec ts{time_t(left / 1000000000), long(left % 1000000000)};
            const int r = ppoll(&p, 1, &ts, nullptr);
            if (r < 0 && errno != EINTR)
                dieErrno("poll");
            if (r <= 0)
                continue;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            lastRead = nowNs();
            if (n == 0)
                return Closed;
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return Closed;
            }
            pending.append(buf, size_t(n));
        }
    }

private:
    int fd;
    std::string pending;
    int64_t lastRead = 0;
};

const char command[] = "op status ?\r\n";

// Commands go one at a time. A reply that has not come after --timeout-ms counts as a stall: the
// next command is sent anyway (a control program would retry), since a bridge holding a complete
// reply may only pass it on when more bytes arrive from the device. Replies answer the oldest
// command still open, in order. More than --max-stalls stalls end the run (exit 4). The first
// --warmup commands wait up to 1 s instead: a bridge still starting up must not get two commands in
// one read (the bridge would join them into one).
int cmdRtt(const Args &a)
{
    if (!a.port || !a.count || a.out.empty())
        die("rtt needs --port, --count and --out");
    int fd = -1;
    for (int attempt = 0; attempt < 600 && fd < 0; ++attempt) { // up to a minute for the bridge to listen
        fd = connectTcp(a.host, a.port);
        if (fd < 0)
            usleep(100000);
    }
    if (fd < 0)
        dieErrno("connect");
    FILE *out = openOut(a.out);
    FILE *rss = a.rssOut.empty() ? nullptr : openOut(a.rssOut);
    std::fprintf(out, "# i send_ns reply_ns stalled\n");
    LineReader reader(fd);
    long echoes = 0;
    long stalls = 0;
    long extra = 0; // nudges sent after the last command, not measured
    std::vector<int64_t> sent(size_t(a.count) + 1, 0);
    std::vector<char> stalled(size_t(a.count) + 1, 0);
    long next = 1;     // next command to send
    long answered = 0; // commands answered so far, in order
    const int64_t start = nowNs();
    const int64_t timeout = a.timeoutMs * 1000000;
    int64_t lastSend = 0;
    auto sendOne = [&]() {
        if (next <= a.count) {
            if (rss && a.pid && a.rssEvery && (next - 1) % a.rssEvery == 0 && answered == next - 1)
                std::fprintf(rss, "%ld %ld\n", next - 1, rssKb(a.pid));
            sent[size_t(next)] = nowNs();
            lastSend = sent[size_t(next)];
            ++next;
        } else {
            lastSend = nowNs();
            ++extra;
        }
        sendAll(fd, command, sizeof command - 1);
    };
    sendOne();
    while (answered < a.count) {
        int64_t got = 0;
        const int64_t wait = answered < a.warmup ? 1000000000LL : timeout;
        const LineReader::Result r = reader.reply(lastSend + wait, &got, &echoes);
        if (r == LineReader::Closed) {
            std::fprintf(stderr, "tvbench: command %ld: connection closed\n", answered + 1);
            std::fclose(out);
            return 3;
        }
        if (r == LineReader::TimedOut) {
            stalled[size_t(answered + 1)] = 1;
            if (++stalls > a.maxStalls || extra > 10) {
                std::fprintf(stderr, "tvbench: command %ld: no reply in time, %ld stalls: giving up\n", answered + 1, stalls);
                std::fclose(out);
                return 4;
            }
            sendOne();
            continue;
        }
        ++answered;
        std::fprintf(out, "%ld %lld %lld %d\n", answered, (long long)sent[size_t(answered)], (long long)got,
                     int(stalled[size_t(answered)]));
        if (answered == next - 1 && next <= a.count) {
            if (a.gapMs)
                usleep(useconds_t(a.gapMs * 1000)); // a control program's pause between commands
            sendOne();
        }
    }
    if (rss && a.pid)
        std::fprintf(rss, "%ld %ld\n", a.count, rssKb(a.pid));
    std::fprintf(stderr, "tvbench: %ld commands in %.1f s, %ld echo lines skipped, %ld stalls\n", a.count,
                 double(nowNs() - start) / 1e9, echoes, stalls);
    std::fclose(out);
    if (rss)
        std::fclose(rss);
    close(fd);
    return 0;
}

// One command on a fresh connection; a late close of an earlier client may close this one (the
// bridge closes its current client whenever any client goes), so a few tries are allowed.
bool syncCommand(const Args &a)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        usleep(300000); // let the bridge see the earlier clients go first
        const int fd = connectTcp(a.host, a.port);
        if (fd < 0)
            continue;
        sendAll(fd, command, sizeof command - 1);
        LineReader reader(fd);
        int64_t at;
        long echoes = 0;
        const LineReader::Result r = reader.reply(nowNs() + 2000000000LL, &at, &echoes);
        close(fd);
        if (r == LineReader::Reply)
            return true;
    }
    return false;
}

int cmdCycles(const Args &a)
{
    if (!a.port || !a.count || !a.pid || a.out.empty())
        die("cycles needs --port, --count, --pid and --out");
    FILE *out = openOut(a.out);
    std::fprintf(out, "# cycle rss_kb\n");
    if (!syncCommand(a))
        die("no reply before the cycles");
    std::fprintf(out, "0 %ld\n", rssKb(a.pid));
    const long every = 100;
    const int64_t start = nowNs();
    for (long i = 1; i <= a.count; ++i) {
        const int fd = connectTcp(a.host, a.port);
        if (fd < 0)
            dieErrno("connect");
        close(fd);
        if (i % every == 0 || i == a.count) {
            if (!syncCommand(a))
                die("no reply between cycles");
            std::fprintf(out, "%ld %ld\n", i, rssKb(a.pid));
        }
    }
    std::fprintf(stderr, "tvbench: %ld cycles in %.1f s\n", a.count, double(nowNs() - start) / 1e9);
    std::fclose(out);
    return 0;
}

int cmdWaitport(const Args &a)
{
    const int64_t deadline = nowNs() + a.timeoutMs * 1000000;
    while (nowNs() < deadline) {
        const int fd = connectTcp(a.host, a.port);
        if (fd >= 0) {
            close(fd);
            return 0;
        }
        usleep(5000);
    }
    std::fprintf(stderr, "tvbench: nothing accepts on port %d\n", a.port);
    return 1;
}

bool waitExit(pid_t pid, int ms)
{
    for (int i = 0; i < ms; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        usleep(1000);
    }
    return false;
}

void stopChild(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!waitExit(pid, 5000)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

int cmdStartup(const Args &a)
{
    if (!a.port || !a.runs || a.out.empty() || a.command.size() < 2)
        die("startup needs --port, --runs, --out and -- COMMAND");
    FILE *out = openOut(a.out);
    std::fprintf(out, "# run startup_ns\n");
    int failures = 0;
    for (long run = 1; run <= a.runs; ++run) {
        const int64_t t0 = nowNs();
        const pid_t pid = fork();
        if (pid < 0)
            dieErrno("fork");
        if (pid == 0) {
            execvp(a.command[0], a.command.data());
            _exit(127);
        }
        int64_t t1 = 0;
        const int64_t deadline = t0 + a.timeoutMs * 1000000;
        while (nowNs() < deadline) {
            const int fd = connectTcp(a.host, a.port);
            if (fd >= 0) {
                t1 = nowNs();
                close(fd);
                break;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                break;
            usleep(200);
        }
        if (t1)
            std::fprintf(out, "%ld %lld\n", run, (long long)(t1 - t0));
        else
            ++failures;
        stopChild(pid);
        usleep(100000); // let the port and the device settle before the next start
    }
    std::fclose(out);
    if (failures)
        std::fprintf(stderr, "tvbench: %d of %ld starts never accepted\n", failures, a.runs);
    return failures ? 3 : 0;
}

long counterOf(const char *text, size_t size)
{
    const std::string s(text, size);
    const size_t at = s.find("serial=Tolvane-");
    if (at == std::string::npos)
        return -1;
    return std::strtol(s.c_str() + at + 15, nullptr, 10);
}

int cmdDiscovery(const Args &a)
{
    if (a.target.empty() || !a.count || a.out.empty())
        die("discovery needs --target, --count and --out");
    const bool burst = a.mode == "burst";
    const int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (rx < 0 || tx < 0)
        dieErrno("socket");
    const int one = 1;
    setsockopt(rx, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int big = 4 << 20;
    setsockopt(rx, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
    sockaddr_in any = address("0.0.0.0", 35069);
    if (bind(rx, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
        dieErrno("bind 35069");
    const sockaddr_in to = address(a.target, 35070);
    FILE *out = openOut(a.out);
    std::fprintf(out, "# probe send_ns reply_ns counter\n");

    std::vector<int64_t> sent(size_t(a.count), 0);
    auto probe = [&](long i) {
        sent[size_t(i)] = nowNs();
        if (sendto(tx, "?ZZ?", 4, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 4)
            dieErrno("sendto");
    };
    // Takes one reply, waiting until the deadline; false when none came.
    auto receive = [&](int64_t deadline, int64_t *at, long *counter) {
        for (;;) {
            const int64_t left = deadline - nowNs();
            if (left <= 0)
                return false;
            pollfd p{rx, POLLIN, 0};
            const timespec ts{time_t(left / 1000000000), long(left % 1000000000)};
            if (ppoll(&p, 1, &ts, nullptr) <= 0)
                continue;
            char buf[1500];
            const ssize_t n = recv(rx, buf, sizeof buf, 0);
            *at = nowNs();
            if (n > 0) {
                *counter = counterOf(buf, size_t(n));
                return true;
            }
        }
    };

    long replies = 0;
    if (burst) {
        for (long i = 0; i < a.count; ++i)
            probe(i);
        int64_t at;
        long counter;
        // Replies keep coming while the bridge works through its queue; stop a second after the last.
        int64_t deadline = nowNs() + a.timeoutMs * 1000000;
        while (replies < a.count && receive(deadline, &at, &counter)) {
            std::fprintf(out, "%ld %lld %lld %ld\n", replies, (long long)sent[size_t(replies)], (long long)at, counter);
            ++replies;
            deadline = at + 1000000000LL;
        }
    } else {
        for (long i = 0; i < a.count; ++i) {
            probe(i);
            int64_t at;
            long counter;
            if (!receive(sent[size_t(i)] + a.timeoutMs * 1000000, &at, &counter)) {
                std::fprintf(out, "%ld %lld -1 -1\n", i, (long long)sent[size_t(i)]);
                continue;
            }
            std::fprintf(out, "%ld %lld %lld %ld\n", i, (long long)sent[size_t(i)], (long long)at, counter);
            ++replies;
        }
    }
    std::fclose(out);
    std::fprintf(stderr, "tvbench: %ld probes, %ld replies (%s)\n", a.count, replies, burst ? "burst" : "one at a time");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        die("usage: tvbench rtt|cycles|waitport|startup|discovery [OPTION]...");
    signal(SIGPIPE, SIG_IGN);
    const std::string what = argv[1];
    const Args a = parse(argc, argv);
    if (what == "rtt") return cmdRtt(a);
    if (what == "cycles") return cmdCycles(a);
    if (what == "waitport") return cmdWaitport(a);
    if (what == "startup") return cmdStartup(a);
    if (what == "discovery") return cmdDiscovery(a);
    die("unknown command");
}
