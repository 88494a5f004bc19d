// tolvane-probe watch: one connection, the commands in turn for as long as asked, one line each and
// a summary at the end, so a room can be watched by hand, from cron or by a monitoring check.
#include "tools/probe/exchange.h"
#include "tools/probe/output.h"
#include "tools/probe/probe.h"

#include "core/cmdline.h"
#include "core/text.h"

#include <QCoreApplication>
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

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    const ssize_t n = ::write(stopPipe[1], &byte, 1);
    (void)n;
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

// Nearest rank: the smallest latency that at least p per cent of the replies do not exceed.
double percentile(const QVector<double> &sorted, double p)
{
    const int rank = int(std::ceil(p / 100.0 * sorted.size()));
    return sorted.at(qBound(0, rank - 1, sorted.size() - 1));
}

} // namespace

int runWatch(const QStringList &args)
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
                     QStringLiteral("time from one command to the next (default 1000)"));
    command.addValue(QStringLiteral("count"), QStringLiteral("n"), QStringLiteral("stop after N commands"));
    command.addValue(QStringLiteral("for"), QStringLiteral("seconds"), QStringLiteral("stop sending after this long"));
    command.addValue(QStringLiteral("pace"), QStringLiteral("ms"),
                     QStringLiteral("least time from a reply (or timeout) to the next command (default 100)"));
    TcpOptions tcp;
    TcpOptions::add(command,
                    QStringLiteral("time for connecting, and for the first bytes of each reply (default 3000)"));
    command.addFlag(QStringLiteral("json"), QStringLiteral("print one JSON object per line (see the manual page)"));
    command.expectArguments(2, 1000000, QStringLiteral("needs HOST and at least one COMMAND"));
    if (const auto done = command.parseOrExit(args))
        return *done;
    const QStringList positional = command.positional();
    const QString host = positional.at(0);
    if (host.isEmpty())
        return command.bad(QStringLiteral("HOST is empty"));
    qint64 everyMs = 1000, count = 0, forSeconds = 0, paceMs = 100;
    if (!tcp.read(command) || !command.number(QStringLiteral("every"), 0, 86400000, &everyMs)
        || !command.number(QStringLiteral("count"), 1, 1000000000, &count)
        || !command.number(QStringLiteral("for"), 1, 31536000, &forSeconds)
        || !command.number(QStringLiteral("pace"), 0, 600000, &paceMs))
        return command.bad(command.error());
    if (count > 0 && forSeconds > 0)
        return command.bad(QStringLiteral("--count and --for exclude each other"));
    QList<QByteArray> commands;
    for (int i = 1; i < positional.size(); ++i)
        commands.append(positional.at(i).toUtf8());
    const bool json = command.isSet(QStringLiteral("json"));

    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    Exchange exchange(host, quint16(tcp.port));
    QEventLoop loop;
    QTimer next;
    next.setSingleShot(true);
    Tally tally;
    int turn = 0;
    qint64 lastSendMs = -everyMs;
    qint64 lastEndMs = -paceMs;
    bool everOpened = false;
    bool interrupted = false;
    int exitCode = -1;

    auto say = [&](const QString &event, const QString &message, QJsonObject fields = {}) {
        const QDateTime now = QDateTime::currentDateTime();
        if (json) {
            fields.insert(QStringLiteral("event"), event);
            fields.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
            fields.insert(QStringLiteral("t_ms"), output::ms(clock.nsecsElapsed() / 1e6));
            output::json(fields, true);
        } else {
            out << now.toString(QStringLiteral("HH:mm:ss.zzz")) << "  " << message << '\n';
            out.flush();
        }
    };
    auto schedule = [&] {
        const qint64 now = clock.elapsed();
        if ((count > 0 && turn >= count) || (forSeconds > 0 && now >= forSeconds * 1000)) {
            loop.quit();
            return;
        }
        const qint64 due = qMax(lastSendMs + everyMs, lastEndMs + paceMs);
        if (forSeconds > 0 && due >= forSeconds * 1000) {
            loop.quit();
            return;
        }
        next.start(int(qMax<qint64>(0, due - now)));
    };
    auto ended = [&] {
        lastEndMs = clock.elapsed();
        ++turn;
        schedule();
    };
    auto send = [&] {
        ++tally.sent;
        exchange.ask(commands.at(turn % commands.size()), int(tcp.timeoutMs), int(tcp.quietMs));
    };

    QObject::connect(&next, &QTimer::timeout, &loop, [&] {
        lastSendMs = clock.elapsed(); // --every paces the attempts, also those that find no connection
        if (exchange.isOpen())
            send();
        else
            exchange.open(int(tcp.timeoutMs));
    });
    QObject::connect(&exchange, &Exchange::opened, &loop, [&] {
        if (everOpened) {
            ++tally.reconnects;
            say(QStringLiteral("reconnected"), QStringLiteral("reconnected to %1").arg(exchange.where()),
                {{QStringLiteral("message"), QStringLiteral("reconnected to %1").arg(exchange.where())}});
        }
        everOpened = true;
        send();
    });
    QObject::connect(&exchange, &Exchange::openFailed, &loop, [&](Exchange::Failure failure, const QString &reason) {
        const QByteArray text = commands.at(turn % commands.size());
        if (!everOpened && failure == Exchange::Failure::HostNotFound) {
            QTextStream(stderr) << "tolvane-probe watch: " << reason << '\n';
            exitCode = 1;
            loop.quit();
            return;
        }
        ++tally.notSent;
        say(QStringLiteral("command"), QStringLiteral("%1  ->  NOT SENT (%2)").arg(text::escapeBytes(text), reason),
            {{QStringLiteral("seq"), turn + 1},
             {QStringLiteral("command"), output::bytes(text)},
             {QStringLiteral("outcome"), QStringLiteral("not sent")},
             {QStringLiteral("reply"), QJsonValue()},
             {QStringLiteral("latency_ms"), QJsonValue()},
             {QStringLiteral("error"), reason}});
        ended();
    });
    QObject::connect(
        &exchange, &Exchange::finished, &loop,
        [&](Exchange::Outcome outcome, const QByteArray &reply, double latencyMs) {
            const QByteArray text = commands.at(turn % commands.size());
            QJsonObject fields{{QStringLiteral("seq"), turn + 1},
                               {QStringLiteral("command"), output::bytes(text)},
                               {QStringLiteral("reply"), QJsonValue()},
                               {QStringLiteral("latency_ms"), QJsonValue()}};
            QString shown;
            switch (outcome) {
            case Exchange::Outcome::Answered:
                ++tally.answered;
                tally.latencies.append(latencyMs);
                fields.insert(QStringLiteral("outcome"), QStringLiteral("answered"));
                fields.insert(QStringLiteral("reply"), output::bytes(reply));
                fields.insert(QStringLiteral("latency_ms"), output::ms(latencyMs));
                shown = QStringLiteral("%1  %2").arg(text::escapeBytes(reply), output::msText(latencyMs));
                break;
            case Exchange::Outcome::Timeout:
                ++tally.timeouts;
                fields.insert(QStringLiteral("outcome"), QStringLiteral("timeout"));
                shown = QStringLiteral("TIMEOUT (no reply within %1 ms)").arg(tcp.timeoutMs);
                break;
            case Exchange::Outcome::Closed:
                ++tally.closed;
                fields.insert(QStringLiteral("outcome"), QStringLiteral("closed"));
                shown = QStringLiteral("CLOSED (connection closed without a reply)");
                break;
            }
            say(QStringLiteral("command"), QStringLiteral("%1  ->  %2").arg(text::escapeBytes(text), shown), fields);
            if (!exchange.isOpen()) {
                const QString message = QStringLiteral("connection closed by %1; opening it again for the next command")
                                            .arg(exchange.where());
                say(QStringLiteral("closed"), message, {{QStringLiteral("message"), message}});
            }
            ended();
        });
    QObject::connect(&exchange, &Exchange::lost, &loop, [&] {
        const QString message =
            QStringLiteral("connection closed by %1; opening it again for the next command").arg(exchange.where());
        say(QStringLiteral("closed"), message, {{QStringLiteral("message"), message}});
    });

    // Ctrl+C ends the run with the summary; a second one ends the process as usual.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0) {
        QTextStream(stderr) << "tolvane-probe watch: cannot set up Ctrl+C handling\n";
        return 1;
    }
    QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &loop, [&] {
        interrupted = true;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        loop.quit();
    });
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    next.start(0);
    loop.exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    exchange.close();
    if (exitCode >= 0)
        return exitCode;

    // A command cut short by Ctrl+C counts as not sent rather than unanswered.
    if (interrupted && tally.sent > tally.answered + tally.timeouts + tally.closed)
        --tally.sent;
    QVector<double> sorted = tally.latencies;
    std::sort(sorted.begin(), sorted.end());
    if (json) {
        QJsonObject summary{{QStringLiteral("host"), host},
                            {QStringLiteral("port"), int(tcp.port)},
                            {QStringLiteral("sent"), tally.sent},
                            {QStringLiteral("answered"), tally.answered},
                            {QStringLiteral("timeouts"), tally.timeouts},
                            {QStringLiteral("closed"), tally.closed},
                            {QStringLiteral("not_sent"), tally.notSent},
                            {QStringLiteral("reconnects"), tally.reconnects},
                            {QStringLiteral("stray_bytes"), exchange.strayBytes()},
                            {QStringLiteral("interrupted"), interrupted}};
        if (!sorted.isEmpty())
            summary.insert(QStringLiteral("latency_ms"),
                           QJsonObject{{QStringLiteral("min"), output::ms(sorted.first())},
                                       {QStringLiteral("p50"), output::ms(percentile(sorted, 50))},
                                       {QStringLiteral("p99"), output::ms(percentile(sorted, 99))},
                                       {QStringLiteral("max"), output::ms(sorted.last())}});
        else
            summary.insert(QStringLiteral("latency_ms"), QJsonValue());
        say(QStringLiteral("summary"), QString(), summary);
    } else {
        out << QStringLiteral("%1: %2 sent, %3 answered, %4 timeouts, %5 closed, %6 not sent, %7 reconnects")
                   .arg(exchange.where())
                   .arg(tally.sent)
                   .arg(tally.answered)
                   .arg(tally.timeouts)
                   .arg(tally.closed)
                   .arg(tally.notSent)
                   .arg(tally.reconnects)
            << '\n';
        if (sorted.isEmpty())
            out << "latency: no replies\n";
        else
            out << "latency: min " << output::msText(sorted.first()) << ", p50 "
                << output::msText(percentile(sorted, 50)) << ", p99 " << output::msText(percentile(sorted, 99))
                << ", max " << output::msText(sorted.last()) << '\n';
    }
    out.flush();
    const bool allAnswered = tally.sent > 0 && tally.answered == tally.sent && tally.notSent == 0;
    return allAnswered ? 0 : 1;
}
