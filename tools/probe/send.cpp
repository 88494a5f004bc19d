// tolvane-probe send: one command over TCP, the reply shown byte for byte.
#include "tools/probe/exchange.h"
#include "tools/probe/output.h"
#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/reply.h"
#include "core/text.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>

int runSend(const QStringList &args)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe send"), QStringLiteral("HOST COMMAND [OPTIONS]"),
        QStringLiteral(
            "Sends COMMAND plus CR LF to the bridge and prints the reply bytes, with \\\\ \\0 \\t \\r \\n and\n"
            "\\xHH standing for bytes that are not printable. The reply ends with its first LF, or\n"
            "when no more bytes come for the quiet time (the bridge's own answers have no line end).\n"
            "Exit status: 0 with a reply, 1 on a refused or failed connection or no reply, 2 for bad arguments."));
    command.addArgument(QStringLiteral("HOST"), QStringLiteral("the bridge's name or address"));
    command.addArgument(QStringLiteral("COMMAND"), QStringLiteral("the text to send, e.g. \"op status ?\""));
    TcpOptions tcp;
    TcpOptions::add(command, QStringLiteral("time for connecting and for the first reply bytes (default 3000)"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    command.expectArguments(2, 2, QStringLiteral("needs HOST and COMMAND"));
    if (const auto done = command.parseOrExit(args))
        return *done;
    const QStringList positional = command.positional();
    const QString host = positional.at(0);
    if (host.isEmpty())
        return command.bad(QStringLiteral("HOST is empty"));
    if (!tcp.read(command))
        return command.bad(command.error());
    const QByteArray text = positional.at(1).toUtf8();
    const bool json = command.isSet(QStringLiteral("json"));

    QElapsedTimer clock;
    clock.start();
    Exchange exchange(host, quint16(tcp.port));
    QEventLoop loop;
    QString failure;
    QByteArray reply;
    double latencyMs = 0;
    QString outcome;
    QObject::connect(&exchange, &Exchange::openFailed, &loop, [&](Exchange::Failure, const QString &reason) {
        outcome = QStringLiteral("no connection");
        failure = reason;
        loop.quit();
    });
    QObject::connect(&exchange, &Exchange::opened, &loop, [&] {
        // The timeout covers connecting and the first reply bytes together.
        exchange.ask(text, int(qMax<qint64>(1, tcp.timeoutMs - clock.elapsed())), int(tcp.quietMs));
    });
    QObject::connect(
        &exchange, &Exchange::finished, &loop, [&](Exchange::Outcome result, const QByteArray &bytes, double ms) {
            switch (result) {
            case Exchange::Outcome::Answered:
                outcome = QStringLiteral("answered");
                reply = bytes;
                latencyMs = ms;
                break;
            case Exchange::Outcome::Timeout:
                outcome = QStringLiteral("timeout");
                failure = QStringLiteral("no reply from %1 within %2 ms").arg(exchange.where()).arg(tcp.timeoutMs);
                break;
            case Exchange::Outcome::Closed:
                outcome = QStringLiteral("closed");
                failure = QStringLiteral("connection closed by %1 without a reply").arg(exchange.where());
                break;
            }
            loop.quit();
        });
    exchange.open(int(tcp.timeoutMs));
    loop.exec();

    QTextStream out(stdout);
    if (json) {
        output::json({{QStringLiteral("host"), host},
                      {QStringLiteral("port"), int(tcp.port)},
                      {QStringLiteral("command"), output::bytes(text)},
                      {QStringLiteral("outcome"), outcome},
                      {QStringLiteral("reply"), failure.isEmpty() ? output::bytes(reply) : QJsonValue()},
                      {QStringLiteral("latency_ms"), failure.isEmpty() ? output::ms(latencyMs) : QJsonValue()},
                      {QStringLiteral("error"), failure.isEmpty() ? QJsonValue() : QJsonValue(failure)}});
    } else if (failure.isEmpty()) {
        out << text::escapeBytes(reply) << '\n';
    }
    out.flush();
    if (!failure.isEmpty()) {
        QTextStream(stderr) << "tolvane-probe send: " << failure << '\n';
        return 1;
    }
    if (reply.size() >= reply::maxBytes && !reply.endsWith('\n'))
        QTextStream(stderr) << "tolvane-probe send: the reply was cut after " << reply::maxBytes << " bytes\n";
    return 0;
}
