#pragma once

#include <QByteArray>
#include <QObject>

QT_BEGIN_NAMESPACE
class QUdpSocket;
QT_END_NAMESPACE

// Turns every datagram on the bridge's UDP port into one datagram record.
class MyUdpRX : public QObject
{
    Q_OBJECT

public:
    MyUdpRX(const int &port, QObject *parent = nullptr);

signals:
    void sigSendUDPdata(QString);

private slots:
    void processPendingDatagrams();

private:
    // The largest payload a UDP datagram can carry, with room to spare.
    static constexpr int maxDatagram = 65536;

    QUdpSocket *udpSocket = nullptr;
    QByteArray buffer; // one datagram at a time
};
