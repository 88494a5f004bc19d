// The network peer of the benchmark and the soak: a control program timing its commands, a
// discovery client, a markup flood and hostile traffic, one sub-command each. It talks only to
// loopback or to the addresses the calling script gave its own network namespaces, and every loop
// is bounded by a count and a deadline. Times are CLOCK_MONOTONIC nanoseconds, the clock the
// virtual projector logs in (microseconds).
//
// Benchmark (bench/run.sh):
//   rtt --port P --count N --out FILE [--host A --gap-ms G --timeout-ms MS --max-stalls K --warmup W --warmup-ms MS]
//       [--pid PID --rss-every K --rss-out FILE]
//   discovery --target A --count N --per-ms R --out FILE
//   stream --target A --seconds N --markup-bytes B [--markup-kind div|table|b] --out FILE
// Soak phases (bench/soak.sh, the memcheck step), each with [--budget S --seed N --projector-log FILE
// --results FILE]; a phase prints what it measured, adds a summary line to --results and exits 1
// when the bridge misbehaved:
//   wait-listen
//   tcp-flood [--bytes N --rtt-every N]
//   cycles --count N
//   markup --rounds N --set KEY=VALUE...      (the values the projector was given)
//   unplug --count N --unplug-at K --projector-pid PID
//   command --send BYTES [--expect BYTES]
//   udp --count N --bridge A [--bridge6 A6] --mac MAC --state FILE [--markup --reply-timeout S --label L]
//   trap --out FILE
#include "core/product.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const int tcpPort = product::tcpPort;
const std::string modelReply = std::string(product::modelAnswer) + "\r\n";
const std::string serialNumberReply = std::string(product::serialNumberAnswer) + "\r\n";
const std::string statusQuery = "op status ?\r\n";
const std::string statusReply = "OP STATUS=1\r\n";
// Markup that made the bridge fetch a URL would connect here (the soak's peer namespace listens).
const std::string trapAddress = "10.203.0.2";
const int trapPort = 8099;

int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t after(double seconds) { return nowNs() + int64_t(seconds * 1e9); }

double secondsSince(int64_t t0) { return double(nowNs() - t0) / 1e9; }

void sleepUntil(int64_t t)
{
    const timespec ts{time_t(t / 1000000000), long(t % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "tvbench: %s\n", what.c_str());
    std::exit(2);
}

// --name VALUE, --name=VALUE, or --name alone (a flag); repeated names keep every value.
class Options
{
public:
    Options(int argc, char **argv)
    {
        for (int i = 2; i < argc; ++i) {
            std::string name = argv[i];
            if (name.compare(0, 2, "--") != 0)
                die("unexpected argument " + name);
            name.erase(0, 2);
            std::string value;
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.erase(eq);
            } else if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                value = argv[++i];
            }
            values.emplace(name, value);
        }
    }
    bool has(const std::string &name) const { return values.count(name) > 0; }
    std::string str(const std::string &name, const std::string &fallback = {}) const
    {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    std::string need(const std::string &name) const
    {
        if (!has(name) || str(name).empty())
            die("--" + name + " is needed");
        return str(name);
    }
    double num(const std::string &name, double fallback) const
    {
        if (!has(name))
            return fallback;
        char *end = nullptr;
        const std::string text = str(name);
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end || v < 0)
            die("bad number for --" + name);
        return v;
    }
    long whole(const std::string &name, long fallback) const { return long(num(name, double(fallback))); }
    std::vector<std::string> all(const std::string &name) const
    {
        std::vector<std::string> out;
        const auto range = values.equal_range(name);
        for (auto it = range.first; it != range.second; ++it)
            out.push_back(it->second);
        return out;
    }

private:
    std::multimap<std::string, std::string> values;
};

FILE *openOut(const std::string &path, const char *mode = "w")
{
    FILE *f = std::fopen(path.c_str(), mode);
    if (!f)
        die(path + ": " + std::strerror(errno));
    return f;
}

// Bytes as Python would show them, for messages.
std::string shown(const std::string &bytes, size_t max = 200)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char buf[8];
        if (c == '\r' || c == '\n')
            out += c == '\r' ? "\\r" : "\\n";
        else if (c < 32 || c >= 127)
            std::snprintf(buf, sizeof buf, "\\x%02x", c), out += buf;
        else
            out += char(c);
    }
    return "'" + out + (bytes.size() > max ? "...'" : "'");
}

// Resident set of a process in kB, from /proc/PID/status; -1 when it cannot be read.
long rssKb(long pid)
{
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

// --- sockets -------------------------------------------------------------------------------------

socklen_t address(const std::string &host, int port, sockaddr_storage *out)
{
    *out = {};
    if (host.find(':') != std::string::npos) {
        auto *sa = reinterpret_cast<sockaddr_in6 *>(out);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(uint16_t(port));
        if (inet_pton(AF_INET6, host.c_str(), &sa->sin6_addr) != 1)
            die("bad address " + host);
        return sizeof *sa;
    }
    auto *sa = reinterpret_cast<sockaddr_in *>(out);
    sa->sin_family = AF_INET;
    sa->sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &sa->sin_addr) != 1)
        die("bad address " + host);
    return sizeof *sa;
}

// A non-blocking TCP socket connected within the time given, Nagle off; -1 when refused or late.
int connectTcp(const std::string &host, int port, double seconds = 5)
{
    sockaddr_storage sa;
    const socklen_t len = address(host, port, &sa);
    const int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        die(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), len) != 0) {
        pollfd p{fd, POLLOUT, 0};
        int error = errno == EINPROGRESS ? 0 : errno;
        socklen_t size = sizeof error;
        if (!error && poll(&p, 1, int(seconds * 1000)) != 1)
            error = ETIMEDOUT;
        else if (!error && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error) {
            close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

int udpSocket(const std::string &family, int port)
{
    const int fd = socket(family == "6" ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        die(std::string("socket: ") + std::strerror(errno));
    if (port) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const int big = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
        sockaddr_storage any;
        const socklen_t len = address("0.0.0.0", port, &any);
        if (bind(fd, reinterpret_cast<sockaddr *>(&any), len) != 0)
            die("bind UDP " + std::to_string(port) + ": " + std::strerror(errno));
    }
    return fd;
}

void sendDatagram(int fd, const std::string &host, int port, const std::string &data)
{
    sockaddr_storage to;
    const socklen_t len = address(host, port, &to);
    if (sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), len) < 0 && errno != EAGAIN)
        die(std::string("sendto: ") + std::strerror(errno));
}

// The next datagram within the time left, or false.
bool receiveDatagram(int fd, int64_t deadline, std::string *data, int64_t *at)
{
    for (;;) {
        char buf[65536];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n >= 0) {
            *at = nowNs();
            data->assign(buf, size_t(n));
            return true;
        }
        const int64_t left = deadline - nowNs();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, int(std::min<int64_t>(left / 1000000 + 1, 1000)));
    }
}

// The running number of a discovery reply ("...;serial=Tolvane-N;"), or -1.
long counterOf(const std::string &reply)
{
    const std::string tag = std::string("serial=") + product::appName + "-";
    const size_t at = reply.find(tag);
    return at == std::string::npos ? -1 : std::strtol(reply.c_str() + at + tag.size(), nullptr, 10);
}

// A TCP client of the bridge that keeps everything it receives.
struct Conn {
    int fd = -1;
    int localPort = 0; // to find the bridge's side of the connection in /proc/net/tcp
    std::string got;
    int64_t lastRead = 0; // when the last bytes came
    bool closed = false;

    Conn() = default;
    Conn(const Conn &) = delete;
    Conn &operator=(const Conn &) = delete;
    ~Conn() { shut(); }

    bool open(const std::string &host = "127.0.0.1", int port = tcpPort, double seconds = 5)
    {
        shut();
        fd = connectTcp(host, port, seconds);
        if (fd < 0)
            return false;
        sockaddr_in local{};
        socklen_t len = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len);
        localPort = ntohs(local.sin_port);
        got.clear();
        closed = false;
        return true;
    }
    void shut(bool reset = false)
    {
        if (fd < 0)
            return;
        if (reset) {
            const linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        close(fd);
        fd = -1;
    }
    // Waits until bytes come or the deadline passes, then takes all there are.
    void pump(int64_t deadline)
    {
        if (closed) {
            sleepUntil(std::min(deadline, after(0.001)));
            return;
        }
        pollfd p{fd, POLLIN, 0};
        const int64_t left = deadline - nowNs();
        if (poll(&p, 1, left > 0 ? int(left / 1000000) + 1 : 0) <= 0)
            return;
        char buf[65536];
        for (;;) {
            const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                got.append(buf, size_t(n));
                lastRead = nowNs();
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                closed = true;
            return;
        }
    }
    bool waitFor(const std::string &marker, size_t start, double seconds)
    {
        const int64_t deadline = after(seconds);
        for (;;) {
            if (got.find(marker, start) != std::string::npos)
                return true;
            if (closed || nowNs() >= deadline)
                return false;
            pump(deadline);
        }
    }
    void keepReading(double seconds)
    {
        const int64_t deadline = after(seconds);
        while (nowNs() < deadline)
            pump(deadline);
    }
    std::string since(size_t start) const { return start < got.size() ? got.substr(start) : std::string(); }
    bool send(const std::string &bytes, double seconds = 30)
    {
        const int64_t deadline = after(seconds);
        size_t done = 0;
        while (done < bytes.size() && fd >= 0) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                if (nowNs() >= deadline)
                    return false;
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 10);
                pump(nowNs()); // keep taking what the bridge sends meanwhile
            }
        }
        return done == bytes.size();
    }
    int unsent() const
    {
        int n = 0;
        return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : 0;
    }
    long bridgeUnread() const;
    // Waits until the bridge has read everything sent so far; the seconds it took, or -1.
    double waitConsumed(double seconds)
    {
        const int64_t t0 = nowNs(), deadline = after(seconds);
        while (nowNs() < deadline) {
            if (unsent() == 0 && bridgeUnread() <= 0)
                return secondsSince(t0);
            pump(after(0.001));
        }
        return -1;
    }
};

// Every TCP socket of this namespace: ports, state (as /proc/net/tcp writes it) and queues.
struct Tcp {
    int local, remote, state;
    long tx, rx;
};

std::vector<Tcp> tcpTable()
{
    std::vector<Tcp> table;
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        FILE *f = std::fopen(path, "r");
        if (!f)
            continue;
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            Tcp t;
            if (std::sscanf(line, " %*d: %*[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%x %x %lx:%lx", &t.local, &t.remote, &t.state,
                            &t.tx, &t.rx)
                == 5)
                table.push_back(t);
        }
        std::fclose(f);
    }
    return table;
}

const int established = 0x01, closeWait = 0x08, listening = 0x0A;

long Conn::bridgeUnread() const
{
    for (const Tcp &t : tcpTable())
        if (t.local == tcpPort && t.remote == localPort && t.state == established)
            return t.rx;
    return -1;
}

// Once the bridge has taken every connection and seen every client that left go: a client leaving
// closes whichever client is current when the bridge notices.
bool waitSettled(double seconds)
{
    const int64_t deadline = after(seconds);
    while (nowNs() < deadline) {
        const auto table = tcpTable();
        if (std::none_of(table.begin(), table.end(), [](const Tcp &t) {
                return t.local == tcpPort && (t.state == closeWait || (t.state == listening && t.rx));
            }))
            return true;
        usleep(2000);
    }
    return false;
}

bool waitAccepted(double seconds)
{
    const int64_t deadline = after(seconds);
    while (nowNs() < deadline) {
        for (const Tcp &t : tcpTable())
            if (t.local == tcpPort && t.state == listening && t.rx == 0)
                return true;
        usleep(1000);
    }
    return false;
}

// Once the virtual projector's log has not grown for `quiet` seconds: it has nothing left to say.
bool projectorQuiet(const std::string &log, double quiet, double seconds)
{
    if (log.empty())
        return true;
    const int64_t deadline = after(seconds);
    off_t last = -1;
    int64_t since = nowNs();
    while (nowNs() < deadline) {
        struct stat st;
        const off_t size = stat(log.c_str(), &st) == 0 ? st.st_size : -1;
        if (size != last)
            last = size, since = nowNs();
        else if (secondsSince(since) >= quiet)
            return true;
        usleep(10000);
    }
    return false;
}

// --- measurements ----------------------------------------------------------------------------------

std::string latencies(std::vector<double> s)
{
    if (s.empty())
        return "none";
    std::sort(s.begin(), s.end());
    auto pick = [&](double q) { return s[std::min(s.size() - 1, size_t(q * double(s.size())))] * 1000; };
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.2f/%.2f/%.2f ms (%zu)", pick(0.5), pick(0.99), s.back() * 1000, s.size());
    return buf;
}

// One soak phase: its deadline, what it measured, and what went wrong.
struct Phase {
    Phase(const Options &o, const std::string &name)
        : o(o)
        , name(name)
    { }
    const Options &o;
    const std::string name;
    const std::string projectorLog = o.str("projector-log");
    const int64_t started = nowNs();
    const int64_t deadline = after(o.num("budget", 120));
    std::vector<std::string> failures;
    std::vector<std::pair<std::string, std::string>> data;
    std::map<std::string, long> counts;

    double left() const { return double(deadline - nowNs()) / 1e9; }
    void fail(const std::string &text)
    {
        std::printf("  FAIL %s: %s\n", name.c_str(), text.c_str());
        std::fflush(stdout);
        failures.push_back(text);
    }
    bool outOfTime()
    {
        if (left() > 0)
            return false;
        fail("did not finish within its " + o.str("budget", "120") + " s budget");
        return true;
    }
    void put(const std::string &key, const std::string &value) { data.emplace_back(key, value); }
    void put(const std::string &key, long value) { put(key, std::to_string(value)); }
    int finish()
    {
        for (const auto &c : counts)
            put(c.first, c.second);
        std::string line;
        for (const auto &d : data) {
            std::printf("  %s.%s = %s\n", name.c_str(), d.first.c_str(), d.second.c_str());
            line += (line.empty() ? "" : "; ") + d.first + " " + d.second;
        }
        if (o.has("results")) {
            FILE *f = openOut(o.str("results"), "a");
            std::fprintf(f, "  %-14s %6.1f s  %s\n", name.c_str(), secondsSince(started), line.c_str());
            std::fclose(f);
        }
        return failures.empty() ? 0 : 1;
    }
};

struct Random {
    std::mt19937_64 engine;
    explicit Random(long seed)
        : engine(uint64_t(seed))
    { }
    double real() { return std::uniform_real_distribution<double>(0, 1)(engine); }
    long between(long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(engine); }
    template <typename T> T pick(const std::vector<T> &v) { return v[size_t(between(0, long(v.size()) - 1))]; }
    std::string bytes(long n)
    {
        std::string s(size_t(n), '\0');
        for (char &c : s)
            c = char(between(0, 255));
        return s;
    }
    std::string from(const std::string &alphabet, long n)
    {
        std::string s(size_t(n), '\0');
        for (char &c : s)
            c = alphabet[size_t(between(0, long(alphabet.size()) - 1))];
        return s;
    }
};

std::string repeat(const std::string &s, int n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

// A literal that may hold NUL bytes.
template <size_t N> std::string lit(const char (&s)[N]) { return std::string(s, N - 1); }

// --- hostile content -------------------------------------------------------------------------------

// Markup that must stay text: anything here that made the bridge open a file, a device or a URL
// shows in the soak's strace log or as a connection to its trap listener.
const std::vector<std::string> &markupTexts()
{
    static const std::string trap = trapAddress + ":" + std::to_string(trapPort);
    static const std::vector<std::string> texts = {
        "<img src=\"/dev/zero\">",
        "<img src=\"file:///etc/passwd\">",
        "<img src=\"/etc/passwd\" width=\"4000\" height=\"4000\">",
        "<img src=\"/dev/urandom\"><img src=\"/proc/self/mem\">",
        "<img src=\"http://" + trap + "/pixel.png\">",
        "<link rel=stylesheet href=\"file:///etc/passwd\">",
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"http://" + trap + "/evil.css\">",
        "<style>@import url(file:///etc/passwd); p { background-image: url(/dev/zero) }</style><p>x</p>",
        "<p style=\"background-image:url(file:///etc/shadow)\">styled</p>",
        "<span style=\"background: url('/dev/zero')\">bg</span>",
        "<ul style=\"list-style-image:url(/dev/zero)\"><li>item</li></ul>",
        "<table background=\"/dev/zero\"><tr><td background=\"file:///etc/passwd\">cell</td></tr></table>",
        "<body background=\"/etc/passwd\"><a href=\"file:///etc/passwd\">link</a></body>",
        "<a href=\"javascript:alert(1)\">js</a><a href=\"http://" + trap + "/\">http</a>",
        "<iframe src=\"/dev/zero\"></iframe><object data=\"/dev/zero\"></object><embed src=\"/dev/zero\">",
        "<img src=\"qrc:/html/About_en_US.html\"><img src=\"data:image/png;base64,AAAA\">",
        "<font size=\"+99\" color=\"#zzzzzz\" face=\"Comic\">big</font><h1 style=\"font-size:99999px\">huge</h1>",
        "<pre>%1 %2 %n %s &amp; &#0; &#xffff; &#1114112; &nosuch;</pre>",
        "</font></b></table></td></tr></html><!-- unclosed comment",
        "<![CDATA[ x ]]><?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"file:///etc/passwd\">",
        "<div dir=\"rtl\">\u202e\u0645\u0631\u062d\u0628\u0627</div>\U0001F600\ufeff",
    };
    return texts;
}

std::string nested(const std::string &kind, long depth)
{
    static const std::map<std::string, std::pair<std::string, std::string>> tags = {
        {"b", {"<b>", "</b>"}},
        {"div", {"<div>", "</div>"}},
        {"table", {"<table><tr><td>", "</td></tr></table>"}},
        {"list", {"<ul><li>", "</li></ul>"}},
        {"span", {"<span style=\"font-size:30px\">", "</span>"}},
        {"a", {"<a href=\"file:///etc/passwd\">", "</a>"}},
    };
    const auto it = tags.find(kind);
    if (it == tags.end())
        die("no markup kind " + kind);
    std::string s;
    for (long i = 0; i < depth; ++i)
        s += it->second.first;
    s += "deep";
    for (long i = 0; i < depth; ++i)
        s += it->second.second;
    return s;
}

const std::vector<std::string> nestKinds = {"b", "div", "table", "list"};

// One chunk of hostile TCP bytes: random, NUL-laden, invalid UTF-8, "op "-prefixed, huge, markup. It
// may set projector values ("op KEY = VALUE"), but never the serial number the round trips ask for.
std::string junkChunk(Random &r)
{
    const double kind = r.real();
    if (kind < 0.30)
        return r.bytes(r.between(1, 4096));
    if (kind < 0.45)
        return r.pick<std::string>({"op ", "OP ", "Op  ", " op "})
            + r.from("abcdefghijklmnopqrstuvwxyz ?=.<>&;\t", r.between(0, 300))
            + r.pick<std::string>({"", "\r\n", "\n", "\r"});
    if (kind < 0.55)
        return r.pick<std::string>({lit("op model ?\0\xff junk"), lit("\0\0\0"),
                                    lit("op status ?\r\n\0op power = 0\r\n"),
                                    "\xff\xfe\xc3\x28\xe2\x82\x28\xf0\x28\x8c\xbc\xed\xa0\x80\xf4\x90\x80\x80",
                                    "op \xc3\xa9t\xc3\xa9 ?\r\n", "op \xe2\x82 ?\r\n", "\r\n", " \t \r\n \n"});
    if (kind < 0.60) // a line with no end for tens of kilobytes
        return r.pick<std::string>({"op ", "", "OP LAMP="})
            + r.from("abcdefghijklmnopqrstuvwxyz0123456789 ", r.between(16384, 131072));
    if (kind < 0.75) {
        const std::string text = r.real() < 0.8 ? r.pick(markupTexts()) : nested(r.pick(nestKinds), r.between(10, 60));
        return r.pick<std::string>({"op ", "", "op x = "}) + text + r.pick<std::string>({"", "\r\n"});
    }
    return r.pick<std::string>({"op status ?\r\n", "OP  Power ?\n", "op input=HDMI2\r\n", "op lamp ?\r", "hello\r\n",
                                "op %1 %2 ?\r\n", "op input=\r\n", "op ?\r\n"});
}

// A datagram that is not a probe ("?ZZ?" absent before the first zero byte), some of them near misses.
std::string nonProbe(Random &r, bool markup)
{
    const double kind = r.real();
    std::string data;
    if (kind < 0.08)
        data = r.pick<std::string>({"?zz?", "?ZZ", "ZZ?", "? ZZ?", lit("\0?ZZ?"), lit("x\0?ZZ?"), lit("?Z\0Z?"), "",
                                    "%1%2%3", "?\xef\xbc\x9fZZ?", "\xff?ZZ\xff?"});
    else if (kind < 0.5 || markup)
        data = r.real() < 0.85
            ? r.pick(markupTexts())
            : nested(r.pick<std::string>({"b", "div", "table", "list", "span"}), r.between(100, 2000));
    else if (kind < 0.97)
        data = r.bytes(r.between(0, 1400));
    else
        data = r.bytes(r.between(8000, 60000));
    data.resize(std::min<size_t>(data.size(), 65000));
    const size_t head = std::min(data.find('\0'), data.size());
    if (data.substr(0, head).find("ZZ") != std::string::npos)
        std::replace(data.begin(), data.begin() + long(head), 'Z', 'z');
    return data;
}

std::string probe(Random &r)
{
    const std::string before = r.from("abc <b>&;=%1", r.between(0, 40));
    const std::string afterBytes = r.bytes(r.between(0, 40));
    return r.pick<std::string>({"?ZZ?", before + " ?ZZ?" + afterBytes, "?ZZ??ZZ?", lit("?ZZ?\0trailing")});
}

// --- soak phases -----------------------------------------------------------------------------------

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

// --- benchmark ------------------------------------------------------------------------------------

// Commands go one at a time, "op status ?". A reply still missing after --timeout-ms is a stall:
// the next command goes out anyway (a control program would retry), since a bridge holding a
// complete reply may pass it on only when the device sends again; replies answer the oldest open
// command, in order. More than --max-stalls stalls end the run (exit 4). The first --warmup
// commands wait --warmup-ms (1 s) instead, so a bridge still starting never gets two commands in one read.
int benchRtt(const Options &o)
{
    const long count = o.whole("count", 0), gapMs = o.whole("gap-ms", 0), pid = o.whole("pid", 0);
    const long rssEvery = o.whole("rss-every", 0), warmup = o.whole("warmup", 10);
    const long maxStalls = o.whole("max-stalls", count / 4 + 50);
    const int64_t timeout = int64_t(o.num("timeout-ms", 250) * 1e6);
    const int64_t warmupWait = int64_t(o.num("warmup-ms", 1000) * 1e6);
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
            sendOne();
        }
    }
    if (rss) {
        std::fprintf(rss, "%ld %ld\n", count, rssKb(pid));
        std::fclose(rss);
    }
    std::fprintf(stderr, "tvbench: %ld commands in %.1f s, %ld stalls\n", count, secondsSince(start), stalls);
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

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        die("usage: tvbench SUB-COMMAND [OPTION]... (see the top of bench/tvbench.cpp)");
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string what = argv[1];
    const Options o(argc, argv);
    const std::map<std::string, int (*)(const Options &)> commands = {
        {"rtt", benchRtt},
        {"discovery", benchDiscovery},
        {"stream", benchStream},
        {"wait-listen", phaseWaitListen},
        {"tcp-flood", phaseTcpFlood},
        {"cycles", phaseCycles},
        {"markup", phaseMarkup},
        {"unplug", phaseUnplug},
        {"command", phaseCommand},
        {"udp", phaseUdp},
        {"trap", phaseTrap},
    };
    const auto it = commands.find(what);
    if (it == commands.end())
        die("unknown sub-command " + what);
    return it->second(o);
}
