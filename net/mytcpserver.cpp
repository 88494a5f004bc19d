#include "net/mytcpserver.h"

#include "core/tcpread.h"
#include "core/trace.h"
#include "core/product.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// "10.77.0.5:51234", "[fd00::5]:51234"; an IPv4 client of the dual-stack listener without its
// IPv6 wrapping.
QString endpointText(const QHostAddress &address, quint16 port)
{
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    if (v4)
        return QStringLiteral("%1:%2").arg(QHostAddress(ipv4).toString()).arg(port);
    return QStringLiteral("[%1]:%2").arg(address.toString()).arg(port);
}

} // namespace

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
    hadClient = true;
    // Replies are short and each must go at once: without this, a second reply sent before the client
    // acknowledged the first would wait for that acknowledgement (tens of milliseconds).
    tcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(tcpSocket, SIGNAL(readyRead()), this, SLOT(startRead()));
    connect(tcpSocket, SIGNAL(disconnected()), this, SLOT(connectionAboutToClose()));
    emit accepted();
    emit clientChanged(endpointText(tcpSocket->peerAddress(), tcpSocket->peerPort()));
}

void MyServer::startRead()
{
    if (!hadClient)
        return;
    // Always the current client, which may change, close or be freed while a text is handed on.
    const tcpread::Source current{[this] { return tcpSocket ? tcpSocket->bytesAvailable() : qint64(0); },
                                  [this](char *buffer, qint64 size) {
                                      const qint64 got = tcpSocket->read(buffer, size);
                                      if (got > 0)
                                          emit bytesRead(got);
                                      return got;
                                  }};
    const char *function = __func__; // the trace names this function, not the lambda
    tcpread::readPending(current, [this, function](const QString &text, const QString &command) {
        trace::at(__FILE__, __LINE__, function) << text << "\n";
        emit sigSendTCPdata(command);
    });
}

void MyServer::connectionAboutToClose()
{
    TRACE << "Connection to client closed!";
    if (tcpSocket)
        tcpSocket->close();
    emit clientChanged(QString()); // whichever ended, the old rule leaves nobody connected
    // The ended connection is freed once its signal is handled; closing the current client above
    // ends that one too, and its own disconnected() frees it.
    if (QObject *ended = sender())
        ended->deleteLater();
}

void MyServer::slotWriteTCP(QByteArray data)
{
    TRACE << data;
    if (tcpSocket && tcpSocket->isWritable()) {
        const qint64 handed = tcpSocket->write(data);
        if (handed > 0)
            emit bytesWritten(handed);
        // Straight to the kernel: otherwise the bytes wait for the event loop's next turn.
        tcpSocket->flush();
    }
}
