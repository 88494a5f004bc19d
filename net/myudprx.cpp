#include "net/myudprx.h"

#include "core/datagram.h"
#include "core/trace.h"

#include <QHostAddress>
#include <QTime>
#include <QUdpSocket>

MyUdpRX::MyUdpRX(const int &port, QObject *parent)
    : QObject(parent)
{
    udpSocket = new QUdpSocket(this);
    const bool bound = udpSocket->bind(QHostAddress::Any, quint16(port),
                                       QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    TRACE << "UDPrx Bind" << port << bound;
    // Room for a burst of probes while the window is busy answering the first ones (the system may cap it).
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
    connect(udpSocket, SIGNAL(readyRead()), this, SLOT(processPendingDatagrams()));
}

void MyUdpRX::processPendingDatagrams()
{
    // Read until the socket has nothing left, and let the read that finds nothing end the loop: Qt
    // announces the next datagram only after a read, and the event loop can announce one that a nested
    // pass of it has already taken. A loop guarded by hasPendingDatagrams() would then read nothing,
    // and the listener would never hear another datagram.
    buffer.resize(maxDatagram);
    forever
    {
        QHostAddress sender;
        const qint64 size = udpSocket->readDatagram(buffer.data(), buffer.size(), &sender);
        if (size < 0)
            return;
        const QTime now = QTime::currentTime();
        emit sigSendUDPdata(datagram::record(sender.toString(), now, QByteArray(buffer.constData(), int(size))));
    }
}
