// tolvane-probe status: what a bridge's status endpoint says about it, for a person or a script.
#include "tools/probe/output.h"
#include "tools/probe/probe.h"
#include "tools/probe/statusquery.h"

#include "core/cmdline.h"
#include "core/product.h"

#include <QEventLoop>
#include <QTextStream>

namespace {

struct Options {
    QString host;
    qint64 port = product::statusPort;
    qint64 timeoutMs = 3000;
    bool json = false;
};

struct Result {
    QByteArray body;
    QJsonObject status;
    QString error;
};

std::optional<int> parse(const QStringList &args, Options *o)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe status"), QStringLiteral("HOST [OPTIONS]"),
        QStringLiteral("Asks the bridge's status endpoint (tolvane --status-port) for GET /status and prints each\n"
                       "field and its value, or with --json the JSON exactly as served.\n"
                       "Exit status: 0 with a status, 1 when the endpoint does not answer with one, 2 for bad\n"
                       "arguments."));
    command.addArgument(QStringLiteral("HOST"), QStringLiteral("the bridge's name or address"));
    command.addValue(QStringLiteral("status-port"), QStringLiteral("n"),
                     QStringLiteral("the endpoint's TCP port (default %1)").arg(o->port));
    command.addValue(QStringLiteral("timeout"), QStringLiteral("ms"),
                     QStringLiteral("time for the whole answer (default %1)").arg(o->timeoutMs));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print the JSON as the bridge serves it"));
    command.expectArguments(1, 1, QStringLiteral("needs HOST"));
    if (const auto done = command.parseOrExit(args))
        return done;
    o->host = command.positional().at(0);
    if (o->host.isEmpty())
        return command.bad(QStringLiteral("HOST is empty"));
    if (!command.number(QStringLiteral("status-port"), 1, 65535, &o->port)
        || !command.number(QStringLiteral("timeout"), 1, 3600000, &o->timeoutMs))
        return command.bad(command.error());
    o->json = command.isSet(QStringLiteral("json"));
    return std::nullopt;
}

Result run(const Options &o)
{
    StatusQuery query(o.host, quint16(o.port));
    QEventLoop loop;
    QObject::connect(&query, &StatusQuery::finished, &loop, &QEventLoop::quit);
    query.start(int(o.timeoutMs));
    loop.exec();
    return {query.body(), query.status(), query.error()};
}

int print(const Options &o, const Result &r)
{
    if (!r.error.isEmpty()) {
        QTextStream(stderr) << "tolvane-probe status: " << r.error << '\n';
        return 1;
    }
    QTextStream out(stdout);
    if (o.json) {
        out << r.body;
        if (!r.body.endsWith('\n'))
            out << '\n';
        return 0;
    }
    QVector<QStringList> rows;
    for (auto it = r.status.begin(); it != r.status.end(); ++it)
        rows.append({it.key(), output::cell(it.value())});
    out << output::table({QStringLiteral("FIELD"), QStringLiteral("VALUE")}, rows);
    return 0;
}

} // namespace

int runStatus(const QStringList &args) { return parseRunPrint(args, parse, run, print); }
