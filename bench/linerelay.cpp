// The benchmark's reference for what a Qt bridge with Tolvane's rules on the wire costs, without a
// window: commands from the newest TCP client go to the port at once (waiting until written); from
// the port one line per readyRead() notification, the echo of the last command dropped, the rest
// written to the client and flushed. Measured beside socat and Tolvane, it separates what the rules
// and Qt's socket road cost from what Tolvane adds.
//
//   linerelay PORT_PATH TCP_PORT    (listens on loopback only)
#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: linerelay PORT_PATH TCP_PORT\n");
        return 2;
    }
    QSerialPort port(args.at(1));
    port.setBaudRate(115200);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "linerelay: %s\n", qPrintable(port.errorString()));
        return 1;
    }
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(args.at(2).toUInt()))) {
        std::fprintf(stderr, "linerelay: %s\n", qPrintable(server.errorString()));
        return 1;
    }

    QPointer<QTcpSocket> client;
    QByteArray lastCommand;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *next = server.nextPendingConnection();
        if (!next)
            return;
        client = next;
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(next, &QTcpSocket::readyRead, [&, next] {
            lastCommand = next->readAll();
            port.write(lastCommand);
            port.waitForBytesWritten(1000);
        });
    });
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        if (!port.canReadLine())
            return;
        const QByteArray line = port.readLine();
        if (line == lastCommand || !client)
            return;
        client->write(line);
        client->flush();
    });
    return app.exec();
}
