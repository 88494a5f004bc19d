#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// One GET /status from a bridge's status endpoint, driven by the event loop, so many can run side
// by side on one thread.
class StatusQuery : public QObject
{
    Q_OBJECT

public:
    StatusQuery(const QString &host, quint16 port, QObject *parent = nullptr);

    // Asks; finished() follows within timeoutMs, however the endpoint behaves.
    void start(int timeoutMs);

    bool ok() const { return m_error.isEmpty() && !m_status.isEmpty(); }
    QByteArray body() const { return m_body; }      // the JSON exactly as served
    QJsonObject status() const { return m_status; } // empty unless ok()
    QString error() const { return m_error; }       // one line for the user

    // An answer is never bigger than this; more is not a status endpoint.
    static constexpr int maxBytes = 1 << 20;

signals:
    void finished();

private:
    void fail(const QString &why);
    void take();

    QString m_host;
    quint16 m_port;
    QTcpSocket *m_socket;
    QTimer m_timer;
    QByteArray m_answer;
    QByteArray m_body;
    QJsonObject m_status;
    QString m_error;
    bool m_done = false;
};
