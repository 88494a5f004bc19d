// tolvane-probe survey: every bridge that answers discovery, asked a few commands over TCP at once,
// one row each with a verdict, so a building's projectors can be checked in one go.
#include "tools/probe/survey.h"

#include "tools/probe/output.h"
#include "tools/probe/probe.h"
#include "tools/probe/statusquery.h"

#include "core/cmdline.h"
#include "core/localanswer.h"
#include "core/product.h"
#include "core/text.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace {

Verdict verdictOf(const Survey::Bridge &b)
{
    if (b.tcp == Connection::Refused)
        return Verdict::Refused;
    bool local = true;
    for (const Survey::Asked &a : b.asked) {
        if (a.outcome != Outcome::Answered)
            return Verdict::NoAnswer;
        // Without a serial port the bridge answers by itself, with exactly these bytes.
        local = local && a.reply == localanswer::answer(QString::fromUtf8(a.query) + QStringLiteral("\r\n"));
    }
    return local ? Verdict::Local : Verdict::Ok;
}

bool addressLess(const Survey::Bridge &a, const Survey::Bridge &b)
{
    const QHostAddress &x = a.found.sender, &y = b.found.sender;
    if (x.protocol() == QAbstractSocket::IPv4Protocol && y.protocol() == QAbstractSocket::IPv4Protocol)
        return x.toIPv4Address() < y.toIPv4Address();
    return x.toString() < y.toString();
}

} // namespace

Survey::Survey(const QVector<prober::Answer> &found, const QList<QByteArray> &queries, const TcpOptions &tcp,
               QObject *parent)
    : QObject(parent)
    , m_tcp(tcp)
{
    // One row per address: a bridge reached by two probes answers twice.
    QSet<QString> seen;
    for (const prober::Answer &a : found) {
        if (!a.readable || seen.contains(a.sender.toString()))
            continue;
        seen.insert(a.sender.toString());
        Bridge b;
        b.found = a;
        for (const QByteArray &q : queries)
            b.asked.append({q, Outcome::NotAsked, QByteArray(), 0});
        m_bridges.append(b);
    }
    std::sort(m_bridges.begin(), m_bridges.end(), addressLess);
    m_exchanges.fill(nullptr, m_bridges.size());
    m_next.fill(0, m_bridges.size());
}

void Survey::start() { startMore(); }

void Survey::startMore()
{
    while (m_running < maxParallel && m_started < m_bridges.size()) {
        const int i = m_started++;
        ++m_running;
        Exchange *e = new Exchange(m_bridges[i].found.sender.toString(), quint16(m_tcp.port), this);
        m_exchanges[i] = e;
        connect(e, &Exchange::opened, this, [this, i] {
            m_bridges[i].tcp = Connection::Accepted;
            ask(i);
        });
        connect(e, &Exchange::openFailed, this,
                [this, i](Exchange::Failure failure, const QString &) { onOpenFailed(i, failure); });
        connect(e, &Exchange::finished, this,
                [this, i](Outcome outcome, const QByteArray &reply, double ms) { onAnswer(i, outcome, reply, ms); });
        e->open(int(m_tcp.timeoutMs));
    }
    if (isDone())
        emit finished();
}

void Survey::ask(int bridge)
{
    m_exchanges[bridge]->ask(m_bridges[bridge].asked[m_next[bridge]].query, int(m_tcp.timeoutMs), int(m_tcp.quietMs));
}

void Survey::onOpenFailed(int bridge, Exchange::Failure failure)
{
    m_bridges[bridge].tcp = failure == Exchange::Failure::Refused ? Connection::Refused
        : failure == Exchange::Failure::Timeout                   ? Connection::Timeout
                                                                  : Connection::Failed;
    done(bridge);
}

void Survey::onAnswer(int bridge, Outcome outcome, const QByteArray &reply, double latencyMs)
{
    Bridge &b = m_bridges[bridge];
    Asked &a = b.asked[m_next[bridge]];
    a.outcome = outcome;
    a.reply = reply;
    a.latencyMs = latencyMs;
    if (outcome == Outcome::Answered)
        b.slowestMs = qMax(b.slowestMs, latencyMs);
    if (++m_next[bridge] < b.asked.size() && m_exchanges[bridge]->isOpen())
        ask(bridge);
    else
        done(bridge);
}

void Survey::done(int bridge)
{
    m_bridges[bridge].verdict = verdictOf(m_bridges[bridge]);
    m_exchanges[bridge]->close();
    --m_running;
    ++m_finished;
    startMore();
}

namespace {

// Asked of each bridge unless --query says otherwise.
const QList<QByteArray> defaultQueries = {product::modelQuery, "op status ?"};

struct Options {
    prober::Request request;
    QList<QByteArray> queries = defaultQueries;
    TcpOptions tcp;
    qint64 statusPort = product::statusPort;
    bool json = false;

    Options() { tcp.timeoutMs = 2000; }
    // A bridge without the endpoint refuses at once; one that drops the packets costs no more than this.
    static constexpr int statusTimeoutMs = 1000;
};

struct Result {
    bool probed = false;
    QString error; // why no probe went out
    QVector<Survey::Bridge> bridges;
    QVector<prober::Answer> unreadable;
};

std::optional<int> parse(const QStringList &args, Options *o)
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
    QStringList quoted;
    for (const QByteArray &q : o->queries)
        quoted.append(QStringLiteral("\"%1\"").arg(QString::fromUtf8(q)));
    command.addValue(QStringLiteral("query"), QStringLiteral("command"),
                     QStringLiteral("a command to ask each bridge; may be given more than once (default %1)")
                         .arg(quoted.join(QLatin1String(" and "))));
    o->tcp.add(command, QStringLiteral("time for connecting, and for the first bytes of each reply"));
    command.addValue(QStringLiteral("status-port"), QStringLiteral("n"),
                     QStringLiteral("where each bridge's status endpoint is asked for its own state (default %1)")
                         .arg(o->statusPort));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON document (see the manual page)"));
    if (const auto done = command.parseOrExit(args))
        return done;
    if (!prober::readOptions(command, &o->request))
        return cmdline::badArguments;
    if (!o->tcp.read(command) || !command.number(QStringLiteral("status-port"), 1, 65535, &o->statusPort))
        return command.bad(command.error());
    if (command.isSet(QStringLiteral("query"))) {
        o->queries.clear();
        for (const QString &q : command.values(QStringLiteral("query")))
            o->queries.append(q.toUtf8());
    }
    o->json = command.isSet(QStringLiteral("json"));
    return std::nullopt;
}

// Each bridge's own state from its status endpoint, as many at once as the survey connects.
void askStatus(QVector<Survey::Bridge> *bridges, quint16 port)
{
    QEventLoop loop;
    int next = 0, running = 0;
    std::function<void()> startMore = [&] {
        while (running < Survey::maxParallel && next < bridges->size()) {
            const int i = next++;
            ++running;
            auto *query = new StatusQuery((*bridges)[i].found.sender.toString(), port, &loop);
            QObject::connect(query, &StatusQuery::finished, &loop, [&, i, query] {
                (*bridges)[i].status = query->status();
                query->deleteLater();
                --running;
                startMore();
                if (running == 0)
                    loop.quit();
            });
            query->start(Options::statusTimeoutMs);
        }
    };
    startMore();
    if (running > 0)
        loop.exec();
}

Result run(const Options &o)
{
    Result result;
    QVector<prober::Answer> answers;
    result.probed = prober::run(o.request, &answers, &result.error);
    if (!result.probed)
        return result;
    for (const prober::Answer &a : answers)
        if (!a.readable)
            result.unreadable.append(a);

    Survey survey(answers, o.queries, o.tcp);
    QEventLoop loop;
    QObject::connect(&survey, &Survey::finished, &loop, &QEventLoop::quit);
    survey.start();
    if (!survey.isDone())
        loop.exec();
    result.bridges = survey.bridges();
    askStatus(&result.bridges, quint16(o.statusPort));
    return result;
}

bool answered(const Survey::Asked &a) { return a.outcome == Outcome::Answered; }

// What survey shows of a bridge's own state, in its columns' order.
const char *const ownFields[] = {"port_state", "reopens", "timeouts", "last_reply_age_s"};

QJsonValue ownState(const QJsonObject &status)
{
    if (status.isEmpty())
        return QJsonValue();
    QJsonObject own;
    for (const char *field : ownFields)
        own.insert(QLatin1String(field), status.value(QLatin1String(field)));
    return own;
}

int print(const Options &o, const Result &r)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!r.probed) {
        err << "tolvane-probe survey: " << r.error << '\n';
        return 1;
    }
    bool allGood = !r.bridges.isEmpty();
    for (const Survey::Bridge &b : r.bridges)
        allGood = allGood && (b.verdict == Verdict::Ok || b.verdict == Verdict::Local);

    if (o.json) {
        QJsonArray rows;
        for (const Survey::Bridge &b : r.bridges) {
            QJsonArray asked;
            for (const Survey::Asked &a : b.asked) {
                asked.append(
                    QJsonObject{{QStringLiteral("command"), output::bytes(a.query)},
                                {QStringLiteral("outcome"), nameOf(a.outcome)},
                                {QStringLiteral("reply"), answered(a) ? output::bytes(a.reply) : QJsonValue()},
                                {QStringLiteral("latency_ms"), answered(a) ? output::ms(a.latencyMs) : QJsonValue()}});
            }
            rows.append(QJsonObject{{QStringLiteral("address"), b.found.sender.toString()},
                                    {QStringLiteral("ip"), b.found.reply.ip},
                                    {QStringLiteral("mac"), b.found.reply.mac},
                                    {QStringLiteral("model"), b.found.reply.model},
                                    {QStringLiteral("serial"), b.found.reply.serial},
                                    {QStringLiteral("counter"), b.found.reply.counter},
                                    {QStringLiteral("tcp"), nameOf(b.tcp)},
                                    {QStringLiteral("answers"), asked},
                                    {QStringLiteral("slowest_ms"), output::ms(b.slowestMs)},
                                    {QStringLiteral("verdict"), nameOf(b.verdict)},
                                    {QStringLiteral("status"), ownState(b.status)}});
        }
        QJsonArray bad;
        for (const prober::Answer &a : r.unreadable)
            bad.append(QJsonObject{{QStringLiteral("from"), a.sender.toString()},
                                   {QStringLiteral("from_port"), a.senderPort},
                                   {QStringLiteral("bytes"), output::bytes(a.bytes)}});
        QJsonArray queryList;
        for (const QByteArray &q : o.queries)
            queryList.append(output::bytes(q));
        output::json({{QStringLiteral("queries"), queryList},
                      {QStringLiteral("bridges"), rows},
                      {QStringLiteral("unreadable"), bad},
                      {QStringLiteral("ok"), allGood}});
    } else {
        QStringList header = {QStringLiteral("ADDRESS"), QStringLiteral("MAC"), QStringLiteral("MODEL"),
                              QStringLiteral("COUNTER"), QStringLiteral("TCP")};
        for (const QByteArray &q : o.queries)
            header.append(text::escapeBytes(q));
        header << QStringLiteral("LATENCY") << QStringLiteral("PORT") << QStringLiteral("REOPENS")
               << QStringLiteral("TIMEOUTS") << QStringLiteral("REPLY AGE") << QStringLiteral("VERDICT");
        QVector<QStringList> rows;
        for (const Survey::Bridge &b : r.bridges) {
            QStringList row = {b.found.sender.toString(), b.found.reply.mac, b.found.reply.model,
                               QString::number(b.found.reply.counter), nameOf(b.tcp)};
            for (const Survey::Asked &a : b.asked)
                row.append(answered(a) ? text::escapeBytes(a.reply) : nameOf(a.outcome).toUpper());
            row << (b.slowestMs > 0 ? output::msText(b.slowestMs) : QStringLiteral("-"));
            for (const char *field : ownFields)
                row << output::cell(b.status.value(QLatin1String(field)));
            row << nameOf(b.verdict);
            rows.append(row);
        }
        if (!rows.isEmpty())
            out << output::table(header, rows);
        for (const prober::Answer &a : r.unreadable)
            out << "unreadable reply from " << a.from() << ": " << text::escapeBytes(a.bytes) << '\n';
    }
    out.flush();
    if (r.bridges.isEmpty())
        err << "tolvane-probe survey: no bridge answered within " << o.request.waitMs << " ms\n";
    return allGood ? 0 : 1;
}

} // namespace

int runSurvey(const QStringList &args) { return parseRunPrint(args, parse, run, print); }
