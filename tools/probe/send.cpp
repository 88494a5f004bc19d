// tolvane-probe send: one command over TCP, the reply shown byte for byte.
#include "tools/probe/options.h"
#include "tools/probe/probe.h"

#include "core/text.h"
#include "core/product.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTextStream>

namespace {

const char usageText[] =
    "usage: tolvane-probe send HOST COMMAND [--timeout MS] [--quiet MS] [--port N]\n"
    "Sends COMMAND plus CR LF to the bridge and prints the reply bytes, with \\\\ \\0 \\t \\r \\n and\n"
    "\\xHH standing for bytes that are not printable.\n"
    "  --timeout MS   time for connecting and for the first reply bytes (default 3000)\n"
    "  --quiet MS     the reply is complete after this long without more bytes (default 300)\n"
    "  --port N       TCP port (default 7000)\n"
    "Exit status: 0 with a reply, 1 on a refused or failed connection or no reply, 2 for bad arguments.\n";

} // namespace

int runSend(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    auto bad = [&](const QString &reason) {
        err << "tolvane-probe send: " << reason << " (see 'tolvane-probe send --help')\n";
        return 2;
    };

    Options options;
    QString error;
    if (!parseOptions(args, {QStringLiteral("--timeout"), QStringLiteral("--quiet"), QStringLiteral("--port")},
                      {QStringLiteral("--help")}, &options, &error))
        return bad(error);
    if (options.has(QStringLiteral("--help"))) {
        out << usageText;
        return 0;
    }
    if (options.positional.size() != 2)
        return bad(options.positional.size() < 2 ? QStringLiteral("needs HOST and COMMAND")
                                                 : QStringLiteral("unexpected argument '%1'").arg(options.positional.at(2)));
    const QString host = options.positional.at(0);
    if (host.isEmpty())
        return bad(QStringLiteral("HOST is empty"));
    qint64 timeoutMs = 3000;
    qint64 quietMs = 300;
    qint64 port = product::tcpPort;
    if (!parseNumber(options, QStringLiteral("--timeout"), 1, 600000, &timeoutMs, &error)
        || !parseNumber(options, QStringLiteral("--quiet"), 1, 60000, &quietMs, &error)
        || !parseNumber(options, QStringLiteral("--port"), 1, 65535, &port, &error))
        return bad(error);
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    auto fail = [&](const QString &reason) {
        err << "tolvane-probe send: " << reason << '\n';
        return 1;
    };

    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(host, quint16(port));
    if (!socket.waitForConnected(int(timeoutMs))) {
        switch (socket.error()) {
        case QAbstractSocket::ConnectionRefusedError:
            return fail(QStringLiteral("connection refused by %1").arg(where));
        case QAbstractSocket::HostNotFoundError:
            return fail(QStringLiteral("host not found: %1").arg(host));
        case QAbstractSocket::SocketTimeoutError:
            return fail(QStringLiteral("no connection to %1 within %2 ms").arg(where).arg(timeoutMs));
        default:
            return fail(QStringLiteral("cannot connect to %1: %2").arg(where, socket.errorString()));
        }
    }

    socket.write(options.positional.at(1).toUtf8() + "\r\n");
    QByteArray reply;
    // First bytes within the timeout, then whatever follows without a pause longer than the quiet time.
    while (socket.bytesAvailable() == 0) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return fail(QStringLiteral("no reply from %1 within %2 ms").arg(where).arg(timeoutMs));
        if (!socket.waitForReadyRead(int(left)) && socket.bytesAvailable() == 0
            && socket.state() != QAbstractSocket::ConnectedState)
            return fail(QStringLiteral("connection closed by %1 without a reply").arg(where));
    }
    QElapsedTimer replyClock;
    replyClock.start();
    reply += socket.readAll();
    while (replyClock.elapsed() < timeoutMs && socket.state() == QAbstractSocket::ConnectedState
           && socket.waitForReadyRead(int(qMin(quietMs, timeoutMs - replyClock.elapsed() + 1))))
        reply += socket.readAll();
    reply += socket.readAll();
    out << text::escapeBytes(reply) << '\n';
    return 0;
}
