// tolvane-probe watch: one connection, the commands in turn for as long as asked, one line each and
// a summary at the end, so a room can be watched by hand, from cron or by a monitoring check.
#include "tools/probe/exchange.h"
#include "tools/probe/output.h"
#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/text.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Options {
    QString host;
    QList<QByteArray> commands;
    TcpOptions tcp;
    qint64 everyMs = 1000;
    qint64 count = 0;      // 0: no limit
    qint64 forSeconds = 0; // 0: no limit
    qint64 paceMs = 100;
    bool json = false;
};

std::optional<int> parse(const QStringList &args, Options *o)
{
    cmdline::Command command(
        QStringLiteral("tolvane-probe watch"), QStringLiteral("HOST COMMAND... [OPTIONS]"),
        QStringLiteral("Keeps one TCP connection to the bridge and sends the commands in turn, each plus CR LF,\n"
                       "the next only after the reply or the timeout. Prints one line per command (time, command,\n"
                       "reply, latency or TIMEOUT) and, at the end or on Ctrl+C, a summary with the latencies.\n"
                       "A closed connection is opened again, and said so, before the next command.\n"
                       "Exit status: 0 when every command was answered, 1 otherwise, 2 for bad arguments."));
    command.addArgument(QStringLiteral("HOST"), QStringLiteral("the bridge's name or address"));
    command.addArgument(QStringLiteral("COMMAND"), QStringLiteral("one or more texts to send in turn"),
                        QStringLiteral("COMMAND..."));
    command.addValue(QStringLiteral("every"), QStringLiteral("ms"),
                     QStringLiteral("time from one command to the next (default %1)").arg(o->everyMs));
    command.addValue(QStringLiteral("count"), QStringLiteral("n"), QStringLiteral("stop after N commands"));
    command.addValue(QStringLiteral("for"), QStringLiteral("seconds"), QStringLiteral("stop sending after this long"));
    command.addValue(
        QStringLiteral("pace"), QStringLiteral("ms"),
        QStringLiteral("least time from a reply (or timeout) to the next command (default %1)").arg(o->paceMs));
    o->tcp.add(command, QStringLiteral("time for connecting, and for the first bytes of each reply"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON object per line (see the manual page)"));
    command.expectArguments(2, 1000000, QStringLiteral("needs HOST and at least one COMMAND"));
    if (const auto done = command.parseOrExit(args))
        return done;
    const QStringList positional = command.positional();
    o->host = positional.at(0);
    if (o->host.isEmpty())
        return command.bad(QStringLiteral("HOST is empty"));
    if (!o->tcp.read(command) || !command.number(QStringLiteral("every"), 0, 86400000, &o->everyMs)
        || !command.number(QStringLiteral("count"), 1, 1000000000, &o->count)
        || !command.number(QStringLiteral("for"), 1, 31536000, &o->forSeconds)
        || !command.number(QStringLiteral("pace"), 0, 600000, &o->paceMs))
        return command.bad(command.error());
    if (o->count > 0 && o->forSeconds > 0)
        return command.bad(QStringLiteral("--count and --for exclude each other"));
    for (int i = 1; i < positional.size(); ++i)
        o->commands.append(positional.at(i).toUtf8());
    o->json = command.isSet(QStringLiteral("json"));
    return std::nullopt;
}

struct Tally {
    int sent = 0;
    int answered = 0;
    int timeouts = 0;
    int closed = 0;
    int notSent = 0;
    int reconnects = 0;
    QVector<double> latencies;
};

struct Result {
    QString fatal; // why the watch could not begin; the rest is empty then
    QString where;
    Tally tally;
    qint64 strayBytes = 0;
    bool interrupted = false;
};

// Nearest rank: the smallest latency that at least p per cent of the replies do not exceed.
double percentile(const QVector<double> &sorted, double p)
{
    const int rank = int(std::ceil(p / 100.0 * sorted.size()));
    return sorted.at(qBound(0, rank - 1, sorted.size() - 1));
}

// One line per event for people, or one JSON object per line for scripts.
class Printer
{
public:
    Printer(const Options &options, const QElapsedTimer &clock)
        : m_options(options)
        , m_clock(clock)
        , m_out(stdout)
    { }

    // `error` says why a command was not sent.
    void command(int seq, const QByteArray &text, Outcome outcome, const QByteArray &reply, double latencyMs,
                 const QString &error = QString())
    {
        QJsonObject fields{{QStringLiteral("seq"), seq},
                           {QStringLiteral("command"), output::bytes(text)},
                           {QStringLiteral("outcome"), nameOf(outcome)},
                           {QStringLiteral("reply"), QJsonValue()},
                           {QStringLiteral("latency_ms"), QJsonValue()}};
        QString shown = nameOf(outcome).toUpper();
        switch (outcome) {
        case Outcome::Answered:
            fields.insert(QStringLiteral("reply"), output::bytes(reply));
            fields.insert(QStringLiteral("latency_ms"), output::ms(latencyMs));
            shown = QStringLiteral("%1  %2").arg(text::escapeBytes(reply), output::msText(latencyMs));
            break;
        case Outcome::Timeout: shown += QStringLiteral(" (no reply within %1 ms)").arg(m_options.tcp.timeoutMs); break;
        case Outcome::Closed: shown += QStringLiteral(" (connection closed without a reply)"); break;
        default:
            fields.insert(QStringLiteral("error"), error);
            shown += QStringLiteral(" (%1)").arg(error);
            break;
        }
        say(QStringLiteral("command"), QStringLiteral("%1  ->  %2").arg(text::escapeBytes(text), shown), fields);
    }

    // "closed" or "reconnected".
    void notice(const QString &event, const QString &message)
    {
        say(event, message, {{QStringLiteral("message"), message}});
    }

    void summary(const Result &r)
    {
        const Tally &t = r.tally;
        QVector<double> sorted = t.latencies;
        std::sort(sorted.begin(), sorted.end());
        if (m_options.json) {
            QJsonObject summary{{QStringLiteral("host"), m_options.host},
                                {QStringLiteral("port"), int(m_options.tcp.port)},
                                {QStringLiteral("sent"), t.sent},
                                {QStringLiteral("answered"), t.answered},
                                {QStringLiteral("timeouts"), t.timeouts},
                                {QStringLiteral("closed"), t.closed},
                                {QStringLiteral("not_sent"), t.notSent},
                                {QStringLiteral("reconnects"), t.reconnects},
                                {QStringLiteral("stray_bytes"), r.strayBytes},
                                {QStringLiteral("interrupted"), r.interrupted}};
            if (!sorted.isEmpty())
                summary.insert(QStringLiteral("latency_ms"),
                               QJsonObject{{QStringLiteral("min"), output::ms(sorted.first())},
                                           {QStringLiteral("p50"), output::ms(percentile(sorted, 50))},
                                           {QStringLiteral("p99"), output::ms(percentile(sorted, 99))},
                                           {QStringLiteral("max"), output::ms(sorted.last())}});
            else
                summary.insert(QStringLiteral("latency_ms"), QJsonValue());
            say(QStringLiteral("summary"), QString(), summary);
            return;
        }
        m_out << QStringLiteral("%1: %2 sent, %3 answered, %4 timeouts, %5 closed, %6 not sent, %7 reconnects")
                     .arg(r.where)
                     .arg(t.sent)
                     .arg(t.answered)
                     .arg(t.timeouts)
                     .arg(t.closed)
                     .arg(t.notSent)
                     .arg(t.reconnects)
              << '\n';
        if (sorted.isEmpty())
            m_out << "latency: no replies\n";
        else
            m_out << "latency: min " << output::msText(sorted.first()) << ", p50 "
                  << output::msText(percentile(sorted, 50)) << ", p99 " << output::msText(percentile(sorted, 99))
                  << ", max " << output::msText(sorted.last()) << '\n';
        m_out.flush();
    }

private:
    void say(const QString &event, const QString &message, QJsonObject fields)
    {
        const QDateTime now = QDateTime::currentDateTime();
        if (m_options.json) {
            fields.insert(QStringLiteral("event"), event);
            fields.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
            fields.insert(QStringLiteral("t_ms"), output::ms(m_clock.nsecsElapsed() / 1e6));
            output::json(fields, true);
        } else {
            m_out << now.toString(QStringLiteral("HH:mm:ss.zzz")) << "  " << message << '\n';
            m_out.flush();
        }
    }

    const Options &m_options;
    const QElapsedTimer &m_clock;
    QTextStream m_out;
};

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    const ssize_t n = ::write(stopPipe[1], &byte, 1);
    (void)n;
}

// The commands in turn on one connection, opened again when it closes, until the count or the time
// is reached or Ctrl+C comes.
class Watch
{
public:
    Watch(const Options &options, const QElapsedTimer &clock, Printer &printer)
        : m_options(options)
        , m_clock(clock)
        , m_printer(printer)
        , m_exchange(options.host, quint16(options.tcp.port))
        , m_lastSendMs(-options.everyMs)
        , m_lastEndMs(-options.paceMs)
    {
        m_next.setSingleShot(true);
        QObject::connect(&m_next, &QTimer::timeout, &m_loop, [this] { onTurn(); });
        QObject::connect(&m_exchange, &Exchange::opened, &m_loop, [this] { onOpened(); });
        QObject::connect(&m_exchange, &Exchange::openFailed, &m_loop,
                         [this](Exchange::Failure failure, const QString &reason) { onOpenFailed(failure, reason); });
        QObject::connect(&m_exchange, &Exchange::finished, &m_loop,
                         [this](Outcome outcome, const QByteArray &reply, double latencyMs) {
                             onFinished(outcome, reply, latencyMs);
                         });
        QObject::connect(&m_exchange, &Exchange::lost, &m_loop, [this] { sayClosed(); });
    }

    Result run()
    {
        // Ctrl+C ends the run with the summary; a second one ends the process as usual.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0) {
            m_result.fatal = QStringLiteral("cannot set up Ctrl+C handling");
            return m_result;
        }
        QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
        QObject::connect(&stopNotifier, &QSocketNotifier::activated, &m_loop, [this] {
            m_result.interrupted = true;
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
            m_loop.quit();
        });
        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);

        m_next.start(0);
        m_loop.exec();
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        m_exchange.close();
        if (!m_result.fatal.isEmpty())
            return m_result;

        Tally &t = m_result.tally;
        // A command cut short by Ctrl+C counts as not sent rather than unanswered.
        if (m_result.interrupted && t.sent > t.answered + t.timeouts + t.closed)
            --t.sent;
        m_result.where = m_exchange.where();
        m_result.strayBytes = m_exchange.strayBytes();
        return m_result;
    }

private:
    QByteArray current() const { return m_options.commands.at(m_turn % m_options.commands.size()); }

    void schedule()
    {
        const qint64 now = m_clock.elapsed();
        const qint64 count = m_options.count, forMs = m_options.forSeconds * 1000;
        if ((count > 0 && m_turn >= count) || (forMs > 0 && now >= forMs)) {
            m_loop.quit();
            return;
        }
        const qint64 due = qMax(m_lastSendMs + m_options.everyMs, m_lastEndMs + m_options.paceMs);
        if (forMs > 0 && due >= forMs) {
            m_loop.quit();
            return;
        }
        m_next.start(int(qMax<qint64>(0, due - now)));
    }

    void ended()
    {
        m_lastEndMs = m_clock.elapsed();
        ++m_turn;
        schedule();
    }

    void send()
    {
        ++m_result.tally.sent;
        m_exchange.ask(current(), int(m_options.tcp.timeoutMs), int(m_options.tcp.quietMs));
    }

    void sayClosed()
    {
        m_printer.notice(
            QStringLiteral("closed"),
            QStringLiteral("connection closed by %1; opening it again for the next command").arg(m_exchange.where()));
    }

    void onTurn()
    {
        m_lastSendMs = m_clock.elapsed(); // --every paces the attempts, also those that find no connection
        if (m_exchange.isOpen())
            send();
        else
            m_exchange.open(int(m_options.tcp.timeoutMs));
    }

    void onOpened()
    {
        if (m_everOpened) {
            ++m_result.tally.reconnects;
            m_printer.notice(QStringLiteral("reconnected"),
                             QStringLiteral("reconnected to %1").arg(m_exchange.where()));
        }
        m_everOpened = true;
        send();
    }

    void onOpenFailed(Exchange::Failure failure, const QString &reason)
    {
        if (!m_everOpened && failure == Exchange::Failure::HostNotFound) {
            m_result.fatal = reason;
            m_loop.quit();
            return;
        }
        ++m_result.tally.notSent;
        m_printer.command(m_turn + 1, current(), Outcome::NotSent, QByteArray(), 0, reason);
        ended();
    }

    void onFinished(Outcome outcome, const QByteArray &reply, double latencyMs)
    {
        Tally &t = m_result.tally;
        switch (outcome) {
        case Outcome::Answered:
            ++t.answered;
            t.latencies.append(latencyMs);
            break;
        case Outcome::Timeout: ++t.timeouts; break;
        default: ++t.closed; break;
        }
        m_printer.command(m_turn + 1, current(), outcome, reply, latencyMs);
        if (!m_exchange.isOpen())
            sayClosed();
        ended();
    }

    const Options &m_options;
    const QElapsedTimer &m_clock;
    Printer &m_printer;
    Exchange m_exchange;
    QEventLoop m_loop;
    QTimer m_next;
    Result m_result;
    int m_turn = 0;
    qint64 m_lastSendMs;
    qint64 m_lastEndMs;
    bool m_everOpened = false;
};

} // namespace

int runWatch(const QStringList &args)
{
    Options options;
    if (const auto done = parse(args, &options))
        return *done;

    QElapsedTimer clock;
    clock.start();
    Printer printer(options, clock);
    const Result result = Watch(options, clock, printer).run();
    if (!result.fatal.isEmpty()) {
        QTextStream(stderr) << "tolvane-probe watch: " << result.fatal << '\n';
        return 1;
    }
    printer.summary(result);
    const Tally &t = result.tally;
    const bool allAnswered = t.sent > 0 && t.answered == t.sent && t.notSent == 0;
    return allAnswered ? 0 : 1;
}
