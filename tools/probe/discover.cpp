// tolvane-probe discover: one "?ZZ?" probe, then every reply that arrives within the wait.
#include "tools/probe/options.h"
#include "tools/probe/probe.h"

#include "core/discovery.h"
#include "core/text.h"
#include "core/product.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTextStream>
#include <QUdpSocket>
#include <QVector>

namespace {

const char usageText[] =
    "usage: tolvane-probe discover [--to ADDRESS] [--wait MS] [--raw] [--payload TEXT]\n"
    "                              [--port N] [--listen-port N]\n"
    "Sends one discovery probe and lists the bridges that answer.\n"
    "  --to ADDRESS      where the probe goes (default 255.255.255.255)\n"
    "  --wait MS         how long to listen for replies (default 1000)\n"
    "  --raw             print each reply's bytes, escaped, one reply per line\n"
    "  --payload TEXT    send TEXT instead of ?ZZ? (escapes: \\\\ \\0 \\t \\r \\n \\xHH)\n"
    "  --port N          UDP port the probe goes to (default 35070)\n"
    "  --listen-port N   UDP port the replies come to (default 35069)\n"
    "Exit status: 0 when at least one bridge answered, 1 when none did, 2 for bad arguments.\n";

struct Answer {
    QByteArray bytes;
    QHostAddress sender;
    quint16 senderPort = 0;
};

QString senderText(const Answer &a)
{
    if (a.sender.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(a.sender.toString()).arg(a.senderPort);
    return QStringLiteral("%1:%2").arg(a.sender.toString()).arg(a.senderPort);
}

void printTable(QTextStream &out, const QVector<Answer> &answers)
{
    const QStringList header = {QStringLiteral("IP"), QStringLiteral("MAC"), QStringLiteral("MODEL"),
                                QStringLiteral("COUNTER"), QStringLiteral("FROM")};
    QVector<QStringList> rows;
    QStringList unreadable;
    for (const Answer &a : answers) {
        discovery::Reply r;
        if (discovery::parseReply(a.bytes, &r))
            rows.append({r.ip, r.mac, r.model, QString::number(r.counter), senderText(a)});
        else
            unreadable.append(QStringLiteral("unreadable reply from %1: %2").arg(senderText(a), text::escapeBytes(a.bytes)));
    }
    if (!rows.isEmpty()) {
        QVector<int> width(header.size());
        for (int c = 0; c < header.size(); ++c) {
            width[c] = header.at(c).size();
            for (const QStringList &row : rows)
                width[c] = qMax(width[c], row.at(c).size());
        }
        auto line = [&](const QStringList &cells) {
            QString text;
            for (int c = 0; c < cells.size(); ++c)
                text += c + 1 < cells.size() ? cells.at(c).leftJustified(width[c] + 2) : cells.at(c);
            out << text << '\n';
        };
        line(header);
        for (const QStringList &row : rows)
            line(row);
    }
    for (const QString &u : unreadable)
        out << u << '\n';
}

} // namespace

int runDiscover(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    auto bad = [&](const QString &reason) {
        err << "tolvane-probe discover: " << reason << " (see 'tolvane-probe discover --help')\n";
        return 2;
    };

    Options options;
    QString error;
    if (!parseOptions(args,
                      {QStringLiteral("--to"), QStringLiteral("--wait"), QStringLiteral("--payload"),
                       QStringLiteral("--port"), QStringLiteral("--listen-port")},
                      {QStringLiteral("--raw"), QStringLiteral("--help")}, &options, &error))
        return bad(error);
    if (options.has(QStringLiteral("--help"))) {
        out << usageText;
        return 0;
    }
    if (!options.positional.isEmpty())
        return bad(QStringLiteral("unexpected argument '%1'").arg(options.positional.first()));

    QHostAddress to(QHostAddress::Broadcast);
    if (options.values.contains(QStringLiteral("--to"))
        && !to.setAddress(options.values.value(QStringLiteral("--to"))))
        return bad(QStringLiteral("--to wants an IP address, not '%1'").arg(options.values.value(QStringLiteral("--to"))));
    qint64 waitMs = 1000;
    qint64 port = product::udpRxPort;
    qint64 listenPort = product::udpTxPort;
    if (!parseNumber(options, QStringLiteral("--wait"), 0, 600000, &waitMs, &error)
        || !parseNumber(options, QStringLiteral("--port"), 1, 65535, &port, &error)
        || !parseNumber(options, QStringLiteral("--listen-port"), 1, 65535, &listenPort, &error))
        return bad(error);
    QByteArray payload("?ZZ?");
    if (options.values.contains(QStringLiteral("--payload"))
        && !text::unescapeBytes(options.values.value(QStringLiteral("--payload")), &payload))
        return bad(QStringLiteral("--payload has a bad escape (use \\\\ \\0 \\t \\r \\n \\xHH)"));
    const bool raw = options.has(QStringLiteral("--raw"));

    // Listen before probing, or a quick bridge could answer before anyone hears it.
    QUdpSocket socket;
    const QHostAddress local = to.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(QHostAddress::AnyIPv6)
                                                                              : QHostAddress(QHostAddress::AnyIPv4);
    if (!socket.bind(local, quint16(listenPort), QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        err << "tolvane-probe discover: cannot listen on UDP port " << listenPort << ": " << socket.errorString() << '\n';
        return 1;
    }
    if (socket.writeDatagram(payload, to, quint16(port)) != payload.size()) {
        err << "tolvane-probe discover: cannot send the probe to " << to.toString() << ':' << port << ": "
            << socket.errorString() << '\n';
        return 1;
    }

    QVector<Answer> answers;
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
            answers.append(a);
            if (raw) {
                out << text::escapeBytes(a.bytes) << '\n';
                out.flush();
            }
        }
        const qint64 left = waitMs - clock.elapsed();
        if (left <= 0)
            break;
        socket.waitForReadyRead(int(left));
    }

    int bridges = 0;
    for (const Answer &a : answers) {
        discovery::Reply r;
        bridges += discovery::parseReply(a.bytes, &r) ? 1 : 0;
    }
    if (!raw)
        printTable(out, answers);
    out.flush();
    if (bridges == 0) {
        err << "tolvane-probe discover: no bridge answered within " << waitMs << " ms (probe sent to "
            << to.toString() << ':' << port << ")\n";
        return 1;
    }
    return 0;
}
