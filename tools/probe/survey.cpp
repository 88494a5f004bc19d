// tolvane-probe survey: every bridge that answers discovery, asked a few commands over TCP at once,
// one row each with a verdict, so a building's projectors can be checked in one go.
#include "tools/probe/exchange.h"
#include "tools/probe/output.h"
#include "tools/probe/probe.h"
#include "tools/probe/prober.h"

#include "core/cmdline.h"
#include "core/localanswer.h"
#include "core/product.h"
#include "core/text.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace {

// Connections open at the same time: enough to get through a building within the timeouts, few
// enough for any machine's file limit.
constexpr int maxParallel = 64;

struct Asked {
    QByteArray query;
    QString outcome = QStringLiteral("not asked");
    QByteArray reply;
    double latencyMs = 0;
};

struct Bridge {
    prober::Answer found;
    QString tcp = QStringLiteral("-");
    QVector<Asked> asked;
    double slowestMs = 0;
    QString verdict;
};

QString verdictOf(const Bridge &b)
{
    if (b.tcp == QLatin1String("refused"))
        return QStringLiteral("REFUSED");
    bool local = true;
    for (const Asked &a : b.asked) {
        if (a.outcome != QLatin1String("answered"))
            return QStringLiteral("NO ANSWER");
        // Without a serial port the bridge answers by itself, with exactly these bytes.
        local = local && a.reply == localanswer::answer(QString::fromUtf8(a.query) + QStringLiteral("\r\n"));
    }
    return local ? QStringLiteral("LOCAL") : QStringLiteral("OK");
}

bool addressLess(const Bridge &a, const Bridge &b)
{
    const QHostAddress &x = a.found.sender, &y = b.found.sender;
    if (x.protocol() == QAbstractSocket::IPv4Protocol && y.protocol() == QAbstractSocket::IPv4Protocol)
        return x.toIPv4Address() < y.toIPv4Address();
    return x.toString() < y.toString();
}

} // namespace

int runSurvey(const QStringList &args)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe survey"), QStringLiteral("[OPTIONS]"),
        QStringLiteral("Finds the bridges as 'discover' does, then asks each one the query commands over TCP, many\n"
                       "bridges at once, and prints one row per bridge: address, MAC, model and counter from its\n"
                       "discovery reply, whether TCP accepted, each reply, the slowest reply's latency and a verdict:\n"
                       "OK, NO ANSWER, REFUSED, or LOCAL when the bridge answered by itself (it has no serial port).\n"
                       "Exit status: 0 when every bridge found answered every query, 1 otherwise (also when none\n"
                       "was found), 2 for bad arguments."));
    prober::addOptions(command);
    command.addValue(QStringLiteral("query"), QStringLiteral("command"),
                     QStringLiteral("a command to ask each bridge; may be given more than once (default \"op model ?\" "
                                    "and \"op status ?\")"));
    TcpOptions tcp;
    tcp.timeoutMs = 2000;
    TcpOptions::add(command,
                    QStringLiteral("time for connecting, and for the first bytes of each reply (default 2000)"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    if (const auto done = command.parseOrExit(args))
        return *done;
    prober::Request request;
    if (!prober::readOptions(command, &request))
        return cmdline::badArguments;
    if (!tcp.read(command))
        return command.bad(command.error());
    QList<QByteArray> queries;
    for (const QString &q : command.values(QStringLiteral("query")))
        queries.append(q.toUtf8());
    if (queries.isEmpty())
        queries = {QByteArray(product::modelQuery), QByteArrayLiteral("op status ?")};
    const bool json = command.isSet(QStringLiteral("json"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QVector<prober::Answer> answers;
    QString error;
    if (!prober::run(request, &answers, &error)) {
        err << "tolvane-probe survey: " << error << '\n';
        return 1;
    }

    // One row per address: a bridge reached by two probes answers twice.
    QVector<Bridge> bridges;
    QVector<prober::Answer> unreadable;
    QSet<QString> seen;
    for (const prober::Answer &a : answers) {
        if (!a.readable) {
            unreadable.append(a);
            continue;
        }
        if (seen.contains(a.sender.toString()))
            continue;
        seen.insert(a.sender.toString());
        Bridge b;
        b.found = a;
        for (const QByteArray &q : queries) {
            Asked asked;
            asked.query = q;
            b.asked.append(asked);
        }
        bridges.append(b);
    }
    std::sort(bridges.begin(), bridges.end(), addressLess);

    // Each bridge: connect, ask the queries one after another, done; at most maxParallel at a time.
    QEventLoop loop;
    std::vector<std::unique_ptr<Exchange>> exchanges;
    int started = 0, running = 0, finished = 0;
    std::function<void()> startMore;
    auto done = [&](int i) {
        bridges[i].verdict = verdictOf(bridges[i]);
        exchanges[size_t(i)]->close();
        --running;
        ++finished;
        startMore();
    };
    startMore = [&] {
        while (running < maxParallel && started < bridges.size()) {
            const int i = started++;
            ++running;
            Exchange *e = new Exchange(bridges[i].found.sender.toString(), quint16(tcp.port));
            exchanges.emplace_back(e);
            auto next = std::make_shared<int>(0);
            QObject::connect(e, &Exchange::opened, e, [&, e, i, next] {
                bridges[i].tcp = QStringLiteral("accepted");
                e->ask(bridges[i].asked[0].query, int(tcp.timeoutMs), int(tcp.quietMs));
            });
            QObject::connect(e, &Exchange::openFailed, e, [&, i](Exchange::Failure failure, const QString &) {
                bridges[i].tcp = failure == Exchange::Failure::Refused ? QStringLiteral("refused")
                    : failure == Exchange::Failure::Timeout            ? QStringLiteral("timeout")
                                                                       : QStringLiteral("failed");
                done(i);
            });
            QObject::connect(e, &Exchange::finished, e,
                             [&, e, i, next](Exchange::Outcome outcome, const QByteArray &reply, double ms) {
                                 Asked &a = bridges[i].asked[*next];
                                 a.outcome = outcome == Exchange::Outcome::Answered ? QStringLiteral("answered")
                                     : outcome == Exchange::Outcome::Timeout        ? QStringLiteral("timeout")
                                                                                    : QStringLiteral("closed");
                                 a.reply = reply;
                                 a.latencyMs = ms;
                                 if (outcome == Exchange::Outcome::Answered)
                                     bridges[i].slowestMs = qMax(bridges[i].slowestMs, ms);
                                 if (++*next < bridges[i].asked.size() && e->isOpen())
                                     e->ask(bridges[i].asked[*next].query, int(tcp.timeoutMs), int(tcp.quietMs));
                                 else
                                     done(i);
                             });
            e->open(int(tcp.timeoutMs));
        }
        if (finished == bridges.size())
            loop.quit();
    };
    startMore();
    if (finished < bridges.size())
        loop.exec();

    bool allGood = !bridges.isEmpty();
    for (const Bridge &b : bridges)
        allGood = allGood && (b.verdict == QLatin1String("OK") || b.verdict == QLatin1String("LOCAL"));

    if (json) {
        QJsonArray rows;
        for (const Bridge &b : bridges) {
            QJsonArray asked;
            for (const Asked &a : b.asked) {
                const bool answered = a.outcome == QLatin1String("answered");
                asked.append(
                    QJsonObject{{QStringLiteral("command"), output::bytes(a.query)},
                                {QStringLiteral("outcome"), a.outcome},
                                {QStringLiteral("reply"), answered ? output::bytes(a.reply) : QJsonValue()},
                                {QStringLiteral("latency_ms"), answered ? output::ms(a.latencyMs) : QJsonValue()}});
            }
            rows.append(QJsonObject{{QStringLiteral("address"), b.found.sender.toString()},
                                    {QStringLiteral("ip"), b.found.reply.ip},
                                    {QStringLiteral("mac"), b.found.reply.mac},
                                    {QStringLiteral("model"), b.found.reply.model},
                                    {QStringLiteral("serial"), b.found.reply.serial},
                                    {QStringLiteral("counter"), b.found.reply.counter},
                                    {QStringLiteral("tcp"), b.tcp},
                                    {QStringLiteral("answers"), asked},
                                    {QStringLiteral("slowest_ms"), output::ms(b.slowestMs)},
                                    {QStringLiteral("verdict"), b.verdict}});
        }
        QJsonArray bad;
        for (const prober::Answer &a : unreadable)
            bad.append(QJsonObject{{QStringLiteral("from"), a.sender.toString()},
                                   {QStringLiteral("from_port"), a.senderPort},
                                   {QStringLiteral("bytes"), output::bytes(a.bytes)}});
        QJsonArray queryList;
        for (const QByteArray &q : queries)
            queryList.append(output::bytes(q));
        output::json({{QStringLiteral("queries"), queryList},
                      {QStringLiteral("bridges"), rows},
                      {QStringLiteral("unreadable"), bad},
                      {QStringLiteral("ok"), allGood}});
    } else {
        QStringList header = {QStringLiteral("ADDRESS"), QStringLiteral("MAC"), QStringLiteral("MODEL"),
                              QStringLiteral("COUNTER"), QStringLiteral("TCP")};
        for (const QByteArray &q : queries)
            header.append(text::escapeBytes(q));
        header << QStringLiteral("LATENCY") << QStringLiteral("VERDICT");
        QVector<QStringList> rows;
        for (const Bridge &b : bridges) {
            QStringList row = {b.found.sender.toString(), b.found.reply.mac, b.found.reply.model,
                               QString::number(b.found.reply.counter), b.tcp};
            for (const Asked &a : b.asked)
                row.append(a.outcome == QLatin1String("answered") ? text::escapeBytes(a.reply) : a.outcome.toUpper());
            row << (b.slowestMs > 0 ? output::msText(b.slowestMs) : QStringLiteral("-")) << b.verdict;
            rows.append(row);
        }
        if (!rows.isEmpty())
            out << output::table(header, rows);
        for (const prober::Answer &a : unreadable)
            out << "unreadable reply from " << a.from() << ": " << text::escapeBytes(a.bytes) << '\n';
    }
    out.flush();
    if (bridges.isEmpty())
        err << "tolvane-probe survey: no bridge answered within " << request.waitMs << " ms\n";
    return allGood ? 0 : 1;
}
