#pragma once

#include <QObject>
#include <QPointer>

QT_BEGIN_NAMESPACE
class QTcpServer;
class QTcpSocket;
QT_END_NAMESPACE

// The network side of the bridge: TCP 7000, the newest connection is the current client.
class MyServer : public QObject
{
    Q_OBJECT

public:
    explicit MyServer(QObject *parent = nullptr);

signals:
    void sigSendTCPdata(QString);
    // For the status counters: a connection was accepted, bytes were read from the current client,
    // bytes were handed to its socket, and who the current client is ("address:port"; a null string
    // once none is connected).
    void accepted();
    void bytesRead(qint64 bytes);
    void bytesWritten(qint64 bytes);
    void clientChanged(const QString &address);

public slots:
    void newConnection();
    void startRead();
    void connectionAboutToClose();
    void slotWriteTCP(QByteArray data);

private:
    QTcpServer *tcpServer = nullptr;
    // Not owned: accepted sockets are children of tcpServer, freed once their connection has ended,
    // which leaves this null; a freed current client then reads and writes as a closed one.
    QPointer<QTcpSocket> tcpSocket;
    bool hadClient = false;
};
