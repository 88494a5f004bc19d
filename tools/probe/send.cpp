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

namespace {

struct Options {
    QString host;
    QByteArray command;
    TcpOptions tcp;
    bool json = false;
};

struct Result {
    Outcome outcome = Outcome::NoConnection;
    QByteArray reply;
    double latencyMs = 0;
    QString failure; // one line for the user, empty when answered
};

std::optional<int> parse(const QStringList &args, Options *o)
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
    o->tcp.add(command, QStringLiteral("time for connecting and for the first reply bytes"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    command.expectArguments(2, 2, QStringLiteral("needs HOST and COMMAND"));
    if (const auto done = command.parseOrExit(args))
        return done;
    const QStringList positional = command.positional();
    o->host = positional.at(0);
    if (o->host.isEmpty())
        return command.bad(QStringLiteral("HOST is empty"));
    if (!o->tcp.read(command))
        return command.bad(command.error());
    o->command = positional.at(1).toUtf8();
    o->json = command.isSet(QStringLiteral("json"));
    return std::nullopt;
}

Result run(const Options &o)
{
    QElapsedTimer clock;
    clock.start();
    Exchange exchange(o.host, quint16(o.tcp.port));
    QEventLoop loop;
    Result result;
    QObject::connect(&exchange, &Exchange::openFailed, &loop, [&](Exchange::Failure, const QString &reason) {
        result.failure = reason;
        loop.quit();
    });
    QObject::connect(&exchange, &Exchange::opened, &loop, [&] {
        // The timeout covers connecting and the first reply bytes together.
        exchange.ask(o.command, int(qMax<qint64>(1, o.tcp.timeoutMs - clock.elapsed())), int(o.tcp.quietMs));
    });
    QObject::connect(&exchange, &Exchange::finished, &loop, [&](Outcome outcome, const QByteArray &bytes, double ms) {
        result.outcome = outcome;
        if (outcome == Outcome::Answered) {
            result.reply = bytes;
            result.latencyMs = ms;
        } else if (outcome == Outcome::Timeout) {
            result.failure = QStringLiteral("no reply from %1 within %2 ms").arg(exchange.where()).arg(o.tcp.timeoutMs);
        } else {
            result.failure = QStringLiteral("connection closed by %1 without a reply").arg(exchange.where());
        }
        loop.quit();
    });
    exchange.open(int(o.tcp.timeoutMs));
    loop.exec();
    return result;
}

int print(const Options &o, const Result &r)
{
    QTextStream out(stdout);
    const bool answered = r.failure.isEmpty();
    if (o.json) {
        output::json({{QStringLiteral("host"), o.host},
                      {QStringLiteral("port"), int(o.tcp.port)},
                      {QStringLiteral("command"), output::bytes(o.command)},
                      {QStringLiteral("outcome"), nameOf(r.outcome)},
                      {QStringLiteral("reply"), answered ? output::bytes(r.reply) : QJsonValue()},
                      {QStringLiteral("latency_ms"), answered ? output::ms(r.latencyMs) : QJsonValue()},
                      {QStringLiteral("error"), answered ? QJsonValue() : QJsonValue(r.failure)}});
    } else if (answered) {
        out << text::escapeBytes(r.reply) << '\n';
    }
    out.flush();
    if (!answered) {
        QTextStream(stderr) << "tolvane-probe send: " << r.failure << '\n';
        return 1;
    }
    if (r.reply.size() >= reply::maxBytes && !r.reply.endsWith('\n'))
        QTextStream(stderr) << "tolvane-probe send: the reply was cut after " << reply::maxBytes << " bytes\n";
    return 0;
}

} // namespace

int runSend(const QStringList &args) { return parseRunPrint(args, parse, run, print); }
