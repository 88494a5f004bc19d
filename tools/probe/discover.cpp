// tolvane-probe discover: one "?ZZ?" probe, then every reply that arrives within the wait.
#include "tools/probe/output.h"
#include "tools/probe/probe.h"
#include "tools/probe/prober.h"

#include "core/cmdline.h"
#include "core/product.h"
#include "core/text.h"

#include <QJsonArray>
#include <QTextStream>

namespace {

QJsonObject answerJson(const prober::Answer &a)
{
    QJsonObject o{{QStringLiteral("from"), a.sender.toString()},
                  {QStringLiteral("from_port"), a.senderPort},
                  {QStringLiteral("bytes"), output::bytes(a.bytes)},
                  {QStringLiteral("readable"), a.readable}};
    if (a.readable) {
        o.insert(QStringLiteral("ip"), a.reply.ip);
        o.insert(QStringLiteral("mac"), a.reply.mac);
        o.insert(QStringLiteral("model"), a.reply.model);
        o.insert(QStringLiteral("serial"), a.reply.serial);
        o.insert(QStringLiteral("counter"), a.reply.counter);
    }
    return o;
}

} // namespace

int runDiscover(const QStringList &args)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe discover"), QStringLiteral("[OPTIONS]"),
        QStringLiteral("Sends one discovery probe and lists the bridges that answer.\n"
                       "Exit status: 0 when at least one bridge answered, 1 when none did, 2 for bad arguments."));
    prober::addOptions(command);
    command.addFlag(QStringLiteral("raw"), QStringLiteral("print each reply's bytes, escaped, one reply per line"));
    command.addValue(QStringLiteral("payload"), QStringLiteral("text"),
                     QStringLiteral("send TEXT instead of ?ZZ? (escapes: \\\\ \\0 \\t \\r \\n \\xHH)"));
    command.addValue(QStringLiteral("port"), QStringLiteral("n"),
                     QStringLiteral("UDP port the probe goes to (default 35070)"));
    command.addValue(QStringLiteral("listen-port"), QStringLiteral("n"),
                     QStringLiteral("UDP port the replies come to (default 35069)"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    if (const auto done = command.parseOrExit(args))
        return *done;

    prober::Request request;
    if (!prober::readOptions(command, &request))
        return cmdline::badArguments;
    qint64 port = request.port;
    qint64 listenPort = request.listenPort;
    if (!command.number(QStringLiteral("port"), 1, 65535, &port)
        || !command.number(QStringLiteral("listen-port"), 1, 65535, &listenPort))
        return command.bad(command.error());
    request.port = quint16(port);
    request.listenPort = quint16(listenPort);
    if (command.isSet(QStringLiteral("payload"))
        && !text::unescapeBytes(command.value(QStringLiteral("payload")), &request.payload))
        return command.bad(QStringLiteral("--payload has a bad escape (use \\\\ \\0 \\t \\r \\n \\xHH)"));
    const bool raw = command.isSet(QStringLiteral("raw"));
    const bool json = command.isSet(QStringLiteral("json"));
    if (raw && json)
        return command.bad(QStringLiteral("--raw and --json exclude each other"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QVector<prober::Answer> answers;
    QString error;
    const bool probed = prober::run(request, &answers, &error, [&](const prober::Answer &a) {
        if (raw) {
            out << text::escapeBytes(a.bytes) << '\n';
            out.flush();
        }
    });
    if (!probed) {
        err << "tolvane-probe discover: " << error << '\n';
        return 1;
    }

    int bridges = 0;
    QVector<QStringList> rows;
    QStringList unreadable;
    QJsonArray replies;
    for (const prober::Answer &a : answers) {
        replies.append(answerJson(a));
        if (a.readable) {
            ++bridges;
            rows.append({a.reply.ip, a.reply.mac, a.reply.model, QString::number(a.reply.counter), a.from()});
        } else {
            unreadable.append(QStringLiteral("unreadable reply from %1: %2").arg(a.from(), text::escapeBytes(a.bytes)));
        }
    }
    if (json) {
        QJsonArray to;
        for (const QHostAddress &address : request.to)
            to.append(address.toString());
        output::json({{QStringLiteral("to"), to},
                      {QStringLiteral("port"), request.port},
                      {QStringLiteral("listen_port"), request.listenPort},
                      {QStringLiteral("payload"), output::bytes(request.payload)},
                      {QStringLiteral("wait_ms"), request.waitMs},
                      {QStringLiteral("replies"), replies},
                      {QStringLiteral("bridges"), bridges}});
    } else if (!raw) {
        if (!rows.isEmpty())
            out << output::table({QStringLiteral("IP"), QStringLiteral("MAC"), QStringLiteral("MODEL"),
                                  QStringLiteral("COUNTER"), QStringLiteral("FROM")},
                                 rows);
        for (const QString &u : unreadable)
            out << u << '\n';
    }
    out.flush();
    if (bridges == 0) {
        QStringList to;
        for (const QHostAddress &address : request.to)
            to.append(QStringLiteral("%1:%2").arg(address.toString()).arg(request.port));
        err << "tolvane-probe discover: no bridge answered within " << request.waitMs << " ms (probe sent to "
            << to.join(QLatin1String(", ")) << ")\n";
        return 1;
    }
    return 0;
}
