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
    while (udpSocket->hasPendingDatagrams()) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(udpSocket->pendingDatagramSize(), 0)));
        QHostAddress sender;
        udpSocket->readDatagram(datagram.data(), datagram.size(), &sender);
        const QTime now = QTime::currentTime();
        emit sigSendUDPdata(datagram::record(sender.toString(), now, datagram));
    }
}
