#pragma once

#include "net/statusboard.h"

#include <QHostAddress>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QThread;
QT_END_NAMESPACE

struct MHD_Daemon;

// What one client may cost the status server.
struct StatusLimits {
    unsigned connections = 64;     // open at once; more are closed as they arrive
    unsigned requestBytes = 16384; // the request line and headers, and the answer's own headers
    unsigned requestSeconds = 5;   // from connect to the end of the answer
};

// The read-only HTTP status endpoint: GET or HEAD on / (a page for a person), /status (JSON) and
// /metrics (Prometheus); 404 for any other path, 405 for any other method. It runs on a thread of
// its own and asks `source` (on that thread) for each answer, so the bridge's thread never waits for
// a client. Every connection carries one request and is closed once it is answered, or when the
// request is too big or not complete within the time limit, however slowly it trickles in.
// `source` must stay valid until close() or the destructor, which wait for the thread to end.
class StatusServer
{
public:
    using Source = std::function<StatusSnapshot()>;

    explicit StatusServer(Source source, StatusLimits limits = StatusLimits());
    ~StatusServer();
    StatusServer(const StatusServer &) = delete;
    StatusServer &operator=(const StatusServer &) = delete;

    // Listens on `address` (QHostAddress::Any: every IPv4 and IPv6 address) and `port` (0: one the
    // system picks). False, and errorString() saying why, when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    void close();
    bool isListening() const { return m_daemon != nullptr; }
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }

    struct Loop; // the server thread's state, shared with the library's callbacks

private:
    Source m_source;
    StatusLimits m_limits;
    MHD_Daemon *m_daemon = nullptr;
    std::unique_ptr<Loop> m_loop;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    quint16 m_port = 0;
    QString m_error;
};
