#include "tools/probe/statusquery.h"

#include <QJsonDocument>
#include <QTcpSocket>

StatusQuery::StatusQuery(const QString &host, quint16 port, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
    , m_socket(new QTcpSocket(this))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer within %1 ms").arg(m_timer.interval())); });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_socket->write(
            QStringLiteral("GET /status HTTP/1.1\r\nHost: %1\r\nConnection: close\r\n\r\n").arg(m_host).toUtf8());
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        m_answer += m_socket->readAll();
        if (m_answer.size() > maxBytes)
            fail(QStringLiteral("more than %1 bytes: not a status endpoint").arg(maxBytes));
    });
    // The endpoint closes every connection once it has answered.
    connect(m_socket, &QTcpSocket::disconnected, this, &StatusQuery::take);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // disconnected() follows
        fail(error == QAbstractSocket::ConnectionRefusedError ? QStringLiteral("connection refused")
                                                              : m_socket->errorString());
    });
}

void StatusQuery::start(int timeoutMs)
{
    m_timer.start(timeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void StatusQuery::fail(const QString &why)
{
    if (m_done)
        return;
    m_done = true;
    m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_port).arg(why);
    m_timer.stop();
    m_socket->abort();
    emit finished();
}

void StatusQuery::take()
{
    if (m_done)
        return;
    m_answer += m_socket->readAll();
    const int end = m_answer.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = m_answer.left(m_answer.indexOf("\r\n")).split(' ');
    if (end < 0 || statusLine.size() < 2 || !statusLine.at(0).startsWith("HTTP/"))
        return fail(QStringLiteral("not an HTTP answer"));
    if (statusLine.at(1) != "200")
        return fail(QStringLiteral("answered %1").arg(QString::fromLatin1(m_answer.left(m_answer.indexOf("\r\n")))));
    m_body = m_answer.mid(end + 4);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(m_body, &error);
    if (!document.isObject() || document.object().isEmpty())
        return fail(QStringLiteral("not a status: %1").arg(error.errorString()));
    m_done = true;
    m_status = document.object();
    m_timer.stop();
    emit finished();
}
