#include "net/statusserver.h"

#include "core/bridgestatus.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define SHUT_RDWR SD_BOTH
#else
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#endif

#include <microhttpd.h>

struct StatusServer::Loop {
    Source source;
    qint64 deadlineMs;
    QElapsedTimer clock;
    struct Open {
        MHD_socket fd;
        qint64 sinceMs;
    };
    std::unordered_map<MHD_Connection *, Open> open;

    // The library's timeout counts from the last byte, so a client that trickles its request
    // would keep a connection forever: past the deadline the socket is shut down, and the library
    // closes it when it reads the end. Runs on the loop's thread, between the library's own turns,
    // so the socket is still the connection's.
    void cutOverdue()
    {
        const qint64 now = clock.elapsed();
        for (auto &[connection, o] : open) {
            if (now - o.sinceMs > deadlineMs) {
                shutdown(o.fd, SHUT_RDWR);
                o.sinceMs = now; // once per deadline is enough
            }
        }
    }
};

namespace {

constexpr int wakeMs = 200; // how soon close() is noticed and overdue requests are cut

MHD_Result respond(MHD_Connection *connection, unsigned code, const QByteArray &body, const char *type)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char *>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (code == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, code, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *, size_t *uploadSize, void **request)
{
    // Answered with the headers: a body is never wanted, so it is never waited for.
    static int answered;
    if (*request) {
        *uploadSize = 0;
        return MHD_YES;
    }
    *request = &answered;

    const char text[] = "text/plain; charset=utf-8";
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", text);
    const bool page = std::strcmp(url, "/") == 0;
    const bool json = std::strcmp(url, "/status") == 0;
    const bool metrics = std::strcmp(url, "/metrics") == 0;
    if (!page && !json && !metrics)
        return respond(connection, MHD_HTTP_NOT_FOUND, "not found: try /, /status or /metrics\n", text);

    const StatusSnapshot s = static_cast<StatusServer::Loop *>(cls)->source();
    if (json)
        return respond(connection, MHD_HTTP_OK, bridgestatus::toJson(s.status) + '\n', "application/json");
    if (metrics)
        return respond(connection, MHD_HTTP_OK, bridgestatus::toMetrics(s.status), bridgestatus::metricsContentType);
    return respond(connection, MHD_HTTP_OK, bridgestatus::toPage(s.status, s.traffic), "text/html; charset=utf-8");
}

void notify(void *cls, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code)
{
    auto *loop = static_cast<StatusServer::Loop *>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info)
            loop->open[connection] = {info->connect_fd, loop->clock.elapsed()};
    } else {
        loop->open.erase(connection);
    }
}

} // namespace

StatusServer::StatusServer(Source source, StatusLimits limits)
    : m_source(std::move(source))
    , m_limits(limits)
{ }

StatusServer::~StatusServer() { close(); }

bool StatusServer::listen(const QHostAddress &address, quint16 port)
{
    close();
    m_loop = std::make_unique<Loop>();
    m_loop->source = m_source;
    m_loop->deadlineMs = qint64(m_limits.requestSeconds) * 1000;
    m_loop->clock.start();

    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr *bind = nullptr;
    unsigned flags = MHD_NO_FLAG;
    if (address == QHostAddress::Any) {
        flags |= MHD_USE_DUAL_STACK;
    } else if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(address.toIPv4Address());
        bind = reinterpret_cast<const sockaddr *>(&v4);
    } else {
        const Q_IPV6ADDR a = address.toIPv6Address();
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&v6.sin6_addr, &a, sizeof a);
        v6.sin6_scope_id = uint32_t(QNetworkInterface::interfaceIndexFromName(address.scopeId()));
        bind = reinterpret_cast<const sockaddr *>(&v6);
        flags |= MHD_USE_IPv6;
    }

    MHD_OptionItem options[] = {
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(m_limits.connections), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(m_limits.requestBytes), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(m_limits.requestSeconds), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&notify), m_loop.get()},
        {bind ? MHD_OPTION_SOCK_ADDR : MHD_OPTION_END, 0, const_cast<sockaddr *>(bind)},
        {MHD_OPTION_END, 0, nullptr},
    };
    const auto start = [&](unsigned f) {
        return MHD_start_daemon(f, port, nullptr, nullptr, &answer, m_loop.get(), MHD_OPTION_ARRAY, options,
                                MHD_OPTION_END);
    };
    m_daemon = start(flags);
    if (!m_daemon && address == QHostAddress::Any)
        m_daemon = start(MHD_NO_FLAG); // a machine without IPv6
    if (!m_daemon) {
        m_error = QStringLiteral("cannot listen on %1 port %2: %3")
                      .arg(address.toString())
                      .arg(port)
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_loop.reset();
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : port;
    m_error.clear();

    m_stop = false;
    m_thread = QThread::create([daemon = m_daemon, loop = m_loop.get(), stop = &m_stop] {
        while (!*stop) {
            fd_set in, out, failed;
            FD_ZERO(&in);
            FD_ZERO(&out);
            FD_ZERO(&failed);
            MHD_socket highest = 0;
            if (MHD_get_fdset2(daemon, &in, &out, &failed, &highest, FD_SETSIZE) != MHD_YES)
                break;
            MHD_UNSIGNED_LONG_LONG due = wakeMs;
            if (MHD_get_timeout(daemon, &due) != MHD_YES || due > static_cast<MHD_UNSIGNED_LONG_LONG>(wakeMs))
                due = wakeMs;
            timeval wait{0, long(due) * 1000};
            select(int(highest) + 1, &in, &out, &failed, &wait);
            MHD_run_from_select(daemon, &in, &out, &failed);
            loop->cutOverdue();
        }
    });
    m_thread->setObjectName(QStringLiteral("status server"));
    m_thread->start();
    return true;
}

void StatusServer::close()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
    m_loop.reset();
    m_port = 0;
}
