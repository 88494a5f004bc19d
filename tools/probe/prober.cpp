#include "tools/probe/prober.h"

#include "core/cmdline.h"

#include <QElapsedTimer>
#include <QUdpSocket>

namespace prober {

QString Answer::from() const
{
    if (sender.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(sender.toString()).arg(senderPort);
    return QStringLiteral("%1:%2").arg(sender.toString()).arg(senderPort);
}

bool run(const Request &request, QVector<Answer> *answers, QString *error,
         const std::function<void(const Answer &)> &onAnswer)
{
    bool ipv6 = false;
    for (const QHostAddress &to : request.to)
        ipv6 = ipv6 || to.protocol() == QAbstractSocket::IPv6Protocol;
    QUdpSocket socket;
    const QHostAddress local = ipv6 ? QHostAddress(QHostAddress::Any) : QHostAddress(QHostAddress::AnyIPv4);
    if (!socket.bind(local, request.listenPort, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot listen on UDP port %1: %2").arg(request.listenPort).arg(socket.errorString());
        return false;
    }
    for (const QHostAddress &to : request.to) {
        if (socket.writeDatagram(request.payload, to, request.port) != request.payload.size()) {
            *error = QStringLiteral("cannot send the probe to %1:%2: %3")
                         .arg(to.toString())
                         .arg(request.port)
                         .arg(socket.errorString());
            return false;
        }
    }

    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (socket.hasPendingDatagrams()) {
            Answer a;
            a.bytes.resize(int(qMax<qint64>(socket.pendingDatagramSize(), 0)));
            const qint64 got = socket.readDatagram(a.bytes.data(), a.bytes.size(), &a.sender, &a.senderPort);
            a.bytes.resize(int(qMax<qint64>(got, 0)));
            bool mapped = false;
            const quint32 v4 = a.sender.toIPv4Address(&mapped);
            if (mapped)
                a.sender = QHostAddress(v4);
            a.readable = discovery::parseReply(a.bytes, &a.reply);
            answers->append(a);
            if (onAnswer)
                onAnswer(a);
        }
        const qint64 left = request.waitMs - clock.elapsed();
        if (left <= 0)
            return true;
        socket.waitForReadyRead(int(left));
    }
}

void addOptions(cmdline::Command &command)
{
    command.addValue(QStringLiteral("to"), QStringLiteral("address"),
                     QStringLiteral("where the probe goes (default %1); may be given more than once")
                         .arg(QHostAddress(QHostAddress::Broadcast).toString()));
    command.addValue(QStringLiteral("wait"), QStringLiteral("ms"),
                     QStringLiteral("how long to listen for replies (default %1)").arg(Request().waitMs));
}

bool readOptions(cmdline::Command &command, Request *request)
{
    request->to.clear();
    for (const QString &text : command.values(QStringLiteral("to"))) {
        QHostAddress address;
        if (!address.setAddress(text)) {
            command.bad(QStringLiteral("--to wants an IP address, not '%1'").arg(text));
            return false;
        }
        request->to.append(address);
    }
    if (request->to.isEmpty())
        request->to.append(QHostAddress(QHostAddress::Broadcast));
    qint64 waitMs = request->waitMs;
    if (!command.number(QStringLiteral("wait"), 0, 600000, &waitMs)) {
        command.bad(command.error());
        return false;
    }
    request->waitMs = int(waitMs);
    return true;
}

} // namespace prober
