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

struct Options {
    prober::Request request;
    bool raw = false;
    bool json = false;
};

struct Result {
    bool probed = false;
    QString error; // why no probe went out
    QVector<prober::Answer> answers;
};

std::optional<int> parse(const QStringList &args, Options *o)
{
    prober::Request &request = o->request;
    cmdline::Command command(
        QStringLiteral("tolvane-probe discover"), QStringLiteral("[OPTIONS]"),
        QStringLiteral("Sends one discovery probe and lists the bridges that answer.\n"
                       "Exit status: 0 when at least one bridge answered, 1 when none did, 2 for bad arguments."));
    prober::addOptions(command);
    command.addFlag(QStringLiteral("raw"), QStringLiteral("print each reply's bytes, escaped, one reply per line"));
    command.addValue(QStringLiteral("payload"), QStringLiteral("text"),
                     QStringLiteral("send TEXT instead of %1 (escapes: \\\\ \\0 \\t \\r \\n \\xHH)")
                         .arg(QLatin1String(product::discoveryProbe)));
    command.addValue(QStringLiteral("port"), QStringLiteral("n"),
                     QStringLiteral("UDP port the probe goes to (default %1)").arg(request.port));
    command.addValue(QStringLiteral("listen-port"), QStringLiteral("n"),
                     QStringLiteral("UDP port the replies come to (default %1)").arg(request.listenPort));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    if (const auto done = command.parseOrExit(args))
        return done;

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
    o->raw = command.isSet(QStringLiteral("raw"));
    o->json = command.isSet(QStringLiteral("json"));
    if (o->raw && o->json)
        return command.bad(QStringLiteral("--raw and --json exclude each other"));
    return std::nullopt;
}

// --raw: each reply as it comes.
void printRaw(const prober::Answer &a)
{
    QTextStream out(stdout);
    out << text::escapeBytes(a.bytes) << '\n';
}

Result run(const Options &o)
{
    Result result;
    result.probed = prober::run(o.request, &result.answers, &result.error, [&o](const prober::Answer &a) {
        if (o.raw)
            printRaw(a);
    });
    return result;
}

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

int print(const Options &o, const Result &r)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!r.probed) {
        err << "tolvane-probe discover: " << r.error << '\n';
        return 1;
    }
    const prober::Request &request = o.request;
    int bridges = 0;
    QVector<QStringList> rows;
    QStringList unreadable;
    QJsonArray replies;
    for (const prober::Answer &a : r.answers) {
        replies.append(answerJson(a));
        if (a.readable) {
            ++bridges;
            rows.append({a.reply.ip, a.reply.mac, a.reply.model, QString::number(a.reply.counter), a.from()});
        } else {
            unreadable.append(QStringLiteral("unreadable reply from %1: %2").arg(a.from(), text::escapeBytes(a.bytes)));
        }
    }
    if (o.json) {
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
    } else if (!o.raw) {
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

} // namespace

int runDiscover(const QStringList &args) { return parseRunPrint(args, parse, run, print); }
