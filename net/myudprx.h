#pragma once

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
    QUdpSocket *udpSocket = nullptr;
};
