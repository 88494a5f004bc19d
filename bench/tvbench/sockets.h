// Sockets towards the bridge: TCP clients that keep what they receive, datagrams, and the bridge's
// side of its connections as /proc/net/tcp shows it.
#pragma once

#include "bench/tvbench/common.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tvbench {

socklen_t address(const std::string &host, int port, sockaddr_storage *out);
// A non-blocking TCP socket connected within the time given, Nagle off; -1 when refused or late.
int connectTcp(const std::string &host, int port, double seconds = 5);
// family "6" for IPv6; bound to port unless it is 0.
int udpSocket(const std::string &family, int port);
void sendDatagram(int fd, const std::string &host, int port, const std::string &data);
// The next datagram within the time left, or false.
bool receiveDatagram(int fd, int64_t deadline, std::string *data, int64_t *at);
// The running number of a discovery reply ("...;serial=Tolvane-N;"), or -1.
long counterOf(const std::string &reply);

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

std::vector<Tcp> tcpTable();
// Once the bridge has taken every connection and seen every client that left go: a client leaving
// closes whichever client is current when the bridge notices.
bool waitSettled(double seconds);
bool waitAccepted(double seconds);
// Once the virtual projector's log has not grown for `quiet` seconds: it has nothing left to say.
bool projectorQuiet(const std::string &log, double quiet, double seconds);

} // namespace tvbench
