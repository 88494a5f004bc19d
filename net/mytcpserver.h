#pragma once

#include <QObject>

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

public slots:
    void newConnection();
    void startRead();
    void connectionAboutToClose();
    void slotWriteTCP(QByteArray data);

private:
    QTcpServer *tcpServer = nullptr;
    QTcpSocket *tcpSocket = nullptr; // not owned: accepted sockets are children of tcpServer
};
