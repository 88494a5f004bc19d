#include "net/mytcpserver.h"

#include "core/text.h"
#include "core/trace.h"
#include "core/product.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>

MyServer::MyServer(QObject *parent)
    : QObject(parent)
{
    tcpServer = new QTcpServer(this);
    connect(tcpServer, SIGNAL(newConnection()), this, SLOT(newConnection()));
    if (!tcpServer->listen(QHostAddress::Any, product::tcpPort)) {
        qDebug() << "Server could not start!";
        return;
    }
    qDebug() << "Server started:" << tcpServer->serverPort();
}

void MyServer::newConnection()
{
    TRACE << "NEW Connection";
    QTcpSocket *next = tcpServer->nextPendingConnection();
    if (!next)
        return;
    tcpSocket = next;
    connect(tcpSocket, SIGNAL(readyRead()), this, SLOT(startRead()));
    connect(tcpSocket, SIGNAL(disconnected()), this, SLOT(connectionAboutToClose()));
}

void MyServer::startRead()
{
    if (!tcpSocket)
        return;
    // One text per read of at most 1023 bytes, so the buffer always ends in a zero; whatever is
    // pending beyond that is read in further rounds of the same notification.
    do {
        char buffer[1024];
        std::memset(buffer, 0, sizeof buffer);
        const qint64 wanted = qMin<qint64>(tcpSocket->bytesAvailable(), sizeof buffer - 1);
        // A closed client has nothing to read; reading it anyway would only make Qt complain.
        const qint64 got = wanted > 0 ? tcpSocket->read(buffer, wanted) : 0;
        const QString text = text::utf8UpToNul(QByteArray(buffer, int(qMax<qint64>(got, 0))));
        TRACE << text << "\n";
        emit sigSendTCPdata(text.simplified());
        // The slot may have run the event loop: the current client can have changed or closed since.
    } while (tcpSocket->bytesAvailable() > 0);
}

void MyServer::connectionAboutToClose()
{
    TRACE << "Connection to client closed!";
    if (tcpSocket)
        tcpSocket->close();
}

void MyServer::slotWriteTCP(QByteArray data)
{
    TRACE << data;
    if (tcpSocket && tcpSocket->isWritable()) {
        tcpSocket->write(data);
        // Straight to the kernel: otherwise the bytes wait for the event loop's next turn.
        tcpSocket->flush();
    }
}
