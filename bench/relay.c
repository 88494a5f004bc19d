/* The floor: the least a TCP-to-serial relay can do. One poll() loop, raw line, Nagle off,
 * every byte passed on as soon as it arrives (the device's echo included). Newest client wins.
 * Usage: relay PORT DEVICE    (stops on SIGTERM/SIGINT) */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t stop;

static void onSignal(int sig)
{
    (void)sig;
    stop = 1;
}

/* Writes everything; the peers here are fast, so a short blocking wait is fine. */
static int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                struct pollfd p = {fd, POLLOUT, 0};
                poll(&p, 1, 1000);
                continue;
            }
            return -1;
        }
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: relay PORT DEVICE\n");
        return 2;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    signal(SIGPIPE, SIG_IGN);

    int dev = open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (dev < 0) {
        perror("relay: open device");
        return 1;
    }
    struct termios tio;
    if (tcgetattr(dev, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(dev, TCSANOW, &tio);
    }

    int lsn = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(lsn, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)atoi(argv[1]));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(lsn, (struct sockaddr *)&addr, sizeof addr) != 0 || listen(lsn, 16) != 0) {
        perror("relay: listen");
        return 1;
    }

    int client = -1;
    char buf[4096];
    while (!stop) {
        struct pollfd p[3] = {{lsn, POLLIN, 0}, {dev, POLLIN, 0}, {client, POLLIN, 0}};
        int r = poll(p, client >= 0 ? 3 : 2, 1000);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            perror("relay: poll");
            return 1;
        }
        if (p[0].revents & POLLIN) {
            int c = accept4(lsn, NULL, NULL, SOCK_CLOEXEC);
            if (c >= 0) {
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                if (client >= 0)
                    close(client);
                client = c;
                continue;
            }
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = read(dev, buf, sizeof buf);
            if (n > 0 && client >= 0 && writeAll(client, buf, (size_t)n) != 0) {
                close(client);
                client = -1;
            }
            if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR)))
                usleep(10000); /* line hung up: do not spin */
        }
        if (client >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0) {
                if (!(n < 0 && (errno == EAGAIN || errno == EINTR))) {
                    close(client);
                    client = -1;
                }
            } else if (writeAll(dev, buf, (size_t)n) != 0) {
                perror("relay: write device");
            }
        }
    }
    if (client >= 0)
        close(client);
    close(lsn);
    close(dev);
    return 0;
}
