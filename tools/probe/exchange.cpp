#include "tools/probe/exchange.h"

#include "core/cmdline.h"

#include <QTcpSocket>

void TcpOptions::add(cmdline::Command &command, const QString &timeoutText) const
{
    command.addValue(QStringLiteral("timeout"), QStringLiteral("ms"),
                     QStringLiteral("%1 (default %2)").arg(timeoutText).arg(timeoutMs));
    command.addValue(
        QStringLiteral("quiet"), QStringLiteral("ms"),
        QStringLiteral("a reply without a line end is complete after this long without more bytes (default %1)")
            .arg(quietMs));
    command.addValue(QStringLiteral("port"), QStringLiteral("n"), QStringLiteral("TCP port (default %1)").arg(port));
}

bool TcpOptions::read(cmdline::Command &command)
{
    return command.number(QStringLiteral("timeout"), 1, 600000, &timeoutMs)
        && command.number(QStringLiteral("quiet"), 1, 60000, &quietMs)
        && command.number(QStringLiteral("port"), 1, 65535, &port);
}

Exchange::Exchange(const QString &host, quint16 port, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
{
    m_deadline.setSingleShot(true);
    m_quiet.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &Exchange::onDeadline);
    connect(&m_quiet, &QTimer::timeout, this, &Exchange::onQuiet);
    m_clock.start();
}

QString Exchange::where() const
{
    return m_host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(m_host).arg(m_port)
                                             : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void Exchange::open(int timeoutMs)
{
    close();
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &Exchange::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Exchange::onReadyRead);
    connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            onUnconnected();
    });
    m_state = State::Connecting;
    m_timeoutMs = timeoutMs;
    m_deadline.start(timeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void Exchange::close()
{
    m_deadline.stop();
    m_quiet.stop();
    m_state = State::Closed;
    m_received.clear();
    if (m_socket) {
        QTcpSocket *old = m_socket;
        m_socket = nullptr;
        old->disconnect(this);
        old->abort();
        old->deleteLater();
    }
}

void Exchange::ask(const QByteArray &command, int timeoutMs, int quietMs)
{
    if (m_state != State::Idle) {
        finish(Outcome::Closed, QByteArray());
        return;
    }
    m_stray += m_received.size() + m_socket->bytesAvailable();
    m_received.clear();
    m_socket->readAll();
    m_timeoutMs = timeoutMs;
    m_quietMs = quietMs;
    m_replyStarted = false;
    m_state = State::Waiting;
    m_sentNs = m_clock.nsecsElapsed();
    m_lastByteNs = m_sentNs;
    m_socket->write(command + "\r\n");
    m_deadline.start(timeoutMs);
}

void Exchange::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_deadline.stop();
    m_state = State::Idle;
    emit opened();
}

void Exchange::onUnconnected()
{
    switch (m_state) {
    case State::Connecting: {
        // The socket's error is set by now, whichever of its two signals comes first.
        Failure failure = Failure::Other;
        switch (m_socket->error()) {
        case QAbstractSocket::ConnectionRefusedError: failure = Failure::Refused; break;
        case QAbstractSocket::HostNotFoundError: failure = Failure::HostNotFound; break;
        case QAbstractSocket::SocketTimeoutError: failure = Failure::Timeout; break;
        default: break;
        }
        m_socketError = m_socket->errorString();
        close();
        emit openFailed(failure, failureText(failure));
        break;
    }
    case State::Waiting: {
        m_received += m_socket->readAll();
        // The end of the stream ends a reply as a pause does.
        if (!m_received.isEmpty())
            m_lastByteNs = m_clock.nsecsElapsed();
        const QByteArray last = reply::take(&m_received, true);
        m_stray += m_received.size();
        close();
        finish(last.isEmpty() ? Outcome::Closed : Outcome::Answered, last);
        break;
    }
    case State::Idle:
        close();
        emit lost();
        break;
    case State::Closed: break;
    }
}

void Exchange::onReadyRead()
{
    if (!m_socket)
        return;
    const QByteArray data = m_socket->readAll();
    if (m_state != State::Waiting) {
        m_stray += data.size();
        return;
    }
    m_received += data;
    m_lastByteNs = m_clock.nsecsElapsed();
    if (!m_replyStarted) {
        m_replyStarted = true;
        m_deadline.start(m_timeoutMs); // the rest of the reply gets its own bound
    }
    const QByteArray whole = reply::take(&m_received, false);
    if (!whole.isEmpty())
        finish(Outcome::Answered, whole);
    else
        m_quiet.start(m_quietMs);
}

void Exchange::onQuiet()
{
    if (m_state == State::Waiting && !m_received.isEmpty())
        finish(Outcome::Answered, reply::take(&m_received, true));
}

void Exchange::onDeadline()
{
    if (m_state == State::Connecting) {
        close();
        emit openFailed(Failure::Timeout, failureText(Failure::Timeout));
    } else if (m_state == State::Waiting) {
        if (m_received.isEmpty())
            finish(Outcome::Timeout, QByteArray());
        else
            finish(Outcome::Answered, reply::take(&m_received, true));
    }
}

void Exchange::finish(Outcome outcome, const QByteArray &reply)
{
    m_deadline.stop();
    m_quiet.stop();
    if (m_state == State::Waiting)
        m_state = State::Idle;
    // Whatever follows a reply in the same stretch belongs to no command.
    m_stray += m_received.size();
    m_received.clear();
    const double latencyMs = outcome == Outcome::Answered ? double(m_lastByteNs - m_sentNs) / 1e6 : 0.0;
    emit finished(outcome, reply, latencyMs);
}

QString Exchange::failureText(Failure failure) const
{
    switch (failure) {
    case Failure::Refused: return QStringLiteral("connection refused by %1").arg(where());
    case Failure::HostNotFound: return QStringLiteral("host not found: %1").arg(m_host);
    case Failure::Timeout: return QStringLiteral("no connection to %1 within %2 ms").arg(where()).arg(m_timeoutMs);
    case Failure::Other: break;
    }
    return QStringLiteral("cannot connect to %1: %2")
        .arg(where(), m_socketError.isEmpty() ? QStringLiteral("unknown error") : m_socketError);
}
