#include "bench/tvbench/sockets.h"

#include <algorithm>
#include <cstdlib>
#include <netinet/tcp.h>
#include <sys/stat.h>

namespace tvbench {

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

int connectTcp(const std::string &host, int port, double seconds)
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

long counterOf(const std::string &reply)
{
    const std::string tag = std::string("serial=") + product::appName + "-";
    const size_t at = reply.find(tag);
    return at == std::string::npos ? -1 : std::strtol(reply.c_str() + at + tag.size(), nullptr, 10);
}

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

} // namespace tvbench
