#pragma once

#include "tools/probe/outcome.h"

#include "core/product.h"
#include "core/reply.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

namespace cmdline {
class Command;
}

// --timeout, --quiet and --port, which every sub-command that talks TCP takes.
struct TcpOptions {
    qint64 timeoutMs = 3000;
    qint64 quietMs = reply::defaultQuietMs;
    qint64 port = product::tcpPort;

    // `timeoutText` says what --timeout bounds; each help line ends with the default, the value here.
    void add(cmdline::Command &command, const QString &timeoutText) const;
    // False (the reason in command.error()) for a value out of range.
    bool read(cmdline::Command &command);
};

// One TCP connection to a bridge and one command at a time on it, each reply cut by reply::take().
// Everything is driven by the event loop, so many of these can run side by side on one thread.
class Exchange : public QObject
{
    Q_OBJECT

public:
    enum class Failure { Refused, HostNotFound, Timeout, Other };

    Exchange(const QString &host, quint16 port, QObject *parent = nullptr);

    QString where() const; // "host:port", for messages
    bool isOpen() const { return m_state == State::Idle || m_state == State::Waiting; }

    // Connects within timeoutMs: opened() or openFailed() follows. An open connection is dropped first.
    void open(int timeoutMs);
    // Sends the command plus CR LF; finished() follows. The first reply bytes must come within
    // timeoutMs, and the whole reply within timeoutMs more. Bytes left from earlier replies are dropped.
    void ask(const QByteArray &command, int timeoutMs, int quietMs);
    void close();

    // Bytes that came while no command was waiting, or after a reply cut at reply::maxBytes.
    qint64 strayBytes() const { return m_stray; }

signals:
    void opened();
    void openFailed(Exchange::Failure failure, const QString &reason);
    // Answered, Timeout or Closed; the reply (empty unless Answered) and the time from sending to its
    // last byte.
    void finished(Outcome outcome, const QByteArray &reply, double latencyMs);
    // The connection ended while no command was waiting.
    void lost();

private:
    enum class State { Closed, Connecting, Idle, Waiting };

    void onConnected();
    void onUnconnected();
    void onReadyRead();
    void onDeadline();
    void onQuiet();
    void finish(Outcome outcome, const QByteArray &reply);
    QString failureText(Failure failure) const;

    QString m_host;
    quint16 m_port;
    QTcpSocket *m_socket = nullptr;
    State m_state = State::Closed;
    QString m_socketError;
    int m_timeoutMs = 0;
    int m_quietMs = 0;
    QTimer m_deadline;
    QTimer m_quiet;
    QElapsedTimer m_clock;
    qint64 m_sentNs = 0;
    qint64 m_lastByteNs = 0;
    bool m_replyStarted = false;
    QByteArray m_received;
    qint64 m_stray = 0;
};
