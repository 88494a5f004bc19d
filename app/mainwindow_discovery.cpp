// The discovery responder: answers "?ZZ?" probes with the bridge's identity.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/roadevents.h"

#include "core/discovery.h"
#include "core/logpane.h"
#include "core/netinfo.h"
#include "core/trace.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QUdpSocket>

void MainWindow::slotUdpRX(QString record)
{
    const RoadEvents::Handling handling(road);
    TRACE << record;
    logTcpPane(fontDeepPink, QStringLiteral("<b>UDP>"), record + QStringLiteral("</b>"));
    if (!discovery::isProbe(record))
        return;
    TRACE << "UDP Discovery!";
    broadcastKRUDP();
}

void MainWindow::broadcastKRUDP()
{
    auto *socket = new QUdpSocket(this);
    const QString address = getLocalNetInfo(netinfo::Ipv4Addresses).first();
    const QString destination = discovery::destination(address, discovery::runningOnWindows10());
    const QByteArray reply =
        discovery::reply(address, getLocalNetInfo(netinfo::HardwareAddresses).first(), udpReplyCount);
    ++udpReplyCount; // a reply that fails to go out still uses up its number
    socket->bind(quint16(udpRxPort), QAbstractSocket::DefaultForPlatform);
    socket->writeDatagram(reply, QHostAddress(destination), quint16(udpTxPort));
    // Released at once: a socket left bound to the listening port would take probes from the listener.
    delete socket;
    TRACE << destination << reply;
    logTcpPane(fontDarkBlue, QStringLiteral("&gt;&gt;&gt;"), QString::fromUtf8(reply));
    const RoadEvents::Pass pass(road);
    QCoreApplication::processEvents();
}
